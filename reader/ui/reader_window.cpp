#include "reader/ui/reader_window.h"

#include "formats/dispatch.h"
#include "platform/qt/dib_draw.h"
#include "platform/qt/info_dialogs.h"
#include "platform/qt/lock_keys.h"
#include "platform/qt/recent_files_menu.h"
#include "reader/adjustments.h"
#include "reader/command_ids.h"
#include "reader/note_status.h"
#include "reader/ui/customize_dialog.h"
#include "reader/ui/file_list.h"
#include "reader/ui/file_operations.h"
#include "reader/ui/folder_tree.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_commands.h"
#include "reader/ui/thumbnail_grid.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

static void initReaderResourceFile()
{
    Q_INIT_RESOURCE(reader);
}

namespace ombri::reader {

namespace {

// The Home Page command goes through the desktop's own browser.
class QtDesktopServices : public DesktopServices {
  public:
    void openUrl(const std::string& url) override
    {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    }
};

std::string folderOf(const std::string& path)
{
    return std::filesystem::path(path).parent_path().string();
}

} // namespace

void initReaderResources()
{
    static const bool initialised = (initReaderResourceFile(), true);
    (void)initialised;
}

ReaderWindow::ReaderWindow(Prompt* prompt, QWidget* parent)
    : QMainWindow(parent), m_qtPrompt(this), m_prompt(prompt ? *prompt : m_qtPrompt),
      m_doc(m_prompt), m_desktop(std::make_unique<QtDesktopServices>())
{
    initReaderResources();
    setWindowTitle(QStringLiteral("OmbriReader"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/org.ombritools.OmbriReader.svg")));
    resize(800, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - 800) / 2, area.y() + (area.height() - 600) / 2);
    }
    m_qtPrompt.setStatusSink([this](const QString& text) {
        if (text.isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(text);
    });
    m_doc.setDesktopServices(m_desktop.get());

    buildPanes();
    connectPanes();
    addCommands();
    buildMenus();
    buildToolBars();
    buildStatusBar();
    m_recent->load();
    loadListMode();
    m_commands.watchInput();
    m_commands.updateAll();
    m_commands.checkAtStartUp();
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (const std::optional<Pane> pane = paneHolding(now))
            m_lastFocusedPane = *pane;
    });
}

ReaderWindow::~ReaderWindow()
{
    // The panes go below; the focus moving among them as they do must not reach this window.
    disconnect(qApp, &QApplication::focusChanged, this, nullptr);
    m_recent->sync();
    m_doc.setPictureObserver({});
    // The panes unregister from the document as they go; they must go before it.
    delete m_splitter;
    m_splitter = nullptr;
}

QMenu* ReaderWindow::menu(const QString& title) const
{
    for (QAction* action : menuBar()->actions()) {
        if (action->menu() && action->text() == title)
            return action->menu();
    }
    return nullptr;
}

// ---- panes ---------------------------------------------------------------------------------

void ReaderWindow::buildPanes()
{
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_tree = new FolderTree(&m_doc, m_splitter);
    m_listPane = new QStackedWidget(m_splitter);
    m_list = new FileList(m_doc, m_listPane);
    m_grid = new ThumbnailGrid(*m_list, m_listPane);
    m_listPane->addWidget(m_list);
    m_listPane->addWidget(m_grid);
    m_listPane->setFocusProxy(m_list);
    m_view = new ImageView(m_doc, m_splitter);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_listPane);
    m_splitter->addWidget(m_view);
    m_splitter->setStretchFactor(2, 1);
    m_splitter->setSizes({200, 200, 400});
    setCentralWidget(m_splitter);
    m_fileOperations = std::make_unique<FileOperations>(m_doc);
    // The tree is the active pane at the start.
    m_tree->setFocus();
}

