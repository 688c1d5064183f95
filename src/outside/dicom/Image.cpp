#include "Image.h"

#include "DicomFile.h"
#include "InputLimits.h"
#include "Jpeg2000.h"
#include "Picture.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>
#include <dcmtk/dcmjpeg/djrploss.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace orv::dicom {

namespace {

E_TransferSyntax xferOf(const QString &uid)
{
    const DcmXfer x(uid.trimmed().toLatin1().constData());
    const E_TransferSyntax ts = x.getXfer();
    if (ts != EXS_LittleEndianExplicit && ts != EXS_LittleEndianImplicit && ts != EXS_JPEGProcess2_4
        && ts != EXS_JPEGProcess1 && ts != EXS_BigEndianExplicit)
        fail(QStringLiteral("The transfer syntax \"%1\" is not supported for writing.").arg(uid));
    return ts;
}

QString str(DcmItem *item, const DcmTagKey &key)
{
    OFString s, charset;
    item->findAndGetOFStringArray(key, s);
    item->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    return charset == "ISO_IR 100" ? QString::fromLatin1(s.c_str()) : QString::fromUtf8(s.c_str());
}

long num(DcmItem *item, const DcmTagKey &key, long def = 0)
{
    Sint32 v = 0;
    if (item->findAndGetSint32(key, v).good())
        return v;
    OFString s;
    if (item->findAndGetOFString(key, s).good() && !s.empty())
        return std::atol(s.c_str());
    return def;
}

void putIfAbsent(DcmItem *item, const DcmTagKey &key, const char *value)
{
    if (!item->tagExists(key))
        item->putAndInsertString(key, value);
}

// Copies every attribute but the pixel data into a new file format object.
std::unique_ptr<DcmFileFormat> copyWithoutPixels(DcmDataset *src)
{
    auto out = std::make_unique<DcmFileFormat>();
    DcmDataset *dst = out->getDataset();
    for (unsigned long i = 0; i < src->card(); ++i) {
        DcmElement *e = src->getElement(i);
        if (e->getTag() == DCM_PixelData)
            continue;
        dst->insert(static_cast<DcmElement *>(e->clone()), OFTrue);
    }
    return out;
}

// Native 8-bit pixels of every frame, checked against the image size; null when the data set
// holds no such pixels (other bit depths, compressed, other colour models).
const Uint8 *native8(DcmDataset *ds, long &rows, long &cols, long &samples, long &frames)
{
    rows = num(ds, DCM_Rows);
    cols = num(ds, DCM_Columns);
    samples = num(ds, DCM_SamplesPerPixel, 1);
    frames = num(ds, DCM_NumberOfFrames, 1);
    if (num(ds, DCM_BitsAllocated) != 8 || rows <= 0 || cols <= 0 || frames <= 0 || num(ds, DCM_PixelRepresentation) != 0)
        return nullptr;
    const QString pi = str(ds, DCM_PhotometricInterpretation);
    if (!((samples == 1 && (pi == QLatin1String("MONOCHROME2") || pi == QLatin1String("MONOCHROME1")))
          || (samples == 3 && pi == QLatin1String("RGB") && num(ds, DCM_PlanarConfiguration) == 0)))
        return nullptr;
    DcmElement *elem = nullptr;
    if (ds->findAndGetElement(DCM_PixelData, elem).bad() || !elem)
        return nullptr;
    auto *pd = static_cast<DcmPixelData *>(elem);
    if (!pd->canWriteXfer(EXS_LittleEndianExplicit, EXS_Unknown) && !pd->hasRepresentation(EXS_LittleEndianExplicit, nullptr))
        return nullptr;
    const std::uint64_t need = std::uint64_t(rows) * cols * samples * frames;
    if (pd->getLength() < need)
        fail(QStringLiteral("The pixel data is shorter than the image size requires."));
    Uint8 *data = nullptr;
    if (pd->getUint8Array(data).bad() || !data)
        return nullptr;
    return data;
}

// Refuses JPEG pixel data on which the toolkit's search for the bit depth would never end: it
// walks the markers of each fragment and does not move past a TEM marker (0xFF01). The walk
// here is the toolkit's, stopping where it stops.
void requireSoundJpeg(DcmDataset *ds)
{
    const DcmXfer xfer(ds->getOriginalXfer());
    if (!xfer.isEncapsulated() || xfer.getXfer() == EXS_RLELossless || xfer.getXfer() == EXS_JPEG2000
        || xfer.getXfer() == EXS_JPEG2000LosslessOnly || xfer.getXfer() == EXS_JPEGLSLossless
        || xfer.getXfer() == EXS_JPEGLSLossy)
        return;
    DcmElement *elem = nullptr;
    if (ds->findAndGetElement(DCM_PixelData, elem).bad() || !elem)
        return;
    DcmPixelSequence *seq = nullptr;
    if (static_cast<DcmPixelData *>(elem)->getEncapsulatedRepresentation(xfer.getXfer(), nullptr, seq).bad() || !seq)
        return;
    for (unsigned long i = 1; i < seq->card(); ++i) {
        DcmPixelItem *item = nullptr;
        Uint8 *data = nullptr;
        if (seq->getItem(item, i).bad() || !item || item->getUint8Array(data).bad() || !data)
            continue;
        const Uint32 length = item->getLength();
        Uint32 offset = 0;
        bool walking = length >= 4;
        while (walking && offset + 4 < length) {
            const Uint16 marker = Uint16(data[offset] << 8 | data[offset + 1]);
            if (marker == 0xFF01)
                fail(QStringLiteral("The JPEG pixel data is corrupt (a marker the decoder cannot pass in fragment %1).").arg(i));
            const bool frameHeader = marker >= 0xFFC0 && marker <= 0xFFCF && marker != 0xFFC4 && marker != 0xFFC8
                                     && marker != 0xFFCC;
            if ((marker >= 0xFFD0 && marker <= 0xFFD9) || (marker >= 0xFF02 && marker <= 0xFFBF))
                offset += 2;
            else if (!frameHeader && marker >= 0xFFC4 && marker <= 0xFFFE)
                offset += Uint32(data[offset + 2] << 8 | data[offset + 3]) + 2;
            else
                walking = false; // a frame header (the bit depth) or no marker: the walk ends
        }
    }
}

// Refuses RLE pixel data whose segment tables point outside the data: the decoder trusts them.
void requireSoundRle(DcmDataset *ds)
{
    if (ds->getOriginalXfer() != EXS_RLELossless)
        return;
    DcmElement *elem = nullptr;
    if (ds->findAndGetElement(DCM_PixelData, elem).bad() || !elem)
        return;
    DcmPixelSequence *seq = nullptr;
    if (static_cast<DcmPixelData *>(elem)->getEncapsulatedRepresentation(EXS_RLELossless, nullptr, seq).bad() || !seq)
        return;
    const unsigned long fragments = seq->card();
    const long frames = num(ds, DCM_NumberOfFrames, 1);
    std::uint64_t total = 0;
    for (unsigned long i = 1; i < fragments; ++i) {
        DcmPixelItem *item = nullptr;
        if (seq->getItem(item, i).good() && item)
            total += item->getLength();
    }
    for (unsigned long i = 1; i < fragments; ++i) {
        DcmPixelItem *item = nullptr;
        Uint8 *data = nullptr;
        if (seq->getItem(item, i).bad() || !item || item->getUint8Array(data).bad())
            continue;
        const Uint32 length = item->getLength();
        // With one fragment per frame every fragment starts with a segment table that must fit
        // it; otherwise only the first one does and the offsets span every fragment.
        const bool framePerFragment = long(fragments - 1) == frames;
        if (!framePerFragment && i > 1)
            break;
        const std::uint64_t limit = framePerFragment ? length : total;
        if (length < 64 || !data)
            fail(QStringLiteral("The RLE pixel data is corrupt (fragment %1 is too short).").arg(i));
        auto le = [data](int at) { return Uint32(data[at]) | Uint32(data[at + 1]) << 8 | Uint32(data[at + 2]) << 16 | Uint32(data[at + 3]) << 24; };
        const Uint32 segments = le(0);
        if (segments == 0 || segments > 15)
            fail(QStringLiteral("The RLE pixel data is corrupt (%1 segments).").arg(segments));
        Uint32 previous = 64;
        for (Uint32 s = 1; s <= segments; ++s) {
            const Uint32 offset = le(int(4 * s));
            if (offset < previous || offset >= limit)
                fail(QStringLiteral("The RLE pixel data is corrupt (segment %1 lies outside the data).").arg(s));
            previous = offset;
        }
    }
}

// Takes the directory-record attributes (group 0004, e.g. Referenced File ID) out of an image
// data set for as long as it lives: they belong in a DICOMDIR, and an image IOD with them fails
// validation. Own objects only.
class WithoutDirectoryAttributes
{
public:
    WithoutDirectoryAttributes(DcmDataset *ds, bool active) : m_ds(ds)
    {
        if (!active)
            return;
        for (unsigned long i = ds->card(); i-- > 0;)
            if (ds->getElement(i)->getGTag() == 0x0004)
                m_taken.push_back(ds->remove(i));
    }
    ~WithoutDirectoryAttributes()
    {
        for (DcmElement *e : m_taken)
            m_ds->insert(e, OFTrue);
    }

private:
    DcmDataset *m_ds;
    std::vector<DcmElement *> m_taken;
};

// A copy of the data set with its JPEG 2000 pixel data decoded into native pixels, for writing
// in a transfer syntax the toolkit can encode (it has no JPEG 2000 codec of its own). Colour
// comes back interleaved, as RGB unless the data set says YBR_FULL, whose samples the codestream
// keeps. Only single-frame data is decoded.
std::unique_ptr<DcmFileFormat> decodedJpeg2000(DcmDataset *ds)
{
    const long frames = num(ds, DCM_NumberOfFrames, 1);
    if (frames > 1)
        fail(QStringLiteral("Only single-frame JPEG 2000 images can be decoded; this one has %1 frames.").arg(frames));
    const Jpeg2000Frame frame = decodeJpeg2000(ds);
    if (frame.precision > 16)
        fail(QStringLiteral("JPEG 2000 data of %1 bits cannot be decoded.").arg(frame.precision));
    auto out = copyWithoutPixels(ds);
    DcmDataset *od = out->getDataset();
    const Uint16 allocated = frame.precision <= 8 ? 8 : 16;
    long stored = num(ds, DCM_BitsStored, frame.precision);
    if (stored < 1 || stored > allocated)
        stored = frame.precision;
    od->putAndInsertUint16(DCM_Rows, Uint16(frame.height));
    od->putAndInsertUint16(DCM_Columns, Uint16(frame.width));
    od->putAndInsertUint16(DCM_SamplesPerPixel, Uint16(frame.components));
    od->putAndInsertUint16(DCM_BitsAllocated, allocated);
    od->putAndInsertUint16(DCM_BitsStored, Uint16(stored));
    od->putAndInsertUint16(DCM_HighBit, Uint16(stored - 1));
    od->putAndInsertUint16(DCM_PixelRepresentation, frame.isSigned ? 1 : 0);
    if (frame.components == 3) {
        od->putAndInsertUint16(DCM_PlanarConfiguration, 0);
        if (!str(ds, DCM_PhotometricInterpretation).startsWith(QLatin1String("YBR_FULL")))
            od->putAndInsertString(DCM_PhotometricInterpretation, "RGB");
    } else {
        delete od->remove(DCM_PlanarConfiguration);
    }
    const std::size_t count = frame.samples.size();
    if (allocated == 8) {
        std::vector<Uint8> px(count + (count & 1));
        for (std::size_t i = 0; i < count; ++i)
            px[i] = Uint8(frame.samples[i] & 0xFF);
        od->putAndInsertUint8Array(DCM_PixelData, px.data(), Uint32(px.size()));
    } else {
        std::vector<Uint16> px(count);
        for (std::size_t i = 0; i < count; ++i)
            px[i] = Uint16(frame.samples[i] & 0xFFFF);
        od->putAndInsertUint16Array(DCM_PixelData, px.data(), Uint32(px.size()));
    }
    return out;
}

} // namespace

