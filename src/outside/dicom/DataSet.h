#pragma once

#include "ValueChange.h"
#include "outside/Error.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctagkey.h>

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
    // The same, recording value changes into `changes` (shared with the owner's other data sets).
    DataSet(std::shared_ptr<void> owner, DcmItem *item, std::shared_ptr<ValueChanges> changes);

    int count() const;
    // Attributes in data-set order (ascending tags).
    QList<Attribute> attributes() const;
    // The attribute, or one with found == false.
    Attribute attribute(quint16 group, quint16 element) const;
    Attribute attribute(const DcmTagKey &tag) const;
    bool contains(quint16 group, quint16 element) const;
    // Every value of the attribute as text, multiple values joined by "\"; empty when absent.
    QString text(quint16 group, quint16 element) const;
    QString text(const DcmTagKey &tag) const { return text(tag.getGroup(), tag.getElement()); }

    // Adds or replaces an attribute. The value is encoded for the attribute's VR: a date
    // "MM/DD/YYYY" becomes YYYYMMDD, a time "HH:MM[:SS]" HHMM[SS]. It is then conformed to the
    // VR (see conform()); every change is recorded in valueChanges(). A QStringList gives
    // multiple values, a QList<DataSet> or a DataSet a sequence (items are copied, with their
    // recorded changes). Tags unknown to the dictionary are written as LO, tags of ambiguous VR
    // as US, OB or OW.
    // Throws Error when the value cannot be stored.
    void add(quint16 group, quint16 element, const QVariant &value);
    void add(const DcmTagKey &tag, const QVariant &value) { add(tag.getGroup(), tag.getElement(), value); }
    void remove(quint16 group, quint16 element);

    QString patientSex() const;

    // Conforms every value of the data set (and of its sequences' items) to its VR, recording
    // each change: a DA, TM, DT, UI, IS, DS or AS that is not one, and a CS outside its
    // characters or defined terms (Patient's Sex: M, F, O) are left empty; code strings are
    // upper-cased; control characters (but line breaks in LT, ST, UT) and, in single-valued
    // attributes, the value separator "\" become spaces; text longer than its VR allows is
    // cut on a character boundary to that many bytes as encoded (per component group for PN).
    void conform();
    // The changes made to values given to this data set, oldest first.
    ValueChanges valueChanges() const { return *m_changes; }
    void clearValueChanges() { m_changes->clear(); }
    // Query identifiers hold matching keys (wildcards, date ranges) that add() must keep as given.
    void setMatchingKeys(bool keys) { m_matchingKeys = keys; }

    DataSet clone() const;
    DcmItem *item() const { return m_item; }

    // Text of this data set is ISO 8859-1 (Specific Character Set "ISO_IR 100") rather than
    // UTF-8; items of its sequences follow it. Set by the owner of a top-level data set.
    void setLatin1(bool latin1) { m_latin1 = latin1; }

    // Encodes text for a VR the way add() does ("DA", "TM", ...), values separated by "\".
    static QString encodeForVr(const QString &vr, const QString &value);

private:
    QString decode(const char *text) const;
    // The attribute of an element of this data set, with the items of a sequence.
    Attribute describeElement(DcmElement *element) const;

    std::shared_ptr<void> m_owner;
    DcmItem *m_item = nullptr;
    bool m_latin1 = false;
    bool m_matchingKeys = false;
    std::shared_ptr<ValueChanges> m_changes;
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
