#include "AnswerCharacterSet.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcstack.h>

#include <QByteArray>
#include <QStringDecoder>

#include <cstring>
#include <optional>

#include <iconv.h>

namespace orv::dicom {

namespace {

// Decodes a value with ISO 2022 escape sequences for Japanese (IR 87, IR 159) through the C
// library's ISO-2022-JP-2, which reads the same sequences; nullopt when it cannot.
std::optional<QByteArray> japaneseToUtf8(const char *text)
{
    iconv_t cd = iconv_open("UTF-8", "ISO-2022-JP-2");
    if (cd == iconv_t(-1))
        return std::nullopt;
    QByteArray in(text), out(in.size() * 4 + 16, '\0');
    char *src = in.data(), *dst = out.data();
    size_t left = size_t(in.size()), room = size_t(out.size());
    const bool ok = iconv(cd, &src, &left, &dst, &room) != size_t(-1) && iconv(cd, nullptr, nullptr, &dst, &room) != size_t(-1);
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    out.truncate(out.size() - qsizetype(room));
    return out;
}

// Calls `f` with every text value of the data set and its items (Specific Character Set aside).
template<typename F>
void forEachText(DcmDataset *ds, F &&f)
{
    DcmStack stack;
    while (ds->nextObject(stack, OFTrue).good()) {
        auto *obj = stack.top();
        if (!obj->isLeaf() || !static_cast<DcmElement *>(obj)->isaString() || obj->getTag() == DCM_SpecificCharacterSet)
            continue;
        auto *element = static_cast<DcmElement *>(obj);
        char *text = nullptr;
        if (element->getString(text).good() && text)
            f(element, text);
    }
}

// Removes ISO 2022 escape sequences left in text already converted to UTF-8 (some providers
// convert the characters but keep the designations).
void stripEscapes(DcmDataset *ds)
{
    forEachText(ds, [](DcmElement *element, const char *text) {
        if (!std::strchr(text, '\x1b'))
            return;
        QByteArray clean;
        for (const char *p = text; *p; ++p) {
            if (*p != '\x1b') {
                clean += *p;
                continue;
            }
            while (p[1] >= 0x20 && p[1] <= 0x2F)
                ++p;
            if (p[1] >= 0x30 && p[1] <= 0x7E)
                ++p;
        }
        element->putString(clean.constData());
    });
}

} // namespace

void convertAnswerToUtf8(DcmDataset *ds)
{
    if (ds->tagExists(DCM_SpecificCharacterSet)) {
        if (ds->convertToUTF8().good()) {
            stripEscapes(ds);
            return;
        }
        OFString sets;
        ds->findAndGetOFStringArray(DCM_SpecificCharacterSet, sets);
        if (sets.find("ISO 2022 IR 87") == OFString_npos && sets.find("ISO 2022 IR 159") == OFString_npos)
            return;
        forEachText(ds, [](DcmElement *element, const char *text) {
            if (!std::strchr(text, '\x1b'))
                return;
            if (const auto utf8 = japaneseToUtf8(text))
                element->putString(utf8->constData());
        });
        ds->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        return;
    }
    DcmStack stack;
    bool valid = true;
    while (valid && ds->nextObject(stack, OFTrue).good()) {
        auto *obj = stack.top();
        if (!obj->isLeaf() || !static_cast<DcmElement *>(obj)->isaString())
            continue;
        char *text = nullptr;
        if (static_cast<DcmElement *>(obj)->getString(text).good() && text) {
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString unused = decoder(QByteArrayView(text));
            valid = !decoder.hasError();
        }
    }
    if (!valid)
        ds->convertCharacterSet("ISO_IR 100", "ISO_IR 192", 0, OFTrue);
}

} // namespace orv::dicom
