#include "frmImageViewer.h"

#include "core/CoreRoutines.h"
#include "core/WindowHelpers.h"

#include <QListWidget>
#include <QVBoxLayout>

namespace orv {

frmImageViewer::frmImageViewer()
{
    setObjectName(QStringLiteral("frmImageViewer"));
    setWindowTitle(QStringLiteral("Image Viewer"));
    auto *layout = new QVBoxLayout(this);
    lstImages = new QListWidget(this);
    lstImages->setObjectName(QStringLiteral("lstImages"));
    layout->addWidget(lstImages);
    resize(640, 480);
    RestoreWindow(this);
}

frmImageViewer *frmImageViewer::instance()
{
    auto &w = windowInstance<frmImageViewer>();
    if (!w)
        w = new frmImageViewer();
    return w;
}

frmImageViewer *frmImageViewer::existing()
{
    return windowInstance<frmImageViewer>();
}

void frmImageViewer::imagesChanged()
{
    lstImages->clear();
    for (int i = 1; i <= m_images.count(); ++i) {
        const auto image = m_images.item(i);
        lstImages->addItem(QStringLiteral("%1  %2 x %3  %4")
                               .arg(i)
                               .arg(image.width())
                               .arg(image.height())
                               .arg(image.description()));
    }
}

} // namespace orv
