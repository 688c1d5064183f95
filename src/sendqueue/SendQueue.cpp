#include "SendQueue.h"

#include "outside/PrivateFiles.h"

#include "core/Audit.h"
#include "core/CoreRoutines.h"
#include "core/Database.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/dicom/Toolkit.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <atomic>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace orv {

namespace {

const QString kColumns = QStringLiteral(
    "queue_id, send_id, trans_no, file_path, source_path, label, dest_host, dest_port, dest_calling_ae, dest_called_ae, "
    "commit_wanted, stop_on_failure, sop_class_uid, sop_instance_uid, transfer_syntax, workstation, state, attempts, "
    "next_attempt, last_status, commit_uid, commit_asked, queued_at, updated_at, service, series_uid");

QList<QueueEntry> readEntries(RecordSet rs)
{
    QList<QueueEntry> out;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        QueueEntry e;
        e.id = rs.text(QStringLiteral("queue_id")).toLongLong();
        e.sendId = rs.text(QStringLiteral("send_id"));
        e.transNo = rs.text(QStringLiteral("trans_no"));
        e.filePath = rs.text(QStringLiteral("file_path"));
        e.sourcePath = rs.text(QStringLiteral("source_path"));
        e.label = rs.text(QStringLiteral("label"));
        e.peer = {rs.text(QStringLiteral("dest_host")), rs.text(QStringLiteral("dest_port")).toInt(),
                  rs.text(QStringLiteral("dest_calling_ae")), rs.text(QStringLiteral("dest_called_ae"))};
        e.commit = rs.text(QStringLiteral("commit_wanted")).toInt() != 0;
        e.stopOnFailure = rs.text(QStringLiteral("stop_on_failure")).toInt() != 0;
        e.service = rs.text(QStringLiteral("service"));
        e.seriesUid = rs.text(QStringLiteral("series_uid"));
        e.sopClass = rs.text(QStringLiteral("sop_class_uid"));
        e.sopInstance = rs.text(QStringLiteral("sop_instance_uid"));
        e.transferSyntax = rs.text(QStringLiteral("transfer_syntax"));
        e.workstation = rs.text(QStringLiteral("workstation"));
        e.state = rs.text(QStringLiteral("state"));
        e.attempts = rs.text(QStringLiteral("attempts")).toInt();
        e.nextAttempt = rs.text(QStringLiteral("next_attempt")).toLongLong();
        e.lastStatus = rs.text(QStringLiteral("last_status"));
        e.commitUid = rs.text(QStringLiteral("commit_uid"));
        e.commitAsked = rs.text(QStringLiteral("commit_asked")).toLongLong();
        e.queuedAt = rs.text(QStringLiteral("queued_at")).toLongLong();
        e.updatedAt = rs.text(QStringLiteral("updated_at")).toLongLong();
        out << e;
    }
    return out;
}

