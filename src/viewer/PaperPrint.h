#pragma once

#include "outside/dicom/Image.h"

#include <QDate>
#include <QList>
#include <QPageSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QPrinter;

namespace orv {

// The header of every printed page: the open transaction's patient and exam.
struct PaperHeader
{
    QString patientId;
    QString birthDate;  // as the editor shows it (MM/dd/yyyy) or a worklist gives it (yyyyMMdd, yyyy-MM-dd)
    QString lastName, firstName, middleName;
    QString examType;
    QString transNo;
    QString transDate;  // MM/dd/yyyy
    QDate today = QDate::currentDate();
};

// Where a paper print goes.
struct PaperTarget
{
    QString pdfFile;      // a PDF written here; empty: the system's default printer
    int resolution = 0;   // dots per inch; 0: the printer's own high resolution
    QPageSize pageSize;   // invalid: the printer's own
};

// True when the system names a default printer (what a target without a PDF file prints on).
bool hasDefaultPrinter();

// A printer for the target, made on the thread that paints on it.
std::unique_ptr<QPrinter> makePrinter(const PaperTarget &target);

// Called after each image is placed with the number of images placed; returning false stops
// the print (the document is then abandoned).
using PaperStep = std::function<bool(int placed)>;

// Prints the images six to a page (three rows of two) under the header, positions in twips from
// the printable area's corner: the number at (x, y), the image at (x + 350, y), width the page
// width less 7000 twips; a row starts 500 twips below the taller image of the row above. Each image is drawn from its own pixels at the printer's resolution.
// An image that cannot be decoded keeps its place and number, and its reason is added to
// `failures`. Returns the number of pages (0 when stopped). Throws orv::Error when the printer
// cannot be started. Safe on a worker thread when the images are not read by another thread.
int printOnPaper(QPrinter &printer, const QList<dicom::Image> &images, const PaperHeader &header, QStringList *failures = nullptr,
                 const PaperStep &step = {});

// "03/03/1969 (57)": the birth date (any form parseShownDate() reads) as MM/dd/yyyy and the age
// in calendar years on `today`; a text that is no date is printed as it is.
QString ageText(const QString &birthDate, const QDate &today);

} // namespace orv