Image::Image() : m_file(std::make_shared<DcmFileFormat>()), m_description(std::make_shared<QString>())
{
    initialiseCodecs();
}

Image Image::fromFile(const QString &path)
{
    initialiseCodecs();
    Image img;
    img.m_own = false;
    img.m_file = readDicomFile(path);
    return img;
}

DataSet Image::dataSet() const { return dataSetOf(m_file, m_changes); }

Image Image::clone() const
{
    Image copy;
    *copy.m_file = *m_file;
    *copy.m_description = *m_description;
    *copy.m_listFileName = *m_listFileName;
    copy.m_own = m_own;
    return copy;
}

QString Image::description() const
{
    return m_description->isEmpty() ? patientName() : *m_description;
}

void Image::setDescription(const QString &text) { *m_description = text; }

QString Image::studyUid() const { return str(m_file->getDataset(), DCM_StudyInstanceUID); }
void Image::setStudyUid(const QString &uid) { add(0x0020, 0x000D, uid); }
QString Image::seriesUid() const { return str(m_file->getDataset(), DCM_SeriesInstanceUID); }
void Image::setSeriesUid(const QString &uid) { add(0x0020, 0x000E, uid); }
QString Image::instanceUid() const { return str(m_file->getDataset(), DCM_SOPInstanceUID); }
void Image::setInstanceUid(const QString &uid) { add(0x0008, 0x0018, uid); }
QString Image::patientName() const { return str(m_file->getDataset(), DCM_PatientName); }
void Image::setPatientName(const QString &name) { add(0x0010, 0x0010, name); }

