#pragma once

#include "outside/report/Report.h"

#include <QDialog>

class QLabel;
class QPrintPreviewWidget;
class QPrinter;
class QPushButton;

namespace orv {

// The report window: a print preview of one report (crvReport), with zoom, paging, printing to
// a chosen printer and saving as PDF. Shown modal; deleted when closed.
class frmReport : public QDialog
{
    Q_OBJECT
public:
    explicit frmReport(Report report, QWidget *parent = nullptr);
    ~frmReport() override;

    QPrintPreviewWidget *crvReport = nullptr;
    QPushButton *cmdZoomIn = nullptr, *cmdZoomOut = nullptr, *cmdFitWidth = nullptr, *cmdFirst = nullptr,
                *cmdPrevious = nullptr, *cmdNext = nullptr, *cmdLast = nullptr, *cmdPrint = nullptr,
                *cmdSavePdf = nullptr, *cmdClose = nullptr;
    QLabel *lblPage = nullptr;

    // Logs the report on (ResultReport::logOn) and shows it over `parent` in a report window
    // titled "Result: " and the title, application modal. Throws orv::Error when the logon is
    // refused.
    static void showResult(Report report, const QString &title, QWidget *parent);
    // The open transaction's result report, filled and shown as showResult does; a missing report
    // file or a refused logon is shown and nothing opens.
    static void printResult(const QString &title, QWidget *parent);
    // "Save / Print" once the interpretation is saved: one filled report is stored in the archive
    // (ResultReport::archive) and shown titled with the patient's name; a report file that cannot
    // be read is shown once.
    static void printAndArchiveResult(QWidget *parent);

    const Report &report() const { return m_report; }
    // Saves the report as a PDF (asks for the file when `path` is empty); false when not saved.
    bool savePdf(QString path = QString());

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void paint(QPrinter *printer);
    void showPage();

    Report m_report;
    QPrinter *m_printer;
};

} // namespace orv
