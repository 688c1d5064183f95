// Hundreds of damaged files (truncated, wrong lengths, bad VRs, lengths of gigabytes, broken
// JPEG data, flipped bytes) must be refused with a readable Error, never crash or hang; the
// suite is also built with AddressSanitizer and UndefinedBehaviorSanitizer (sanitized.sh).

#include "Pictures.h"

#include "common/TestMain.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;

namespace {

const QString kSamples = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void put32(QByteArray &b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4 && at + i < b.size(); ++i)
        b[at + i] = char(v >> (8 * i));
}

// Offsets of the elements of an explicit VR little endian Part 10 file (top level only):
// (offset of the element, offset of its length field, size of the length field).
struct Header
{
    qsizetype at, lengthAt;
    int lengthSize;
};

QList<Header> explicitHeaders(const QByteArray &b)
{
    QList<Header> list;
    qsizetype p = 132;
    while (p + 8 <= b.size()) {
        const QByteArray vr = b.mid(p + 4, 2);
        const bool longForm = vr == "OB" || vr == "OW" || vr == "SQ" || vr == "UN" || vr == "UT" || vr == "OF";
        const qsizetype lengthAt = p + (longForm ? 8 : 6);
        if (lengthAt + (longForm ? 4 : 2) > b.size())
            break;
        quint32 len = longForm ? quint32(uchar(b[lengthAt])) | quint32(uchar(b[lengthAt + 1])) << 8 | quint32(uchar(b[lengthAt + 2])) << 16
                                     | quint32(uchar(b[lengthAt + 3])) << 24
                               : quint32(uchar(b[lengthAt])) | quint32(uchar(b[lengthAt + 1])) << 8;
        list << Header{p, lengthAt, longForm ? 4 : 2};
        if (len == 0xFFFFFFFF)
            break; // undefined length: stop walking, the headers so far suffice
        p = lengthAt + (longForm ? 4 : 2) + len;
    }
    return list;
}

} // namespace

class TestMalformed : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void damagedFilesAreRefusedCleanly();

private:
    void mutateDicom(const QString &name, const QByteArray &seed, bool explicitLe);
    void mutatePicture(const QString &name, const QByteArray &seed);
    void add(const QString &name, const QByteArray &data, bool picture = false);

    QTemporaryDir m_dir;
    QStringList m_dicomFiles;
    QStringList m_pictureFiles;
    QRandomGenerator m_random{20261205};
};

void TestMalformed::add(const QString &name, const QByteArray &data, bool picture)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
    (picture ? m_pictureFiles : m_dicomFiles) << path;
}

void TestMalformed::mutateDicom(const QString &name, const QByteArray &seed, bool explicitLe)
{
    // Truncated at spread offsets.
    for (int i = 1; i <= 16; ++i)
        add(QStringLiteral("%1-cut%2.dcm").arg(name).arg(i), seed.left(seed.size() * i / 17));
    // Random byte flips.
    for (int i = 0; i < 10; ++i) {
        QByteArray b = seed;
        for (int k = 0; k < 8; ++k)
            b[m_random.bounded(qint64(132), qint64(b.size()))] = char(m_random.bounded(256));
        add(QStringLiteral("%1-flip%2.dcm").arg(name).arg(i), b);
    }
    if (!explicitLe)
        return;
    const QList<Header> headers = explicitHeaders(seed);
    // Wrong lengths: odd, one too many, undefined, gigabytes, and zero on every kind of element.
    const quint32 lengths[] = {1, 3, 0xFFFFFFFF, 0x7FFFFFF0, 0xFFFFFFF0, 0x40000000, 0};
    for (int i = 0; i < 14 && !headers.isEmpty(); ++i) {
        const Header h = headers.at(m_random.bounded(headers.size()));
        QByteArray b = seed;
        const quint32 len = lengths[i % 7];
        if (h.lengthSize == 4)
            put32(b, h.lengthAt, len);
        else {
            b[h.lengthAt] = char(len);
            b[h.lengthAt + 1] = char(len >> 8);
        }
        add(QStringLiteral("%1-len%2.dcm").arg(name).arg(i), b);
    }
    // Declared lengths of gigabytes on the last element (the pixel data).
    for (quint32 len : {0x7FFFFFF0u, 0xFFFFFFF0u, 0x80000000u}) {
        QByteArray b = seed;
        if (!headers.isEmpty() && headers.last().lengthSize == 4)
            put32(b, headers.last().lengthAt, len);
        add(QStringLiteral("%1-huge%2.dcm").arg(name).arg(len, 0, 16), b);
    }
    // Bad VRs.
    for (int i = 0; i < 8 && !headers.isEmpty(); ++i) {
        QByteArray b = seed;
        const Header h = headers.at(m_random.bounded(headers.size()));
        const char *bad[] = {"ZZ", "\x01\x02", "ob", "SQ", "UN", "OW", "  ", "FD"};
        b[h.at + 4] = bad[i][0];
        b[h.at + 5] = bad[i][1];
        add(QStringLiteral("%1-vr%2.dcm").arg(name).arg(i), b);
    }
}

void TestMalformed::mutatePicture(const QString &name, const QByteArray &seed)
{
    const QString ext = name.section(QLatin1Char('.'), -1);
    for (int i = 1; i <= 8; ++i)
        add(QStringLiteral("%1-cut%2.%3").arg(name).arg(i).arg(ext), seed.left(seed.size() * i / 9), true);
    for (int i = 0; i < 10; ++i) {
        QByteArray b = seed;
        for (int k = 0; k < 6; ++k)
            b[m_random.bounded(qint64(2), qint64(qMin<qsizetype>(b.size(), 200)))] = char(m_random.bounded(256));
        add(QStringLiteral("%1-flip%2.%3").arg(name).arg(i).arg(ext), b, true);
    }
}

