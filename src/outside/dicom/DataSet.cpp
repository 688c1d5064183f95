#include "DataSet.h"

#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcvras.h>
#include <dcmtk/dcmdata/dcvrcs.h>
#include <dcmtk/dcmdata/dcvrda.h>
#include <dcmtk/dcmdata/dcvrds.h>
#include <dcmtk/dcmdata/dcvrdt.h>
#include <dcmtk/dcmdata/dcvris.h>
#include <dcmtk/dcmdata/dcvrlo.h>
#include <dcmtk/dcmdata/dcvrtm.h>
#include <dcmtk/dcmdata/dcvrui.h>

#include <QDate>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

#include <functional>

namespace orv::dicom {

namespace {

bool isBinary(DcmEVR vr) { return vr == EVR_OB || vr == EVR_OW || vr == EVR_UN || vr == EVR_ox || vr == EVR_px; }

// Text VRs: one value, which may hold "\" and line breaks.
bool isText(DcmEVR vr) { return vr == EVR_LT || vr == EVR_ST || vr == EVR_UT; }

// What conforming a value of one attribute needs to know about it.
struct Rules
{
    DcmEVR vr = EVR_UNKNOWN;
    bool singleValued = true;
    QStringList definedTerms; // for code strings; empty when any code is allowed
};

Rules rulesFor(const DcmTag &tag)
{
    Rules r;
    r.vr = tag.getEVR();
    const DcmDataDictionary &dict = dcmDataDict.rdlock();
    const DcmDictEntry *entry = dict.findEntry(tag, tag.getPrivateCreator());
    r.singleValued = !entry || entry->getVMMax() == 1;
    dcmDataDict.rdunlock();
    if (tag == DCM_PatientSex)
        r.definedTerms = {QStringLiteral("M"), QStringLiteral("F"), QStringLiteral("O")};
    return r;
}

qsizetype encodedSize(const QString &s, bool latin1) { return latin1 ? s.size() : s.toUtf8().size(); }

// The longest start of `s` that ends on a character boundary and takes at most `max` bytes
// as encoded.
QString cutToBytes(const QString &s, qsizetype max, bool latin1)
{
    qsizetype bytes = 0, i = 0;
    while (i < s.size()) {
        const bool pair = s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate();
        const char32_t cp = pair ? QChar::surrogateToUcs4(s.at(i), s.at(i + 1)) : s.at(i).unicode();
        const int n = latin1 || cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        if (bytes + n > max)
            break;
        bytes += n;
        i += pair ? 2 : 1;
    }
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, s);
    graphemes.setPosition(i);
    if (!graphemes.isAtBoundary())
        i = qMax<qsizetype>(0, graphemes.toPreviousBoundary());
    return s.left(i);
}

QString tooLong(qsizetype bytes, qsizetype max, const QString &cut, const char *per = "")
{
    return QStringLiteral("%1 bytes, more than the %2 allowed%3: cut to %4 characters")
        .arg(bytes)
        .arg(max)
        .arg(QLatin1String(per))
        .arg(cut.size());
}

// A person name: at most three component groups of at most five components, each group and
// the whole name at most 64 bytes.
QString conformName(const QString &value, bool latin1, QStringList &what)
{
    QStringList groups = value.split(QLatin1Char('='));
    if (groups.size() > 3) {
        groups = groups.mid(0, 3);
        what << QStringLiteral("more than three component groups, the rest left out");
    }
    const qsizetype max = qsizetype(DcmVR(EVR_PN).getMaxValueLength());
    for (QString &group : groups) {
        QStringList parts = group.split(QLatin1Char('^'));
        if (parts.size() > 5) {
            parts[4] = parts.mid(4).join(QLatin1Char(' '));
            parts = parts.mid(0, 5);
            group = parts.join(QLatin1Char('^'));
            what << QStringLiteral("more than five name components, the rest joined to the fifth");
        }
        if (const qsizetype bytes = encodedSize(group, latin1); bytes > max) {
            group = cutToBytes(group, max, latin1);
            while (group.endsWith(QLatin1Char(' ')))
                group.chop(1);
            what << tooLong(bytes, max, group, " per component group");
        }
    }
    QString name = groups.join(QLatin1Char('='));
    // Validators hold the whole name, not only each group, to the limit.
    if (const qsizetype bytes = encodedSize(name, latin1); bytes > max) {
        name = cutToBytes(name, max, latin1);
        while (name.endsWith(QLatin1Char('=')) || name.endsWith(QLatin1Char('^')) || name.endsWith(QLatin1Char(' ')))
            name.chop(1);
        what << tooLong(bytes, max, name, " in all");
    }
    return name;
}

// Conforms one attribute's value (values separated by "\") to its VR; says what it changed.
QString conformText(const Rules &r, const QString &given, bool latin1, QStringList &what)
{
    if (!DcmVR(r.vr).isaString())
        return given;
    const bool text = isText(r.vr);
    QString v = given;
    bool control = false;
    for (QChar &c : v) {
        const char16_t u = c.unicode();
        const bool lineBreak = u == u'\t' || u == u'\n' || u == u'\r' || u == u'\f';
        if ((u < 0x20 || (u >= 0x7F && u < 0xA0)) && !(text && lineBreak)) {
            c = QLatin1Char(' ');
            control = true;
        }
    }
    if (control)
        what << QStringLiteral("control characters replaced by spaces");
    if (r.singleValued && !text && v.contains(QLatin1Char('\\'))) {
        v.replace(QLatin1Char('\\'), QLatin1Char(' '));
        what << QStringLiteral("\"\\\" (the value separator) replaced by a space");
    }
    QStringList values = text ? QStringList{v} : v.split(QLatin1Char('\\'));
    bool upper = false;
    for (QString &value : values) {
        if (!text)
            value = value.trimmed();
        if (value.isEmpty())
            continue;
        const QByteArray ascii = value.toLatin1();
        const OFString raw(ascii.constData(), size_t(ascii.size()));
        auto leaveEmpty = [&](const QString &why) {
            what << QStringLiteral("%1, left empty").arg(why);
            value.clear();
        };
        switch (r.vr) {
        case EVR_DA:
            if (DcmDate::checkStringValue(raw, "1").bad() || value.size() != 8
                || !QDate::fromString(value, QStringLiteral("yyyyMMdd")).isValid())
                leaveEmpty(QStringLiteral("not a date"));
            break;
        case EVR_TM:
            if (DcmTime::checkStringValue(raw, "1", OFFalse).bad())
                leaveEmpty(QStringLiteral("not a time"));
            break;
        case EVR_DT:
            if (DcmDateTime::checkStringValue(raw, "1").bad())
                leaveEmpty(QStringLiteral("not a date and time"));
            break;
        case EVR_UI:
            if (DcmUniqueIdentifier::checkStringValue(raw, "1").bad() || ascii.size() > 64)
                leaveEmpty(QStringLiteral("not a UID"));
            break;
        case EVR_IS: {
            bool ok = false;
            const qlonglong n = value.toLongLong(&ok);
            if (DcmIntegerString::checkStringValue(raw, "1").bad() || !ok || n < INT32_MIN || n > INT32_MAX)
                leaveEmpty(QStringLiteral("not an integer"));
            break;
        }
        case EVR_DS:
            if (DcmDecimalString::checkStringValue(raw, "1").bad())
                leaveEmpty(QStringLiteral("not a decimal number"));
            break;
        case EVR_AS:
            if (DcmAgeString::checkStringValue(raw, "1").bad())
                leaveEmpty(QStringLiteral("not an age"));
            break;
        case EVR_CS: {
            const QString up = value.toUpper();
            if (up != value) {
                upper = true;
                value = up;
            }
            const QByteArray code = value.toLatin1();
            if (DcmCodeString::checkStringValue(OFString(code.constData(), size_t(code.size())), "1").bad())
                leaveEmpty(QStringLiteral("not a code string"));
            else if (!r.definedTerms.isEmpty() && !r.definedTerms.contains(value))
                leaveEmpty(QStringLiteral("not one of %1").arg(r.definedTerms.join(QStringLiteral(", "))));
            break;
        }
        case EVR_PN:
            value = conformName(value, latin1, what);
            break;
        default:
            if (const qsizetype max = qsizetype(DcmVR(r.vr).getMaxValueLength()), bytes = encodedSize(value, latin1);
                bytes > max) {
                value = cutToBytes(value, max, latin1);
                if (!text)
                    value = value.trimmed();
                what << tooLong(bytes, max, value);
            }
            break;
        }
    }
    if (upper)
        what.prepend(QStringLiteral("written in upper case"));
    return values.join(QLatin1Char('\\'));
}

// The date and time notations a caller may give, in the VR's form; other text as given.
QString notation(DcmEVR vr, const QString &value)
{
    QString v = value;
    if (!isText(vr))
        v = v.trimmed();
    if (vr == EVR_DA) {
        static const QRegularExpression us(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4})$"));
        static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
        if (auto m = us.match(v); m.hasMatch())
            return m.captured(3) + m.captured(1).rightJustified(2, QLatin1Char('0'))
                   + m.captured(2).rightJustified(2, QLatin1Char('0'));
        if (auto m = iso.match(v); m.hasMatch())
            return m.captured(1) + m.captured(2) + m.captured(3);
    } else if (vr == EVR_TM) {
        static const QRegularExpression t(
            QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(\\.\\d{1,6})?)?\\s*([AaPp][Mm])?$"));
        if (auto m = t.match(v); m.hasMatch()) {
            int h = m.captured(1).toInt();
            const QString ampm = m.captured(5).toUpper();
            if (ampm == QLatin1String("PM") && h < 12)
                h += 12;
            if (ampm == QLatin1String("AM") && h == 12)
                h = 0;
            return QString::number(h).rightJustified(2, QLatin1Char('0')) + m.captured(2) + m.captured(3)
                   + m.captured(4);
        }
    }
    return v;
}

} // namespace

