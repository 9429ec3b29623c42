#pragma once

#include "platform/qt/surface.h"
#include "writer/savable_writer_document.h"

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

// Mouse key-state flags as the tools receive them with every move.
enum KeyState : unsigned {
    kLeftButton = 1,
    kRightButton = 2,
    kShiftKey = 4,
    kControlKey = 8,
    kMiddleButton = 16,
};

enum class Tool { None = 0, Line, Text, Rectangle, Eraser, Ellipse, RoundRectangle, Pen, Arc };

// The writer's canvas: shows the document's picture with or without its notes at any zoom, and
// hosts the drawing tools. The frame reaches its file, zoom, colour and print commands by id;
// drops arrive as events. Tool feedback is drawn on the drawing surface, an image the size of
// the visible area, which the window shows.
class WriterView : public QAbstractScrollArea {
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
    int lineWidth() const { return m_lineWidth; }
    // What the eraser-size box shows is set through this (the frame connects it).
    void setEraserBoxSetter(std::function<void(const QString&)> setter)
    {
        m_setEraserBoxText = std::move(setter);
    }

    // Text tool: a character typed (Backspace 8, Tab 9, Enter 13 and Escape 27 are keys, any
    // other code point joins the line), text typed or committed by an input method, the font
    // dialog, the caret.
    void onChar(char32_t code);
    // False when the text held nothing to type.
    bool onTypedText(const QString& text);
    void onFontSetting();
    // The font dialog, opened on the current font; nothing when cancelled. Tests replace it.
    void setFontChooser(std::function<std::optional<QFont>(const QFont&)> chooser)
    {
        m_chooseFont = std::move(chooser);
    }
    void NewTextLine(bool redrawFirst);
    void PlaceCaret();
    void ToggleCaret(bool removeOnly);

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

    void EndTool(bool repaint);
    void PaintPendingLayer();
    void CaptureBlackPixels();
    void MarkPenSegment(QPoint p0, QPoint p1);
    void EraseSquare(int left, int top, int right, int bottom);

    // Repaints the whole visible area at once, background included.
    void repaintNow();

    Inspection inspect() const;

    // The tools' state, as the menus and tests see it.
    bool hasPicture() const { return m_doc.hasImage(); }
    Tool activeTool() const { return m_tool; }
    int eraserHalfSize() const { return m_eraserHalfSize; }
    const std::optional<std::vector<uint8_t>>& pendingLayer() const { return m_pending; }
    const std::optional<std::vector<uint8_t>>& redoSlot() const { return m_redoSlot; }
    const QString& textLine() const { return m_textLine; }
    int caretIndex() const { return m_caretIndex; }
    bool caretShown() const { return m_caretShown; }
    bool caretBlinking() const;
    // A figure or pen stroke is being dragged, and the view scrolls after the mouse while it is
    // held past the view's edge.
    bool dragging() const { return m_dragging; }
    bool autoScrolling() const { return m_autoScrollTimer->isActive(); }
    QPoint anchorPoint() const { return m_anchor; }
    QLine caretLine() const { return QLine(m_caretTop, m_caretBottom); }
    const QFont& textFont() const { return m_font; }
    Surface& surface() { return m_surface; }
    // How many pending-layer bytes the tools have written so far; drawing must cost the size
    // of the figure, never of the picture.
    uint64_t pendingBytesWritten() const { return m_pendingWrites; }

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
    QPoint scrollPosition() const;
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
    void selectDrawingTool(Tool tool);
    void selectTextTool();
    void prepareCanvasForDrawing();
    // The text line's glyphs become note pixels of the pending layer.
    void captureTextLine();
    // Captures the line, merges the pending layer into the notes and starts an empty line.
    void mergeTextLine();
    int lineHeight() const;
    bool onTextKey(int key);
    // The text line's grapheme boundaries: where the caret may stand.
    int previousGrapheme(int index) const;
    int nextGrapheme(int index) const;
    void insertIntoLine(const QString& text);
    void removeFromLine(int from, int to);
    void moveCaret(int index);
    // Input methods compose text for the canvas only while the text tool is in hand.
    void enableTextInput(bool enable);
    void updateInputMethod();
    void selectEraser();
    void drawPreview(QPoint current);
    enum class CornerOrder { AnchorFirst, CornerFirst };
    void drawShape(QPoint corner, CornerOrder order);
    // The active shape tool's figure between two points of the surface, with the line width.
    void drawShapeOn(Surface& surface, QPoint anchor, QPoint corner, CornerOrder order) const;
    // The line, arc, rectangle, round rectangle, ellipse and pen tools.
    bool drawsFigures() const;
    // After a scroll in the middle of a drag, the preview of the figure in hand is shown again.
    void redrawPreview();
    // The pen marks a segment with the line width; the pixels it newly marks are added to
    // fresh, in client coordinates, when asked for.
    void markPenStroke(QPoint p0, QPoint p1, std::vector<QPoint>* fresh);
    // The view follows a drag held past its edge: started and stopped with each move.
    void followDrag(QPoint point, unsigned keyState);
    void autoScroll();
    void stopDrag();
    // The part of the picture in area, in picture coordinates, as the screen shows it while a
    // tool is active: with its notes and the pending layer in the note colour.
    void paintShownPicture(Surface& target, const QRect& area);
    // The pending layer, created zero-filled (discarding the redo slot) when absent.
    uint8_t* pendingLayerForDrawing();
    void markPending(int column, int row);
    // Index of an image pixel in the note and pending layers, when the client point lies on the
    // picture.
    std::optional<size_t> layerIndex(QPoint client) const;
    void renderSurface();
    // The pending layer and the redo slot were made for the picture on screen.
    bool layersFitPicture() const;
    void dropLayersOfOtherPictures();
    // Whether the tool in hand holds drawing of its own that Undo would take back.
    bool activationHasDrawing() const;
    // Redo would replace the eraser's working copy and so wipe every note outside it.
    bool canRedoActivation() const
    {
        return m_redoSlot.has_value() && layersFitPicture() && m_tool != Tool::Eraser;
    }
    // What the tool in hand draws in one go is named after it: "Rectangle", "Pen Stroke".
    const char* actionName() const;
    // Ends the figure, stroke or text line being drawn: its pixels become one action of the
    // activation, undone by itself once the tool is put down.
    void finishAction(const char* name);
    std::vector<DrawnAction> takeActions();
    // The eraser's working copy starts again from the notes as they now are.
    void restartEraserCopy();
    void afterStep();
    // Reads pure black from the surface into the pending layer, right and bottom excluded.
    void captureBox(int left, int top, int right, int bottom);
    // The final figure of a shape tool, released at the point, joins the pending layer.
    void captureFigure(QPoint release);
    void updateScrollSizes();
    QRect screenDestination();
    bool backgroundCovered() const;
    const QImage& convertedPicture();
    void flushSurface();
    void updateCursor();
    void setShowNotesAndRepaint(bool show);

