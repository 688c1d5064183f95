// The start-up routine of the workstation.
#include "acquisition/Registration.h"
#include "session/ExamSession.h"
#include "core/Database.h"
#include "core/OnlineIndexRunner.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/SharedState.h"
#include "core/Startup.h"
#include "dicomnet/OptionsBox.h"
#include "outside/Error.h"
#include "outside/LoginComponent.h"
#include "outside/Prompter.h"
#include "transactions/frmMain.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {

const char *usage =
    "Usage: orvaline [--demo] [--login CODE] [database options]\n"
    "       orvaline --add-user CODE --name \"FULL NAME\" [--dept CODE] [database options]\n"
    "\n"
    "  --demo                 seed the demonstration data once, use a demo image server folder and\n"
    "                         list the \"Test Pattern\" capture driver\n"
    "  --login CODE           log in as CODE with the password read from standard input\n"
    "  --add-user CODE        add an account; the password is read from standard input\n"
    "  --db sqlite|postgres|sqlserver, --db-host H, --db-port P, --db-name N, --db-user U,\n"
    "  --data-dir DIR         which database (default: the embedded files in the user's data folder);\n"
    "                         the password comes from ORVALINE_DB_PASSWORD or libpq's password file\n"
    "  --quit-when-shown      exit once the main window is shown (start-up timing)\n";

// The options of the command line. Database options are declared here so that the parser knows
// them; databaseConfig() reads them from the arguments.
struct CommandLine
{
    QCommandLineParser parser;
    const QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    const QCommandLineOption demo{QStringLiteral("demo")};
    const QCommandLineOption login{QStringLiteral("login"), QString(), QStringLiteral("code")};
    const QCommandLineOption addUser{QStringLiteral("add-user"), QString(), QStringLiteral("code")};
    const QCommandLineOption name{QStringLiteral("name"), QString(), QStringLiteral("name")};
    const QCommandLineOption dept{QStringLiteral("dept"), QString(), QStringLiteral("code")};
    const QCommandLineOption quitWhenShown{QStringLiteral("quit-when-shown")};

    CommandLine()
    {
        parser.addOptions({help, demo, login, addUser, name, dept, quitWhenShown});
        for (const char *db : {"db", "db-host", "db-port", "db-name", "db-user", "data-dir"})
            parser.addOption(QCommandLineOption(QLatin1String(db), QString(), QStringLiteral("value")));
    }

    // False when an option lacks its value. Options the program does not know are ignored, as
    // they always were; beside one of them a missing value goes unnoticed.
    bool parse(const QStringList &args)
    {
        return parser.parse(args) || !parser.unknownOptionNames().isEmpty();
    }
};

QString readPasswordLine()
{
    QTextStream in(stdin);
    return in.readLine();
}

int addUser(const CommandLine &cl, const QStringList &args)
{
    const QString code = cl.parser.value(cl.addUser);
    const QString name = cl.parser.value(cl.name);
    if (code.isEmpty() || name.isEmpty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    try {
        auto db = orv::openDepartmentDatabase(orv::databaseConfig(args));
        orv::LoginComponent::addUser(*db, code, name, readPasswordLine(), cl.parser.value(cl.dept));
        std::printf("Added the account %s.\n", qPrintable(orv::LoginComponent::normalizedCode(code)));
        return 0;
    } catch (const orv::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvaline"));
    QApplication::setApplicationDisplayName(QStringLiteral("Orvaline"));
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = QApplication::arguments();
    CommandLine cl;
    const bool parsed = cl.parse(args);

    // Also where "--help" would be taken as the value of the option before it.
    if (cl.parser.isSet(cl.help) || args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (!parsed) {
        std::fprintf(stderr, "%s\n", qPrintable(cl.parser.errorText()));
        std::fputs(usage, stderr);
        return 2;
    }
    if (cl.parser.isSet(cl.addUser))
        return addUser(cl, args);

    const bool demo = cl.parser.isSet(cl.demo);
    orv::registerAcquisitionWindows(demo);
    orv::OptionsBox::offerToOptions();

    orv::StartupOptions options;
    options.arguments = args;
    options.demo = demo;
    if (cl.parser.isSet(cl.login))
        options.scriptedLogin = std::make_pair(cl.parser.value(cl.login), readPasswordLine());
    options.showMain = [] {
        orv::frmMain *w = orv::frmMain::instance();
        w->show();
        // What earlier runs left in the send queue is delivered from now on.
        orv::SendQueueRunner::instance().start(orv::state().db().config());
        // The index builds a schema upgrade left to run while the workstations work.
        orv::OnlineIndexRunner::instance().start(orv::state().db().config());
        return w;
    };

    QWidget *mainWindow = nullptr;
    try {
        mainWindow = orv::runStartup(options);
    } catch (const orv::Error &e) {
        orv::msgBox(nullptr, e.description(), orv::Prompter::Icon::Critical);
        return 1;
    }
    if (!mainWindow) {
        // The login failed or was cancelled: no window. A scripted login says why. The login
        // component goes before the application object does.
        const QString why = orv::state().LoginComponent ? orv::state().LoginComponent->lastError() : QString();
        orv::resetState();
        if (options.scriptedLogin && !why.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        return 0;
    }

    if (cl.parser.isSet(cl.quitWhenShown)) {
        QTimer::singleShot(0, &app, [&clock] {
            std::printf("main window shown after %lld ms\n", static_cast<long long>(clock.elapsed()));
            QApplication::quit();
        });
    }
    const int rc = QApplication::exec();
    // Work still running is stopped at its next safe point (a save after the file it is storing)
    // and its results are shown; then the connection and the login component go, all before the
    // application object does.
    orv::SendQueueRunner::instance().stop();
    orv::OnlineIndexRunner::instance().stop();
    orv::resetSession();
    orv::resetState();
    return rc;
}
