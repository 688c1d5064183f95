#include "OptionsBox.h"

#include "core/CoreRoutines.h"
#include "core/WindowHelpers.h"
#include "core/frmOptions.h"
#include "outside/Prompter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orv {

namespace {

using N = DicomNodes;

QLineEdit *makeEdit(QWidget *parent, const char *name)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setMinimumWidth(150);
    return e;
}

QComboBox *makeCombo(QWidget *parent, const char *name, const QStringList &items)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setEditable(true);
    c->addItems(items);
    return c;
}

// A frame holding labelled fields, one a line.
QGroupBox *frame(QWidget *parent, const QString &title, const QList<std::pair<QString, QWidget *>> &rows)
{
    auto *box = new QGroupBox(title, parent);
    auto *form = new QFormLayout(box);
    for (const auto &[label, field] : rows) {
        field->setParent(box);
        form->addRow(label, field);
    }
    return box;
}

QGroupBox *options(QWidget *parent, const QString &title, const QList<QRadioButton *> &buttons)
{
    auto *box = new QGroupBox(title, parent);
    auto *layout = new QVBoxLayout(box);
    auto *group = new QButtonGroup(box);
    for (QRadioButton *b : buttons) {
        b->setParent(box);
        layout->addWidget(b);
        group->addButton(b);
    }
    return box;
}

const QString kNode = QStringLiteral("Node Name or IP Address");
const QString kPort = QStringLiteral("Port Number");
const QString kAe = QStringLiteral("AE Name");

} // namespace

OptionsBox *OptionsBox::instance()
{
    auto &w = windowInstance<OptionsBox>();
    if (!w)
        w = new OptionsBox();
    return w;
}

OptionsBox *OptionsBox::existing()
{
    return windowInstance<OptionsBox>();
}

void OptionsBox::offerToOptions()
{
    frmOptions::setDicomSettingsOpener([] { showInFront(instance()); });
}

QString OptionsBox::moveWarningText()
{
    return QStringLiteral(
        "You have requested use of a C-MOVE operation.  Please note that this can ONLY work if the SCP has been set up "
        "to 'know' your AET title, and to associate it with your IP address and listening port.  If the supplied Access "
        "server is running on the same machine, then this is OK, as it associates LOCAL = localhost/1111, but if using "
        "another server, then this information MUST be set up on that server, as the DICOM C-MOVE protocol allows no "
        "method of specifying the destination other than the AE title, which for you currently is '");
}

