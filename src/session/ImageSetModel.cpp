#include "ImageSetModel.h"

#include <dcmtk/dcmdata/dcdeftag.h>

namespace orv {

int ImageSetModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_images.count(); }

QVariant ImageSetModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_images.count())
        return {};
    return m_images.item(index.row() + 1).description();
}

void ImageSetModel::add(const dicom::Image &image)
{
    add(QList<dicom::Image>{image});
}

void ImageSetModel::add(const QList<dicom::Image> &images)
{
    if (images.isEmpty())
        return;
    beginInsertRows({}, count(), count() + int(images.size()) - 1);
    for (const dicom::Image &i : images)
        m_images.add(i);
    endInsertRows();
}

void ImageSetModel::removeAt(int index)
{
    if (index < 1 || index > count())
        return;
    beginRemoveRows({}, index - 1, index - 1);
    m_images.remove(index);
    endRemoveRows();
}

void ImageSetModel::clear()
{
    if (count() == 0)
        return;
    beginResetModel();
    m_images.clear();
    endResetModel();
}

int ImageSetModel::indexOfListFile(const QString &fileName) const
{
    for (int i = 1; i <= count(); ++i)
        if (m_images.item(i).listFileName() == fileName)
            return i;
    return 0;
}

} // namespace orv
