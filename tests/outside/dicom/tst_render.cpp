// orvaline-cli render: the viewer's own drawing of real-world files, compared pixel by pixel
// with DCMTK's dcmj2pnm (dcm2pnm with its JPEG decoders) for the same window; JPEG-LS and
// JPEG 2000 files against its drawing of the same pixels stored uncompressed; damaged data
// refused without output.

#include "common/TestMain.h"
#include "common/Tools.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

namespace {

const QString kSamples = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/");

orv::test::ToolResult cli(const QStringList &args) { return orv::test::runTool(QStringLiteral(ORV_CLI), args); }

// The largest difference of any channel of any pixel; -1 when the sizes differ.
int maxDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

} // namespace

class tst_Render : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void drawsAsDcm2pnmForTheSameWindow_data();
    void drawsAsDcm2pnmForTheSameWindow();
    void damagedJpeg2000IsRefusedAndOthersStillDrawn();
};

void tst_Render::drawsAsDcm2pnmForTheSameWindow_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reference"); // the file dcm2pnm draws: the same pixels, uncompressed
    QTest::addColumn<QStringList>("window"); // centre, width; empty for colour
    const QStringList ct{"40", "400"}, mr{"600", "1200"};
    QTest::newRow("CT") << "CT_small.dcm" << "CT_small.dcm" << ct;
    QTest::newRow("CT narrow") << "CT_small.dcm" << "CT_small.dcm" << QStringList{"-30", "81"};
    QTest::newRow("MR") << "MR_small.dcm" << "MR_small.dcm" << mr;
    QTest::newRow("MR big endian") << "MR_small_bigendian.dcm" << "MR_small_bigendian.dcm" << mr;
    QTest::newRow("MR RLE") << "MR_small_RLE.dcm" << "MR_small_RLE.dcm" << mr;
    QTest::newRow("MR JPEG-LS") << "MR_small_jpeg_ls_lossless.dcm" << "MR_small.dcm" << mr;
    QTest::newRow("MR JPEG 2000") << "MR_small_jp2klossless.dcm" << "MR_small.dcm" << mr;
    QTest::newRow("liver") << "liver_1frame.dcm" << "liver_1frame.dcm" << QStringList{"100", "300"};
    QTest::newRow("JPEG extended") << "JPGExtended.dcm" << "JPGExtended.dcm" << QStringList{"500", "1000"};
    QTest::newRow("RGB") << "SC_rgb_dcmtk_+eb+cr.dcm" << "SC_rgb_dcmtk_+eb+cr.dcm" << QStringList();
    QTest::newRow("RGB RLE") << "SC_rgb_rle.dcm" << "SC_rgb_rle.dcm" << QStringList();
}

void tst_Render::drawsAsDcm2pnmForTheSameWindow()
{
    QFETCH(QString, file);
    QFETCH(QString, reference);
    QFETCH(QStringList, window);
    const QString out = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'));
    QStringList args{QStringLiteral("render"), QStringLiteral("--out"), out, kSamples + file};
    if (!window.isEmpty())
        args << QStringLiteral("--window") << window[1] << QStringLiteral("--level") << window[0];
    const orv::test::ToolResult r = cli(args);
    const QString png = out + QLatin1Char('/') + QFileInfo(file).completeBaseName() + QStringLiteral(".png");
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(r.out.trimmed(), png);

    const QString expected = out + QStringLiteral("/expected.png");
    QStringList refArgs{QStringLiteral("+on")};
    if (!window.isEmpty())
        refArgs << QStringLiteral("+Ww") << window[0] << window[1];
    refArgs << kSamples + reference << expected;
    const orv::test::ToolResult ref = orv::test::runTool(QStringLiteral("dcmj2pnm"), refArgs);
    QVERIFY2(ref.exitCode == 0, qPrintable(ref.err));
    const int diff = maxDifference(QImage(png), QImage(expected));
    QVERIFY2(diff >= 0 && diff <= 1, qPrintable(QStringLiteral("difference %1").arg(diff)));
}

void tst_Render::damagedJpeg2000IsRefusedAndOthersStillDrawn()
{
    // The codestream cut short and its tail overwritten: the file stays readable as DICOM.
    QFile source(kSamples + QStringLiteral("MR_small_jp2klossless.dcm"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray bytes = source.readAll();
    const qsizetype soc = bytes.indexOf(QByteArray::fromHex("ff4fff51"));
    QVERIFY(soc > 0);
    for (qsizetype i = soc + 200; i < bytes.size() - 16; ++i)
        bytes[i] = char(0x5a);
    const QString damaged = m_dir.filePath(QStringLiteral("damaged.dcm"));
    QFile f(damaged);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    const QString out = m_dir.filePath(QStringLiteral("damaged-out"));
    const orv::test::ToolResult r = cli({"render", "--out", out, damaged, kSamples + "CT_small.dcm"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("damaged.dcm: ")), qPrintable(r.err));
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("CT_small.png")});
}

ORV_TEST_MAIN(tst_Render)
#include "tst_render.moc"
