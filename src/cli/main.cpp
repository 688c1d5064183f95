// orvaline-cli: argument parsing and printing over the DICOM toolkit layer; the work is done
// there. Exit status: 0 success, 1 failure (its description on stderr), 2 bad arguments.

#include "outside/dicom/DicomDir.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Network.h"
#include "outside/dicom/Rendering.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <cstdio>

using namespace orv::dicom;

namespace {

const char *const kUsage =
    "usage:\n"
    "  orvaline-cli dicomize --out DIR [--patient-name N] [--patient-id ID] [--birth-date D] [--sex S]\n"
    "                        [--accession A] [--study-uid U] [--series-uid U] [--modality M]\n"
    "                        [--ts explicit|jpeg51] [--quality Q] PICTURE...\n"
    "  orvaline-cli send --host H --port P [--aet CALLING] --aec CALLED FILE...\n"
    "  orvaline-cli worklist --host H --port P --aec CALLED [--aet VELMOR] [--patient-name X]\n"
    "                        [--patient-id I] [--date D] [--modality M] [--accession A] [--branch B]\n"
    "  orvaline-cli dump FILE...\n"
    "  orvaline-cli dicomdir --out DIR FILE...\n"
    "  orvaline-cli print --host H --port P [--aet A] --aec C [--format F] [--orientation O]\n"
    "                     [--film-size S] [--magnification M] FILE...\n"
    "  orvaline-cli render --out DIR [--frame N] [--window W --level L] [--size WxH] FILE...\n";

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

Args parse(const QStringList &argv, const QSet<QString> &allowed, bool needFiles)
{
    Args a;
    for (int i = 0; i < argv.size(); ++i) {
        const QString &arg = argv.at(i);
        if (arg.startsWith(QLatin1String("--"))) {
            QString name = arg.mid(2), value;
            const int eq = int(name.indexOf(QLatin1Char('=')));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name.truncate(eq);
            } else {
                if (i + 1 >= argv.size())
                    throw UsageError{QStringLiteral("--%1 needs a value").arg(name)};
                value = argv.at(++i);
            }
            if (!allowed.contains(name))
                throw UsageError{QStringLiteral("unknown option --%1").arg(name)};
            a.options.insert(name, value);
        } else {
            a.files << arg;
        }
    }
    if (needFiles && a.files.isEmpty())
        throw UsageError{QStringLiteral("no file given")};
    return a;
}

void out(const QString &line)
{
    const QByteArray b = line.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fputc('\n', stdout);
}

int dicomize(const QStringList &argv)
{
    const Args a = parse(argv, {"out", "patient-name", "patient-id", "birth-date", "sex", "accession", "study-uid",
                                "series-uid", "modality", "ts", "quality"},
                         true);
    const QString dir = a.required(QStringLiteral("out"));
    const QString ts = a.value(QStringLiteral("ts"), QStringLiteral("explicit"));
    if (ts != QLatin1String("explicit") && ts != QLatin1String("jpeg51"))
        throw UsageError{QStringLiteral("--ts must be explicit or jpeg51")};
    const int quality = a.number(QStringLiteral("quality"), 100, 1, 100);
    if (!QDir().mkpath(dir))
        fail(QStringLiteral("Cannot create the directory %1.").arg(dir));
    const QString studyUid = a.value(QStringLiteral("study-uid"), newUid());
    const QString seriesUid = a.value(QStringLiteral("series-uid"), newUid());
    int number = 0;
    for (const QString &picture : a.files) {
        Image img;
        img.setStudyUid(studyUid);
        img.setSeriesUid(seriesUid);
        img.setInstanceUid(newUid());
        img.add(0x0010, 0x0010, a.value(QStringLiteral("patient-name")));
        img.setDescription(a.value(QStringLiteral("patient-name")));
        img.add(0x0010, 0x0020, a.value(QStringLiteral("patient-id")));
        img.add(0x0010, 0x0030, a.value(QStringLiteral("birth-date")));
        img.add(0x0010, 0x0040, a.value(QStringLiteral("sex")));
        img.add(0x0008, 0x0050, a.value(QStringLiteral("accession")));
        img.add(0x0008, 0x0060, a.value(QStringLiteral("modality"), QStringLiteral("OT")));
        img.add(0x0020, 0x0013, QString::number(++number));
        img.add(0x0020, 0x0011, QStringLiteral("1"));
        const QFileInfo info(picture);
        img.importPicture(picture, info.suffix());
        const QString target = QDir(dir).filePath(info.baseName() + QStringLiteral(".dcm"));
        img.writeFile(target, QLatin1String(ts == QLatin1String("jpeg51") ? kJpegExtended : kExplicitLittleEndian), quality);
        out(target);
    }
    return 0;
}

