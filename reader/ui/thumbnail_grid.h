#pragma once

#include <QListView>

namespace ombri::reader {

class FileList;

// The file list's thumbnail mode: the same rows as the details table, as a grid of thumbnails
// with the name below and a badge on the pictures that carry notes. It shares the table's
// model and selection, and hands clicks, double clicks and renames to the list, so the current
// file, stepping and the folder tree behave the same in both modes.
class ThumbnailGrid : public QListView {
    Q_OBJECT
  public:
    // The side of the square each thumbnail is drawn in, in logical pixels.
    static constexpr int kThumbnailSide = 128;

    // Attaches itself to the list; the list must outlive it.
    ThumbnailGrid(FileList& list, QWidget* parent = nullptr);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    FileList& m_list;
};

} // namespace ombri::reader