void ReaderWindow::connectPanes()
{
    FolderTree::Hooks tree;
    tree.listFolder = [this](const std::string& path) { m_list->showFolder(path); };
    tree.isListVisible = [this] { return m_list->isVisible(); };
    tree.rename = [this](const std::string& item, const std::string& name) {
        return m_fileOperations->Rename(item, name);
    };
    tree.deleteItem = [this](const std::string& item) {
        return m_fileOperations->deleteItem(item);
    };
    tree.imageReleased = [this] { m_view->redrawNow(Background::Erase); };
    tree.leaveFullScreen = [this] { leaveFullScreen(); };
    tree.forwardCommand = [this](int command) {
        m_view->onCommand(command);
        m_commands.updateAll();
    };
    m_tree->setHooks(std::move(tree));

    m_list->setRenameHandler([this](const std::string& item, const std::string& name) {
        return m_fileOperations->Rename(item, name);
    });
    connect(m_list, &FileList::folderEntered, this,
            [this](const std::string& path) { m_tree->RefreshCurrentFolder(path); });
    connect(m_list, &FileList::zoomCommandForwarded, this, [this](int command) {
        m_view->onCommand(command);
        m_commands.updateAll();
    });
    connect(m_list, &FileList::deleteRequested, this, [this] { deleteListSelection(); });
    connect(m_list, &FileList::folderChanged, this, &ReaderWindow::onRefresh);

    ImageView::Hooks view;
    // With the file list shown the tree lists folders only: a dropped file is reached through
    // its folder, which the list then shows.
    view.goToPath = [this](const std::string& path) {
        const bool folder = std::filesystem::is_directory(path);
        return m_tree->GoToPath(folder || !m_list->isVisible() ? path : folderOf(path));
    };
    view.leaveFullScreen = [this] { leaveFullScreen(); };
    connect(m_view, &ImageView::pictureOpened, this, [this] {
        m_list->selectPath(m_doc.currentPath());
        m_recent->sync();
    });
    view.deletePicture = [this] { deletePictureOnShow(); };
    view.stepPicture = [this](bool forward) {
        m_commands.trigger(forward ? cmd::NextImage : cmd::PreviousImage);
    };
    m_view->setHooks(std::move(view));

    FileOperations::Hooks operations;
    operations.goToPath = [this](const std::string& path) { return m_tree->GoToPath(path); };
    operations.redrawImage = [this] { m_view->redrawNow(Background::Erase); };
    // Renamed in one pane, an entry takes its new name in the other, and a renamed folder that
    // is listed goes on being listed under its new path.
    operations.renamed = [this](const std::string& from, const std::string& to) {
        m_tree->followRenamedItem(from, to);
        m_list->followRenamedFolder(from, to);
    };
    m_fileOperations->setHooks(std::move(operations));
}

// ---- commands ------------------------------------------------------------------------------

void ReaderWindow::addCommands()
{
    addReaderCommands(m_commands, *this);
    m_recent = new RecentFilesMenu(
        m_doc.recentFiles(), m_commands, cmd::RecentFileFirst, QStringLiteral("OmbriReader"),
        [this](int index) { openRecentFile(index); }, this);
    m_commands.bindKeys(this);
    // In full screen there is no menu or toolbar: Escape must leave it whichever pane has the
    // focus, the file list included.
    m_leaveFullScreen = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_leaveFullScreen->setEnabled(false);
    connect(m_leaveFullScreen, &QShortcut::activated, this, &ReaderWindow::leaveFullScreen);
}

void ReaderWindow::buildMenus()
{
    const std::vector<QMenu*> menus = m_commands.fillMenuBar(
        menuBar(), readerMenuTitles(), [this](QMenu* menu) { m_recent->addTo(menu); });
    m_fileMenu = menus[FileMenu];
    // Pictures opened from the panes join the document's list as they open; the menu and the
    // stored list catch up before the menu shows.
    connect(m_fileMenu, &QMenu::aboutToShow, m_recent, &RecentFilesMenu::sync);
    // The thumbnail sizes are one choice among three: their items show as radio buttons.
    auto* thumbnailSizes = new QActionGroup(this);
    for (const int id : {cmd::ThumbnailsSmall, cmd::ThumbnailsMedium, cmd::ThumbnailsLarge})
        thumbnailSizes->addAction(m_commands.action(id));
}

void ReaderWindow::buildToolBars()
{
    m_mainToolBar = addToolBar(tr("Toolbar"));
    m_mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_mainToolBar->setIconSize(QSize(24, 24));
    m_commands.fillToolBar(m_mainToolBar, MainToolBar);

    m_imageTools = new QToolBar(tr("Image Tools"), this);
    m_imageTools->setObjectName(QStringLiteral("imageTools"));
    m_imageTools->setIconSize(QSize(16, 16));
    m_imageTools->setAllowedAreas(Qt::LeftToolBarArea | Qt::RightToolBarArea);
    // Docked at either side the bar is one column of buttons.
    m_imageTools->setOrientation(Qt::Vertical);
    addToolBar(Qt::RightToolBarArea, m_imageTools);
    m_commands.fillToolBar(m_imageTools, ImageToolsBar);
}

