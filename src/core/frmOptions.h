#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace orv {

// The options window ("Settings").
class frmOptions : public QWidget
{
    Q_OBJECT
public:
    static frmOptions *instance();
    // The loaded instance, if any (no window is created).
    static frmOptions *loaded();
    // Opens the DICOM node settings window: set at start-up by the folder that owns the window,
    // before the options window is created. Unset, "DICOM" stays disabled.
    static void setDicomSettingsOpener(std::function<void()> open);

    QLineEdit *txtModalityCode = nullptr;
    QCheckBox *chkUsePacsDBExamCodes = nullptr;
    QCheckBox *chkUseHospPat = nullptr;
    QLineEdit *txtTempFolder = nullptr;
    QLineEdit *txtCompanyName = nullptr;
    QCheckBox *chkDebugMode = nullptr;
    QGroupBox *fraModality = nullptr;
    QCheckBox *chkEN = nullptr, *chkALL = nullptr, *chkEC = nullptr, *chkCR = nullptr, *chkUS = nullptr,
              *chkMR = nullptr, *chkCT = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdServer = nullptr;
    QPushButton *cmdDICOM = nullptr;
    QPushButton *cmdResetSettings = nullptr;
    QPushButton *cmdResetWindowPos = nullptr;
    QPushButton *cmdAddHospNum = nullptr;
    QPushButton *cmdUpdate2 = nullptr;
    QPushButton *cmdUpdateDB = nullptr;
    QPushButton *cmdInitVmor = nullptr;

    void Form_Load();
    void Command1_Click();
    void cmdResetSettings_Click();
    void cmdResetWindowPos_Click();
    void cmdAddHospNum_Click();
    void cmdUpdate2_Click();
    void cmdUpdateDB_Click();

    ~frmOptions() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    frmOptions();
    // Runs the statements in order; the first failure shows its description and stops.
    void runUpgrade(const QStringList &statements);
};

} // namespace orv
