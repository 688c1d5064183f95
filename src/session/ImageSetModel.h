#pragma once

#include "outside/dicom/ImageCollection.h"

#include <QAbstractListModel>

namespace orv {

// The viewer's image set: the images of the open exam that the viewer window shows and that the
// image list, imports and capture add to. Indices are 1-based, as the viewer numbers its images.
// GUI thread only; every change is reported through the model's signals.
class ImageSetModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The images in order, for a display surface to show.
    dicom::ImageCollection &collection() { return m_images; }
    int count() const { return m_images.count(); }
    dicom::Image item(int index) const { return m_images.item(index); }
    void add(const dicom::Image &image);
    void add(const QList<dicom::Image> &images);
    void removeAt(int index);
    void clear();
    // The index of the first image the list knows by `fileName` (see Image::listFileName); 0 for none.
    int indexOfListFile(const QString &fileName) const;

private:
    dicom::ImageCollection m_images;
};

} // namespace orv