    SavableWriterDocument& m_doc;
    Surface m_surface;
    std::optional<std::vector<uint8_t>> m_pending;
    std::optional<std::vector<uint8_t>> m_redoSlot;
    // The actions of the activation so far, the pixels of the one being drawn, and the actions
    // that Redo brings back with the redo slot.
    std::vector<DrawnAction> m_actions;
    std::vector<size_t> m_actionPixels;
    std::vector<DrawnAction> m_redoActions;
    bool m_showNotes = true;
    bool m_fit = false;
    bool m_caretShown = false;
    Tool m_tool = Tool::None;
    int m_eraserHalfSize = 10;
    int m_lineWidth = 1;
    int m_caretIndex = 0;
    QFont m_font;
    Rgb m_background = kDefaultBackground;
    QString m_textLine;
    QPoint m_anchor;
    QPoint m_last;
    bool m_dragging = false;
    // Where the mouse was last seen during a drag, in client coordinates.
    QPoint m_dragPoint;
    QTimer* m_autoScrollTimer;
    int m_colourCommand;
    float m_zoom = 1.0f;
    // The part of a wheel notch Ctrl+wheel has turned towards the next zoom step.
    int m_wheelZoomAngle = 0;
    QRect m_destination;
    QSize m_windowSize;
    uint64_t m_pendingWrites = 0;
    std::function<void(const QString&)> m_setEraserBoxText;
    std::function<bool(const std::string&)> m_dropHandler;
    // The picture the pending layer and the redo slot were drawn on.
    uint64_t m_layersPicture = 0;
    std::function<std::optional<QFont>(const QFont&)> m_chooseFont;
    QTimer* m_caretTimer;
    QPoint m_caretTop;
    QPoint m_caretBottom;
    // While a scroll captures the text line, the position the line was drawn at.
    std::optional<QPoint> m_scrollBefore;

    // The picture converted for painting, kept until the document's display image changes.
    QImage m_converted;
    uint64_t m_convertedGeneration = 0;
    bool m_convertedWithNotes = false;
    bool m_convertedValid = false;
    uint64_t m_conversions = 0;
    std::unique_ptr<QPrinter> m_printer;
};

} // namespace ombri::writer
