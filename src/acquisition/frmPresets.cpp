#include "frmPresets.h"

#include "outside/Prompter.h"
#include "outside/capture/CaptureControl.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orv {

frmPresets::frmPresets(capture::CaptureControl *control, QWidget *parent) : QDialog(parent), m_control(control)
{
    setObjectName(QStringLiteral("frmPresets"));
    setWindowTitle(QStringLiteral("Preset Formats"));
    lblFormat = new QLabel(QStringLiteral("Select Preset format to load:"), this);
    lblFormat->setObjectName(QStringLiteral("lblFormat"));
    cmbPresets = new QComboBox(this);
    cmbPresets->setObjectName(QStringLiteral("cmbPresets"));
    for (int slot = 0; slot <= 9; ++slot)
        cmbPresets->addItem(QStringLiteral("Preset Format %1").arg(slot));
    cmbPresets->setCurrentIndex(0);
    cmdOk = new QPushButton(QStringLiteral("&Select"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblFormat);
    layout->addWidget(cmbPresets);
    layout->addLayout(buttons);
    setMinimumWidth(300);
    connect(cmdOk, &QPushButton::clicked, this, &frmPresets::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmPresets::cmdOk_Click()
{
    const int slot = cmbPresets->currentIndex();
    const QString name = QStringLiteral("TestGUI");
    const bool ok = m_save ? m_control->SavePreset(name, slot) : m_control->LoadPreset(name, slot);
    if (ok) {
        accept();
        return;
    }
    msgBox(this,
           m_save ? QStringLiteral("An error occured trying to save the preset format!")
                  : QStringLiteral("An error occured trying to load the selected preset format!"),
           Prompter::Icon::Critical, QStringLiteral("Error:"));
}

} // namespace orv
