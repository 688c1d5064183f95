// "Print" from the viewer: six images to a page under the header, at the places the layout gives
// in twips, each drawn from its own pixels at the printer's resolution. Checked on PDF pages
// rendered back with pdftoppm.

#include "Pictures.h"

#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "viewer/PaperPrint.h"
#include "viewer/frmImageViewer.h"

#include <QImageReader>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>

using namespace orv;
using namespace orv::dicom;
using namespace orv::test;

class tst_PaperPrint : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    // A white image with a black left half: a hard vertical edge in its middle.
    Image edgeImage(int width, int height)
    {
        QImage pic(width, height, QImage::Format_Grayscale8);
        pic.fill(255);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width / 2; ++x)
                pic.setPixel(x, y, qRgb(0, 0, 0));
        const QString path = m_dir.filePath(QStringLiteral("edge%1x%2.png").arg(width).arg(height));
        pic.save(path);
        Image image;
        image.importPicture(path);
        return image;
    }

    QImage renderPage(const QString &pdf, int page, int dpi)
    {
        const QString prefix = m_dir.filePath(QStringLiteral("page"));
        if (runTool("pdftoppm", {"-r", QString::number(dpi), "-f", QString::number(page), "-l", QString::number(page),
                                 "-singlefile", "-png", pdf, prefix}).exitCode != 0)
            return QImage();
        QImageReader reader(prefix + QStringLiteral(".png"));
        reader.setAllocationLimit(1024);
        return reader.read();
    }

