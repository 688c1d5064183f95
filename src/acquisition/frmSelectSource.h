#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace orv {

// The source picker ("Select Source"): lists the capture devices of the machine each time it is
// shown; OK makes the one chosen the capture source of the shared state (CaptureSource), which
// the capture station reads. Modal; one instance that hides rather than closes.
class frmSelectSource : public QDialog
{
    Q_OBJECT
public:
    static frmSelectSource *instance();
    static frmSelectSource *loaded();

    QListWidget *lstFilters = nullptr;
    QPushButton *cmdOk = nullptr, *cmdCancel = nullptr;

    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    frmSelectSource();
    void fillSources();
};

} // namespace orv
