// orvaline-cli as scripts drive it: its argument rules, exit statuses, printed lines and the
// files it writes.

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
    void badArgumentsGiveUsage_data();
    void badArgumentsGiveUsage();
    void dicomizeWritesOneFilePerPicture();
    void dumpAndDicomdir();

private:
    QTemporaryDir m_dir;
};

void TestOrvalineCli::badArgumentsGiveUsage_data()
{
    QTest::addColumn<QString>("args");
    QTest::newRow("nothing") << QString();
    QTest::newRow("unknown command") << u"burn"_s;
    QTest::newRow("no out") << u"dicomize a.bmp"_s;
    QTest::newRow("no picture") << u"dicomize --out x"_s;
    QTest::newRow("bad ts") << u"dicomize --out x --ts jpeg2000 a.bmp"_s;
    QTest::newRow("bad quality") << u"dicomize --out=x --quality=101 a.bmp"_s;
    QTest::newRow("unknown option") << u"dump --fast 1 a.dcm"_s;
    QTest::newRow("option without value") << u"worklist --host"_s;
    QTest::newRow("bad port") << u"send --host h --port x --aec A a.dcm"_s;
    QTest::newRow("print without aec") << u"print --host h --port 104 a.dcm"_s;
}

void TestOrvalineCli::badArgumentsGiveUsage()
{
    QFETCH(QString, args);
    const ToolResult r = cli(args.split(u' ', Qt::SkipEmptyParts));
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(u"usage:"_s) && r.out.isEmpty());
}

void TestOrvalineCli::dicomizeWritesOneFilePerPicture()
{
    const QString a = m_dir.filePath(u"front.view.bmp"_s), b = m_dir.filePath(u"side.jpg"_s);
    QVERIFY(colourPicture(80, 60, 1).save(a, "BMP") && colourPicture(80, 60, 2).save(b, "JPG"));
    const QString out = m_dir.filePath(u"out"_s);
    for (const QString &ts : {u"explicit"_s, u"jpeg51"_s}) {
        const ToolResult r = cli({u"dicomize"_s, u"--out"_s, out, u"--patient-name"_s, u"ROE^RICHARD"_s, u"--patient-id"_s, u"H123"_s,
                                  u"--birth-date"_s, u"07/08/1965"_s, u"--sex"_s, u"m"_s, u"--accession"_s, u"T2026-9"_s, u"--study-uid"_s,
                                  u"1.2.3.44"_s, u"--modality"_s, u"ES"_s, u"--ts"_s, ts, u"--quality"_s, u"90"_s, a, b});
        QCOMPARE(r.exitCode, 0);
        const QString fa = QDir(out).filePath(u"front.dcm"_s), fb = QDir(out).filePath(u"side.dcm"_s);
        QCOMPARE(r.out, fa + u'\n' + fb + u'\n');
        QCOMPARE(dciodvfyErrors(fa) + dciodvfyErrors(fb), QStringList());
        const DataSet da = Image::fromFile(fa).dataSet(), db = Image::fromFile(fb).dataSet();
        QCOMPARE(QStringList({da.text(0x0010, 0x0010), da.text(0x0010, 0x0020), da.text(0x0010, 0x0030), da.text(0x0010, 0x0040),
                              da.text(0x0008, 0x0050), da.text(0x0008, 0x0060), da.text(0x0020, 0x000D), db.text(0x0020, 0x0013)}),
                 QStringList({u"ROE^RICHARD"_s, u"H123"_s, u"19650708"_s, u"M"_s, u"T2026-9"_s, u"ES"_s, u"1.2.3.44"_s, u"2"_s}));
        // One new series per run when none is given; one new instance per picture.
        QVERIFY(!da.text(0x0020, 0x000E).isEmpty() && db.text(0x0020, 0x000E) == da.text(0x0020, 0x000E));
        QVERIFY(da.text(0x0008, 0x0018) != db.text(0x0008, 0x0018));
        QCOMPARE(da.text(0x0028, 0x2110).isEmpty(), ts == "explicit"_L1);
    }
    const ToolResult bad = cli({u"dicomize"_s, u"--out"_s, out, m_dir.filePath(u"none.bmp"_s)});
    QCOMPARE(bad.exitCode, 1);
    QVERIFY2(bad.err.contains(u"none.bmp"_s), qPrintable(bad.err));
}

void TestOrvalineCli::dumpAndDicomdir()
{
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        const QString pic = m_dir.filePath(u"p%1.bmp"_s.arg(i));
        greyPicture(32, 32, i).save(pic, "BMP");
        Image img;
        img.importPicture(pic);
        files << m_dir.filePath(u"p%1.dcm"_s.arg(i));
        img.writeFile(files.last());
    }
    QString expected;
    dumpAttributes(expected, QString(), Image::fromFile(files.first()).attributes());
    ToolResult r = cli({u"dump"_s, files.first()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);
    r = cli({u"dump"_s, m_dir.filePath(u"p0.bmp"_s)});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(u"p0.bmp"_s), qPrintable(r.err));

    const QString out = m_dir.filePath(u"CD"_s);
    r = cli(QStringList{u"dicomdir"_s, u"--out"_s, out} + files);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, u"%1/IMAGES/IMG1\n%1/IMAGES/IMG2\n%1/IMAGES/IMG3\n%1/DICOMDIR\n"_s.arg(out));
    QCOMPARE(dciodvfyErrors(out + u"/DICOMDIR"_s), QStringList());
    QCOMPARE(Image::fromFile(out + u"/IMAGES/IMG2"_s).instanceUid(), Image::fromFile(files.at(1)).instanceUid());
}

ORV_TEST_MAIN(TestOrvalineCli)
#include "tst_orvalinecli.moc"
