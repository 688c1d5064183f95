#include "transactions/frmReport.h"

#include "ResultReport.h"

#include "core/CoreRoutines.h"
#include "core/WindowHelpers.h"
#include "outside/Error.h"
#include "outside/Prompter.h"
#include "session/OpenTransaction.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>

namespace orv {

void frmReport::showResult(Report report, const QString &title, QWidget *parent)
{
    ResultReport::logOn(report);
    auto *w = new frmReport(std::move(report), parent);
    w->setWindowTitle(QStringLiteral("Result: ") + title);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
}

void frmReport::printResult(const QString &title, QWidget *parent)
{
    try {
        showResult(ResultReport::fill(openTransaction()), title, parent);
    } catch (const Error &e) {
        msgBox(parent, e.description(), Prompter::Icon::Critical);
    }
}

void frmReport::printAndArchiveResult(QWidget *parent)
{
    try {
        Report report = ResultReport::fill(openTransaction());
        ResultReport::archive(parent, report);
        showResult(std::move(report), openTransaction().record().shownPatientName(), parent);
    } catch (const Error &e) {
        msgBox(parent, e.description(), Prompter::Icon::Critical);
    }
}

frmReport::frmReport(Report report, QWidget *parent)
    : QDialog(parent), m_report(std::move(report)), m_printer(new QPrinter(QPrinter::HighResolution))
{
    setObjectName(QStringLiteral("frmReport"));
    setWindowTitle(QStringLiteral("Report Window"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    m_printer->setPageSize(QPageSize(QPageSize::A4));
    m_printer->setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    m_printer->setDocName(m_report.title());

    crvReport = new QPrintPreviewWidget(m_printer, this);
    crvReport->setObjectName(QStringLiteral("crvReport"));
    connect(crvReport, &QPrintPreviewWidget::paintRequested, this, &frmReport::paint);
    connect(crvReport, &QPrintPreviewWidget::previewChanged, this, &frmReport::showPage);

    cmdZoomIn = namedControl(this, "cmdZoomIn", QStringLiteral("Zoom &In"));
    cmdZoomOut = namedControl(this, "cmdZoomOut", QStringLiteral("Zoom &Out"));
    cmdFitWidth = namedControl(this, "cmdFitWidth", QStringLiteral("Fit &Width"));
    cmdFirst = namedControl(this, "cmdFirst", QStringLiteral("|<"));
    cmdPrevious = namedControl(this, "cmdPrevious", QStringLiteral("<"));
    cmdNext = namedControl(this, "cmdNext", QStringLiteral(">"));
    cmdLast = namedControl(this, "cmdLast", QStringLiteral(">|"));
    cmdPrint = namedControl(this, "cmdPrint", QStringLiteral("&Print..."));
    cmdSavePdf = namedControl(this, "cmdSavePdf", QStringLiteral("Save as P&DF..."));
    cmdClose = namedControl(this, "cmdClose", QStringLiteral("&Close"));
    lblPage = namedControl<QLabel>(this, "lblPage");
    for (QPushButton *b : {cmdFirst, cmdPrevious, cmdNext, cmdLast})
        b->setFixedWidth(32);

    auto *bar = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{cmdZoomIn, cmdZoomOut, cmdFitWidth, cmdFirst, cmdPrevious, lblPage,
                                                       cmdNext, cmdLast})
        bar->addWidget(w);
    bar->addStretch(1);
    bar->addWidget(cmdPrint);
    bar->addWidget(cmdSavePdf);
    bar->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(crvReport, 1); // the viewer fills the window

    connect(cmdZoomIn, &QPushButton::clicked, crvReport, [this] { crvReport->zoomIn(1.25); });
    connect(cmdZoomOut, &QPushButton::clicked, crvReport, [this] { crvReport->zoomOut(1.25); });
    connect(cmdFitWidth, &QPushButton::clicked, crvReport, &QPrintPreviewWidget::fitToWidth);
    connect(cmdFirst, &QPushButton::clicked, this, [this] { crvReport->setCurrentPage(1); showPage(); });
    connect(cmdPrevious, &QPushButton::clicked, this, [this] {
        crvReport->setCurrentPage(std::max(1, crvReport->currentPage() - 1));
        showPage();
    });
    connect(cmdNext, &QPushButton::clicked, this, [this] {
        crvReport->setCurrentPage(std::min(crvReport->pageCount(), crvReport->currentPage() + 1));
        showPage();
    });
    connect(cmdLast, &QPushButton::clicked, this, [this] { crvReport->setCurrentPage(crvReport->pageCount()); showPage(); });
    connect(cmdPrint, &QPushButton::clicked, this, [this] {
        QPrinter printer(QPrinter::HighResolution);
        printer.setDocName(m_report.title());
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() == QDialog::Accepted)
            guarded(this, [&] { m_report.print(printer); });
    });
    connect(cmdSavePdf, &QPushButton::clicked, this, [this] { savePdf(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);

    resize(900, 1000);
    RestoreWindow(this);
    crvReport->fitToWidth();
}

frmReport::~frmReport()
{
    delete m_printer;
}

void frmReport::paint(QPrinter *printer)
{
    guarded(this, [&] { m_report.print(*printer); });
}

void frmReport::showPage()
{
    lblPage->setText(QStringLiteral("Page %1 of %2").arg(crvReport->currentPage()).arg(crvReport->pageCount()));
}

bool frmReport::savePdf(QString path)
{
    if (path.isEmpty())
        path = Prompter::instance().saveFile(this, QStringLiteral("Save as PDF"), QString(), QStringLiteral("PDF files (*.pdf)"));
    if (path.isEmpty())
        return false;
    bool ok = false;
    guarded(this, [&] {
        m_report.writePdf(path);
        ok = true;
    });
    return ok;
}

void frmReport::closeEvent(QCloseEvent *event)
{
    const QString caption = windowTitle();
    setWindowTitle(QStringLiteral("Report Window")); // the placement is kept under the window's own name
    SaveWindow(this);
    setWindowTitle(caption);
    QDialog::closeEvent(event);
}

} // namespace orv