int Image::frameCount() const
{
    DcmDataset *ds = m_file->getDataset();
    if (!ds->tagExists(DCM_PixelData))
        return 0;
    return int(qMax(1L, num(ds, DCM_NumberOfFrames, 1)));
}

int Image::width() const { return int(num(m_file->getDataset(), DCM_Columns)); }
int Image::height() const { return int(num(m_file->getDataset(), DCM_Rows)); }

namespace {
// Replaces the image pixel module of `ds` by that of 8-bit pixels of the given size (the pixel
// data itself is inserted by the caller), and sets the Secondary Capture class that fits.
void replacePixelModule(DcmDataset *ds, int width, int height, int samples, int frames, double frameTimeMs)
{
    for (const DcmTagKey &k : {DCM_PixelData, DCM_NumberOfFrames, DCM_FrameIncrementPointer, DCM_FrameTime,
                               DCM_PlanarConfiguration, DCM_LossyImageCompression, DCM_LossyImageCompressionRatio,
                               DCM_LossyImageCompressionMethod, DCM_WindowCenter, DCM_WindowWidth})
        ds->findAndDeleteElement(k);
    ds->putAndInsertUint16(DCM_SamplesPerPixel, Uint16(samples));
    ds->putAndInsertString(DCM_PhotometricInterpretation, samples == 1 ? "MONOCHROME2" : "RGB");
    ds->putAndInsertUint16(DCM_Rows, Uint16(height));
    ds->putAndInsertUint16(DCM_Columns, Uint16(width));
    ds->putAndInsertUint16(DCM_BitsAllocated, 8);
    ds->putAndInsertUint16(DCM_BitsStored, 8);
    ds->putAndInsertUint16(DCM_HighBit, 7);
    ds->putAndInsertUint16(DCM_PixelRepresentation, 0);
    if (samples == 3)
        ds->putAndInsertUint16(DCM_PlanarConfiguration, 0);
    OFString sopClass;
    ds->findAndGetOFString(DCM_SOPClassUID, sopClass);
    const bool scFamily = sopClass.empty() || sopClass == kSecondaryCaptureClass || sopClass == kMultiFrameGreyClass
                          || sopClass == kMultiFrameColourClass;
    if (frames > 1) {
        ds->putAndInsertString(DCM_NumberOfFrames, QByteArray::number(frames).constData());
        ds->putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTime);
        ds->putAndInsertString(DCM_FrameTime, QByteArray::number(frameTimeMs, 'f', 2).constData());
        if (scFamily)
            ds->putAndInsertString(DCM_SOPClassUID, samples == 1 ? kMultiFrameGreyClass : kMultiFrameColourClass);
    } else if (scFamily) {
        ds->putAndInsertString(DCM_SOPClassUID, kSecondaryCaptureClass);
    }
}
} // namespace

