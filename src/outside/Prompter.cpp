#include "Prompter.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace orv {

namespace {
std::unique_ptr<Prompter> &installed()
{
    static std::unique_ptr<Prompter> p;
    return p;
}
} // namespace

Prompter &Prompter::instance()
{
    auto &p = installed();
    if (!p)
        p = std::make_unique<DialogPrompter>();
    return *p;
}

void Prompter::install(std::unique_ptr<Prompter> prompter)
{
    installed() = std::move(prompter);
}

int msgBox(QWidget *parent, const QString &text, Prompter::Icon icon, const QString &title, int buttons)
{
    return Prompter::instance().message(parent, text, title, icon, buttons);
}

int DialogPrompter::message(QWidget *parent, const QString &text, const QString &title, Icon icon, int buttons)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setWindowTitle(title.isEmpty() ? QApplication::applicationDisplayName() : title);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Warning: box.setIcon(QMessageBox::Warning); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    }
    QMessageBox::StandardButtons std;
    if (buttons & Ok) std |= QMessageBox::Ok;
    if (buttons & Cancel) std |= QMessageBox::Cancel;
    if (buttons & Yes) std |= QMessageBox::Yes;
    if (buttons & No) std |= QMessageBox::No;
    box.setStandardButtons(std);
    switch (box.exec()) {
    case QMessageBox::Ok: return Ok;
    case QMessageBox::Yes: return Yes;
    case QMessageBox::No: return No;
    default: return (buttons & Cancel) ? Cancel : (buttons & No) ? No : Ok;
    }
}

std::optional<QString> DialogPrompter::input(QWidget *parent, const QString &prompt, const QString &title,
                                             const QString &defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<int> DialogPrompter::choice(QWidget *parent, const QString &prompt, const QString &title, const QStringList &items)
{
    bool ok = false;
    const QString chosen = QInputDialog::getItem(parent, title, prompt, items, 0, false, &ok);
    if (!ok)
        return std::nullopt;
    return int(items.indexOf(chosen));
}

QStringList Prompter::openFiles(QWidget *parent, const QString &title, const QString &folder, const QString &filter)
{
    const QString path = openFile(parent, title, folder, filter);
    return path.isEmpty() ? QStringList() : QStringList{path};
}

QString DialogPrompter::openFile(QWidget *parent, const QString &title, const QString &folder, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

QStringList DialogPrompter::openFiles(QWidget *parent, const QString &title, const QString &folder, const QString &filter)
{
    return QFileDialog::getOpenFileNames(parent, title, folder, filter);
}

QString DialogPrompter::saveFile(QWidget *parent, const QString &title, const QString &folder, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, folder, filter);
}

QString DialogPrompter::folder(QWidget *parent, const QString &title, const QString &folder)
{
    return QFileDialog::getExistingDirectory(parent, title, folder);
}

std::optional<QColor> DialogPrompter::color(QWidget *parent, const QColor &initial)
{
    const QColor c = QColorDialog::getColor(initial, parent);
    if (!c.isValid())
        return std::nullopt;
    return c;
}

std::optional<QFont> DialogPrompter::font(QWidget *parent, const QFont &initial)
{
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, initial, parent);
    if (!ok)
        return std::nullopt;
    return f;
}

} // namespace orv
