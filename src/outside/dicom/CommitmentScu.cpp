#include "StorageCommitment.h"

#include "ScuAssociation.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcsequen.h>

namespace orv::dicom {

namespace {

constexpr const char *kCommitmentInstance = "1.2.840.10008.1.20.1.1";

void addItems(DcmDataset &ds, const DcmTagKey &sequence, const QList<CommitItem> &items)
{
    for (const CommitItem &i : items) {
        DcmItem *item = nullptr;
        ds.findOrCreateSequenceItem(sequence, item, -2);
        if (!item)
            continue;
        item->putAndInsertString(DCM_ReferencedSOPClassUID, latin(i.sopClass).c_str());
        item->putAndInsertString(DCM_ReferencedSOPInstanceUID, latin(i.sopInstance).c_str());
    }
}

QList<CommitItem> readItems(DcmItem &ds, const DcmTagKey &sequence)
{
    QList<CommitItem> out;
    DcmSequenceOfItems *seq = nullptr;
    if (ds.findAndGetSequence(sequence, seq).bad() || !seq)
        return out;
    for (unsigned long n = 0; n < seq->card(); ++n) {
        DcmItem *item = seq->getItem(n);
        OFString cls, inst;
        Uint16 reason = 0;
        item->findAndGetOFString(DCM_ReferencedSOPClassUID, cls);
        item->findAndGetOFString(DCM_ReferencedSOPInstanceUID, inst);
        item->findAndGetUint16(DCM_FailureReason, reason);
        out << CommitItem{QString::fromLatin1(cls.c_str()), QString::fromLatin1(inst.c_str()), int(reason)};
    }
    return out;
}

} // namespace

CommitAnswer commitAnswerOf(DcmItem &ds, int eventType)
{
    CommitAnswer a;
    OFString uid;
    ds.findAndGetOFString(DCM_TransactionUID, uid);
    a.transactionUid = QString::fromLatin1(uid.c_str());
    a.committed = readItems(ds, DCM_ReferencedSOPSequence);
    a.failed = readItems(ds, DCM_FailedSOPSequence);
    if (eventType == 2)
        for (CommitItem &i : a.failed)
            if (i.failureReason == 0)
                i.failureReason = 0x0110;
    return a;
}

bool CommitmentScu::request(const QString &transactionUid, const QList<CommitItem> &items, int waitSeconds, CommitAnswer *answer)
{
    Scu scu(m_peer);
    const T_ASC_PresentationContextID pc = scu.connectFor(kStorageCommitmentClass, QStringLiteral("%1 does not take storage commitment requests."));
    DcmDataset ds;
    ds.putAndInsertString(DCM_TransactionUID, latin(transactionUid).c_str());
    addItems(ds, DCM_ReferencedSOPSequence, items);
    Uint16 status = 0;
    scu.require(scu.sendACTIONRequest(pc, kCommitmentInstance, 1, &ds, status), QStringLiteral("The storage commitment request"));
    if (status != STATUS_Success) {
        scu.releaseAssociation();
        requireStatus(status, QStringLiteral("The storage commitment request"), scu.where());
    }
    bool answered = false;
    if (waitSeconds > 0) {
        DcmDataset *report = nullptr;
        Uint16 eventType = 0;
        const OFCondition cond = scu.handleEVENTREPORTRequest(report, eventType, waitSeconds);
        if (cond.good() && report) {
            CommitAnswer a = commitAnswerOf(*report, eventType);
            answered = a.transactionUid == transactionUid;
            if (answered && answer)
                *answer = a;
        }
        delete report;
    }
    if (scu.isConnected())
        scu.releaseAssociation();
    return answered;
}

} // namespace orv::dicom