private slots:
    void sevenImagesFillTwoPagesInTheirPlacesWithSharpEdges()
    {
        ScriptedPrompter *prompter = ScriptedPrompter::install();
        using T = OpenTransaction;
        for (const auto &[f, v] : QList<std::pair<T::Field, QString>>{{T::HospNum, "H-77"}, {T::PatientID, "REG-77"}, {T::LName, "O'BRIEN"}, {T::FName, "MÜLLER"},
                                                                      {T::MName, "ANN"}, {T::BDate, "03/03/1969"}, {T::ExamType, "CT"},
                                                                      {T::TransNo, "4711"}, {T::TransDate, "12/05/2026"}})
            session().transaction().setValue(f, v);
        frmImageViewer *w = frmImageViewer::instance();
        w->Images().clear();
        QList<Image> images;
        for (int i = 0; i < 7; ++i)
            images << edgeImage(64, 48);
        w->Images().add(images);
        QVERIFY(w->cmdPrint->isEnabled());

        const QString pdf = m_dir.filePath(QStringLiteral("paper.pdf"));
        const PaperTarget target{pdf, 600, QPageSize(QPageSize::Letter)};
        w->printImages(target);
        QVERIFY(!w->cmdPrint->isEnabled() && !w->cmdPrintAll->isEnabled()); // runs in the background, one job at a time
        QVERIFY(session().jobs().waitForIdle(60000));
        QTRY_VERIFY(w->cmdPrint->isEnabled());
        QVERIFY2(prompter->shown.isEmpty(), qPrintable(prompter->lastMessage()));

        const QStringList pages = runTool("pdftotext", {"-layout", pdf, "-"}).out.split('\f');
        QCOMPARE(pages.size(), 3); // two pages, each ended by a form feed
        const int age = QDate::currentDate().year() - 1969;
        for (const QString &page : pages.mid(0, 2)) { // a fresh header on each page
            for (const QString &expected : {QStringLiteral("Patient ID: H-77 (REG-77)"), QStringLiteral("Age : 03/03/1969 (%1)").arg(age),
                                            QStringLiteral("Patient Name: O'BRIEN, MÜLLER ANN"), QStringLiteral("Type of Exam: CT"),
                                            QStringLiteral("Trans. No.: 4711"), QStringLiteral("Trans. Date: 12/05/2026")})
                QVERIFY2(page.simplified().contains(expected), qPrintable(expected + QStringLiteral(" not in\n") + page));
        }

        // Where each image must be, in twips from the printable area's corner: width 12240 - 7000.
        const int dpi = 600;
        const QRect printable = makePrinter(target)->pageLayout().paintRectPixels(dpi);
        const auto px = [&](double twips) { return twips * dpi / 1440.0; };
        const double w_ = 12240 - 7000, h_ = std::round(w_ * 48 / 64);
        QImage page1 = renderPage(pdf, 1, dpi);
        QVERIFY(!page1.isNull());
        for (int i = 1; i <= 6; ++i) {
            const double x = (i % 2 ? 100 : 5700) + 350;
            const double y = 1500 + ((i - 1) / 2) * (h_ + 500);
            const QPointF dark(printable.left() + px(x + w_ / 4), printable.top() + px(y + h_ / 2));
            const QPointF light(printable.left() + px(x + 3 * w_ / 4), printable.top() + px(y + h_ / 2));
            QVERIFY2(qGray(page1.pixel(dark.toPoint())) < 40 && qGray(page1.pixel(light.toPoint())) > 215,
                     qPrintable(QStringLiteral("image %1").arg(i)));
            // Below the image (in the gap to the next row) the paper is white.
            QVERIFY(qGray(page1.pixel(QPointF(dark.x(), printable.top() + px(y + h_ + 250)).toPoint())) > 215);
        }
        // The edge in the middle of an image goes from black to white within two printer dots.
        const int row = int(printable.top() + px(1500 + h_ / 2));
        const double edgeX = printable.left() + px(450 + w_ / 2);
        int dark = 0, light = 0;
        for (int x = int(edgeX) - 40; x < int(edgeX) + 40; ++x) {
            const int g = qGray(page1.pixel(x, row));
            dark += g < 40;
            light += g > 215;
        }
        QVERIFY2(dark + light >= 78, qPrintable(QStringLiteral("%1 dark, %2 light of 80").arg(dark).arg(light)));

        // Page 2: image 7 alone, at the first place.
        QImage page2 = renderPage(pdf, 2, dpi);
        QVERIFY(qGray(page2.pixel(QPointF(printable.left() + px(450 + w_ / 4), printable.top() + px(1500 + h_ / 2)).toPoint())) < 40);
        QVERIFY(qGray(page2.pixel(QPointF(printable.left() + px(6050 + w_ / 4), printable.top() + px(1500 + h_ / 2)).toPoint())) > 215);
        w->close();
    }

    // An image that cannot be decoded keeps its numbered place as an empty frame and is named;
    // a PDF that cannot be written is refused with the reason; the viewer prints on afterwards.
    void badImagesAndTargetsAreReportedAndTheOthersPrinted()
    {
        ScriptedPrompter *prompter = ScriptedPrompter::install();
        frmImageViewer *w = frmImageViewer::instance();
        w->Images().clear();
        const QString damaged = m_dir.filePath(QStringLiteral("damaged.dcm"));
        QVERIFY(writeUndecodableImage(damaged));
        w->Images().add({edgeImage(64, 64), Image::fromFile(damaged), edgeImage(64, 64)});
        const QString pdf = m_dir.filePath(QStringLiteral("bad.pdf"));
        const PaperTarget target{pdf, 150, QPageSize(QPageSize::Letter)};
        w->printImages(target);
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(prompter->shown.size(), 1);
        QVERIFY2(prompter->lastMessage().startsWith(QStringLiteral("These images could not be printed:\nImage 2: ")),
                 qPrintable(prompter->lastMessage()));
        const QRect printable = makePrinter(target)->pageLayout().paintRectPixels(150);
        const auto at = [&](double x, double y) { return QPoint(printable.left() + int(x * 150 / 1440), printable.top() + int(y * 150 / 1440)); };
        const double side = 12240 - 7000;
        const QImage page = renderPage(pdf, 1, 150);
        QVERIFY(qGray(page.pixel(at(450 + side / 4, 1500 + side / 2))) < 40);              // image 1
        QVERIFY(qGray(page.pixel(at(6050 + side / 4, 1500 + side / 2))) > 215);             // image 2: an empty frame
        QVERIFY(qGray(page.pixel(at(450 + side / 4, 1500 + side + 500 + side / 2))) < 40);  // image 3 below image 1

        w->printImages({m_dir.filePath(QStringLiteral("no/such/folder/x.pdf")), 150, QPageSize(QPageSize::Letter)});
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(prompter->shown.size(), 2);
        QVERIFY2(prompter->lastMessage().startsWith(QStringLiteral("Cannot start printing")), qPrintable(prompter->lastMessage()));
        QTRY_VERIFY(w->cmdPrint->isEnabled());
        w->close();
    }
};

ORV_TEST_MAIN(tst_PaperPrint)
#include "tst_paperprint.moc"
