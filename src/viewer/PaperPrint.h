#pragma once

#include "outside/dicom/Image.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

class QPrinter;

namespace orv {

// The header of every printed page: the open transaction's patient and exam.
struct PaperHeader
{
    QString patientId;
    QString birthDate;  // MM/dd/yyyy as the editor shows it
    QString lastName, firstName, middleName;
    QString examType;
    QString transNo;
    QString transDate;  // MM/dd/yyyy
    QDate today = QDate::currentDate();
};

// Prints the images six to a page (three rows of two) under the header, positions in twips from
// the printable area's corner: the number at (x, y), the image at (x + 350, y), width the page
// width less 7000 twips. Each image is drawn from its own pixels at the printer's resolution.
// An image that cannot be decoded keeps its place and number, and its reason is added to
// `failures`. Returns the number of pages.
int printOnPaper(QPrinter &printer, const QList<dicom::Image> &images, const PaperHeader &header, QStringList *failures = nullptr);

// "03/03/1969 (57)": the birth date and the age in calendar years on `today`.
QString ageText(const QString &birthDate, const QDate &today);

} // namespace orv