void Image::importPicture(const QString &path, const QString &format)
{
    const QString fmt = format.isEmpty() ? QFileInfo(path).suffix() : format;
    Picture pic = readPicture(path, fmt);
    if (pic.width > 0xFFFF || pic.height > 0xFFFF)
        fail(QStringLiteral("%1 is %2 x %3 pixels; a DICOM image holds at most 65535 x 65535.").arg(path).arg(pic.width).arg(pic.height));
    DcmDataset *ds = m_file->getDataset();
    replacePixelModule(ds, pic.width, pic.height, pic.samples, pic.frames, pic.frameTimeMs);
    QFile head(path);
    if (head.open(QIODevice::ReadOnly) && head.read(2) == QByteArray("\xFF\xD8", 2)) {
        ds->putAndInsertString(DCM_LossyImageCompression, "01");
        ds->putAndInsertString(DCM_LossyImageCompressionMethod, "ISO_10918_1");
    }
    auto *pd = new DcmPixelData(DcmTag(DCM_PixelData, EVR_OB));
    Uint8 *buf = nullptr;
    const Uint32 len = Uint32(pic.pixels.size());
    if (pd->createUint8Array(len + (len & 1), buf).bad() || !buf) {
        delete pd;
        fail(QStringLiteral("Not enough memory for the pixels of %1.").arg(path));
    }
    std::memcpy(buf, pic.pixels.data(), len);
    if (len & 1)
        buf[len] = 0;
    ds->insert(pd, OFTrue);
}