QString hex(int status) { return QStringLiteral("0x%1").arg(status, 4, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x")); }

bool isWarning(int status)
{
    return status == 0x0001 || status == 0x0107 || status == 0x0116 || (status & 0xF000) == 0xB000;
}

// 0xA7xx: the archive is out of resources now; it may take the object later.
bool isTemporary(int status) { return (status & 0xFF00) == 0xA700; }

QString statusMeaning(int status)
{
    if (isTemporary(status))
        return QStringLiteral("out of resources");
    if ((status & 0xFF00) == 0xA900)
        return QStringLiteral("data set does not match SOP class");
    if ((status & 0xF000) == 0xC000)
        return QStringLiteral("cannot understand");
    if (status == 0x0122)
        return QStringLiteral("SOP class not supported");
    if (status == 0xB000)
        return QStringLiteral("coercion of data elements");
    if (status == 0xB007)
        return QStringLiteral("data set does not match SOP class");
    if (status == 0xB006)
        return QStringLiteral("elements discarded");
    return QStringLiteral("refused");
}

QString ownerToken()
{
    return QStringLiteral("%1:%2:%3")
        .arg(SendQueue::workstation().left(40))
        .arg(QCoreApplication::applicationPid())
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

std::atomic<int> g_claims{0};

// Of the entries of the table named q: a step message waits while an entry of its transaction
// queued before it by this workstation is still queued.
const QString kNotWaiting = QStringLiteral(" AND (service = '' OR NOT EXISTS (SELECT 1 FROM pacs..tblSendQueue p WHERE "
                                           "p.workstation = q.workstation AND p.trans_no = q.trans_no AND p.state = 'queued' "
                                           "AND p.queue_id < q.queue_id))");

} // namespace

QString storeStatusLine(const QString &path, int status)
{
    const QString h = QStringLiteral("0x") + QStringLiteral("%1").arg(status, 4, 16, QLatin1Char('0')).toUpper();
    return isWarning(status) ? QStringLiteral("Store status %1 (warning) for %2").arg(h, path)
                             : QStringLiteral("Store status %1 for %2").arg(h, path);
}

QString commitFailureText(int reason)
{
    switch (reason) {
    case 0x0110: return QStringLiteral("processing failure (0x0110)");
    case 0x0112: return QStringLiteral("no such object instance (0x0112)");
    case 0x0213: return QStringLiteral("resource limitation (0x0213)");
    case 0x0122: return QStringLiteral("referenced SOP class not supported (0x0122)");
    case 0x0119: return QStringLiteral("class-instance conflict (0x0119)");
    case 0x0131: return QStringLiteral("duplicate transaction UID (0x0131)");
    default: return QStringLiteral("failure reason %1").arg(hex(reason));
    }
}

QueueTimings QueueTimings::current()
{
    QueueTimings t;
    const SettingsStore &s = settings();
    auto number = [&](const char *key, int fallback) {
        bool ok = false;
        const int n = s.read(apps::VelmorOrvaline, QStringLiteral("DICOM"), QLatin1String(key), QString::number(fallback)).toInt(&ok);
        return ok && n > 0 ? n : fallback;
    };
    t.leaseSeconds = number("SendQueueLease", t.leaseSeconds);
    t.retrySeconds = number("SendQueueRetry", t.retrySeconds);
    t.maxRetrySeconds = std::max(t.retrySeconds, number("SendQueueMaxRetry", t.maxRetrySeconds));
    t.commitTimeoutSeconds = number("CommitmentTimeout", t.commitTimeoutSeconds);
    return t;
}

SendQueue::SendQueue(Connection &db) : m_db(db), m_owner(ownerToken()), m_timings(QueueTimings::current()) {}

QString SendQueue::folder() { return QDir(perUserDataFolder()).filePath(QStringLiteral("sendqueue")); }

QString SendQueue::workstation()
{
    const QString forced = qEnvironmentVariable("ORVALINE_WORKSTATION");
    return forced.isEmpty() ? ComputerName() : forced;
}

qint64 SendQueue::now() { return QDateTime::currentMSecsSinceEpoch(); }

QString SendQueue::newCopyPath()
{
    makePrivateFolder(folder()); // copies of patient images
    return QDir(folder()).filePath(dicom::newUid() + QStringLiteral(".dcm"));
}

QueueEntry SendQueue::stageCopy(const QString &source)
{
    const dicom::StoreAssociation::Identity id = dicom::StoreAssociation::identify(source);
    const QString copy = newCopyPath();
    const QString part = copy + QStringLiteral(".part");
    QFile::remove(part);
    bool linked = false;
#ifdef Q_OS_UNIX
    // On the same file system a second name for the file is the copy: the workstation never
    // changes a DICOM file in place (it writes a new one and renames it), and removing the
    // original leaves this name whole.
    linked = ::link(QFile::encodeName(source).constData(), QFile::encodeName(copy).constData()) == 0;
#endif
    if (!linked && (!QFile::copy(source, part) || !QFile::rename(part, copy))) {
        QFile::remove(part);
        throw Error(QStringLiteral("Cannot copy %1 into the send queue folder %2.").arg(source, QDir::toNativeSeparators(folder())));
    }
    QueueEntry e = entryFor(copy, id);
    e.sourcePath = source;
    return e;
}

QueueEntry SendQueue::entryFor(const QString &copy, const dicom::StoreAssociation::Identity &id)
{
    QueueEntry e;
    e.filePath = copy;
    e.sopClass = id.sopClass;
    e.sopInstance = id.sopInstance;
    e.transferSyntax = id.transferSyntax;
    e.seriesUid = id.seriesUid;
    return e;
}

QList<QueueEntry> SendQueue::add(QList<QueueEntry> entries, bool claim)
{
    if (entries.isEmpty())
        return entries;
    const qint64 t = now();
    const QString token = m_owner + QLatin1Char(':') + QString::number(++g_claims);
    const QString ws = workstation();
    // A null text would be bound as NULL: the columns hold "" for "none".
    const auto text = [](const QString &v) { return v.isNull() ? QStringLiteral("") : v; };
    try {
        m_db.runInTransaction([&] {
            for (QueueEntry &e : entries) {
                e.workstation = ws;
                e.state = QueueState::Queued;
                e.queuedAt = e.updatedAt = t;
                m_db.execute(QStringLiteral("INSERT INTO pacs..tblSendQueue (send_id, trans_no, file_path, source_path, label, dest_host, "
                                            "dest_port, dest_calling_ae, dest_called_ae, commit_wanted, stop_on_failure, sop_class_uid, "
                                            "sop_instance_uid, transfer_syntax, workstation, state, attempts, next_attempt, claimed_by, "
                                            "claim_until, queued_at, updated_at, service, series_uid) "
                                            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?, ?, ?, ?, ?, ?, ?)"),
                             {text(e.sendId), text(e.transNo), e.filePath, text(e.sourcePath), text(e.label), e.peer.host, e.peer.port,
                              text(e.peer.callingAe), text(e.peer.calledAe), e.commit ? 1 : 0, e.stopOnFailure ? 1 : 0, e.sopClass,
                              e.sopInstance, e.transferSyntax,
                              ws, QueueState::Queued, e.nextAttempt, claim ? QVariant(token) : QVariant(QString()),
                              claim ? t + qint64(m_timings.leaseSeconds) * 1000 : 0, t, t, text(e.service), text(e.seriesUid)});
            }
        });
    } catch (...) {
        for (const QueueEntry &e : entries)
            QFile::remove(e.filePath);
        throw;
    }
    QHash<QString, qint64> ids; // by copy, unique to an entry
    QSet<QString> sends;
    for (const QueueEntry &e : entries)
        sends.insert(e.sendId);
    for (const QString &send : std::as_const(sends)) {
        RecordSet rs = m_db.query(QStringLiteral("SELECT queue_id, file_path FROM pacs..tblSendQueue WHERE send_id = ?"), {text(send)});
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            ids.insert(rs.text(QStringLiteral("file_path")), rs.text(QStringLiteral("queue_id")).toLongLong());
    }
    for (QueueEntry &e : entries)
        e.id = ids.value(e.filePath);
    if (claim)
        m_token = token;
    return entries;
}

QList<QueueEntry> SendQueue::claimDue()
{
    const qint64 t = now();
    const QString ws = workstation();
    const QString due = QStringLiteral("workstation = ? AND state = 'queued' AND next_attempt <= ? AND "
                                       "(claimed_by IS NULL OR claimed_by = '' OR claim_until < ?)");
    RecordSet first = m_db.query(QStringLiteral("SELECT TOP 1 queue_id, service, trans_no, dest_host, dest_port, dest_calling_ae, dest_called_ae "
                                                "FROM pacs..tblSendQueue q WHERE ") + due + kNotWaiting + QStringLiteral(" ORDER BY queue_id"),
                                 {ws, t, t});
    if (first.isEmpty())
        return {};
    const QString token = m_owner + QLatin1Char(':') + QString::number(++g_claims);
    if (!first.text(QStringLiteral("service")).isEmpty())
        m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET claimed_by = ?, claim_until = ? WHERE ") + due + QStringLiteral(" AND queue_id = ?"),
                     {token, t + qint64(m_timings.leaseSeconds) * 1000, ws, t, t, first.text(QStringLiteral("queue_id")).toLongLong()});
    else
        m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET claimed_by = ?, claim_until = ? WHERE ") + due
                         + QStringLiteral(" AND service = '' AND trans_no = ? AND dest_host = ? AND dest_port = ? AND dest_calling_ae = ? "
                                          "AND dest_called_ae = ?"),
                     {token, t + qint64(m_timings.leaseSeconds) * 1000, ws, t, t, first.text(QStringLiteral("trans_no")),
                      first.text(QStringLiteral("dest_host")), first.text(QStringLiteral("dest_port")).toInt(),
                      first.text(QStringLiteral("dest_calling_ae")), first.text(QStringLiteral("dest_called_ae"))});
    m_token = token;
    return readEntries(m_db.query(QStringLiteral("SELECT ") + kColumns
                                      + QStringLiteral(" FROM pacs..tblSendQueue WHERE claimed_by = ? AND state = 'queued' ORDER BY queue_id"),
                                  {token}));
}