void TestMalformed::initTestCase()
{
    // Seeds made here: colour and grey Secondary Capture, plain and JPEG.
    colourPicture(48, 32, 1).save(m_dir.filePath(QStringLiteral("seed.bmp")), "BMP");
    greyPicture(40, 30, 2).convertToFormat(QImage::Format_Indexed8).save(m_dir.filePath(QStringLiteral("seedgrey.bmp")), "BMP");
    colourPicture(40, 30, 3).save(m_dir.filePath(QStringLiteral("seed.jpg")), "JPG");
    for (const char *pic : {"seed.bmp", "seedgrey.bmp"}) {
        for (const char *ts : {kExplicitLittleEndian, kJpegExtended}) {
            Image img;
            img.setPatientName(QStringLiteral("FUZZ^SEED"));
            img.importPicture(m_dir.filePath(QLatin1String(pic)), QStringLiteral("BMP"));
            const QString out = m_dir.filePath(QStringLiteral("%1-%2.seed").arg(QLatin1String(pic)).arg(qHash(QLatin1String(ts))));
            img.writeFile(out, QLatin1String(ts));
            mutateDicom(QFileInfo(out).completeBaseName(), readAll(out), true);
            if (ts == kJpegExtended) {
                // Broken JPEG streams inside the pixel data.
                QByteArray b = readAll(out);
                const qsizetype soi = b.indexOf(QByteArray("\xFF\xD8", 2));
                for (int i = 0; i < 12 && soi > 0; ++i) {
                    QByteArray c = b;
                    for (int k = 0; k < 4; ++k)
                        c[soi + m_random.bounded(qint64(2), qint64(qMin<qsizetype>(c.size() - soi, 700)))] = char(m_random.bounded(256));
                    add(QStringLiteral("%1-jpeg%2.dcm").arg(QLatin1String(pic)).arg(i), c);
                }
            }
        }
    }
    for (const char *sample : {"CT_small.dcm", "MR_small_implicit.dcm", "JPGExtended.dcm", "SC_rgb_rle_2frame.dcm",
                               "rtplan.dcm", "nested_priv_SQ.dcm", "ExplVR_BigEnd.dcm"})
        mutateDicom(QLatin1String(sample), readAll(kSamples + QLatin1String(sample)), false);
    for (const char *sample : {"MR_truncated.dcm", "rtplan_truncated.dcm", "no_meta.dcm", "badVR.dcm", "meta_missing_tsyntax.dcm"})
        add(QLatin1String(sample), readAll(kSamples + QLatin1String(sample)));
    mutatePicture(QStringLiteral("seed.bmp"), readAll(m_dir.filePath(QStringLiteral("seed.bmp"))));
    mutatePicture(QStringLiteral("seedgrey.bmp"), readAll(m_dir.filePath(QStringLiteral("seedgrey.bmp"))));
    mutatePicture(QStringLiteral("seed.jpg"), readAll(m_dir.filePath(QStringLiteral("seed.jpg"))));
    // Inputs that once crashed a decoder.
    const QDir regressions(QStringLiteral(ORV_SOURCE_DIR "/tests/outside/dicom/fuzz/regressions"));
    for (const QString &name : regressions.entryList(QDir::Files))
        add(QStringLiteral("regression-") + name, readAll(regressions.filePath(name)));
    // A bitmap header that promises a huge picture.
    QByteArray huge = readAll(m_dir.filePath(QStringLiteral("seed.bmp")));
    put32(huge, 18, 65535);
    put32(huge, 22, 65535);
    add(QStringLiteral("huge.bmp"), huge, true);
}

void TestMalformed::damagedFilesAreRefusedCleanly()
{
    QVERIFY2(m_dicomFiles.size() + m_pictureFiles.size() >= 300, qPrintable(QString::number(m_dicomFiles.size())));
    int refused = 0;
    const QString scratch = m_dir.filePath(QStringLiteral("scratch"));
    for (const QString &path : m_dicomFiles) {
        try {
            Image img = Image::fromFile(path);
            QString text;
            dumpAttributes(text, QString(), img.attributes());
            if (img.frameCount() > 0)
                img.exportPicture(scratch + QStringLiteral(".bmp"), QStringLiteral("BMP"));
            img.writeFile(scratch + QStringLiteral(".dcm"), QLatin1String(kExplicitLittleEndian));
        } catch (const orv::Error &e) {
            ++refused;
            QVERIFY2(e.description().size() > 10, qPrintable(path));
        }
    }
    for (const QString &path : m_pictureFiles) {
        try {
            Image img;
            img.importPicture(path, QFileInfo(path).suffix());
            img.writeFile(scratch + QStringLiteral(".dcm"), QLatin1String(kJpegExtended));
        } catch (const orv::Error &e) {
            ++refused;
            QVERIFY2(e.description().size() > 10, qPrintable(path));
        }
    }
    qInfo("%lld damaged files, %d refused with an error", qlonglong(m_dicomFiles.size() + m_pictureFiles.size()), refused);
    QVERIFY(refused > 100);
}

ORV_TEST_MAIN(TestMalformed)
#include "tst_malformed.moc"
