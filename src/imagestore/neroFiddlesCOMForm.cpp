#include "neroFiddlesCOMForm.h"

#include "DiscBurning.h"

#include "core/Audit.h"
#include "session/OpenTransaction.h"
#include "core/WindowHelpers.h"
#include "outside/Prompter.h"

#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace orv {

bool BurnCD2(const QString &transNo, const QList<ImageRow> &rows)
{
    return DiscBurning::stage(transNo, rows, [](const DiscBurning::Staged &staged) {
        neroFiddlesCOMForm *w = neroFiddlesCOMForm::instance();
        if (w->isBurning()) {
            msgBox(nullptr, QStringLiteral("A disc is being burned; wait until it is done."), Prompter::Icon::Information);
            return;
        }
        // A staging that ends while the window is open for another exam (two "CD Write"s run
        // together) changes what the window burns only when the operator says so.
        if (w->isVisible() && w->valDirPath != staged.folder) {
            if (msgBox(w,
                       QStringLiteral("The disc window shows exam %1. The files of exam %2 are staged now: burn those instead?")
                           .arg(w->valStudyID, staged.studyId),
                       Prompter::Icon::Question, QString(), Prompter::Yes | Prompter::No)
                != Prompter::Yes)
                return;
            w->valDirPath = staged.folder;
            w->valStudyID = staged.studyId;
            w->addMessage(QStringLiteral("The disc is now that of exam %1.").arg(staged.studyId));
            return;
        }
        w->valDirPath = staged.folder;
        w->valStudyID = staged.studyId;
        w->show();
        w->raise();
        w->activateWindow();
    });
}

neroFiddlesCOMForm *neroFiddlesCOMForm::instance()
{
    auto &w = windowInstance<neroFiddlesCOMForm>();
    if (!w)
        w = new neroFiddlesCOMForm();
    return w;
}

neroFiddlesCOMForm *neroFiddlesCOMForm::existing()
{
    return windowInstance<neroFiddlesCOMForm>();
}

neroFiddlesCOMForm::neroFiddlesCOMForm()
{
    setObjectName(QStringLiteral("neroFiddlesCOMForm"));
    setWindowTitle(QStringLiteral("NeroFiddles COM"));
    setWindowFlag(Qt::Window);
    setWindowModality(Qt::ApplicationModal);

    auto *devices = new QGroupBox(QStringLiteral("Available Devices"), this);
    devices->setObjectName(QStringLiteral("fraDevices"));
    AvailableDevices = namedControl<QListWidget>(devices, "AvailableDevices");
    (new QVBoxLayout(devices))->addWidget(AvailableDevices);

    auto *progress = new QGroupBox(QStringLiteral("Progress"), this);
    progress->setObjectName(QStringLiteral("fraProgress"));
    ProgressBar = namedControl<QProgressBar>(progress, "ProgressBar");
    ProgressBar->setRange(0, 100);
    (new QVBoxLayout(progress))->addWidget(ProgressBar);

    auto *messages = new QGroupBox(QStringLiteral("Nero Messages"), this);
    messages->setObjectName(QStringLiteral("fraMessages"));
    edtMessages = namedControl<QPlainTextEdit>(messages, "edtMessages");
    edtMessages->setReadOnly(true);
    edtMessages->setLineWrapMode(QPlainTextEdit::NoWrap);
    (new QVBoxLayout(messages))->addWidget(edtMessages);

    auto *control = new QGroupBox(QStringLiteral("Burn Control"), this);
    control->setObjectName(QStringLiteral("fraBurnControl"));
    Burn = namedControl(control, "Burn", QStringLiteral("Burn"));
    btnAbort = namedControl(control, "btnAbort", QStringLiteral("Abort"));
    btnAbort->setEnabled(false);
    cmdClose = namedControl(control, "cmdClose", QStringLiteral("&Close"));
    auto *buttons = new QHBoxLayout(control);
    buttons->addWidget(Burn);
    buttons->addWidget(btnAbort);
    buttons->addWidget(cmdClose);

    auto *grid = new QGridLayout(this);
    grid->addWidget(devices, 0, 0);
    grid->addWidget(control, 0, 1);
    grid->addWidget(progress, 1, 0, 1, 2);
    grid->addWidget(messages, 2, 0, 1, 2);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(0, 1);
    AvailableDevices->setMaximumHeight(110);

    connect(Burn, &QPushButton::clicked, this, [this] { Burn_Click(); });
    connect(btnAbort, &QPushButton::clicked, this, [this] { btnAbort_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    resize(560, 460);
}

void neroFiddlesCOMForm::addMessage(const QString &text)
{
    m_log += text + QStringLiteral("\r\n");
    QTextCursor c(edtMessages->document());
    c.movePosition(QTextCursor::End);
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!edtMessages->document()->isEmpty())
        shown.prepend(QLatin1Char('\n'));
    c.insertText(shown);
    edtMessages->verticalScrollBar()->setValue(edtMessages->verticalScrollBar()->maximum());
}

void neroFiddlesCOMForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Opening: a new library object, the progress and the log reset, the drives listed.
    m_closeWhenDone = false;
    if (!nero || !nero->isBurning()) {
        ProgressBar->setValue(0);
        m_log.clear();
        edtMessages->clear();
        Burn->setEnabled(true);
        btnAbort->setEnabled(false);
        // A scan of the drives still running (the window closed and opened again at once) is not
        // waited for here: its list arrives as it would have.
        if (nero && nero->isListing())
            return;
        delete nero;
        nero = new burn::Burner(this);
        connectEvents();
        AvailableDevices->clear();
        m_drives.clear();
        nero->listDrives(257);
    }
}

