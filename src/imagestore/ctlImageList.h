#pragma once

#include "ImageReading.h"
#include "ImageRow.h"

#include <QList>
#include <QSet>
#include <QWidget>

#include <functional>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace orv {

class ImageSendWorker;
class ServerSaveWorker;

// The image list of the open transaction: the files stored for it on the image server (Saved
// rows, from tblFile) and the files added since the list was loaded (New rows), with the
// commands that import, store, open and delete them. One instance per run, hosted by the
// transaction editor as ctlImageList1; capture windows reach it through instance().
//
// Long work (folder import, reading files for the viewer, the save, and whatever another part
// starts through beginWork) runs off the GUI thread; while it runs the list is busy: its
// commands are disabled, prgWork shows the progress, and results (rows, log lines, messages)
// arrive in the order the work produced them.
class ctlImageList : public QWidget
{
    Q_OBJECT
public:
    static ctlImageList *instance();
    // The instance when loaded, else nullptr.
    static ctlImageList *existing();
    ~ctlImageList() override;

    // Rebuilds the grid from tblFile for the open transaction's number. While the list is busy
    // the reload waits until the work has ended.
    void LoadImages();
    // Appends one row; the arguments in this order, the cells in grid column order.
    void GrdFilesAddImage(const QString &status, const QString &type, const QString &serverName,
                          const QString &serverFolder, const QString &fileDir, const QString &fileName,
                          const QString &fileId);
    void addRow(const ImageRow &row);
    // Empties the grid back to its header row.
    void clearRows();

    int rowCount() const;
    // Data rows numbered from 1 as the grid numbers them (row 0 is the header).
    ImageRow row(int dataRow) const;
    QList<ImageRow> rows() const;
    // The row file path in the form of this platform.
    QString rowPath(int dataRow) const;
    static QString rowPath(const ImageRow &row);

    bool isBusy() const { return m_busy; }
    // Long work of another part (a send, a disc) takes the list: false when it is busy already.
    // `total` steps for the progress bar (0: no known total).
    bool beginWork(int total);
    void setWorkProgress(int done);
    void endWork();

    QTableWidget *grdFiles = nullptr;
    QFrame *fra1 = nullptr;
    QPushButton *cmdImportnon = nullptr;
    QPushButton *cmdImport = nullptr;
    QCheckBox *chkImportFolder = nullptr;
    QGroupBox *fraImport = nullptr;
    QLineEdit *txtFolder = nullptr;
    QPushButton *cmdImportFolder = nullptr;
    QPlainTextEdit *Text1 = nullptr;
    QPushButton *cmdDel = nullptr;
    QPushButton *cmdRefresh = nullptr;
    QPushButton *cmdOpenImage = nullptr;
    QPushButton *cmdSave = nullptr;
    QPushButton *cmdSendToPACS = nullptr;
    QPushButton *cmdBurn = nullptr;
    QProgressBar *prgWork = nullptr;

signals:
    // Long work of the list (import, viewer fill, save) has ended and its results are shown.
    void workFinished();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    ctlImageList();
    void buildLayout();
    void setBusy(bool busy);
    int selectedDataRow() const;

    void cmdImport_Click();
    void cmdImportnon_Click();
    void cmdImportFolder_Click();
    void cmdDel_Click();
    void cmdOpenImage_Click();
    void cmdSave_Click();
    void cmdSendToPACS_Click();
    // Reads every image row into the viewer's image set off the GUI thread, then runs `then`.
    void fillViewer(std::function<void()> then);
    void appendText1(const QString &lines);

    // Runs the handlers of worker results one after the other, in arrival order, even when one
    // of them shows a message box (whose event loop would otherwise run the next one inside it).
    void post(std::function<void()> handler);
    // Hands the reader's results one by one to `onResult` and, once it has finished, ends the work, runs
    // `onFinished` and reports workFinished; the next start of the reader follows.
    void runReader(const std::function<void(const ReadResult &)> &onResult, const std::function<void()> &onFinished);
    void scheduleDrain();
    void drain();
    // Adds to the viewer's image set; the viewer is told once per slice of results.
    void addToViewer(const dicom::Image &image);

    ImageReadWorker *m_reader = nullptr;
    ServerSaveWorker *m_saver = nullptr;
    ImageSendWorker *m_sender = nullptr;
    QSet<QWidget *> m_unavailable; // commands whose window is not in this build
    QList<std::function<void()>> m_queue;
    bool m_draining = false;
    bool m_drainScheduled = false;
    bool m_viewerChanged = false;
    bool m_busy = false;
    bool m_reloadAfterWork = false;
};

} // namespace orv
