#pragma once

#include "outside/Prompter.h"

#include <QList>
#include <QStringList>

namespace orv::test {

// Answers every dialog from a script and records what was shown.
class ScriptedPrompter : public Prompter
{
public:
    struct Shown
    {
        QString kind; // "message", "input", "choice", "open", "save", "folder", "color", "font"
        QString text;
        QString title;
        Icon icon = Icon::None;
        int buttons = 0;
    };

    // Installs a new scripted prompter as the program's prompter and returns it.
    static ScriptedPrompter *install();

    QList<Shown> shown;
    QList<int> buttonAnswers;          // answers to messages, first first; Ok (or Yes) when empty
    QList<std::optional<QString>> inputAnswers;
    QList<std::optional<int>> choiceAnswers; // the first item when empty
    QStringList fileAnswers;           // paths for open/save/folder dialogs; "" cancels; several files "\n"-separated

    QStringList messages() const;      // the texts of the messages shown, in order
    QString lastMessage() const;

    int message(QWidget *parent, const QString &text, const QString &title, Icon icon, int buttons) override;
    std::optional<QString> input(QWidget *parent, const QString &prompt, const QString &title,
                                 const QString &defaultText) override;
    std::optional<int> choice(QWidget *parent, const QString &prompt, const QString &title, const QStringList &items) override;
    QString openFile(QWidget *parent, const QString &title, const QString &folder, const QString &filter) override;
    QStringList openFiles(QWidget *parent, const QString &title, const QString &folder, const QString &filter) override;
    QString saveFile(QWidget *parent, const QString &title, const QString &folder, const QString &filter) override;
    QString folder(QWidget *parent, const QString &title, const QString &folder) override;
    std::optional<QColor> color(QWidget *parent, const QColor &initial) override;
    std::optional<QFont> font(QWidget *parent, const QFont &initial) override;
};

} // namespace orv::test
