#include "writer/ui/writer_window.h"

#include "platform/qt/info_dialogs.h"
#include "platform/qt/lock_keys.h"
#include "platform/qt/recent_files_menu.h"

#include "core/printable_name.h"
#include "formats/dispatch.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_app.h"
#include "writer/ui/writer_commands.h"
#include "writer/ui/writer_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <optional>

namespace ombri::writer {

namespace {

constexpr int kFrameWidth = 800;
constexpr int kFrameHeight = 600;
const char* const kLineWidthKey = "lineWidth";

QSettings writerSettings()
{
    return QSettings(QStringLiteral("OmbriTools"), QStringLiteral("OmbriWriter"));
}

} // namespace

WriterWindow::WriterWindow(Prompt* prompt, QWidget* parent)
    : QMainWindow(parent), m_qtPrompt(this), m_prompt(prompt ? *prompt : m_qtPrompt),
      m_doc(m_prompt), m_saveWork(this), m_view(new WriterView(m_doc, this))
{
    // A large picture takes seconds to encode: the window keeps painting and shows progress
    // meanwhile, while no input reaches the picture being written.
    m_doc.setWorkRunner([this](const std::string& status, const std::function<void()>& work) {
        m_saveWork.run(QString::fromStdString(status), work);
    });
    initWriterResources();
    // The title never names the document: one program, one picture, one name.
    setWindowTitle(QStringLiteral("OmbriWriter"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/org.ombritools.OmbriWriter.svg")));
    resize(kFrameWidth, kFrameHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - kFrameWidth) / 2,
             area.y() + (area.height() - kFrameHeight) / 2);
    }
    setCentralWidget(m_view);
    m_qtPrompt.setStatusSink([this](const QString& text) {
        if (text.isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(text);
    });

    addWriterCommands(m_commands, *this);
    m_recent = new RecentFilesMenu(
        m_doc.recentFiles(), m_commands, cmd::RecentFileFirst, QStringLiteral("OmbriWriter"),
        [this](int index) { openRecentFile(index); }, this);
    m_commands.bindKeys(this);
    buildMenus();
    buildMainToolBar();
    buildStatusBar();
    buildPaintToolBox();
    m_recent->load();
    m_view->setLineWidth(writerSettings().value(QLatin1String(kLineWidthKey), 1).toInt());

    connect(m_view, &WriterView::documentChanged, this, &WriterWindow::onDocumentChanged);
    // A picture dropped on the canvas replaces the one on show as File Open does: after the
    // question about unsaved changes.
    m_view->setDropHandler(
        [this](const std::string& path) { return openFile(QString::fromStdString(path)); });
    m_commands.watchInput();
    m_commands.updateAll();
    m_commands.checkAtStartUp();
}

WriterWindow::~WriterWindow() = default;

QMenu* WriterWindow::menu(const QString& title) const
{
    for (QAction* action : menuBar()->actions()) {
        if (action->text() == title)
            return action->menu();
    }
    return nullptr;
}

void WriterWindow::buildMenus()
{
    const std::vector<QMenu*> menus = m_commands.fillMenuBar(
        menuBar(), writerMenuTitles(), [this](QMenu* menu) { m_recent->addTo(menu); });
    m_fileMenu = menus[FileMenu];
}

void WriterWindow::buildMainToolBar()
{
    m_mainToolBar = addToolBar(tr("Toolbar"));
    m_mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_mainToolBar->setIconSize(QSize(16, 16));
    m_mainToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_commands.fillToolBar(m_mainToolBar, MainToolBar);
    m_mainToolBar->addSeparator();
    buildEraserSizeBox();
}

void WriterWindow::buildEraserSizeBox()
{
    m_eraserBox = new QComboBox(m_mainToolBar);
    m_eraserBox->setObjectName(QStringLiteral("eraserSizeBox"));
    m_eraserBox->setEditable(true);
    m_eraserBox->setInsertPolicy(QComboBox::NoInsert);
    m_eraserBox->setFixedWidth(56);
    m_eraserBox->setMaxVisibleItems(10);
    // The box keeps its list sorted as text, so "5" comes after "45".
    QStringList sizes;
    for (int size = 5; size <= 50; size += 5)
        sizes << QString::number(size);
    sizes.sort();
    m_eraserBox->addItems(sizes);
    QAction* command = m_commands.action(cmd::EraserSize);
    m_eraserBox->setStatusTip(command->statusTip());
    m_eraserBox->setToolTip(command->toolTip());
    m_mainToolBar->addWidget(m_eraserBox);

    connect(m_eraserBox, &QComboBox::textActivated, m_view, &WriterView::onEraserSizeText);
    // The box takes typing in lower case only.
    QLineEdit* edit = m_eraserBox->lineEdit();
    connect(edit, &QLineEdit::textEdited, this, [this, edit](const QString& text) {
        const QString lower = text.toLower();
        if (lower != text)
            edit->setText(lower);
        m_view->onEraserSizeText(lower);
    });
    m_view->setEraserBoxSetter([this](const QString& text) { m_eraserBox->setEditText(text); });
    connect(command, &QAction::enabledChanged, m_eraserBox, &QWidget::setEnabled);
}

void WriterWindow::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    // The idle text sits under the messages: a status tip or a busy text covers it while shown.
    m_idleStatus = new QLabel(tr("Ready"), bar);
    m_idleStatus->setObjectName(QStringLiteral("idleStatus"));
    bar->addWidget(m_idleStatus, 1);
    m_lockKeys = new LockKeyIndicators(bar, {tr("CAP"), tr("NUM"), tr("SCRL")});
}

void WriterWindow::buildPaintToolBox()
{
    m_paintToolBox = new QToolBar(tr("Paint Tool Box"), this);
    m_paintToolBox->setObjectName(QStringLiteral("paintToolBox"));
    m_paintToolBox->setIconSize(QSize(16, 16));
    m_paintToolBox->setContentsMargins(5, 5, 5, 5);
    m_paintToolBox->setAllowedAreas(Qt::LeftToolBarArea | Qt::RightToolBarArea);
    // Docked at either side the box is one column of buttons; a vertical bar is exactly that.
    m_paintToolBox->setOrientation(Qt::Vertical);
    addToolBar(Qt::LeftToolBarArea, m_paintToolBox);
    m_commands.fillToolBar(m_paintToolBox, PaintToolBox);
}

void WriterWindow::onPaintToolBox()
{
    m_paintToolBox->setVisible(!m_paintToolBox->isVisibleTo(this));
}

void WriterWindow::setLineWidth(int width)
{
    m_view->setLineWidth(width);
    writerSettings().setValue(QLatin1String(kLineWidthKey), m_view->lineWidth());
}

// ---- documents -----------------------------------------------------------------------------

bool WriterWindow::saveModified()
{
    if (!m_doc.IsModified())
        return true;
    const std::string question = "Save changes to " + printableName(m_doc.getTitle()) + "?";
    switch (m_prompt.ask(question, "OmbriWriter", Buttons::YesNoCancel, Icon::Warning)) {
    case Answer::Yes:
        // A save that did not happen must not cost the user the picture and its notes.
        return m_view->saveForQuestion();
    case Answer::No:
        return true;
    default:
        return false;
    }
}

WriterView::OpenOutcome WriterWindow::openPicture(const QString& path)
{
    // The document and the recent-file list keep full paths: a name relative to the folder the
    // program started in means nothing on the next run.
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    const WriterView::OpenOutcome outcome = m_view->openPicture(fullPath.toStdString(), [this] {
        // A drawing still pending in the active tool is part of the picture the question is
        // about.
        m_view->EndTool(false);
        return saveModified();
    });
    m_recent->sync();
    m_commands.updateAll();
    return outcome;
}

bool WriterWindow::openFile(const QString& path)
{
    return openPicture(path) == WriterView::OpenOutcome::Opened;
}

bool WriterWindow::openRecentFile(int index)
{
    const auto& entries = m_doc.recentFiles().entries();
    if (index < 0 || index >= static_cast<int>(entries.size()))
        return false;
    const std::string path = entries[static_cast<size_t>(index)];
    const WriterView::OpenOutcome outcome = openPicture(QString::fromStdString(path));
    if (outcome != WriterView::OpenOutcome::Unreadable)
        return outcome == WriterView::OpenOutcome::Opened;
    m_doc.recentFiles().remove(path);
    m_recent->sync();
    return false;
}

void WriterWindow::onFileOpen()
{
    QFileDialog dialog(this, tr("Open"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only an existing file can be chosen, so no extension is ever added to a typed name.
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(toQtFileFilter(openFilter()).split(QStringLiteral(";;")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    openFile(dialog.selectedFiles().constFirst());
}

void WriterWindow::onFileNew()
{
    m_view->EndTool(false);
    if (!saveModified())
        return;
    m_doc.OnNewDocument();
    m_view->pictureReplaced();
    m_view->repaintNow();
    onDocumentChanged();
}

void WriterWindow::onFilePrintSetup()
{
    QPageSetupDialog dialog(&m_view->printer(), this);
    dialog.exec();
}

void WriterWindow::onAppAbout()
{
    initWriterResources();
    const std::unique_ptr<QDialog> dialog = createAboutDialog(
        this, QStringLiteral("About OmbriWriter"),
        QIcon(QStringLiteral(":/icons/org.ombritools.OmbriWriter.svg")),
        {QStringLiteral("OmbriWriter (Version %1)").arg(QString::fromUtf8(kWriterVersion)),
         QStringLiteral("Notes hidden in the pixels of your pictures"),
         QStringLiteral("E-mail: ") + QString::fromUtf8(kSupportAddress)});
    dialog->exec();
}

void WriterWindow::onHelp()
{
    const std::unique_ptr<QDialog> dialog =
        createHelpDialog(this, helpText(HelpProgram::Writer, samplesFolder()));
    dialog->exec();
}

void WriterWindow::onHomePage()
{
    // Without a browser nothing happens, and nothing is reported.
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kHomePage)));
}

void WriterWindow::closeEvent(QCloseEvent* event)
{
    m_view->EndTool(false);
    if (!saveModified()) {
        event->ignore();
        return;
    }
    m_recent->sync();
    event->accept();
}

void WriterWindow::onDocumentChanged()
{
    m_recent->sync();
    m_commands.updateAll();
    updateIdleStatus();
}

void WriterWindow::updateIdleStatus()
{
    // Each picture is judged once, when it arrives; the notice stays until the first save has put
    // the marker back where other programs look for it.
    if (m_doc.pictureGeneration() != m_idlePicture) {
        m_idlePicture = m_doc.pictureGeneration();
        m_turnedNotice = m_doc.hasImage() && m_doc.notesFoundTurned();
    }
    if (!m_doc.IsModified())
        m_turnedNotice = false;
    QString text = tr("Ready");
    if (m_turnedNotice) {
        text = tr("Notes found in %1; saving puts the signature back")
                   .arg(QString::fromUtf8(
                       turnedPictureDescription(m_doc.foundSignature().orientation)));
    }
    m_idleStatus->setText(text);
}

QString WriterWindow::idleStatusText() const
{
    return m_idleStatus->text();
}

// ---- recent files --------------------------------------------------------------------------

QStringList WriterWindow::recentFiles() const
{
    return m_recent->paths();
}

} // namespace ombri::writer
