#include "ServerStorage.h"

#include "core/CoreRoutines.h"
#include "core/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

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

void syncFile(QFile &file)
{
    if (!file.flush())
        throw Error(QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0)
        throw Error(QStringLiteral("Cannot flush %1 to disk: %2").arg(file.fileName(), osError()));
#endif
}

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

// Copies `source` to `target` (which must not exist) so that `target` appears only whole: the
// bytes go to a hidden name in the target's folder, are flushed to disk, and are renamed (never
// replacing a file); then the folder is flushed. The hidden name is the workstation's own
// (".name.computer.part"), so what a killed save leaves behind is taken up by the next save of
// that file from the same workstation. Returns false when another file took the name meanwhile
// (nothing is copied then).
bool copyWhole(const QString &source, const QString &target, const QString &computerName)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(source, in.errorString()));
    const QFileInfo t(target);
    QString workstation = computerName.isEmpty() ? QStringLiteral("local") : computerName;
    for (QChar &ch : workstation)
        if (!(ch.isLetterOrNumber() && ch.unicode() < 128) && ch != QLatin1Char('-') && ch != QLatin1Char('_'))
            ch = QLatin1Char('_');
    const QString partial = t.dir().filePath(QStringLiteral(".%1.%2.part").arg(t.fileName(), workstation));
    QFile out(partial);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("Cannot write %1 into %2: %3").arg(t.fileName(), t.path(), out.errorString()));
    try {
        QByteArray chunk;
        while (!(chunk = in.read(kChunk)).isEmpty())
            if (out.write(chunk) != chunk.size())
                throw Error(QStringLiteral("Cannot write %1 into %2: %3").arg(t.fileName(), t.path(), out.errorString()));
        if (in.error() != QFileDevice::NoError)
            throw Error(QStringLiteral("Cannot read %1: %2").arg(source, in.errorString()));
        syncFile(out);
        out.close();
        if (!QFile::rename(partial, target)) {
            if (QFileInfo::exists(target)) {
                QFile::remove(partial);
                return false;
            }
            throw Error(QStringLiteral("Cannot rename %1 to %2.").arg(partial, target));
        }
        syncFolder(t.path());
    } catch (...) {
        out.close();
        QFile::remove(partial);
        throw;
    }
    return true;
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
    else if (!unsafeFileNameReason(r.transNo).isEmpty())
        unsafe = QStringLiteral("The transaction number \"%1\" cannot name a folder.").arg(r.transNo);
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
    int done = 0;
    for (const ImageRow &row : r.rows) {
        if (row.status != kStatusNew)
            continue;
        try {
            if (!unsafe.isEmpty())
                throw Error(unsafe);
            if (const QString reason = unsafeFileNameReason(row.fileName); !reason.isEmpty())
                throw Error(reason);
            const QString source = nativePath(rowFilePath(row, QString(), false));
            if (!QFileInfo(source).isFile())
                throw Error(QStringLiteral("Cannot read %1: the file does not exist.").arg(source));

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

            bool copied = false;
            if (!storedElsewhere) {
                const QString target = nativePath(folders.absolute + kSep + row.fileName);
                if (!QFileInfo::exists(target))
                    copied = copyWhole(source, target, computerName);
                if (!copied && !sameContent(source, target))
                    throw Error(QStringLiteral("A different file named %1 is already in %2.")
                                    .arg(row.fileName, nativePath(folders.absolute)));
                if (copied)
                    ++outcome.copied;
                if (!recordedHere) {
                    db.execute(QStringLiteral("INSERT INTO pacs..tblFile (trans_no,server_name,server_folder,filedir,"
                                              "filename,compname,user_id) VALUES(?,?,?,?,?,?,?)"),
                               {r.transNo, r.serverName, serverFolderValue, folders.relative, row.fileName,
                                computerName, r.userId});
                    ++outcome.recorded;
                }
            }
            if (storedElsewhere || (recordedHere && !copied))
                ++outcome.alreadyStored;
        } catch (const std::exception &e) {
            outcome.failure = failurePrefix() + describe(e);
            return outcome;
        }
        ++done;
        if (observer.progress)
            observer.progress(done, outcome.newRows, row.fileName);
    }
    return outcome;
}

ServerSaveWorker::ServerSaveWorker(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<orv::SaveOutcome>();
}

ServerSaveWorker::~ServerSaveWorker() { waitForFinished(); }

bool ServerSaveWorker::start(const ConnectionConfig &config, const SaveRequest &request)
{
    if (isRunning())
        return false;
    m_future = QtConcurrent::run([this, config, request] {
        SaveOutcome outcome;
        try {
            auto db = Connection::open(config);
            SaveObserver observer;
            observer.folderProblem = [this](const QString &m) { emit folderProblem(m); };
            observer.progress = [this](int done, int total, const QString &name) { emit progress(done, total, name); };
            outcome = ServerStorage::save(*db, request, observer);
        } catch (const std::exception &e) {
            outcome.failure = ServerStorage::failurePrefix() + describe(e);
        }
        emit finished(outcome);
    });
    return true;
}

bool ServerSaveWorker::isRunning() const { return m_future.isValid() && !m_future.isFinished(); }

void ServerSaveWorker::waitForFinished()
{
    if (m_future.isValid())
        m_future.waitForFinished();
}

} // namespace orv
