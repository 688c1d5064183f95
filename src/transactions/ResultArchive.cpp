#include "ResultArchive.h"

#include "TransactionStore.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "sendqueue/QueuedSend.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/SharedState.h"
#include "imagestore/IdentityStamp.h"
#include "outside/Error.h"
#include "outside/Prompter.h"
#include "outside/SettingsStore.h"
#include "outside/dicom/EncapsulatedDocument.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Toolkit.h"

#include <QDateTime>
#include <QFile>

namespace orv {

bool reportsToArchive()
{
    return SettingsStore::intOf(settings().read(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("ReportToArchive"),
                                                QStringLiteral("1")))
           != 0;
}

ResultArchiveRequest ResultArchiveRequest::fromState(Report report)
{
    const SharedState &st = state();
    return {std::move(report), openTransaction().record(), st.CompanyName, st.CurrentUser.UserID(), dicomNodes().storagePeer(),
            dicomNodes().storageCommitment()};
}

namespace ResultArchive {

namespace {

// The report as PDF bytes, written through a file of its own beside the object's copy.
QByteArray pdfOf(const Report &report, const QString &path)
{
    struct Remove
    {
        QString path;
        ~Remove() { QFile::remove(path); }
    } remove{path};
    report.writePdf(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(path, f.errorString()));
    return f.readAll();
}

} // namespace

QList<ReportVersion> versions(Connection &db, const QString &transNo)
{
    RecordSet rs = db.query(QStringLiteral("SELECT version, series_uid, series_num, sop_instance_uid, replaces_uid FROM "
                                           "pacs..tblReportVersion WHERE trans_no=? ORDER BY version"),
                            {transNo});
    QList<ReportVersion> out;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        out.append({rs.value(QStringLiteral("version")).toInt(), rs.text(QStringLiteral("series_uid")),
                    rs.value(QStringLiteral("series_num")).toInt(), rs.text(QStringLiteral("sop_instance_uid")),
                    rs.text(QStringLiteral("replaces_uid"))});
    return out;
}

ReportVersion queue(const ResultArchiveRequest &request, Connection &db)
{
    const TransactionRecord &exam = request.transaction;
    const QList<ReportVersion> before = versions(db, exam.transNo);
    ReportVersion version;
    if (before.isEmpty()) {
        version.number = 1;
        version.seriesUid = dicom::newUid();
        // A series of the exam like any other, so that no number repeats in it.
        version.seriesNumber = TransactionStore::issueSeriesNumber(db, exam.transNo, exam.seriesNumber + 1);
    } else {
        version = before.last();
        version.replacesUid = version.instanceUid;
        ++version.number;
    }

    const QString copy = SendQueue::newCopyPath();
    const QByteArray pdf = pdfOf(request.report, copy + QStringLiteral(".pdf"));
    TransactionRecord stamped = exam;
    stamped.seriesUid = version.seriesUid;
    stamped.seriesNumber = version.seriesNumber;
    dicom::Image object;
    stampIdentity(object, stamped, version.number, request.companyName);
    const QString title = request.report.title().isEmpty() ? QStringLiteral("Result Report") : request.report.title();
    dicom::writeEncapsulatedPdf(object, {pdf, title, dicomPersonNameFromShown(exam.radName), version.replacesUid, {}}, copy);
    version.instanceUid = object.instanceUid();

    // Recorded before it is queued: a version queued is never numbered again. Two workstations
    // saving the same exam's report at once cannot both record one number.
    try {
        db.execute(QStringLiteral("INSERT INTO pacs..tblReportVersion (trans_no, version, series_uid, series_num, sop_instance_uid, "
                                  "replaces_uid, radiologist_id, saved_by, saved_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                   {exam.transNo, version.number, version.seriesUid, version.seriesNumber, version.instanceUid,
                    version.replacesUid.isEmpty() ? QVariant() : QVariant(version.replacesUid), exam.radId, request.userId,
                    SendQueue::now()});
    } catch (...) {
        QFile::remove(copy);
        throw;
    }
    QueueEntry entry = SendQueue::entryFor(copy, dicom::StoreAssociation::identify(copy));
    entry.sourcePath = QStringLiteral("Result report version %1").arg(version.number);
    entry.label = entry.sourcePath;
    QueuedSend send(exam.transNo, request.commit);
    send.add(entry, request.peer);
    try {
        send.queue(db);
    } catch (...) {
        db.execute(QStringLiteral("DELETE FROM pacs..tblReportVersion WHERE trans_no=? AND version=?"), {exam.transNo, version.number});
        throw;
    }
    return version;
}

void start(ResultArchiveRequest request)
{
    const QString transNo = request.transaction.transNo;
    // One after the other, so that versions are numbered in the order saved.
    SendQueueRunner::queueInBackground(
        transNo, QStringLiteral("result report"), [request = std::move(request)](Connection &db) { queue(request, db); },
        [](const QString &failure) {
            if (!failure.isEmpty())
                msgBox(nullptr, QStringLiteral("The interpretation is saved, but its report cannot be stored in the archive: ") + failure,
                       Prompter::Icon::Critical);
        });
}

} // namespace ResultArchive

} // namespace orv
