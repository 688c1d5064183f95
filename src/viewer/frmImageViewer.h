#pragma once

#include "outside/dicom/ImageCollection.h"

#include <QWidget>

class QListWidget;

namespace orv {

// The viewer window. Its image set is the program's working set of images: the image list
// fills it, imports and capture add to it. One instance per run, created on first use; it
// keeps its image set while hidden.
class frmImageViewer : public QWidget
{
    Q_OBJECT
public:
    static frmImageViewer *instance();
    // The instance when loaded, else nullptr.
    static frmImageViewer *existing();

    // The image set. Whoever changes it calls imagesChanged() afterwards.
    dicom::ImageCollection &Images() { return m_images; }
    void imagesChanged();

    QListWidget *lstImages = nullptr;

private:
    frmImageViewer();
    dicom::ImageCollection m_images;
};

} // namespace orv
