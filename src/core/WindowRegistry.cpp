#include "WindowRegistry.h"

#include <QHash>
#include <QPointer>

namespace orv {

namespace {
QHash<QString, WindowRegistry::Factory> &factories()
{
    static QHash<QString, WindowRegistry::Factory> f;
    return f;
}
QHash<QString, QPointer<QWidget>> &instances()
{
    static QHash<QString, QPointer<QWidget>> i;
    return i;
}
} // namespace

void WindowRegistry::registerWindow(const QString &name, Factory factory)
{
    factories().insert(name, std::move(factory));
}

bool WindowRegistry::has(const QString &name)
{
    return factories().contains(name);
}

QWidget *WindowRegistry::loaded(const QString &name)
{
    return instances().value(name);
}

QWidget *WindowRegistry::instance(const QString &name)
{
    QPointer<QWidget> &w = instances()[name];
    if (!w) {
        const auto f = factories().value(name);
        if (!f)
            return nullptr;
        w = f();
    }
    return w;
}

QWidget *WindowRegistry::show(const QString &name)
{
    QWidget *w = instance(name);
    if (w) {
        w->show();
        w->raise();
        w->activateWindow();
    }
    return w;
}

void WindowRegistry::disableUnlessRegistered(QWidget *control, const QString &name)
{
    if (has(name))
        return;
    control->setEnabled(false);
    control->setToolTip(QStringLiteral("Not available in this build yet."));
}

} // namespace orv
