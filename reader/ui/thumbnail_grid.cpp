#include "reader/ui/thumbnail_grid.h"

#include "reader/ui/file_list.h"
#include "reader/ui/label_edit_delegate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace ombri::reader {

namespace {

constexpr int kCellMargin = 8;
constexpr int kBadgeSide = 18;

// Draws the thumbnails as the base delegate does, with the badge of a picture carrying notes in
// the top right corner of its thumbnail square: a note sheet with three written lines, the
// program's sign for notes.
class ThumbnailDelegate : public LabelEditDelegate {
  public:
    using LabelEditDelegate::LabelEditDelegate;

    // Every cell alike: the picture centred in a square of the thumbnail size, its name in two
    // lines below, so that names line up along each row of the grid whatever the pictures' shapes.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        return cellSize(option.fontMetrics);
    }

    static QSize cellSize(const QFontMetrics& metrics)
    {
        const int side = ThumbnailGrid::kThumbnailSide;
        return QSize(side + kCellMargin, side + kCellMargin + 2 * metrics.lineSpacing());
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        LabelEditDelegate::paint(painter, option, index);
        if (!index.data(FileListModel::CarriesNotesRole).toBool())
            return;
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

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        LabelEditDelegate::initStyleOption(option, index);
        const int side = ThumbnailGrid::kThumbnailSide;
        option->decorationSize = QSize(side, side);
        option->decorationAlignment = Qt::AlignCenter;
        option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
    }
};

} // namespace

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
    // Every cell the same size: the grid lays out ten thousand files from the first one.
    setUniformItemSizes(true);
    setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    setGridSize(ThumbnailDelegate::cellSize(fontMetrics()) + QSize(kCellMargin, kCellMargin));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::EditKeyPressed);
    setItemDelegate(
        new ThumbnailDelegate(this, [this](const QModelIndex& index, const QString& text) {
            m_list.endLabelEdit(index.row(), text);
        }));
    setDragEnabled(false);
    m_list.attachThumbnailGrid(this);
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
