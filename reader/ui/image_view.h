#pragma once

#include "notes/render.h"
#include "platform/qt/screen_picture.h"
#include "reader/command_ids.h"
#include "reader/panes.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class QPaintDevice;
class QPainter;
class QPrinter;

namespace ombri {
class Dib;
}

namespace ombri::reader {

class ReaderDocument;

// How the picture is scaled: one of the three fit commands, or free zoom by the zoom factor.
enum class ZoomMode : int {
    Free = 0,
    FitIn = cmd::FitIn,
    FitWidth = cmd::FitWidth,
    FitHeight = cmd::FitHeight,
};

// What the placement of the picture depends on besides the picture and the zoom.
struct ViewGeometry {
    QSize client;     // the visible area, scroll bars taken off
    QSize trueClient; // the visible area as it is without scroll bars
    int verticalBarWidth = 0;
    int horizontalBarHeight = 0;
};

struct Placement {
    QRect destination; // in the scrollable area's coordinates
    float zoom = 1.0f; // the zoom factor afterwards: the fit modes compute their own
};

// Where the picture, of the size it is displayed at (rotated or not), lands in the view.
Placement placePicture(ZoomMode mode, float zoom, QSize picture, const ViewGeometry& view);

// The reader's image pane: shows the document's display picture (adjusted, with or without its
// notes) in one of four zoom modes, pans with the mouse and the wheel, prints, and opens dropped
// files. The frame reaches it through the commands it serves and its hooks; mouse, wheel, key and
// drop events do the rest. The window shows an off-screen frame image, rendered from a copy of
// the picture made ready for the screen that is kept until the picture or its colours change.
class ImageView : public QAbstractScrollArea, public ImagePane {
    Q_OBJECT

  public:
    // Where the view reaches the rest of the program. Each may be left empty.
    struct Hooks {
        // The folder tree goes to a dropped file's path.
        std::function<bool(const std::string& path)> goToPath;
        // Escape was pressed in the view.
        std::function<void()> leaveFullScreen;
        // The Delete command or key given while the view has the focus: the picture on show
        // goes to the trash.
        std::function<void()> deletePicture;
        // Left, Right or Backspace stepped off the picture on show: the next picture when
        // forward, else the previous one, as the window's own stepping commands do.
        std::function<void(bool forward)> stepPicture;
    };

    // What the view shows, as the window and the tests see it.
    struct Inspection {
        ZoomMode zoomMode = ZoomMode::FitIn;
        float zoom = 1.0f;
        bool showNotes = false;
        bool moveCursor = false;
        // The part scrolled off and the visible area, in the window's logical pixels as the
        // scroll bars count them.
        QPoint scroll;
        QSize client;
        // The same counted in screen pixels, and the picture's place in the scrollable area by
        // the last layout. On a scaled display one logical pixel is several screen pixels: at
        // Original Size a picture pixel is one screen pixel, so that one-pixel note strokes stay
        // one pixel wide.
        double deviceScale = 1.0;
        QPoint deviceScroll;
        QSize deviceClient;
        QRect destination;
        // What the window shows, one image pixel per screen pixel.
        QImage frame;
        // How often the picture was made ready for the screen: once per change of the picture
        // or its colours, never per paint, turn, zoom or notes toggle.
        uint64_t pictureConversions = 0;
        // What the last frame says in place of a picture that could not be shown; empty when
        // it says nothing.
        QString message;
    };

    static constexpr ColourRef kDefaultBackground = makeColourRef(128, 128, 255);

    // The commands the view serves, for the frame's command table.
    static constexpr int kCommands[] = {
        cmd::DisplayNotes, cmd::OriginalSize,     cmd::ZoomIn,    cmd::ZoomOut,
        cmd::FitIn,        cmd::FitWidth,         cmd::FitHeight, cmd::ColourSelected,
        cmd::ColourWhite,  cmd::ColourBlack,      cmd::ColourRed, cmd::ColourGreen,
        cmd::ColourBlue,   cmd::ColourComplement, cmd::Delete,    cmd::Print,
        cmd::PrintPreview,
    };

    // Registers itself with the document as its image pane; the document must outlive the view.
    explicit ImageView(ReaderDocument& document, QWidget* parent = nullptr);
    ~ImageView() override;

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    // ImagePane: what the document asks of its image view.
    bool showNotes() const override { return m_showNotes; }
    void setShowNotes(bool show) override;
    void redrawNow(Background background) override;
    void invalidate() override;

    // Runs any of kCommands; false for other ids. Fit In, Fit Width and Fit Height given again
    // return to free zoom at 1.0.
    bool onCommand(int command);
    // Whether the command's menu item carries a check mark at times.
    static bool isCheckableCommand(int command);
    bool isCommandEnabled(int command) const;
    bool isCommandChecked(int command) const;

