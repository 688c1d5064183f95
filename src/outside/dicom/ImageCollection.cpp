#include "ImageCollection.h"

namespace orv::dicom {

void ImageCollection::checkIndex(int index) const
{
    if (index < 1 || index > count())
        fail(QStringLiteral("Image %1 does not exist (the set holds %2).").arg(index).arg(count()));
}

Image ImageCollection::item(int index) const
{
    checkIndex(index);
    return m_images.at(index - 1);
}

Image ImageCollection::readFile(const QString &path)
{
    Image img = Image::fromFile(path);
    m_images.append(img);
    return img;
}

void ImageCollection::remove(int index)
{
    checkIndex(index);
    m_images.removeAt(index - 1);
}

} // namespace orv::dicom
