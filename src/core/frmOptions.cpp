#include "frmOptions.h"

#include "CoreRoutines.h"
#include "SharedState.h"
#include "Startup.h"
#include "WindowHelpers.h"
#include "frmServer.h"
#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace orv {

namespace {
auto &holder = windowInstance<frmOptions>;
constexpr auto makeButton = namedControl<QPushButton>;
constexpr auto makeCheck = namedControl<QCheckBox>;

QString flag(const QCheckBox *c)
{
    return c->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

std::function<void()> &dicomSettingsOpener()
{
    static std::function<void()> open;
    return open;
}
} // namespace

void frmOptions::setDicomSettingsOpener(std::function<void()> open)
{
    dicomSettingsOpener() = std::move(open);
}

frmOptions *frmOptions::instance()
{
    auto &w = holder();
    if (!w)
        w = new frmOptions();
    return w;
}

frmOptions *frmOptions::loaded()
{
    return holder();
}

frmOptions::~frmOptions()
{
    state().MaintenanceMode = false; // on only while this window is open
}

frmOptions::frmOptions()
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Settings"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto *outer = new QHBoxLayout(this);
    auto *left = new QVBoxLayout;
    auto *form = new QFormLayout;
    txtModalityCode = new QLineEdit(this);
    txtModalityCode->setObjectName(QStringLiteral("txtModalityCode"));
    form->addRow(QStringLiteral("Modality Code:"), txtModalityCode);
    txtTempFolder = new QLineEdit(this);
    txtTempFolder->setObjectName(QStringLiteral("txtTempFolder"));
    form->addRow(QStringLiteral("Temp Folder:"), txtTempFolder);
    txtCompanyName = new QLineEdit(this);
    txtCompanyName->setObjectName(QStringLiteral("txtCompanyName"));
    form->addRow(QStringLiteral("Company Name:"), txtCompanyName);
    left->addLayout(form);
    chkUsePacsDBExamCodes = makeCheck(this, "chkUsePacsDBExamCodes", QStringLiteral("Use PACS DB Exam Codes"));
    chkUseHospPat = makeCheck(this, "chkUseHospPat", QStringLiteral("Use Hospital Patients"));
    chkDebugMode = makeCheck(this, "chkDebugMode", QStringLiteral("Maintenance Mode"));
    left->addWidget(chkUsePacsDBExamCodes);
    left->addWidget(chkUseHospPat);
    left->addWidget(chkDebugMode);
    chkDebugMode->setChecked(state().MaintenanceMode);
    connect(chkDebugMode, &QCheckBox::toggled, this, [](bool on) { state().MaintenanceMode = on; });

    fraModality = new QGroupBox(QStringLiteral("Modality"), this);
    fraModality->setObjectName(QStringLiteral("fraModality"));
    auto *mod = new QGridLayout(fraModality);
    chkEN = makeCheck(fraModality, "chkEN", QStringLiteral("Endoscopy"));
    chkALL = makeCheck(fraModality, "chkALL", QStringLiteral("ALL"));
    chkEC = makeCheck(fraModality, "chkEC", QStringLiteral("Echo"));
    chkCR = makeCheck(fraModality, "chkCR", QStringLiteral("Radiology/X-Ray"));
    chkUS = makeCheck(fraModality, "chkUS", QStringLiteral("UltraSound"));
    chkMR = makeCheck(fraModality, "chkMR", QStringLiteral("MRI"));
    chkCT = makeCheck(fraModality, "chkCT", QStringLiteral("Catscan"));
    int i = 0;
    for (QCheckBox *c : {chkEN, chkALL, chkEC, chkCR, chkUS, chkMR, chkCT}) {
        mod->addWidget(c, i / 2, i % 2);
        ++i;
    }
    fraModality->hide();
    left->addWidget(fraModality);
    left->addStretch();
    outer->addLayout(left, 1);

