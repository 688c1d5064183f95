#include "WorklistScu.h"

#include "AnswerCharacterSet.h"
#include "ScuAssociation.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QElapsedTimer>

namespace orv::dicom {

namespace {

QString modalityOf(const DataSet &answer)
{
    const QString own = answer.text(DCM_Modality);
    if (!own.isEmpty())
        return own;
    const QList<DataSet> steps = answer.attribute(DCM_ScheduledProcedureStepSequence).items;
    return steps.isEmpty() ? QString() : steps.first().text(DCM_Modality);
}

} // namespace

WorklistScu::WorklistScu(const QString &host, int port, const QString &calledAe, const QString &callingAe)
    : m_peer{host, port, callingAe, calledAe, {}}
{}

QList<DataSet> WorklistScu::run(const DataSet &identifier)
{
    QList<DataSet> answers;
    run(identifier, [&](const DataSet &a) { answers << a; });
    return answers;
}

bool WorklistScu::run(const DataSet &identifier, const std::function<void(const DataSet &)> &answer,
                      const std::function<bool()> &cancelled)
{
    const auto stop = [&] { return cancelled && cancelled(); };
    Scu scu(m_peer);
    const T_ASC_PresentationContextID pc = scu.connectFor(UID_FINDModalityWorklistInformationModel,
                                                          QStringLiteral("%1 offers no modality worklist."));
    DcmDataset query;
    for (unsigned long i = 0; i < identifier.item()->card(); ++i)
        query.insert(static_cast<DcmElement *>(identifier.item()->getElement(i)->clone()), OFTrue);

    const QString what = QStringLiteral("The worklist query");
    T_DIMSE_Message msg{};
    msg.CommandField = DIMSE_C_FIND_RQ;
    auto &rq = msg.msg.CFindRQ;
    const Uint16 id = scu.nextId();
    rq.MessageID = id;
    OFStandard::strlcpy(rq.AffectedSOPClassUID, UID_FINDModalityWorklistInformationModel, sizeof rq.AffectedSOPClassUID);
    rq.DataSetType = DIMSE_DATASET_PRESENT;
    rq.Priority = DIMSE_PRIORITY_MEDIUM;
    scu.require(scu.sendDIMSEMessage(pc, &msg, &query), what);

    // Responses are awaited in short turns, so that a cancel is sent while the provider is
    // still searching; the provider is given the network timeout between two responses.
    const int timeout = networkTimeout();
    QElapsedTimer silence;
    silence.start();
    bool cancelSent = false;
    Uint16 status = 0;
    for (;;) {
        if (!cancelSent && stop()) {
            scu.require(scu.sendCANCELRequest(pc), what);
            cancelSent = true;
            silence.restart();
        }
        scu.setDIMSETimeout(1);
        T_DIMSE_Message rsp;
        T_ASC_PresentationContextID rpc = 0;
        DcmDataset *detail = nullptr;
        const OFCondition cond = scu.receiveDIMSECommand(&rpc, &rsp, &detail);
        delete detail;
        scu.setDIMSETimeout(Uint32(timeout));
        if (cond == DIMSE_NODATAAVAILABLE) {
            scu.requireNoFault();
            if (silence.elapsed() < qint64(timeout) * 1000)
                continue;
            scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
            if (cancelSent)
                return false;
            fail(QStringLiteral("%1 did not answer the worklist query within %2 seconds.").arg(scu.where()).arg(timeout));
        }
        // A provider may end a cancelled query by aborting the association: the query is over.
        if (cancelSent && cond.bad()) {
            scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
            return false;
        }
        scu.require(cond, what);
        if (rsp.CommandField != DIMSE_C_FIND_RSP || rsp.msg.CFindRSP.MessageIDBeingRespondedTo != id)
            scu.require(makeOFCondition(OFM_dcmnet, DIMSEC_UNEXPECTEDRESPONSE, OF_error, "Unexpected response"), what);
        silence.restart();
        status = rsp.msg.CFindRSP.DimseStatus;
        const bool pending = status == STATUS_Pending || status == STATUS_FIND_Pending_WarningUnsupportedOptionalKeys;
        if (rsp.msg.CFindRSP.DataSetType != DIMSE_DATASET_NULL) {
            DcmDataset *ds = nullptr;
            const OFCondition received = scu.receiveDIMSEDataset(&rpc, &ds);
            std::unique_ptr<DcmDataset> owned(ds);
            if (cancelSent && received.bad()) {
                scu.closeAssociation(DCMSCU_ABORT_ASSOCIATION);
                return false;
            }
            scu.require(received, what);
            if (pending && !cancelSent && owned) {
                convertAnswerToUtf8(owned.get()); // answers are handed on as UTF-8 whatever the provider used
                auto item = std::shared_ptr<DcmItem>(new DcmItem(*owned));
                DcmItem *raw = item.get();
                answer(DataSet(std::move(item), raw));
            }
        }
        if (!pending)
            break;
    }
    scu.releaseAssociation();
    if (cancelSent)
        return false;
    if (status != STATUS_Success)
        requireStatus(status, what, scu.where());
    return true;
}

DataSet WorklistScu::standardIdentifier(const QString &patientName, const QString &patientId, const QString &studyDate,
                                       const QString &modality, const QString &accession, const QString &branch)
{
    DataSet id;
    id.setMatchingKeys(true);
    // Providers that convert answer in UTF-8 (the others answer in the set they name).
    id.add(DCM_SpecificCharacterSet, QStringLiteral("ISO_IR 192"));
    id.add(DCM_PatientName, patientName + QLatin1Char('*'));
    id.add(DCM_StudyDate, studyDate);
    id.add(DCM_AccessionNumber, accession);
    id.add(DCM_InstitutionName, branch);
    id.add(DCM_Modality, modality);
    id.add(DCM_PatientSex, QString());
    id.add(DCM_ReferringPhysicianName, QString());
    id.add(DCM_RequestedProcedureID, QString());
    id.add(DCM_RequestedProcedureDescription, QString());
    id.add(DCM_PatientID, patientId);
    id.add(DCM_PatientBirthDate, QString());
    id.add(DCM_StudyInstanceUID, QString());
    DataSet step;
    step.setMatchingKeys(true);
    step.add(DCM_ScheduledProcedureStepStartDate, studyDate);
    step.add(DCM_ScheduledProcedureStepStartTime, QString());
    // Return keys beyond the grid: where most providers keep the modality, and the identity a
    // new transaction takes from its entry.
    step.add(DCM_Modality, QString());
    step.add(DCM_ScheduledProcedureStepID, QString());
    id.add(DCM_ScheduledProcedureStepSequence, QVariant::fromValue(QList<DataSet>{step}));
    return id;
}

QStringList WorklistScu::gridRow(const DataSet &answer)
{
    return {answer.text(DCM_AccessionNumber), answer.text(DCM_PatientID), answer.text(DCM_PatientName),
            answer.patientSex(),         answer.text(DCM_PatientBirthDate), answer.text(DCM_ReferringPhysicianName),
            modalityOf(answer),        answer.text(DCM_RequestedProcedureID), answer.text(DCM_RequestedProcedureDescription),
            answer.text(DCM_StudyDate), QString(),                   QString()};
}

} // namespace orv::dicom