OptionsBox::OptionsBox()
{
    setObjectName(QStringLiteral("OptionsBox"));
    setWindowTitle(QStringLiteral("Options"));
    auto *outer = new QVBoxLayout(this);
    SSTab1 = new QTabWidget(this);
    SSTab1->setObjectName(QStringLiteral("SSTab1"));
    outer->addWidget(SSTab1);

    // Storage & Verification SCU
    auto *storage = new QWidget(SSTab1);
    auto *storageLayout = new QVBoxLayout(storage);
    StorageNode = makeEdit(storage, "StorageNode");
    StoragePort = makeEdit(storage, "StoragePort");
    StorageAE = makeEdit(storage, "StorageAE");
    storageLayout->addWidget(frame(storage, QStringLiteral("Remote SCP"), {{kNode, StorageNode}, {kPort, StoragePort}, {kAe, StorageAE}}));
    Async = namedControl<QCheckBox>(storage, "Async", QStringLiteral("Send requests asynchronously"));
    storageLayout->addWidget(Async);
    StorageTLS = namedControl<QCheckBox>(storage, "StorageTLS", QStringLiteral("Use DICOM TLS (files on the TLS page)"));
    storageLayout->addWidget(StorageTLS);
    StorageCommit = namedControl<QCheckBox>(storage, "StorageCommit",
                                            QStringLiteral("Ask the archive to commit stored images (storage commitment; answers come "
                                                           "to the General SCP AE title and port)"));
    storageLayout->addWidget(StorageCommit);
    Label11 = new QLabel(QStringLiteral("See Query SCU page for local AE title used"), storage);
    Label11->setObjectName(QStringLiteral("Label11"));
    storageLayout->addWidget(Label11);
    storageLayout->addStretch();
    SSTab1->addTab(storage, QStringLiteral("Storage && Verification SCU"));

    // Query SCU
    auto *query = new QWidget(SSTab1);
    auto *queryLayout = new QGridLayout(query);
    CallingAE = makeEdit(query, "CallingAE");
    MoveDestination = makeEdit(query, "MoveDestination");
    RemoteNode = makeEdit(query, "RemoteNode");
    RemotePort = makeEdit(query, "RemotePort");
    RemoteAE = makeEdit(query, "RemoteAE");
    PatientRoot = namedControl<QRadioButton>(query, "PatientRoot", QStringLiteral("Patient"));
    StudyRoot = namedControl<QRadioButton>(query, "StudyRoot", QStringLiteral("Study"));
    A_CMOVE = namedControl<QRadioButton>(query, "A_CMOVE", QStringLiteral("Asynchronous C-MOVE"));
    S_CMOVE = namedControl<QRadioButton>(query, "S_CMOVE", QStringLiteral("Synchronous C-MOVE"));
    CGET = namedControl<QRadioButton>(query, "CGET", QStringLiteral("C-GET"));
    queryLayout->addWidget(frame(query, QStringLiteral("Local AE"),
                                 {{QStringLiteral("Calling AE Name to Use"), CallingAE},
                                  {QStringLiteral("Move Destination"), MoveDestination}}),
                           0, 0);
    queryLayout->addWidget(frame(query, QStringLiteral("Remote SCP"), {{kNode, RemoteNode}, {kPort, RemotePort}, {kAe, RemoteAE}}), 0, 1);
    queryLayout->addWidget(options(query, QStringLiteral("Query Root"), {PatientRoot, StudyRoot}), 1, 0);
    queryLayout->addWidget(options(query, QStringLiteral("Retrieve Method"), {A_CMOVE, S_CMOVE, CGET}), 1, 1);
    queryLayout->setRowStretch(2, 1);
    SSTab1->addTab(query, QStringLiteral("Query SCU"));

    // General SCP
    auto *general = new QWidget(SSTab1);
    auto *generalLayout = new QVBoxLayout(general);
    auto *generalForm = new QFormLayout;
    AEName = makeEdit(general, "AEName");
    Port = makeEdit(general, "Port");
    generalForm->addRow(QStringLiteral("This Application Entitiy Title"), AEName);
    generalForm->addRow(QStringLiteral("Port to Listen On:"), Port);
    generalLayout->addLayout(generalForm);
    CopyAllFrames = namedControl<QCheckBox>(general, "CopyAllFrames", QStringLiteral("Copy all Frames as separate images"));
    WindowAll = namedControl<QCheckBox>(general, "WindowAll", QStringLiteral("Window All Images together?"));
    generalLayout->addWidget(CopyAllFrames);
    generalLayout->addWidget(WindowAll);
    generalLayout->addStretch();
    SSTab1->addTab(general, QStringLiteral("General SCP"));

    // Printing
    auto *printing = new QWidget(SSTab1);
    auto *printingLayout = new QHBoxLayout(printing);
    PrintNode = makeEdit(printing, "PrintNode");
    PrintPort = makeEdit(printing, "PrintPort");
    PrintAE = makeEdit(printing, "PrintAE");
    PrintCallingAE = makeEdit(printing, "PrintCallingAE");
    printingLayout->addWidget(frame(printing, QStringLiteral("Printer"),
                                    {{kNode, PrintNode}, {kPort, PrintPort}, {kAe, PrintAE},
                                     {QStringLiteral("Calling AE Name to Use"), PrintCallingAE}}),
                              1);
    PrintFormat = makeCombo(printing, "PrintFormat", {QStringLiteral("STANDARD\\1,1"), QStringLiteral("STANDARD\\2,3")});
    PrintOrientation = makeCombo(printing, "PrintOrientation", {QStringLiteral("PORTRAIT"), QStringLiteral("LANDSCAPE")});
    FilmSize = makeCombo(printing, "FilmSize", {QStringLiteral("8INX10IN"), QStringLiteral("14INx17IN")});
    Magnification = makeCombo(printing, "Magnification", {QStringLiteral("NONE"), QStringLiteral("CUBIC"), QStringLiteral("LINEAR")});
    auto *film = new QFormLayout;
    film->addRow(QStringLiteral("Print Format Name"), PrintFormat);
    film->addRow(QStringLiteral("Orientation"), PrintOrientation);
    film->addRow(QStringLiteral("Film Size"), FilmSize);
    film->addRow(QStringLiteral("Magnifaction Type"), Magnification);
    auto *filmColumn = new QVBoxLayout;
    filmColumn->addLayout(film);
    PrintTLS = namedControl<QCheckBox>(printing, "PrintTLS", QStringLiteral("Use DICOM TLS (files on the TLS page)"));
    filmColumn->addWidget(PrintTLS);
    filmColumn->addStretch();
    printingLayout->addLayout(filmColumn, 1);
    SSTab1->addTab(printing, QStringLiteral("Printing"));

    // Worklist
    auto *worklist = new QWidget(SSTab1);
    auto *worklistLayout = new QVBoxLayout(worklist);
    wRemoteNode = makeEdit(worklist, "wRemoteNode");
    wRemotePort = makeEdit(worklist, "wRemotePort");
    wRemoteAE = makeEdit(worklist, "wRemoteAE");
    Frame7 = frame(worklist, QStringLiteral("Remote SCP"), {{kNode, wRemoteNode}, {kPort, wRemotePort}, {kAe, wRemoteAE}});
    Frame7->setObjectName(QStringLiteral("Frame7"));
    worklistLayout->addWidget(Frame7);
    wRemoteTLS = namedControl<QCheckBox>(worklist, "wRemoteTLS", QStringLiteral("Use DICOM TLS (files on the TLS page)"));
    worklistLayout->addWidget(wRemoteTLS);
    // Where the start and end of each exam are reported; nothing is while the address is empty.
    MppsNode = makeEdit(worklist, "MppsNode");
    MppsPort = makeEdit(worklist, "MppsPort");
    MppsAE = makeEdit(worklist, "MppsAE");
    auto *steps = frame(worklist, QStringLiteral("Performed Procedure Step SCP (empty address: off)"),
                        {{kNode, MppsNode}, {kPort, MppsPort}, {kAe, MppsAE}});
    worklistLayout->addWidget(steps);
    MppsTLS = namedControl<QCheckBox>(worklist, "MppsTLS", QStringLiteral("Use DICOM TLS (files on the TLS page)"));
    worklistLayout->addWidget(MppsTLS);
    worklistLayout->addStretch();
    SSTab1->addTab(worklist, QStringLiteral("Worklist"));

    // TLS: the workstation's identity and the CAs it trusts, for every peer that uses TLS.
    auto *tls = new QWidget(SSTab1);
    auto *tlsLayout = new QVBoxLayout(tls);
    auto *tlsForm = new QFormLayout;
    TLSCertificate = pathField(tls, "TLSCertificate", &cmdTLSCertificate, QStringLiteral("Workstation Certificate"));
    TLSPrivateKey = pathField(tls, "TLSPrivateKey", &cmdTLSPrivateKey, QStringLiteral("Private Key"));
    TLSTrustedCertificates = pathField(tls, "TLSTrustedCertificates", &cmdTLSTrustedCertificates, QStringLiteral("Trusted CA Certificates"));
    const auto row = [](QLineEdit *edit, QPushButton *browse) {
        auto *line = new QHBoxLayout;
        line->addWidget(edit, 1);
        line->addWidget(browse);
        return line;
    };
    tlsForm->addRow(QStringLiteral("Certificate File"), row(TLSCertificate, cmdTLSCertificate));
    tlsForm->addRow(QStringLiteral("Private Key File"), row(TLSPrivateKey, cmdTLSPrivateKey));
    tlsForm->addRow(QStringLiteral("Trusted CA Certificates"), row(TLSTrustedCertificates, cmdTLSTrustedCertificates));
    tlsLayout->addLayout(tlsForm);
    auto *tlsNote = new QLabel(QStringLiteral("PEM or DER files. The peer's certificate must be signed by a trusted CA and be "
                                              "valid; the certificate and key are shown to peers that ask for them (leave both "
                                              "empty if none does). The key must have no passphrase; only its path is kept."),
                               tls);
    tlsNote->setWordWrap(true);
    tlsLayout->addWidget(tlsNote);
    tlsLayout->addStretch();
    SSTab1->addTab(tls, QStringLiteral("TLS"));

    auto *bottom = new QHBoxLayout;
    txtBranchCode = makeEdit(this, "txtBranchCode");
    txtBranchCode->setMaximumWidth(160);
    auto *branchLabel = new QLabel(QStringLiteral("Branch Code:"), this);
    branchLabel->setBuddy(txtBranchCode);
    bottom->addWidget(branchLabel);
    bottom->addWidget(txtBranchCode);
    bottom->addStretch();
    Command1 = namedControl<QPushButton>(this, "Command1", QStringLiteral("OK"));
    Command1->setDefault(true);
    bottom->addWidget(Command1);
    outer->addLayout(bottom);

    bind(StorageNode, N::StorageNode);
    bind(StoragePort, N::StoragePort);
    bind(StorageAE, N::StorageAE);
    bind(Async, N::Async);
    bind(StorageCommit, N::StorageCommit);
    bind(CallingAE, N::CallingAE);
    bind(MoveDestination, N::MoveDestination);
    bind(RemoteNode, N::RemoteNode);
    bind(RemotePort, N::RemotePort);
    bind(RemoteAE, N::RemoteAE);
    bind({PatientRoot, StudyRoot}, N::QueryRoot);
    bind({A_CMOVE, S_CMOVE, CGET}, N::RetrieveMethod);
    bind(AEName, N::AEName);
    bind(Port, N::Port);
    bind(CopyAllFrames, N::CopyAllFrames);
    bind(WindowAll, N::WindowAll);
    bind(PrintNode, N::PrintNode);
    bind(PrintPort, N::PrintPort);
    bind(PrintAE, N::PrintAE);
    bind(PrintCallingAE, N::PrintCallingAE);
    bind(PrintFormat, N::PrintFormat);
    bind(PrintOrientation, N::PrintOrientation);
    bind(FilmSize, N::FilmSize);
    bind(Magnification, N::Magnification);
    bind(wRemoteNode, N::wRemoteNode);
    bind(wRemotePort, N::wRemotePort);
    bind(wRemoteAE, N::wRemoteAE);
    bind(txtBranchCode, N::txtBranchCode);
    bind(StorageTLS, N::StorageTLS);
    bind(PrintTLS, N::PrintTLS);
    bind(wRemoteTLS, N::wRemoteTLS);
    bind(MppsNode, N::MppsNode);
    bind(MppsPort, N::MppsPort);
    bind(MppsAE, N::MppsAE);
    bind(MppsTLS, N::MppsTLS);
    bind(TLSCertificate, N::TLSCertificate);
    bind(TLSPrivateKey, N::TLSPrivateKey);
    bind(TLSTrustedCertificates, N::TLSTrustedCertificates);

    connect(Command1, &QPushButton::clicked, this, &OptionsBox::Command1_Click);
    // Only a click by the operator warns, not a value set by the program.
    connect(A_CMOVE, &QRadioButton::clicked, this, &OptionsBox::MoveWarning);
    connect(S_CMOVE, &QRadioButton::clicked, this, &OptionsBox::MoveWarning);
    resize(680, 340);
    RestoreWindow(this);
}

