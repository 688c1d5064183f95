#include "PaperPrint.h"

#include "session/OpenTransaction.h"
#include "outside/Error.h"
#include "outside/dicom/Picture.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace orv {

namespace {

QImage toQImage(const dicom::Picture &pic)
{
    const QImage::Format format = pic.samples == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8;
    QImage view(pic.pixels.data(), pic.width, pic.height, pic.width * pic.samples, format);
    return view.copy();
}

} // namespace

QString ageText(const QString &birthDate, const QDate &today)
{
    const QDate birth = parseShownDate(birthDate);
    if (!birth.isValid())
        return birthDate;
    return birth.toString(QStringLiteral("MM/dd/yyyy")) + QStringLiteral(" (") + QString::number(today.year() - birth.year())
        + QLatin1Char(')');
}

bool hasDefaultPrinter() { return !QPrinterInfo::defaultPrinter().isNull(); }

std::unique_ptr<QPrinter> makePrinter(const PaperTarget &target)
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!target.pdfFile.isEmpty()) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(target.pdfFile);
    }
    if (target.resolution > 0)
        printer->setResolution(target.resolution);
    if (target.pageSize.isValid())
        printer->setPageSize(target.pageSize);
    return printer;
}

int printOnPaper(QPrinter &printer, const QList<dicom::Image> &images, const PaperHeader &header, QStringList *failures,
                 const PaperStep &step)
{
    if (images.isEmpty())
        return 0;
    QPainter painter;
    if (!painter.begin(&printer)) {
        const QString where = printer.printerName().isEmpty() ? printer.outputFileName() : printer.printerName();
        throw Error(where.isEmpty() ? QStringLiteral("Cannot start printing: no printer is set up on this workstation.")
                                    : QStringLiteral("Cannot start printing on %1.").arg(where));
    }
    const double dpi = printer.resolution();
    const auto dev = [dpi](double twips) { return int(std::lround(twips * dpi / 1440.0)); };
    const double pageWidthTwips = printer.pageLayout().fullRectPoints().width() * 20.0;
    const int w = int(std::lround(pageWidthTwips - 7000));

    QFont font(QStringLiteral("Courier"), 10);
    font.setStyleHint(QFont::TypeWriter);
    painter.setFont(font);
    const int ascent = painter.fontMetrics().ascent();
    const auto text = [&](int x, int y, const QString &s) { painter.drawText(dev(x), dev(y) + ascent, s); };

    const QString name = header.lastName + QStringLiteral(", ") + header.firstName + QLatin1Char(' ') + header.middleName;
    int pages = 0;
    // A row is as tall as its taller image: a portrait image beside a landscape one never
    // reaches into the next row.
    int rowY = 0, rowH = 0;
    for (int i = 1; i <= images.size(); ++i) {
        if (i % 6 == 1) {
            ++pages;
            text(250, 400, QStringLiteral("Patient ID: "));
            text(2000, 400, header.patientId);
            text(6250, 400, QStringLiteral("Age : "));
            text(8000, 400, ageText(header.birthDate, header.today));
            text(250, 700, QStringLiteral("Patient Name: "));
            text(2000, 700, name);
            text(6250, 700, QStringLiteral("Type of Exam: "));
            text(8000, 700, header.examType);
            text(250, 1000, QStringLiteral("Trans. No.: "));
            text(2000, 1000, header.transNo);
            text(6250, 1000, QStringLiteral("Trans. Date: "));
            text(8000, 1000, header.transDate);
        }
        const dicom::Image &image = images[i - 1];
        const int x = i % 2 ? 100 : 5700;
        if (i % 2) {
            rowY = i % 6 == 1 ? 1500 : rowY + rowH + 500;
            rowH = 0;
        }
        const int h = image.width() > 0 ? int(std::lround(double(w) * image.height() / image.width())) : w;
        rowH = std::max(rowH, h);
        text(x, rowY, QString::number(i));
        const QRect target(dev(x + 350), dev(rowY), dev(w), dev(h));
        try {
            image.requireDecodable();
            QImage pixels = toQImage(image.render(0));
            // The image's own pixels brought to the printer's dots: enlarged pixel for pixel (its
            // edges stay edges), reduced smoothly.
            const bool enlarge = target.width() >= pixels.width();
            pixels = pixels.scaled(target.size(), Qt::IgnoreAspectRatio, enlarge ? Qt::FastTransformation : Qt::SmoothTransformation);
            painter.drawImage(target.topLeft(), pixels);
        } catch (const std::exception &e) {
            painter.drawRect(target);
            if (failures)
                failures->append(QStringLiteral("Image %1: %2").arg(i).arg(describe(e)));
        }
        if (step && !step(i)) {
            printer.abort();
            painter.end();
            return 0;
        }
        if (i % 6 == 0 && i < images.size())
            printer.newPage();
    }
    painter.end();
    return pages;
}

} // namespace orv
