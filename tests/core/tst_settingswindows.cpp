// The image-location window and the options window, driven through their controls.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/SharedState.h"
#include "core/Startup.h"
#include "core/frmOptions.h"
#include "core/frmServer.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace orv;
using namespace orv::test;

class tst_SettingsWindows : public QObject
{
    Q_OBJECT
private:
    ScriptedPrompter *m_prompter = nullptr;

private slots:
    void init()
    {
        m_prompter = ScriptedPrompter::install();
        resetSettings();
        resetState();
    }

    void serverWindowLoadsDefaultsAndStoresQuoted()
    {
        frmServer *w = frmServer::instance();
        w->show();
        QCOMPARE(w->windowTitle(), QStringLiteral("Image Location Configuration"));
        QCOMPARE(w->txtServerName->text(), defaultTempFolder());
        QCOMPARE(w->txtServerFolder->text(), QStringLiteral("ACQUIRE"));
        QVERIFY(!w->chkOverrideImgPath->isChecked());
        QCOMPARE(w->btnClose->text(), QStringLiteral("&Close"));

        w->txtServerName->setText(QStringLiteral("  /srv/images  "));
        w->txtServerFolder->setText(QStringLiteral("O'Brien wing"));
        w->chkOverrideImgPath->setChecked(true);
        state().chkOverrideImgPath = QStringLiteral("0");
        w->btnOk->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Server Info successfully updated!"));
        QCOMPARE(m_prompter->shown.last().icon, Prompter::Icon::Information);
        QCOMPARE(m_prompter->shown.last().title, QString());
        QCOMPARE(state().Server_Name, QStringLiteral("/srv/images"));
        QCOMPARE(state().Server_Folder, QStringLiteral("O''Brien wing"));
        QCOMPARE(state().chkOverrideImgPath, QStringLiteral("0")); // takes effect at the next start
        SettingsStore &s = settings();
        QCOMPARE(s.read(QStringLiteral("velmorPacs"), QStringLiteral("ServerInfo"), QStringLiteral("Server_Folder")), QStringLiteral("O''Brien wing"));
        QCOMPARE(s.read(QStringLiteral("velmorPacs"), QStringLiteral("ServerInfo"), QStringLiteral("chkOverrideImgPath")), QStringLiteral("1"));
        QTRY_VERIFY(!w->isVisible());
    }

