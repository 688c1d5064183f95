// Image objects, files, pictures, DICOMDIR and the attribute dump, checked against dciodvfy,
// dcmdump and the pictures they were made from.

#include "Peers.h"
#include "Pictures.h"

#include "common/CaptureTools.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/DicomDir.h"
#include "outside/dicom/Image.h"

#include <QDir>
#include <QDirIterator>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <algorithm>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;
using namespace Qt::StringLiterals;

namespace {
const QString kSamples = u"/usr/lib/python3/dist-packages/pydicom/data/test_files/"_s;

// Mean absolute difference per sample between two pictures of the same size.
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
    const QString path = QDir::temp().filePath(u"orv-frame-%1.bmp"_s.arg(quintptr(&img)));
    img.exportPicture(path, u"BMP"_s);
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
    void hostileValuesAreConformedAndReported_data();
    void hostileValuesAreConformedAndReported();
    void dicomdirOfThreeImagesOrNoneWhenItCannotBeWritten();
    void readsForeignFilesAndRewritesThem_data();
    void readsForeignFilesAndRewritesThem();
    void uidsComeFromTheRootAndNeverRepeat();

private:
    QTemporaryDir m_dir;
};

void TestDicomObjects::secondaryCaptureConforms_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("ts");
    for (const char *kind : {"bmp24", "grey8bmp", "greypng", "jpeg", "avi"})
        for (const char *ts : {kExplicitLittleEndian, kJpegExtended})
            QTest::addRow("%s %s", kind, ts) << QString::fromLatin1(kind) << QString::fromLatin1(ts);
}

// A picture of every supported kind becomes a Secondary Capture object that conforms, keeps the
// attributes set before the import (encoded for their VR), and holds the picture's pixels.
void TestDicomObjects::secondaryCaptureConforms()
{
    QFETCH(QString, kind);
    QFETCH(QString, ts);
    const QString base = m_dir.filePath(kind + QString::number(qHash(ts)));
    const QMap<QString, QString> suffix{{u"bmp24"_s, u".bmp"_s}, {u"grey8bmp"_s, u".dib"_s}, {u"greypng"_s, u".png"_s},
                                        {u"jpeg"_s, u".jpg"_s}, {u"avi"_s, u".avi"_s}};
    const QString picture = base + suffix.value(kind);
    QImage source = kind == "bmp24"_L1 ? colourPicture(322, 241) : kind == "jpeg"_L1 ? colourPicture(200, 150, 2) : greyPicture(161, 120);
    if (kind == "grey8bmp"_L1)
        QVERIFY(source.convertToFormat(QImage::Format_Indexed8).save(picture, "BMP"));
    else if (kind == "avi"_L1) {
        Image clip = Image::fromFile(kSamples + u"SC_rgb_rle_2frame.dcm"_s);
        clip.exportVideo(picture, clip.frameCount(), 90);
        source = firstFrame(clip);
    } else {
        QVERIFY(source.save(picture, nullptr, 95));
        source = QImage(picture);
    }
    const int frames = kind == "avi"_L1 ? 2 : 1;

    Image img;
    img.setStudyUid(u"1.2.3.4.5"_s);
    img.setSeriesUid(u"1.2.3.4.5.6"_s);
    img.setInstanceUid(newUid());
    img.setPatientName(u"DOE^JANE^Q"_s);
    img.add(0x0010, 0x0030, u"03/04/1970"_s);
    img.add(0x0008, 0x0030, u"2:35 PM"_s);
    img.add(0x0008, 0x0060, u"es"_s);
    img.add(0x0008, 0x0050, u"ACC-0123456789012345"_s);
    img.add(0x0004, 0x1500, u"1234-2026_12_05_10_11_12_am-1.dcm"_s); // a directory attribute stays out of the file
    img.importPicture(picture, QFileInfo(picture).suffix());
    QCOMPARE(img.frameCount(), frames);

    const QString file = base + u".dcm"_s;
    img.writeFile(file, ts, 100);
    QCOMPARE(dciodvfyErrors(file), QStringList());

    const Image back = Image::fromFile(file);
    QCOMPARE(back.instanceUid(), img.instanceUid());
    QCOMPARE(back.patientName(), u"DOE^JANE^Q"_s);
    const DataSet ds = back.dataSet();
    QCOMPARE(ds.text(0x0010, 0x0030), u"19700304"_s);
    QCOMPARE(ds.text(0x0008, 0x0030), u"1435"_s);
    QCOMPARE(ds.text(0x0008, 0x0060), u"ES"_s);
    QCOMPARE(ds.text(0x0008, 0x0050), u"ACC-012345678901"_s); // SH holds 16 characters
    QCOMPARE(ds.text(0x0008, 0x0016), QLatin1String(frames > 1 ? kMultiFrameColourClass : kSecondaryCaptureClass));
    QCOMPARE(back.frameCount(), frames);
    QCOMPARE(ds.text(0x0028, 0x0002), kind.startsWith("grey"_L1) ? u"1"_s : u"3"_s);
    QCOMPARE(ds.text(0x0028, 0x2110).isEmpty(), ts == QLatin1String(kExplicitLittleEndian) && kind != "jpeg"_L1);

    // Lossless paths keep the pixels exactly; JPEG (here, in the source or in the AVI) stays close.
    const double diff = meanDifference(firstFrame(back), source);
    const bool exact = ts == QLatin1String(kExplicitLittleEndian) && kind != "avi"_L1 && kind != "jpeg"_L1;
    QVERIFY2(exact ? diff == 0 : diff < (kind == "avi"_L1 ? 12 : 4), qPrintable(QString::number(diff)));
}

