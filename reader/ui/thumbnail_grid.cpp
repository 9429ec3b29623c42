#include "reader/ui/thumbnail_grid.h"

#include "reader/ui/file_list.h"
#include "reader/ui/label_edit_delegate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <utility>

namespace ombri::reader {

namespace {

constexpr int kCellMargin = 8;
constexpr int kBadgeSide = 18;
// A small thumbnail's cell is still wide enough for a short name.
constexpr int kNameChars = 12;
// One notch of a common mouse wheel, in the eighths of a degree wheel events count in.
constexpr int kWheelNotch = 120;

// Draws the thumbnails as the base delegate does, with the badge of a picture carrying notes in
// the top right corner of its thumbnail square: a note sheet with three written lines, the
// program's sign for notes. The selected cell gets a frame and a light background; its picture
// is drawn as it is, since a tinted thumbnail no longer shows the picture's colours.
class ThumbnailDelegate : public LabelEditDelegate {
  public:
    ThumbnailDelegate(ThumbnailGrid& grid, Commit commit)
        : LabelEditDelegate(&grid, std::move(commit)), m_grid(grid)
    {
    }

    // Every cell alike: the picture centred in a square of the thumbnail size, its name in two
    // lines below, so that names line up along each row of the grid whatever the pictures' shapes.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return cellSize(option.fontMetrics, m_grid.thumbnailSide());
    }

    static QSize cellSize(const QFontMetrics& metrics, int side)
    {
        const int width = std::max(side, kNameChars * metrics.averageCharWidth());
        return QSize(width + kCellMargin, side + kCellMargin + 2 * metrics.lineSpacing());
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem unselected(option);
        if (option.state & QStyle::State_Selected) {
            paintSelectionFrame(painter, option);
            unselected.state &= ~QStyle::State_Selected;
        }
        LabelEditDelegate::paint(painter, unselected, index);
        if (index.data(FileListModel::CarriesNotesRole).toBool())
            paintBadge(painter, option, index);
    }

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        LabelEditDelegate::initStyleOption(option, index);
        const int side = m_grid.thumbnailSide();
        option->decorationSize = QSize(side, side);
        option->decorationAlignment = Qt::AlignCenter;
        option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
    }

  private:
    static void paintSelectionFrame(QPainter* painter, const QStyleOptionViewItem& option)
    {
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        const QColor frame = option.palette.color(group, QPalette::Highlight);
        QColor background = frame;
        background.setAlpha(40);
        const QRectF cell = QRectF(option.rect).adjusted(1, 1, -1, -1);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(QPen(frame, 2));
        painter->setBrush(background);
        painter->drawRoundedRect(cell, 4, 4);
        painter->restore();
    }

    void paintBadge(QPainter* painter, const QStyleOptionViewItem& option,
                    const QModelIndex& index) const
    {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QStyle* style = item.widget ? item.widget->style() : QApplication::style();
        const QRect square =
            style->subElementRect(QStyle::SE_ItemViewItemDecoration, &item, item.widget);
        // The badge sits in the corner of the picture itself, which is centred in its square.
        QRect picture(QPoint(), item.icon.actualSize(square.size()));
        picture.moveCenter(square.center());
        const QRectF badge(picture.right() - kBadgeSide - 2, picture.top() + 2, kBadgeSide,
                           kBadgeSide);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        QPainterPath sheet;
        sheet.addRoundedRect(badge, 3, 3);
        painter->fillPath(sheet, QColor(255, 196, 0));
        painter->setPen(QPen(QColor(90, 60, 0), 1.2));
        painter->drawPath(sheet);
        for (int line = 0; line < 3; ++line) {
            const qreal y = badge.top() + 5 + line * 4;
            painter->drawLine(QPointF(badge.left() + 4, y), QPointF(badge.right() - 4, y));
        }
        painter->restore();
    }

    const ThumbnailGrid& m_grid;
};

} // namespace

int ThumbnailGrid::thumbnailSide(ThumbnailScale scale)
{
    switch (scale) {
    case ThumbnailScale::Small:
        return 64;
    case ThumbnailScale::Medium:
        break;
    case ThumbnailScale::Large:
        return 192;
    }
    return 128;
}

