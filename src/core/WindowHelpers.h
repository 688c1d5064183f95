#pragma once

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

// A control with the given object name, so that tests and lookups find it by name.
template<typename Control = QPushButton>
Control *namedControl(QWidget *parent, const char *name, const QString &caption)
{
    auto *c = new Control(caption, parent);
    c->setObjectName(QLatin1String(name));
    return c;
}

} // namespace orv
