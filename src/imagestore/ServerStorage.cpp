#include "ServerStorage.h"

#include "core/CoreRoutines.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orv {

namespace {

const QChar kSep = QLatin1Char('\\');
constexpr qint64 kChunk = 1 << 20;
// A save stores and records its rows in groups of at most SaveRequest::groupFiles files or this
// many bytes.
constexpr qint64 kGroupBytes = 128ll << 20;

QString osError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Creates the last component of `folder` (native form); "" or the reason it could not.
QString makeFolder(const QString &folder)
{
#ifdef Q_OS_UNIX
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) == 0 || (errno == EEXIST && QFileInfo(folder).isDir()))
        return {};
    return osError();
#else
    const QFileInfo info(folder);
    if (QDir(info.path()).mkdir(info.fileName()))
        return {};
    return QStringLiteral("The folder cannot be created");
#endif
}

// Flushes a folder's entries (a rename inside it) to disk.
void syncFolder(const QString &folder)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        throw Error(QStringLiteral("Cannot open the folder %1: %2").arg(folder, osError()));
    const int rc = ::fsync(fd);
    const QString reason = rc == 0 ? QString() : osError();
    ::close(fd);
    if (rc != 0)
        throw Error(QStringLiteral("Cannot flush the folder %1: %2").arg(folder, reason));
#else
    Q_UNUSED(folder)
#endif
}

#ifndef Q_OS_LINUX
void syncFile(QFile &file)
{
    if (!file.flush())
        throw Error(QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0)
        throw Error(QStringLiteral("Cannot flush %1 to disk: %2").arg(file.fileName(), osError()));
#endif
}
#endif

// True when both files exist with the same size and bytes.
bool sameContent(const QString &a, const QString &b)
{
    const QFileInfo ia(a), ib(b);
    if (!ia.isFile() || !ib.isFile() || ia.size() != ib.size())
        return false;
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(a, fa.errorString()));
    if (!fb.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(b, fb.errorString()));
    while (!fa.atEnd()) {
        const QByteArray x = fa.read(kChunk), y = fb.read(kChunk);
        if (x != y)
            return false;
        if (x.isEmpty())
            break;
    }
    return true;
}

// The hidden name under which this workstation writes `target` before it is whole
// (".name.computer.part"), so that what a killed save leaves behind is taken up by the next save
// of that file from the same workstation.
QString partialName(const QString &target, const QString &computerName)
{
    const QFileInfo t(target);
    QString workstation = computerName.isEmpty() ? QStringLiteral("local") : computerName;
    for (QChar &ch : workstation)
        if (!(ch.isLetterOrNumber() && ch.unicode() < 128) && ch != QLatin1Char('-') && ch != QLatin1Char('_'))
            ch = QLatin1Char('_');
    return t.dir().filePath(QStringLiteral(".%1.%2.part").arg(t.fileName(), workstation));
}

// Copies `source` to `partial`, replacing it, and starts writing it to disk without waiting.
void writePartial(const QString &source, const QString &partial, const QString &fileName)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(source, in.errorString()));
    const QFileInfo t(partial);
    QFile out(partial);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("Cannot write %1 into %2: %3").arg(fileName, t.path(), out.errorString()));
    try {
        bool copied = false;
#ifdef Q_OS_LINUX
        // The kernel copies without passing the bytes through this process (as cp does); file
        // systems that cannot fall back to the loop below before anything is written.
        const qint64 size = in.size();
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::copy_file_range(in.handle(), nullptr, out.handle(), nullptr, size_t(size - done), 0);
            if (n <= 0) {
                if (done == 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
                    break;
                throw Error(QStringLiteral("Cannot write %1 into %2: %3").arg(fileName, t.path(), osError()));
            }
            done += n;
        }
        copied = done == size && size > 0;
#endif
        if (!copied) {
            QByteArray chunk;
            while (!(chunk = in.read(kChunk)).isEmpty())
                if (out.write(chunk) != chunk.size())
                    throw Error(QStringLiteral("Cannot write %1 into %2: %3").arg(fileName, t.path(), out.errorString()));
            if (in.error() != QFileDevice::NoError)
                throw Error(QStringLiteral("Cannot read %1: %2").arg(source, in.errorString()));
        }
        if (!out.flush())
            throw Error(QStringLiteral("Cannot write %1 into %2: %3").arg(fileName, t.path(), out.errorString()));
#ifdef Q_OS_LINUX
        ::sync_file_range(out.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
        out.close();
    } catch (...) {
        out.close();
        QFile::remove(partial);
        throw;
    }
}

