#pragma once

#include "Image.h"

#include <QList>

namespace orv::dicom {

// An ordered set of images, addressed from 1 (as the viewer's image set is).
class ImageCollection
{
public:
    int count() const { return int(m_images.size()); }
    // Throws Error when index is outside 1..count().
    Image item(int index) const;
    void add(const Image &image) { m_images.append(image); }
    // Reads a DICOM file and appends it; throws Error (nothing is appended) when unreadable.
    Image readFile(const QString &path);
    // Throws Error when index is outside 1..count().
    void remove(int index);
    void clear() { m_images.clear(); }

private:
    void checkIndex(int index) const;
    QList<Image> m_images;
};

} // namespace orv::dicom
