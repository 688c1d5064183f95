#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace orv {

// The source picker ("Select Source"): lists the capture devices of the machine each time it is
// shown and remembers the one chosen (CaptureSource). Modal; one instance that hides rather than
// closes, so its opener can read valOk and valSource afterwards.
class frmSelectSource : public QDialog
{
    Q_OBJECT
public:
    static frmSelectSource *instance();
    static frmSelectSource *loaded();

    QListWidget *lstFilters = nullptr;
    QPushButton *cmdOk = nullptr, *cmdCancel = nullptr;

    // True after OK, false after Cancel or the close box.
    bool valOk = false;
    // The name chosen by the last OK.
    QString valSource;

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    frmSelectSource();
    void fillSources();
};

} // namespace orv
