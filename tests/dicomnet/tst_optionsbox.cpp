// The DICOM node settings: the window, the model it binds, and the peers readers take from it.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "core/SharedState.h"
#include "core/frmOptions.h"
#include "dicomnet/OptionsBox.h"
#include "outside/Error.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>

using namespace orv;
using namespace orv::test;
using N = DicomNodes;

class tst_OptionsBox : public QObject
{
    Q_OBJECT
private:
    ScriptedPrompter *m_prompter = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;

    // The next start of the program: a new window over the node settings read again.
    static void restart()
    {
        delete OptionsBox::existing();
        resetDicomNodes();
    }
    static QString stored(const QString &key)
    {
        return settings().read(QStringLiteral("velmorpacs"), QStringLiteral("acquire"), key, QStringLiteral("<none>"));
    }

private slots:
    void init()
    {
        m_prompter = ScriptedPrompter::install();
        m_dir = std::make_unique<QTemporaryDir>();
        resetSettings(m_dir->filePath(QStringLiteral("settings.ini")));
        restart();
    }

    // Nothing stored: design defaults, localhost for both peers. Typed values are what readers
    // take at once; "OK" keeps the seven stored fields, and only those survive the next start.
    void typedValuesLiveForTheRunAndOkStoresSeven()
    {
        OptionsBox *w = OptionsBox::instance();
        QVERIFY(!w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Options"));
        QCOMPARE(w->SSTab1->count(), 5);
        QCOMPARE(w->SSTab1->tabText(0), QStringLiteral("Storage && Verification SCU"));
        const QList<QLineEdit *> edits{w->StorageNode, w->StoragePort, w->StorageAE, w->CallingAE, w->MoveDestination,
                                       w->RemoteNode, w->RemotePort, w->RemoteAE, w->AEName, w->Port, w->PrintNode,
                                       w->PrintPort, w->PrintAE, w->PrintCallingAE, w->wRemoteNode, w->wRemotePort,
                                       w->wRemoteAE, w->txtBranchCode};
        QStringList texts;
        for (QLineEdit *e : edits)
            texts << e->text();
        QCOMPARE(texts, (QStringList{"localhost", "104", "VELMOR", "LOCAL", "LOCAL", "localhost", "104", "REMOTE_AET", "",
                                     "1111", "localhost", "104", "ADVT", "ADVT", "localhost", "105", "VELMOR", ""}));
        QVERIFY(w->PatientRoot->isChecked() && w->CGET->isChecked() && !w->Async->isChecked());
        QCOMPARE((QStringList{w->PrintFormat->currentText(), w->PrintOrientation->currentText(), w->FilmSize->currentText(),
                              w->Magnification->currentText()}),
                 (QStringList{"STANDARD\\1,1", "PORTRAIT", "8INX10IN", "NONE"}));
        QCOMPARE(w->FilmSize->itemText(1), QStringLiteral("14INx17IN"));

        w->show();
        const QList<std::pair<QLineEdit *, QString>> typed{
            {w->StorageNode, "pacs.example"}, {w->StoragePort, "4242"},   {w->StorageAE, "ARCHIVE"},
            {w->CallingAE, "WS7"},            {w->PrintNode, "printer1"}, {w->wRemoteNode, "ris.example"},
            {w->wRemotePort, "2575"},         {w->wRemoteAE, "RIS"},      {w->txtBranchCode, "BR'1"}};
        for (const auto &[edit, text] : typed) {
            edit->clear();
            typeText(edit, text);
        }
        w->StudyRoot->click();
        w->PrintFormat->setCurrentText(QStringLiteral("STANDARD\\2,3"));
        const dicom::Peer storage = dicomNodes().storagePeer();
        QCOMPARE((QStringList{storage.host, QString::number(storage.port), storage.callingAe, storage.calledAe}),
                 (QStringList{"pacs.example", "4242", "WS7", "ARCHIVE"}));
        QCOMPARE(dicomNodes().value(N::PrintFormat), QStringLiteral("STANDARD\\2,3"));
        QCOMPARE(dicomNodes().value(N::QueryRoot), QStringLiteral("StudyRoot"));
        QCOMPARE(stored("StorageServer"), QStringLiteral("<none>")); // nothing stored before OK

        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(OptionsBox::existing(), w); // hidden, not unloaded
        QCOMPARE((QStringList{stored("StorageServer"), stored("StoragePort"), stored("StorageAEName"), stored("wRemoteNode"),
                              stored("wRemotePort"), stored("wRemoteAE"), stored("txtBranchCode")}),
                 (QStringList{"pacs.example", "4242", "ARCHIVE", "ris.example", "2575", "RIS", "BR'1"}));
        QCOMPARE(stored("CallingAE"), QStringLiteral("<none>"));

        restart();
        w = OptionsBox::instance();
        QCOMPARE((QStringList{w->StorageNode->text(), w->StoragePort->text(), w->wRemoteNode->text(), w->txtBranchCode->text()}),
                 (QStringList{"pacs.example", "4242", "ris.example", "BR'1"}));
        QCOMPARE((QStringList{w->CallingAE->text(), w->PrintNode->text(), w->PrintFormat->currentText()}),
                 (QStringList{"LOCAL", "localhost", "STANDARD\\1,1"}));
        QVERIFY(w->PatientRoot->isChecked());
    }

    // Readers that load the settings before the window exists see the stored values, and the
    // window opened later shows what they changed.
    void readersLoadTheStoreWithoutTheWindow()
    {
        settings().write(QStringLiteral("VELMORPACS"), QStringLiteral("ACQUIRE"), QStringLiteral("StorageServer"), QStringLiteral("10.1.2.3"));
        settings().write(QStringLiteral("VELMORPACS"), QStringLiteral("ACQUIRE"), QStringLiteral("wRemotePort"), QStringLiteral("1105"));
        QCOMPARE(dicomNodes().storagePeer().host, QStringLiteral("10.1.2.3"));
        QCOMPARE(dicomNodes().worklistPeer().port, 1105);
        QCOMPARE(dicomNodes().worklistPeer().callingAe, QStringLiteral("VELMOR"));
        QVERIFY(!OptionsBox::existing());
        dicomNodes().setValue(N::CallingAE, QStringLiteral("OTHER"));
        QCOMPARE(OptionsBox::instance()->CallingAE->text(), QStringLiteral("OTHER"));
        QCOMPARE(OptionsBox::instance()->StorageNode->text(), QStringLiteral("10.1.2.3"));
    }

    // What a reader refuses, with the message the operator sees; a usable value passes.
    void peersAreCheckedBeforeUse_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message"); // "" when the peer is usable
        QTest::newRow("empty port") << int(N::StoragePort) << ""
                                    << "The port of the storage archive is empty. Enter it in DICOM Settings.";
        QTest::newRow("letters") << int(N::StoragePort) << "1o4"
                                 << "The port of the storage archive, \"1o4\", is not a number from 1 to 65535. Correct it in DICOM Settings.";
        QTest::newRow("too large") << int(N::StoragePort) << "65536"
                                   << "The port of the storage archive, \"65536\", is not a number from 1 to 65535. Correct it in DICOM Settings.";
        QTest::newRow("blanks around") << int(N::StoragePort) << " 11112 " << "";
        QTest::newRow("called AE 17") << int(N::StorageAE) << "ABCDEFGHIJKLMNOPQ"
                                      << "The AE title of the storage archive \"ABCDEFGHIJKLMNOPQ\" is longer than 16 characters. Shorten it in DICOM Settings.";
        QTest::newRow("called AE 16") << int(N::StorageAE) << "ABCDEFGHIJKLMNOP" << "";
        QTest::newRow("calling AE 17") << int(N::CallingAE) << "WORKSTATION-12345"
                                       << "The calling AE title \"WORKSTATION-12345\" is longer than 16 characters. Shorten it in DICOM Settings.";
        QTest::newRow("calling AE empty") << int(N::CallingAE) << " " << "The calling AE title is empty. Enter it in DICOM Settings.";
        QTest::newRow("no address") << int(N::StorageNode) << "" << "The address of the storage archive is empty. Enter it in DICOM Settings.";
    }
    void peersAreCheckedBeforeUse()
    {
        QFETCH(int, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        dicomNodes().setValue(N::Field(field), value);
        QString error;
        try {
            dicomNodes().storagePeer();
        } catch (const Error &e) {
            error = e.description();
        }
        QCOMPARE(error, message);
        QCOMPARE(dicomNodes().value(N::Field(field)), value); // nothing the operator typed is lost
    }

    // Only the operator's click on a C-MOVE option warns, naming the move destination.
    void moveWarningNamesTheDestination()
    {
        OptionsBox *w = OptionsBox::instance();
        w->show();
        QTest::mouseClick(w->A_CMOVE, Qt::LeftButton);
        w->MoveDestination->setText(QStringLiteral("MYWS"));
        QTest::mouseClick(w->S_CMOVE, Qt::LeftButton);
        QTest::mouseClick(w->CGET, Qt::LeftButton);
        dicomNodes().setValue(N::RetrieveMethod, QStringLiteral("A_CMOVE"));
        QVERIFY(w->A_CMOVE->isChecked());
        QCOMPARE(m_prompter->messages(),
                 (QStringList{OptionsBox::moveWarningText() + "LOCAL'", OptionsBox::moveWarningText() + "MYWS'"}));
        QVERIFY(OptionsBox::moveWarningText().endsWith("which for you currently is '"));
        QVERIFY(OptionsBox::moveWarningText().contains("operation.  Please note"));
    }

    // The settings window's "DICOM Settings" opens the one instance once it is registered.
    void settingsWindowOpensTheOneInstance()
    {
        OptionsBox::registerWindow();
        frmOptions *options = frmOptions::instance();
        QVERIFY(options->cmdDICOM->isEnabled());
        options->cmdDICOM->click();
        OptionsBox *w = OptionsBox::existing();
        QVERIFY(w && w->isVisible());
        w->close();
        QVERIFY(!w->isVisible());
        options->cmdDICOM->click();
        QCOMPARE(OptionsBox::existing(), w);
        QVERIFY(w->isVisible());
        options->close();
    }
};

ORV_TEST_MAIN(tst_OptionsBox)
#include "tst_optionsbox.moc"
