#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class DcmItem;

namespace orv::dicom {

// What comes from outside (files, peers) is bounded here before the toolkit reads it: the
// toolkit's reader descends one level of its call stack per sequence level and allocates what
// pixel data declares, so a data set nested thousands of levels deep ends the process and a few
// bytes declaring a huge image take all memory.

// Sequence levels a data set may hold (an item inside a sequence inside an item ... counts one
// per item). Structured reports and worklist answers use well under twenty.
inline constexpr int kMaxNestingDepth = 64;
// The most one decoded frame may take, whatever its size fields say.
inline constexpr std::uint64_t kMaxFrameBytes = std::uint64_t(512) << 20;

// Follows the structure of an encoded data set as its bytes arrive, without building it:
// element headers are read, values skipped. Tells when the items nest deeper than allowed.
// Fed in pieces of any size; keeps no more than an element header between pieces.
class NestingCheck
{
public:
    enum class Syntax { ImplicitLittle, ExplicitLittle, ExplicitBig };
    // `fileMeta`: the bytes start with the file meta information (explicit VR little endian,
    // group 0002), after which the data set follows in the transfer syntax it names.
    explicit NestingCheck(Syntax syntax, bool fileMeta = false, int maxDepth = kMaxNestingDepth);

    // Takes the next bytes. Returns false once the data set is found nested too deep; stays so.
    // Bytes the check cannot follow (damaged data) end the check without a verdict: the
    // toolkit's reader then fails on them, having descended no further than this check did.
    bool feed(const std::uint8_t *data, std::size_t size);
    bool tooDeep() const { return m_tooDeep; }
    // Where the meta information switched to a deflated data set: the offset of its first byte,
    // -1 when it did not (the caller inflates the rest and checks it with a fresh check).
    std::int64_t deflatedFrom() const { return m_deflatedFrom; }

private:
    struct Level
    {
        enum Kind { Items, Sequence, Fragments, Maybe } kind;
        bool undefined;
        std::uint64_t end;
        Syntax syntax;
    };
    bool header();
    std::size_t headerSize() const;
    int depth() const;

    std::vector<Level> m_levels;
    Syntax m_dataSetSyntax;
    bool m_inMeta;
    int m_max;
    std::uint64_t m_pos = 0;
    std::uint64_t m_skip = 0;
    std::uint8_t m_head[12] = {};
    std::size_t m_have = 0;
    bool m_capture = false;
    std::string m_transferSyntax;
    bool m_tooDeep = false;
    bool m_stopped = false;
    std::int64_t m_deflatedFrom = -1;
};

// Throws Error ("<path>: the data set is nested deeper than 64 sequence levels ...") when the
// DICOM file at `path` nests deeper than kMaxNestingDepth; reads element headers only. Files
// the check cannot follow are left to the toolkit's reader.
void requireSaneNesting(const QString &path);

// Throws Error when the pixel data of `item` cannot hold what its size fields declare (native
// data shorter than rows x columns x samples x bits x frames) or one frame would take more than
// kMaxFrameBytes; before anything is decoded. Items without pixel data pass.
void requirePixelDataFits(DcmItem *item);

// The description given when a data set nests too deep, for `what` ("The file F", "The answer of P").
QString tooDeepText(const QString &what);

} // namespace orv::dicom
