#pragma once

// What the two parts of orvaline-cli share: the usage text, argument parsing, printing, and
// the guard that turns errors into exit statuses (0 success, 1 failure, 2 bad arguments).

#include "outside/Error.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <cstdio>
#include <exception>

namespace orv::cli {

inline const char *const kUsage =
    "usage:\n"
    "  orvaline-cli dicomize --out DIR [--patient-name N] [--patient-id ID] [--birth-date D] [--sex S]\n"
    "                        [--accession A] [--study-uid U] [--series-uid U] [--modality M]\n"
    "                        [--ts explicit|jpeg51] [--quality Q] PICTURE...\n"
    "  orvaline-cli send --host H --port P [--aet CALLING] --aec CALLED FILE...\n"
    "  orvaline-cli worklist --host H --port P --aec CALLED [--aet VELMOR] [--patient-name X]\n"
    "                        [--patient-id I] [--date D] [--modality M] [--accession A] [--branch B]\n"
    "  orvaline-cli mpps --host H --port P [--aet CALLING] --aec CALLED [--discontinue CODE] FILE...\n"
    "  orvaline-cli dump FILE...\n"
    "  orvaline-cli dicomdir --out DIR FILE...\n"
    "  orvaline-cli print --host H --port P [--aet A] --aec C [--format F] [--orientation O]\n"
    "                     [--film-size S] [--magnification M] FILE...\n"
    "  orvaline-cli render --out DIR [--frame N] [--window W --level L] [--size WxH] FILE...\n"
    "send, worklist, mpps and print use DICOM TLS with --tls-ca CA-FILE [--tls-cert CERT --tls-key KEY].\n";

struct UsageError
{
    QString message;
};

struct Args
{
    QHash<QString, QString> options;
    QStringList files;

    QString value(const QString &name, const QString &def = QString()) const { return options.value(name, def); }
    QString required(const QString &name) const
    {
        if (!options.contains(name) || options.value(name).isEmpty())
            throw UsageError{QStringLiteral("--%1 is required").arg(name)};
        return options.value(name);
    }
    int number(const QString &name, int def, int low, int high) const
    {
        if (!options.contains(name))
            return def;
        bool ok = false;
        const int v = options.value(name).toInt(&ok);
        if (!ok || v < low || v > high)
            throw UsageError{QStringLiteral("--%1 must be a number from %2 to %3").arg(name).arg(low).arg(high)};
        return v;
    }
};

// -h or --help anywhere after the command: the usage is printed on stdout and the exit status is 0.
struct HelpRequested
{
};

inline Args parse(const QStringList &argv, const QSet<QString> &allowed, bool needFiles)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(help);
    for (const QString &name : allowed)
        parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("value")));
    if (!parser.parse(QStringList{QStringLiteral("orvaline-cli")} + argv)) {
        if (argv.contains(QStringLiteral("--help")) || argv.contains(QStringLiteral("-h")))
            throw HelpRequested{};
        throw UsageError{parser.errorText()};
    }
    if (parser.isSet(help))
        throw HelpRequested{};
    Args a;
    for (const QString &name : allowed)
        if (parser.isSet(name))
            a.options.insert(name, parser.value(name));
    a.files = parser.positionalArguments();
    if (needFiles && a.files.isEmpty())
        throw UsageError{QStringLiteral("no file given")};
    return a;
}

// `text` with every control character (C0, DEL, C1: terminal escapes, line breaks, tabs) but
// those in `keep` shown as U+FFFD, so that what a file or a peer holds cannot drive the terminal
// or break the line structure of the output.
inline QString printable(QString text, QStringView keep = {})
{
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control && !keep.contains(c))
            c = QChar(0xFFFD);
    return text;
}

inline void write(std::FILE *to, const QString &line)
{
    const QByteArray b = printable(line, u"\t").toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), to);
    std::fputc('\n', to);
}

// A line on stdout: what was done.
inline void out(const QString &line) { write(stdout, line); }
// A line on stderr: a file that failed, or a value the toolkit changed.
inline void err(const QString &line) { write(stderr, line); }

// Runs a command, turning what it throws into its message and exit status.
inline int guarded(int (*command)(const QStringList &), const QStringList &args)
{
    try {
        return command(args);
    } catch (const HelpRequested &) {
        std::fputs(kUsage, stdout);
        return 0;
    } catch (const UsageError &e) {
        std::fprintf(stderr, "orvaline-cli: %s\n%s", qPrintable(e.message), kUsage);
        return 2;
    } catch (const orv::Error &e) {
        err(e.description());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

} // namespace orv::cli