void ReaderWindow::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->addWidget(new QLabel(tr("Ready"), bar), 1);
    // Permanent, so that a passing message does not hide what the picture carries.
    m_noteStatus = new QLabel(bar);
    m_noteStatus->setObjectName(QStringLiteral("noteStatus"));
    bar->addPermanentWidget(m_noteStatus);
    m_doc.setPictureObserver([this] { updateNoteStatus(); });
    updateNoteStatus();
    m_lockKeys = new LockKeyIndicators(bar, {tr("CAPS"), tr("NUM"), tr("SCRL")});
}

void ReaderWindow::updateNoteStatus()
{
    const QString text = QString::fromStdString(noteStatusText(m_doc));
    m_noteStatus->setText(text);
    m_noteStatus->setVisible(!text.isEmpty());
}

void ReaderWindow::onImageTools()
{
    m_imageTools->setVisible(!m_imageTools->isVisible());
}

void ReaderWindow::onNextPane()
{
    focusPane(1);
}

void ReaderWindow::onPreviousPane()
{
    focusPane(-1);
}

namespace {

// The list's mode is the user's choice, kept with the program's other choices of this kind (the
// recent files) rather than in the settings file the pane colours are kept in.
const char* const kThumbnailModeKey = "FileList/thumbnails";

bool storedThumbnailMode()
{
    const QSettings settings(QStringLiteral("OmbriTools"), QStringLiteral("OmbriReader"));
    return settings.value(QLatin1String(kThumbnailModeKey), false).toBool();
}

void storeThumbnailMode(bool thumbnails)
{
    QSettings settings(QStringLiteral("OmbriTools"), QStringLiteral("OmbriReader"));
    settings.setValue(QLatin1String(kThumbnailModeKey), thumbnails);
}

const char* const kThumbnailScaleKey = "FileList/thumbnailSize";
const std::pair<ThumbnailScale, const char*> kThumbnailScaleNames[] = {
    {ThumbnailScale::Small, "small"},
    {ThumbnailScale::Medium, "medium"},
    {ThumbnailScale::Large, "large"},
};

ThumbnailScale storedThumbnailScale()
{
    const QSettings settings(QStringLiteral("OmbriTools"), QStringLiteral("OmbriReader"));
    const QString name = settings.value(QLatin1String(kThumbnailScaleKey)).toString();
    for (const auto& [scale, scaleName] : kThumbnailScaleNames) {
        if (name == QLatin1String(scaleName))
            return scale;
    }
    return ThumbnailScale::Medium;
}

void storeThumbnailScale(ThumbnailScale scale)
{
    QSettings settings(QStringLiteral("OmbriTools"), QStringLiteral("OmbriReader"));
    for (const auto& [known, name] : kThumbnailScaleNames) {
        if (known == scale)
            settings.setValue(QLatin1String(kThumbnailScaleKey), QLatin1String(name));
    }
}

// Thumbnails want a pane with room for a few columns, but the picture keeps at least half the
// window; the image view never shrinks below a usable width.
constexpr int kThumbnailColumns = 3;
constexpr int kLeastViewWidth = 120;

} // namespace

void ReaderWindow::loadListMode()
{
    m_grid->setThumbnailScale(storedThumbnailScale());
    connect(m_grid, &ThumbnailGrid::scaleChanged, this, [this](ThumbnailScale scale) {
        storeThumbnailScale(scale);
        m_commands.updateAll();
    });
    m_list->setThumbnailMode(storedThumbnailMode());
    // The panes have their widths once the window is first shown.
    QTimer::singleShot(0, this, &ReaderWindow::fitListPane);
}

void ReaderWindow::onThumbnails()
{
    // In full screen the list is out of sight, and the panes keep the widths the window gets
    // back on leaving it.
    if (!m_fullScreen)
        m_listPaneWidths[m_list->thumbnailMode() ? 1 : 0] = m_splitter->sizes().value(1);
    m_list->setThumbnailMode(!m_list->thumbnailMode());
    storeThumbnailMode(m_list->thumbnailMode());
    if (!m_fullScreen)
        fitListPane();
    m_commands.updateAll();
}

