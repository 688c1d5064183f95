// orv_bench_burn <staged folder> <image file> [portable]
// Drives the burning window offscreen: valDirPath is the staged folder, the drive libburn's
// stdio: pseudo drive writing the image file; with "portable" the portable-disc files (DICOMDIR,
// README.TXT, INDEX.HTM) are added as the setting's default does. Prints the wall time from the
// "Burn" click to the result line, the result, and the longest gap of the GUI event loop meanwhile
// (a 5 ms timer).
#include "core/SharedState.h"
#include "imagestore/neroFiddlesCOMForm.h"
#include "outside/SettingsStore.h"
#include "outside/burn/Burner.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace orv;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s <staged folder> <image file> [portable]\n", argv[0]);
        return 2;
    }
    const bool portable = args.size() > 3 && args[3] == QLatin1String("portable");
    settings().write(apps::VelmorOrvaline, QStringLiteral("Burn"), QStringLiteral("PortableDisc"),
                     portable ? QStringLiteral("1") : QStringLiteral("0"));
    burn::Burner::addPseudoDrive(QStringLiteral("stdio:") + args[2], QStringLiteral("Bench image"));

    neroFiddlesCOMForm *w = neroFiddlesCOMForm::instance();
    w->valDirPath = args[1].endsWith(QLatin1Char('/')) ? args[1] : args[1] + QLatin1Char('/');
    w->valStudyID = QStringLiteral("BENCH1");
    {
        QEventLoop shown;
        QObject::connect(w, &neroFiddlesCOMForm::drivesShown, &shown, &QEventLoop::quit);
        w->show();
        shown.exec();
    }
    const auto items = w->AvailableDevices->findItems(QStringLiteral("Bench image"), Qt::MatchExactly);
    if (items.isEmpty()) {
        std::fprintf(stderr, "the pseudo drive is not listed\n");
        return 1;
    }
    w->AvailableDevices->setCurrentItem(items.first());

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    QEventLoop loop;
    int result = -1;
    QObject::connect(w, &neroFiddlesCOMForm::burnDone, &loop, [&](int r) {
        result = r;
        loop.quit();
    });
    QElapsedTimer wall;
    if (qEnvironmentVariableIsSet("ORV_BENCH_TRACE")) {
        QObject::connect(w->nero.data(), &burn::Burner::OnSetPhase, [&](const QString &t) {
            std::fprintf(stderr, "%8.3f %s\n", wall.nsecsElapsed() / 1e9, qPrintable(t));
        });
        QObject::connect(w->nero.data(), &burn::Burner::OnAddLogLine, [&](int, const QString &t) {
            std::fprintf(stderr, "%8.3f %s\n", wall.nsecsElapsed() / 1e9, qPrintable(t));
        });
    }
    sinceTick.start();
    tick.start(5);
    wall.start();
    w->Burn->click();
    loop.exec();
    const double seconds = wall.nsecsElapsed() / 1e9;
    tick.stop();
    std::printf("burn portable=%d result=%d seconds=%.3f longest_gap_ms=%lld\n", portable ? 1 : 0, result, seconds,
                static_cast<long long>(longestGap));
    // The staged folder is the caller's: the window is deleted without closing (closing would
    // delete the staging root of this scratch HOME only).
    delete w;
    return result == 0 ? 0 : 1;
}
