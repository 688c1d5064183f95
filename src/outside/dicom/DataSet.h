#pragma once

#include "outside/Error.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class DcmElement;
class DcmItem;

namespace orv::dicom {

struct Attribute;

// A DICOM data set: an ordered collection of attributes addressed by (group, element).
// Copies share the same data (like the toolkit objects they stand for); clone() makes an
// independent copy. A data set obtained from an image or a sequence item keeps its owner alive.
class DataSet
{
public:
    DataSet();
    // Wraps an item owned by (or equal to) whatever `owner` keeps alive.
    DataSet(std::shared_ptr<void> owner, DcmItem *item);

    int count() const;
    // Attributes in data-set order (ascending tags).
    QList<Attribute> attributes() const;
    // The attribute, or one with found == false.
    Attribute attribute(quint16 group, quint16 element) const;
    bool contains(quint16 group, quint16 element) const;
    // Every value of the attribute as text, multiple values joined by "\"; empty when absent.
    QString text(quint16 group, quint16 element) const;

    // Adds or replaces an attribute. The value is encoded for the attribute's VR: a date
    // "MM/DD/YYYY" becomes YYYYMMDD, a time "HH:MM[:SS]" HHMM[SS], code strings are upper-cased,
    // text is cut to the VR's length. A QStringList gives multiple values, a QList<DataSet> or a
    // DataSet a sequence (items are copied). Tags unknown to the dictionary are written as LO,
    // tags of ambiguous VR as US, OB or OW.
    // Throws Error when the value cannot be stored.
    void add(quint16 group, quint16 element, const QVariant &value);
    void remove(quint16 group, quint16 element);

    QString patientSex() const;

    DataSet clone() const;
    DcmItem *item() const { return m_item; }

    // Text of this data set is ISO 8859-1 (Specific Character Set "ISO_IR 100") rather than
    // UTF-8; items of its sequences follow it. Set by the owner of a top-level data set.
    void setLatin1(bool latin1) { m_latin1 = latin1; }

    // Encodes text for a VR the way add() does ("DA", "TM", ...).
    static QString encodeForVr(const QString &vr, const QString &value);

private:
    QString decode(const char *text) const;
    // The attribute of an element of this data set, with the items of a sequence.
    Attribute describeElement(DcmElement *element) const;

    std::shared_ptr<void> m_owner;
    DcmItem *m_item = nullptr;
    bool m_latin1 = false;
};

struct Attribute
{
    enum class Kind { Single, Multiple, Sequence, PixelData };

    bool found = false;
    quint16 group = 0;
    quint16 element = 0;
    QString vr;
    QString description;
    Kind kind = Kind::Single;
    // Single: one text (possibly empty). Multiple: every value as text. Binary data (OB, OW,
    // UN) counts as numbers, one per byte or word, listed only up to 32 of them.
    QStringList values;
    // Number of values (1-based upper bound of the value array).
    int valueCount = 0;
    QList<DataSet> items;

    QString value() const { return values.join(QLatin1Char('\\')); }
};

} // namespace orv::dicom

Q_DECLARE_METATYPE(orv::dicom::DataSet)