    auto *right = new QVBoxLayout;
    Command1 = makeButton(this, "Command1", QStringLiteral("&OK"));
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("&Close"));
    cmdServer = makeButton(this, "cmdServer", QStringLiteral("Server"));
    cmdDICOM = makeButton(this, "cmdDICOM", QStringLiteral("DICOM Settings"));
    cmdResetSettings = makeButton(this, "cmdResetSettings", QStringLiteral("&Reset Settings"));
    cmdResetWindowPos = makeButton(this, "cmdResetWindowPos", QStringLiteral("Reset Window Positions"));
    cmdAddHospNum = makeButton(this, "cmdAddHospNum", QStringLiteral("Add HospNum to PACS..tblTransaction"));
    cmdUpdate2 = makeButton(this, "cmdUpdate2", QStringLiteral("Change Pacs. .tblTransaction fields to str"));
    cmdUpdateDB = makeButton(this, "cmdUpdateDB", QStringLiteral("Update DB"));
    cmdInitVmor = makeButton(this, "cmdInitVmor", QStringLiteral("Init VMOR"));
    cmdAddHospNum->hide();
    cmdUpdate2->hide();
    // The host application that "Init VMOR" addresses does not exist in a standalone workstation.
    cmdInitVmor->setEnabled(false);
    cmdInitVmor->setToolTip(QStringLiteral("Needs the host application's database utilities, which this workstation does not have."));
    for (QPushButton *b : {Command1, cmdCancel, cmdServer, cmdDICOM, cmdResetSettings, cmdResetWindowPos, cmdAddHospNum,
                           cmdUpdate2, cmdUpdateDB, cmdInitVmor})
        right->addWidget(b);
    right->addStretch();
    outer->addLayout(right);

    connect(Command1, &QPushButton::clicked, this, &frmOptions::Command1_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdServer, &QPushButton::clicked, this, [] {
        frmServer *w = frmServer::instance();
        w->show();
        w->raise();
    });
    connect(cmdDICOM, &QPushButton::clicked, this, [] {
        if (dicomSettingsOpener())
            dicomSettingsOpener()();
    });
    disableUnlessOffered(cmdDICOM, bool(dicomSettingsOpener()));
    connect(cmdResetSettings, &QPushButton::clicked, this, &frmOptions::cmdResetSettings_Click);
    connect(cmdResetWindowPos, &QPushButton::clicked, this, &frmOptions::cmdResetWindowPos_Click);
    connect(cmdAddHospNum, &QPushButton::clicked, this, &frmOptions::cmdAddHospNum_Click);
    connect(cmdUpdate2, &QPushButton::clicked, this, &frmOptions::cmdUpdate2_Click);
    connect(cmdUpdateDB, &QPushButton::clicked, this, &frmOptions::cmdUpdateDB_Click);
    resize(520, 320);
    Form_Load();
}

void frmOptions::Form_Load()
{
    RestoreWindow(this);
    SettingsStore &s = settings();
    const QString main = QStringLiteral("Main");
    txtModalityCode->setText(readAcquireModalityCode());
    chkUsePacsDBExamCodes->setChecked(SettingsStore::intOf(s.read(apps::Orvaline, main, QStringLiteral("UsePacsDBExamCodes"))) != 0);
    chkUseHospPat->setChecked(SettingsStore::intOf(s.read(apps::Orvaline, main, QStringLiteral("chkUseHospPat"))) != 0);
    txtTempFolder->setText(s.read(apps::VelmorOrvaline, QStringLiteral("Codec"), QStringLiteral("TempFolder"), defaultTempFolder()));
    txtCompanyName->setText(s.read(apps::VelmorPACS, main, QStringLiteral("CompanyName")));
}

void frmOptions::Command1_Click()
{
    SettingsStore &s = settings();
    SharedState &st = state();
    const QString main = QStringLiteral("Main");
    s.write(apps::Orvaline, main, QStringLiteral("AcquireModalityCode"), txtModalityCode->text());
    s.write(apps::Orvaline, main, QStringLiteral("UsePacsDBExamCodes"), flag(chkUsePacsDBExamCodes));
    st.UsePacsDBExamCodes = chkUsePacsDBExamCodes->isChecked() ? 1 : 0;
    s.write(apps::Orvaline, main, QStringLiteral("chkUseHospPat"), flag(chkUseHospPat));
    s.write(apps::VelmorOrvaline, QStringLiteral("Codec"), QStringLiteral("TempFolder"), txtTempFolder->text());
    st.TempFolder = txtTempFolder->text();
    s.write(apps::VelmorPACS, main, QStringLiteral("CompanyName"), txtCompanyName->text());
    st.CompanyName = txtCompanyName->text();
    close();
}

void frmOptions::cmdResetSettings_Click()
{
    settings().deleteApplication(apps::Orvaline); // nothing stored is not an error
}

void frmOptions::cmdResetWindowPos_Click()
{
    settings().deleteSection(apps::PACS, QStringLiteral("WindowSize"));
}

void frmOptions::runUpgrade(const QStringList &statements)
{
    for (const QString &sql : statements) {
        try {
            state().db().execute(sql);
        } catch (const Error &e) {
            msgBox(this, e.description());
            return;
        }
    }
}

void frmOptions::cmdAddHospNum_Click()
{
    runUpgrade({QStringLiteral("alter table pacs.dbo.tblTransaction add HospNum char(10)")});
}

void frmOptions::cmdUpdate2_Click()
{
    runUpgrade({QStringLiteral("alter table pacs.dbo.tblTransaction alter column Patient_ID char(10)"),
                QStringLiteral("alter table pacs.dbo.tblTransaction alter column refdoc_id char(10)")});
}

void frmOptions::cmdUpdateDB_Click()
{
    try {
        state().db().execute(QStringLiteral("alter table pacs.dbo.tblTransaction add StudyUID varchar(255)"));
    } catch (const Error &e) {
        AddLog(e.description());
    }
    msgBox(this, QStringLiteral("Done."), Prompter::Icon::Information);
}

void frmOptions::closeEvent(QCloseEvent *event)
{
    SaveWindow(this);
    event->accept();
}

} // namespace orv
