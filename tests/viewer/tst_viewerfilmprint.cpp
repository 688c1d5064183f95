// "Dicom Print" from the viewer: every image of the viewer on film at dcmprscp, in order, in the
// display format, orientation, film size and magnification the DICOM settings hold at the moment
// of printing, as a background job; "No" prints nothing; a printer that is down is reported.

#include "Peers.h"
#include "Pictures.h"

#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Toolkit.h"
#include "viewer/frmImageViewer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace orv;
using namespace orv::dicom;
using namespace orv::test;

class tst_ViewerFilmPrint : public QObject
{
    Q_OBJECT
private:
    frmImageViewer *m_w = nullptr;
    ScriptedPrompter *m_prompter = nullptr;
    QTemporaryDir m_dir;
    QStringList m_wrongBoxes; // film boxes whose attributes differ from the settings

    // Images told apart on film by their width (40 + index); odd ones grey, even ones colour
    // unless `grey`. `damaged`: the index of an image that cannot be decoded (-1: none).
    void fill(int count, bool grey, int damaged = -1)
    {
        QList<Image> list;
        for (int i = 0; i < count; ++i) {
            const QString pic = m_dir.filePath(QStringLiteral("v%1.bmp").arg(i));
            if (i == damaged) {
                QVERIFY(writeUndecodableImage(pic));
                list << Image::fromFile(pic);
                continue;
            }
            (grey || i % 2 ? greyPicture(40 + i, 30, i) : colourPicture(40 + i, 30, i)).save(pic, "BMP");
            list << Image();
            list.last().importPicture(pic);
        }
        m_w->Images().clear();
        m_w->Images().add(list);
    }

    void setPrinter(quint16 port, const QString &format, const QString &orientation)
    {
        DicomNodes &n = dicomNodes();
        n.setValue(DicomNodes::PrintNode, QStringLiteral("127.0.0.1"));
        n.setValue(DicomNodes::PrintPort, QString::number(port));
        n.setValue(DicomNodes::PrintAE, QStringLiteral("IHEFULL"));
        n.setValue(DicomNodes::PrintFormat, format);
        n.setValue(DicomNodes::PrintOrientation, orientation);
        n.setValue(DicomNodes::FilmSize, QStringLiteral("14INx17IN"));
        n.setValue(DicomNodes::Magnification, QStringLiteral("CUBIC"));
    }

    // The films dcmprscp stored, each as the image indexes in box order, sorted by first image;
    // every film's box attributes are checked against the settings.
    QList<QList<int>> films(const PeerProcess &peer, const QString &format, const QString &orientation)
    {
        const QDir db(peer.folder() + QStringLiteral("/database"));
        QMap<QString, int> indexOfImage;
        for (const QString &name : db.entryList({QStringLiteral("HG_*")})) {
            const Image hg = Image::fromFile(db.filePath(name));
            indexOfImage.insert(hg.instanceUid(), hg.width() - 40);
        }
        QList<QList<int>> out;
        for (const QString &name : db.entryList({QStringLiteral("SP_*")})) {
            const Image sp = Image::fromFile(db.filePath(name));
            const DataSet box = sp.attribute(0x2130, 0x0030).items.value(0);
            const QStringList attrs{box.text(0x2010, 0x0010), box.text(0x2010, 0x0040), box.text(0x2010, 0x0050), box.text(0x2010, 0x0060)};
            if (attrs != QStringList({format, orientation, QStringLiteral("14INX17IN"), QStringLiteral("CUBIC")}))
                m_wrongBoxes << attrs.join(QLatin1Char('|'));
            QMap<int, int> byPosition;
            for (const DataSet &imageBox : sp.attribute(0x2130, 0x0040).items)
                byPosition.insert(imageBox.text(0x2020, 0x0010).toInt(),
                                  indexOfImage.value(imageBox.attribute(0x0008, 0x1140).items.value(0).text(0x0008, 0x1155), -1));
            out << byPosition.values();
        }
        std::sort(out.begin(), out.end());
        return out;
    }

private slots:
    void init()
    {
        resetSettings();
        resetDicomNodes();
        m_prompter = ScriptedPrompter::install();
        m_w = frmImageViewer::instance();
        m_w->show();
        setNetworkTimeout(5);
    }
    void cleanup()
    {
        QVERIFY(session().jobs().waitForIdle(60000));
        m_w->close();
        QTRY_VERIFY(!frmImageViewer::existing());
    }