void Image::importFrame(const QImage &frame, int quality)
{
    if (frame.isNull())
        fail(QStringLiteral("There is no frame to write."));
    if (frame.width() > 0xFFFF || frame.height() > 0xFFFF)
        fail(QStringLiteral("The frame is %1 x %2 pixels; a DICOM image holds at most 65535 x 65535.").arg(frame.width()).arg(frame.height()));
    const bool grey = frame.format() == QImage::Format_Grayscale8;
    QByteArray jpeg = encodeJpeg(frame, quality);
    if (jpeg.size() & 1)
        jpeg.append('\0');
    DcmDataset *ds = m_file->getDataset();
    replacePixelModule(ds, frame.width(), frame.height(), grey ? 1 : 3, 1, 0);
    if (!grey)
        ds->putAndInsertString(DCM_PhotometricInterpretation, "YBR_FULL_422");
    const double ratio = double(frame.width()) * frame.height() * (grey ? 1 : 3) / double(qMax<qsizetype>(1, jpeg.size()));
    ds->putAndInsertString(DCM_LossyImageCompression, "01");
    ds->putAndInsertString(DCM_LossyImageCompressionRatio, QByteArray::number(ratio, 'f', 2).constData());
    ds->putAndInsertString(DCM_LossyImageCompressionMethod, "ISO_10918_1");
    auto *seq = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
    seq->insert(new DcmPixelItem(DcmTag(DCM_Item, EVR_OB)));
    auto *item = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
    item->putUint8Array(reinterpret_cast<const Uint8 *>(jpeg.constData()), Uint32(jpeg.size()));
    seq->insert(item);
    auto *pd = new DcmPixelData(DcmTag(DCM_PixelData, EVR_OB));
    pd->putOriginalRepresentation(EXS_JPEGProcess2_4, nullptr, seq);
    ds->insert(pd, OFTrue);
    ds->updateOriginalXfer();
}