    // The printer Print, Print Preview and Print Setup share, so that the page chosen in Print
    // Setup is the one printed.
    QPrinter& printer();
    // Paints the page as Print and Print Preview do: the display picture across the printable
    // width, centred vertically. Any paint device will do; a printer's page is one.
    void printPicture(QPaintDevice& page);

    // The colour painted around the picture; the settings give it at start.
    ColourRef backgroundColour() const { return m_background; }
    void setBackgroundColour(ColourRef colour);

    // Whether pictures below 100% are shrunk by averaging (the default) or show every screen
    // pixel as one picture pixel, as at and above 100%; the settings give it at start.
    bool smoothShrinking() const { return m_smoothShrinking; }
    void setSmoothShrinking(bool smooth);

    Inspection inspect() const;

  signals:
    // A dropped file was opened.
    void pictureOpened(const QString& path);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    static bool isViewCommand(int command);
    bool hasPicture() const;
    QPoint scrollPosition() const;
    QSize clientSize() const;
    double deviceScale() const;
    QSize deviceClientSize() const;
    QPoint deviceScrollPosition() const;
    bool showsMoveCursor() const;

    // Repaints at once without painting the background first: for changes that keep the
    // picture's place, so nothing flickers.
    void RedrawWithoutErase();

    void onDisplayNotes();
    void onOriginalSize();
    void onZoomIn();
    void onZoomOut();
    void onFitCommand(ZoomMode mode);
    // White, Black, Red, Green, Blue and Complement.
    void onNoteColourCommand(int command);
    void onSelectedColour();
    void onDelete();
    void onPrint();
    void onPrintPreview();

    void onLButtonDown(QPoint point);
    void onMouseMove(QPoint point, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
    // delta in the wheel's units, 120 a notch, positive turned away from the user.
    void onMouseWheel(int delta);
    // Ctrl with the wheel: a zoom step for each notch, the picture's point under the pointer
    // (in the viewport's logical pixels) staying under it.
    void onZoomWheel(int delta, QPointF pointer);
    void zoomAbout(float factor, QPointF pointer);
    // Scrolls by the distance, as far as the scroll range allows; false when nothing moved.
    bool OnScrollBy(QSize distance);
    // Left and Right scroll a picture wider than the view and step only from its edge.
    bool onSideKey(bool forward);
    // A key of the view; true when it must not be passed on.
    bool onKeyDown(int key, Qt::KeyboardModifiers modifiers);
    // Only the first of the dropped files is opened, and only a local one: the folder tree goes
    // to it, then the document opens it. False when it could not be opened.
    bool onDropUrls(const QList<QUrl>& urls);
    bool onDropFile(const std::string& path);

    // What the picture made ready for the screen was made from: the picture, its colour
    // adjustments and whether its see-through pixels are shown.
    struct ScreenSource {
        uint64_t picture = 0;
        int32_t code = 0;
        uint16_t colourFlags = 0;
        bool transparency = false;
        bool operator==(const ScreenSource& other) const
        {
            return picture == other.picture && code == other.code &&
                   colourFlags == other.colourFlags && transparency == other.transparency;
        }
    };

    // The whole display copy as printing puts it on paper.
    QImage printedPicture(const Dib& display) const;
    // The picture made ready for the screen, made again only when the picture or its colours
    // change: turns, flips, notes and zoom are applied as each frame is rendered.
    ScreenPicture& screenPicture();
    ScreenFrame frameRequest() const;
    ViewGeometry geometry() const;
    void layoutPicture();
    void renderFrame();
    // Says in the middle of the frame why the file chosen is not on show.
    void drawUnshownReason(QPainter& painter);
    void repaintNow();
    bool backgroundCovered() const;
    void updateCursor();

    ReaderDocument& m_doc;
    Hooks m_hooks;
    ZoomMode m_zoomMode = ZoomMode::FitIn;
    float m_zoom = 1.0f;
    ColourRef m_background = kDefaultBackground;
    bool m_eraseBackground = true;
    bool m_showNotes = false;
    QPoint m_lastPoint;
    // Turns of a fine-grained wheel with Ctrl held, short of a whole notch.
    int m_zoomWheelTurned = 0;

    QRect m_destination;
    QSize m_pictureSize; // as displayed, rotations included
    bool m_layingOut = false;
    bool m_layoutAgain = false;
    // The screen scale the picture was last placed for: a window moved to a screen of another
    // scale places it again, as the fit modes count device pixels.
    double m_laidOutScale = 0;
    bool m_placeAgainQueued = false;

    QImage m_frame;
    bool m_frameStale = true;

    ScreenPicture m_screen;
    std::optional<ScreenSource> m_screenFrom;
    bool m_smoothShrinking = true;
    uint64_t m_conversions = 0;
    QString m_message; // what the frame says in place of a picture
    std::unique_ptr<QPrinter> m_printer;
};

} // namespace ombri::reader
