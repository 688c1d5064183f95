#include "VideoObject.h"

#include "DerivedObject.h"
#include "Image.h"
#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

#include <QFile>

namespace orv::dicom {

namespace {

void put(DcmItem *ds, const DcmTagKey &key, const QString &value)
{
    putText(ds, key, value, QStringLiteral("Cannot set a video attribute"));
}

// A decimal string of at most 16 characters.
QString decimal(double v) { return QString::number(v, 'g', 10); }

} // namespace

ValueChanges writeVideoObject(Image &image, const H264Clip &clip, const QString &sopClass, const QString &path)
{
    if (clip.stream.isEmpty() || clip.frames <= 0)
        fail(QStringLiteral("The clip holds no frame; %1 is not written.").arg(path));
    DcmDataset *ds = image.fileFormat()->getDataset();
    const bool endoscopic = sopClass == QLatin1String(kVideoEndoscopicClass);

    // What a picture carries but a video object has no module for.
    for (const DcmTagKey &k : {DCM_ConversionType, DCM_DateOfSecondaryCapture, DCM_TimeOfSecondaryCapture, DCM_PixelData,
                               DCM_PixelAspectRatio, DCM_BurnedInAnnotation})
        ds->findAndDeleteElement(k);

    completeDerivedObject(ds, sopClass, clip.recorded, {DCM_PatientOrientation}, QStringLiteral("Cannot set a video attribute"));
    // The modality of both classes is fixed by the class.
    put(ds, DCM_Modality, endoscopic ? QStringLiteral("ES") : QStringLiteral("XC"));

    // VL Image and Image Pixel: what an H.264 stream decodes to.
    put(ds, DCM_ImageType, QStringLiteral("ORIGINAL\\PRIMARY"));
    check(ds->putAndInsertUint16(DCM_SamplesPerPixel, 3), QStringLiteral("Cannot set a video attribute"));
    put(ds, DCM_PhotometricInterpretation, QStringLiteral("YBR_PARTIAL_420"));
    check(ds->putAndInsertUint16(DCM_PlanarConfiguration, 0), QStringLiteral("Cannot set a video attribute"));
    check(ds->putAndInsertUint16(DCM_Rows, Uint16(clip.height)), QStringLiteral("Cannot set a video attribute"));
    check(ds->putAndInsertUint16(DCM_Columns, Uint16(clip.width)), QStringLiteral("Cannot set a video attribute"));
    for (const auto &[key, value] : {std::pair{DCM_BitsAllocated, 8}, {DCM_BitsStored, 8}, {DCM_HighBit, 7}, {DCM_PixelRepresentation, 0}})
        check(ds->putAndInsertUint16(key, Uint16(value)), QStringLiteral("Cannot set a video attribute"));
    const double raw = double(clip.width) * clip.height * 1.5 * clip.frames;
    put(ds, DCM_LossyImageCompression, QStringLiteral("01"));
    put(ds, DCM_LossyImageCompressionRatio, QString::number(raw / double(clip.stream.size()), 'f', 2));
    put(ds, DCM_LossyImageCompressionMethod, QStringLiteral("ISO_14496_10"));

    // Cine and Multi-frame.
    const double frameTime = 1000.0 / clip.frameRate();
    const QString perSecond = QString::number(qRound(clip.frameRate()));
    put(ds, DCM_NumberOfFrames, QString::number(clip.frames));
    check(ds->putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTime), QStringLiteral("Cannot set a video attribute"));
    put(ds, DCM_FrameTime, decimal(frameTime));
    put(ds, DCM_CineRate, perSecond);
    put(ds, DCM_RecommendedDisplayFrameRate, perSecond);
    put(ds, DCM_StartTrim, QStringLiteral("1"));
    put(ds, DCM_StopTrim, QString::number(clip.frames));
    put(ds, DCM_ActualFrameDuration, QString::number(qRound(frameTime)));
    // The region is required and the workstation records none for a clip: the whole body.
    if (!ds->tagExists(DCM_AnatomicRegionSequence)) {
        DcmItem *region = nullptr;
        check(ds->findOrCreateSequenceItem(DCM_AnatomicRegionSequence, region, 0), QStringLiteral("Cannot set a video attribute"));
        put(region, DCM_CodeValue, QStringLiteral("38266002"));
        put(region, DCM_CodingSchemeDesignator, QStringLiteral("SCT"));
        put(region, DCM_CodeMeaning, QStringLiteral("Entire body"));
    }
    if (!ds->tagExists(DCM_AcquisitionContextSequence))
        check(ds->insertEmptyElement(DCM_AcquisitionContextSequence), QStringLiteral("Cannot set a video attribute"));

    // The whole stream is the one frame's fragment, after an empty offset table.
    auto *seq = new DcmPixelSequence(DcmTag(DCM_PixelData, EVR_OB));
    seq->insert(new DcmPixelItem(DcmTag(DCM_Item, EVR_OB)));
    auto *fragment = new DcmPixelItem(DcmTag(DCM_Item, EVR_OB));
    fragment->putUint8Array(reinterpret_cast<const Uint8 *>(clip.stream.constData()), Uint32(clip.stream.size()));
    seq->insert(fragment);
    auto *pixels = new DcmPixelData(DcmTag(DCM_PixelData, EVR_OB));
    pixels->putOriginalRepresentation(EXS_MPEG4HighProfileLevel4_1, nullptr, seq);
    ds->insert(pixels, OFTrue);

    image.dataSet().conform();
    const QByteArray file = QFile::encodeName(path);
    try {
        check(image.fileFormat()->saveFile(OFFilename(file.constData()), EXS_MPEG4HighProfileLevel4_1, EET_ExplicitLength,
                                           EGL_recalcGL),
              QStringLiteral("Cannot write %1").arg(path));
    } catch (const std::bad_alloc &) {
        fail(QStringLiteral("Not enough memory to write %1.").arg(path));
    }
    return image.valueChanges();
}

} // namespace orv::dicom
