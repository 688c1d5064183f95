#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace orv::dicom {

// One value the layer changed so that the object stays valid: a date that is not one left
// empty, a code outside its defined terms left empty, text cut to its VR's length, control
// characters or a stray value separator replaced. Nothing is ever filled in instead.
struct ValueChange
{
    quint16 group = 0;
    quint16 element = 0;
    QString attribute; // the dictionary keyword, e.g. "PatientBirthDate"
    QString given;     // the value as the caller gave it
    QString written;   // the value as it is kept and written (empty when left empty)
    QStringList what;  // each change, e.g. "not a date, left empty"

    // One line for a log or stderr, e.g.
    // PatientBirthDate (0010,0030) "13/45/2000": not a date, left empty
    QString text() const;
};

using ValueChanges = QList<ValueChange>;

} // namespace orv::dicom
