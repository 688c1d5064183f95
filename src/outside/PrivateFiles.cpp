#include "PrivateFiles.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orv {

bool makePrivateFolder(const QString &folder)
{
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
#ifdef Q_OS_UNIX
    return ::chmod(QFile::encodeName(folder).constData(), 0700) == 0;
#else
    return true;
#endif
}

bool makePrivateFile(const QString &file)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(file);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
#else
    return QFile::exists(file) || QFile(file).open(QIODevice::WriteOnly);
#endif
}

} // namespace orv