qint64 SendQueue::nextDue()
{
    RecordSet rs = m_db.query(QStringLiteral("SELECT min(next_attempt) AS due, count(*) AS n FROM pacs..tblSendQueue q "
                                             "WHERE workstation = ? AND state = 'queued'") + kNotWaiting,
                              {workstation()});
    if (rs.isEmpty() || rs.text(QStringLiteral("n")).toInt() == 0)
        return 0;
    return std::max<qint64>(1, rs.text(QStringLiteral("due")).toLongLong());
}

void SendQueue::renewClaims(const QString &token)
{
    m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET claim_until = ? WHERE claimed_by = ?"),
                 {now() + qint64(m_timings.leaseSeconds) * 1000, token});
}

DeliveryOutcome SendQueue::deliver(const QList<QueueEntry> &claimed, const DeliveryHooks &hooks)
{
    DeliveryOutcome outcome;
    if (claimed.isEmpty())
        return outcome;
    if (!claimed.first().service.isEmpty())
        return deliverStep(claimed.first(), hooks);
    const QString token = m_token;
    const auto log = [&](const QString &line) {
        if (hooks.log)
            hooks.log(line);
    };

    // Answers are recorded in groups (one database transaction each) rather than one by one.
    struct Pending
    {
        QString sql;
        QVariantList params;
    };
    QList<Pending> pending;
    QStringList copiesDone; // copies no longer needed once their answer is recorded
    QElapsedTimer sinceFlush, sinceRenew;
    sinceFlush.start();
    sinceRenew.start();
    const auto flush = [&] {
        if (pending.isEmpty())
            return;
        m_db.runInTransaction([&] {
            for (const Pending &p : pending)
                m_db.execute(p.sql, p.params);
        });
        pending.clear();
        for (const QString &f : copiesDone)
            QFile::remove(f);
        copiesDone.clear();
        sinceFlush.restart();
    };
    const auto record = [&](const QueueEntry &e, const QString &state, const QString &status, bool backOff) {
        const qint64 t = now();
        if (backOff) {
            const int attempts = e.attempts + 1;
            pending.append({QStringLiteral("UPDATE pacs..tblSendQueue SET state = 'queued', attempts = ?, next_attempt = ?, last_status = ?, "
                                           "claimed_by = NULL, claim_until = 0, updated_at = ? WHERE queue_id = ?"),
                            {attempts, t + retryDelay(attempts), status, t, e.id}});
            return;
        }
        pending.append({QStringLiteral("UPDATE pacs..tblSendQueue SET state = ?, attempts = attempts + 1, last_status = ?, "
                                       "claimed_by = NULL, claim_until = 0, updated_at = ? WHERE queue_id = ?"),
                        {state, status, t, e.id}});
        if (state == QueueState::Sent && !e.commit)
            copiesDone << e.filePath;
    };
    const auto releaseFrom = [&](qsizetype i) {
        for (; i < claimed.size(); ++i)
            pending.append({QStringLiteral("UPDATE pacs..tblSendQueue SET claimed_by = NULL, claim_until = 0 WHERE queue_id = ? AND claimed_by = ?"),
                            {claimed[i].id, token}});
    };

    QList<dicom::StoreAssociation::Context> contexts;
    for (const QueueEntry &e : claimed)
        contexts.append({e.sopClass, e.transferSyntax});
    dicom::StoreAssociation association(claimed.first().peer);
    bool opened = false;
    // Opened when the first entry is about to be sent (after its `sending` report).
    const auto open = [&](qsizetype from) {
        try {
            association.open(contexts);
            opened = true;
            return true;
        } catch (const std::exception &e) {
            outcome.failure = describe(e);
            for (qsizetype k = from; k < claimed.size(); ++k)
                record(claimed[k], QueueState::Queued, outcome.failure, true);
            outcome.retrying += int(claimed.size() - from);
            flush();
            return false;
        }
    };

    QSet<QString> stoppedSends; // sends ended by a refusal
    // For the audit trail, by transaction: the SOP classes of what the archive took, and how many
    // it did not.
    QMap<QString, QStringList> transferred;
    QMap<QString, int> notTransferred;
    qsizetype i = 0;
    try {
        for (; i < claimed.size(); ++i) {
            const QueueEntry &e = claimed[i];
            if (hooks.stopped && hooks.stopped()) {
                outcome.failure = QStringLiteral("The send was stopped.");
                break;
            }
            if (stoppedSends.contains(e.sendId)) {
                record(e, QueueState::Failed, QStringLiteral("Not sent: an earlier image of this send was refused."), false);
                ++outcome.notStored;
                continue;
            }
            if (hooks.sending)
                hooks.sending(e);
            if (!opened && !open(i))
                return outcome;
            if (sinceRenew.elapsed() > qint64(m_timings.leaseSeconds) * 250) {
                flush();
                renewClaims(token);
                sinceRenew.restart();
            }
            int status = 0;
            try {
                status = association.send(e.filePath, e.sopClass, e.transferSyntax);
            } catch (const Error &err) {
                if (err.code() == 0x0122) {
                    log(QStringLiteral("Store refused for %1: %2").arg(e.sourcePath, err.description()));
                    ++notTransferred[e.transNo];
                    record(e, QueueState::Failed, err.description(), false);
                    ++outcome.notStored;
                    if (hooks.answered)
                        hooks.answered(e, 0x0122);
                    if (e.stopOnFailure)
                        stoppedSends.insert(e.sendId);
                    continue;
                }
                if (association.isOpen() || !QFileInfo(e.filePath).isFile()) {
                    // The copy cannot be read: nothing another attempt could mend.
                    log(QStringLiteral("Cant read/access ") + e.sourcePath);
                    record(e, QueueState::Failed, err.description(), false);
                    ++outcome.notStored;
                    if (!association.isOpen())
                        throw;
                    continue;
                }
                throw;
            }
            if (hooks.answered)
                hooks.answered(e, status);
            if (status == 0 || isWarning(status))
                transferred[e.transNo] << e.sopClass;
            else
                ++notTransferred[e.transNo];
            if (status == 0) {
                record(e, QueueState::Sent, QStringLiteral("Stored"), false);
                ++outcome.sent;
            } else if (isWarning(status)) {
                log(storeStatusLine(e.sourcePath, status));
                record(e, QueueState::Sent, QStringLiteral("Stored, warning %1 (%2)").arg(hex(status), statusMeaning(status)), false);
                ++outcome.sent;
            } else {
                log(storeStatusLine(e.sourcePath, status));
                const QString text = QStringLiteral("Store status %1 (%2)").arg(hex(status), statusMeaning(status));
                if (isTemporary(status)) {
                    record(e, QueueState::Queued, text, true);
                    ++outcome.retrying;
                } else {
                    record(e, QueueState::Failed, text, false);
                    ++outcome.notStored;
                }
                if (e.stopOnFailure)
                    stoppedSends.insert(e.sendId);
            }
            if (pending.size() >= 64 || sinceFlush.elapsed() > 500)
                flush();
        }
    } catch (const std::exception &err) {
        // The association was lost: the entry being sent is tried again later, the rest at once.
        outcome.failure = describe(err);
        if (i < claimed.size() && QFileInfo(claimed[i].filePath).isFile()) {
            record(claimed[i], QueueState::Queued, outcome.failure, true);
            ++outcome.retrying;
        }
        ++i;
    }
    releaseFrom(i);
    association.close();
    flush();
    auditTransfers(claimed.first().peer, transferred, notTransferred);
    return outcome;
}

