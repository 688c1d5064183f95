// Renders the workstation's windows with demo data into PNG files for the documentation:
//   xvfb-run -a build/tests/tools/orv_screenshots docs/screenshots
#include "acquisition/Registration.h"
#include "acquisition/frmAcquire.h"
#include "core/Database.h"
#include "core/SharedState.h"
#include "core/Startup.h"
#include "core/frmLog.h"
#include "core/frmOptions.h"
#include "core/frmServer.h"
#include "core/CoreRoutines.h"
#include "dicomnet/OptionsBox.h"
#include "outside/LoginDialog.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/CaptureDriver.h"
#include "transactions/frmMain.h"
#include "transactions/frmTransaction.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace orv;

namespace {
void save(QWidget *w, const QString &folder, const QString &name)
{
    w->show();
    w->raise();
    QTest::qWait(300);
    w->grab().save(QDir(folder).filePath(name));
}
} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(out);

    ConnectionConfig config;
    config.dataFolder = QDir(perUserDataFolder()).filePath(QStringLiteral("databases"));
    {
        auto db = openDepartmentDatabase(config);
        seedDemoData(*db);
        LoginComponent::addUser(*db, QStringLiteral("TECH1"), QStringLiteral("Joy Manalo"), QStringLiteral("demo-password"));
        LoginDialog login(*db);
        save(&login, out, QStringLiteral("login.png"));
    }
    OptionsBox::registerWindow();
    StartupOptions options;
    options.arguments = {QStringLiteral("orvaline"), QStringLiteral("--demo")};
    options.demo = true;
    options.scriptedLogin = std::make_pair(QStringLiteral("TECH1"), QStringLiteral("demo-password"));
    options.showMain = [] { return frmMain::instance(); };
    QWidget *main = runStartup(options);
    main->resize(1280, 720);
    QTest::qWait(200);
    save(main, out, QStringLiteral("main.png"));
    frmMain::instance()->OpenCurrent();
    frmTransaction *editor = frmTransaction::instance();
    editor->resize(960, 760);
    save(editor, out, QStringLiteral("transaction.png"));
    // The capture station on the test pattern, connected through its driver picker.
    registerAcquisitionWindows(true);
    capture::setDeviceScanEnabled(false);
    frmAcquire *acquire = frmAcquire::instance();
    acquire->show();
    acquire->Command2->click();
    acquire->resize(980, 600);
    QTest::qWait(600);
    save(acquire, out, QStringLiteral("acquire.png"));
    acquire->close();
    save(frmOptions::instance(), out, QStringLiteral("options.png"));
    save(frmServer::instance(), out, QStringLiteral("server.png"));
    OptionsBox *dicom = OptionsBox::instance();
    save(dicom, out, QStringLiteral("dicom-settings.png"));
    dicom->SSTab1->setCurrentIndex(1);
    save(dicom, out, QStringLiteral("dicom-settings-query.png"));
    dicom->SSTab1->setCurrentIndex(3);
    save(dicom, out, QStringLiteral("dicom-settings-printing.png"));
    dicom->hide();
    AddLog(QStringLiteral("Update DB: column names in each table must be unique."));
    save(frmLog::instance(), out, QStringLiteral("log.png"));
    resetState();
    return 0;
}