void neroFiddlesCOMForm::connectEvents()
{
    burn::Burner *n = nero;
    connect(n, &burn::Burner::drivesListed, this, [this](const QList<burn::DriveInfo> &list) {
        m_drives = list;
        AvailableDevices->clear();
        for (const burn::DriveInfo &d : list)
            AvailableDevices->addItem(d.name);
        if (AvailableDevices->count() > 0)
            AvailableDevices->setCurrentRow(0);
        emit drivesShown();
    });
    connect(n, &burn::Burner::driveListFailed, this, [this](const QString &why) { msgBox(this, why, Prompter::Icon::Critical); });
    connect(n, &burn::Burner::OnAddLogLine, this, [this](int, const QString &text) { addMessage(text); });
    connect(n, &burn::Burner::OnSetPhase, this, [this](const QString &text) { addMessage(text); });
    connect(n, &burn::Burner::OnProgress, this, [this](int percent) { ProgressBar->setValue(percent); });
    connect(n, &burn::Burner::OnDoneWaitForMedia, this, [this] { addMessage(QStringLiteral("Done waiting for media.")); });
    connect(n, &burn::Burner::OnDoneBurn, this, [this](int result) {
        addMessage(nero->errorLog());
        addMessage(nero->lastError());
        addMessage(QStringLiteral("Burn finished ") + (result != 0 ? QStringLiteral("NOT (%1)").arg(result) : QString()) +
                   QStringLiteral("successfully!"));
        btnAbort->setEnabled(false);
        Burn->setEnabled(true);
        // A disc written shows as done; one that was not starts again from 0.
        ProgressBar->setValue(result == burn::BurnOk ? 100 : 0);
        auditTrail().exported(audit::Media::Disc, drive.address.isEmpty() ? drive.name : drive.address, {m_burnSubject},
                              result == burn::BurnOk ? audit::Outcome::Success : audit::Outcome::SeriousFailure);
        emit burnDone(result);
        if (m_closeWhenDone)
            close();
    });
    connect(n, &burn::Burner::OnAborted, this, [this] { nero->setAbortFlag(nero->abortFlag()); });
    connect(n, &burn::Burner::OnMegaFatal, this, [this] { addMessage(QStringLiteral("A mega fatal error has occurred.")); });
    connect(n, &burn::Burner::OnNonEmptyCDRW, this, [this] { addMessage(QStringLiteral("CD-RW not empty!")); });
    connect(n, &burn::Burner::OnRestart, this, [this] { addMessage(QStringLiteral("The system is being restarted.")); });
    connect(n, &burn::Burner::OnWaitCD, this, [this](int, const QString &text) { addMessage(text); });
    connect(n, &burn::Burner::OnWaitCDDone, this, [this] { addMessage(QStringLiteral("Done waiting for CD.")); });
    connect(n, &burn::Burner::OnWaitCDMediaInfo, this, [this](const QString &, const QString &requested) {
        addMessage(QStringLiteral("Waiting for a particular media type:") + requested);
    });
    connect(n, &burn::Burner::OnWaitCDReminder, this, [this] { addMessage(QStringLiteral("Still waiting for CD...")); });
    connect(n, &burn::Burner::OnFileSelImage, this, [this](QString *fileName) {
        *fileName = Prompter::instance().saveFile(this, QStringLiteral("Save Disc Image"),
                                                  QDir::homePath() + QLatin1Char('/') + valStudyID + QStringLiteral(".iso"),
                                                  QStringLiteral("All files (*);;Disc images (*.iso)"));
    });
}

void neroFiddlesCOMForm::Burn_Click()
{
    if (!nero || nero->isBurning())
        return;
    const int index = AvailableDevices->currentRow();
    if (index < 0 || index >= m_drives.size()) {
        msgBox(this, QStringLiteral("No drive is selected."), Prompter::Icon::Information);
        return;
    }
    btnAbort->setEnabled(true);
    Burn->setEnabled(false);
    burn::IsoTrack track = DiscBurning::trackFor(valDirPath, valStudyID, DiscBurning::portableDiscEnabled());
    drive = m_drives.at(index);
    // The exam on the disc, for the audit trail: known in full when it is the open one.
    if (openTransaction().value(OpenTransaction::TransNo) == valStudyID) {
        m_burnSubject = examSubject(openTransaction().record());
    } else {
        m_burnSubject = {};
        m_burnSubject.accession = valStudyID;
    }
    nero->burnIsoAudioCd(drive, QString(), QString(), false, track, 20, 0, 1);
}

void neroFiddlesCOMForm::btnAbort_Click()
{
    if (nero)
        nero->abort();
}

void neroFiddlesCOMForm::closeEvent(QCloseEvent *event)
{
    if (nero && nero->isBurning()) {
        m_closeWhenDone = true;
        nero->abort();
        event->ignore();
        return;
    }
    DiscBurning::removeStagingRoot();
    QWidget::closeEvent(event);
}

} // namespace orv
