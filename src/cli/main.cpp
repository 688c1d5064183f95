// orvaline-cli: argument parsing and printing over the DICOM toolkit layer; the work is done
// there. Exit status: 0 success (also for --help, which prints the usage on stdout), 1 failure
// (its description on stderr), 2 bad arguments.
// `dump` lives here and needs only the data part of the layer; the other commands are in the
// module next to this program (Commands.cpp), loaded when one of them is asked for, so that a
// dump does not load the network, imaging and GUI libraries.

#include "Arguments.h"

#include "outside/dicom/Dump.h"
#include "outside/dicom/Toolkit.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>

using namespace orv::cli;

namespace {

int dump(const QStringList &argv)
{
    const Args a = parse(argv, {}, true);
    bool allGood = true;
    for (const QString &file : a.files) {
        try {
            const QByteArray b = printable(orv::dicom::dumpFile(file), u"\n").toUtf8();
            std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
        } catch (const orv::Error &e) {
            std::fflush(stdout);
            err(QStringLiteral("%1: %2").arg(file, e.description()));
            allGood = false;
        }
    }
    return allGood ? 0 : 1;
}

using ModuleCommand = int (*)(const char *command, const QStringList &args);

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString command = args.value(0);
    if (!args.isEmpty())
        args.removeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == QLatin1String("dump")) {
        orv::dicom::deferPrivateDictionary();
        return guarded(dump, args);
    }
    static const QSet<QString> others{QStringLiteral("dicomize"), QStringLiteral("send"), QStringLiteral("worklist"), QStringLiteral("mpps"),
                                      QStringLiteral("dicomdir"), QStringLiteral("print"), QStringLiteral("render")};
    if (!others.contains(command)) {
        std::fprintf(stderr, "orvaline-cli: %s\n%s",
                     qPrintable(command.isEmpty() ? QStringLiteral("no command given")
                                                  : QStringLiteral("unknown command %1").arg(command)),
                     kUsage);
        return 2;
    }
    QCoreApplication app(argc, argv);
    QLibrary module(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("orvaline-cli-commands")));
    const auto run = reinterpret_cast<ModuleCommand>(module.resolve("orvalineCliCommand"));
    if (!run) {
        err(QStringLiteral("Cannot load the commands of orvaline-cli: %1").arg(module.errorString()));
        return 1;
    }
    return run(command.toLatin1().constData(), args);
}