// The list pane takes the width it had when the user last left the mode, or, the first time in
// thumbnails, room for a few columns of them; the image view gives or takes the difference.
void ReaderWindow::fitListPane()
{
    QList<int> sizes = m_splitter->sizes();
    if (sizes.size() != 3 || !m_splitter->isVisible())
        return;
    const bool thumbnails = m_list->thumbnailMode();
    int width = m_listPaneWidths[thumbnails ? 1 : 0];
    if (width == 0) {
        if (!thumbnails)
            return;
        const int window = sizes[0] + sizes[1] + sizes[2];
        width = std::min(m_grid->widthForColumns(kThumbnailColumns), window / 2);
    }
    const int shared = sizes[1] + sizes[2];
    width = std::clamp(width, 0, std::max(0, shared - kLeastViewWidth));
    sizes[1] = width;
    sizes[2] = shared - width;
    m_splitter->setSizes(sizes);
}

void ReaderWindow::setThumbnailScale(ThumbnailScale scale)
{
    m_grid->setThumbnailScale(scale);
}

ThumbnailScale ReaderWindow::thumbnailScale() const
{
    return m_grid->thumbnailScale();
}

void ReaderWindow::focusPane(int step)
{
    std::vector<QWidget*> panes;
    for (QWidget* pane : {static_cast<QWidget*>(m_tree), static_cast<QWidget*>(m_listPane),
                          static_cast<QWidget*>(m_view)}) {
        if (!pane->isHidden())
            panes.push_back(pane);
    }
    if (panes.empty())
        return;
    const auto count = static_cast<int>(panes.size());
    // From outside the panes (a toolbar, say) the first step lands on the first or last pane.
    int at = step > 0 ? -1 : count;
    const QWidget* focus = focusWidget();
    for (int i = 0; i < count; ++i) {
        if (focus && (focus == panes[static_cast<size_t>(i)] ||
                      panes[static_cast<size_t>(i)]->isAncestorOf(focus)))
            at = i;
    }
    panes[static_cast<size_t>(((at + step) % count + count) % count)]->setFocus(
        Qt::ShortcutFocusReason);
}

// ---- deleting ------------------------------------------------------------------------------

std::optional<ReaderWindow::Pane> ReaderWindow::paneHolding(const QWidget* widget) const
{
    if (!widget)
        return std::nullopt;
    const auto holds = [widget](const QWidget* pane) {
        return widget == pane || pane->isAncestorOf(widget);
    };
    if (holds(m_tree))
        return Pane::Tree;
    if (holds(m_listPane))
        return Pane::List;
    if (holds(m_view))
        return Pane::View;
    return std::nullopt;
}

ReaderWindow::Pane ReaderWindow::deletePane() const
{
    // The window's own focus widget is asked first: it is kept while the window is not active, as
    // under a dialog, and the application announces no change then.
    return paneHolding(focusWidget()).value_or(m_lastFocusedPane);
}

void ReaderWindow::onDelete()
{
    switch (deletePane()) {
    case Pane::Tree:
        m_tree->onDelete();
        break;
    case Pane::List:
        deleteListSelection();
        break;
    case Pane::View:
        deletePictureOnShow();
        break;
    }
    m_commands.updateAll();
}

void ReaderWindow::deleteListSelection()
{
    const std::optional<std::string> path = m_list->selectedEntryPath();
    if (!path)
        return;
    const bool onShow = m_doc.hasImage() && m_doc.currentPath() == *path;
    if (m_fileOperations->deleteItem(*path))
        followDeletedEntry(*path, onShow);
}

void ReaderWindow::deletePictureOnShow()
{
    if (!m_doc.hasImage())
        return;
    const std::string path = m_doc.currentPath();
    if (m_fileOperations->deleteItem(path))
        followDeletedEntry(path, true);
}

// The tree and the list drop what went, and the picture on show follows the list: the file
// that took the deleted one's place is shown, else nothing when the picture itself went.
void ReaderWindow::followDeletedEntry(const std::string& path, bool wasOnShow)
{
    m_tree->followDeletedItem(path);
    const FileList::AfterDelete after = m_list->followDeletedEntry(path);
    if (after.next) {
        m_doc.OpenImagePath(*after.next);
    } else if (wasOnShow && m_doc.hasImage() && m_doc.currentPath() == path) {
        m_doc.DeleteContents();
        m_view->redrawNow(Background::Erase);
    }
    m_commands.updateAll();
}

