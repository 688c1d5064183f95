// The image-location window and the options window, driven through their controls.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/SharedState.h"
#include "core/Startup.h"
#include "core/frmOptions.h"
#include "core/frmServer.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;

namespace {
QString stored(const char *application, const char *section, const char *key)
{
    return settings().read(application, section, key);
}
} // namespace

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

    // OK stores the location trimmed and exactly as typed (a second OK of the reloaded window
    // changes nothing); the override takes effect at the next start.
    void serverWindowStoresTrimmedAsTyped()
    {
        frmServer *w = frmServer::instance();
        w->show();
        w->txtServerName->setText("  /srv/images  ");
        w->txtServerFolder->setText("O'Brien wing");
        w->chkOverrideImgPath->setChecked(true);
        state().chkOverrideImgPath = "0";
        w->btnOk->click();
        QCOMPARE(m_prompter->messages(), QStringList{"Server Info successfully updated!"});
        QCOMPARE(state().Server_Name, u"/srv/images"_s);
        QCOMPARE(state().Server_Folder, u"O'Brien wing"_s);
        QCOMPARE(state().chkOverrideImgPath, u"0"_s);
        QCOMPARE(stored("velmorPacs", "ServerInfo", "Server_Folder"), u"O'Brien wing"_s);
        QCOMPARE(stored("velmorPacs", "ServerInfo", "chkOverrideImgPath"), u"1"_s);
        QTRY_VERIFY(!w->isVisible());
        w = frmServer::instance();
        w->show();
        w->btnOk->click();
        QCOMPARE(stored("velmorPacs", "ServerInfo", "Server_Folder"), u"O'Brien wing"_s);
    }

    // OK stores every field; what only takes effect at the next start stays as it is for this run,
    // and the window loaded again shows what was stored.
    void optionsWindowSavesAndReloads()
    {
        frmOptions *w = frmOptions::instance();
        w->show();
        state().AcquireModalityCode = "US";
        state().UsePacsDBExamCodes = 1;
        w->txtModalityCode->clear();
        typeText(w->txtModalityCode, "ES ");
        w->chkUsePacsDBExamCodes->setChecked(false);
        w->chkUseHospPat->setChecked(true);
        w->txtTempFolder->setText("/tmp/caps ");
        w->txtCompanyName->setText("St. Luke's Medical");
        w->Command1->click();
        QCOMPARE(stored("Orvaline", "Main", "AcquireModalityCode"), u"ES "_s);
        QCOMPARE(stored("Orvaline", "Main", "UsePacsDBExamCodes"), u"0"_s);
        QCOMPARE(stored("Orvaline", "Main", "chkUseHospPat"), u"1"_s);
        QCOMPARE(stored("VelmorOrvaline", "Codec", "TempFolder"), u"/tmp/caps "_s);
        QCOMPARE(stored("VelmorPACS", "Main", "CompanyName"), u"St. Luke's Medical"_s);
        QCOMPARE(state().UsePacsDBExamCodes, 0);
        QCOMPARE(state().TempFolder, u"/tmp/caps "_s);
        // The list filter and the patient source change at the next start.
        QCOMPARE(state().AcquireModalityCode, u"US"_s);
        QCOMPARE(state().chkUseHospPat, 0);
        QTRY_VERIFY(frmOptions::loaded() == nullptr);

        w = frmOptions::instance();
        QCOMPARE(w->txtModalityCode->text(), u"ES "_s);
        QVERIFY(w->chkUseHospPat->isChecked() && !w->chkUsePacsDBExamCodes->isChecked());
        w->close();
    }

    void resetButtonsDeleteOnlyTheirKeys()
    {
        SettingsStore &s = settings();
        s.write("Orvaline", "Main", "AcquireModalityCode", "CT");
        s.write("velmorPacs", "ServerInfo", "Server_Name", "/srv");
        s.write("VelmorPACS", "Main", "CompanyName", "X");
        s.write("PACS", "WindowSize", "Settings Width", "999");
        frmOptions *w = frmOptions::instance();
        w->cmdResetSettings->click();
        w->cmdResetSettings->click(); // nothing stored any more: no error
        QCOMPARE(readAcquireModalityCode(), u"US"_s);
        QCOMPARE(stored("velmorPacs", "ServerInfo", "Server_Name"), u"/srv"_s);
        QCOMPARE(stored("VelmorPACS", "Main", "CompanyName"), u"X"_s);
        QCOMPARE(stored("PACS", "WindowSize", "Settings Width"), u"999"_s);
        w->cmdResetWindowPos->click();
        QCOMPARE(stored("PACS", "WindowSize", "Settings Width"), QString());
        QVERIFY(m_prompter->shown.isEmpty());
        delete w;
    }

    void closingSavesThePlacement()
    {
        frmOptions *w = frmOptions::instance();
        w->resize(611, 377);
        w->show();
        w->cmdCancel->click();
        w = frmOptions::instance();
        QCOMPARE(w->width(), 611);
        delete w;
    }
};

ORV_TEST_MAIN(tst_SettingsWindows)
#include "tst_settingswindows.moc"
