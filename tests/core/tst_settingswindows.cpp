// The image-location and options windows, driven through their controls.
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

    // "Maintenance Mode" is what the image list and frame capture read; it holds only while the
    // options window that ticked it is open.
    void maintenanceModeLastsWhileOptionsAreOpen()
    {
        frmOptions *w = frmOptions::instance();
        w->show();
        w->chkDebugMode->setChecked(true);
        QVERIFY(state().MaintenanceMode);
        w->cmdCancel->click();
        QTRY_VERIFY(!frmOptions::loaded());
        QVERIFY(!state().MaintenanceMode);
        QVERIFY(!frmOptions::instance()->chkDebugMode->isChecked());
        delete frmOptions::loaded();
    }
};

ORV_TEST_MAIN(tst_SettingsWindows)
#include "tst_settingswindows.moc"
