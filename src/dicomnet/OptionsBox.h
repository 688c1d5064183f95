#pragma once

#include "core/DicomNodes.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace orv {

// The DICOM node settings window ("Options"). Its fields are bound to the node settings model
// (dicomNodes()): what the operator types is what sending, printing and the worklist read from
// then on, for the rest of the run; "OK" also keeps the stored fields in the settings store and
// hides the window. One instance per run, created hidden on first use and never deleted by the
// program, so closing it only hides it.
class OptionsBox : public QWidget
{
    Q_OBJECT
public:
    static OptionsBox *instance();
    static OptionsBox *existing();
    // Offers the window to the options window's "DICOM" button.
    static void offerToOptions();

    // The C-MOVE warning, to be followed by the move destination and a closing apostrophe.
    static QString moveWarningText();

    QTabWidget *SSTab1 = nullptr;
    QPushButton *Command1 = nullptr;
    // "Storage && Verification SCU"
    QLineEdit *StorageNode = nullptr, *StoragePort = nullptr, *StorageAE = nullptr;
    QCheckBox *Async = nullptr;
    QCheckBox *StorageCommit = nullptr; // ask the archive to commit what it stored
    QLabel *Label11 = nullptr;
    // "Query SCU"
    QLineEdit *CallingAE = nullptr, *MoveDestination = nullptr;
    QLineEdit *RemoteNode = nullptr, *RemotePort = nullptr, *RemoteAE = nullptr;
    QRadioButton *PatientRoot = nullptr, *StudyRoot = nullptr;
    QRadioButton *A_CMOVE = nullptr, *S_CMOVE = nullptr, *CGET = nullptr;
    // "General SCP"
    QLineEdit *AEName = nullptr, *Port = nullptr;
    QCheckBox *CopyAllFrames = nullptr, *WindowAll = nullptr;
    // "Printing"
    QLineEdit *PrintNode = nullptr, *PrintPort = nullptr, *PrintAE = nullptr, *PrintCallingAE = nullptr;
    QComboBox *PrintFormat = nullptr, *PrintOrientation = nullptr, *FilmSize = nullptr, *Magnification = nullptr;
    // "Worklist"
    QGroupBox *Frame7 = nullptr;
    QLineEdit *wRemoteNode = nullptr, *wRemotePort = nullptr, *wRemoteAE = nullptr;
    QLineEdit *txtBranchCode = nullptr;
    // DICOM TLS: a choice on each peer's tab, the files on the "TLS" tab, shared by every peer.
    QCheckBox *StorageTLS = nullptr, *PrintTLS = nullptr, *wRemoteTLS = nullptr, *MppsTLS = nullptr;
    QLineEdit *MppsNode = nullptr, *MppsPort = nullptr, *MppsAE = nullptr;
    QLineEdit *TLSCertificate = nullptr, *TLSPrivateKey = nullptr, *TLSTrustedCertificates = nullptr;
    QPushButton *cmdTLSCertificate = nullptr, *cmdTLSPrivateKey = nullptr, *cmdTLSTrustedCertificates = nullptr;

    void Command1_Click();
    void MoveWarning();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    OptionsBox();
    void bind(QLineEdit *edit, DicomNodes::Field field);
    void bind(QCheckBox *box, DicomNodes::Field field);
    void bind(QComboBox *combo, DicomNodes::Field field);
    void bind(const QList<QRadioButton *> &options, DicomNodes::Field field);
    // A file path field with its "..." button, which picks a file into the field.
    QLineEdit *pathField(QWidget *parent, const char *name, QPushButton **browse, const QString &title);
};

} // namespace orv
