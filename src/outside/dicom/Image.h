#pragma once

#include "DataSet.h"
#include "Toolkit.h"

#include <QString>

#include <dcmtk/dcmdata/dctagkey.h>

#include <functional>
#include <memory>

class DcmFileFormat;
class QImage;

namespace orv::dicom {

struct Picture;

// A DICOM image object: its attributes, its pixels and the identity the program reads from
// it. Copies share one object (as the image set of a viewer shares the images it is given).
// Objects made here (new, then importPicture) are Secondary Capture objects: writing or
// sending them adds every attribute the IOD requires that the caller did not set (UIDs,
// Conversion Type "WSD", Patient Orientation, ...). Objects read from a file are kept as read.
class Image
{
public:
    Image();
    // Reads a DICOM file (a PS3.10 file, or a bare data set). Throws Error with the reason when the
    // file is unreadable or malformed.
    static Image fromFile(const QString &path);

    // An independent copy of the object (attributes, pixels, description), for work on another
    // thread while this one stays shown. Reads this object only.
    Image clone() const;

    DataSet dataSet() const;
    QList<Attribute> attributes() const { return dataSet().attributes(); }
    Attribute attribute(quint16 group, quint16 element) const { return dataSet().attribute(group, element); }
    void add(quint16 group, quint16 element, const QVariant &value) { dataSet().add(group, element, value); }
    Attribute attribute(const DcmTagKey &tag) const { return attribute(tag.getGroup(), tag.getElement()); }
    void add(const DcmTagKey &tag, const QVariant &value) { add(tag.getGroup(), tag.getElement(), value); }

    // The text a list of images shows for this one: the one set, else the patient's name.
    QString description() const;
    void setDescription(const QString &text);
    // The name the image list knows this image's file by (empty for none), kept beside the data
    // set: a file name is no valid Referenced File ID (0004,1500) value, and nothing is written.
    QString listFileName() const { return *m_listFileName; }
    void setListFileName(const QString &name) { *m_listFileName = name; }

    QString studyUid() const;
    void setStudyUid(const QString &uid);
    QString seriesUid() const;
    void setSeriesUid(const QString &uid);
    QString instanceUid() const;
    void setInstanceUid(const QString &uid);
    QString patientName() const;
    void setPatientName(const QString &name);

    // 0 without pixel data, else Number of Frames (1 when absent).
    int frameCount() const;
    int width() const;
    int height() const;
    // True for objects this program made (see the class comment).
    bool isOwnObject() const { return m_own; }

    // Replaces the pixels with those of a picture: BMP, DIB, JPEG or PNG (8-bit grey or 24-bit
    // colour), or an AVI, which gives a multi-frame object. Attributes set before stay.
    void importPicture(const QString &path, const QString &format = QString());
    // Replaces the pixels with a captured frame, compressed as JPEG (YCbCr 4:2:2, the given
    // quality) straight from the frame's buffer: the object then holds only the compressed
    // pixels, in the JPEG Extended transfer syntax (kJpegExtended), and writeFile in that syntax
    // writes them as they are. Attributes set before stay. Throws Error.
    void importFrame(const QImage &frame, int quality = 100);
    // Writes the first frame as "BMP" or "JPG" (displayed values, 8 bits per sample).
    void exportPicture(const QString &path, const QString &format) const;
    // Writes the first frameCount frames as an AVI (Motion JPEG) of the given quality.
    void exportVideo(const QString &path, int frameCount, int quality = 90) const;
    // Writes a PS3.10 file with file meta information in the given transfer syntax (explicit
    // or implicit VR little endian, JPEG baseline or extended "1.2.840.10008.1.2.4.51"); quality
    // 1..100 applies to JPEG. JPEG 2000 pixel data (which the toolkit cannot convert) is written
    // decoded, single-frame images only. An existing file is replaced. Returns valueChanges().
    ValueChanges writeFile(const QString &path, const QString &transferSyntax = QLatin1String(kExplicitLittleEndian),
                   int quality = 100);

    // Every change made to a value given to this object so that it conforms to its VR (see
    // DataSet::conform()), oldest first: values given with add() (for any object) and, before an
    // own object is written or sent, any other value it holds. Show them to the operator.
    ValueChanges valueChanges() const { return *m_changes; }
    void clearValueChanges() { m_changes->clear(); }

    // Display pixels of one frame (0-based), 8 bits per sample. Internal to this layer.
    Picture render(int frame, int frameCountToRender = 1) const;
    // Adds what a Secondary Capture IOD requires and the caller has not set, and conforms every
    // value (own objects only).
    void complete();
    // Throws Error when the pixel data is encoded in a way its decoder cannot safely take.
    void requireDecodable() const;
    // Runs `f` with the directory-record attributes (group 0004, such as Referenced File ID)
    // set aside, as they are whenever an own object is written or sent.
    void withoutDirectoryAttributes(const std::function<void()> &f);
    DcmFileFormat *fileFormat() const { return m_file.get(); }

private:
    Picture renderUnguarded(int frame, int frameCountToRender) const;

    std::shared_ptr<DcmFileFormat> m_file;
    std::shared_ptr<QString> m_description;
    std::shared_ptr<QString> m_listFileName = std::make_shared<QString>();
    std::shared_ptr<ValueChanges> m_changes = std::make_shared<ValueChanges>();
    bool m_own = true;
};

} // namespace orv::dicom