    void serverWindowEnterOrder()
    {
        frmServer *w = frmServer::instance();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        const QList<QWidget *> order = {w->txtServerName, w->txtServerFolder, w->txtSQLServer, w->txtDatabase,
                                        w->txtUser, w->txtPassword, w->btnOk};
        order.first()->setFocus();
        for (int i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), order[i]);
        }
        w->close();
    }

    void optionsWindowLoadsAndSavesInOrder()
    {
        frmOptions *w = frmOptions::instance();
        w->show();
        QCOMPARE(w->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(w->txtModalityCode->text(), QStringLiteral("US"));
        QCOMPARE(w->txtTempFolder->text(), defaultTempFolder());
        QVERIFY(!w->fraModality->isVisible());
        QVERIFY(!w->cmdAddHospNum->isVisible() && !w->cmdUpdate2->isVisible());
        QVERIFY(w->cmdUpdateDB->isVisible());
        QVERIFY(!w->cmdInitVmor->isEnabled());
        QCOMPARE(w->Command1->text(), QStringLiteral("&OK"));

        state().AcquireModalityCode = QStringLiteral("US");
        state().UsePacsDBExamCodes = 1;
        w->txtModalityCode->clear();
        typeText(w->txtModalityCode, QStringLiteral("ES "));
        w->chkUsePacsDBExamCodes->setChecked(false);
        w->chkUseHospPat->setChecked(true);
        w->txtTempFolder->setText(QStringLiteral("/tmp/caps "));
        w->txtCompanyName->setText(QStringLiteral("St. Luke's Medical"));
        w->Command1->click();
        SettingsStore &s = settings();
        QCOMPARE(s.read(QStringLiteral("Orvaline"), QStringLiteral("Main"), QStringLiteral("AcquireModalityCode")), QStringLiteral("ES "));
        QCOMPARE(s.read(QStringLiteral("Orvaline"), QStringLiteral("Main"), QStringLiteral("UsePacsDBExamCodes")), QStringLiteral("0"));
        QCOMPARE(s.read(QStringLiteral("Orvaline"), QStringLiteral("Main"), QStringLiteral("chkUseHospPat")), QStringLiteral("1"));
        QCOMPARE(s.read(QStringLiteral("VelmorOrvaline"), QStringLiteral("Codec"), QStringLiteral("TempFolder")), QStringLiteral("/tmp/caps "));
        QCOMPARE(s.read(QStringLiteral("VelmorPACS"), QStringLiteral("Main"), QStringLiteral("CompanyName")), QStringLiteral("St. Luke's Medical"));
        QCOMPARE(state().UsePacsDBExamCodes, 0);
        QCOMPARE(state().TempFolder, QStringLiteral("/tmp/caps "));
        QCOMPARE(state().CompanyName, QStringLiteral("St. Luke's Medical"));
        QCOMPARE(state().AcquireModalityCode, QStringLiteral("US")); // the list filter changes at the next start
        QCOMPARE(state().chkUseHospPat, 0);
        QTRY_VERIFY(frmOptions::loaded() == nullptr);

        // Reloaded, the window shows what was stored.
        w = frmOptions::instance();
        QCOMPARE(w->txtModalityCode->text(), QStringLiteral("ES "));
        QVERIFY(w->chkUseHospPat->isChecked());
        QVERIFY(!w->chkUsePacsDBExamCodes->isChecked());
        w->close();
    }

    void resetButtonsDeleteOnlyTheirKeys()
    {
        SettingsStore &s = settings();
        s.write(QStringLiteral("Orvaline"), QStringLiteral("Main"), QStringLiteral("AcquireModalityCode"), QStringLiteral("CT"));
        s.write(QStringLiteral("velmorPacs"), QStringLiteral("ServerInfo"), QStringLiteral("Server_Name"), QStringLiteral("/srv"));
        s.write(QStringLiteral("VelmorPACS"), QStringLiteral("Main"), QStringLiteral("CompanyName"), QStringLiteral("X"));
        s.write(QStringLiteral("PACS"), QStringLiteral("WindowSize"), QStringLiteral("Settings Width"), QStringLiteral("999"));
        frmOptions *w = frmOptions::instance();
        w->cmdResetSettings->click();
        w->cmdResetSettings->click(); // nothing stored any more: no error
        QCOMPARE(readAcquireModalityCode(), QStringLiteral("US"));
        QCOMPARE(s.read(QStringLiteral("velmorPacs"), QStringLiteral("ServerInfo"), QStringLiteral("Server_Name")), QStringLiteral("/srv"));
        QCOMPARE(s.read(QStringLiteral("VelmorPACS"), QStringLiteral("Main"), QStringLiteral("CompanyName")), QStringLiteral("X"));
        QCOMPARE(s.read(QStringLiteral("PACS"), QStringLiteral("WindowSize"), QStringLiteral("Settings Width")), QStringLiteral("999"));
        w->cmdResetWindowPos->click();
        QCOMPARE(s.read(QStringLiteral("PACS"), QStringLiteral("WindowSize"), QStringLiteral("Settings Width")), QString());
        QVERIFY(m_prompter->shown.isEmpty());
        delete w;
    }

    void closingSavesThePlacement()
    {
        frmOptions *w = frmOptions::instance();
        w->resize(611, 377);
        w->show();
        w->cmdCancel->click();
        QCOMPARE(settings().read(QStringLiteral("PACS"), QStringLiteral("WindowSize"), QStringLiteral("Settings Width")), QStringLiteral("611"));
        w = frmOptions::instance();
        QCOMPARE(w->width(), 611);
        delete w;
    }
};

ORV_TEST_MAIN(tst_SettingsWindows)
#include "tst_settingswindows.moc"