    void imagesReachTheFilmInOrder_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("orientation");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("grey");
        QTest::addRow("1,1 x3") << QStringLiteral("STANDARD\\1,1") << QStringLiteral("PORTRAIT") << 1 << 3 << true;
        QTest::addRow("2,3 x6") << QStringLiteral("STANDARD\\2,3") << QStringLiteral("LANDSCAPE") << 6 << 6 << false;
        QTest::addRow("2,3 x7") << QStringLiteral("STANDARD\\2,3") << QStringLiteral("LANDSCAPE") << 6 << 7 << true;
    }
    void imagesReachTheFilmInOrder()
    {
        QFETCH(QString, format);
        QFETCH(QString, orientation);
        QFETCH(int, boxes);
        QFETCH(int, count);
        QFETCH(bool, grey);
        auto peer = PeerProcess::dcmprscp();
        QVERIFY2(peer->isRunning(), qPrintable(peer->log()));
        fill(count, grey);
        setPrinter(peer->port(), format, orientation);
        m_w->cmdPrintAll->click();
        QVERIFY(!m_w->cmdPrintAll->isEnabled()); // one print at a time
        QVERIFY(session().jobs().waitForIdle(60000));
        QTRY_VERIFY(m_w->cmdPrintAll->isEnabled());
        QVERIFY2(m_prompter->shown.size() == 1, qPrintable(m_prompter->lastMessage()));

        m_wrongBoxes.clear();
        const QList<QList<int>> got = films(*peer, format, orientation);
        QVERIFY2(m_wrongBoxes.isEmpty(), qPrintable(m_wrongBoxes.join(QLatin1Char('\n'))));
        QCOMPARE(got.size(), (count + boxes - 1) / boxes);
        int next = 0;
        for (const QList<int> &film : got) {
            QCOMPARE(film.size(), qMin(boxes, count - next));
            for (int index : film)
                QCOMPARE(index, next++);
        }
    }

    void anUndecodableImageIsNamedAndTheOthersReachTheFilm()
    {
        auto peer = PeerProcess::dcmprscp();
        QVERIFY(peer->isRunning());
        fill(3, true, 1);
        setPrinter(peer->port(), QStringLiteral("STANDARD\\2,3"), QStringLiteral("PORTRAIT"));
        m_w->cmdPrintAll->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(m_prompter->shown.size(), 2);
        QVERIFY2(m_prompter->lastMessage().startsWith(QStringLiteral("These images could not be printed:\nImage 2: ")),
                 qPrintable(m_prompter->lastMessage()));
        QCOMPARE(films(*peer, QStringLiteral("STANDARD\\2,3"), QStringLiteral("PORTRAIT")), QList<QList<int>>({{0, 2}}));
        QTRY_VERIFY(m_w->cmdPrintAll->isEnabled());
    }

    void aPrinterThatIsDownIsReportedWithinTheTimeout()
    {
        fill(3, true);
        setPrinter(freeLoopbackPort(), QStringLiteral("STANDARD\\1,1"), QStringLiteral("PORTRAIT"));
        QElapsedTimer t;
        t.start();
        m_w->cmdPrintAll->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_prompter->shown.size(), 2, 15000);
        QVERIFY(t.elapsed() < 10000);
        QVERIFY2(m_prompter->lastMessage().startsWith(QStringLiteral("Dicom Print failed: ")), qPrintable(m_prompter->lastMessage()));
        QTRY_VERIFY(m_w->cmdPrintAll->isEnabled());
    }
};

ORV_TEST_MAIN(tst_ViewerFilmPrint)
#include "tst_viewerfilmprint.moc"
