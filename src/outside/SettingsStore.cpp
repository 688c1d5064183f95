#include "SettingsStore.h"

#include "PrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace orv {

SettingsStore::SettingsStore(const QString &file)
{
    QString path = file;
    if (path.isEmpty()) {
        const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        path = QDir(base).filePath(QStringLiteral("Orvaline/settings.ini"));
    }
    // The store is created for its user only; its rewrites keep the file's mode.
    makePrivateFolder(QFileInfo(path).absolutePath());
    makePrivateFile(path);
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

QString SettingsStore::group(const QString &application, const QString &section)
{
    return keyName(application) + QLatin1Char('/') + keyName(section);
}

QString SettingsStore::keyName(const QString &key)
{
    // QSettings treats '/' and '\' as group separators; keep them inside one name.
    QString k = key.toLower();
    k.replace(QLatin1Char('%'), QLatin1String("%25"));
    k.replace(QLatin1Char('/'), QLatin1String("%2f"));
    k.replace(QLatin1Char('\\'), QLatin1String("%5c"));
    return k;
}

QString SettingsStore::read(const QString &application, const QString &section, const QString &key,
                            const QString &defaultValue) const
{
    QMutexLocker lock(&m_mutex);
    const QVariant v = m_settings->value(group(application, section) + QLatin1Char('/') + keyName(key));
    return v.isValid() ? v.toString() : defaultValue;
}

void SettingsStore::write(const QString &application, const QString &section, const QString &key, const QString &value)
{
    QMutexLocker lock(&m_mutex);
    m_settings->setValue(group(application, section) + QLatin1Char('/') + keyName(key), value);
    syncUnlessBatched();
}

void SettingsStore::syncUnlessBatched()
{
    if (m_batches == 0)
        m_settings->sync();
}

SettingsStore::Batch::Batch(SettingsStore &store) : m_store(store)
{
    QMutexLocker lock(&m_store.m_mutex);
    ++m_store.m_batches;
}

SettingsStore::Batch::~Batch()
{
    QMutexLocker lock(&m_store.m_mutex);
    if (--m_store.m_batches == 0)
        m_store.m_settings->sync();
}

void SettingsStore::deleteApplication(const QString &application)
{
    QMutexLocker lock(&m_mutex);
    m_settings->remove(keyName(application));
    m_settings->sync();
}

void SettingsStore::deleteSection(const QString &application, const QString &section)
{
    QMutexLocker lock(&m_mutex);
    m_settings->remove(group(application, section));
    m_settings->sync();
}

double SettingsStore::numberOf(const QString &text, bool *found)
{
    int i = 0;
    const int n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    const int start = i;
    if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    bool digits = false;
    bool point = false;
    while (i < n) {
        const QChar c = text.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits = true;
        else if (c == QLatin1Char('.') && !point)
            point = true;
        else
            break;
        ++i;
    }
    if (found)
        *found = digits;
    return digits ? text.mid(start, i - start).toDouble() : 0.0;
}

} // namespace orv
