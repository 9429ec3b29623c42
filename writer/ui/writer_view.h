#pragma once

#include "platform/qt/screen_picture.h"
#include "platform/qt/surface.h"
#include "writer/savable_writer_document.h"
#include "writer/ui/canvas_tool.h"
#include "writer/ui/eraser_tool.h"
#include "writer/ui/pending_drawing.h"
#include "writer/ui/shape_tools.h"
#include "writer/ui/text_tool.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QImage>
#include <QLine>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPrinter;

namespace ombri::writer {

// The writer's canvas: shows the document's picture with or without its notes at any zoom, and
// hosts the drawing tools. The frame reaches its file, zoom, colour and print commands by id;
// drops arrive as events. Tool feedback is drawn on the drawing surface, an image the size of
// the visible area, which the window shows. Each tool keeps its own state; the view keeps the
// coordinates, the painting and which tool is in hand.
class WriterView : public QAbstractScrollArea, private ToolCanvas {
    Q_OBJECT

  public:
    static constexpr Rgb kDefaultBackground{128, 128, 255};

    // What the view shows, as the menus and the tests see it.
    struct Inspection {
        float zoom = 1.0f;
        bool fit = false;
        bool showNotes = true;
        // The Color menu's item that chose the note colour.
        int colourCommand = 0;
        Rgb background = kDefaultBackground;
        bool moveCursor = false;
        QPoint scroll;
        QSize client;
        // The picture's place on the screen by the last paint.
        QRect destination;
        // How often the picture was converted for painting: once per change, not once per
        // paint.
        uint64_t pictureConversions = 0;
        // The tools: which one is in hand, what it shows, and the settings they keep.
        Tool tool = Tool::None;
        ToolState toolState;
        int lineWidth = 1;
        int eraserHalfSize = EraserTool::kDefaultHalfSize;
        QFont textFont;
        bool autoScrolling = false;
        // The drawing in hand and the one Redo would bring back, made for the picture on
        // show; never null.
        const PendingDrawing::Layer* pending = nullptr;
        const PendingDrawing::Layer* redo = nullptr;
        // How many pending-layer bytes the tools have written so far; drawing must cost the
        // size of the figure, never of the picture.
        uint64_t pendingBytesWritten = 0;
    };

    explicit WriterView(SavableWriterDocument& document, QWidget* parent = nullptr);
    ~WriterView() override;

    // Runs a file, view, colour or print command: Save, the Save As commands, Save Clean Copy,
    // Import and Export Notes, Close, Print, Print Preview, Display Notes, the zoom commands and
    // the Color menu. False for other ids.
    bool onCommand(int command);
    // The printer Print, Print Preview and Print Setup share, so that the page chosen in Print
    // Setup is the one printed.
    QPrinter& printer();
    // Paints the page as Print and Print Preview do, on a printer that is ready to print.
    void printPicture(QPrinter& printer);
    enum class OpenOutcome { Opened, Kept, Unreadable };
    // Opens a picture in place of the one on show. The file is read and checked first: one that
    // cannot be opened is reported and leaves the picture, its notes, the drawing in hand and the
    // modified flag as they were, with no question about changes it would not replace. Only then
    // does mayReplace ask about unsaved changes; false from it keeps the picture on show.
    OpenOutcome openPicture(const std::string& path, const std::function<bool()>& mayReplace);
    // The Yes of a question about unsaved changes: File Save, or Save As (Lossless) when the
    // picture's own file would keep none of its notes. True when nothing is left unsaved.
    bool saveForQuestion();
    // What a drop on the canvas does; the frame asks its save question first, as File Open
    // does. Without one the view opens the file itself.
    void setDropHandler(std::function<bool(const std::string&)> handler)
    {
        m_dropHandler = std::move(handler);
    }
    // The document's picture was replaced, closed or emptied: drawing kept for the old one goes,
    // and the new one is shown from its top-left corner.
    void pictureReplaced();

