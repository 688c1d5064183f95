#pragma once

#include <QWidget>

class QGroupBox;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace orv {

class frmImageViewer;

// "Information": every attribute of the viewer's current image as indented text, and the list
// of the viewer's images. One instance per run; "&Close" only hides it.
class Information : public QWidget
{
    Q_OBJECT
public:
    static Information *instance();

    // Refills both pages from the viewer: one line per image, and the dump of the current
    // image ("No Image available" when the viewer is empty).
    void NewData(frmImageViewer *viewer);

    QTabWidget *Pages = nullptr;
    QGroupBox *DataElements = nullptr;
    QPlainTextEdit *AttributeList = nullptr;
    QListWidget *ImageList = nullptr;
    QPushButton *Hide = nullptr;

private:
    Information();
};

} // namespace orv
