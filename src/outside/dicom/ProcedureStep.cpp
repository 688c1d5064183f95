#include "ProcedureStep.h"

#include "DicomFile.h"
#include "ScuAssociation.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <QFile>

namespace orv::dicom {

int ProcedureStepScu::create(const QString &stepUid, const DataSet &attributes) { return request(true, stepUid, attributes); }

int ProcedureStepScu::set(const QString &stepUid, const DataSet &changes) { return request(false, stepUid, changes); }

int ProcedureStepScu::request(bool create, const QString &stepUid, const DataSet &attributes)
{
    const OFString cls = latin(kProcedureStepClass);
    const OFString uid = latin(stepUid);
    Scu scu(m_peer);
    const T_ASC_PresentationContextID pc = scu.connectFor(cls, QStringLiteral("%1 does not take performed procedure steps."));
    T_DIMSE_Message msg{};
    const QString what = create ? QStringLiteral("Creating the performed procedure step") : QStringLiteral("Updating the performed procedure step");
    if (create) {
        msg.CommandField = DIMSE_N_CREATE_RQ;
        auto &rq = msg.msg.NCreateRQ;
        rq.MessageID = scu.nextId();
        OFStandard::strlcpy(rq.AffectedSOPClassUID, cls.c_str(), sizeof rq.AffectedSOPClassUID);
        OFStandard::strlcpy(rq.AffectedSOPInstanceUID, uid.c_str(), sizeof rq.AffectedSOPInstanceUID);
        rq.DataSetType = DIMSE_DATASET_PRESENT;
        rq.opts = O_NCREATE_AFFECTEDSOPINSTANCEUID;
    } else {
        msg.CommandField = DIMSE_N_SET_RQ;
        auto &rq = msg.msg.NSetRQ;
        rq.MessageID = scu.nextId();
        OFStandard::strlcpy(rq.RequestedSOPClassUID, cls.c_str(), sizeof rq.RequestedSOPClassUID);
        OFStandard::strlcpy(rq.RequestedSOPInstanceUID, uid.c_str(), sizeof rq.RequestedSOPInstanceUID);
        rq.DataSetType = DIMSE_DATASET_PRESENT;
    }
    DcmDataset data;
    static_cast<DcmItem &>(data) = *attributes.item();
    const T_DIMSE_Message rsp = scu.request(pc, msg, &data, nullptr, what);
    const Uint16 status = create ? rsp.msg.NCreateRSP.DimseStatus : rsp.msg.NSetRSP.DimseStatus;
    if (scu.isConnected())
        scu.releaseAssociation();
    return status;
}

namespace {

bool isNonImage(const QString &sopClass)
{
    // Encapsulated documents, structured reports, presentation states and raw data.
    for (const char *prefix : {"1.2.840.10008.5.1.4.1.1.104.", "1.2.840.10008.5.1.4.1.1.88.", "1.2.840.10008.5.1.4.1.1.11.",
                               "1.2.840.10008.5.1.4.1.1.66"})
        if (sopClass.startsWith(QLatin1String(prefix)))
            return true;
    return false;
}

} // namespace

namespace {

QList<DataSet> none() { return {}; }

} // namespace

DataSet inProgressMessage(const DataSet &exam, const StepStart &start)
{
    DataSet m; // text in UTF-8 whatever the exam's character set
    for (const DcmTagKey &tag : {DCM_PatientName, DCM_PatientID, DCM_PatientBirthDate, DCM_PatientSex})
        m.add(tag, exam.text(tag));
    if (exam.contains(DCM_IssuerOfPatientID.getGroup(), DCM_IssuerOfPatientID.getElement()))
        m.add(DCM_IssuerOfPatientID, exam.text(DCM_IssuerOfPatientID));
    m.add(DCM_ReferencedPatientSequence, QVariant::fromValue(none()));

    DataSet scheduled;
    const QList<DataSet> requests = exam.attribute(DCM_RequestAttributesSequence).items;
    const QString study = exam.text(DCM_StudyInstanceUID);
    scheduled.add(DCM_StudyInstanceUID, study);
    scheduled.add(DCM_ReferencedStudySequence, QVariant::fromValue(none()));
    if (!requests.isEmpty()) {
        const DataSet &r = requests.first();
        scheduled.add(DCM_AccessionNumber, r.text(DCM_AccessionNumber));
        scheduled.add(DCM_RequestedProcedureID, r.text(DCM_RequestedProcedureID));
        scheduled.add(DCM_RequestedProcedureDescription, r.text(DCM_RequestedProcedureDescription));
        scheduled.add(DCM_ScheduledProcedureStepID, r.text(DCM_ScheduledProcedureStepID));
    } else {
        scheduled.add(DCM_AccessionNumber, exam.text(DCM_AccessionNumber));
        scheduled.add(DCM_RequestedProcedureID, QString());
        scheduled.add(DCM_RequestedProcedureDescription, QString());
        scheduled.add(DCM_ScheduledProcedureStepID, QString());
    }
    scheduled.add(DCM_ScheduledProcedureStepDescription, QString());
    scheduled.add(DCM_ScheduledProtocolCodeSequence, QVariant::fromValue(none()));
    scheduled.remove(0x0008, 0x0005); // the message's own character set holds for its items
    m.add(DCM_ScheduledStepAttributesSequence, QVariant::fromValue(QList<DataSet>{scheduled}));

    m.add(DCM_PerformedProcedureStepID, start.stepId);
    m.add(DCM_PerformedStationAETitle, start.stationAe);
    m.add(DCM_PerformedStationName, start.stationName);
    m.add(DCM_PerformedLocation, QString());
    m.add(DCM_PerformedProcedureStepStartDate, start.started.toString(QStringLiteral("yyyyMMdd")));
    m.add(DCM_PerformedProcedureStepStartTime, start.started.toString(QStringLiteral("HHmmss")));
    m.add(DCM_PerformedProcedureStepStatus, QStringLiteral("IN PROGRESS"));
    m.add(DCM_PerformedProcedureStepDescription, start.description);
    m.add(DCM_PerformedProcedureTypeDescription, start.description);
    m.add(DCM_ProcedureCodeSequence, QVariant::fromValue(none()));
    m.add(DCM_PerformedProcedureStepEndDate, QString());
    m.add(DCM_PerformedProcedureStepEndTime, QString());
    const QString modality = exam.text(DCM_Modality).trimmed();
    m.add(DCM_Modality, modality.isEmpty() ? QStringLiteral("OT") : modality);
    m.add(DCM_StudyID, exam.text(DCM_StudyID));
    m.add(DCM_PerformedProtocolCodeSequence, QVariant::fromValue(none()));
    m.add(DCM_PerformedSeriesSequence, QVariant::fromValue(none()));
    return m;
}

DataSet finalMessage(bool completed, const QDateTime &ended, const QString &description, const QPair<QString, QString> &reason)
{
    DataSet m;
    m.add(DCM_PerformedProcedureStepEndDate, ended.toString(QStringLiteral("yyyyMMdd")));
    m.add(DCM_PerformedProcedureStepEndTime, ended.toString(QStringLiteral("HHmmss")));
    m.add(DCM_PerformedProcedureStepStatus, completed ? QStringLiteral("COMPLETED") : QStringLiteral("DISCONTINUED"));
    m.add(DCM_PerformedProcedureStepDescription, description);
    if (!completed && !reason.first.isEmpty()) {
        DataSet code;
        code.add(DCM_CodeValue, reason.first);
        code.add(DCM_CodingSchemeDesignator, QStringLiteral("DCM"));
        code.add(DCM_CodeMeaning, reason.second);
        m.add(DCM_PerformedProcedureStepDiscontinuationReasonCodeSequence, QVariant::fromValue(QList<DataSet>{code}));
    }
    return m;
}

void addPerformedSeries(DataSet &changes, const QList<PerformedSeries> &series, const QString &protocolName, const QString &retrieveAe)
{
    QList<DataSet> items;
    for (const PerformedSeries &s : series) {
        DataSet item;
        QList<DataSet> images, others;
        for (const auto &[cls, inst] : s.instances) {
            DataSet ref;
            ref.add(DCM_ReferencedSOPClassUID, cls);
            ref.add(DCM_ReferencedSOPInstanceUID, inst);
            (isNonImage(cls) ? others : images) << ref;
        }
        item.add(DCM_PerformingPhysicianName, QString());
        item.add(DCM_ProtocolName, protocolName.trimmed().isEmpty() ? QStringLiteral("UNSPECIFIED") : protocolName);
        item.add(DCM_OperatorsName, QString());
        item.add(DCM_SeriesInstanceUID, s.seriesUid);
        item.add(DCM_SeriesDescription, s.description);
        item.add(DCM_RetrieveAETitle, retrieveAe);
        item.add(DCM_ReferencedImageSequence, QVariant::fromValue(images));
        item.add(DCM_ReferencedNonImageCompositeSOPInstanceSequence, QVariant::fromValue(others));
        item.remove(0x0008, 0x0005); // the message's own character set holds for its items
        items << item;
    }
    changes.add(DCM_PerformedSeriesSequence, QVariant::fromValue(items));
}

void saveDataSet(const DataSet &dataSet, const QString &path)
{
    initialise();
    DcmFileFormat file;
    static_cast<DcmItem &>(*file.getDataset()) = *dataSet.item();
    const QString part = path + QStringLiteral(".part");
    const OFCondition cond = file.saveFile(OFFilename(QFile::encodeName(part).constData()), EXS_LittleEndianExplicit);
    if (cond.bad() || !QFile::rename(part, path)) {
        QFile::remove(part);
        fail(QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(cond.text())));
    }
}

DataSet loadDataSet(const QString &path) { return dataSetOf(readDicomFile(path)); }

QList<QPair<QString, QString>> discontinuationReasons()
{
    return {
        {QStringLiteral("110513"), QStringLiteral("Discontinued for unspecified reason")},
        {QStringLiteral("110505"), QStringLiteral("Patient refused to continue procedure")},
        {QStringLiteral("110515"), QStringLiteral("Patient condition prevented continuing")},
        {QStringLiteral("110501"), QStringLiteral("Equipment failure")},
        {QStringLiteral("110514"), QStringLiteral("Incorrect worklist entry selected")},
        {QStringLiteral("110502"), QStringLiteral("Incorrect procedure ordered")},
        {QStringLiteral("110500"), QStringLiteral("Doctor canceled procedure")},
        {QStringLiteral("110510"), QStringLiteral("Duplicate order")},
    };
}

} // namespace orv::dicom