// Waits until the bytes of the files are on disk.
void syncFiles(const QStringList &files)
{
    if (files.isEmpty())
        return;
#ifdef Q_OS_LINUX
    // One flush of the file system holding them, rather than one per file.
    const int fd = ::open(QFile::encodeName(files.first()).constData(), O_RDONLY);
    if (fd < 0)
        throw Error(QStringLiteral("Cannot open %1: %2").arg(files.first(), osError()));
    const int rc = ::syncfs(fd);
    const QString reason = rc == 0 ? QString() : osError();
    ::close(fd);
    if (rc != 0)
        throw Error(QStringLiteral("Cannot flush %1 to disk: %2").arg(QFileInfo(files.first()).path(), reason));
#else
    for (const QString &f : files) {
        QFile file(f);
        if (!file.open(QIODevice::ReadWrite))
            throw Error(QStringLiteral("Cannot open %1: %2").arg(f, file.errorString()));
        syncFile(file);
    }
#endif
}

void refuseUnsafeFolder(const QString &folder)
{
    if (const QString reason = unsafeRelativeFolderReason(folder); !reason.isEmpty())
        throw Error(reason);
}

} // namespace

SaveRequest SaveRequest::fromState(const QList<ImageRow> &rows)
{
    const SharedState &st = state();
    SaveRequest r;
    r.transNo = openTransaction().value(OpenTransaction::TransNo);
    r.serverName = st.Server_Name;
    r.serverFolder = st.Server_Folder;
    r.modalityCode = st.AcquireModalityCode;
    r.userId = st.CurrentUser.UserID();
    r.computerName = ComputerName();
    r.when = QDateTime::currentDateTime();
    r.rows = rows;
    return r;
}

StorageFolders storageFolders(const SaveRequest &r)
{
    StorageFolders f;
    f.base = r.serverName + kSep + r.serverFolder + kSep + r.modalityCode;
    const QString year = r.when.toString(QStringLiteral("yyyy"));
    const QString day = r.when.toString(QStringLiteral("yyyy-MM-dd"));
    f.relative = year + kSep + day + kSep + r.transNo;
    f.levels << f.base << f.base + kSep + year << f.base + kSep + year + kSep + day << f.base + kSep + f.relative;
    f.absolute = f.levels.last();
    return f;
}

