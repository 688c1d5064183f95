#include "ctlImageList.h"

#include "IdentityStamp.h"
#include "ImageSend.h"
#include "PictureImport.h"
#include "ServerStorage.h"

#include "core/CoreRoutines.h"
#include "core/OpenTransaction.h"
#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "core/WindowRegistry.h"
#include "core/frmOptions.h"
#include "outside/Error.h"
#include "viewer/frmImageViewer.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QElapsedTimer>
#include <QtConcurrent>

namespace orv {

namespace {


// Results of long work are shown in slices of at most this length, so that the window keeps
// answering however fast they come.
constexpr qint64 kSliceMilliseconds = 12;

enum Column { ColStatus, ColType, ColFileName, ColServer, ColServerFolder, ColFileId, ColFileDir, ColumnCount };

const QStringList kHeaders{QStringLiteral("Status"), QStringLiteral("Type"), QStringLiteral("FileName"),
                           QStringLiteral("Server"), QStringLiteral("Folder Server"), QStringLiteral("FileID"),
                           QStringLiteral("FileDir")};
constexpr int kWidths[ColumnCount]{1100, 1300, 2000, 1100, 1800, 1100, 1800};

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

bool sameFolder(const QString &a, const QString &b)
{
    return QDir::cleanPath(nativePath(a)) == QDir::cleanPath(nativePath(b));
}

} // namespace

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
    m_reader = new ImageReadWorker(this);
    m_saver = new ServerSaveWorker(this);
    m_sender = new ImageSendWorker(this);
    buildLayout();
}

ctlImageList::~ctlImageList()
{
    // The workers call back into this object until they have stopped.
    m_reader->cancel();
    m_reader->waitForFinished();
    m_saver->waitForFinished();
    m_sender->cancel();
    m_sender->waitForFinished();
}

