#pragma once

#include "viewer/MouseTools.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace orv {

// "Label Details": the look of the labels the viewer's drawing modes create. One instance per
// run; its settings last as long as the program (hiding keeps them) and are not stored.
class LabelForm : public QWidget, public LabelStyle
{
    Q_OBJECT
public:
    static LabelForm *instance();

    // A new label of `type` with the form's settings (transparency always off for text).
    dicom::Label newLabel(int type) const override;
    // The label type chosen in `LabelTypeBox` (its tag as a number).
    int labelType() const override;
    Tie tie() const override;
    // Adjusts the form to a newly chosen mouse mode: "Measure" (5) never keeps the "Text" label
    // type and ties to "Image"; the "Text" type and "Tied To" are usable only in "Text" mode (4).
    void adjustToMode(int mode);

    QGroupBox *LabelTypeBox = nullptr;
    std::array<QRadioButton *, 11> LabelType{}; // indices 0..5 and 10 ("LabelType_<i>")
    QGroupBox *AlignmentBox = nullptr;
    std::array<QRadioButton *, 3> Alignment{};
    QLabel *FontDisplay = nullptr;
    QPushButton *ForeColour = nullptr;
    QPushButton *BackColour = nullptr;
    QLineEdit *LineWidth = nullptr;
    QCheckBox *Transparent = nullptr;
    QGroupBox *Tied = nullptr;
    QRadioButton *Control = nullptr;
    QRadioButton *ImageCell = nullptr;
    QRadioButton *ImageScale = nullptr;
    QPushButton *OK = nullptr;

    QColor foreColour() const { return m_fore; }
    QColor backColour() const { return m_back; }
    void setForeColour(const QColor &c);
    void setBackColour(const QColor &c);
    // The font given to new labels: the box's text is its name, the font's size their size.
    void setLabelFont(const QFont &font);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    LabelForm();
    void showColour(QPushButton *button, const QColor &c);

    QColor m_fore = QColor(255, 0, 0);
    QColor m_back = QColor(64, 64, 64);
    QFont m_font;
};

} // namespace orv