qint64 SendQueue::retryDelay(int attempts) const
{
    return std::min<qint64>(qint64(m_timings.maxRetrySeconds) * 1000, qint64(m_timings.retrySeconds) * 1000 << std::min(attempts - 1, 20));
}

DeliveryOutcome SendQueue::deliverStep(const QueueEntry &e, const DeliveryHooks &hooks)
{
    DeliveryOutcome outcome;
    const auto log = [&](const QString &line) {
        if (hooks.log)
            hooks.log(line);
    };
    const auto record = [&](const QString &state, const QString &status) {
        const qint64 t = now();
        const bool again = state == QueueState::Queued;
        m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET state = ?, attempts = ?, next_attempt = ?, last_status = ?, "
                                    "claimed_by = NULL, claim_until = 0, updated_at = ? WHERE queue_id = ?"),
                     {state, e.attempts + 1, again ? t + retryDelay(e.attempts + 1) : e.nextAttempt, status, t, e.id});
        if (state == QueueState::Sent)
            QFile::remove(e.filePath);
    };
    if (hooks.stopped && hooks.stopped()) {
        m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET claimed_by = NULL, claim_until = 0 WHERE queue_id = ?"), {e.id});
        outcome.failure = QStringLiteral("The send was stopped.");
        return outcome;
    }
    if (hooks.sending)
        hooks.sending(e);
    const QString what = QStringLiteral("Procedure step %1 (%2) of %3").arg(e.label, e.service, e.transNo);
    dicom::DataSet message;
    try {
        message = dicom::loadDataSet(e.filePath);
        if (e.service == kStepSet) {
            QString retrieveAe;
            const QList<dicom::PerformedSeries> series = performedSeries(e, &retrieveAe);
            dicom::addPerformedSeries(message, series, message.text(DCM_PerformedProcedureStepDescription), retrieveAe);
        }
    } catch (const std::exception &err) {
        // Nothing another attempt could mend.
        log(QStringLiteral("%1 cannot be sent: %2").arg(what, describe(err)));
        record(QueueState::Failed, describe(err));
        ++outcome.notStored;
        return outcome;
    }
    int status = 0;
    try {
        dicom::ProcedureStepScu scu(e.peer);
        status = e.service == kStepCreate ? scu.create(e.sopInstance, message) : scu.set(e.sopInstance, message);
    } catch (const std::exception &err) {
        outcome.failure = describe(err);
        record(QueueState::Queued, outcome.failure);
        ++outcome.retrying;
        return outcome;
    }
    // A step created by an attempt whose answer was lost exists already (0x0111).
    if (status == 0 || isWarning(status) || (e.service == kStepCreate && status == 0x0111 && e.attempts > 0)) {
        // Shown by the editor and the queue window; the log is for what needs the operator.
        record(QueueState::Sent, status == 0 ? QStringLiteral("Sent") : QStringLiteral("Sent, status %1").arg(hex(status)));
        ++outcome.sent;
    } else {
        const QString text = QStringLiteral("Refused, status %1").arg(hex(status));
        record(QueueState::Failed, text);
        log(QStringLiteral("%1 refused by %2 (status %3).").arg(what, e.peer.calledAe, hex(status)));
        ++outcome.notStored;
    }
    return outcome;
}