void ctlImageList::buildLayout()
{
    grdFiles = new QTableWidget(0, ColumnCount, this);
    grdFiles->setObjectName(QStringLiteral("grdFiles"));
    grdFiles->setHorizontalHeaderLabels(kHeaders);
    for (int c = 0; c < ColumnCount; ++c)
        grdFiles->setColumnWidth(c, twipsToPixels(kWidths[c]));
    grdFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    grdFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdFiles->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(grdFiles, &QTableWidget::cellDoubleClicked, this, [this] {
        if (!m_busy)
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

    WindowRegistry::disableUnlessRegistered(cmdBurn, QStringLiteral("frmBurn"));
    for (QWidget *c : {static_cast<QWidget *>(cmdBurn), static_cast<QWidget *>(cmdSendToPACS)})
        if (!c->isEnabled())
            m_unavailable.insert(c);

    connect(chkImportFolder, &QCheckBox::toggled, fraImport, &QWidget::setVisible);
    connect(cmdImport, &QPushButton::clicked, this, [this] { cmdImport_Click(); });
    connect(cmdImportnon, &QPushButton::clicked, this, [this] { cmdImportnon_Click(); });
    connect(cmdImportFolder, &QPushButton::clicked, this, [this] { cmdImportFolder_Click(); });
    connect(cmdDel, &QPushButton::clicked, this, [this] { cmdDel_Click(); });
    connect(cmdRefresh, &QPushButton::clicked, this, [this] { LoadImages(); });
    connect(cmdOpenImage, &QPushButton::clicked, this, [this] { cmdOpenImage_Click(); });
    connect(cmdSave, &QPushButton::clicked, this, [this] { cmdSave_Click(); });
    connect(cmdSendToPACS, &QPushButton::clicked, this, [this] { cmdSendToPACS_Click(); });

    // Results of the save, handled in the order they were produced.
    connect(m_saver, &ServerSaveWorker::folderProblem, this,
            [this](const QString &message) { post([this, message] { msgBox(this, message); }); });
    connect(m_saver, &ServerSaveWorker::progress, this,
            [this](int done, int, const QString &) { post([this, done] { setWorkProgress(done); }); });
    connect(m_saver, &ServerSaveWorker::finished, this, [this](const SaveOutcome &outcome) {
        post([this, outcome] {
            endWork();
            if (outcome.ok()) {
                LoadImages();
                AddLog(QStringLiteral("Done."));
            } else {
                msgBox(this, outcome.failure);
            }
            emit workFinished();
        });
    });

    // Results of the send: log lines, progress, and settings refused before anything was sent.
    connect(m_sender, &ImageSendWorker::logLine, this, [this](const QString &line) { post([line] { AddLog(line); }); });
    connect(m_sender, &ImageSendWorker::progress, this, [this](int done, int) { post([this, done] { setWorkProgress(done); }); });
    connect(m_sender, &ImageSendWorker::finished, this, [this](const SendOutcome &outcome) {
        post([this, outcome] {
            endWork();
            if (!outcome.refused.isEmpty())
                msgBox(this, outcome.refused, Prompter::Icon::Critical);
            emit workFinished();
        });
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
    const bool trace = frmOptions::maintenanceMode();
    if (trace)
        msgBox(this, QStringLiteral("A"));
    const ImageRow r = ImageRow::make(status, type, serverName, serverFolder, fileDir, fileName, fileId);
    if (trace)
        msgBox(this, r.cells().join(QLatin1String(" -- ")));
    addRow(r);
    if (trace)
        msgBox(this, QStringLiteral("b"));
}

void ctlImageList::addRow(const ImageRow &r)
{
    const int at = grdFiles->rowCount();
    grdFiles->insertRow(at);
    const QStringList cells = r.cells();
    for (int c = 0; c < ColumnCount; ++c)
        grdFiles->setItem(at, c, new QTableWidgetItem(cells[c]));
}

void ctlImageList::clearRows()
{
    grdFiles->setRowCount(0);
}

int ctlImageList::rowCount() const
{
    return grdFiles->rowCount();
}

ImageRow ctlImageList::row(int dataRow) const
{
    ImageRow r;
    const int at = dataRow - 1;
    if (at < 0 || at >= grdFiles->rowCount())
        return r;
    auto cell = [&](int c) { return grdFiles->item(at, c) ? grdFiles->item(at, c)->text() : QString(); };
    return ImageRow::make(cell(ColStatus), cell(ColType), cell(ColServer), cell(ColServerFolder), cell(ColFileDir),
                          cell(ColFileName), cell(ColFileId));
}

QList<ImageRow> ctlImageList::rows() const
{
    QList<ImageRow> all;
    for (int r = 1; r <= rowCount(); ++r)
        all << row(r);
    return all;
}

QString ctlImageList::rowPath(const ImageRow &r)
{
    const bool overridePath = SettingsStore::numberOf(state().chkOverrideImgPath) == 1;
    return nativePath(rowFilePath(r, state().Server_Name, overridePath));
}

QString ctlImageList::rowPath(int dataRow) const
{
    return rowPath(row(dataRow));
}

int ctlImageList::selectedDataRow() const
{
    return grdFiles->currentRow() + 1;
}

void ctlImageList::LoadImages()
{
    if (m_busy) {
        m_reloadAfterWork = true;
        return;
    }
    WaitCursor wait;
    clearRows();
    try {
        const QList<ImageRow> stored = orv::LoadImages(state().db(), openTransaction().value(OpenTransaction::TransNo));
        grdFiles->setUpdatesEnabled(false);
        for (const ImageRow &r : stored)
            GrdFilesAddImage(r.status, r.type, r.server, r.serverFolder, r.fileDir, r.fileName, r.fileId);
        grdFiles->setUpdatesEnabled(true);
    } catch (const std::exception &e) {
        grdFiles->setUpdatesEnabled(true);
        msgBox(this, QStringLiteral("Problem loading. ") + describe(e));
    }
}

// ---------------------------------------------------------------------------------------------
// Busy state and ordered results

bool ctlImageList::beginWork(int total)
{
    if (m_busy)
        return false;
    // The last work has been reported; its worker may still be returning from it, and would
    // refuse to start again until it has.
    m_reader->waitForFinished();
    m_saver->waitForFinished();
    m_sender->waitForFinished();
    setBusy(true);
    prgWork->setRange(0, qMax(0, total));
    prgWork->setValue(0);
    prgWork->setVisible(true);
    return true;
}

void ctlImageList::setWorkProgress(int done)
{
    prgWork->setValue(qMin(done, prgWork->maximum()));
}

void ctlImageList::endWork()
{
    prgWork->setVisible(false);
    setBusy(false);
    if (m_reloadAfterWork) {
        m_reloadAfterWork = false;
        LoadImages();
    }
}

void ctlImageList::setBusy(bool busy)
{
    m_busy = busy;
    for (QWidget *c : std::initializer_list<QWidget *>{cmdImportnon, cmdImport, cmdImportFolder, cmdDel, cmdRefresh,
                                                       cmdOpenImage, cmdSave, cmdSendToPACS, cmdBurn})
        c->setEnabled(!busy && !m_unavailable.contains(c));
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void ctlImageList::post(std::function<void()> handler)
{
    m_queue.append(std::move(handler));
    scheduleDrain();
}

void ctlImageList::scheduleDrain()
{
    if (m_drainScheduled)
        return;
    m_drainScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_drainScheduled = false;
        drain();
    });
}

void ctlImageList::drain()
{
    // A handler's message box runs the event loop; its drain goes on when the box is closed.
    if (m_draining)
        return;
    m_draining = true;
    QElapsedTimer slice;
    slice.start();
    while (!m_queue.isEmpty() && slice.elapsed() < kSliceMilliseconds) {
        const auto next = m_queue.takeFirst();
        try {
            next();
        } catch (const std::exception &e) {
            msgBox(this, describe(e));
        }
    }
    if (m_viewerChanged) {
        m_viewerChanged = false;
        if (frmImageViewer *viewer = frmImageViewer::existing())
            viewer->imagesChanged();
    }
    m_draining = false;
    if (!m_queue.isEmpty())
        scheduleDrain();
}

void ctlImageList::addToViewer(const dicom::Image &image)
{
    frmImageViewer::instance()->Images().add(image);
    m_viewerChanged = true;
}

void ctlImageList::runReader(const std::function<void(const ReadResult &)> &onResult,
                             const std::function<void()> &onFinished)
{
    connect(m_reader, &ImageReadWorker::batchReady, this, [this, onResult](const QList<ReadResult> &results) {
        for (const ReadResult &r : results)
            post([onResult, r] { onResult(r); });
    });
    connect(m_reader, &ImageReadWorker::finished, this, [this, onFinished] {
        disconnect(m_reader, nullptr, this, nullptr);
        post([this, onFinished] {
            endWork();
            if (onFinished)
                onFinished();
            emit workFinished();
        });
    });
}

// ---------------------------------------------------------------------------------------------
// Imports

void ctlImageList::cmdImport_Click()
{
    if (m_busy)
        return;
    const QString path = OpenFileDialog(this, QStringLiteral("Pictures & Cine (*.bmp,*.dib,*.jpg,*.avi)|*.bmp;*.dib;*.jpg;*.avi"),
                                        QStringLiteral("Import non-DICOM File"), QString());
    if (path.isEmpty())
        return;
    // Stamping reads and advances the open transaction here, on its own thread; the conversion
    // and the write run in the worker.
    const QString numberBefore = openTransaction().value(OpenTransaction::ImgNum);
    dicom::Image image;
    try {
        stampIdentity(image);
    } catch (const std::exception &e) {
        msgBox(this, describe(e));
        return;
    }
    const QString numberAfter = openTransaction().value(OpenTransaction::ImgNum);
    const QString tempFolder = state().TempFolder;
    beginWork(0);
    struct Written
    {
        ImageRow row;
        QString error;
    };
    auto *watcher = new QFutureWatcher<Written>(this);
    connect(watcher, &QFutureWatcher<Written>::finished, this, [=, this] {
        const Written written = watcher->result();
        watcher->deleteLater();
        post([=, this] {
            endWork();
            if (written.error.isEmpty()) {
                const ImageRow &r = written.row;
                GrdFilesAddImage(r.status, r.type, r.server, r.serverFolder, r.fileDir, r.fileName, r.fileId);
                frmImageViewer *viewer = frmImageViewer::instance();
                viewer->Images().add(image);
                viewer->imagesChanged();
                viewer->show();
                viewer->raise();
            } else {
                // Nothing was written: the number this stamping took is given back.
                OpenTransaction &tr = openTransaction();
                if (tr.value(OpenTransaction::ImgNum) == numberAfter)
                    tr.setValue(OpenTransaction::ImgNum, numberBefore);
                msgBox(this, written.error);
            }
            emit workFinished();
        });
    });
    watcher->setFuture(QtConcurrent::run([image, path, tempFolder]() mutable {
        Written w;
        try {
            w.row = writeStampedPicture(image, path, tempFolder);
        } catch (const std::exception &e) {
            w.error = describe(e);
        }
        return w;
    }));
}

void ctlImageList::cmdImportnon_Click()
{
    if (m_busy)
        return;
    const QString path = OpenFileDialog(this, QStringLiteral("DICOM IMAGES (*.DCM)|*.dcm"), QStringLiteral("Import DICOM File"),
                                        QString());
    if (path.isEmpty())
        return;
    const PicturePathParts parts = splitPicturePath(path);
    const QString folder = path.left(path.size() - parts.fileName.size());
    beginWork(0);
    runReader(
        [this, folder, parts](const ReadResult &r) {
            if (!r.error.isEmpty()) {
                msgBox(this, r.error);
                return;
            }
            GrdFilesAddImage(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), folder, parts.fileName, QString());
            addToViewer(r.image);
        },
        {});
    m_reader->start({{ReadJob::Kind::Dicom, path, {}, {}}}, true);
}

void ctlImageList::appendText1(const QString &lines)
{
    QTextCursor c(Text1->document());
    c.movePosition(QTextCursor::End);
    c.insertText(lines);
    Text1->moveCursor(QTextCursor::End);
}

void ctlImageList::cmdImportFolder_Click()
{
    if (m_busy)
        return;
    QString folder = txtFolder->text();
    if (!folder.endsWith(QLatin1Char('\\')))
        folder += QLatin1Char('\\');
    beginWork(0);
    appendText1(QStringLiteral("\r\nstarting"));
    auto failed = std::make_shared<bool>(false);
    connect(m_reader, &ImageReadWorker::listed, this, [this](const QStringList &paths) {
        const int total = int(paths.size());
        post([this, total] { prgWork->setRange(0, total); });
    });
    runReader(
        [this, folder, failed](const ReadResult &r) {
            const QString line = r.index >= 0 ? QStringLiteral("\r\n") + QDir::toNativeSeparators(nativePath(r.path)) : QString();
            if (!r.error.isEmpty()) {
                *failed = true;
                appendText1(line);
                msgBox(this, r.error);
                return;
            }
            GrdFilesAddImage(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), folder, QFileInfo(r.path).fileName(),
                             QString());
            addToViewer(r.image);
            appendText1(line + QStringLiteral("\r\n."));
            setWorkProgress(r.index + 1);
        },
        [this, failed] {
            if (!*failed)
                appendText1(QStringLiteral("\r\ndone"));
        });
    m_reader->startFolder(folder);
}

// ---------------------------------------------------------------------------------------------
// Open, viewer fill, delete

void ctlImageList::cmdOpenImage_Click()
{
    if (m_busy || rowCount() == 0)
        return;
    const int selected = qMax(1, selectedDataRow());
    const QString type = row(selected).type.toUpper();
    if (type == QLatin1String("VIDEO")) {
        if (!WindowRegistry::has(QStringLiteral("frmVideo"))) {
            msgBox(this, QStringLiteral("Video playback is not available on this workstation."), Prompter::Icon::Information);
            return;
        }
        QWidget *player = WindowRegistry::instance(QStringLiteral("frmVideo"));
        player->setProperty("filename", rowPath(selected));
        WindowRegistry::show(QStringLiteral("frmVideo"));
        return;
    }
    if (type != QLatin1String("IMAGE") && type != QLatin1String("JPG") && type != QLatin1String("BMP"))
        return;
    frmImageViewer *viewer = frmImageViewer::instance();
    auto show = [viewer = QPointer<frmImageViewer>(viewer)] {
        if (!viewer)
            return;
        viewer->show();
        viewer->raise();
        viewer->activateWindow();
    };
    if (viewer->isVisible())
        show();
    else
        fillViewer(show);
}

void ctlImageList::fillViewer(std::function<void()> then)
{
    QList<ReadJob> jobs;
    for (const ImageRow &r : rows()) {
        const QString type = r.type.toUpper();
        if (type == QLatin1String("IMAGE"))
            jobs.append({ReadJob::Kind::Dicom, rowPath(r), {}, {}});
        else if (type == QLatin1String("JPG") || type == QLatin1String("BMP"))
            jobs.append({ReadJob::Kind::Picture, rowPath(r), type, r.fileName});
    }
    beginWork(int(jobs.size()));
    runReader(
        [this](const ReadResult &r) {
            setWorkProgress(r.index + 1);
            if (r.missing)
                msgBox(this, QStringLiteral("Cant read/access ") + r.path);
            else if (!r.error.isEmpty())
                msgBox(this, r.error);
            else
                addToViewer(r.image);
        },
        then);
    m_reader->start(jobs, false);
}

void ctlImageList::cmdDel_Click()
{
    if (m_busy)
        return;
    const int selected = selectedDataRow();
    if (selected < 1 || selected > rowCount())
        return;
    const ImageRow r = row(selected);
    const QString path = rowPath(r);
    // A New row outside the temporary folder stands for the operator's own file, imported where
    // it lies: the row goes, the file stays.
    const bool ownFile = r.status == kStatusSaved || (r.status == kStatusNew && sameFolder(r.fileDir, state().TempFolder));
    if (ownFile) {
        QFile file(path);
        if (!QFileInfo::exists(path))
            msgBox(this, QStringLiteral("File not found: %1").arg(path));
        else if (!file.remove())
            msgBox(this, QStringLiteral("Cannot delete %1: %2").arg(path, file.errorString()));
    }
    if (r.status == kStatusSaved) {
        try {
            state().db().execute(QStringLiteral("delete from pacs..tblFile WHERE file_id=?"), {r.fileId});
        } catch (const std::exception &e) {
            msgBox(this, describe(e));
        }
    }
    if (frmImageViewer *viewer = frmImageViewer::existing()) {
        dicom::ImageCollection &images = viewer->Images();
        for (int i = 1; i <= images.count(); ++i) {
            if (images.item(i).attribute(0x0004, 0x1500).value() == r.fileName) {
                images.remove(i);
                viewer->imagesChanged();
                break;
            }
        }
    }
    grdFiles->removeRow(selected - 1);
}

// ---------------------------------------------------------------------------------------------
// Save

void ctlImageList::cmdSave_Click()
{
    if (m_busy || !cmdSave->isEnabled())
        return;
    const SaveRequest request = SaveRequest::fromState(rows());
    int newRows = 0;
    for (const ImageRow &r : request.rows)
        newRows += r.status == kStatusNew ? 1 : 0;
    beginWork(newRows);
    if (!m_saver->start(state().db().config(), request))
        endWork();
}

// ---------------------------------------------------------------------------------------------
// Send

void ctlImageList::cmdSendToPACS_Click()
{
    if (m_busy || !cmdSendToPACS->isEnabled())
        return;
    const QList<ImageRow> list = rows();
    if (list.isEmpty())
        return;
    beginWork(int(list.size()));
    if (!m_sender->start(SendRequest::fromState(list)))
        endWork();
}

} // namespace orv
