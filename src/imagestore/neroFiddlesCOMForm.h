#pragma once

#include "session/ImageRow.h"
#include "outside/audit/AuditTrail.h"
#include "outside/burn/Burner.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace orv {

// The burning window ("NeroFiddles COM"): writes the files of valDirPath to a disc through the
// burner layer. Opening lists the drives; Burn and Abort are mutually exclusive while a burn
// runs; every library event lands in the message log. Closing deletes the staging root with
// everything in it (a burn still running is aborted first and the window closes when it ends).
// One instance per run, registered as "neroFiddlesCOMForm"; shown application-modal.
class neroFiddlesCOMForm : public QWidget
{
    Q_OBJECT
public:
    static neroFiddlesCOMForm *instance();
    static neroFiddlesCOMForm *existing();

    // Public inputs, set before the window is shown.
    QString valDirPath;  // the folder whose files are burned, with a trailing separator
    QString valStudyID;  // the label of the burn: the transaction number

    // The message log: every message followed by "\r\n".
    QString messageLog() const { return m_log; }
    QList<burn::DriveInfo> drives() const { return m_drives; }
    bool isBurning() const { return nero && nero->isBurning(); }

    QListWidget *AvailableDevices = nullptr;
    QProgressBar *ProgressBar = nullptr;
    QPlainTextEdit *edtMessages = nullptr;
    QPushButton *Burn = nullptr;
    QPushButton *btnAbort = nullptr;
    QPushButton *cmdClose = nullptr; // closes the window as its title bar does

    // The library object (its events are handled below) and the drive of the running burn.
    QPointer<burn::Burner> nero;
    burn::DriveInfo drive;
    audit::Subject m_burnSubject;

signals:
    // The drive list has been filled (opening).
    void drivesShown();
    // A burn ended and its result lines are in the log.
    void burnDone(int result);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    friend bool BurnCD2(const QString &transNo, const QList<ImageRow> &rows);
    neroFiddlesCOMForm();
    void addMessage(const QString &text);
    void Burn_Click();
    void btnAbort_Click();
    void connectEvents();

    QString m_log;
    QList<burn::DriveInfo> m_drives;
    bool m_closeWhenDone = false;
};

// "CD Write" of the image list (BurnCD2): stages the rows of the transaction (a job of the
// session), then shows the burning window on the staging folder. False while work of the
// transaction runs.
bool BurnCD2(const QString &transNo, const QList<ImageRow> &rows);

} // namespace orv