int send(const QStringList &argv)
{
    const Args a = parse(argv, {"host", "port", "aet", "aec"}, true);
    const QString host = a.required(QStringLiteral("host"));
    const int port = a.number(QStringLiteral("port"), -1, 1, 65535);
    if (port < 0)
        throw UsageError{QStringLiteral("--port is required")};
    const QString called = a.required(QStringLiteral("aec"));
    StoreScu scu(host, port, a.value(QStringLiteral("aet"), QStringLiteral("ORVALINE")), called);
    bool allGood = true;
    for (const QString &file : a.files) {
        Image img = Image::fromFile(file);
        const int status = scu.send(img);
        out(QStringLiteral("%1\t%2").arg(file).arg(status));
        allGood = allGood && status == 0;
    }
    return allGood ? 0 : 1;
}

int worklist(const QStringList &argv)
{
    const Args a = parse(argv, {"host", "port", "aec", "aet", "patient-name", "patient-id", "date", "modality",
                                "accession", "branch"},
                         false);
    if (!a.files.isEmpty())
        throw UsageError{QStringLiteral("unexpected argument %1").arg(a.files.first())};
    const int port = a.number(QStringLiteral("port"), -1, 1, 65535);
    if (port < 0)
        throw UsageError{QStringLiteral("--port is required")};
    WorklistScu scu(a.required(QStringLiteral("host")), port, a.required(QStringLiteral("aec")),
                    a.value(QStringLiteral("aet"), QStringLiteral("VELMOR")));
    const DataSet id = WorklistScu::standardIdentifier(a.value(QStringLiteral("patient-name")), a.value(QStringLiteral("patient-id")),
                                                       a.value(QStringLiteral("date")), a.value(QStringLiteral("modality")),
                                                       a.value(QStringLiteral("accession")), a.value(QStringLiteral("branch")));
    for (const DataSet &answer : scu.run(id))
        out(WorklistScu::gridRow(answer).join(QLatin1Char('\t')));
    return 0;
}

int dump(const QStringList &argv)
{
    const Args a = parse(argv, {}, true);
    for (const QString &file : a.files) {
        QString text;
        dumpAttributes(text, QString(), Image::fromFile(file).attributes());
        const QByteArray b = text.toUtf8();
        std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    }
    return 0;
}

int dicomdir(const QStringList &argv)
{
    const Args a = parse(argv, {"out"}, true);
    DicomDirWriter writer(a.required(QStringLiteral("out")));
    int i = 0;
    for (const QString &file : a.files) {
        Image img = Image::fromFile(file);
        const QString rel = QStringLiteral("IMAGES/IMG%1").arg(++i);
        writer.addImage(img, rel);
        out(QDir(a.value(QStringLiteral("out"))).filePath(rel));
    }
    writer.write();
    out(QDir(a.value(QStringLiteral("out"))).filePath(QStringLiteral("DICOMDIR")));
    return 0;
}

