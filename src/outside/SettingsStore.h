#pragma once

#include <QMutex>
#include <QSettings>
#include <QString>

#include <memory>

namespace orv {

// The per-user settings store: text values addressed by application, section and key.
// Application, section and key names compare without case (as in the Windows registry).
// A missing key reads as the given default. Backed by an INI file in the user's config folder.
class SettingsStore
{
public:
    // Uses `file`, or <config folder>/Orvaline/settings.ini when empty.
    explicit SettingsStore(const QString &file = QString());

    QString read(const QString &application, const QString &section, const QString &key,
                 const QString &defaultValue = QString()) const;
    void write(const QString &application, const QString &section, const QString &key, const QString &value);
    void deleteApplication(const QString &application);
    void deleteSection(const QString &application, const QString &section);
    QString fileName() const;

    // Writes made while a batch lives reach the file together when the last batch ends (one
    // flush to disk instead of one per value).
    class Batch
    {
    public:
        explicit Batch(SettingsStore &store);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        SettingsStore &m_store;
    };

    // The number at the start of a text (sign, digits, one decimal point), 0 when there is none.
    static double numberOf(const QString &text, bool *found = nullptr);
    static int intOf(const QString &text) { return int(numberOf(text)); }

private:
    static QString group(const QString &application, const QString &section);
    static QString keyName(const QString &key);

    void syncUnlessBatched();

    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
    int m_batches = 0;
};

} // namespace orv
