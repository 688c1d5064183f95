#include "StoreScu.h"

#include "Image.h"
#include "ScuAssociation.h"

#include <dcmtk/dcmdata/dccodec.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

namespace orv::dicom {

StoreScu::StoreScu(const QString &host, int port, const QString &callingAe, const QString &calledAe)
    : m_peer{host, port, callingAe, calledAe, {}}
{}

int StoreScu::send(Image &image)
{
    image.complete();
    image.requireDecodable();
    DcmDataset *ds = image.fileFormat()->getDataset();
    OFString sopClass, sopInstance;
    ds->findAndGetOFString(DCM_SOPClassUID, sopClass);
    ds->findAndGetOFString(DCM_SOPInstanceUID, sopInstance);
    if (sopClass.empty() || sopInstance.empty())
        fail(QStringLiteral("The image has no SOP class or instance UID and cannot be sent."));

    Scu scu(m_peer);
    scu.setDatasetConversionMode(OFTrue);
    const E_TransferSyntax original = ds->getOriginalXfer();
    const DcmXfer orig(original);
    const bool encapsulated = original != EXS_Unknown && orig.isEncapsulated();
    if (encapsulated) {
        OFList<OFString> own;
        own.push_back(orig.getXferID());
        scu.addPresentationContext(sopClass, own);
    }
    // Pixel data the toolkit cannot decode (a video stream) goes only as it is.
    if (!encapsulated || DcmCodecList::canChangeCoding(original, EXS_LittleEndianExplicit))
        scu.addPresentationContext(sopClass, uncompressed());
    // Verification keeps the association up when the peer refuses only the SOP class, so that
    // the refusal can be told apart from a rejected association.
    scu.addPresentationContext(UID_VerificationSOPClass, uncompressed());
    scu.connect();

    T_ASC_PresentationContextID pc = 0;
    if (encapsulated)
        pc = scu.findPresentationContextID(sopClass, orig.getXferID());
    if (pc == 0)
        pc = scu.findPresentationContextID(sopClass, UID_LittleEndianExplicitTransferSyntax);
    if (pc == 0)
        pc = scu.findPresentationContextID(sopClass, UID_LittleEndianImplicitTransferSyntax);
    if (pc == 0) {
        scu.closeAssociation(DCMSCU_RELEASE_ASSOCIATION);
        const char *name = dcmFindNameOfUID(sopClass.c_str(), sopClass.c_str());
        // Carries the status the standard gives a refused SOP class, so callers can go on with the next image.
        fail(QStringLiteral("%1 accepts no presentation context for %2.").arg(scu.where(), QString::fromLatin1(name)), 0x0122);
    }
    Uint16 status = 0;
    image.withoutDirectoryAttributes([&] { scu.require(scu.sendSTORERequest(pc, OFFilename(), ds, status), QStringLiteral("Sending")); });
    scu.releaseAssociation();
    return status;
}

} // namespace orv::dicom