int print(const QStringList &argv)
{
    const Args a = parse(argv, {"host", "port", "aet", "aec", "format", "orientation", "film-size", "magnification"}, true);
    const int port = a.number(QStringLiteral("port"), -1, 1, 65535);
    if (port < 0)
        throw UsageError{QStringLiteral("--port is required")};
    const QString host = a.required(QStringLiteral("host"));
    const QString called = a.required(QStringLiteral("aec"));
    QList<Image> images;
    for (const QString &file : a.files)
        images << Image::fromFile(file);
    FilmPrinter printer(host, port, called, a.value(QStringLiteral("aet"), QStringLiteral("ORVALINE")));
    printer.open();
    printer.setDisplayFormat(a.value(QStringLiteral("format"), QStringLiteral("STANDARD\\1,1")));
    printer.setOrientation(a.value(QStringLiteral("orientation"), QStringLiteral("PORTRAIT")));
    printer.setFilmSize(a.value(QStringLiteral("film-size"), QStringLiteral("8INX10IN")));
    printer.filmBoxAttributes().add(0x2010, 0x0060, a.value(QStringLiteral("magnification"), QStringLiteral("NONE")));
    for (Image &img : images)
        printer.printImage(img, false, true);
    printer.close();
    out(QStringLiteral("%1 image(s) printed on %2 film(s)").arg(images.size()).arg(printer.filmsPrinted()));
    return 0;
}

// Writes DIR/<base name>.png (frame N: <base name>-N.png) per file, as the viewer draws it.
// Every file is tried; the status is 1 when any failed (each failure on stderr).
int render(const QStringList &argv)
{
    const Args a = parse(argv, {"out", "frame", "window", "level", "size"}, true);
    const QDir dir(a.required(QStringLiteral("out")));
    const int frame = a.number(QStringLiteral("frame"), 0, 1, 1 << 30);
    std::optional<RenderWindow> window;
    if (a.options.contains(QStringLiteral("window")) != a.options.contains(QStringLiteral("level")))
        throw UsageError{QStringLiteral("--window and --level go together")};
    if (a.options.contains(QStringLiteral("window"))) {
        bool okW = false, okL = false;
        window = RenderWindow{a.value(QStringLiteral("window")).toDouble(&okW), a.value(QStringLiteral("level")).toDouble(&okL)};
        if (!okW || !okL || window->width < 1)
            throw UsageError{QStringLiteral("--window must be a number of at least 1 and --level a number")};
    }
    QSize size;
    if (a.options.contains(QStringLiteral("size"))) {
        const QStringList wh = a.value(QStringLiteral("size")).toLower().split(QLatin1Char('x'));
        size = QSize(wh.value(0).toInt(), wh.value(1).toInt());
        if (wh.size() != 2 || size.width() < 1 || size.height() < 1 || size.width() > 16384 || size.height() > 16384)
            throw UsageError{QStringLiteral("--size must be WxH, for example 128x128")};
    }
    if (!QDir().mkpath(dir.path()))
        throw orv::Error(QStringLiteral("Cannot create %1").arg(dir.path()));
    int failures = 0;
    for (const QString &file : a.files) {
        const QString name = QFileInfo(file).completeBaseName() + (frame > 0 ? QStringLiteral("-%1").arg(frame) : QString())
                             + QStringLiteral(".png");
        try {
            const QImage picture = renderTile(Image::fromFile(file), frame > 0 ? frame - 1 : 0, window, size);
            const QString target = dir.filePath(name);
            QFile::remove(target);
            if (!picture.save(target + QStringLiteral(".part"), "PNG") || !QFile::rename(target + QStringLiteral(".part"), target)) {
                QFile::remove(target + QStringLiteral(".part"));
                throw orv::Error(QStringLiteral("Cannot write %1").arg(target));
            }
            out(target);
        } catch (const std::exception &e) {
            ++failures;
            std::fprintf(stderr, "%s: %s\n", qPrintable(file), qPrintable(orv::describe(e)));
        }
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString command = args.value(0);
    if (!args.isEmpty())
        args.removeFirst();
    const QHash<QString, int (*)(const QStringList &)> commands{
        {QStringLiteral("dicomize"), dicomize}, {QStringLiteral("send"), send},         {QStringLiteral("worklist"), worklist},
        {QStringLiteral("dump"), dump},         {QStringLiteral("dicomdir"), dicomdir}, {QStringLiteral("print"), print},
        {QStringLiteral("render"), render}};
    try {
        if (!commands.contains(command))
            throw UsageError{command.isEmpty() ? QStringLiteral("no command given") : QStringLiteral("unknown command %1").arg(command)};
        return commands.value(command)(args);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "orvaline-cli: %s\n%s", qPrintable(e.message), kUsage);
        return 2;
    } catch (const orv::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