void ReaderWindow::onRefresh()
{
    const int current = m_list->currentFileIndex();
    const bool listedOnShow =
        current >= 0 && m_doc.hasImage() &&
        m_doc.currentPath() ==
            m_list->folderPath() + m_list->files()[static_cast<size_t>(current)].name;
    const FileList::AfterDelete after = m_list->refresh();
    if (after.fileRemoved && listedOnShow) {
        // The picture on show went as if deleted here: its neighbour takes its place, or nothing
        // is shown, rather than a picture that is no longer there.
        if (after.next) {
            m_doc.OpenImagePath(*after.next);
        } else {
            m_doc.DeleteContents();
            m_view->redrawNow(Background::Erase);
        }
    }
    m_commands.updateAll();
}

// ---- opening -------------------------------------------------------------------------------

bool ReaderWindow::openWithoutTree(const std::string& path)
{
    const bool opened = m_doc.OpenImagePath(path);
    if (opened)
        m_list->selectPath(m_doc.currentPath());
    m_view->redrawNow(Background::Erase);
    m_recent->sync();
    m_commands.updateAll();
    return opened;
}

bool ReaderWindow::openFile(const QString& path)
{
    const std::string absolute = QFileInfo(path).absoluteFilePath().toStdString();
    // The tree goes to the picture's folder first: selecting a folder empties the document, so
    // the picture is opened after it.
    m_tree->GoToPath(m_list->isVisible() ? folderOf(absolute) : absolute);
    const bool opened = openWithoutTree(absolute);
    // The picture named is what the user is in: the keys and Delete act on it in the list,
    // not on the folder the tree went to.
    if (opened && !m_fullScreen && !m_listPane->isHidden())
        m_listPane->setFocus(Qt::OtherFocusReason);
    return opened;
}

bool ReaderWindow::openFolder(const QString& path)
{
    const std::string absolute = QFileInfo(path).absoluteFilePath().toStdString();
    if (!m_tree->GoToPath(absolute))
        return false;
    if (auto first = m_list->SelectNextFile())
        openWithoutTree(*first);
    return true;
}

bool ReaderWindow::openRecentFile(int index)
{
    const auto& entries = m_doc.recentFiles().entries();
    if (index < 0 || index >= static_cast<int>(entries.size()))
        return false;
    const std::string path = entries[static_cast<size_t>(index)];
    if (openFile(QString::fromStdString(path)))
        return true;
    m_doc.recentFiles().remove(path);
    m_recent->sync();
    return false;
}

QStringList ReaderWindow::recentFiles() const
{
    return m_recent->paths();
}

void ReaderWindow::onFileOpen()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open"), QString(), toQtFileFilter(openFilter()));
    if (!path.isEmpty())
        openFile(path);
}

void ReaderWindow::onFileNew()
{
    m_doc.OnNewDocument();
    m_view->redrawNow(Background::Erase);
}

// ---- colours and settings ------------------------------------------------------------------

ReaderSettings ReaderWindow::paneColours() const
{
    return ReaderSettings{m_tree->treeBkColour(), m_list->listBkColour(),
                          m_view->backgroundColour()};
}

void ReaderWindow::applyPaneColours(const ReaderSettings& colours)
{
    m_list->SetListBkColor(colours.middle);
    m_tree->SetTreeBkColor(colours.left);
    m_view->setBackgroundColour(colours.right);
}

void ReaderWindow::onCustomize()
{
    CustomizeDialog::Panes panes;
    panes.treeColour = [this] { return m_tree->treeBkColour(); };
    panes.listColour = [this] { return m_list->listBkColour(); };
    panes.imageColour = [this] { return m_view->backgroundColour(); };
    panes.setTreeColour = [this](ColourRef colour) { m_tree->SetTreeBkColor(colour); };
    panes.setListColour = [this](ColourRef colour) { m_list->SetListBkColor(colour); };
    panes.setImageColour = [this](ColourRef colour) { m_view->setBackgroundColour(colour); };
    panes.save = [this](const ReaderSettings& colours) {
        saveSettings(settingsFilePath(m_settingsDirectory), colours);
    };
    CustomizeDialog dialog(m_prompt, std::move(panes), this);
    dialog.exec();
}