QLineEdit *OptionsBox::pathField(QWidget *parent, const char *name, QPushButton **browse, const QString &title)
{
    QLineEdit *edit = makeEdit(parent, name);
    *browse = namedControl<QPushButton>(parent, (QByteArray("cmd") + name).constData(), QStringLiteral("..."));
    (*browse)->setMaximumWidth(32);
    connect(*browse, &QPushButton::clicked, this, [this, edit, title] {
        const QString chosen = Prompter::instance().openFile(this, title, QFileInfo(edit->text()).path(),
                                                   QStringLiteral("Certificates and keys (*.pem *.crt *.cer *.key *.der);;All files (*)"));
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    return edit;
}

void OptionsBox::bind(QLineEdit *edit, DicomNodes::Field field)
{
    DicomNodes &nodes = dicomNodes();
    edit->setText(nodes.value(field));
    connect(edit, &QLineEdit::textChanged, this, [field](const QString &text) { dicomNodes().setValue(field, text); });
    connect(&nodes, &DicomNodes::changed, edit, [edit, field](DicomNodes::Field f, const QString &v) {
        if (f == field && edit->text() != v)
            edit->setText(v);
    });
}

void OptionsBox::bind(QCheckBox *box, DicomNodes::Field field)
{
    DicomNodes &nodes = dicomNodes();
    box->setChecked(nodes.value(field) == QLatin1String("1"));
    connect(box, &QCheckBox::toggled, this, [field](bool on) {
        dicomNodes().setValue(field, on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    connect(&nodes, &DicomNodes::changed, box, [box, field](DicomNodes::Field f, const QString &v) {
        if (f == field)
            box->setChecked(v == QLatin1String("1"));
    });
}

void OptionsBox::bind(QComboBox *combo, DicomNodes::Field field)
{
    DicomNodes &nodes = dicomNodes();
    combo->setCurrentText(nodes.value(field));
    connect(combo, &QComboBox::currentTextChanged, this, [field](const QString &text) { dicomNodes().setValue(field, text); });
    connect(&nodes, &DicomNodes::changed, combo, [combo, field](DicomNodes::Field f, const QString &v) {
        if (f == field && combo->currentText() != v)
            combo->setCurrentText(v);
    });
}

void OptionsBox::bind(const QList<QRadioButton *> &choices, DicomNodes::Field field)
{
    DicomNodes &nodes = dicomNodes();
    auto show = [choices](const QString &v) {
        for (QRadioButton *b : choices)
            if (b->objectName() == v)
                b->setChecked(true);
    };
    show(nodes.value(field));
    for (QRadioButton *b : choices)
        connect(b, &QRadioButton::toggled, this, [b, field](bool on) {
            if (on)
                dicomNodes().setValue(field, b->objectName());
        });
    connect(&nodes, &DicomNodes::changed, this, [show, field](DicomNodes::Field f, const QString &v) {
        if (f == field)
            show(v);
    });
}

void OptionsBox::Command1_Click()
{
    dicomNodes().store();
    SaveWindow(this);
    hide();
}

void OptionsBox::MoveWarning()
{
    msgBox(this, moveWarningText() + MoveDestination->text() + QLatin1Char('\''));
}

void OptionsBox::closeEvent(QCloseEvent *event)
{
    // The window is not deleted on close (it has no WA_DeleteOnClose): closing hides it.
    SaveWindow(this);
    event->accept();
}

} // namespace orv
