#pragma once

// What the objects made from a stamped picture (video objects, encapsulated documents) share,
// inside this layer.

#include <QDateTime>
#include <QList>
#include <QString>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>

namespace orv::dicom {

// Sets `key` to `value` (UTF-8); throws Error with `what` when the toolkit refuses it.
void putText(DcmItem *ds, const DcmTagKey &key, const QString &value, const QString &what);

// Makes `ds` an object of `sopClass`: new SOP instance, study and series UIDs where they are
// empty; the patient, study, series and equipment attributes every such object must carry,
// and `more`, present (empty when absent); creation time now, content and acquisition time
// `made` (now when invalid).
void completeDerivedObject(DcmItem *ds, const QString &sopClass, const QDateTime &made, const QList<DcmTagKey> &more,
                           const QString &what);

} // namespace orv::dicom
