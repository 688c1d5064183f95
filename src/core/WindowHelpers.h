#pragma once

#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QPointer>
#include <QPushButton>

namespace orv {

// The one application-wide instance of a window class: created on first use, gone when the
// window is deleted (windows that unload on close delete themselves).
template<typename Window>
QPointer<Window> &windowInstance()
{
    static QPointer<Window> w;
    return w;
}

// A control with the given object name, so that tests and lookups find it by name, and the
// caption given (for controls that show a text).
template<typename Control = QPushButton>
Control *namedControl(QWidget *parent, const char *name, const QString &caption = QString())
{
    auto *c = new Control(parent);
    c->setObjectName(QLatin1String(name));
    if constexpr (requires { c->setText(caption); }) {
        if (!caption.isEmpty())
            c->setText(caption);
    }
    return c;
}

// Shows a window not modal and brings it to the front.
inline void showInFront(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

// A control that opens a window of a later part of the program is disabled, with a tooltip
// saying so, while that part has not offered the window (its hook is unset).
inline void disableUnlessOffered(QWidget *control, bool offered)
{
    if (offered)
        return;
    control->setEnabled(false);
    control->setToolTip(QStringLiteral("Not available in this build yet."));
}

// A length given in twips (1/1440 inch) in pixels at 96 dots per inch (15 twips to a pixel).
constexpr int twipsToPixels(int twips) { return twips / 15; }

// The hourglass pointer for the lifetime of the object.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

// Runs an action of an event handler: a failure shows its description in a message box and the
// handler stops; no exception leaves it.
template<typename Fn>
void guarded(QWidget *parent, Fn &&fn)
{
    try {
        fn();
    } catch (const std::exception &e) {
        msgBox(parent, describe(e));
    }
}

} // namespace orv
