#include "InputLimits.h"

#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dctag.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QFile>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace orv::dicom {

namespace {

constexpr std::uint32_t kUndefined = 0xFFFFFFFF;

std::uint16_t read16(const std::uint8_t *p, NestingCheck::Syntax s)
{
    return s == NestingCheck::Syntax::ExplicitBig ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t read32(const std::uint8_t *p, NestingCheck::Syntax s)
{
    if (s == NestingCheck::Syntax::ExplicitBig)
        return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

bool isVrText(const std::uint8_t *p) { return p[0] >= 'A' && p[0] <= 'Z' && p[1] >= 'A' && p[1] <= 'Z'; }

bool isVr(const std::uint8_t *p, const char *vr) { return p[0] == std::uint8_t(vr[0]) && p[1] == std::uint8_t(vr[1]); }

// The VRs whose explicit header carries a four-byte length.
bool hasLongLength(const std::uint8_t *p)
{
    for (const char *vr : {"OB", "OW", "OF", "OD", "OL", "OV", "SQ", "UC", "UR", "UT", "UN", "SV", "UV"})
        if (isVr(p, vr))
            return true;
    return false;
}

NestingCheck::Syntax syntaxOf(std::string uid, bool *deflated)
{
    while (!uid.empty() && (uid.back() == '\0' || uid.back() == ' '))
        uid.pop_back();
    *deflated = uid == "1.2.840.10008.1.2.1.99";
    if (uid == "1.2.840.10008.1.2")
        return NestingCheck::Syntax::ImplicitLittle;
    if (uid == "1.2.840.10008.1.2.2")
        return NestingCheck::Syntax::ExplicitBig;
    return NestingCheck::Syntax::ExplicitLittle;
}

} // namespace

NestingCheck::NestingCheck(Syntax syntax, bool fileMeta, int maxDepth)
    : m_dataSetSyntax(syntax), m_inMeta(fileMeta), m_max(maxDepth)
{
    m_levels.push_back({Level::Items, true, 0, fileMeta ? Syntax::ExplicitLittle : syntax});
}

int NestingCheck::depth() const
{
    return int(std::count_if(m_levels.begin() + 1, m_levels.end(), [](const Level &l) { return l.kind == Level::Items; }));
}

std::size_t NestingCheck::headerSize() const
{
    const Level &l = m_levels.back();
    if (read16(m_head, l.syntax) == 0xFFFE || l.syntax == Syntax::ImplicitLittle || l.kind != Level::Items)
        return 8;
    return hasLongLength(m_head + 4) ? 12 : 8;
}

bool NestingCheck::feed(const std::uint8_t *data, std::size_t size)
{
    while (!m_tooDeep && !m_stopped) {
        if (m_skip > 0) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(m_skip, size));
            if (m_capture && m_transferSyntax.size() < 64)
                m_transferSyntax.append(reinterpret_cast<const char *>(data), take);
            data += take;
            size -= take;
            m_skip -= take;
            m_pos += take;
            if (m_skip > 0)
                return true;
        }
        m_capture = false;
        if (m_have == 0)
            while (m_levels.size() > 1 && !m_levels.back().undefined && m_pos >= m_levels.back().end)
                m_levels.pop_back();
        if (size == 0)
            return true;
        const std::size_t need = m_have < 8 ? 8 : headerSize();
        const std::size_t take = std::min(need - m_have, size);
        std::memcpy(m_head + m_have, data, take);
        m_have += take;
        m_pos += take;
        data += take;
        size -= take;
        if (m_have < 8)
            continue;
        if (m_inMeta && m_levels.size() == 1 && read16(m_head, Syntax::ExplicitLittle) != 0x0002) {
            // The meta information ends with its group; the data set follows in its own syntax.
            m_inMeta = false;
            bool deflated = false;
            if (!m_transferSyntax.empty())
                m_dataSetSyntax = syntaxOf(m_transferSyntax, &deflated);
            if (deflated) {
                m_deflatedFrom = std::int64_t(m_pos - m_have);
                m_stopped = true;
                break;
            }
            m_levels.front().syntax = m_dataSetSyntax;
        }
        if (m_have < headerSize())
            continue;
        m_have = 0;
        if (!header())
            m_stopped = true;
    }
    return !m_tooDeep;
}