Picture Image::render(int frame, int frameCountToRender) const
{
    try {
        return renderUnguarded(frame, frameCountToRender);
    } catch (const std::bad_alloc &) {
        fail(QStringLiteral("Not enough memory to display the image."));
    }
}

Picture Image::renderUnguarded(int frame, int frameCountToRender) const
{
    DcmDataset *ds = m_file->getDataset();
    const int frames = frameCount();
    if (frames == 0)
        fail(QStringLiteral("The image holds no pixel data."));
    frame = qBound(0, frame, frames - 1);
    requireDecodable();
    frameCountToRender = qBound(1, frameCountToRender, frames - frame);
    Picture pic;
    pic.frames = frameCountToRender;
    pic.frameTimeMs = double(num(ds, DCM_FrameTime, 40));
    long rows = 0, cols = 0, samples = 0, nframes = 0;
    if (const Uint8 *data = native8(ds, rows, cols, samples, nframes);
        data && str(ds, DCM_PhotometricInterpretation) != QLatin1String("MONOCHROME1")) {
        pic.width = int(cols);
        pic.height = int(rows);
        pic.samples = int(samples);
        const std::size_t size = pic.frameSize();
        pic.pixels.assign(data + size * frame, data + size * (frame + frameCountToRender));
        return pic;
    }
    DicomImage di(ds, ds->getOriginalXfer(), CIF_UsePartialAccessToPixelData, frame, frameCountToRender);
    if (di.getStatus() != EIS_Normal)
        fail(QStringLiteral("The image cannot be displayed: %1").arg(QString::fromLatin1(DicomImage::getString(di.getStatus()))));
    if (di.isMonochrome()) {
        if (di.getWindowCount() > 0)
            di.setWindow(0);
        else
            di.setMinMaxWindow();
    }
    pic.width = int(di.getWidth());
    pic.height = int(di.getHeight());
    pic.samples = di.isMonochrome() ? 1 : 3;
    pic.pixels.resize(pic.frameSize() * frameCountToRender);
    for (int f = 0; f < frameCountToRender; ++f)
        if (!di.getOutputData(pic.pixels.data() + pic.frameSize() * f, pic.frameSize(), 8, f))
            fail(QStringLiteral("Frame %1 of the image cannot be rendered.").arg(frame + f + 1));
    return pic;
}

void Image::exportPicture(const QString &path, const QString &format) const
{
    const QString fmt = format.section(QLatin1Char('.'), -1).toUpper();
    const Picture pic = render(0);
    if (fmt == QLatin1String("BMP") || fmt == QLatin1String("DIB"))
        writeBmp(path, pic, 0);
    else if (fmt == QLatin1String("JPG") || fmt == QLatin1String("JPEG"))
        writeJpegFile(path, pic, 0, 90);
    else
        fail(QStringLiteral("The picture format \"%1\" cannot be written (BMP or JPG).").arg(format));
}

void Image::exportVideo(const QString &path, int frameCount, int quality) const
{
    const int n = qBound(1, frameCount, qMax(1, this->frameCount()));
    writeVideo(path, render(0, n), n, quality);
}

