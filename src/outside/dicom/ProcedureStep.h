#pragma once

#include "DataSet.h"
#include "Peer.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace orv::dicom {

// Modality Performed Procedure Step SOP Class.
inline const QString kProcedureStepClass = QStringLiteral("1.2.840.10008.3.1.2.3.3");

// Modality Performed Procedure Step SCU: one association per message.
class ProcedureStepScu
{
public:
    explicit ProcedureStepScu(const Peer &peer) : m_peer(peer) {}
    // N-CREATE of the step `stepUid` with `attributes`, and N-SET of its `changes`. Return the
    // DIMSE status of the answer. Throw Error when the association cannot be made, the peer takes
    // no performed procedure steps, or its answer does not come within the network timeout.
    int create(const QString &stepUid, const DataSet &attributes);
    int set(const QString &stepUid, const DataSet &changes);

private:
    int request(bool create, const QString &stepUid, const DataSet &attributes);
    Peer m_peer;
};

// How a step starts: who performs it where, and when.
struct StepStart
{
    QString stepId;      // Performed Procedure Step ID
    QString stationAe;   // the workstation's AE title
    QString stationName; // the workstation's name
    QString description; // the procedure performed (also the protocol its series name)
    QDateTime started;
};

// The N-CREATE attributes of a step IN PROGRESS for the exam whose objects carry `exam`'s patient
// and study attributes (Patient's Name, Patient ID, Issuer of Patient ID, birth date and sex,
// Study Instance UID, Accession Number, Study ID, Modality). When `exam` holds a Request
// Attributes Sequence item the step names that scheduled step; otherwise it is unscheduled: one
// Scheduled Step Attributes item with the study and accession number only.
DataSet inProgressMessage(const DataSet &exam, const StepStart &start);
// The N-SET attributes that end a step: COMPLETED, or DISCONTINUED with `reason` (a DCM code
// and its meaning; none when empty). The Performed Series Sequence is added when it is sent.
DataSet finalMessage(bool completed, const QDateTime &ended, const QString &description, const QPair<QString, QString> &reason = {});

// One series of a step as the Performed Series Sequence lists it.
struct PerformedSeries
{
    QString seriesUid;
    QString description;
    QList<QPair<QString, QString>> instances; // SOP class, SOP instance
};

// Writes the Performed Series Sequence of a step's final N-SET: one item per series with its
// protocol name, description, the archive's AE title to retrieve from, and its objects in the
// Referenced Image Sequence or, for documents, structured reports and presentation states, the
// Referenced Non-Image Composite SOP Instance Sequence.
void addPerformedSeries(DataSet &changes, const QList<PerformedSeries> &series, const QString &protocolName,
                        const QString &retrieveAe);

// A step message waiting in the send queue is kept as a data set file: written whole under its
// name (or not at all), read back when it is sent. Throw Error naming the file.
void saveDataSet(const DataSet &dataSet, const QString &path);
DataSet loadDataSet(const QString &path);

// The discontinuation reasons an operator can give (DCM codes 110500 to 110516): code, meaning.
QList<QPair<QString, QString>> discontinuationReasons();

} // namespace orv::dicom