QString ValueChange::text() const
{
    QString shown = given;
    for (QChar &c : shown)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(0xFFFD);
    shown = shown.size() > 40 ? QStringLiteral("\"%1...\" (%2 characters)").arg(shown.left(40)).arg(given.size())
                              : QStringLiteral("\"%1\"").arg(shown);
    const auto hex4 = [](quint16 v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); };
    return QStringLiteral("%1 (%2,%3) %4: %5")
        .arg(attribute, hex4(group), hex4(element), shown, what.join(QStringLiteral("; ")));
}

DataSet::DataSet()
{
    initialise();
    auto item = std::make_shared<DcmItem>();
    m_item = item.get();
    m_owner = item;
    m_changes = std::make_shared<ValueChanges>();
}

DataSet::DataSet(std::shared_ptr<void> owner, DcmItem *item)
    : DataSet(std::move(owner), item, std::make_shared<ValueChanges>())
{}

DataSet::DataSet(std::shared_ptr<void> owner, DcmItem *item, std::shared_ptr<ValueChanges> changes)
    : m_owner(std::move(owner)), m_item(item), m_changes(std::move(changes))
{}

int DataSet::count() const { return int(m_item->card()); }

QString DataSet::decode(const char *text) const
{
    return m_latin1 ? QString::fromLatin1(text) : QString::fromUtf8(text);
}

