#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace orv {

namespace capture {
class CaptureControl;
}

// The preset picker ("Preset Formats"): saves the capture control's settings into one of ten
// slots, or loads them from one. A failure keeps the picker open for another slot.
class frmPresets : public QDialog
{
    Q_OBJECT
public:
    frmPresets(capture::CaptureControl *control, QWidget *parent);

    // True: save into the chosen slot; false: load from it.
    void setSaveFlag(bool save) { m_save = save; }
    bool saveFlag() const { return m_save; }

    QComboBox *cmbPresets = nullptr;
    QLabel *lblFormat = nullptr;
    QPushButton *cmdOk = nullptr, *cmdCancel = nullptr;

private:
    void cmdOk_Click();

    capture::CaptureControl *m_control;
    bool m_save = false;
};

} // namespace orv
