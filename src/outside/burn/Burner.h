#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace orv::burn {

// A drive a disc can be written with: an optical drive of the machine, a libburn pseudo drive
// ("stdio:/path/file.iso", which writes an image file), or the image recorder, which asks for
// the image file's name when the burn starts (OnFileSelImage).
struct DriveInfo
{
    QString address;        // libburn address ("/dev/sr0", "stdio:/tmp/x.iso"); empty for the image recorder
    QString name;           // the device name shown to the operator
    bool imageRecorder = false;
};

// A file of an ISO track: its name on the disc and the local file whose bytes it carries.
struct IsoFileEntry
{
    QString name;
    QString sourcePath;
};

// A folder of an ISO track.
struct IsoFolder
{
    QString name; // empty for the root
    QList<IsoFileEntry> files;
    QList<IsoFolder> folders;
};

// What is burned: one ISO 9660 data track (with Rock Ridge and Joliet names) built from local
// files when the burn runs. Files whose bytes are equal are stored once on the disc; every name
// refers to that one copy.
struct IsoTrack
{
    IsoFolder root;
    QString volumeName;      // volume identifier, cut to what ISO 9660 allows
    QString applicationName; // application and publisher identifier
    int options = 0;         // the track options value of the caller (kept, no meaning here)
    // Runs on the burn's thread before the image is built and may add to the track (the
    // portable-disc files). `log` appends a log line; a false result ends the burn as failed.
    std::function<bool(IsoTrack &track, const std::function<void(const QString &)> &log)> prepare;
};

// Result codes of a burn (the values of the burning library the window was written for).
enum BurnResult {
    BurnOk = 0,
    BurnUnknownCdFormat = 1,
    BurnInvalidDrive = 2,
    BurnFailed = 3,
    BurnFunctionNotAllowed = 4,
    BurnDriveNotAllowed = 5,
    BurnUserAbort = 6,
};

// What a drive's media allows: write now, or wait for another disc (and why).
enum class MediaVerdict { Writable, NoMedia, NonEmptyRewritable, NonEmptyWriteOnce, Unsuitable };
// libburn's disc status (enum burn_disc_status as int) and whether the media can be blanked.
MediaVerdict mediaVerdict(int discStatus, bool erasable);

// The disc burning library: lists drives and burns one ISO track at a time on a thread of its
// own (libburn writes on threads of its own beneath it). Every event below is emitted on the
// thread the Burner lives on (the GUI thread), in the order the burn produced them, never
// while the burn's thread waits for it. Exactly one OnDoneBurn ends every started burn.
class Burner : public QObject
{
    Q_OBJECT
public:
    explicit Burner(QObject *parent = nullptr);
    // Aborts a running burn and waits for it to end (its remaining events are dropped).
    ~Burner() override;

    // Lists the drives on the burn thread (a scan of real drives takes seconds) and delivers
    // them by drivesListed: the machine's optical drives, the pseudo drives added for this run
    // (addPseudoDrive, and the environment variable ORVALINE_BURN_DRIVES: addresses separated
    // by ";"), then the image recorder. `mediaType` is the caller's value (kept, no meaning here).
    void listDrives(int mediaType = 257);
    // True from listDrives() until its scan has ended (drivesListed follows on this thread).
    // Deleting the Burner meanwhile waits for the scan.
    bool isListing() const { return m_listing->load(); }
    // Drives listed without a scan of the machine's drives (pseudo drives and image recorder).
    static QList<DriveInfo> pseudoDrives();
    static void addPseudoDrive(const QString &address, const QString &name = QString());
    static void clearPseudoDrives();
    // Caps the capacity of image files written by pseudo drives and the image recorder (0: the
    // free space of their file system), as the size of a CD caps a real disc.
    static void setImageCapacity(qint64 bytes);

    // Starts a burn of `track` on `drive`; false (and nothing started) while one runs. An image
    // file that a failed or aborted burn began is removed. For the
    // image recorder OnFileSelImage asks for the file first; an empty answer ends the burn as
    // aborted by the user. The other arguments are the caller's values, kept for the log.
    bool burnIsoAudioCd(const DriveInfo &drive, const QString &artist, const QString &title, bool cdExtra,
                        const IsoTrack &track, int flags, int speed, int mediaType);
    // Asks the running burn to stop; it reports OnAborted and then OnDoneBurn.
    void abort();
    bool isBurning() const { return m_running; }

    // Status texts of the last burn, set when OnDoneBurn is emitted.
    QString lastError() const { return m_lastError; }
    QString errorLog() const { return m_errorLog; }
    // The flag the abort handler may set (kept as the caller leaves it).
    bool abortFlag() const { return m_abortFlag; }
    void setAbortFlag(bool on) { m_abortFlag = on; }

signals:
    void drivesListed(const QList<orv::burn::DriveInfo> &drives);
    // The machine's drives could not be listed (the pseudo drives still are, by drivesListed).
    void driveListFailed(const QString &description);
    // Drive events.
    void OnAddLogLine(int type, const QString &text);
    void OnSetPhase(const QString &text);
    void OnProgress(int percent);
    void OnDoneWaitForMedia();
    void OnDoneBurn(int result);
    void OnAborted();
    // Library events.
    void OnMegaFatal();
    void OnNonEmptyCDRW();
    void OnRestart();
    void OnWaitCD(int reason, const QString &text);
    void OnWaitCDDone();
    void OnWaitCDMediaInfo(const QString &lastMedia, const QString &requestedMedia);
    void OnWaitCDReminder();
    // Asks for the image file of the image recorder; the handler sets `fileName` (empty: cancel).
    void OnFileSelImage(QString *fileName);

private:
    struct Run;
    void post(std::function<void()> f);
    void runBurn(std::shared_ptr<Run> run);
    void joinWorker();

    std::thread m_worker;
    std::shared_ptr<std::atomic_bool> m_abort;
    std::shared_ptr<std::atomic_bool> m_alive;
    std::shared_ptr<std::atomic_bool> m_listing;
    bool m_running = false;
    bool m_abortFlag = false;
    QString m_lastError;
    QString m_errorLog;
};

} // namespace orv::burn
