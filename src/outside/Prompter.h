#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QWidget;

namespace orv {

// Every message box, input box and file, colour and font dialog of the program goes through the
// installed Prompter, so that tests can answer them and check the exact texts shown.
class Prompter
{
public:
    enum class Icon { None, Information, Warning, Critical, Question };
    enum Button { Ok = 0x1, Cancel = 0x2, Yes = 0x4, No = 0x8 };

    virtual ~Prompter() = default;

    // Shows a message; returns the button chosen (one of `buttons`).
    virtual int message(QWidget *parent, const QString &text, const QString &title, Icon icon, int buttons = Ok) = 0;
    // An input box; nullopt when cancelled.
    virtual std::optional<QString> input(QWidget *parent, const QString &prompt, const QString &title,
                                         const QString &defaultText = QString()) = 0;
    // A choice among `items`; the index chosen, nullopt when cancelled.
    virtual std::optional<int> choice(QWidget *parent, const QString &prompt, const QString &title, const QStringList &items) = 0;
    // File dialogs; an empty text when cancelled. `filter` is in Qt's "Name (*.x *.y);;..." form.
    virtual QString openFile(QWidget *parent, const QString &title, const QString &folder, const QString &filter) = 0;
    // Several files chosen at once; empty when cancelled. By default the one file of openFile().
    virtual QStringList openFiles(QWidget *parent, const QString &title, const QString &folder, const QString &filter);
    virtual QString saveFile(QWidget *parent, const QString &title, const QString &folder, const QString &filter) = 0;
    virtual QString folder(QWidget *parent, const QString &title, const QString &folder) = 0;
    virtual std::optional<QColor> color(QWidget *parent, const QColor &initial) = 0;
    virtual std::optional<QFont> font(QWidget *parent, const QFont &initial) = 0;

    // The installed prompter (the Qt dialogs until another is installed).
    static Prompter &instance();
    static void install(std::unique_ptr<Prompter> prompter);
};

// Short hand for Prompter::instance().message(...).
int msgBox(QWidget *parent, const QString &text, Prompter::Icon icon = Prompter::Icon::None,
           const QString &title = QString(), int buttons = Prompter::Ok);

// The real dialogs of the toolkit.
class DialogPrompter : public Prompter
{
public:
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

} // namespace orv