// Acts on the header in m_head, whose bytes are already counted in m_pos. False when the bytes
// cannot be followed.
bool NestingCheck::header()
{
    Level &l = m_levels.back();
    const Syntax s = l.syntax;
    const std::uint16_t group = read16(m_head, s), element = read16(m_head + 2, s);
    if (group == 0xFFFE) {
        const std::uint32_t length = read32(m_head + 4, s);
        const bool undefined = length == kUndefined;
        if (l.kind == Level::Maybe) {
            if (element != 0xE000)
                return false;
            l.kind = Level::Sequence; // a value that holds items is read as a sequence
        }
        if (element == 0xE000) {
            if (l.kind == Level::Fragments) {
                if (undefined)
                    return false;
                m_skip = length;
                return true;
            }
            if (l.kind != Level::Sequence)
                return false;
            m_levels.push_back({Level::Items, undefined, m_pos + (undefined ? 0 : length), s});
            if (depth() > m_max)
                m_tooDeep = true;
            return true;
        }
        if (element == 0xE00D && l.kind == Level::Items && l.undefined && m_levels.size() > 1)
            m_levels.pop_back();
        else if (element == 0xE0DD && (l.kind == Level::Sequence || l.kind == Level::Fragments) && l.undefined)
            m_levels.pop_back();
        return true;
    }
    if (l.kind == Level::Maybe) {
        // Not items: an opaque value, skipped whole.
        m_skip = l.end > m_pos ? l.end - m_pos : 0;
        m_levels.pop_back();
        return true;
    }
    if (l.kind != Level::Items)
        return false;

    std::uint32_t length = 0;
    bool sequence = false, unknown = false;
    Syntax inner = s;
    if (s == Syntax::ImplicitLittle) {
        length = read32(m_head + 4, s);
        const DcmTag tag(group, element);
        sequence = tag.getEVR() == EVR_SQ;
        unknown = !sequence;
    } else {
        if (!isVrText(m_head + 4))
            return false;
        length = hasLongLength(m_head + 4) ? read32(m_head + 8, s) : read16(m_head + 6, s);
        sequence = isVr(m_head + 4, "SQ");
        unknown = isVr(m_head + 4, "UN");
        if (unknown)
            inner = Syntax::ImplicitLittle; // what an unknown value of undefined length holds
    }
    const bool undefined = length == kUndefined;
    if (undefined && group == 0x7FE0 && element == 0x0010)
        m_levels.push_back({Level::Fragments, true, 0, s});
    else if (sequence || undefined)
        m_levels.push_back({Level::Sequence, undefined, m_pos + (undefined ? 0 : length), inner});
    else if (unknown && length >= 8)
        m_levels.push_back({Level::Maybe, false, m_pos + length, inner});
    else {
        m_skip = length;
        m_capture = m_inMeta && group == 0x0002 && element == 0x0010;
    }
    return true;
}

QString tooDeepText(const QString &what)
{
    return QStringLiteral("%1 holds sequences nested deeper than %2 levels and is refused.").arg(what).arg(kMaxNestingDepth);
}

