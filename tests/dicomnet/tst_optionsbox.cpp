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
#include <QTemporaryDir>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;
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
    // The storage archive's peer as readers get it, or why it is refused.
    static QString storageError()
    {
        try {
            dicomNodes().storagePeer();
        } catch (const Error &e) {
            return e.description();
        }
        return QString();
    }

private slots:
    void init()
    {
        m_prompter = ScriptedPrompter::install();
        m_dir = std::make_unique<QTemporaryDir>();
        resetSettings(m_dir->filePath("settings.ini"));
        restart();
    }

    // The options window's "DICOM" opens this window once it is offered, and is disabled before.
    void optionsWindowOpensTheNodeSettingsOnceOffered()
    {
        frmOptions *options = frmOptions::instance();
        QVERIFY(!options->cmdDICOM->isEnabled());
        delete options;
        OptionsBox::offerToOptions();
        options = frmOptions::instance();
        QVERIFY(options->cmdDICOM->isEnabled());
        options->cmdDICOM->click();
        QVERIFY(OptionsBox::existing() && OptionsBox::existing()->isVisible());
        delete options;
    }

    // What a reader refuses, with the message the operator sees; a usable value passes, and
    // nothing the operator typed is lost either way.
    void peersAreCheckedBeforeUse()
    {
        const struct { N::Field field; QString value, phrase; } cases[] = {
            {N::StoragePort, "", "port of the storage archive is empty"},
            {N::StoragePort, "1o4", "\"1o4\", is not a number from 1 to 65535"},
            {N::StoragePort, "65536", "\"65536\", is not a number from 1 to 65535"},
            {N::StoragePort, " 11112 ", ""},
            {N::StorageAE, "ABCDEFGHIJKLMNOPQ", "\"ABCDEFGHIJKLMNOPQ\" is longer than 16 characters"},
            {N::StorageAE, "ABCDEFGHIJKLMNOP", ""},
            {N::CallingAE, " ", "calling AE title is empty"},
            {N::StorageNode, "", "address of the storage archive is empty"}};
        for (const auto &c : cases) {
            restart();
            dicomNodes().setValue(c.field, c.value);
            const QString error = storageError();
            QVERIFY2(c.phrase.isEmpty() ? error.isEmpty() : error.contains(c.phrase), qPrintable(error));
            QCOMPARE(dicomNodes().value(c.field), c.value);
        }
    }

    // TLS is chosen per peer with one set of files; a peer with TLS and no trusted CA, or with a
    // certificate but no key, is refused; "OK" keeps the choices and the paths (never key text).
    void tlsChoicesAndFilesReachThePeersAndAreKept()
    {
        OptionsBox *w = OptionsBox::instance();
        w->show();
        w->StorageTLS->click();
        QVERIFY(storageError().contains(u"no trusted certificates file"_s));
        m_prompter->fileAnswers << "/etc/pki/ca.pem";
        w->cmdTLSTrustedCertificates->click();
        typeText(w->TLSCertificate, "/etc/pki/ws.pem");
        QVERIFY(storageError().startsWith(u"DICOM TLS for the storage archive needs both"_s));
        typeText(w->TLSPrivateKey, "/etc/pki/ws.key");
        const dicom::TlsSettings tls = dicomNodes().storagePeer().tls;
        QVERIFY(tls.enabled);
        QCOMPARE((QStringList{tls.certificateFile, tls.privateKeyFile, tls.trustedCertificatesFile}),
                 (QStringList{"/etc/pki/ws.pem", "/etc/pki/ws.key", "/etc/pki/ca.pem"}));
        QVERIFY(!dicomNodes().worklistPeer().tls.enabled && !dicomNodes().printPeer().tls.enabled);

        w->wRemoteTLS->click();
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        restart();
        QVERIFY(dicomNodes().worklistPeer().tls.enabled && dicomNodes().storagePeer().tls.enabled);
        QVERIFY(!dicomNodes().printPeer().tls.enabled);
        QCOMPARE(dicomNodes().storagePeer().tls.privateKeyFile, u"/etc/pki/ws.key"_s);
        QVERIFY(OptionsBox::instance()->wRemoteTLS->isChecked());
    }
};

ORV_TEST_MAIN(tst_OptionsBox)
#include "tst_optionsbox.moc"
