#include "reader/ui/customize_dialog.h"
#include "reader/ui/qt_colour.h"

#include "platform/prompt.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace ombri::reader {

namespace {

Rgb toRgb(ColourRef colour)
{
    return Rgb{static_cast<uint8_t>(colour & 0xFF), static_cast<uint8_t>((colour >> 8) & 0xFF),
               static_cast<uint8_t>((colour >> 16) & 0xFF)};
}

} // namespace

// --- ColourSwatch ---

ColourSwatch::ColourSwatch(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void ColourSwatch::setColour(ColourRef colour)
{
    m_colour = colour;
    update();
}

// Twelve by eleven dialog units of the dialog's 8-point font.
QSize ColourSwatch::sizeHint() const
{
    return QSize(18, 18);
}

void ColourSwatch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(m_colour));
}

// --- CustomizeDialog ---

CustomizeDialog::CustomizeDialog(Prompt& prompt, Panes panes, QWidget* parent)
    : QDialog(parent), m_prompt(prompt), m_panes(std::move(panes))
{
    setWindowTitle(QStringLiteral("Customize ..."));

    auto* swatches = new QGridLayout;
    swatches->setHorizontalSpacing(10);
    swatches->setVerticalSpacing(16);
    auto addRow = [&](int row, const char* label, Swatch which) {
        auto* button = new ColourSwatch(this);
        button->setFixedSize(button->sizeHint());
        connect(button, &QAbstractButton::clicked, this, [this, which] { chooseColour(which); });
        swatches->addWidget(button, row, 0);
        swatches->addWidget(new QLabel(QString::fromLatin1(label), this), row, 1);
        return button;
    };
    m_left = addRow(0, "Background Color on the Tree View (Left)", Swatch::Left);
    m_middle = addRow(1, "Background Color on the List View (Middle)", Swatch::Middle);
    m_right = addRow(2, "Background Color on the Image View (Right)", Swatch::Right);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 14);
    layout->addLayout(swatches);
    layout->addSpacing(16);
    layout->addLayout(buttons);

    // The dialog shows what the panes have now, not what the settings file says.
    m_left->setColour(m_panes.treeColour());
    m_middle->setColour(m_panes.listColour());
    m_right->setColour(m_panes.imageColour());
}

ColourSwatch* CustomizeDialog::swatchButton(Swatch swatch) const
{
    switch (swatch) {
    case Swatch::Left:
        return m_left;
    case Swatch::Middle:
        return m_middle;
    case Swatch::Right:
        break;
    }
    return m_right;
}

ColourRef CustomizeDialog::colour(Swatch swatch) const
{
    return swatchButton(swatch)->colour();
}

bool CustomizeDialog::chooseColour(Swatch swatch)
{
    const ColourRef current = colour(swatch);
    const std::optional<Rgb> chosen = m_prompt.chooseColour(toRgb(current));
    if (!chosen)
        return false;
    const ColourRef picked = makeColourRef(chosen->red, chosen->green, chosen->blue);
    if (picked == current)
        return false;
    applyColour(swatch, picked);
    swatchButton(swatch)->setColour(picked);
    return true;
}

void CustomizeDialog::applyColour(Swatch swatch, ColourRef colour)
{
    switch (swatch) {
    case Swatch::Left:
        m_panes.setTreeColour(colour);
        break;
    case Swatch::Middle:
        m_panes.setListColour(colour);
        // The tree and the list share their small icons, whose background follows the colour
        // last set; setting the tree's own colour again gives the tree's icons theirs back.
        m_panes.setTreeColour(m_panes.treeColour());
        break;
    case Swatch::Right:
        m_panes.setImageColour(colour);
        break;
    }
}

ReaderSettings CustomizeDialog::paneColours() const
{
    return ReaderSettings{m_panes.treeColour(), m_panes.listColour(), m_panes.imageColour()};
}

void CustomizeDialog::accept()
{
    if (m_panes.save)
        m_panes.save(paneColours());
    QDialog::accept();
}

} // namespace ombri::reader
