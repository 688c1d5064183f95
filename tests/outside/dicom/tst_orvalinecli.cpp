// orvaline-cli as scripts drive it: exit statuses, printed lines and the files it writes.

#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"

#include <QDir>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;
using namespace Qt::StringLiterals;

namespace {
ToolResult cli(const QStringList &args) { return runTool(QStringLiteral(ORV_CLI), args); }
} // namespace

class TestOrvalineCli : public QObject
{
    Q_OBJECT

private slots:
    void commandsOverManyFilesTryEveryFile();
    void dicomizeReportsChangedValues();

private:
    QTemporaryDir m_dir;
};

// One bad file among many: the others are still done, each failure is one line naming the
// file and what is wrong with it, and the exit status is 1.
void TestOrvalineCli::commandsOverManyFilesTryEveryFile()
{
    QStringList good;
    for (int i = 0; i < 2; ++i) {
        const QString pic = m_dir.filePath(u"many%1.bmp"_s.arg(i));
        QVERIFY(greyPicture(24, 24, i).save(pic, "BMP"));
        Image img;
        img.importPicture(pic);
        good << m_dir.filePath(u"many%1.dcm"_s.arg(i));
        img.writeFile(good.last());
    }
    const QString empty = m_dir.filePath(u"empty.dcm"_s), folder = m_dir.filePath(u"afolder"_s),
                  missing = m_dir.filePath(u"missing.dcm"_s);
    QFile(empty).open(QIODevice::WriteOnly);
    QDir().mkpath(folder);
    const QString j2k = u"/usr/lib/python3/dist-packages/pydicom/data/test_files/JPEG2000.dcm"_s;

    ToolResult r = cli({u"dump"_s, folder, good.at(0), missing, empty, good.at(1)});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, dumpFile(good.at(0)) + dumpFile(good.at(1)));
    QCOMPARE(r.err.split(u'\n', Qt::SkipEmptyParts),
             QStringList({u"%1: Cannot read %1: it is a folder, not a file."_s.arg(folder),
                          u"%1: Cannot read %1: the file does not exist."_s.arg(missing),
                          u"%1: Cannot read %1: the file is empty."_s.arg(empty)}));

    // The export skips what it cannot take (a second object of one instance UID among them:
    // a DICOMDIR lists it once) and is a whole DICOMDIR of the rest; a JPEG 2000 image, which
    // the toolkit cannot convert, is written decoded.
    const QString out = m_dir.filePath(u"SKIP"_s);
    r = cli({u"dicomdir"_s, u"--out"_s, out, good.at(0), empty, j2k, good.at(0), good.at(1)});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, u"%1/IMAGES/IMG1\n%1/IMAGES/IMG2\n%1/IMAGES/IMG3\n%1/DICOMDIR\n"_s.arg(out));
    const QStringList err = r.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(err.size(), 2);
    QVERIFY2(err.at(0).startsWith(empty + u": skipped: "_s) && err.at(0).contains(u"empty"_s), qPrintable(err.at(0)));
    QVERIFY2(err.at(1).startsWith(good.at(0) + u": skipped: \"IMAGES/IMG3\" is not exported: its SOP Instance UID "_s)
                 && err.at(1).endsWith(u"is that of IMAGES/IMG1, already exported."_s),
             qPrintable(err.at(1)));
    QCOMPARE(QDir(out + u"/IMAGES"_s).entryList(QDir::Files), QStringList({u"IMG1"_s, u"IMG2"_s, u"IMG3"_s}));
    QCOMPARE(dciodvfyErrors(out + u"/DICOMDIR"_s), QStringList());
    QCOMPARE(runTool(u"dcmdump"_s, {out + u"/DICOMDIR"_s}).out.count(u"[IMAGE]"_s), 3);
    QCOMPARE(Image::fromFile(out + u"/IMAGES/IMG2"_s).instanceUid(), Image::fromFile(j2k).instanceUid());
    QCOMPARE(Image::fromFile(out + u"/IMAGES/IMG3"_s).instanceUid(), Image::fromFile(good.at(1)).instanceUid());
}

// Values a script gives that an object cannot hold are changed, never invented, and each
// change is listed on stderr under the file it went into.
void TestOrvalineCli::dicomizeReportsChangedValues()
{
    const QString pic = m_dir.filePath(u"hostile.bmp"_s), out = m_dir.filePath(u"hostile"_s);
    QVERIFY(greyPicture(24, 24, 3).save(pic, "BMP"));
    const ToolResult r = cli({u"dicomize"_s, u"--out"_s, out, u"--birth-date"_s, u"13/45/2000"_s, u"--sex"_s, u"X"_s,
                              u"--patient-name"_s, QString(200, u'Q') + u"^JO"_s, m_dir.filePath(u"nopicture.bmp"_s), pic});
    QCOMPARE(r.exitCode, 1);
    const QString file = QDir(out).filePath(u"hostile.dcm"_s);
    QCOMPARE(r.out, file + u'\n');
    QCOMPARE(dciodvfyErrors(file), QStringList());
    const QStringList err = r.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(err.size(), 4);
    QVERIFY2(err.at(0).startsWith(m_dir.filePath(u"nopicture.bmp"_s) + u": "_s), qPrintable(err.at(0)));
    QVERIFY2(err.at(1).startsWith(file + u": PatientName (0010,0010) \"QQQ"_s) && err.at(1).contains(u"cut to 64 characters"_s),
             qPrintable(err.at(1)));
    QCOMPARE(err.at(2), file + u": PatientBirthDate (0010,0030) \"13/45/2000\": not a date, left empty"_s);
    QCOMPARE(err.at(3), file + u": PatientSex (0010,0040) \"X\": not one of M, F, O, left empty"_s);
}

ORV_TEST_MAIN(TestOrvalineCli)
#include "tst_orvalinecli.moc"
