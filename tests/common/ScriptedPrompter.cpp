#include "ScriptedPrompter.h"

namespace orv::test {

ScriptedPrompter *ScriptedPrompter::install()
{
    auto p = std::make_unique<ScriptedPrompter>();
    ScriptedPrompter *raw = p.get();
    Prompter::install(std::move(p));
    return raw;
}

QStringList ScriptedPrompter::messages() const
{
    QStringList out;
    for (const Shown &s : shown)
        if (s.kind == QLatin1String("message"))
            out << s.text;
    return out;
}

QString ScriptedPrompter::lastMessage() const
{
    const QStringList m = messages();
    return m.isEmpty() ? QString() : m.last();
}

int ScriptedPrompter::message(QWidget *, const QString &text, const QString &title, Icon icon, int buttons)
{
    shown.append({QStringLiteral("message"), text, title, icon, buttons});
    if (!buttonAnswers.isEmpty())
        return buttonAnswers.takeFirst();
    return (buttons & Ok) ? Ok : Yes;
}

std::optional<QString> ScriptedPrompter::input(QWidget *, const QString &prompt, const QString &title, const QString &defaultText)
{
    shown.append({QStringLiteral("input"), prompt, title, Icon::None, 0});
    if (!inputAnswers.isEmpty())
        return inputAnswers.takeFirst();
    return defaultText;
}

std::optional<int> ScriptedPrompter::choice(QWidget *, const QString &prompt, const QString &title, const QStringList &items)
{
    shown.append({QStringLiteral("choice"), prompt + QLatin1Char('\n') + items.join(QLatin1Char('\n')), title, Icon::None, 0});
    if (!choiceAnswers.isEmpty())
        return choiceAnswers.takeFirst();
    return 0;
}

QString ScriptedPrompter::openFile(QWidget *, const QString &title, const QString &, const QString &filter)
{
    shown.append({QStringLiteral("open"), filter, title, Icon::None, 0});
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QStringList ScriptedPrompter::openFiles(QWidget *parent, const QString &title, const QString &folder, const QString &filter)
{
    return openFile(parent, title, folder, filter).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString ScriptedPrompter::saveFile(QWidget *, const QString &title, const QString &, const QString &filter)
{
    shown.append({QStringLiteral("save"), filter, title, Icon::None, 0});
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

QString ScriptedPrompter::folder(QWidget *, const QString &title, const QString &)
{
    shown.append({QStringLiteral("folder"), QString(), title, Icon::None, 0});
    return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
}

std::optional<QColor> ScriptedPrompter::color(QWidget *, const QColor &initial)
{
    shown.append({QStringLiteral("color"), initial.name(), QString(), Icon::None, 0});
    return std::nullopt;
}

std::optional<QFont> ScriptedPrompter::font(QWidget *, const QFont &initial)
{
    shown.append({QStringLiteral("font"), initial.family(), QString(), Icon::None, 0});
    return std::nullopt;
}

} // namespace orv::test
