#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/oflog/oflog.h>

#include <atomic>
#include <mutex>

namespace orv::dicom {

namespace {
std::once_flag g_once;
bool g_dictionaryLoaded = false;
std::mutex g_rootMutex;
QByteArray g_root;
std::atomic<int> g_timeout{10};
} // namespace

void initialise()
{
    std::call_once(g_once, [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        DJDecoderRegistration::registerCodecs();
        DJEncoderRegistration::registerCodecs(ECC_lossyYCbCr, EUC_never);
        DcmRLEDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
        g_dictionaryLoaded = dcmDataDict.isDictionaryLoaded();
        dcmConnectionTimeout.set(g_timeout.load());
    });
    if (!g_dictionaryLoaded)
        fail(QStringLiteral("The DICOM data dictionary could not be loaded (check DCMDICTPATH)."));
}

QString newUid()
{
    initialise();
    char buf[100];
    std::lock_guard lock(g_rootMutex);
    dcmGenerateUniqueIdentifier(buf, g_root.isEmpty() ? SITE_INSTANCE_UID_ROOT : g_root.constData());
    return QString::fromLatin1(buf);
}

void setUidRoot(const QString &root)
{
    const QByteArray r = root.trimmed().toLatin1();
    for (char c : r)
        if (!(c == '.' || (c >= '0' && c <= '9')))
            fail(QStringLiteral("\"%1\" is not a valid UID root.").arg(root));
    if (r.size() > 40)
        fail(QStringLiteral("The UID root \"%1\" is too long (at most 40 characters).").arg(root));
    std::lock_guard lock(g_rootMutex);
    g_root = r;
}

QString uidRoot()
{
    std::lock_guard lock(g_rootMutex);
    return g_root.isEmpty() ? QString::fromLatin1(SITE_INSTANCE_UID_ROOT) : QString::fromLatin1(g_root);
}

void setNetworkTimeout(int seconds)
{
    if (seconds <= 0)
        fail(QStringLiteral("The network timeout must be a positive number of seconds."));
    g_timeout = seconds;
    dcmConnectionTimeout.set(seconds);
}

int networkTimeout() { return g_timeout.load(); }

void check(const OFCondition &cond, const QString &what)
{
    if (cond.good())
        return;
    fail(QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(cond.text())), cond.code());
}

void fail(const QString &description, int code) { throw Error(description, code); }

} // namespace orv::dicom