QList<dicom::PerformedSeries> SendQueue::performedSeries(const QueueEntry &finalSet, QString *retrieveAe)
{
    RecordSet rs = m_db.query(
        QStringLiteral("SELECT sop_class_uid, sop_instance_uid, series_uid, dest_called_ae FROM pacs..tblSendQueue WHERE trans_no = ? "
                       "AND service = '' AND state IN ('sent', 'committed', 'timed out') AND queue_id < ? AND queue_id > "
                       "(SELECT COALESCE(max(queue_id), 0) FROM pacs..tblSendQueue WHERE trans_no = ? AND service = 'N-SET' "
                       "AND queue_id < ? AND state <> 'failed') ORDER BY queue_id"),
        {finalSet.transNo, finalSet.id, finalSet.transNo, finalSet.id});
    QList<dicom::PerformedSeries> out;
    QHash<QString, qsizetype> bySeries;
    QSet<QString> seen;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        const QString instance = rs.text(QStringLiteral("sop_instance_uid"));
        if (seen.contains(instance))
            continue;
        seen.insert(instance);
        const QString series = rs.text(QStringLiteral("series_uid"));
        if (!bySeries.contains(series)) {
            bySeries.insert(series, out.size());
            out.append({series, QString(), {}});
        }
        out[bySeries.value(series)].instances.append({rs.text(QStringLiteral("sop_class_uid")), instance});
        if (retrieveAe && retrieveAe->isEmpty())
            *retrieveAe = rs.text(QStringLiteral("dest_called_ae"));
    }
    return out;
}

