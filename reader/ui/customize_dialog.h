#pragma once

#include "notes/render.h"
#include "reader/settings.h"

#include <QAbstractButton>
#include <QDialog>

#include <functional>

namespace ombri {
class Prompt;
}

namespace ombri::reader {

// A button that shows nothing but a colour over its whole area.
class ColourSwatch : public QAbstractButton {
    Q_OBJECT

  public:
    explicit ColourSwatch(QWidget* parent = nullptr);
    void setColour(ColourRef colour);
    ColourRef colour() const { return m_colour; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    ColourRef m_colour = 0xFFFFFF;
};

// The Customize dialog: the background colours of the three panes, each on a swatch that opens
// the colour dialog. A chosen colour is applied to its pane at once; OK then has the colours
// saved, Cancel saves nothing but leaves the panes as they now are.
class CustomizeDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Swatch { Left, Middle, Right };

    // Where the dialog reads and sets the panes' colours. Every member but save must be set.
    struct Panes {
        std::function<ColourRef()> treeColour;  // the folder tree's background
        std::function<ColourRef()> listColour;  // the file list's stored background
        std::function<ColourRef()> imageColour; // the image view's background
        std::function<void(ColourRef)> setTreeColour;
        // Sets and redraws the file list.
        std::function<void(ColourRef)> setListColour;
        // Sets and redraws the image view.
        std::function<void(ColourRef)> setImageColour;
        // OK: save the colours the panes now have (settings.h's saveSettings).
        std::function<void(const ReaderSettings&)> save;
    };

    // The prompt supplies the colour dialog and must outlive the dialog.
    CustomizeDialog(Prompt& prompt, Panes panes, QWidget* parent = nullptr);

    // What a click on a swatch does: the colour dialog opened on the swatch's colour, and a
    // different colour confirmed there applied to the pane. True when the colour changed.
    bool chooseColour(Swatch swatch);

    ColourRef colour(Swatch swatch) const;
    ColourSwatch* swatchButton(Swatch swatch) const;

    // The colours as the panes hold them now; what OK saves.
    ReaderSettings paneColours() const;

    void accept() override;

  private:
    void applyColour(Swatch swatch, ColourRef colour);

    Prompt& m_prompt;
    Panes m_panes;
    ColourSwatch* m_left = nullptr;
    ColourSwatch* m_middle = nullptr;
    ColourSwatch* m_right = nullptr;
};

} // namespace ombri::reader
