#include "CoreRoutines.h"

#include "SharedState.h"
#include "frmLog.h"
#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QScreen>
#include <QStringList>
#include <QSysInfo>
#include <QWidget>

namespace orv {

void DigitsOnlyKey(int &keyAscii)
{
    if (keyAscii >= 'a' && keyAscii <= 'z')
        keyAscii -= 32;
    if (keyAscii >= 32 && !(keyAscii >= '0' && keyAscii <= '9'))
        keyAscii = 0;
}

namespace {

QString nameComponentProblem(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("it is empty");
    if (text == QLatin1String(".") || text == QLatin1String(".."))
        return QStringLiteral("it names a folder, not a file");
    if (text.size() > 64)
        return QStringLiteral("it is longer than 64 characters");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'/' || u == u'\\')
            return QStringLiteral("it holds a folder separator");
        if (u == u':')
            return QStringLiteral("it holds a colon (a drive or stream)");
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F))
            return QStringLiteral("it holds a control character");
        if (QStringView(u"<>\"|?*").contains(c))
            return QStringLiteral("it holds \"%1\", which Windows refuses in names").arg(c);
    }
    if (text.endsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char(' ')))
        return QStringLiteral("it ends with a dot or a blank");
    const QString device = text.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList devices = [] {
        QStringList d{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"), QStringLiteral("NUL")};
        for (int i = 1; i <= 9; ++i)
            d << QStringLiteral("COM%1").arg(i) << QStringLiteral("LPT%1").arg(i);
        return d;
    }();
    if (devices.contains(device))
        return QStringLiteral("it is the name of a Windows device");
    return {};
}

} // namespace

QString nameComponentRefusal(const QString &text, const QString &what)
{
    const QString problem = nameComponentProblem(text);
    if (problem.isEmpty())
        return {};
    QString shown = text;
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control)
            c = QChar(0xFFFD); // the message never carries a terminal escape
    return QStringLiteral("The %1 \"%2\" cannot name a file: %3.").arg(what, shown, problem);
}

void requireNameComponent(const QString &text, const QString &what)
{
    if (const QString refusal = nameComponentRefusal(text, what); !refusal.isEmpty())
        throw Error(refusal);
}

bool RequireText(const QString &value, const QString &message)
{
    if (!value.isEmpty())
        return true;
    msgBox(nullptr, message, Prompter::Icon::Critical);
    return false;
}

void AddLog(const QString &message)
{
    frmLog::showOnNewLines();
    logModel().append(message);
}

namespace {
QString placementKey(QWidget *w, const char *suffix)
{
    return w->windowTitle() + QLatin1String(suffix);
}

int storedNumber(QWidget *w, const char *suffix)
{
    return SettingsStore::intOf(settings().read(apps::PACS, QStringLiteral("WindowSize"), placementKey(w, suffix)));
}

bool hasFixedBorder(QWidget *w)
{
    return w->property("fixedBorder").toBool()
        || (w->minimumSize() == w->maximumSize() && w->minimumSize().isValid() && !w->minimumSize().isEmpty());
}
} // namespace

void RestoreWindow(QWidget *window)
{
    if (!window)
        return;
    if (!hasFixedBorder(window)) {
        const int width = storedNumber(window, " Width");
        const int height = storedNumber(window, " Height");
        if (width > 0)
            window->resize(width, window->height());
        if (height > 0)
            window->resize(window->width(), height);
    }
    const int left = storedNumber(window, " Left");
    const int top = storedNumber(window, " Top");
    if (left != 0)
        window->move(left, window->y());
    if (top != 0)
        window->move(window->x(), top);
    const int state = storedNumber(window, " WinState");
    if (state > 0)
        window->setWindowState(Qt::WindowMaximized); // a stored 1 (minimised) comes back maximised
}

void SaveWindow(QWidget *window)
{
    if (!window)
        return;
    SettingsStore &s = settings();
    SettingsStore::Batch batch(s);
    const QString section = QStringLiteral("WindowSize");
    const QRect g = window->isMaximized() || window->isMinimized() ? window->normalGeometry() : window->geometry();
    const QRect frame = window->isMaximized() || window->isMinimized() ? g : window->frameGeometry();
    s.write(apps::PACS, section, placementKey(window, " Width"), QString::number(g.width()));
    s.write(apps::PACS, section, placementKey(window, " Height"), QString::number(g.height()));
    s.write(apps::PACS, section, placementKey(window, " Left"), QString::number(frame.x()));
    s.write(apps::PACS, section, placementKey(window, " Top"), QString::number(frame.y()));
    if (!window->isMinimized())
        s.write(apps::PACS, section, placementKey(window, " WinState"), window->isMaximized() ? QStringLiteral("2") : QStringLiteral("0"));
}

QString TimeStamp()
{
    // "hh" is the 12-hour clock because the pattern holds the AM/PM designator.
    return QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("yyyy_MM_dd_hh_mm_ss_AP"));
}

namespace {
// "Name|pattern|Name|pattern|" -> "Name (pattern);;Name (pattern)"
QString qtFilter(const QString &filter)
{
    QStringList parts = filter.split(QLatin1Char('|'));
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return entries.join(QLatin1String(";;"));
}

QString cleanPath(QString path)
{
    path = path.trimmed();
    const int nul = int(path.indexOf(QChar(0)));
    if (nul >= 0)
        path.truncate(nul);
    return path;
}
} // namespace

QString OpenFileDialog(QWidget *owner, const QString &filter, const QString &title, const QString &initialFolder)
{
    return cleanPath(Prompter::instance().openFile(owner, title, initialFolder, qtFilter(filter)));
}

QStringList OpenFilesDialog(QWidget *owner, const QString &filter, const QString &title, const QString &initialFolder)
{
    QStringList paths;
    for (const QString &p : Prompter::instance().openFiles(owner, title, initialFolder, qtFilter(filter)))
        if (const QString path = cleanPath(p); !path.isEmpty())
            paths << path;
    return paths;
}

QString ComputerName()
{
    QString name = QSysInfo::machineHostName();
    const int nul = int(name.indexOf(QChar(0)));
    if (nul >= 0)
        name.truncate(nul);
    return name;
}

namespace {
class KeyFilterObject : public QObject
{
public:
    KeyFilterObject(KeyFilter kind, QObject *parent) : QObject(parent), m_kind(kind) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        if (text.size() != 1 || text.at(0).unicode() < 32 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        auto *edit = qobject_cast<QLineEdit *>(watched);
        if (!edit || edit->isReadOnly())
            return false;
        QString out;
        if (m_kind == KeyFilter::DigitsOnly) {
            int code = text.at(0).unicode();
            DigitsOnlyKey(code);
            if (code == 0)
                return true;
            out = QString(QChar(code));
        } else {
            out = text.toUpper();
            if (out == text)
                return false;
        }
        edit->insert(out);
        return true;
    }

private:
    KeyFilter m_kind;
};
} // namespace

void installKeyFilter(QLineEdit *edit, KeyFilter filter)
{
    edit->installEventFilter(new KeyFilterObject(filter, edit));
}

} // namespace orv