SaveOutcome ServerStorage::save(Connection &db, const SaveRequest &r, const SaveObserver &observer)
{
    SaveOutcome outcome;
    const StorageFolders folders = storageFolders(r);
    for (const ImageRow &row : r.rows)
        if (row.status == kStatusNew)
            ++outcome.newRows;

    // The transaction number and the modality code each name one folder level.
    QString unsafe;
    if (r.serverName.trimmed().isEmpty() || r.serverFolder.trimmed().isEmpty())
        unsafe = QStringLiteral("The image server is not set: both its name and its folder are needed.");
    else if (const QString refusal = nameComponentRefusal(r.transNo, QStringLiteral("transaction number")); !refusal.isEmpty())
        unsafe = refusal;
    else if (!unsafeFileNameReason(r.modalityCode).isEmpty())
        unsafe = QStringLiteral("The modality code \"%1\" cannot name a folder.").arg(r.modalityCode);

    if (unsafe.isEmpty()) {
        for (const QString &level : folders.levels) {
            const QString native = nativePath(level);
            if (QFileInfo(native).isDir())
                continue;
            if (const QString reason = makeFolder(native); !reason.isEmpty()) {
                const QString message = reason + QStringLiteral(". Check ") + native;
                outcome.folderMessages << message;
                if (observer.folderProblem)
                    observer.folderProblem(message);
            }
        }
    }

    const QString serverFolderValue = r.serverFolder + kSep + r.modalityCode;
    const QString computerName = r.computerName.left(64);

    // Rows are stored in groups: each file of a group is written under its hidden name, then the
    // group's bytes are flushed to disk at once, the files renamed to their own names, the folder
    // flushed, and only then are the group's records inserted, in one transaction. So a record
    // never comes before its whole file, as when each file is stored on its own, at the cost of
    // one flush per group instead of three per file.
    struct Entry
    {
        QString fileName;
        QString partial; // written by this save, to be renamed to `target`; empty otherwise
        QString target;
        bool record = false;
    };
    QList<Entry> group;
    QSet<QString> groupNames;
    qint64 groupBytes = 0;
    int done = 0;
    auto commitGroup = [&] {
        if (group.isEmpty())
            return;
        QStringList partials;
        for (const Entry &e : group)
            if (!e.partial.isEmpty())
                partials << e.partial;
        syncFiles(partials);
        for (Entry &e : group) {
            if (e.partial.isEmpty())
                continue;
            if (QFileInfo::exists(e.target)) {
                // Another save put a file under the name meanwhile.
                const bool same = sameContent(e.partial, e.target);
                QFile::remove(e.partial);
                if (!same)
                    throw Error(QStringLiteral("A different file named %1 is already in %2.")
                                    .arg(e.fileName, nativePath(folders.absolute)));
            } else if (!QFile::rename(e.partial, e.target)) {
                throw Error(QStringLiteral("Cannot rename %1 to %2.").arg(e.partial, e.target));
            } else {
                ++outcome.copied;
            }
            e.partial.clear();
        }
        if (!partials.isEmpty())
            syncFolder(nativePath(folders.absolute));
        db.runInTransaction([&] {
            for (const Entry &e : group)
                if (e.record)
                    db.execute(QStringLiteral("INSERT INTO pacs..tblFile (trans_no,server_name,server_folder,filedir,"
                                              "filename,compname,user_id) VALUES(?,?,?,?,?,?,?)"),
                               {r.transNo, r.serverName, serverFolderValue, folders.relative, e.fileName,
                                computerName, r.userId});
        });
        for (const Entry &e : group) {
            outcome.recorded += e.record ? 1 : 0;
            ++done;
            if (observer.progress)
                observer.progress(done, outcome.newRows, e.fileName);
        }
        group.clear();
        groupNames.clear();
        groupBytes = 0;
    };
    auto discardGroup = [&] {
        for (const Entry &e : group)
            if (!e.partial.isEmpty())
                QFile::remove(e.partial);
        group.clear();
    };

    for (const ImageRow &row : r.rows) {
        if (row.status != kStatusNew)
            continue;
        try {
            if (!unsafe.isEmpty())
                throw Error(unsafe);
            if (observer.stopped && observer.stopped())
                throw Error(QStringLiteral("The save was stopped before %1.").arg(row.fileName));
            if (const QString reason = unsafeFileNameReason(row.fileName); !reason.isEmpty())
                throw Error(reason);
            const QString source = nativePath(rowFilePath(row, QString(), false));
            if (!QFileInfo(source).isFile())
                throw Error(QStringLiteral("Cannot read %1: the file does not exist.").arg(source));
            // A second row of the same name waits for the first to be stored and recorded.
            if (groupNames.contains(row.fileName))
                commitGroup();

            bool recordedHere = false;
            bool storedElsewhere = false;
            RecordSet rs = db.query(QStringLiteral("SELECT file_id, filedir FROM pacs..tblFile WHERE trans_no=? "
                                                   "AND server_name=? AND server_folder=? AND filename=?"),
                                    {r.transNo, r.serverName, serverFolderValue, row.fileName});
            for (; !rs.eof(); rs.moveNext()) {
                const QString filedir = rs.text(QStringLiteral("filedir"));
                refuseUnsafeFolder(filedir);
                if (filedir == folders.relative) {
                    recordedHere = true;
                } else if (sameContent(source, nativePath(folders.base + kSep + filedir + kSep + row.fileName))) {
                    storedElsewhere = true;
                    break;
                }
            }

            Entry entry{row.fileName, QString(), nativePath(folders.absolute + kSep + row.fileName), false};
            if (!storedElsewhere) {
                if (!QFileInfo::exists(entry.target)) {
                    entry.partial = partialName(entry.target, computerName);
                    writePartial(source, entry.partial, row.fileName);
                    groupBytes += QFileInfo(source).size();
                } else if (!sameContent(source, entry.target)) {
                    throw Error(QStringLiteral("A different file named %1 is already in %2.")
                                    .arg(row.fileName, nativePath(folders.absolute)));
                }
                entry.record = !recordedHere;
            }
            if (storedElsewhere || (recordedHere && entry.partial.isEmpty()))
                ++outcome.alreadyStored;
            group.append(entry);
            groupNames.insert(row.fileName);
            if (group.size() >= qMax(1, r.groupFiles) || groupBytes >= kGroupBytes)
                commitGroup();
        } catch (const std::exception &e) {
            // The rows before the failing one keep what they reached.
            outcome.failure = failurePrefix() + describe(e);
            try {
                commitGroup();
            } catch (const std::exception &) {
                discardGroup();
            }
            return outcome;
        }
    }
    try {
        commitGroup();
    } catch (const std::exception &e) {
        discardGroup();
        outcome.failure = failurePrefix() + describe(e);
    }
    return outcome;
}

