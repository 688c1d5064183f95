#include "SafeNames.h"

#include <QRegularExpression>

namespace orv {

namespace {
bool hasDrive(const QString &text)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    return drive.match(text).hasMatch();
}
} // namespace

QString unsafeFileNameReason(const QString &fileName)
{
    if (fileName.isEmpty())
        return QStringLiteral("The file name is empty.");
    if (fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\')))
        return QStringLiteral("The file name \"%1\" holds a folder separator.").arg(fileName);
    if (fileName.contains(QLatin1String("..")) || fileName == QLatin1String("."))
        return QStringLiteral("The file name \"%1\" could name a file outside its folder.").arg(fileName);
    if (hasDrive(fileName))
        return QStringLiteral("The file name \"%1\" names a drive.").arg(fileName);
    if (fileName.contains(QChar(0)))
        return QStringLiteral("The file name \"%1\" holds a NUL character.").arg(fileName);
    return {};
}

QString unsafeRelativeFolderReason(const QString &folder)
{
    if (folder.startsWith(QLatin1Char('\\')) || folder.startsWith(QLatin1Char('/')) || hasDrive(folder))
        return QStringLiteral("The folder \"%1\" is not relative.").arg(folder);
    for (const QString &part : folder.split(QLatin1Char('\\'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") || part.contains(QLatin1Char('/'))
            || part.contains(QChar(0)))
            return QStringLiteral("The folder \"%1\" could name a place outside the server folder.").arg(folder);
    }
    return {};
}

} // namespace orv
