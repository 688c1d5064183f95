#pragma once

#include <QString>
#include <QWidget>

#include <functional>

namespace orv {

// Application-wide window instances, created on first use and reached by name. A higher folder
// registers the windows it owns, so that a lower one can show them without depending on it.
class WindowRegistry
{
public:
    using Factory = std::function<QWidget *()>;

    static void registerWindow(const QString &name, Factory factory);
    static bool has(const QString &name);
    // The instance, created on first use; nullptr when nothing is registered under the name.
    static QWidget *instance(const QString &name);
    // The instance if it is loaded, without creating it.
    static QWidget *loaded(const QString &name);
    // Shows the window, not modal, and brings it to the front.
    static QWidget *show(const QString &name);
    // A control that opens `name` is disabled, with a tooltip saying so, while nothing is
    // registered under that name (the window belongs to a later part of the program).
    static void disableUnlessRegistered(QWidget *control, const QString &name);
};

} // namespace orv
