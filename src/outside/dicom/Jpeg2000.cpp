#include "Jpeg2000.h"

#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <openjpeg.h>

#include <QString>

#include <algorithm>
#include <cstring>
#include <memory>

namespace orv::dicom {

namespace {

struct Source
{
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
};

OPJ_SIZE_T readFn(void *buffer, OPJ_SIZE_T n, void *user)
{
    auto *s = static_cast<Source *>(user);
    if (s->at >= s->size)
        return OPJ_SIZE_T(-1);
    n = std::min<OPJ_SIZE_T>(n, s->size - s->at);
    std::memcpy(buffer, s->data + s->at, n);
    s->at += n;
    return n;
}

OPJ_OFF_T skipFn(OPJ_OFF_T n, void *user)
{
    auto *s = static_cast<Source *>(user);
    const OPJ_OFF_T room = OPJ_OFF_T(s->size - s->at);
    n = std::clamp<OPJ_OFF_T>(n, -OPJ_OFF_T(s->at), room);
    s->at = std::size_t(OPJ_OFF_T(s->at) + n);
    return n;
}

OPJ_BOOL seekFn(OPJ_OFF_T to, void *user)
{
    auto *s = static_cast<Source *>(user);
    if (to < 0 || std::size_t(to) > s->size)
        return OPJ_FALSE;
    s->at = std::size_t(to);
    return OPJ_TRUE;
}

void errorFn(const char *message, void *user)
{
    auto *text = static_cast<QString *>(user);
    if (text->isEmpty())
        *text = QString::fromLatin1(message).trimmed();
}

bool startsCodestream(const Uint8 *p, Uint32 length)
{
    return length >= 4 && p[0] == 0xFF && p[1] == 0x4F && p[2] == 0xFF && p[3] == 0x51;
}

// The bytes of the first frame: its fragments up to the next one that starts a codestream.
std::vector<std::uint8_t> firstFrame(DcmDataset *ds)
{
    DcmElement *element = nullptr;
    if (ds->findAndGetElement(DCM_PixelData, element).bad() || !element)
        fail(QStringLiteral("No pixel data"));
    auto *pixels = static_cast<DcmPixelData *>(element);
    DcmPixelSequence *sequence = nullptr;
    const E_TransferSyntax xfer = ds->getOriginalXfer();
    if (pixels->getEncapsulatedRepresentation(xfer, nullptr, sequence).bad() || !sequence || sequence->card() < 2)
        fail(QStringLiteral("No JPEG 2000 data"));
    std::vector<std::uint8_t> out;
    for (unsigned long i = 1; i < sequence->card(); ++i) {
        DcmPixelItem *item = nullptr;
        if (sequence->getItem(item, i).bad() || !item)
            break;
        Uint8 *data = nullptr;
        if (item->getUint8Array(data).bad())
            break;
        const Uint32 length = item->getLength();
        if (i > 1 && startsCodestream(data, length))
            break;
        if (data)
            out.insert(out.end(), data, data + length);
    }
    if (out.size() < 4)
        fail(QStringLiteral("No JPEG 2000 data"));
    return out;
}

} // namespace

bool isJpeg2000(const char *uid)
{
    return uid && (std::strcmp(uid, UID_JPEG2000LosslessOnlyTransferSyntax) == 0 || std::strcmp(uid, UID_JPEG2000TransferSyntax) == 0);
}

Jpeg2000Frame decodeJpeg2000(DcmDataset *ds)
{
    const std::vector<std::uint8_t> bytes = firstFrame(ds);
    Source source{bytes.data(), bytes.size(), 0};
    // A JP2 file (signature box) or a bare codestream.
    const bool jp2 = bytes.size() >= 12 && bytes[4] == 'j' && bytes[5] == 'P';
    std::unique_ptr<opj_codec_t, decltype(&opj_destroy_codec)> codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K),
                                                                     &opj_destroy_codec);
    std::unique_ptr<opj_stream_t, decltype(&opj_stream_destroy)> stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE),
                                                                       &opj_stream_destroy);
    if (!codec || !stream)
        fail(QStringLiteral("Not enough memory"));
    QString error;
    opj_set_error_handler(codec.get(), errorFn, &error);
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), bytes.size());
    opj_stream_set_read_function(stream.get(), readFn);
    opj_stream_set_skip_function(stream.get(), skipFn);
    opj_stream_set_seek_function(stream.get(), seekFn);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t *raw = nullptr;
    const auto damaged = [&] {
        fail(QStringLiteral("The JPEG 2000 data is damaged%1").arg(error.isEmpty() ? QString() : QStringLiteral(": ") + error));
    };
    if (!opj_setup_decoder(codec.get(), &parameters) || !opj_read_header(stream.get(), codec.get(), &raw))
        damaged();
    std::unique_ptr<opj_image_t, decltype(&opj_image_destroy)> image(raw, &opj_image_destroy);
    if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
        damaged();
    const int components = int(image->numcomps);
    if (components != 1 && components != 3)
        fail(QStringLiteral("JPEG 2000 with %1 components is not shown").arg(components));
    const opj_image_comp_t &first = image->comps[0];
    for (int c = 0; c < components; ++c) {
        const opj_image_comp_t &comp = image->comps[c];
        if (!comp.data || comp.dx != 1 || comp.dy != 1 || comp.w != first.w || comp.h != first.h)
            fail(QStringLiteral("JPEG 2000 with subsampled components is not shown"));
    }
    Jpeg2000Frame frame;
    frame.width = int(first.w);
    frame.height = int(first.h);
    frame.components = components;
    frame.precision = int(first.prec);
    frame.isSigned = first.sgnd != 0;
    const std::size_t n = std::size_t(first.w) * first.h;
    frame.samples.resize(n * std::size_t(components));
    for (int c = 0; c < components; ++c) {
        const OPJ_INT32 *src = image->comps[c].data;
        for (std::size_t i = 0; i < n; ++i)
            frame.samples[i * std::size_t(components) + std::size_t(c)] = src[i];
    }
    // The data set's Pixel Representation decides: writers exist that mark a codestream of two's
    // complement values unsigned (air of a CT would show white), or the other way round.
    Uint16 representation = 0;
    if (ds->findAndGetUint16(DCM_PixelRepresentation, representation).good() && (representation == 1) != frame.isSigned &&
        frame.precision >= 1 && frame.precision < 32) {
        const std::int64_t range = std::int64_t(1) << frame.precision;
        for (std::int32_t &v : frame.samples) {
            if (representation == 1 && v >= range / 2)
                v = std::int32_t(v - range);
            else if (representation != 1 && v < 0)
                v = std::int32_t(v + range);
        }
        frame.isSigned = representation == 1;
    }
    return frame;
}

} // namespace orv::dicom
