// Hundreds of damaged files (truncated, wrong lengths, bad VRs, lengths of gigabytes, broken
// JPEG data, flipped bytes) must be refused with a readable Error, never crash or hang; the
// test is also built with AddressSanitizer and UndefinedBehaviorSanitizer (sanitized.sh).

#include "Pictures.h"

#include "common/TestMain.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace orv::dicom;
using namespace orv::test;
using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

quint32 le(const QByteArray &b, qsizetype at, int size)
{
    quint32 v = 0;
    for (int i = 0; i < size; ++i)
        v |= quint32(uchar(b[at + i])) << (8 * i);
    return v;
}

void putLe(QByteArray &b, qsizetype at, int size, quint32 v)
{
    for (int i = 0; i < size && at + i < b.size(); ++i)
        b[at + i] = char(v >> (8 * i));
}

// Top-level elements of an explicit VR little endian PS3.10 file: where each starts, where its
// length field is and how wide.
struct Header
{
    qsizetype at, lengthAt;
    int lengthSize;
};

QList<Header> explicitHeaders(const QByteArray &b)
{
    QList<Header> list;
    for (qsizetype p = 132; p + 12 <= b.size();) {
        const QByteArray vr = b.mid(p + 4, 2);
        const int size = QList<QByteArray>{"OB", "OW", "SQ", "UN", "UT", "OF"}.contains(vr) ? 4 : 2;
        const qsizetype lengthAt = p + (size == 4 ? 8 : 6);
        const quint32 len = le(b, lengthAt, size);
        list << Header{p, lengthAt, size};
        if (len == 0xFFFFFFFF)
            break; // undefined length: the headers so far suffice
        p = lengthAt + size + len;
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
    void mutate(const QString &name, const QByteArray &seed, bool picture);
    void add(const QString &name, const QByteArray &data, bool picture = false);

    QTemporaryDir m_dir;
    QStringList m_dicomFiles, m_pictureFiles;
    QRandomGenerator m_random{20261205};
};

void TestMalformed::add(const QString &name, const QByteArray &data, bool picture)
{
    QFile f(m_dir.filePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
    (picture ? m_pictureFiles : m_dicomFiles) << f.fileName();
}

void TestMalformed::mutate(const QString &name, const QByteArray &seed, bool picture)
{
    const qsizetype from = picture ? 2 : 132;
    for (int i = 1; i <= 16; ++i) // truncated at spread offsets
        add(u"%1-cut%2"_s.arg(name).arg(i), seed.left(seed.size() * i / 17), picture);
    for (int i = 0; i < 10; ++i) { // random bytes
        QByteArray b = seed;
        for (int k = 0; k < 8; ++k)
            b[m_random.bounded(from, qMax(from + 1, qMin<qsizetype>(b.size(), picture ? 400 : b.size())))] = char(m_random.bounded(256));
        add(u"%1-flip%2"_s.arg(name).arg(i), b, picture);
    }
    const QList<Header> headers = picture || !seed.startsWith(QByteArray(128, '\0')) ? QList<Header>() : explicitHeaders(seed);
    if (headers.isEmpty())
        return;
    // Wrong lengths (odd, undefined, gigabytes, zero) on random elements, gigabytes on the pixel data.
    const quint32 lengths[] = {1, 3, 0xFFFFFFFF, 0x7FFFFFF0, 0xFFFFFFF0, 0x40000000, 0};
    for (int i = 0; i < 14; ++i) {
        const Header h = headers.at(m_random.bounded(headers.size()));
        QByteArray b = seed;
        putLe(b, h.lengthAt, h.lengthSize, lengths[i % 7]);
        add(u"%1-len%2"_s.arg(name).arg(i), b);
    }
    for (quint32 len : {0x7FFFFFF0u, 0xFFFFFFF0u, 0x80000000u}) {
        QByteArray b = seed;
        putLe(b, headers.last().lengthAt, headers.last().lengthSize, len);
        add(u"%1-huge%2"_s.arg(name).arg(len, 0, 16), b);
    }
    for (const char *vr : {"ZZ", "\x01\x02", "ob", "SQ", "UN", "OW", "  ", "FD"}) { // bad VRs
        QByteArray b = seed;
        b.replace(headers.at(m_random.bounded(headers.size())).at + 4, 2, QByteArray(vr, 2));
        add(u"%1-vr%2"_s.arg(name).arg(m_dicomFiles.size()), b);
    }
}

void TestMalformed::initTestCase()
{
    // Seeds made here: colour and grey Secondary Capture, plain and JPEG, and their pictures.
    colourPicture(48, 32, 1).save(m_dir.filePath(u"seed.bmp"_s), "BMP");
    greyPicture(40, 30, 2).convertToFormat(QImage::Format_Indexed8).save(m_dir.filePath(u"seedgrey.bmp"_s), "BMP");
    colourPicture(40, 30, 3).save(m_dir.filePath(u"seed.jpg"_s), "JPG");
    for (const QString &pic : {u"seed.bmp"_s, u"seedgrey.bmp"_s, u"seed.jpg"_s}) {
        mutate(pic, readAll(m_dir.filePath(pic)), true);
        for (const char *ts : {kExplicitLittleEndian, kJpegExtended}) {
            Image img;
            img.importPicture(m_dir.filePath(pic));
            const QString out = m_dir.filePath(pic + QLatin1String(ts) + u".seed"_s);
            img.writeFile(out, QLatin1String(ts));
            const QByteArray b = readAll(out);
            mutate(QFileInfo(out).fileName(), b, false);
            const qsizetype soi = b.indexOf(QByteArray("\xFF\xD8", 2));
            for (int i = 0; i < 12 && ts == kJpegExtended; ++i) { // broken JPEG streams in the pixel data
                QByteArray c = b;
                for (int k = 0; k < 4; ++k)
                    c[soi + m_random.bounded(qsizetype(2), qMin<qsizetype>(c.size() - soi, 700))] = char(m_random.bounded(256));
                add(u"%1-jpeg%2.dcm"_s.arg(pic).arg(i), c);
            }
        }
    }
    const QString samples = u"/usr/lib/python3/dist-packages/pydicom/data/test_files/"_s;
    for (const char *sample : {"CT_small.dcm", "MR_small_implicit.dcm", "JPGExtended.dcm", "SC_rgb_rle_2frame.dcm", "rtplan.dcm",
                               "nested_priv_SQ.dcm", "ExplVR_BigEnd.dcm"})
        mutate(QLatin1String(sample), readAll(samples + QLatin1String(sample)), false);
    for (const char *sample : {"MR_truncated.dcm", "rtplan_truncated.dcm", "no_meta.dcm", "badVR.dcm", "meta_missing_tsyntax.dcm"})
        add(QLatin1String(sample), readAll(samples + QLatin1String(sample)));
    // Inputs that once crashed a decoder.
    const QDir regressions(QStringLiteral(ORV_SOURCE_DIR "/tests/outside/dicom/fuzz/regressions"));
    for (const QString &name : regressions.entryList(QDir::Files))
        add(u"regression-"_s + name, readAll(regressions.filePath(name)));
    QByteArray huge = readAll(m_dir.filePath(u"seed.bmp"_s)); // a bitmap that promises 65535 x 65535
    putLe(huge, 18, 4, 65535);
    putLe(huge, 22, 4, 65535);
    add(u"huge.bmp"_s, huge, true);
}

void TestMalformed::damagedFilesAreRefusedCleanly()
{
    QVERIFY(m_dicomFiles.size() + m_pictureFiles.size() >= 300);
    int refused = 0;
    const QString scratch = m_dir.filePath(u"scratch"_s);
    auto expectNoneOrError = [&](const QString &path, const std::function<void()> &use) {
        const QString error = errorOf(use);
        if (error != u"(no error)"_s) {
            ++refused;
            QVERIFY2(error.size() > 10, qPrintable(path));
        }
    };
    for (const QString &path : std::as_const(m_dicomFiles))
        expectNoneOrError(path, [&] {
            Image img = Image::fromFile(path);
            QString text;
            dumpAttributes(text, QString(), img.attributes());
            if (img.frameCount() > 0)
                img.exportPicture(scratch + u".bmp"_s, u"BMP"_s);
            img.writeFile(scratch + u".dcm"_s, QLatin1String(kExplicitLittleEndian));
        });
    for (const QString &path : std::as_const(m_pictureFiles))
        expectNoneOrError(path, [&] {
            Image img;
            img.importPicture(path, u"BMP"_s);
            img.writeFile(scratch + u".dcm"_s, QLatin1String(kJpegExtended));
        });
    qInfo("%lld damaged files, %d refused with an error", qlonglong(m_dicomFiles.size() + m_pictureFiles.size()), refused);
    QVERIFY(refused > 100);
}

ORV_TEST_MAIN(TestMalformed)
#include "tst_malformed.moc"