static Attribute describe(DcmElement *elem, const std::function<QString(const char *)> &decode)
{
    Attribute a;
    a.found = true;
    DcmTag tag = elem->getTag();
    a.group = tag.getGTag();
    a.element = tag.getETag();
    a.vr = QString::fromLatin1(DcmVR(elem->getVR()).getVRName());
    a.description = QString::fromLatin1(tag.getTagName());
    if (a.group == 0x7FE0) {
        a.kind = Attribute::Kind::PixelData;
        return a;
    }
    if (elem->ident() == EVR_SQ) {
        a.kind = Attribute::Kind::Sequence;
        return a;
    }
    const DcmEVR vr = elem->getVR();
    if (isBinary(vr)) {
        const bool words = vr == EVR_OW;
        const Uint32 len = elem->getLength();
        a.valueCount = int(words ? len / 2 : len);
        if (a.valueCount <= 32) {
            if (words) {
                Uint16 *w = nullptr;
                if (elem->getUint16Array(w).good() && w)
                    for (int i = 0; i < a.valueCount; ++i)
                        a.values << QString::number(w[i]);
            } else {
                Uint8 *b = nullptr;
                if (elem->getUint8Array(b).good() && b)
                    for (int i = 0; i < a.valueCount; ++i)
                        a.values << QString::number(b[i]);
            }
        }
    } else {
        const unsigned long vm = elem->getLength() == 0 ? 0 : elem->getVM();
        a.valueCount = int(vm);
        for (unsigned long i = 0; i < vm; ++i) {
            OFString s;
            elem->getOFString(s, i, OFTrue);
            a.values << decode(s.c_str());
        }
        if (vm == 0) {
            a.values << QString();
            a.valueCount = 1;
        }
    }
    a.kind = a.valueCount > 1 ? Attribute::Kind::Multiple : Attribute::Kind::Single;
    return a;
}

