// Image objects, files, pictures, DICOMDIR and the attribute dump, checked against dciodvfy,
// dcmdump and the pictures they were made from.

#include "Peers.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/DicomDir.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/ImageCollection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;

namespace {
const QString kSamples = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/");

// Mean absolute difference per sample between two pictures of the same shape.
double meanDifference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size())
        return 1e9;
    double sum = 0;
    for (int r = 0; r < x.height(); ++r)
        for (int c = 0; c < x.width() * 3; ++c)
            sum += std::abs(int(x.constScanLine(r)[c]) - int(y.constScanLine(r)[c]));
    return sum / (x.width() * x.height() * 3.0);
}

QImage firstFrame(const Image &img)
{
    const QString path = QDir::temp().filePath(QStringLiteral("orv-frame-%1.bmp").arg(quintptr(&img)));
    img.exportPicture(path, QStringLiteral("BMP"));
    QImage out(path);
    QFile::remove(path);
    return out;
}
} // namespace

class TestDicomObjects : public QObject
{
    Q_OBJECT

private slots:
    void secondaryCaptureConforms_data();
    void secondaryCaptureConforms();
    void valuesAreEncodedForTheirVr();
    void dumpListsSequencesAndArrays();
    void dicomdirOfThreeImages();
    void readsForeignFilesAndRewritesThem_data();
    void readsForeignFilesAndRewritesThem();
    void collectionIsOneBased();
    void uidRootCanBeChanged();

private:
    QTemporaryDir m_dir;
};

void TestDicomObjects::secondaryCaptureConforms_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("ts");
    for (const char *kind : {"bmp24", "grey8bmp", "greypng", "jpeg", "avi"})
        for (const char *ts : {kExplicitLittleEndian, kJpegExtended})
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(kind), QLatin1String(ts))))
                << QString::fromLatin1(kind) << QString::fromLatin1(ts);
}

// A picture of every supported kind becomes a Secondary Capture object that conforms, keeps
// the attributes set before the import, and holds the picture's pixels.
void TestDicomObjects::secondaryCaptureConforms()
{
    QFETCH(QString, kind);
    QFETCH(QString, ts);
    const QString base = m_dir.filePath(kind + QString::number(qHash(ts)));
    QString picture;
    QImage source;
    int frames = 1;
    if (kind == QLatin1String("bmp24")) {
        source = colourPicture(322, 241);
        picture = base + QStringLiteral(".bmp");
        QVERIFY(source.save(picture, "BMP"));
    } else if (kind == QLatin1String("grey8bmp")) {
        source = greyPicture(161, 120);
        picture = base + QStringLiteral(".dib");
        QVERIFY(source.convertToFormat(QImage::Format_Indexed8).save(picture, "BMP"));
    } else if (kind == QLatin1String("greypng")) {
        source = greyPicture(64, 48, 3);
        picture = base + QStringLiteral(".png");
        QVERIFY(source.save(picture, "PNG"));
    } else if (kind == QLatin1String("jpeg")) {
        source = colourPicture(200, 150, 2);
        picture = base + QStringLiteral(".jpg");
        QVERIFY(source.save(picture, "JPG", 95));
        source = QImage(picture);
    } else {
        Image clip = Image::fromFile(kSamples + QStringLiteral("SC_rgb_rle_2frame.dcm"));
        picture = base + QStringLiteral(".avi");
        clip.exportVideo(picture, clip.frameCount(), 90);
        source = firstFrame(clip);
        frames = 2;
    }

    Image img;
    img.setStudyUid(QStringLiteral("1.2.3.4.5"));
    img.setSeriesUid(QStringLiteral("1.2.3.4.5.6"));
    img.setInstanceUid(newUid());
    img.setPatientName(QStringLiteral("DOE^JANE^Q"));
    img.add(0x0010, 0x0030, QStringLiteral("03/04/1970"));
    img.add(0x0008, 0x0030, QStringLiteral("14:35"));
    img.add(0x0008, 0x0060, QStringLiteral("es"));
    img.importPicture(picture, QFileInfo(picture).suffix());
    QCOMPARE(img.frameCount(), frames);
    QCOMPARE(img.width(), source.width());

    const QString file = base + QStringLiteral(".dcm");
    img.writeFile(file, ts, 100);
    QCOMPARE(dciodvfyErrors(file), QStringList());

    const Image back = Image::fromFile(file);
    QCOMPARE(back.studyUid(), QStringLiteral("1.2.3.4.5"));
    QCOMPARE(back.seriesUid(), QStringLiteral("1.2.3.4.5.6"));
    QCOMPARE(back.instanceUid(), img.instanceUid());
    QCOMPARE(back.patientName(), QStringLiteral("DOE^JANE^Q"));
    QCOMPARE(back.dataSet().text(0x0010, 0x0030), QStringLiteral("19700304"));
    QCOMPARE(back.dataSet().text(0x0008, 0x0030), QStringLiteral("1435"));
    QCOMPARE(back.dataSet().text(0x0008, 0x0060), QStringLiteral("ES"));
    QCOMPARE(back.dataSet().text(0x0008, 0x0064), QStringLiteral("WSD"));
    QCOMPARE(back.dataSet().text(0x0002, 0x0010), QString()); // meta is not part of the data set
    QCOMPARE(back.frameCount(), frames);
    QCOMPARE(back.attribute(0x0028, 0x0002).value(), kind.startsWith(QLatin1String("grey")) ? QStringLiteral("1") : QStringLiteral("3"));
    if (frames > 1)
        QCOMPARE(back.dataSet().text(0x0008, 0x0016), QString::fromLatin1(kMultiFrameColourClass));
    else
        QCOMPARE(back.dataSet().text(0x0008, 0x0016), QString::fromLatin1(kSecondaryCaptureClass));

    // Lossless paths keep the pixels exactly; JPEG (here and in the AVI) stays close.
    const double diff = meanDifference(firstFrame(back), source);
    const bool exact = ts == QLatin1String(kExplicitLittleEndian) && kind != QLatin1String("avi") && kind != QLatin1String("jpeg");
    QVERIFY2(exact ? diff == 0 : diff < (kind == QLatin1String("avi") ? 12 : 4), qPrintable(QString::number(diff)));
    if (ts == QLatin1String(kJpegExtended))
        QCOMPARE(back.dataSet().text(0x0028, 0x2110), QStringLiteral("01"));
}