void Image::complete()
{
    if (!m_own)
        return;
    DcmDataset *ds = m_file->getDataset();
    // A value given but left empty that the object cannot do without: its change says what
    // was written instead.
    const auto filled = [this](const DcmTagKey &k, const QString &value, const QString &why) {
        for (ValueChange &c : *m_changes)
            if (c.group == k.getGroup() && c.element == k.getElement() && c.written.isEmpty()) {
                c.written = value;
                c.what << why;
            }
    };
    putIfAbsent(ds, DCM_SOPClassUID, kSecondaryCaptureClass);
    for (const DcmTagKey &k : {DCM_SOPInstanceUID, DCM_StudyInstanceUID, DCM_SeriesInstanceUID})
        if (str(ds, k).isEmpty()) {
            const QString uid = newUid();
            ds->putAndInsertString(k, uid.toLatin1().constData());
            filled(k, uid, QStringLiteral("required, so a new UID was made"));
        }
    for (const DcmTagKey &k : {DCM_PatientName, DCM_PatientID, DCM_PatientBirthDate, DCM_PatientSex, DCM_StudyDate,
                               DCM_StudyTime, DCM_ReferringPhysicianName, DCM_StudyID, DCM_AccessionNumber,
                               DCM_SeriesNumber, DCM_InstanceNumber, DCM_PatientOrientation, DCM_Laterality})
        putIfAbsent(ds, k, "");
    if (str(ds, DCM_Modality).isEmpty()) {
        ds->putAndInsertString(DCM_Modality, "OT");
        filled(DCM_Modality, QStringLiteral("OT"), QStringLiteral("required, so written as \"OT\""));
    }
    if (str(ds, DCM_ConversionType).isEmpty())
        ds->putAndInsertString(DCM_ConversionType, "WSD");
    if (num(ds, DCM_NumberOfFrames, 1) > 1)
        putIfAbsent(ds, DCM_BurnedInAnnotation, "NO");
    if (!ds->tagExists(DCM_InstanceCreationDate)) {
        const QDateTime now = QDateTime::currentDateTime();
        ds->putAndInsertString(DCM_InstanceCreationDate, now.toString(QStringLiteral("yyyyMMdd")).toLatin1().constData());
        ds->putAndInsertString(DCM_InstanceCreationTime, now.toString(QStringLiteral("HHmmss")).toLatin1().constData());
    }
    dataSet().conform();
}