void ReaderWindow::onLeftForeground()
{
    const QColor current = m_tree->palette().color(QPalette::Text);
    auto chosen = m_prompt.chooseColour(Rgb{static_cast<uint8_t>(current.red()),
                                            static_cast<uint8_t>(current.green()),
                                            static_cast<uint8_t>(current.blue())});
    if (!chosen)
        return;
    QPalette palette = m_tree->palette();
    palette.setColor(QPalette::Text, QColor(chosen->red, chosen->green, chosen->blue));
    m_tree->setPalette(palette);
}

void ReaderWindow::onLeftBackground()
{
    const ColourRef current = m_tree->treeBkColour();
    auto chosen = m_prompt.chooseColour(
        Rgb{colourRefRed(current), colourRefGreen(current), colourRefBlue(current)});
    if (chosen)
        m_tree->SetTreeBkColor(makeColourRef(chosen->red, chosen->green, chosen->blue));
}

void ReaderWindow::onRightBackground()
{
    const ColourRef current = m_view->backgroundColour();
    auto chosen = m_prompt.chooseColour(
        Rgb{colourRefRed(current), colourRefGreen(current), colourRefBlue(current)});
    if (chosen)
        m_view->setBackgroundColour(makeColourRef(chosen->red, chosen->green, chosen->blue));
}

void ReaderWindow::onCopy()
{
    // The picture as it is displayed: its notes as shown, the adjustments applied.
    const Dib* shown = m_doc.BuildDisplayImage(m_view->showNotes());
    if (!shown)
        return;
    const QImage picture = dibToQImage(*shown);
    if (!picture.isNull())
        QGuiApplication::clipboard()->setImage(picture);
}

// ---- full screen ---------------------------------------------------------------------------

void ReaderWindow::onFullScreen()
{
    // Pressed again while already full screen, the place to return to stays the one before the
    // first press, so that Escape always brings the window back.
    if (!m_fullScreen) {
        m_savedGeometry = saveGeometry();
        m_savedState = saveState();
        m_savedSplitter = m_splitter->saveState();
        m_savedMaximised = isMaximized();
        m_savedStatusBar = statusBar()->isVisible();
        m_savedFocus = focusWidget();
    }
    m_fullScreen = true;
    m_leaveFullScreen->setEnabled(true);
    // The picture fills the screen: the menu, the bars, the folder tree, the file list and the
    // image view's scroll bars go.
    menuBar()->hide();
    m_mainToolBar->hide();
    m_imageTools->hide();
    statusBar()->hide();
    m_tree->hide();
    m_list->setOutOfSightForFullScreen(true);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setFocus();
    showFullScreen();
}

void ReaderWindow::leaveFullScreen()
{
    if (!m_fullScreen)
        return;
    m_fullScreen = false;
    m_leaveFullScreen->setEnabled(false);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    menuBar()->show();
    statusBar()->setVisible(m_savedStatusBar);
    m_tree->show();
    m_list->setOutOfSightForFullScreen(false);
    restoreState(m_savedState);
    m_splitter->restoreState(m_savedSplitter);
    if (m_savedMaximised)
        showMaximized();
    else
        showNormal();
    restoreGeometry(m_savedGeometry);
    if (m_savedFocus)
        m_savedFocus->setFocus();
}

// ---- printing and information --------------------------------------------------------------

void ReaderWindow::onPrintSetup()
{
    QPageSetupDialog dialog(&m_view->printer(), this);
    dialog.exec();
}

void ReaderWindow::onAppAbout()
{
    const std::unique_ptr<QDialog> dialog = createAboutDialog(
        this, QStringLiteral("About OmbriReader"),
        QIcon(QStringLiteral(":/icons/org.ombritools.OmbriReader.svg")),
        {QStringLiteral("OmbriReader ( Version %1 )").arg(QLatin1String(kReaderVersion)),
         QStringLiteral("Shows pictures and the notes hidden in them"),
         QStringLiteral("E-mail: ") + QString::fromUtf8(kSupportAddress),
         QStringLiteral(__DATE__ ", " __TIME__)});
    dialog->exec();
}

void ReaderWindow::onHelp()
{
    const std::unique_ptr<QDialog> dialog =
        createHelpDialog(this, helpText(HelpProgram::Reader, samplesFolder()));
    dialog->exec();
}

} // namespace ombri::reader
