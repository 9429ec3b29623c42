#include "writer/ui/writer_window.h"

#include "formats/dispatch.h"
#include "writer/command_ids.h"
#include "writer/ui/view_commands.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

namespace ombri {

WriterWindow::WriterWindow(QWidget* parent)
    : QMainWindow(parent), m_prompt(this), m_doc(m_prompt), m_view(new CScrivoView(m_doc, this))
{
    setWindowTitle(QStringLiteral("OmbriWriter"));
    resize(800, 600);
    setCentralWidget(m_view);
    m_prompt.setStatusSink([this](const QString& text) {
        if (text.isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(text);
    });
    addViewCommands(m_commands, *m_view);
    m_commands.add(Command{cmd::FileOpen,
                           tr("&Open..."),
                           QKeySequence(QStringLiteral("Ctrl+O")),
                           tr("Open an existing image"),
                           tr("Open"),
                           [this] { onFileOpen(); },
                           {},
                           {}});
    buildMenus();
    buildToolBars();
    statusBar()->showMessage(tr("Ready"));
    m_commands.watchInput();
    m_commands.updateAll();
}

void WriterWindow::buildMenus()
{
    const auto addMenu = [this](const QString& title, std::initializer_list<int> ids) {
        QMenu* menu = menuBar()->addMenu(title);
        m_commands.watchMenu(menu);
        for (int id : ids) {
            if (id == 0)
                menu->addSeparator();
            else
                menu->addAction(m_commands.action(id));
        }
    };
    addMenu(tr("&File"), {cmd::FileOpen, cmd::FileSave, cmd::SaveAsLossless, cmd::SaveAsCompressed,
                          cmd::FileClose, 0, cmd::Print, cmd::PrintPreview});
    addMenu(tr("&View"),
            {cmd::DisplayNotes, 0, cmd::OriginalSize, cmd::ZoomOut, cmd::ZoomIn, cmd::FitIn});
    addMenu(tr("&Color"), {cmd::Selected, cmd::Black, cmd::White, cmd::Red, cmd::Green, cmd::Blue,
                           0, cmd::Background});
    addMenu(tr("&Tools"),
            {cmd::TextTool, cmd::Erasure, cmd::FreehandPen, cmd::LineTool, cmd::ArcTool,
             cmd::RectangleTool, cmd::RoundRectangleTool, cmd::EllipseTool});
}

void WriterWindow::buildToolBars()
{
    QToolBar* main = addToolBar(tr("Toolbar"));
    main->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (int id :
         std::initializer_list<int>{cmd::FileOpen, cmd::FileSave, 0, cmd::DisplayNotes, cmd::FitIn,
                                    cmd::ZoomOut, cmd::ZoomIn, cmd::OriginalSize, 0}) {
        if (id == 0)
            main->addSeparator();
        else
            main->addAction(m_commands.action(id));
    }
    m_eraserBox = new QComboBox(main);
    m_eraserBox->setEditable(true);
    m_eraserBox->setToolTip(tr("Erasure Size"));
    m_eraserBox->setStatusTip(tr("Set the size of erasure"));
    for (int size = 5; size <= 50; size += 5)
        m_eraserBox->addItem(QString::number(size));
    m_eraserBox->setCurrentText(QStringLiteral("10"));
    main->addWidget(m_eraserBox);
    connect(m_eraserBox, &QComboBox::textActivated, m_view, &CScrivoView::OnEraserSizeText);
    connect(m_eraserBox->lineEdit(), &QLineEdit::textEdited, m_view,
            &CScrivoView::OnEraserSizeText);
    m_view->setEraserBoxSetter([this](const QString& text) { m_eraserBox->setCurrentText(text); });

    QToolBar* tools = new QToolBar(tr("Paint Tool Box"), this);
    tools->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tools->setOrientation(Qt::Vertical);
    addToolBar(Qt::LeftToolBarArea, tools);
    for (int id : {cmd::TextTool, cmd::Erasure, cmd::FreehandPen, cmd::LineTool, cmd::ArcTool,
                   cmd::RectangleTool, cmd::RoundRectangleTool, cmd::EllipseTool})
        tools->addAction(m_commands.action(id));
}

bool WriterWindow::openFile(const QString& path)
{
    m_view->EndTool(false);
    const bool opened = m_doc.OnOpenDocument(path.toStdString());
    m_view->repaintNow();
    m_commands.updateAll();
    return opened;
}

void WriterWindow::onFileOpen()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open"), QString(), toQtFileFilter(kOpenFilter));
    if (!path.isEmpty())
        openFile(path);
}

} // namespace ombri
