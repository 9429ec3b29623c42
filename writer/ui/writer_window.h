#pragma once

#include "platform/command_table.h"
#include "platform/qt_prompt.h"
#include "writer/ui/scrivo_view.h"
#include "writer/writing.h"

#include <QMainWindow>

class QComboBox;

namespace ombri {

// The writer's window: the canvas with its commands in menus and toolbars, the eraser-size box
// and the status bar.
class WriterWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit WriterWindow(QWidget* parent = nullptr);

    CScrivoView& view() { return *m_view; }
    Writing& document() { return m_doc; }
    CommandTable& commands() { return m_commands; }
    QComboBox* eraserSizeBox() { return m_eraserBox; }

    // Opens a picture as File Open does after its dialog.
    bool openFile(const QString& path);
    void onFileOpen();

  private:
    void buildMenus();
    void buildToolBars();

    QtPrompt m_prompt;
    Writing m_doc;
    CScrivoView* m_view;
    CommandTable m_commands;
    QComboBox* m_eraserBox = nullptr;
};

} // namespace ombri
