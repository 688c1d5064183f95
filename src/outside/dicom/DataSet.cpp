#include "DataSet.h"

#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcvrlo.h>

#include <QRegularExpression>

#include <functional>

namespace orv::dicom {

namespace {

int maxLength(DcmEVR vr)
{
    switch (vr) {
    case EVR_AE: return 16;
    case EVR_AS: return 4;
    case EVR_CS: return 16;
    case EVR_DA: return 8;
    case EVR_DS: return 16;
    case EVR_IS: return 12;
    case EVR_LO: return 64;
    case EVR_PN: return 64 * 5;
    case EVR_SH: return 16;
    case EVR_TM: return 14;
    case EVR_UI: return 64;
    case EVR_LT: return 10240;
    case EVR_ST: return 1024;
    default: return 0;
    }
}

bool isBinary(DcmEVR vr) { return vr == EVR_OB || vr == EVR_OW || vr == EVR_UN || vr == EVR_ox || vr == EVR_px; }

} // namespace

DataSet::DataSet()
{
    initialise();
    auto item = std::make_shared<DcmItem>();
    m_item = item.get();
    m_owner = item;
}

DataSet::DataSet(std::shared_ptr<void> owner, DcmItem *item) : m_owner(std::move(owner)), m_item(item) {}

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
            a.items << DataSet(m_owner, seq->getItem(k));
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
    const DcmEVR vr = DcmVR(vrName.toLatin1().constData()).getEVR();
    QString v = value;
    if (vr != EVR_LT && vr != EVR_ST && vr != EVR_UT)
        v = v.trimmed();
    switch (vr) {
    case EVR_DA: {
        static const QRegularExpression us(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4})$"));
        static const QRegularExpression iso(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
        if (auto m = us.match(v); m.hasMatch())
            return m.captured(3) + m.captured(1).rightJustified(2, QLatin1Char('0'))
                   + m.captured(2).rightJustified(2, QLatin1Char('0'));
        if (auto m = iso.match(v); m.hasMatch())
            return m.captured(1) + m.captured(2) + m.captured(3);
        return v;
    }
    case EVR_TM: {
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
        return v;
    }
    case EVR_CS:
    case EVR_AS:
        v = v.toUpper();
        break;
    default:
        break;
    }
    if (const int max = maxLength(vr); max > 0) {
        QStringList parts = v.split(QLatin1Char('\\'));
        for (QString &p : parts)
            if (p.toUtf8().size() > max)
                p.truncate(max);
        v = parts.join(QLatin1Char('\\'));
    }
    return v;
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
        for (const DataSet &ds : value.value<QList<DataSet>>())
            seq->append(static_cast<DcmItem *>(ds.item()->clone()));
        check(m_item->insert(seq, OFTrue), QStringLiteral("Cannot add the sequence (%1,%2)")
                                                .arg(group, 4, 16, QLatin1Char('0')).arg(element, 4, 16, QLatin1Char('0')));
        return;
    }
    QString text = value.userType() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char('\\'))
                                                               : value.toString();
    text = encodeForVr(QString::fromLatin1(DcmVR(tag.getEVR()).getVRName()), text);
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

QString DataSet::patientSex() const { return text(0x0010, 0x0040); }

DataSet DataSet::clone() const
{
    auto item = std::shared_ptr<DcmItem>(static_cast<DcmItem *>(m_item->clone()));
    DcmItem *raw = item.get();
    DataSet copy(std::move(item), raw);
    copy.m_latin1 = m_latin1;
    return copy;
}

} // namespace orv::dicom