QList<Attribute> DataSet::attributes() const
{
    QList<Attribute> list;
    const unsigned long n = m_item->card();
    list.reserve(int(n));
    for (unsigned long i = 0; i < n; ++i)
        list << describeElement(m_item->getElement(i));
    return list;
}

Attribute DataSet::attribute(quint16 group, quint16 element) const
{
    DcmElement *elem = nullptr;
    if (m_item->findAndGetElement(DcmTagKey(group, element), elem, OFFalse).bad() || !elem)
        return {};
    return describeElement(elem);
}

Attribute DataSet::describeElement(DcmElement *elem) const
{
    Attribute a = describe(elem, [this](const char *t) { return decode(t); });
    if (a.kind == Attribute::Kind::Sequence) {
        auto *seq = static_cast<DcmSequenceOfItems *>(elem);
        for (unsigned long k = 0; k < seq->card(); ++k) {
            a.items << DataSet(m_owner, seq->getItem(k), m_changes);
            a.items.last().m_latin1 = m_latin1;
        }
        a.valueCount = int(seq->card());
    }
    return a;
}

bool DataSet::contains(quint16 group, quint16 element) const
{
    return m_item->tagExists(DcmTagKey(group, element), OFFalse);
}

QString DataSet::text(quint16 group, quint16 element) const
{
    OFString s;
    if (m_item->findAndGetOFStringArray(DcmTagKey(group, element), s, OFFalse).bad())
        return {};
    return decode(s.c_str());
}

QString DataSet::encodeForVr(const QString &vrName, const QString &value)
{
    Rules rules;
    rules.vr = DcmVR(vrName.toLatin1().constData()).getEVR();
    rules.singleValued = false;
    QStringList what;
    return conformText(rules, notation(rules.vr, value), false, what);
}

