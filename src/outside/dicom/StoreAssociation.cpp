#include "StoreAssociation.h"

#include "Image.h"
#include "InputLimits.h"
#include "ScuAssociation.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <cstdio>

namespace orv::dicom {

struct StoreAssociation::Scu : public dicom::Scu
{
    using dicom::Scu::Scu;
};

StoreAssociation::StoreAssociation(const Peer &peer) : m_peer(peer) {}

StoreAssociation::Identity StoreAssociation::writeForSending(Image &image, const QString &path)
{
    image.complete();
    image.requireDecodable();
    DcmFileFormat *file = image.fileFormat();
    DcmDataset *ds = file->getDataset();
    OFString cls, inst;
    ds->findAndGetOFString(DCM_SOPClassUID, cls);
    ds->findAndGetOFString(DCM_SOPInstanceUID, inst);
    if (cls.empty() || inst.empty())
        fail(QStringLiteral("The image has no SOP class or instance UID and cannot be sent."));
    const DcmXfer original(ds->getOriginalXfer());
    const E_TransferSyntax xfer = ds->getOriginalXfer() != EXS_Unknown && original.isEncapsulated() ? ds->getOriginalXfer()
                                                                                                     : EXS_LittleEndianExplicit;
    const QString part = path + QStringLiteral(".part");
    OFCondition cond = EC_Normal;
    image.withoutDirectoryAttributes([&] {
        // A copy, so that the image's own meta information stays as it was.
        DcmFileFormat copy(*file);
        copy.getMetaInfo()->clear();
        cond = copy.saveFile(OFFilename(part.toLocal8Bit().constData()), xfer, EET_ExplicitLength, EGL_recalcGL, EPD_noChange, 0, 0,
                             EWM_createNewMeta);
    });
    if (cond.bad() || std::rename(part.toLocal8Bit().constData(), path.toLocal8Bit().constData()) != 0) {
        std::remove(part.toLocal8Bit().constData());
        fail(QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(cond.text())));
    }
    OFString series;
    ds->findAndGetOFString(DCM_SeriesInstanceUID, series);
    return {QString::fromLatin1(cls.c_str()), QString::fromLatin1(inst.c_str()), QString::fromLatin1(DcmXfer(xfer).getXferID()), QString(),
            QString::fromLatin1(series.c_str())};
}

StoreAssociation::Identity StoreAssociation::identify(const QString &path)
{
    initialise();
    requireSaneNesting(path);
    DcmFileFormat file;
    const OFCondition cond = file.loadFile(OFFilename(path.toLocal8Bit().constData()), EXS_Unknown, EGL_noChange, 1024);
    if (cond.bad())
        fail(QStringLiteral("Cannot read %1: %2").arg(path, QString::fromLocal8Bit(cond.text())));
    OFString cls, inst, xfer, study, series;
    file.getDataset()->findAndGetOFString(DCM_SeriesInstanceUID, series);
    file.getDataset()->findAndGetOFString(DCM_SOPClassUID, cls);
    file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, inst);
    file.getDataset()->findAndGetOFString(DCM_StudyInstanceUID, study);
    file.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, xfer);
    if (xfer.empty())
        xfer = DcmXfer(file.getDataset()->getOriginalXfer()).getXferID();
    if (cls.empty() || inst.empty())
        fail(QStringLiteral("%1 has no SOP class or instance UID and cannot be sent.").arg(path));
    return {QString::fromLatin1(cls.c_str()), QString::fromLatin1(inst.c_str()), QString::fromLatin1(xfer.c_str()),
            QString::fromLatin1(study.c_str()), QString::fromLatin1(series.c_str())};
}

StoreAssociation::~StoreAssociation() { close(); }

void StoreAssociation::open(const QList<Context> &contexts)
{
    close();
    initialiseCodecs(); // a compressed file the peer takes only uncompressed is decoded on the way
    auto scu = std::make_unique<Scu>(m_peer);
    scu->setDatasetConversionMode(OFTrue);
    QList<QString> plain; // SOP classes proposed uncompressed
    QList<std::pair<QString, QString>> own;
    for (const Context &c : contexts) {
        const DcmXfer x(c.transferSyntax.toLatin1().constData());
        if (x.isEncapsulated() && !own.contains({c.sopClass, c.transferSyntax})) {
            own.append({c.sopClass, c.transferSyntax});
            OFList<OFString> list;
            list.push_back(latin(c.transferSyntax));
            scu->addPresentationContext(latin(c.sopClass), list);
        }
        if (!plain.contains(c.sopClass))
            plain << c.sopClass;
    }
    for (const QString &sopClass : plain)
        scu->addPresentationContext(latin(sopClass), uncompressed());
    scu->addPresentationContext(UID_VerificationSOPClass, uncompressed());
    scu->connect();
    m_scu = std::move(scu);
}

bool StoreAssociation::isOpen() const { return m_scu && m_scu->isConnected(); }

int StoreAssociation::send(const QString &path, const QString &sopClass, const QString &transferSyntax)
{
    if (!isOpen())
        fail(QStringLiteral("The association with %1:%2 (%3) is closed.").arg(m_peer.host).arg(m_peer.port).arg(m_peer.calledAe));
    const OFString cls = latin(sopClass);
    const DcmXfer x(transferSyntax.toLatin1().constData());
    T_ASC_PresentationContextID pc = 0;
    if (x.isEncapsulated())
        pc = m_scu->findPresentationContextID(cls, latin(transferSyntax));
    if (pc == 0)
        pc = m_scu->findPresentationContextID(cls, UID_LittleEndianExplicitTransferSyntax);
    if (pc == 0)
        pc = m_scu->findPresentationContextID(cls, UID_LittleEndianImplicitTransferSyntax);
    if (pc == 0) {
        const char *name = dcmFindNameOfUID(cls.c_str(), cls.c_str());
        fail(QStringLiteral("%1 accepts no presentation context for %2.").arg(m_scu->where(), QString::fromLatin1(name)), 0x0122);
    }
    requireSaneNesting(path);
    DcmFileFormat file;
    const OFCondition read = file.loadFile(OFFilename(path.toLocal8Bit().constData()));
    if (read.bad())
        fail(QStringLiteral("Cannot read %1: %2").arg(path, QString::fromLocal8Bit(read.text())));
    Uint16 status = 0;
    const OFCondition cond = m_scu->sendSTORERequest(pc, OFFilename(), file.getDataset(), status);
    if (cond.bad()) {
        m_scu->requireNoFault();
        m_scu->closeAssociation(DCMSCU_ABORT_ASSOCIATION);
        fail(QStringLiteral("Sending with %1 failed: %2").arg(m_scu->where(), QString::fromLocal8Bit(cond.text())), cond.code());
    }
    return status;
}

void StoreAssociation::close()
{
    if (!m_scu)
        return;
    if (m_scu->isConnected() && m_scu->releaseAssociation().bad())
        m_scu->closeAssociation(DCMSCU_ABORT_ASSOCIATION);
    m_scu.reset();
}

} // namespace orv::dicom
