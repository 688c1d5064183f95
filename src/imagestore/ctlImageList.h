#pragma once

#include "session/ImageRowsModel.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <functional>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace orv {

// The image list of the open transaction, a view: grdFiles shows the session's rows of the
// transaction open in the editor, and the commands call ImageListActions. While work of that
// transaction runs the list is busy: its commands are disabled and prgWork shows the progress.
// Work of another transaction never shows here. One instance per run, hosted by the transaction
// editor as ctlImageList1.
class ctlImageList : public QWidget
{
    Q_OBJECT
public:
    static ctlImageList *instance();
    // The instance when loaded, else nullptr.
    static ctlImageList *existing();
    // Plays a clip file: set at start-up by the folder that owns the clip player. Unset, "&Open"
    // on a Video row says that playback is not available.
    static void setClipPlayer(std::function<void(const QString &path)> play);

    // Rebuilds the rows from tblFile for the open transaction's number.
    void LoadImages();
    // Appends one row to the open transaction; the arguments in this order, the cells in grid
    // column order.
    void GrdFilesAddImage(const QString &status, const QString &type, const QString &serverName,
                          const QString &serverFolder, const QString &fileDir, const QString &fileName,
                          const QString &fileId);
    // Empties the rows of the open transaction.
    void clearRows();

    int rowCount() const;
    // Data rows numbered from 1 as the grid numbers them (row 0 is the header).
    ImageRow row(int dataRow) const;
    QList<ImageRow> rows() const;
    // The row file path in the form of this platform.
    QString rowPath(int dataRow) const;
    static QString rowPath(const ImageRow &row);

    bool isBusy() const;
    ImageRowsModel *model() const { return m_model; }

    QTableView *grdFiles = nullptr;
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
    // Work of the shown transaction has ended and its results are shown.
    void workFinished();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    ctlImageList();
    void buildLayout();
    void showRows(ImageRowsModel *model);
    void setBusy(bool busy);
    int selectedDataRow() const;

    void cmdImport_Click();
    void cmdImportnon_Click();
    void cmdOpenImage_Click();
    void appendText1(const QString &lines);

    QPointer<ImageRowsModel> m_model;
};

} // namespace orv
