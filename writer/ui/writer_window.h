#pragma once

#include "platform/qt/background_work.h"
#include "platform/qt/command_table.h"
#include "platform/qt/qt_prompt.h"
#include "writer/savable_writer_document.h"
#include "writer/ui/writer_view.h"

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPrinter;
class QToolBar;

namespace ombri {
class LockKeyIndicators;
class RecentFilesMenu;
} // namespace ombri

namespace ombri::writer {

// The writer's main window: menu, main toolbar with the eraser-size box, status bar and the
// Paint Tool Box around the canvas, and the application's own commands (open, new, recent files,
// print setup, About, Help, Home Page). Every command is a method so that tests run them without
// dialogs; messages go through the prompt, which tests replace.
class WriterWindow : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kRecentFileCount = 6;

    // Without a prompt the frame shows real message boxes.
    explicit WriterWindow(Prompt* prompt = nullptr, QWidget* parent = nullptr);
    ~WriterWindow() override;

    SavableWriterDocument& document() { return m_doc; }
    WriterView& view() { return *m_view; }
    CommandTable& commands() { return m_commands; }
    QToolBar* mainToolBar() const { return m_mainToolBar; }
    QToolBar* paintToolBox() const { return m_paintToolBox; }
    QComboBox* eraserSizeBox() const { return m_eraserBox; }
    LockKeyIndicators* lockIndicators() const { return m_lockKeys; }
    // Where the document's saves run: off the GUI thread, the window held still meanwhile.
    BackgroundWork& saveWork() { return m_saveWork; }
    // What the status bar shows when no message covers it: "Ready", or what the user should know
    // about the picture on show.
    QString idleStatusText() const;
    // The top-level menu with the given title ("&File"), or null.
    QMenu* menu(const QString& title) const;

    // Opens a picture as File Open does once its dialog is closed: the file is read first, then
    // the save question for a modified picture is asked. False when the file cannot be opened
    // (nothing changes) or the user kept the old picture.
    bool openFile(const QString& path);
    // Opens entry index of the recent-file list; an entry that no longer opens leaves the list.
    bool openRecentFile(int index);
    QStringList recentFiles() const;

    // The framework's question for a modified document before it is replaced or the program
    // ends; false when the user keeps it (Cancel, or Yes and the save did not happen).
    bool saveModified();

    void onFileOpen();
    void onFileNew();
    void onFilePrintSetup();
    void onAppAbout();
    void onHelp();
    void onHomePage();
    void onPaintToolBox();
    // Option > Line Width: the tools' line width, kept in the settings for the next start.
    void setLineWidth(int width);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenus();
    void buildMainToolBar();
    void buildEraserSizeBox();
    void buildStatusBar();
    void buildPaintToolBox();
    void onDocumentChanged();
    void updateIdleStatus();
    WriterView::OpenOutcome openPicture(const QString& path);

    QtPrompt m_qtPrompt;
    Prompt& m_prompt;
    SavableWriterDocument m_doc;
    BackgroundWork m_saveWork;
    WriterView* m_view;
    CommandTable m_commands;
    QToolBar* m_mainToolBar = nullptr;
    QToolBar* m_paintToolBox = nullptr;
    QComboBox* m_eraserBox = nullptr;
    LockKeyIndicators* m_lockKeys = nullptr;
    QMenu* m_fileMenu = nullptr;
    RecentFilesMenu* m_recent = nullptr;
    QLabel* m_idleStatus = nullptr;
    // The picture the idle text was last worked out for, and whether its notes were found in a
    // turned or mirrored picture that has not been saved since.
    uint64_t m_idlePicture = 0;
    bool m_turnedNotice = false;
};

} // namespace ombri::writer