void DataSet::add(quint16 group, quint16 element, const QVariant &value)
{
    DcmTag tag(group, element);
    switch (tag.getEVR()) { // ambiguous dictionary VRs get their usual value; unknown tags LO
    case EVR_xs: tag.setVR(EVR_US); break;
    case EVR_ox: tag.setVR(EVR_OB); break;
    case EVR_lt: tag.setVR(EVR_OW); break;
    case EVR_UNKNOWN:
    case EVR_UN: tag.setVR(EVR_LO); break;
    default: break;
    }
    if (value.canConvert<DataSet>() && value.userType() == qMetaTypeId<DataSet>())
        return add(group, element, QVariant::fromValue(QList<DataSet>{value.value<DataSet>()}));
    if (value.userType() == qMetaTypeId<QList<DataSet>>()) {
        tag.setVR(EVR_SQ);
        auto *seq = new DcmSequenceOfItems(tag);
        for (const DataSet &ds : value.value<QList<DataSet>>()) {
            seq->append(static_cast<DcmItem *>(ds.item()->clone()));
            m_changes->append(ds.valueChanges());
        }
        check(m_item->insert(seq, OFTrue), QStringLiteral("Cannot add the sequence (%1,%2)")
                                                .arg(group, 4, 16, QLatin1Char('0')).arg(element, 4, 16, QLatin1Char('0')));
        return;
    }
    const QString given = value.userType() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char('\\'))
                                                                      : value.toString();
    QString text = notation(tag.getEVR(), given);
    if (m_matchingKeys) {
        if (tag.getEVR() == EVR_CS || tag.getEVR() == EVR_AS)
            text = text.toUpper();
    } else {
        QStringList what;
        text = conformText(rulesFor(tag), text, m_latin1, what);
        if (!what.isEmpty())
            m_changes->append({group, element, QString::fromLatin1(tag.getTagName()), given, text, what});
    }
    const QByteArray bytes = m_latin1 ? text.toLatin1() : text.toUtf8();
    const OFCondition cond = m_item->putAndInsertString(tag, bytes.constData(), OFTrue);
    check(cond, QStringLiteral("Cannot set (%1,%2) to \"%3\"")
                    .arg(group, 4, 16, QLatin1Char('0'))
                    .arg(element, 4, 16, QLatin1Char('0'))
                    .arg(text));
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
    if (!ascii && !m_latin1 && !m_item->tagExists(DCM_SpecificCharacterSet))
        m_item->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
}

void DataSet::remove(quint16 group, quint16 element)
{
    m_item->findAndDeleteElement(DcmTagKey(group, element), OFFalse, OFFalse);
}

Attribute DataSet::attribute(const DcmTagKey &tag) const { return attribute(tag.getGroup(), tag.getElement()); }

QString DataSet::patientSex() const { return text(0x0010, 0x0040); }

void DataSet::conform()
{
    for (unsigned long i = 0; i < m_item->card(); ++i) {
        DcmElement *elem = m_item->getElement(i);
        if (elem->ident() == EVR_SQ) {
            auto *seq = static_cast<DcmSequenceOfItems *>(elem);
            for (unsigned long k = 0; k < seq->card(); ++k) {
                DataSet item(m_owner, seq->getItem(k), m_changes);
                item.m_latin1 = m_latin1;
                item.conform();
            }
            continue;
        }
        DcmTag tag = elem->getTag();
        if (!DcmVR(elem->getVR()).isaString() || isBinary(elem->getVR()) || tag.getGTag() == 0x7FE0)
            continue;
        OFString raw;
        if (elem->getLength() == 0 || elem->getOFStringArray(raw).bad())
            continue;
        const QString given = decode(raw.c_str());
        QStringList what;
        Rules rules = rulesFor(tag);
        rules.vr = elem->getVR();
        const QString text = conformText(rules, given, m_latin1, what);
        if (what.isEmpty())
            continue;
        const QByteArray bytes = m_latin1 ? text.toLatin1() : text.toUtf8();
        check(elem->putString(bytes.constData()), QStringLiteral("Cannot set %1").arg(QString::fromLatin1(tag.getTagName())));
        m_changes->append({tag.getGTag(), tag.getETag(), QString::fromLatin1(tag.getTagName()), given, text, what});
    }
}

DataSet DataSet::clone() const
{
    auto item = std::shared_ptr<DcmItem>(static_cast<DcmItem *>(m_item->clone()));
    DcmItem *raw = item.get();
    DataSet copy(std::move(item), raw);
    copy.m_latin1 = m_latin1;
    copy.m_matchingKeys = m_matchingKeys;
    *copy.m_changes = *m_changes;
    return copy;
}

} // namespace orv::dicom