void SendQueue::auditTransfers(const dicom::Peer &peer, const QMap<QString, QStringList> &transferred,
                               const QMap<QString, int> &notTransferred)
{
    QStringList transactions = transferred.keys() + notTransferred.keys();
    transactions.removeDuplicates();
    for (const QString &transNo : transactions) {
        audit::Subject s;
        s.accession = transNo;
        s.sopClasses = transferred.value(transNo);
        try {
            RecordSet rs = m_db.query(QStringLiteral("SELECT hospnum, patient_id, StudyUID FROM pacs..tblTransaction WHERE trans_no = ?"), {transNo});
            if (!rs.isEmpty()) {
                s.patientId = rs.text(QStringLiteral("hospnum")).trimmed();
                if (s.patientId.isEmpty())
                    s.patientId = rs.text(QStringLiteral("patient_id")).trimmed();
                s.studyUid = rs.text(QStringLiteral("StudyUID")).trimmed();
            }
        } catch (const std::exception &) {
            // The transfer is recorded with what is known of it.
        }
        const bool someRefused = notTransferred.value(transNo) > 0;
        const audit::Outcome outcome = !someRefused ? audit::Outcome::Success
                                       : s.sopClasses.isEmpty() ? audit::Outcome::SeriousFailure
                                                                : audit::Outcome::MinorFailure;
        auditTrail().instancesTransferred(peer.host, peer.calledAe, s, outcome);
    }
}

