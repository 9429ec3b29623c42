#pragma once

#include "writer/ui/canvas_tool.h"

#include <QTimer>

namespace ombri::writer {

// The text tool: one line at a time typed onto the picture, drawn black on white so that its
// glyphs can be read back as note pixels when the line is finished. The caret moves by
// grapheme, so a letter with its accents or a character outside the basic plane is one step.
class TextTool : public CanvasTool {
  public:
    explicit TextTool(ToolCanvas& canvas, const QFont& font);

    // Before any click the first line starts at the top-left corner of the visible picture.
    void takeUp();

    std::string actionName() const override { return "Text"; }
    void press(QPoint point) override;
    void move(QPoint, unsigned) override {}
    void release(QPoint) override {}
    // Left, Right, Home, End and Delete.
    bool key(int key) override;
    // A line being typed is captured where it was drawn, before the picture moves under it.
    void scrolling(QPoint delta) override;
    void paintOver() override;
    bool hasDrawing() const override;
    void undo() override;
    void discard() override;
    bool putDown(bool repaintAsked) override;
    void describe(ToolState& state) const override;

    // A character typed: Backspace 8, Tab 9, Enter 13 and Escape 27 are keys, any other code
    // point joins the line.
    void onChar(char32_t code);
    // Text typed or committed by an input method; false when it held nothing to type.
    bool type(const QString& text);
    // An input method replaced part of the line and committed text.
    void inputMethod(int replacementStart, int replacementLength, const QString& commit);
    // Pasted text goes to the start of the line; each line end of it finishes a line.
    void paste(const QString& text);

    const QFont& font() const { return m_font; }
    void setFont(const QFont& font);
    const QString& line() const { return m_textLine; }
    int caretIndex() const { return m_caretIndex; }
    // The caret's two bars, in client coordinates.
    QRect caretRect() const;

  private:
    int lineHeight() const;
    void PlaceCaret();
    void ToggleCaret(bool removeOnly);
    void NewTextLine(bool redrawFirst);
    // The text line's glyphs become note pixels of the pending layer.
    void captureTextLine();
    // Captures the line, merges the pending layer into the notes and starts an empty line.
    void mergeTextLine();
    // Reads pure black from the surface into the pending layer, right and bottom excluded.
    void captureBox(int left, int top, int right, int bottom);
    // The text line's grapheme boundaries: where the caret may stand.
    int previousGrapheme(int index) const;
    int nextGrapheme(int index) const;
    void insertIntoLine(const QString& text);
    void removeFromLine(int from, int to);
    void moveCaret(int index);

    QFont m_font;
    QString m_textLine;
    int m_caretIndex = 0;
    bool m_caretShown = false;
    QPoint m_anchor;
    QPoint m_last;
    QPoint m_caretTop;
    QPoint m_caretBottom;
    QTimer m_caretTimer;
};

} // namespace ombri::writer