void ServerStorage::start(const ConnectionConfig &config, const SaveRequest &request)
{
    auto outcome = std::make_shared<SaveOutcome>();
    JobOptions options;
    options.total = int(std::count_if(request.rows.begin(), request.rows.end(),
                                      [](const ImageRow &r) { return r.status == kStatusNew; }));
    session().jobs().start(
        request.transNo, QStringLiteral("save"),
        [config, request, outcome](JobContext &job) {
            try {
                auto db = Connection::open(config);
                // Another workstation may have deleted the transaction since it was opened: its
                // files are not filed under a number that no longer exists.
                if (db->query(QStringLiteral("SELECT trans_no FROM pacs..tblTransaction WHERE trans_no=?"), {request.transNo})
                        .isEmpty())
                    throw Error(QStringLiteral("The transaction %1 no longer exists: it was deleted on another workstation. "
                                               "Nothing was saved.")
                                    .arg(request.transNo));
                SaveObserver observer;
                observer.folderProblem = [&job](const QString &m) { job.post([m] { msgBox(nullptr, m); }); };
                observer.progress = [&job](int done, int total, const QString &) { job.progress(done, total); };
                observer.stopped = [&job] { return job.cancelled(); };
                *outcome = ServerStorage::save(*db, request, observer);
            } catch (const std::exception &e) {
                outcome->failure = ServerStorage::failurePrefix() + describe(e);
            }
        },
        [outcome, request] {
            if (!outcome->ok()) {
                msgBox(nullptr, outcome->failure);
                return;
            }
            // Rows of a transaction no longer open are only on disk and in the database now.
            if (ImageRowsModel *rows = session().existingRows(request.transNo)) {
                try {
                    rows->reload(LoadImages(state().db(), request.transNo), request.rowsMark);
                } catch (const std::exception &e) {
                    msgBox(nullptr, QStringLiteral("Problem loading. ") + describe(e));
                }
            }
            AddLog(QStringLiteral("Done."));
        },
        options);
}

} // namespace orv