QStringList SendQueue::transactionsAwaitingCommitment()
{
    RecordSet rs = m_db.query(QStringLiteral("SELECT DISTINCT trans_no FROM pacs..tblSendQueue WHERE workstation = ? AND state = 'sent' "
                                             "AND commit_wanted = 1 AND (commit_uid IS NULL OR commit_uid = '')"),
                              {workstation()});
    QStringList out;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        out << rs.text(QStringLiteral("trans_no"));
    return out;
}

int SendQueue::requestCommitment(const QString &transNo)
{
    const QString ws = workstation();
    RecordSet waiting = m_db.query(QStringLiteral("SELECT count(*) AS n FROM pacs..tblSendQueue WHERE workstation = ? AND trans_no = ? "
                                                  "AND state = 'queued' AND commit_wanted = 1"),
                                   {ws, transNo});
    if (waiting.text(QStringLiteral("n")).toInt() > 0)
        return 0;
    const QList<QueueEntry> sent = readEntries(
        m_db.query(QStringLiteral("SELECT ") + kColumns
                       + QStringLiteral(" FROM pacs..tblSendQueue WHERE workstation = ? AND trans_no = ? AND state = 'sent' "
                                        "AND commit_wanted = 1 AND (commit_uid IS NULL OR commit_uid = '') ORDER BY queue_id"),
                   {ws, transNo}));
    // One request per archive.
    QMap<QString, QList<QueueEntry>> byArchive;
    for (const QueueEntry &e : sent)
        byArchive[QStringLiteral("%1|%2|%3|%4").arg(e.peer.host).arg(e.peer.port).arg(e.peer.callingAe, e.peer.calledAe)] << e;
    int asked = 0;
    for (const QList<QueueEntry> &group : std::as_const(byArchive)) {
        const QString uid = dicom::newUid();
        const qint64 t = now();
        m_db.runInTransaction([&] {
            for (const QueueEntry &e : group)
                m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET commit_uid = ?, commit_asked = ?, last_status = ?, updated_at = ? "
                                            "WHERE queue_id = ?"),
                             {uid, t, QStringLiteral("Stored, commitment asked"), t, e.id});
        });
        QList<dicom::CommitItem> items;
        for (const QueueEntry &e : group)
            items.append({e.sopClass, e.sopInstance, 0});
        dicom::CommitAnswer answer;
        bool answered = false;
        try {
            answered = dicom::CommitmentScu(group.first().peer).request(uid, items, m_timings.commitWaitSeconds, &answer);
        } catch (const std::exception &e) {
            m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET commit_uid = NULL, commit_asked = 0, last_status = ? WHERE commit_uid = ?"),
                         {QStringLiteral("Stored; commitment request failed: ") + describe(e), uid});
            throw;
        }
        if (answered)
            recordAnswer(answer);
        asked += int(group.size());
    }
    return asked;
}