void TestDicomObjects::valuesAreEncodedForTheirVr()
{
    DataSet ds;
    ds.add(0x0008, 0x0020, QStringLiteral("12/5/2026"));
    ds.add(0x0008, 0x0021, QStringLiteral("2026-12-05"));
    ds.add(0x0008, 0x0030, QStringLiteral("2:05 PM"));
    ds.add(0x0008, 0x0031, QStringLiteral("09:15:30"));
    ds.add(0x0008, 0x0050, QStringLiteral("ACC-0123456789012345")); // SH: 16 at most
    ds.add(0x0010, 0x0040, QStringLiteral(" f "));
    ds.add(0x0008, 0x0008, QStringList{QStringLiteral("DERIVED"), QStringLiteral("SECONDARY")});
    ds.add(0x0010, 0x0010, QStringLiteral("MÜLLER^JÖRG"));
    QCOMPARE(ds.text(0x0008, 0x0020), QStringLiteral("20261205"));
    QCOMPARE(ds.text(0x0008, 0x0021), QStringLiteral("20261205"));
    QCOMPARE(ds.text(0x0008, 0x0030), QStringLiteral("1405"));
    QCOMPARE(ds.text(0x0008, 0x0031), QStringLiteral("091530"));
    QCOMPARE(ds.text(0x0008, 0x0050), QStringLiteral("ACC-012345678901"));
    QCOMPARE(ds.patientSex(), QStringLiteral("F"));
    QCOMPARE(ds.attribute(0x0008, 0x0008).kind, Attribute::Kind::Multiple);
    QCOMPARE(ds.attribute(0x0008, 0x0008).values, QStringList({QStringLiteral("DERIVED"), QStringLiteral("SECONDARY")}));
    QCOMPARE(ds.text(0x0010, 0x0010), QStringLiteral("MÜLLER^JÖRG"));
    QCOMPARE(ds.text(0x0008, 0x0005), QStringLiteral("ISO_IR 192"));
    QVERIFY(!ds.attribute(0x0010, 0x0020).found);
}