void TestDicomObjects::hostileValuesAreConformedAndReported_data()
{
    // Each value given, then as written: person names, long strings (LO), short strings (SH),
    // dates, a time, Patient's Sex, Modality and integer strings.
    QTest::addColumn<QStringList>("v");
    const QString a65(65, u'A'), b1000(1000, u'B');
    const QString mountain(30, QChar(0x5C71)), eAcute(40, QChar(0xE9));
    QString combining;
    for (int i = 0; i < 30; ++i)
        combining += u"e\u0301"_s;
    QTest::newRow("invalid date and time, sex X")
        << QStringList{u"DOE^JOHN"_s, u"DOE^JOHN"_s, u"H123"_s, u"H123"_s, u"T-9"_s, u"T-9"_s, u"13/45/2000"_s, QString(),
                       u"2561"_s, QString(), u"X"_s, QString(), u"OT"_s, u"OT"_s, u"1"_s, u"1"_s};
    QTest::newRow("partial date and time, lower case")
        << QStringList{u"ROE"_s, u"ROE"_s, u"H1"_s, u"H1"_s, u"T1"_s, u"T1"_s, u"200012"_s, QString(), u"1"_s, QString(), u"f"_s,
                       u"F"_s, u"es"_s, u"ES"_s, u"x1"_s, QString()};
    QTest::newRow("two-digit year, lower-case x")
        << QStringList{u"ROE"_s, u"ROE"_s, u"H1"_s, u"H1"_s, u"T1"_s, u"T1"_s, u"01/02/99"_s, QString(), u"12:5"_s, QString(),
                       u"x"_s, QString(), u"X-RAY"_s, u"OT"_s, u"2147483648"_s, QString()};
    QTest::newRow("no such day, 65 characters")
        << QStringList{a65, a65.left(64), a65, a65.left(64), a65, a65.left(16), u"19990230"_s, QString(), u"1030"_s, u"1030"_s,
                       u"o"_s, u"O"_s, u"OT"_s, u"OT"_s, u"7"_s, u"7"_s};
    QTest::newRow("1000 characters in two component groups")
        << QStringList{QString(500, u'X') + u'=' + QString(499, u'Y'), QString(64, u'X'), b1000, b1000.left(64), b1000,
                       b1000.left(16), u"20260101"_s, u"20260101"_s, u"235959"_s, u"235959"_s, u"M"_s, u"M"_s, u"OT"_s, u"OT"_s,
                       u"7"_s, u"7"_s};
    QTest::newRow("multi-byte text cut on a character boundary")
        << QStringList{mountain, mountain.left(21), eAcute, eAcute.left(32), eAcute, eAcute.left(8), u"20260101"_s,
                       u"20260101"_s, u"12"_s, u"12"_s, u"F"_s, u"F"_s, u"OT"_s, u"OT"_s, u"7"_s, u"7"_s};
    QTest::newRow("combining accents stay with their letter")
        << QStringList{combining, combining.left(42), u"H1"_s, u"H1"_s, u"T1"_s, u"T1"_s, u"20260101"_s, u"20260101"_s, u"12"_s,
                       u"12"_s, u"F"_s, u"F"_s, u"OT"_s, u"OT"_s, u"7"_s, u"7"_s};
    QTest::newRow("control characters")
        << QStringList{u"SMITH^JOHN\t\u0001"_s, u"SMITH^JOHN"_s, u"AB\nCD"_s, u"AB CD"_s, u"T\u007F1"_s, u"T 1"_s,
                       u"2000\n0101"_s, QString(), u"10\r30"_s, QString(), u"\u0001M"_s, u"M"_s, u"OT"_s, u"OT"_s, u"7\u0002"_s,
                       u"7"_s};
    QTest::newRow("backslashes in single values")
        << QStringList{u"DOE\\JOHN"_s, u"DOE JOHN"_s, u"A\\B"_s, u"A B"_s, u"T\\1"_s, u"T 1"_s, u"2000\\0101"_s, QString(),
                       u"10\\30"_s, QString(), u"M\\F"_s, QString(), u"OT"_s, u"OT"_s, u"1\\2"_s, QString()};
}