int SendQueue::recordAnswer(const dicom::CommitAnswer &answer)
{
    int changed = 0;
    const qint64 t = now();
    m_db.runInTransaction([&] {
        for (const dicom::CommitItem &i : answer.committed)
            changed += m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET state = 'committed', last_status = 'Committed', updated_at = ? "
                                                   "WHERE commit_uid = ? AND sop_instance_uid = ? AND state IN ('sent', 'timed out')"),
                                    {t, answer.transactionUid, i.sopInstance});
        for (const dicom::CommitItem &i : answer.failed)
            changed += m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET state = 'failed', last_status = ?, updated_at = ? "
                                                   "WHERE commit_uid = ? AND sop_instance_uid = ? AND state IN ('sent', 'timed out')"),
                                    {QStringLiteral("Not committed: ") + commitFailureText(i.failureReason), t, answer.transactionUid,
                                     i.sopInstance});
    });
    RecordSet rs = m_db.query(QStringLiteral("SELECT file_path FROM pacs..tblSendQueue WHERE commit_uid = ? AND state = 'committed'"),
                              {answer.transactionUid});
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        QFile::remove(rs.text(QStringLiteral("file_path")));
    return changed;
}

int SendQueue::expireCommitments(int timeoutSeconds)
{
    const qint64 t = now();
    return m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET state = 'timed out', last_status = ?, updated_at = ? "
                                       "WHERE workstation = ? AND state = 'sent' AND commit_uid IS NOT NULL AND commit_uid <> '' "
                                       "AND commit_asked < ?"),
                        {QStringLiteral("Stored; no storage commitment answer within %1 seconds").arg(timeoutSeconds), t, workstation(),
                         t - qint64(timeoutSeconds) * 1000});
}

QList<QueueEntry> SendQueue::entries()
{
    return readEntries(m_db.query(QStringLiteral("SELECT TOP 2000 ") + kColumns
                                      + QStringLiteral(" FROM pacs..tblSendQueue WHERE workstation = ? ORDER BY queue_id DESC"),
                                  {workstation()}));
}

void SendQueue::retry(qint64 id)
{
    RecordSet rs = m_db.query(QStringLiteral("SELECT file_path, state FROM pacs..tblSendQueue WHERE queue_id = ?"), {id});
    if (rs.isEmpty())
        throw Error(QStringLiteral("This entry is no longer in the send queue."));
    const QString state = rs.text(QStringLiteral("state"));
    if (state != QueueState::Failed && state != QueueState::TimedOut)
        throw Error(QStringLiteral("Only a failed or timed-out entry can be sent again."));
    if (!QFileInfo(rs.text(QStringLiteral("file_path"))).isFile())
        throw Error(QStringLiteral("The copy of this image is gone (%1); send it again from its exam.").arg(rs.text(QStringLiteral("file_path"))));
    m_db.execute(QStringLiteral("UPDATE pacs..tblSendQueue SET state = 'queued', next_attempt = 0, commit_uid = NULL, commit_asked = 0, "
                                "claimed_by = NULL, claim_until = 0, last_status = ?, updated_at = ? WHERE queue_id = ?"),
                 {QStringLiteral("Queued again by the operator"), now(), id});
}

void SendQueue::remove(qint64 id)
{
    RecordSet rs = m_db.query(QStringLiteral("SELECT file_path FROM pacs..tblSendQueue WHERE queue_id = ?"), {id});
    if (rs.isEmpty())
        return;
    const int n = m_db.execute(QStringLiteral("DELETE FROM pacs..tblSendQueue WHERE queue_id = ? AND NOT (state = 'queued' "
                                              "AND claimed_by IS NOT NULL AND claimed_by <> '' AND claim_until >= ?)"),
                               {id, now()});
    if (n == 0)
        throw Error(QStringLiteral("This image is being sent now; remove it when the send has ended."));
    QFile::remove(rs.text(QStringLiteral("file_path")));
}

} // namespace orv
