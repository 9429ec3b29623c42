#pragma once

#include <optional>
#include <string>

namespace ombri::reader {

// What the reader document needs from the panes of the main window. The document holds no
// widget: the panes register themselves with it and implement these, and tests use fakes.

// The folder tree on the left.
class TreePane {
  public:
    virtual ~TreePane() = default;
    // Prepares the file icons the tree shows; done once, before the first picture is shown.
    virtual bool attachSystemImageList() = 0;
    // Expands the tree along the path and selects it; selecting a file opens it through the
    // document's OpenImagePath. False when the path is not in the tree.
    virtual bool GoToPath(const std::string& path) = 0;
};

// The file list in the middle.
class ListPane {
  public:
    virtual ~ListPane() = default;
    virtual bool isVisible() const = 0;
    // Move the list's selection one file back or forward and answer the newly selected file's
    // full path, without opening it; nothing when there is no such file.
    virtual std::optional<std::string> SelectPreviousFile() = 0;
    virtual std::optional<std::string> SelectNextFile() = 0;
};

// Whether a repaint paints the background around the picture first. Keep avoids flicker when
// the picture keeps its place; a picture whose displayed size changes needs Erase.
enum class Background { Erase, Keep };

// The image view on the right.
class ImagePane {
  public:
    virtual ~ImagePane() = default;
    // Whether the view asks for the picture with its notes.
    virtual bool showNotes() const = 0;
    virtual void setShowNotes(bool show) = 0;
    // Repaints at once.
    virtual void redrawNow(Background background) = 0;
    // Marks the whole view, background included, for the next paint.
    virtual void invalidate() = 0;
};

// The desktop outside the program; the Home Page command opens the web browser through it.
class DesktopServices {
  public:
    virtual ~DesktopServices() = default;
    virtual void openUrl(const std::string& url) = 0;
};

} // namespace ombri::reader
