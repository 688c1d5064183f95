#include "ctlImageList.h"

#include "ImageListActions.h"
#include "neroFiddlesCOMForm.h"

#include "core/CoreRoutines.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "outside/Error.h"
#include "viewer/ViewerTransfer.h"
#include "viewer/frmImageViewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QPointer>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace orv {

namespace {

// The folder the import offers first: the Windows name where the program was made, a folder of
// the same name in the user's home elsewhere.
QString defaultImportFolder()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\tempImages");
#else
    return QDir::home().filePath(QStringLiteral("tempImages"));
#endif
}

void showViewer()
{
    frmImageViewer *viewer = frmImageViewer::instance();
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

std::function<void(const QString &)> &clipPlayer()
{
    static std::function<void(const QString &)> play;
    return play;
}

} // namespace

void ctlImageList::setClipPlayer(std::function<void(const QString &path)> play)
{
    clipPlayer() = std::move(play);
}

ctlImageList *ctlImageList::instance()
{
    auto &w = windowInstance<ctlImageList>();
    if (!w)
        w = new ctlImageList();
    return w;
}

ctlImageList *ctlImageList::existing()
{
    return windowInstance<ctlImageList>();
}

ctlImageList::ctlImageList()
{
    setObjectName(QStringLiteral("ctlImageList1"));
    buildLayout();
    ExamSession &s = session();
    connect(&s, &ExamSession::openRowsChanged, this, &ctlImageList::showRows);
    connect(&s, &ExamSession::importLogAppended, this, [this](const QString &transNo, const QString &text) {
        if (m_model && m_model->transNo() == transNo)
            appendText1(text);
    });
    connect(&s.jobs(), &JobRunner::busyChanged, this, [this](const QString &transNo, bool busy) {
        if (!m_model || m_model->transNo() != transNo)
            return;
        setBusy(busy);
        if (!busy)
            emit workFinished();
    });
    connect(&s.jobs(), &JobRunner::progress, this, [this](const QString &transNo, int done, int total, const QString &kind) {
        // The viewer's prints, sends and exports show their progress on the viewer.
        if (!m_model || m_model->transNo() != transNo || kind == ViewerTransfer::jobKind())
            return;
        if (total > 0)
            prgWork->setRange(0, total);
        prgWork->setValue(qMin(done, prgWork->maximum()));
    });
    showRows(s.openRows());
}

void ctlImageList::showRows(ImageRowsModel *model)
{
    if (model == m_model)
        return;
    m_model = model;
    grdFiles->setModel(model);
    for (int c = 0; c < ImageRowsModel::ColumnCount; ++c)
        grdFiles->setColumnWidth(c, twipsToPixels(ImageRowsModel::widthOf(c)));
    setBusy(model && session().jobs().isBusy(model->transNo()));
}

void ctlImageList::buildLayout()
{
    grdFiles = new QTableView(this);
    grdFiles->setObjectName(QStringLiteral("grdFiles"));
    grdFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    grdFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdFiles->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(grdFiles, &QTableView::doubleClicked, this, [this] {
        if (!isBusy())
            cmdOpenImage_Click();
    });

    fra1 = new QFrame(this);
    fra1->setObjectName(QStringLiteral("fra1"));
    auto *col = new QVBoxLayout(fra1);
    col->setContentsMargins(0, 0, 0, 0);
    cmdImportnon = namedControl(fra1, "cmdImportnon", QStringLiteral("Import DICOM file"));
    cmdImport = namedControl(fra1, "cmdImport", QStringLiteral("Import non-DICOM"));
    chkImportFolder = namedControl<QCheckBox>(fra1, "chkImportFolder", QStringLiteral("Import Folder"));
    fraImport = new QGroupBox(fra1);
    fraImport->setObjectName(QStringLiteral("fraImport"));
    auto *imp = new QVBoxLayout(fraImport);
    txtFolder = new QLineEdit(defaultImportFolder(), fraImport);
    txtFolder->setObjectName(QStringLiteral("txtFolder"));
    cmdImportFolder = namedControl(fraImport, "cmdImportFolder", QStringLiteral("Import Folder"));
    Text1 = new QPlainTextEdit(fraImport);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setMaximumBlockCount(20000);
    imp->addWidget(txtFolder);
    imp->addWidget(cmdImportFolder);
    imp->addWidget(Text1, 1);
    fraImport->setVisible(false);
    cmdDel = namedControl(fra1, "cmdDel", QStringLiteral("Delete"));
    cmdRefresh = namedControl(fra1, "cmdRefresh", QStringLiteral("&Refresh"));
    cmdOpenImage = namedControl(fra1, "cmdOpenImage", QStringLiteral("&Open"));
    cmdSave = namedControl(fra1, "cmdSave", QStringLiteral("&Save"));
    cmdSendToPACS = namedControl(fra1, "cmdSendToPACS", QStringLiteral("S&end to PACS"));
    cmdBurn = namedControl(fra1, "cmdBurn", QStringLiteral("CD Write"));
    prgWork = new QProgressBar(fra1);
    prgWork->setObjectName(QStringLiteral("prgWork"));
    prgWork->setVisible(false);
    for (QWidget *w : std::initializer_list<QWidget *>{cmdImportnon, cmdImport, chkImportFolder, fraImport, cmdDel,
                                                       cmdRefresh, cmdOpenImage, cmdSave, cmdSendToPACS, cmdBurn})
        col->addWidget(w, w == fraImport ? 1 : 0);
    col->addStretch();
    col->addWidget(prgWork);
    fra1->setFixedWidth(twipsToPixels(2700));

    connect(chkImportFolder, &QCheckBox::toggled, fraImport, &QWidget::setVisible);
    connect(cmdImport, &QPushButton::clicked, this, [this] { cmdImport_Click(); });
    connect(cmdImportnon, &QPushButton::clicked, this, [this] { cmdImportnon_Click(); });
    connect(cmdImportFolder, &QPushButton::clicked, this,
            [this] {
                if (!isBusy())
                    ImageListActions::importFolder(txtFolder->text());
            });
    connect(cmdDel, &QPushButton::clicked, this, [this] {
        if (!isBusy())
            ImageListActions::deleteRow(selectedDataRow() - 1);
    });
    connect(cmdRefresh, &QPushButton::clicked, this, [this] { LoadImages(); });
    connect(cmdOpenImage, &QPushButton::clicked, this, [this] { cmdOpenImage_Click(); });
    connect(cmdSave, &QPushButton::clicked, this, [this] {
        if (!isBusy())
            ImageListActions::save();
    });
    connect(cmdSendToPACS, &QPushButton::clicked, this, [this] {
        if (!isBusy())
            ImageListActions::send();
    });
    connect(cmdBurn, &QPushButton::clicked, this, [this] {
        if (!isBusy() && m_model)
            BurnCD2(m_model->transNo(), m_model->rows());
    });
    resize(640, 360);
}

