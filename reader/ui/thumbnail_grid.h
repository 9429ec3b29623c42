#pragma once

#include <QListView>

namespace ombri::reader {

class FileList;

// How large the grid draws its thumbnails; the user's choice, kept between runs.
enum class ThumbnailScale { Small, Medium, Large };

// The file list's thumbnail mode: the same rows as the details table, as a grid of thumbnails
// with the name below and a badge on the pictures that carry notes. It shares the table's
// model and selection, and hands clicks, double clicks and renames to the list, so the current
// file, stepping and the folder tree behave the same in both modes.
class ThumbnailGrid : public QListView {
    Q_OBJECT
  public:
    // The side of the square a thumbnail of each scale is drawn in, in logical pixels.
    static int thumbnailSide(ThumbnailScale scale);

    // Attaches itself to the list; the list must outlive it.
    ThumbnailGrid(FileList& list, QWidget* parent = nullptr);

    ThumbnailScale thumbnailScale() const { return m_scale; }
    int thumbnailSide() const { return thumbnailSide(m_scale); }
    // Lays the cells out again for the scale, keeping the current file in sight; scaleChanged is
    // sent when the scale is another one.
    void setThumbnailScale(ThumbnailScale scale);
    // The width the pane needs to show this many columns of cells beside the scroll bar.
    int widthForColumns(int columns) const;
    void doItemsLayout() override;

  signals:
    void scaleChanged(ThumbnailScale scale);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;

  private:
    void layOutCells();
    void keepCurrentInSight();

    FileList& m_list;
    ThumbnailScale m_scale = ThumbnailScale::Medium;
    // The next layout brings the current file into sight: the cells moved under the user.
    bool m_followCurrent = false;
    // Ctrl and a wheel that turns in small steps: the turn so far, until it makes a notch.
    int m_scaleTurn = 0;
};

} // namespace ombri::reader
