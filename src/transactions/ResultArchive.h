#pragma once

#include "session/OpenTransaction.h"
#include "outside/Connection.h"
#include "outside/dicom/Peer.h"
#include "outside/report/Report.h"

#include <QList>
#include <QString>

namespace orv {

// The key "ReportToArchive" (application VelmorOrvaline, section DICOM): 1 (the default) stores
// the result report in the archive whenever the interpretation is saved; 0 writes and queues
// nothing. Read at the moment of use.
bool reportsToArchive();

// One version of an exam's result report in the archive, as the department database records it.
struct ReportVersion
{
    int number = 0; // the object's Instance Number, from 1
    QString seriesUid;
    int seriesNumber = 0;
    QString instanceUid;
    QString replacesUid; // the version this one replaces; "" for the first
};

// What storing the result report needs, taken when the operator saves the interpretation.
struct ResultArchiveRequest
{
    Report report; // filled as it prints
    TransactionRecord transaction;
    QString companyName;
    QString userId;
    dicom::Peer peer;
    bool commit = false;

    // The open transaction, the logged-in user, the company name and the storage archive of the
    // DICOM settings. Throws orv::Error when the archive's settings cannot be used. GUI thread.
    static ResultArchiveRequest fromState(Report report);
};

// The result report in the archive: an Encapsulated PDF object of the exam's study, stamped with
// the exam's identity as its images are (stampIdentity), with the radiologist as Name of
// Physician(s) Reading Study. Every version of an exam's report lies in one series of its own
// (its number issued like any series of the exam); a later version takes the next Instance
// Number and names the one it replaces in Source Instance Sequence.
namespace ResultArchive {

// Writes the report as a PDF and as the next version's object, records the version and puts the
// object into the send queue for the background sender; returns the version. Nothing is recorded
// or queued when a step fails. Any thread; throws orv::Error with the reason.
ReportVersion queue(const ResultArchiveRequest &request, Connection &db);
// The versions recorded for an exam, oldest first.
QList<ReportVersion> versions(Connection &db, const QString &transNo);
// Runs queue() as a background job of the request's transaction, on a connection of its own;
// a failure is shown in a message that says the interpretation is saved. The background sender
// is woken when it ends.
void start(ResultArchiveRequest request);

} // namespace ResultArchive

} // namespace orv
