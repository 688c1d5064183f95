#pragma once

#include <QObject>
#include <QStringList>

namespace orv {

// The capture source the operator chose for the still-capture window that builds from a named
// source: kept in the per-user store (application "VELMORPACS", section "ACQUIRE", key
// "Source", exactly as the device reports its name), read at the moment of use. The main
// window shows it and follows changes. GUI thread only.
class CaptureSource : public QObject
{
    Q_OBJECT
public:
    // What the store gives when nothing was chosen yet.
    static QString notChosen();

    QString name() const;
    // Stores `name` and announces it.
    void choose(const QString &name);

    // The names of the capture devices of this machine, in the capture layer's stable order
    // (the test pattern first where it is listed).
    static QStringList available();

signals:
    void chosen(const QString &name);
};

// The choice of this run.
CaptureSource &captureSource();

} // namespace orv
