#pragma once

#include "DataSet.h"
#include "Peer.h"

#include <QList>
#include <QStringList>

#include <functional>

namespace orv::dicom {

// Modality Worklist SCU (C-FIND on the worklist information model).
class WorklistScu
{
public:
    WorklistScu(const QString &host, int port, const QString &calledAe, const QString &callingAe = QStringLiteral("VELMOR"));
    explicit WorklistScu(const Peer &peer) : m_peer(peer) {}
    // Runs the query and returns the answer data sets in the order received. Throws Error when
    // the association fails or the provider ends the query with a failure status.
    QList<DataSet> run(const DataSet &identifier);
    // Runs the query and hands each answer to `answer` as it arrives, on the calling thread, text
    // in UTF-8 whatever character set the provider used. `cancelled` is asked while waiting and
    // after each answer: once it says true a C-CANCEL is sent, later answers are dropped, and the
    // association is released when the provider has ended the query (aborted when it does not
    // within the network timeout). Returns false when the query was cancelled. Throws Error as
    // run() does, and when the provider stays silent for the network timeout; answers handed on
    // before the failure stay handed on.
    bool run(const DataSet &identifier, const std::function<void(const DataSet &)> &answer,
             const std::function<bool()> &cancelled = {});

    // The identifier of the workstation's worklist query, in UTF-8: patient name followed by "*", study
    // date, accession number, institution (branch code), modality, patient ID as matching keys,
    // the return keys (with the Study Instance UID), and one Scheduled Procedure Step item with
    // the start date, and the step's modality and ID as return keys.
    static DataSet standardIdentifier(const QString &patientName, const QString &patientId, const QString &studyDate,
                                      const QString &modality, const QString &accession, const QString &branch);
    // The twelve cells of the worklist grid for one answer: accession, patient ID, name, sex,
    // birth date, referring physician, modality, requested procedure ID and description,
    // study date, remarks (empty), and an empty hidden cell. Values as the provider sent them;
    // the modality is the answer's own, else that of its first Scheduled Procedure Step (where
    // providers usually put it).
    static QStringList gridRow(const DataSet &answer);

private:
    Peer m_peer;
};

} // namespace orv::dicom