void requireSaneNesting(const QString &path)
{
    initialise();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() == 0)
        return; // the reader says what is wrong with it
    const auto size = std::size_t(f.size());
    const std::uint8_t *data = f.map(0, f.size());
    QByteArray copy;
    if (!data) {
        copy = f.readAll();
        data = reinterpret_cast<const std::uint8_t *>(copy.constData());
    }
    std::size_t start = 0;
    bool meta = false;
    auto syntax = NestingCheck::Syntax::ExplicitLittle;
    if (size >= 132 && std::memcmp(data + 128, "DICM", 4) == 0) {
        start = 132;
        meta = true;
    } else if (size >= 8 && read16(data, NestingCheck::Syntax::ExplicitLittle) == 0x0002) {
        meta = true;
    } else if (size >= 8) {
        const bool explicitVr = isVrText(data + 4);
        const bool bigEndian = explicitVr && data[0] == 0 && data[1] != 0;
        syntax = !explicitVr ? NestingCheck::Syntax::ImplicitLittle
                             : bigEndian ? NestingCheck::Syntax::ExplicitBig : NestingCheck::Syntax::ExplicitLittle;
    }
    NestingCheck check(syntax, meta);
    bool fine = check.feed(data + start, size - start);
    if (fine && check.deflatedFrom() >= 0) {
        const std::size_t from = start + std::size_t(check.deflatedFrom());
        NestingCheck inflated(NestingCheck::Syntax::ExplicitLittle);
        z_stream z{};
        if (from < size && inflateInit2(&z, -MAX_WBITS) == Z_OK) {
            z.next_in = const_cast<Bytef *>(data + from);
            z.avail_in = uInt(std::min<std::size_t>(size - from, 1u << 30));
            std::uint8_t out[65536];
            int rc = Z_OK;
            while (fine && rc == Z_OK) {
                z.next_out = out;
                z.avail_out = sizeof out;
                rc = inflate(&z, Z_NO_FLUSH);
                if (rc == Z_OK || rc == Z_STREAM_END)
                    fine = inflated.feed(out, sizeof out - z.avail_out);
            }
            inflateEnd(&z);
        }
    }
    if (!fine)
        fail(tooDeepText(QStringLiteral("The file %1").arg(path)));
}

void requirePixelDataFits(DcmItem *item)
{
    DcmElement *element = nullptr;
    if (!item || item->findAndGetElement(DCM_PixelData, element, OFFalse).bad() || !element)
        return;
    Uint16 rows = 0, columns = 0, samples = 1, bits = 0;
    item->findAndGetUint16(DCM_Rows, rows);
    item->findAndGetUint16(DCM_Columns, columns);
    item->findAndGetUint16(DCM_SamplesPerPixel, samples);
    item->findAndGetUint16(DCM_BitsAllocated, bits);
    Sint32 frames = 1;
    if (item->findAndGetSint32(DCM_NumberOfFrames, frames).bad() || frames < 1)
        frames = 1;
    // 4:2:2 colour keeps two samples a pixel (Y for each, Cb and Cr shared by two).
    OFString photometric;
    item->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    const bool subsampled = samples == 3 && (photometric == "YBR_FULL_422" || photometric == "YBR_PARTIAL_422");
    const std::uint64_t frameBytes =
        (std::uint64_t(rows) * columns * (subsampled ? 2u : std::max<Uint16>(samples, 1)) * bits + 7) / 8;
    if (frameBytes > kMaxFrameBytes)
        fail(QStringLiteral("The image declares %1 x %2 pixels of %3 x %4 bits, %5 MB a frame; more than %6 MB is refused.")
                 .arg(columns).arg(rows).arg(samples).arg(bits).arg(frameBytes >> 20).arg(kMaxFrameBytes >> 20));
    if (element->ident() != EVR_PixelData)
        return;
    E_TransferSyntax current = EXS_Unknown;
    const DcmRepresentationParameter *parameter = nullptr;
    static_cast<DcmPixelData *>(element)->getCurrentRepresentationKey(current, parameter);
    if (DcmXfer(current).isEncapsulated())
        return; // compressed: the decoder writes at most one frame of the size checked above
    const std::uint64_t length = element->getLength();
    const std::uint64_t declared = frameBytes * std::uint64_t(frames);
    if (length < declared)
        fail(QStringLiteral("The pixel data holds %1 bytes but the image declares %2 (%3 x %4 pixels, %5 frame(s)); it is refused.")
                 .arg(length).arg(declared).arg(columns).arg(rows).arg(frames));
}

} // namespace orv::dicom