ThumbnailGrid::ThumbnailGrid(FileList& list, QWidget* parent) : QListView(parent), m_list(list)
{
    setObjectName(QStringLiteral("thumbnailGrid"));
    setModel(list.model());
    setSelectionModel(list.selectionModel());
    setModelColumn(FileListModel::NameColumn);
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWrapping(true);
    setWordWrap(true);
    setTextElideMode(Qt::ElideMiddle);
    // A wheel notch moves the grid by part of a row, never by whole rows at once.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Every cell the same size: the grid lays out ten thousand files from the first one.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setItemDelegate(
        new ThumbnailDelegate(*this, [this](const QModelIndex& index, const QString& text) {
            m_list.endLabelEdit(index.row(), text);
        }));
    setDragEnabled(false);
    layOutCells();
    m_list.attachThumbnailGrid(this);
}

void ThumbnailGrid::setThumbnailScale(ThumbnailScale scale)
{
    const bool changed = scale != m_scale;
    m_scale = scale;
    layOutCells();
    if (changed) {
        m_list.thumbnailSideChanged();
        emit scaleChanged(scale);
    }
}

void ThumbnailGrid::layOutCells()
{
    const int side = thumbnailSide();
    m_followCurrent = true;
    setIconSize(QSize(side, side));
    setGridSize(ThumbnailDelegate::cellSize(fontMetrics(), side) + QSize(kCellMargin, kCellMargin));
}

int ThumbnailGrid::widthForColumns(int columns) const
{
    // The grid keeps room for its scroll bar while laying out, shown or not, and wants a little
    // more than the cells' own width before it puts another one on a row.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return columns * gridSize().width() + 2 * frameWidth() + scrollBar + kCellMargin;
}

void ThumbnailGrid::doItemsLayout()
{
    QListView::doItemsLayout();
    if (m_followCurrent) {
        m_followCurrent = false;
        keepCurrentInSight();
    }
}

void ThumbnailGrid::keepCurrentInSight()
{
    const QModelIndex current = currentIndex();
    if (current.isValid())
        scrollTo(current);
}

void ThumbnailGrid::resizeEvent(QResizeEvent* event)
{
    // The cells flow again into the new width, which may leave the current one far from where
    // the user saw it: once they are laid out, it is brought back into sight.
    m_followCurrent = true;
    QListView::resizeEvent(event);
    scheduleDelayedItemsLayout();
}

void ThumbnailGrid::updateGeometries()
{
    QListView::updateGeometries();
    // The wheel turns by the desktop's lines per notch: a notch then moves a third of a row.
    const int lines = std::max(1, QApplication::wheelScrollLines());
    verticalScrollBar()->setSingleStep(std::max(1, gridSize().height() / (3 * lines)));
}

void ThumbnailGrid::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QListView::wheelEvent(event);
        return;
    }
    // Ctrl and the wheel change the thumbnails' size, a step a notch, as in other browsers.
    event->accept();
    m_scaleTurn += event->angleDelta().y();
    const int notches = m_scaleTurn / kWheelNotch;
    if (notches == 0)
        return;
    m_scaleTurn -= notches * kWheelNotch;
    const int scale =
        std::clamp(static_cast<int>(m_scale) + notches, static_cast<int>(ThumbnailScale::Small),
                   static_cast<int>(ThumbnailScale::Large));
    setThumbnailScale(static_cast<ThumbnailScale>(scale));
}

void ThumbnailGrid::keyPressEvent(QKeyEvent* event)
{
    if (FileList::isImageSteppingKey(event->key())) {
        event->ignore();
        return;
    }
    if (!m_list.takeDeleteKey(event))
        QListView::keyPressEvent(event);
}

void ThumbnailGrid::mousePressEvent(QMouseEvent* event)
{
    m_list.pressIn(*this, event);
}

void ThumbnailGrid::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

void ThumbnailGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (!FileList::swallowsDrag(event))
        QListView::mouseMoveEvent(event);
}

void ThumbnailGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!m_list.doubleClickIn(*this, event))
        QListView::mouseDoubleClickEvent(event);
}

} // namespace ombri::reader