ValueChanges Image::writeFile(const QString &path, const QString &transferSyntax, int quality)
{
    const E_TransferSyntax ts = xferOf(transferSyntax);
    complete();
    DcmDataset *ds = m_file->getDataset();
    requireSoundRle(ds);
    const WithoutDirectoryAttributes outOfTheWay(ds, m_own);
    if (ds->tagExists(DCM_PixelData) && isJpeg2000(DcmXfer(ds->getOriginalXfer()).getXferID())) {
        Image decoded;
        *decoded.m_file = *decodedJpeg2000(ds);
        decoded.m_own = false; // completed above, written as it is
        decoded.writeFile(path, transferSyntax, quality);
        return valueChanges();
    }
    const QByteArray file = QFile::encodeName(path);
    const bool jpeg = ts == EXS_JPEGProcess2_4 || ts == EXS_JPEGProcess1;
    quality = qBound(1, quality, 100);
    try {
        if (jpeg && ds->getOriginalXfer() != ts) {
            long rows = 0, cols = 0, samples = 0, frames = 0;
            if (const Uint8 *data = native8(ds, rows, cols, samples, frames)) {
                auto out = copyWithoutPixels(ds);
                DcmDataset *od = out->getDataset();
                auto *seq = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
                seq->insert(new DcmPixelItem(DcmTag(DCM_Item, EVR_OB)));
                const std::size_t frameSize = std::size_t(rows) * cols * samples;
                std::size_t compressed = 0;
                for (long f = 0; f < frames; ++f) {
                    QByteArray j = encodeJpeg(data + frameSize * f, int(cols), int(rows), int(samples), quality);
                    if (j.size() & 1)
                        j.append('\0');
                    compressed += std::size_t(j.size());
                    auto *item = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
                    item->putUint8Array(reinterpret_cast<const Uint8 *>(j.constData()), Uint32(j.size()));
                    seq->insert(item);
                }
                auto *pd = new DcmPixelData(DcmTag(DCM_PixelData, EVR_OB));
                pd->putOriginalRepresentation(ts, nullptr, seq);
                od->insert(pd, OFTrue);
                if (samples == 3)
                    od->putAndInsertString(DCM_PhotometricInterpretation, "YBR_FULL_422");
                const QString ratio = QString::number(double(frameSize * frames) / double(qMax<std::size_t>(1, compressed)), 'f', 2);
                if (str(od, DCM_LossyImageCompression) == QLatin1String("01")) {
                    const QString methods = str(od, DCM_LossyImageCompressionMethod);
                    const QString ratios = str(od, DCM_LossyImageCompressionRatio);
                    const int nm = methods.isEmpty() ? 0 : int(methods.count(QLatin1Char('\\'))) + 1;
                    const int nr = ratios.isEmpty() ? 0 : int(ratios.count(QLatin1Char('\\'))) + 1;
                    od->putAndInsertString(DCM_LossyImageCompressionMethod,
                                           (methods.isEmpty() ? QStringLiteral("ISO_10918_1") : methods + QStringLiteral("\\ISO_10918_1")).toLatin1().constData());
                    if (nr == nm)
                        od->putAndInsertString(DCM_LossyImageCompressionRatio,
                                               (ratios.isEmpty() ? ratio : ratios + QLatin1Char('\\') + ratio).toLatin1().constData());
                    else
                        od->findAndDeleteElement(DCM_LossyImageCompressionRatio);
                } else {
                    od->putAndInsertString(DCM_LossyImageCompression, "01");
                    od->putAndInsertString(DCM_LossyImageCompressionRatio, ratio.toLatin1().constData());
                    od->putAndInsertString(DCM_LossyImageCompressionMethod, "ISO_10918_1");
                }
                check(out->saveFile(OFFilename(file.constData()), ts, EET_ExplicitLength, EGL_recalcGL),
                      QStringLiteral("Cannot write %1").arg(path));
                return valueChanges();
            }
            DJ_RPLossy param(quality);
            auto out = std::unique_ptr<DcmFileFormat>(static_cast<DcmFileFormat *>(m_file->clone()));
            check(out->getDataset()->chooseRepresentation(ts, &param),
                  QStringLiteral("Cannot compress the image as JPEG"));
            check(out->saveFile(OFFilename(file.constData()), ts, EET_ExplicitLength, EGL_recalcGL),
                  QStringLiteral("Cannot write %1").arg(path));
            return valueChanges();
        }
        if (ds->tagExists(DCM_PixelData))
            check(ds->chooseRepresentation(ts, nullptr), QStringLiteral("Cannot convert the pixel data"));
        check(m_file->saveFile(OFFilename(file.constData()), ts, EET_ExplicitLength, EGL_recalcGL),
              QStringLiteral("Cannot write %1").arg(path));
    } catch (const std::bad_alloc &) {
        fail(QStringLiteral("Not enough memory to write %1.").arg(path));
    }
    return valueChanges();
}

void Image::requireDecodable() const
{
    requirePixelDataFits(m_file->getDataset());
    requireSoundRle(m_file->getDataset());
    requireSoundJpeg(m_file->getDataset());
}

void Image::withoutDirectoryAttributes(const std::function<void()> &f)
{
    const WithoutDirectoryAttributes outOfTheWay(m_file->getDataset(), m_own);
    f();
}

} // namespace orv::dicom