// Every attribute the workstation writes, given values an operator or a script can type: the
// object written passes dciodvfy, each value is written as expected, and exactly the values
// that changed are reported.
void TestDicomObjects::hostileValuesAreConformedAndReported()
{
    QFETCH(QStringList, v);
    const QString &name = v[0], &nameOut = v[1], &lo = v[2], &loOut = v[3], &sh = v[4], &shOut = v[5], &date = v[6],
                  &dateOut = v[7], &time = v[8], &timeOut = v[9], &sex = v[10], &sexOut = v[11], &modality = v[12],
                  &modalityOut = v[13], &number = v[14], &numberOut = v[15];
    struct Given
    {
        quint16 group, element;
        QString value, expected;
    };
    // Operators' Name holds several names, separated by "\".
    const QString operators = name.contains(u'\\') ? name : nameOut;
    const QList<Given> given{{0x0008, 0x0090, name, nameOut},   {0x0010, 0x0010, name, nameOut},
                             {0x0008, 0x1070, name, operators},   {0x0010, 0x0020, lo, loOut},
                             {0x0010, 0x0021, lo, loOut},       {0x0032, 0x1060, lo, loOut},
                             {0x0008, 0x0050, sh, shOut},       {0x0020, 0x0010, sh, shOut},
                             {0x0040, 0x1001, sh, shOut},       {0x0010, 0x0030, date, dateOut},
                             {0x0008, 0x0020, date, dateOut},   {0x0008, 0x0030, time, timeOut},
                             {0x0010, 0x0040, sex, sexOut},     {0x0008, 0x0060, modality, modalityOut},
                             {0x0020, 0x0013, number, numberOut}, {0x0020, 0x0011, number, numberOut}};
    const QString pic = m_dir.filePath(u"hostile.bmp"_s);
    QVERIFY(greyPicture(16, 16).save(pic, "BMP"));
    Image img;
    img.importPicture(pic);
    for (const Given &g : given)
        img.add(g.group, g.element, g.value);
    // A value put past add() is conformed when the object is written.
    img.dataSet().item()->putAndInsertString(DcmTagKey(0x0008, 0x0021), "20001345");
    const QString file = m_dir.filePath(u"hostile%1.dcm"_s.arg(QTest::currentDataTag()).remove(u' '));
    const ValueChanges changes = img.writeFile(file);
    QCOMPARE(dciodvfyErrors(file), QStringList());

    const DataSet back = Image::fromFile(file).dataSet();
    QCOMPARE(back.text(0x0008, 0x0021), QString());
    int changed = 1;
    for (const Given &g : given) {
        const QString where = u"(%1,%2)"_s.arg(g.group, 4, 16, QLatin1Char('0')).arg(g.element, 4, 16, QLatin1Char('0'));
        QVERIFY2(back.text(g.group, g.element) == g.expected, qPrintable(where + u" "_s + back.text(g.group, g.element)));
        const auto reported = std::count_if(changes.begin(), changes.end(), [&](const ValueChange &c) {
            return c.group == g.group && c.element == g.element && c.given == g.value && c.written == g.expected && !c.what.isEmpty();
        });
        QVERIFY2(reported == (g.expected != g.value ? 1 : 0), qPrintable(where));
        changed += g.expected != g.value ? 1 : 0;
    }
    QCOMPARE(changes.size(), changed);
}