void ctlImageList::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fra1->setGeometry(width() - fra1->width() - twipsToPixels(200), 0, fra1->width(), height());
    grdFiles->setGeometry(0, 0, qMax(0, width() - fra1->width() - twipsToPixels(400)), qMax(0, height() - twipsToPixels(300)));
}

// ---------------------------------------------------------------------------------------------
// Rows

void ctlImageList::GrdFilesAddImage(const QString &status, const QString &type, const QString &serverName,
                                     const QString &serverFolder, const QString &fileDir, const QString &fileName,
                                     const QString &fileId)
{
    session().addImageRow(session().openTransNo(),
                          ImageRow::make(status, type, serverName, serverFolder, fileDir, fileName, fileId));
}

void ctlImageList::clearRows()
{
    session().openRows()->clear();
}

int ctlImageList::rowCount() const
{
    return m_model ? m_model->count() : 0;
}

ImageRow ctlImageList::row(int dataRow) const
{
    return m_model ? m_model->row(dataRow - 1) : ImageRow();
}

QList<ImageRow> ctlImageList::rows() const
{
    return m_model ? m_model->rows() : QList<ImageRow>();
}

QString ctlImageList::rowPath(const ImageRow &r)
{
    return rowPathNow(r);
}

QString ctlImageList::rowPath(int dataRow) const
{
    return rowPath(row(dataRow));
}

int ctlImageList::selectedDataRow() const
{
    return grdFiles->currentIndex().isValid() ? grdFiles->currentIndex().row() + 1 : 0;
}

bool ctlImageList::isBusy() const
{
    return m_model && session().jobs().isBusy(m_model->transNo());
}

void ctlImageList::LoadImages()
{
    WaitCursor wait;
    ImageListActions::loadImages(session().openTransNo());
}

void ctlImageList::setBusy(bool busy)
{
    for (QWidget *c : std::initializer_list<QWidget *>{cmdImportnon, cmdImport, cmdImportFolder, cmdDel, cmdRefresh,
                                                       cmdOpenImage, cmdSave, cmdSendToPACS, cmdBurn})
        c->setEnabled(!busy);
    prgWork->setVisible(busy);
    if (busy) {
        prgWork->setRange(0, 0);
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

void ctlImageList::appendText1(const QString &lines)
{
    QTextCursor c(Text1->document());
    c.movePosition(QTextCursor::End);
    c.insertText(lines);
    Text1->moveCursor(QTextCursor::End);
}

// ---------------------------------------------------------------------------------------------
// Commands that ask the operator first

void ctlImageList::cmdImport_Click()
{
    if (isBusy())
        return;
    const QStringList paths = OpenFilesDialog(this, QStringLiteral("Pictures & Cine (*.bmp,*.dib,*.jpg,*.avi)|*.bmp;*.dib;*.jpg;*.avi"),
                                              QStringLiteral("Import non-DICOM File"), QString());
    // The viewer is made visible, not brought over the editor the operator works in.
    if (!paths.isEmpty())
        ImageListActions::importPictures(paths, [] {
            frmImageViewer *viewer = frmImageViewer::instance();
            if (viewer->isVisible())
                return;
            QPointer<QWidget> front = QApplication::activeWindow();
            viewer->show();
            if (front && front != viewer) {
                front->raise();
                front->activateWindow();
            }
        });
}

void ctlImageList::cmdImportnon_Click()
{
    if (isBusy())
        return;
    const QString path = OpenFileDialog(this, QStringLiteral("DICOM IMAGES (*.DCM)|*.dcm"), QStringLiteral("Import DICOM File"),
                                        QString());
    if (!path.isEmpty())
        ImageListActions::importDicomFile(path);
}

void ctlImageList::cmdOpenImage_Click()
{
    if (isBusy() || rowCount() == 0)
        return;
    const int selected = qMax(1, selectedDataRow());
    const QString type = row(selected).type.toUpper();
    if (type == QLatin1String("VIDEO")) {
        if (!clipPlayer()) {
            msgBox(this, QStringLiteral("Video playback is not available on this workstation."), Prompter::Icon::Information);
            return;
        }
        clipPlayer()(rowPath(selected));
        return;
    }
    if (type != QLatin1String("IMAGE") && type != QLatin1String("JPG") && type != QLatin1String("BMP"))
        return;
    // A viewer showing the exam's images is raised; an empty one (another exam was opened
    // since) is filled.
    frmImageViewer *viewer = frmImageViewer::existing();
    if (viewer && viewer->isVisible() && session().images().count() > 0)
        showViewer();
    else
        ImageListActions::fillViewer(showViewer);
}

} // namespace orv