    // Tools.
    void onToolCommand(int command);
    void onLButtonDown(QPoint point, unsigned keyState = kLeftButton);
    void onMouseMove(QPoint point, unsigned keyState);
    void onLButtonUp(QPoint point, unsigned keyState = 0);
    // A key of the view; false when it was not the view's.
    bool onKeyDown(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // The eraser-size box: the selected item's text or the edited text.
    void onEraserSizeText(const QString& text);
    // The width in pixels of the lines the line, arc, rectangle, round rectangle, ellipse and pen
    // tools draw: one of kLineWidths; any other width is taken as 1.
    static constexpr int kLineWidths[] = {1, 2, 3, 5, 8};
    void setLineWidth(int width);
    int lineWidth() const override { return m_lineWidth; }
    // What the eraser-size box shows is set through this (the frame connects it).
    void setEraserBoxSetter(std::function<void(const QString&)> setter)
    {
        m_setEraserBoxText = std::move(setter);
    }

    // Text tool: a character typed (Backspace 8, Tab 9, Enter 13 and Escape 27 are keys, any
    // other code point joins the line), text typed or committed by an input method, the font
    // dialog.
    void onChar(char32_t code);
    // False when the text held nothing to type.
    bool onTypedText(const QString& text);
    void onFontSetting();
    // The font dialog, opened on the current font; nothing when cancelled. Tests replace it.
    void setFontChooser(std::function<std::optional<QFont>(const QFont&)> chooser)
    {
        m_chooseFont = std::move(chooser);
    }

    // Edit menu.
    void onUndo();
    void onRedo();
    void onCut();
    void onCopy();
    void onPaste();
    void onClearAll();
    // Undo takes back the drawing of the tool in hand first, all of it at once; once that is
    // gone, or no tool is in hand, it steps back through the document's earlier steps.
    bool canUndo() const { return activationHasDrawing() || m_doc.canUndoStep(); }
    // Redo steps forward through the steps undone, then brings back the tool's drawing.
    bool canRedo() const { return m_doc.canRedoStep() || canRedoActivation(); }
    // What Undo and Redo would take back or bring back, for their menu texts: "Rectangle",
    // "Clear All"; empty when there is nothing.
    QString undoName() const;
    QString redoName() const;

    // Puts the tool in hand down: its drawing joins the notes.
    void EndTool(bool repaint);

    // Repaints the whole visible area at once, background included.
    void repaintNow() override;

    Inspection inspect() const;

    bool hasPicture() const { return m_doc.hasImage(); }
    Tool activeTool() const { return m_tool; }
    Surface& surface() override { return m_surface; }

  signals:
    // The document's picture or path changed (the frame updates its title).
    void documentChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    bool focusNextPrevChild(bool next) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    // What the tools reach of the canvas.
    WriterDocument& document() override { return m_doc; }
    PendingDrawing& drawing() override { return m_drawing; }
    QPoint scrollPosition() const override;
    void flushSurface() override;
    void paintShownPicture(Surface& target, const QRect& area) override;
    void textInputMoved() override;

    QSize clientSize() const;
    bool showsMoveCursor() const;

    void onDisplayNotes();
    void onOriginalSize();
    void onZoomIn();
    void onZoomOut();
    void onFitIn();
    void onNoteColourCommand(int command); // Red, Black, White, Green, Blue
    void onSelectedColour();
    void onBackgroundColour();
    bool OnSave();
    bool onSaveAsLossless();
    bool onSaveAsCompressed();
    // The picture without its notes under a new name; the document stays as it is.
    bool onSaveCleanCopy();
    // The notes to and from mask pictures; false when nothing was written or added.
    bool onExportNotes();
    bool onImportNotes();
    // The close prompt; false when the user keeps the picture (Cancel, or a failed save).
    bool onCloseImage();
    void onPrint();
    void onPrintPreview();
    // Opens the first of the dropped files through the drop handler; false when nothing was
    // opened.
    bool onDropUrls(const QList<QUrl>& urls);
    bool onDropFile(const std::string& path);
    // The question about a drawing still in the tool's hands before a drop replaces the picture;
    // false when the user keeps the picture.
    bool mayDropReplace();
    // Takes up a tool, or puts it down when it is the one in hand.
    void takeUpTool(Tool tool);
    void prepareCanvasForDrawing();
    // Input methods compose text for the canvas only while the text tool is in hand.
    void enableTextInput(bool enable);
    // The view follows a drag held past its edge: started and stopped with each move.
    void followDrag(QPoint point, unsigned keyState);
    void autoScroll();
    void stopDrag();
    void PaintPendingLayer();
    void renderSurface();
    // Whether the tool in hand holds drawing of its own that Undo would take back.
    bool activationHasDrawing() const;
    // Redo would replace the eraser's working copy and so wipe every note outside it.
    bool canRedoActivation() const { return m_drawing.canRedo() && m_tool != Tool::Eraser; }
    // A step of the document was undone or redone.
    void afterStep();
    void updateScrollSizes();
    QRect screenDestination();
    bool backgroundCovered() const;
    const QImage& convertedPicture();
    // Below 100% with no tool in hand the canvas only looks at the picture, and shows it shrunk
    // by area averaging with every note kept, as the reader does; the tools need each picture
    // pixel where the mouse can reach it, so with one in hand nothing is averaged.
    bool showsShrunkPicture() const;
    ScreenPicture& screenPicture();
    ScreenFrame frameRequest(QPoint scroll) const;
    void updateCursor();
    void setShowNotesAndRepaint(bool show);

    SavableWriterDocument& m_doc;
    Surface m_surface;
    PendingDrawing m_drawing;
    TextTool m_text;
    ShapeTool m_shapes;
    PenTool m_pen;
    EraserTool m_eraser;
    Tool m_tool = Tool::None;
    // The tool in hand; null with none.
    CanvasTool* m_active = nullptr;
    bool m_showNotes = true;
    bool m_fit = false;
    int m_lineWidth = 1;
    Rgb m_background = kDefaultBackground;
    // Where the mouse was last seen while panning or during a drag, in client coordinates.
    QPoint m_panLast;
    QPoint m_dragPoint;
    QTimer* m_autoScrollTimer;
    int m_colourCommand;
    float m_zoom = 1.0f;
    // The part of a wheel notch Ctrl+wheel has turned towards the next zoom step.
    int m_wheelZoomAngle = 0;
    QRect m_destination;
    QSize m_windowSize;
    std::function<void(const QString&)> m_setEraserBoxText;
    std::function<bool(const std::string&)> m_dropHandler;
    std::function<std::optional<QFont>(const QFont&)> m_chooseFont;
    // While a scroll captures the text line, the position the line was drawn at.
    std::optional<QPoint> m_scrollBefore;

    // The picture converted for painting, kept until the document's display image changes.
    QImage m_converted;
    uint64_t m_convertedGeneration = 0;
    bool m_convertedWithNotes = false;
    bool m_convertedValid = false;
    uint64_t m_conversions = 0;
    // The picture and its notes made ready for shrinking, kept until the display image changes
    // or the note layer is replaced; it reads the note layer in place.
    ScreenPicture m_screen;
    uint64_t m_screenGeneration = 0;
    const uint8_t* m_screenNotes = nullptr;
    bool m_screenValid = false;
    std::unique_ptr<QPrinter> m_printer;
};

} // namespace ombri::writer