// A DICOMDIR of three images; one that cannot be written (the disc full, its name taken by a
// folder) is an error that leaves nothing of the export behind.
void TestDicomObjects::dicomdirOfThreeImagesOrNoneWhenItCannotBeWritten()
{
    const auto addThree = [this](DicomDirWriter &writer) {
        for (int i = 1; i <= 3; ++i) {
            const QString pic = m_dir.filePath(u"dd%1.bmp"_s.arg(i));
            QVERIFY(colourPicture(64, 48, i).save(pic, "BMP"));
            Image img;
            img.setPatientName(u"DIR^TEST"_s);
            img.setStudyUid(u"1.2.3.9"_s);
            img.setSeriesUid(u"1.2.3.9.1"_s);
            img.importPicture(pic);
            writer.addImage(img, u"IMAGES\\IMG%1"_s.arg(i));
        }
    };
    for (const bool full : {true, false}) {
        const QString failed = m_dir.filePath(full ? u"full"_s : u"taken"_s);
        DicomDirWriter writer(failed);
        addThree(writer);
        if (!full)
            QDir().mkpath(failed + u"/DICOMDIR/x"_s);
        QString error;
        {
            FileSizeLimit disc(full ? 600 : RLIM_INFINITY);
            error = errorOf([&] { writer.write(); });
        }
        QVERIFY2(error.startsWith(u"Cannot "_s), qPrintable(error));
        QDirIterator left(failed, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        QVERIFY2(!left.hasNext(), qPrintable(left.hasNext() ? left.next() : QString()));
    }

    const QString out = m_dir.filePath(u"export"_s);
    QDir().mkpath(out + u"/IMAGES"_s); // an existing directory is reused
    DicomDirWriter writer(out);
    addThree(writer);
    QVERIFY(errorOf([&] { Image img; writer.addImage(img, u"../EVIL"_s); }).contains(u"not a valid DICOMDIR file name"_s));
    writer.write();
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(dciodvfyErrors(out + u"/IMAGES/IMG%1"_s.arg(i)), QStringList());
    QCOMPARE(dciodvfyErrors(out + u"/DICOMDIR"_s), QStringList());
    const ToolResult dump = runTool(u"dcmdump"_s, {out + u"/DICOMDIR"_s});
    QCOMPARE(dump.exitCode, 0);
    QCOMPARE(dump.out.count(u"[IMAGE]"_s), 3);
    QCOMPARE(dump.out.count(u"[STUDY]"_s), 1);
    QVERIFY(dump.out.contains(u"[IMAGES\\IMG3]"_s));
}

void TestDicomObjects::readsForeignFilesAndRewritesThem_data()
{
    QTest::addColumn<QString>("name");
    for (const char *n : {"CT_small.dcm", "MR_small_RLE.dcm", "JPGExtended.dcm", "SC_rgb_jpeg_dcmtk.dcm", "ExplVR_BigEnd.dcm",
                          "MR_small_implicit.dcm", "SC_rgb_small_odd.dcm"})
        QTest::newRow(n) << QString::fromLatin1(n);
}

// Files from other sources render, export as JPG, and are written again in both transfer
// syntaxes keeping their identity.
void TestDicomObjects::readsForeignFilesAndRewritesThem()
{
    QFETCH(QString, name);
    Image img = Image::fromFile(kSamples + name);
    const QImage shown = firstFrame(img);
    QVERIFY(!shown.isNull());
    const QString jpg = m_dir.filePath(name + u".jpg"_s);
    img.exportPicture(jpg, u"JPG"_s);
    QVERIFY(meanDifference(QImage(jpg), shown) < 4);
    QVERIFY(errorOf([&] { img.exportPicture(jpg, u"TIF"_s); }).contains(u"TIF"_s));
    for (const char *ts : {kExplicitLittleEndian, kJpegExtended}) {
        const QString out = m_dir.filePath(name + QLatin1String(ts));
        img.writeFile(out, QLatin1String(ts), 90);
        const Image back = Image::fromFile(out);
        QCOMPARE(back.instanceUid(), img.instanceUid());
        QCOMPARE(back.width(), img.width());
        QCOMPARE(runTool(u"dcmdump"_s, {out}).exitCode, 0);
    }
    QVERIFY(errorOf([&] { img.writeFile(m_dir.filePath(u"x.dcm"_s), u"1.2.3"_s); }).contains(u"not supported"_s));
}

// New UIDs hang under the configured root and never repeat; a root that is no UID is refused.
void TestDicomObjects::uidsComeFromTheRootAndNeverRepeat()
{
    setUidRoot(u"1.2.826.0.1.3680043.9.7777"_s);
    const QString a = newUid();
    QVERIFY(a.startsWith(u"1.2.826.0.1.3680043.9.7777."_s) && a != newUid() && a.size() <= 64);
    QVERIFY(errorOf([] { setUidRoot(u"1.2.abc"_s); }).contains(u"not a valid UID root"_s));
    setUidRoot(QString());
    QVERIFY(!newUid().startsWith(u"1.2.826.0.1.3680043.9.7777."_s));
}

ORV_TEST_MAIN(TestDicomObjects)
#include "tst_dicomobjects.moc"
