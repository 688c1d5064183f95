#include "LabelForm.h"

#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "outside/Prompter.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace orv {

LabelForm *LabelForm::instance()
{
    auto &w = windowInstance<LabelForm>();
    if (!w)
        w = new LabelForm();
    return w;
}

LabelForm::LabelForm()
{
    setObjectName(QStringLiteral("LabelForm"));
    setWindowTitle(QStringLiteral("Label Details"));
    setWindowFlag(Qt::Tool);

    LabelTypeBox = new QGroupBox(QStringLiteral("Label Type"), this);
    LabelTypeBox->setObjectName(QStringLiteral("LabelTypeBox"));
    auto *types = new QVBoxLayout(LabelTypeBox);
    const std::pair<int, const char *> typeCaptions[] = {{0, "Text"}, {1, "Ellipse"}, {2, "Rectangle"}, {3, "Line"},
                                                         {4, "PolyLine"}, {5, "Polygon"}, {10, "Arrow"}};
    for (const auto &[index, caption] : typeCaptions) {
        auto *o = new QRadioButton(QLatin1String(caption), LabelTypeBox);
        o->setObjectName(QStringLiteral("LabelType_%1").arg(index));
        LabelType[std::size_t(index)] = o;
        types->addWidget(o);
        connect(o, &QRadioButton::toggled, this, [this, index](bool on) {
            if (on)
                LabelTypeBox->setProperty("tag", QString::number(index));
        });
    }
    LabelType[0]->setChecked(true);

    AlignmentBox = new QGroupBox(QStringLiteral("Text Alignment"), this);
    AlignmentBox->setObjectName(QStringLiteral("AlignmentBox"));
    auto *aligns = new QVBoxLayout(AlignmentBox);
    const char *alignCaptions[] = {"Left", "Centre", "Right"};
    for (int i = 0; i < 3; ++i) {
        auto *o = new QRadioButton(QLatin1String(alignCaptions[i]), AlignmentBox);
        o->setObjectName(QStringLiteral("Alignment_%1").arg(i));
        Alignment[std::size_t(i)] = o;
        aligns->addWidget(o);
        connect(o, &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                AlignmentBox->setProperty("tag", QString::number(i));
        });
    }
    Alignment[0]->setChecked(true);

    auto *fontCaption = new QLabel(QStringLiteral("Click in the box below to change the font"), this);
    FontDisplay = namedControl<QLabel>(this, "FontDisplay");
    FontDisplay->setFrameShape(QFrame::StyledPanel);
    FontDisplay->setMinimumHeight(28);
    FontDisplay->installEventFilter(this);
    QFont initial(QStringLiteral("Arial"));
    initial.setPointSizeF(12);
    setLabelFont(initial);

    ForeColour = namedControl(this, "ForeColour", QStringLiteral("ForeColour"));
    BackColour = namedControl(this, "BackColour", QStringLiteral("BackColour"));
    showColour(ForeColour, m_fore);
    showColour(BackColour, m_back);
    connect(ForeColour, &QPushButton::clicked, this, [this] {
        if (const auto c = Prompter::instance().color(this, m_fore))
            setForeColour(*c);
    });
    connect(BackColour, &QPushButton::clicked, this, [this] {
        if (const auto c = Prompter::instance().color(this, m_back))
            setBackColour(*c);
    });
    LineWidth = namedControl<QLineEdit>(this, "LineWidth", QStringLiteral("1"));
    LineWidth->setFixedWidth(48);
    Transparent = namedControl<QCheckBox>(this, "Transparent", QStringLiteral("Transparent"));
    Transparent->setChecked(state().LabelTransparent);
    connect(Transparent, &QCheckBox::toggled, this, [](bool on) { state().LabelTransparent = on; });

    Tied = new QGroupBox(QStringLiteral("Tied To"), this);
    Tied->setObjectName(QStringLiteral("Tied"));
    auto *ties = new QVBoxLayout(Tied);
    Control = namedControl<QRadioButton>(Tied, "Control", QStringLiteral("Control"));
    ImageCell = namedControl<QRadioButton>(Tied, "ImageCell", QStringLiteral("Image Cell"));
    ImageScale = namedControl<QRadioButton>(Tied, "ImageScale", QStringLiteral("Image"));
    for (QRadioButton *o : {Control, ImageCell, ImageScale})
        ties->addWidget(o);
    ImageScale->setChecked(true);

    OK = namedControl(this, "OK", QStringLiteral("OK"));
    connect(OK, &QPushButton::clicked, this, &QWidget::hide);

    auto *grid = new QGridLayout(this);
    grid->addWidget(LabelTypeBox, 0, 0, 3, 1);
    grid->addWidget(AlignmentBox, 0, 1);
    grid->addWidget(Tied, 1, 1);
    auto *look = new QGridLayout;
    look->addWidget(ForeColour, 0, 0);
    look->addWidget(BackColour, 0, 1);
    look->addWidget(new QLabel(QStringLiteral("Line Width"), this), 1, 0);
    look->addWidget(LineWidth, 1, 1);
    look->addWidget(Transparent, 2, 0, 1, 2);
    grid->addLayout(look, 2, 1);
    grid->addWidget(fontCaption, 3, 0, 1, 2);
    grid->addWidget(FontDisplay, 4, 0, 1, 2);
    grid->addWidget(OK, 5, 1, Qt::AlignRight);
}

void LabelForm::showColour(QPushButton *button, const QColor &c)
{
    button->setStyleSheet(QStringLiteral("background-color: %1; color: %2").arg(c.name(), qGray(c.rgb()) < 128 ? "white" : "black"));
}

void LabelForm::setForeColour(const QColor &c)
{
    m_fore = c;
    showColour(ForeColour, c);
}

void LabelForm::setBackColour(const QColor &c)
{
    m_back = c;
    showColour(BackColour, c);
}

void LabelForm::setLabelFont(const QFont &font)
{
    m_font = font;
    QString name = font.family();
    if (font.bold())
        name += QStringLiteral(" Bold");
    if (font.italic())
        name += QStringLiteral(" Italic");
    FontDisplay->setText(name);
    FontDisplay->setFont(font);
}

bool LabelForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FontDisplay && event->type() == QEvent::MouseButtonRelease) {
        if (const auto f = Prompter::instance().font(this, m_font))
            setLabelFont(*f);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

int LabelForm::labelType() const { return LabelTypeBox->property("tag").toString().toInt(); }

LabelForm::Tie LabelForm::tie() const
{
    return Control->isChecked() ? Tie::Control : ImageCell->isChecked() ? Tie::ImageCell : Tie::Image;
}

void LabelForm::adjustToMode(int mode)
{
    if (mode == 5) {
        if (LabelType[0]->isChecked())
            LabelType[3]->setChecked(true);
        ImageScale->setChecked(true);
    }
    LabelType[0]->setEnabled(mode == 4);
    Tied->setEnabled(mode == 4);
}

dicom::Label LabelForm::newLabel(int type) const
{
    dicom::Label l;
    l.type = type;
    l.transparent = type == dicom::Label::Text ? false : state().LabelTransparent;
    l.backColour = m_back;
    l.foreColour = m_fore;
    l.fontName = FontDisplay->text();
    l.fontSize = m_font.pointSizeF();
    bool ok = false;
    const int width = LineWidth->text().trimmed().toInt(&ok);
    l.lineWidth = ok && width > 0 ? width : 1;
    l.alignment = AlignmentBox->property("tag").toString().toInt();
    return l;
}

} // namespace orv
