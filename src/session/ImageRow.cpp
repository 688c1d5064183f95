#include "ImageRow.h"

#include "core/SharedState.h"

#include "outside/Connection.h"

#include <QRegularExpression>

namespace orv {

ImageRow ImageRow::make(const QString &status, const QString &type, const QString &serverName,
                        const QString &serverFolder, const QString &fileDir, const QString &fileName,
                        const QString &fileId)
{
    return ImageRow{status, type, fileName, serverName, serverFolder, fileId, fileDir};
}

QString rowFilePath(const ImageRow &row, const QString &configuredServerName, bool overrideServerName)
{
    const QChar sep = QLatin1Char('\\');
    if (row.status == kStatusNew)
        return row.fileDir + sep + row.fileName;
    if (row.status == kStatusSaved)
        return (overrideServerName ? configuredServerName : row.server) + sep + row.serverFolder + sep + row.fileDir
               + sep + row.fileName;
    return {};
}

bool overridesServerName()
{
    return SettingsStore::numberOf(state().chkOverrideImgPath) == 1;
}

QString rowPathNow(const ImageRow &row)
{
    return nativePath(rowFilePath(row, state().Server_Name, overridesServerName()));
}

QString nativePath(const QString &path)
{
#ifdef Q_OS_WIN
    return path;
#else
    QString p = path;
    return p.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
}

QString storedFileType(const QString &fileName)
{
    const qsizetype dot = fileName.indexOf(QLatin1Char('.'));
    const QString ext = dot < 0 ? QString() : fileName.mid(dot + 1);
    if (ext == QLatin1String("dcm"))
        return QStringLiteral("Image");
    if (ext == QLatin1String("avi"))
        return QStringLiteral("Video");
    return ext;
}


QList<ImageRow> LoadImages(Connection &db, const QString &transNo)
{
    RecordSet rs = db.query(QStringLiteral("SELECT Server_Name,Server_Folder,file_id, filedir, filename From pacs..tblFile "
                                           "WHERE trans_no=?"),
                            {transNo});
    QList<ImageRow> rows;
    for (; !rs.eof(); rs.moveNext()) {
        const QString name = rs.text(QStringLiteral("filename"));
        rows << ImageRow::make(kStatusSaved, storedFileType(name), rs.text(QStringLiteral("Server_Name")),
                               rs.text(QStringLiteral("Server_Folder")), rs.text(QStringLiteral("filedir")), name,
                               rs.text(QStringLiteral("file_id")));
    }
    return rows;
}

} // namespace orv
