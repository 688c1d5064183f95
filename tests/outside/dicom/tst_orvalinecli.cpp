// orvaline-cli as scripts drive it: its argument rules, exit statuses and printed lines, and
// the files it writes.

#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"

#include <QDir>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;

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
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("unknown command") << QStringList{QStringLiteral("burn")};
    QTest::newRow("no out") << QStringList{QStringLiteral("dicomize"), QStringLiteral("a.bmp")};
    QTest::newRow("no picture") << QStringList{QStringLiteral("dicomize"), QStringLiteral("--out"), QStringLiteral("x")};
    QTest::newRow("bad ts") << QStringList{QStringLiteral("dicomize"), QStringLiteral("--out"), QStringLiteral("x"), QStringLiteral("--ts"),
                                           QStringLiteral("jpeg2000"), QStringLiteral("a.bmp")};
    QTest::newRow("bad quality") << QStringList{QStringLiteral("dicomize"), QStringLiteral("--out=x"), QStringLiteral("--quality=101"),
                                                QStringLiteral("a.bmp")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("dump"), QStringLiteral("--fast"), QStringLiteral("1"), QStringLiteral("a.dcm")};
    QTest::newRow("option without value") << QStringList{QStringLiteral("worklist"), QStringLiteral("--host")};
    QTest::newRow("bad port") << QStringList{QStringLiteral("worklist"), QStringLiteral("--host"), QStringLiteral("h"), QStringLiteral("--port"),
                                             QStringLiteral("x"), QStringLiteral("--aec"), QStringLiteral("A")};
    QTest::newRow("print without aec") << QStringList{QStringLiteral("print"), QStringLiteral("--host"), QStringLiteral("h"),
                                                      QStringLiteral("--port"), QStringLiteral("104"), QStringLiteral("a.dcm")};
}

void TestOrvalineCli::badArgumentsGiveUsage()
{
    QFETCH(QStringList, args);
    const ToolResult r = cli(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.err.contains(QStringLiteral("usage:")));
    QVERIFY(r.out.isEmpty());
}

void TestOrvalineCli::dicomizeWritesOneFilePerPicture()
{
    const QString a = m_dir.filePath(QStringLiteral("front.view.bmp"));
    const QString b = m_dir.filePath(QStringLiteral("side.jpg"));
    QVERIFY(colourPicture(80, 60, 1).save(a, "BMP"));
    QVERIFY(colourPicture(80, 60, 2).save(b, "JPG"));
    const QString out = m_dir.filePath(QStringLiteral("out"));
    for (const QString &ts : {QStringLiteral("explicit"), QStringLiteral("jpeg51")}) {
        const ToolResult r = cli({QStringLiteral("dicomize"), QStringLiteral("--out"), out, QStringLiteral("--patient-name"), QStringLiteral("ROE^RICHARD"),
                                  QStringLiteral("--patient-id"), QStringLiteral("H123"), QStringLiteral("--birth-date"), QStringLiteral("07/08/1965"),
                                  QStringLiteral("--sex"), QStringLiteral("m"), QStringLiteral("--accession"), QStringLiteral("T2026-9"),
                                  QStringLiteral("--study-uid"), QStringLiteral("1.2.3.44"), QStringLiteral("--modality"), QStringLiteral("ES"),
                                  QStringLiteral("--ts"), ts, QStringLiteral("--quality"), QStringLiteral("90"), a, b});
        QCOMPARE(r.exitCode, 0);
        const QString fa = QDir(out).filePath(QStringLiteral("front.dcm")), fb = QDir(out).filePath(QStringLiteral("side.dcm"));
        QCOMPARE(r.out, fa + QLatin1Char('\n') + fb + QLatin1Char('\n'));
        const Image ia = Image::fromFile(fa), ib = Image::fromFile(fb);
        for (const QString &f : {fa, fb})
            QCOMPARE(dciodvfyErrors(f), QStringList());
        QCOMPARE(ia.patientName(), QStringLiteral("ROE^RICHARD"));
        QCOMPARE(ia.dataSet().text(0x0010, 0x0030), QStringLiteral("19650708"));
        QCOMPARE(ia.dataSet().text(0x0010, 0x0040), QStringLiteral("M"));
        QCOMPARE(ia.dataSet().text(0x0008, 0x0050), QStringLiteral("T2026-9"));
        QCOMPARE(ia.dataSet().text(0x0008, 0x0060), QStringLiteral("ES"));
        QCOMPARE(ia.studyUid(), QStringLiteral("1.2.3.44"));
        QCOMPARE(ib.studyUid(), QStringLiteral("1.2.3.44"));
        QVERIFY(!ia.seriesUid().isEmpty());
        QCOMPARE(ib.seriesUid(), ia.seriesUid()); // one series per run when none is given
        QVERIFY(ia.instanceUid() != ib.instanceUid());
        QCOMPARE(ib.dataSet().text(0x0020, 0x0013), QStringLiteral("2"));
        QCOMPARE(ia.dataSet().text(0x0028, 0x2110).isEmpty(), ts == QLatin1String("explicit"));
    }
    const ToolResult bad = cli({QStringLiteral("dicomize"), QStringLiteral("--out"), out, m_dir.filePath(QStringLiteral("none.bmp"))});
    QCOMPARE(bad.exitCode, 1);
    QVERIFY2(bad.err.contains(QStringLiteral("none.bmp")), qPrintable(bad.err));
}

void TestOrvalineCli::dumpAndDicomdir()
{
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        const QString pic = m_dir.filePath(QStringLiteral("p%1.bmp").arg(i));
        greyPicture(32, 32, i).save(pic, "BMP");
        Image img;
        img.setPatientName(QStringLiteral("DUMP^ME"));
        img.importPicture(pic);
        files << m_dir.filePath(QStringLiteral("p%1.dcm").arg(i));
        img.writeFile(files.last());
    }
    QString expected;
    dumpAttributes(expected, QString(), Image::fromFile(files.first()).attributes());
    ToolResult r = cli({QStringLiteral("dump"), files.first()});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);

    r = cli({QStringLiteral("dump"), m_dir.filePath(QStringLiteral("p0.bmp"))});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("p0.bmp")), qPrintable(r.err));

    const QString out = m_dir.filePath(QStringLiteral("CD"));
    r = cli(QStringList{QStringLiteral("dicomdir"), QStringLiteral("--out"), out} + files);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             QStringList({out + QStringLiteral("/IMAGES/IMG1"), out + QStringLiteral("/IMAGES/IMG2"), out + QStringLiteral("/IMAGES/IMG3"),
                          out + QStringLiteral("/DICOMDIR")}));
    QCOMPARE(dciodvfyErrors(out + QStringLiteral("/DICOMDIR")), QStringList());
    QCOMPARE(Image::fromFile(out + QStringLiteral("/IMAGES/IMG2")).instanceUid(), Image::fromFile(files.at(1)).instanceUid());
}

ORV_TEST_MAIN(TestOrvalineCli)
#include "tst_orvalinecli.moc"
