#include "frmSelectSource.h"

#include "CaptureSource.h"

#include "core/WindowHelpers.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace orv {

frmSelectSource *frmSelectSource::instance()
{
    auto &w = windowInstance<frmSelectSource>();
    if (!w)
        w = new frmSelectSource();
    return w;
}

frmSelectSource *frmSelectSource::loaded()
{
    return windowInstance<frmSelectSource>();
}

frmSelectSource::frmSelectSource()
{
    setObjectName(QStringLiteral("frmSelectSource"));
    setWindowTitle(QStringLiteral("Select Source"));
    setModal(true);
    lstFilters = namedControl<QListWidget>(this, "lstFilters");
    cmdOk = namedControl(this, "cmdOk", QStringLiteral("OK"));
    cmdCancel = namedControl(this, "cmdCancel", QStringLiteral("Cancel"));
    cmdOk->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lstFilters);
    layout->addLayout(buttons);
    resize(360, 240);

    connect(lstFilters, &QListWidget::itemSelectionChanged, this,
            [this] { cmdOk->setEnabled(!lstFilters->selectedItems().isEmpty()); });
    connect(lstFilters, &QListWidget::itemDoubleClicked, this, &frmSelectSource::accept);
    connect(cmdOk, &QPushButton::clicked, this, &frmSelectSource::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSelectSource::reject);
}

void frmSelectSource::showEvent(QShowEvent *event)
{
    fillSources();
    QDialog::showEvent(event);
}

void frmSelectSource::fillSources()
{
    lstFilters->clear();
    const QStringList names = CaptureSource::available();
    lstFilters->addItems(names);
    // The single device is preselected; so is the current choice when it is listed.
    const qsizetype current = names.indexOf(captureSource().name());
    if (names.size() == 1)
        lstFilters->setCurrentRow(0);
    else if (current >= 0)
        lstFilters->setCurrentRow(int(current));
    cmdOk->setEnabled(!lstFilters->selectedItems().isEmpty());
}

void frmSelectSource::accept()
{
    const QList<QListWidgetItem *> selected = lstFilters->selectedItems();
    if (selected.isEmpty())
        return;
    captureSource().choose(selected.first()->text());
    QDialog::accept();
}

} // namespace orv