// The listing of a file made by another tool, with nested sequences, multiple values, long
// descriptions and pixel data, character for character.
void TestDicomObjects::dumpListsSequencesAndArrays()
{
    QStringList vector33, vector32;
    for (int i = 1; i <= 33; ++i)
        vector33 << QString::number(i);
    vector32 = vector33.mid(0, 32);
    const QString source = QStringLiteral(
        "(0008,0008) CS [ORIGINAL\\PRIMARY\\AXIAL]\n"
        "(0008,1111) SQ (Sequence with explicit length #=2)\n"
        "  (fffe,e000) na (Item with explicit length #=2)\n"
        "    (0008,1150) UI [1.2.840.10008.3.1.2.3.3]\n"
        "    (0008,1155) UI [1.2.3]\n"
        "  (fffe,e00d) na (ItemDelimitationItem for re-encoding)\n"
        "  (fffe,e000) na (Item with explicit length #=1)\n"
        "    (0040,0260) SQ (Sequence with explicit length #=0)\n"
        "    (fffe,e0dd) na (SequenceDelimitationItem for re-encod.)\n"
        "  (fffe,e00d) na (ItemDelimitationItem for re-encoding)\n"
        "(fffe,e0dd) na (SequenceDelimitationItem for re-encod.)\n"
        "(0010,0010) PN [SMITH^ANNE]\n"
        "(0018,1065) DS [%1]\n"
        "(0018,2001) IS [%2]\n"
        "(0040,0254) LO [Performed step text]\n"
        "(7fe0,0010) OB 01\\02\\03\\04\n")
                               .arg(vector33.join(QLatin1Char('\\')), vector32.join(QLatin1Char('\\')));
    const QString file = m_dir.filePath(QStringLiteral("dumpme.dcm"));
    QVERIFY(writeWorklistFile(source, file));

    QString text;
    dumpAttributes(text, QString(), Image::fromFile(file).attributes());
    const QString expected = QStringLiteral(
        "(0008,0008) : ImageType                     : Multiple values :\n"
        "              ORIGINAL : PRIMARY : AXIAL\n"
        "(0008,1111) : ReferencedPerformedProcedureSt: Sequence of 2 items:\n"
        ">---------------\n"
        ">(0008,1150) : ReferencedSOPClassUID         : 1.2.840.10008.3.1.2.3.3\n"
        ">(0008,1155) : ReferencedSOPInstanceUID      : 1.2.3\n"
        ">---------------\n"
        ">(0040,0260) : PerformedProtocolCodeSequence : Sequence of 0 items:\n"
        ">>---------------\n"
        ">---------------\n"
        "(0010,0010) : PatientName                   : SMITH^ANNE\n"
        "(0018,1065) : FrameTimeVector               : Multiple values :\n"
        "              Array of 33 elements\n"
        "(0018,2001) : PageNumberVector              : Multiple values :\n"
        "              %1\n"
        "(0040,0254) : PerformedProcedureStepDescript: Performed step text\n"
        "(7FE0,0010) : PixelData                     : Pixel data\n")
                                 .arg(vector32.join(QStringLiteral(" : ")));
    QCOMPARE(text, expected);

    QString empty;
    dumpAttributes(empty, QStringLiteral(">>"), {});
    QCOMPARE(empty, QString());

    // Text of a Latin-1 file is decoded as such, in sequence items too.
    const QString latin1 = m_dir.filePath(QStringLiteral("latin1.dcm"));
    QVERIFY(writeWorklistFile(QStringLiteral("(0008,0005) CS [ISO_IR 100]\n(0008,1111) SQ\n(fffe,e000) -\n(0010,0010) PN [BJÖRK]\n"
                                             "(fffe,e00d) -\n(fffe,e0dd) -\n(0010,0010) PN [MÜLLER^JÖRG]\n"),
                              latin1));
    Image img = Image::fromFile(latin1);
    QCOMPARE(img.patientName(), QStringLiteral("MÜLLER^JÖRG"));
    QCOMPARE(img.attribute(0x0008, 0x1111).items.value(0).text(0x0010, 0x0010), QStringLiteral("BJÖRK"));
    img.add(0x0010, 0x0020, QStringLiteral("ÅSA"));
    QCOMPARE(img.dataSet().text(0x0010, 0x0020), QStringLiteral("ÅSA"));
}

void TestDicomObjects::dicomdirOfThreeImages()
{
    const QString out = m_dir.filePath(QStringLiteral("export"));
    QDir().mkpath(out + QStringLiteral("/IMAGES")); // an existing directory is reused
    DicomDirWriter writer(out);
    for (int i = 1; i <= 3; ++i) {
        const QString pic = m_dir.filePath(QStringLiteral("dd%1.bmp").arg(i));
        QVERIFY(colourPicture(64, 48, i).save(pic, "BMP"));
        Image img;
        img.setPatientName(QStringLiteral("DIR^TEST"));
        img.setStudyUid(QStringLiteral("1.2.3.9"));
        img.setSeriesUid(QStringLiteral("1.2.3.9.1"));
        img.add(0x0010, 0x0020, QStringLiteral("P1"));
        img.add(0x0020, 0x0013, QString::number(i));
        img.importPicture(pic, QStringLiteral("BMP"));
        writer.addImage(img, QStringLiteral("IMAGES\\IMG%1").arg(i));
    }
    QVERIFY_THROWS_EXCEPTION(orv::Error, [&] { Image img; writer.addImage(img, QStringLiteral("../EVIL")); }());
    writer.write();
    for (int i = 1; i <= 3; ++i) {
        const QString f = out + QStringLiteral("/IMAGES/IMG%1").arg(i);
        QVERIFY(QFile::exists(f));
        QCOMPARE(dciodvfyErrors(f), QStringList());
        QCOMPARE(Image::fromFile(f).fileFormat() != nullptr, true);
    }
    const QString dicomdir = out + QStringLiteral("/DICOMDIR");
    QCOMPARE(dciodvfyErrors(dicomdir), QStringList());
    const ToolResult dump = runTool(QStringLiteral("dcmdump"), {dicomdir});
    QCOMPARE(dump.exitCode, 0);
    QCOMPARE(dump.out.count(QStringLiteral("[IMAGE]")), 3);
    QCOMPARE(dump.out.count(QStringLiteral("[STUDY]")), 1);
    QVERIFY(dump.out.contains(QStringLiteral("[IMAGES\\IMG3]")));
}

