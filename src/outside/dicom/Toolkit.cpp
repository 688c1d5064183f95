#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/ofstd/ofcond.h>

#include <QList>

#include <utility>
#include <dcmtk/oflog/oflog.h>

#include <mutex>

namespace orv::dicom {

namespace {
std::once_flag g_once;
bool g_dictionaryLoaded = false;
std::mutex g_rootMutex;
QByteArray g_root;
std::mutex g_deferredMutex;
QList<QByteArray> g_deferredDictionaries;
} // namespace

void initialise()
{
    std::call_once(g_once, [] {
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        g_dictionaryLoaded = dcmDataDict.isDictionaryLoaded();
    });
    if (!g_dictionaryLoaded)
        fail(QStringLiteral("The DICOM data dictionary could not be loaded (check DCMDICTPATH)."));
}

void deferPrivateDictionary()
{
    if (!qEnvironmentVariableIsEmpty(DCM_DICT_ENVIRONMENT_VARIABLE))
        return;
    QList<QByteArray> standard, deferred;
    for (const QByteArray &path : QByteArray(DCM_DICT_DEFAULT_PATH).split(ENVIRONMENT_PATH_SEPARATOR))
        (path.endsWith("private.dic") ? deferred : standard) << path;
    if (deferred.isEmpty() || standard.isEmpty())
        return;
    std::lock_guard lock(g_deferredMutex);
    qputenv(DCM_DICT_ENVIRONMENT_VARIABLE, standard.join(ENVIRONMENT_PATH_SEPARATOR));
    g_deferredDictionaries = deferred;
}

bool loadDeferredPrivateDictionary()
{
    std::lock_guard lock(g_deferredMutex);
    if (g_deferredDictionaries.isEmpty())
        return false;
    DcmDataDictionary &dict = dcmDataDict.wrlock();
    for (const QByteArray &path : std::as_const(g_deferredDictionaries))
        dict.loadDictionary(path.constData(), OFTrue);
    dcmDataDict.wrunlock();
    g_deferredDictionaries.clear();
    return true;
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

void check(const OFCondition &cond, const QString &what)
{
    if (cond.good())
        return;
    fail(QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(cond.text())), cond.code());
}

void fail(const QString &description, int code) { throw Error(description, code); }

} // namespace orv::dicom
