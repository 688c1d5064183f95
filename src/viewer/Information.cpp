#include "Information.h"

#include "frmImageViewer.h"

#include "core/WindowHelpers.h"
#include "outside/dicom/Dump.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace orv {

Information *Information::instance()
{
    auto &w = windowInstance<Information>();
    if (!w)
        w = new Information();
    return w;
}

Information::Information()
{
    setObjectName(QStringLiteral("Information"));
    setWindowTitle(QStringLiteral("Information"));
    Pages = new QTabWidget(this);
    Pages->setObjectName(QStringLiteral("Pages"));

    auto *attributesPage = new QWidget(Pages);
    DataElements = new QGroupBox(QStringLiteral(" Data Elements "), attributesPage);
    DataElements->setObjectName(QStringLiteral("DataElements"));
    AttributeList = namedControl<QPlainTextEdit>(DataElements, "AttributeList");
    AttributeList->setReadOnly(true);
    AttributeList->setLineWrapMode(QPlainTextEdit::NoWrap);
    // "Courier New" where installed, else the system's fixed font: the columns must line up.
    QFont courier(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(courier).fixedPitch())
        courier = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    AttributeList->setFont(courier);
    (new QVBoxLayout(DataElements))->addWidget(AttributeList);
    (new QVBoxLayout(attributesPage))->addWidget(DataElements);
    Pages->addTab(attributesPage, QStringLiteral(" Image Attributes"));

    ImageList = namedControl<QListWidget>(Pages, "ImageList");
    Pages->addTab(ImageList, QStringLiteral("Image List"));

    Hide = namedControl(this, "Hide", QStringLiteral("&Close"));
    connect(Hide, &QPushButton::clicked, this, &QWidget::hide);

    auto *root = new QVBoxLayout(this);
    root->addWidget(Pages, 1);
    root->addWidget(Hide, 0, Qt::AlignRight);
    resize(760, 560);
}

void Information::NewData(frmImageViewer *viewer)
{
    AttributeList->clear();
    ImageList->clear();
    ImageSetModel &images = viewer->Images();
    for (int i = 1; i <= images.count(); ++i)
        ImageList->addItem(images.item(i).description());
    if (images.count() == 0) {
        AttributeList->setPlainText(QStringLiteral("No Image available"));
        return;
    }
    QString text;
    dicom::dumpAttributes(text, QString(), viewer->GetSelectedImage().attributes());
    AttributeList->setPlainText(text);
}

} // namespace orv