void TestDicomObjects::readsForeignFilesAndRewritesThem_data()
{
    QTest::addColumn<QString>("name");
    for (const char *n : {"CT_small.dcm", "MR_small_RLE.dcm", "JPGExtended.dcm", "SC_rgb_jpeg_dcmtk.dcm", "ExplVR_BigEnd.dcm",
                          "MR_small_implicit.dcm", "SC_rgb_small_odd.dcm"})
        QTest::newRow(n) << QString::fromLatin1(n);
}

// Files from other sources read, render and are written again in both transfer syntaxes; what
// is written keeps the source's identity.
void TestDicomObjects::readsForeignFilesAndRewritesThem()
{
    QFETCH(QString, name);
    Image img = Image::fromFile(kSamples + name);
    QVERIFY(img.frameCount() >= 1);
    QVERIFY(!img.instanceUid().isEmpty());
    const QImage shown = firstFrame(img);
    QVERIFY(!shown.isNull());
    // The JPG export reads back as the same picture, within JPEG's loss.
    const QString jpg = m_dir.filePath(name + QStringLiteral(".jpg"));
    img.exportPicture(jpg, QStringLiteral("JPG"));
    QVERIFY(meanDifference(QImage(jpg), shown) < 4);
    QVERIFY_THROWS_EXCEPTION(orv::Error, img.exportPicture(jpg, QStringLiteral("TIF")));
    for (const char *ts : {kExplicitLittleEndian, kJpegExtended}) {
        const QString out = m_dir.filePath(name + QLatin1String(ts));
        img.writeFile(out, QLatin1String(ts), 90);
        const Image back = Image::fromFile(out);
        QCOMPARE(back.instanceUid(), img.instanceUid());
        QCOMPARE(back.width(), img.width());
        QCOMPARE(runTool(QStringLiteral("dcmdump"), {out}).exitCode, 0);
    }
    QVERIFY_THROWS_EXCEPTION(orv::Error, img.writeFile(m_dir.filePath(QStringLiteral("x.dcm")), QStringLiteral("1.2.3")));
}

void TestDicomObjects::collectionIsOneBased()
{
    ImageCollection set;
    QCOMPARE(set.count(), 0);
    set.readFile(kSamples + QStringLiteral("CT_small.dcm"));
    Image second;
    second.setDescription(QStringLiteral("second"));
    set.add(second);
    QCOMPARE(set.count(), 2);
    QCOMPARE(set.item(2).description(), QStringLiteral("second"));
    QVERIFY(set.item(1).description().startsWith(QStringLiteral("CompressedSamples")));
    QVERIFY_THROWS_EXCEPTION(orv::Error, set.item(0));
    QVERIFY_THROWS_EXCEPTION(orv::Error, set.readFile(m_dir.filePath(QStringLiteral("missing.dcm"))));
    QCOMPARE(set.count(), 2);
    set.remove(1);
    QCOMPARE(set.item(1).description(), QStringLiteral("second"));
    set.clear();
    QCOMPARE(set.count(), 0);
}

void TestDicomObjects::uidRootCanBeChanged()
{
    setUidRoot(QStringLiteral("1.2.826.0.1.3680043.9.7777"));
    const QString a = newUid(), b = newUid();
    QVERIFY(a.startsWith(QStringLiteral("1.2.826.0.1.3680043.9.7777.")));
    QVERIFY(a != b && a.size() <= 64);
    QVERIFY_THROWS_EXCEPTION(orv::Error, setUidRoot(QStringLiteral("1.2.abc")));
    setUidRoot(QString());
    QVERIFY(!newUid().startsWith(QStringLiteral("1.2.826.0.1.3680043.9.7777.")));
}

ORV_TEST_MAIN(TestDicomObjects)
#include "tst_dicomobjects.moc"
