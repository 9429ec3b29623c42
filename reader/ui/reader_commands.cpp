#include "reader/ui/reader_commands.h"

#include "reader/command_ids.h"
#include "reader/ui/file_list.h"
#include "reader/ui/file_operations.h"
#include "reader/ui/image_view.h"
#include "reader/ui/reader_window.h"
#include "reader/ui/thumbnail_grid.h"

#include <QStatusBar>
#include <QToolBar>

namespace ombri::reader {
namespace {

using Row = CommandRow<ReaderWindow>;

// The pane holds the window's focus, itself or in a child such as a name being edited. Asked of
// the window rather than the application, so that it holds while a menu is open too.
bool hasPaneFocus(const QWidget& pane)
{
    const QWidget* focus = pane.window()->focusWidget();
    return focus && (focus == &pane || pane.isAncestorOf(focus));
}

// The list's pane holds the details table and the thumbnail grid: either one is the list.
bool listServes(ReaderWindow& window, int id)
{
    const bool zoom = id == cmd::ZoomIn || id == cmd::ZoomOut || id == cmd::OriginalSize;
    return zoom && hasPaneFocus(*window.list().paneWidget());
}

// ---- the image view's commands ----

void viewRun(ReaderWindow& window, int id)
{
    if (listServes(window, id))
        window.list().forwardZoomCommand(id);
    else
        window.view().onCommand(id);
}

bool viewEnabled(ReaderWindow& window, int id)
{
    return listServes(window, id) ? window.list().zoomCommandsEnabled()
                                  : window.view().isCommandEnabled(id);
}

bool viewChecked(ReaderWindow& window, int id)
{
    return window.view().isCommandChecked(id);
}

// ---- the document's commands ----

void adjust(ReaderWindow& window, int id)
{
    window.document().onAdjustmentCommand(id);
}

bool documentEnabled(ReaderWindow& window, int id)
{
    return window.document().isCommandEnabled(id);
}

bool documentChecked(ReaderWindow& window, int id)
{
    return window.document().isCommandChecked(id);
}

// ---- the window's own ----

bool never(ReaderWindow&, int)
{
    return false;
}

void toggleBar(QWidget* bar)
{
    bar->setVisible(!bar->isVisible());
}

ThumbnailScale thumbnailScaleOf(int id)
{
    switch (id) {
    case cmd::ThumbnailsSmall:
        return ThumbnailScale::Small;
    case cmd::ThumbnailsLarge:
        return ThumbnailScale::Large;
    default:
        return ThumbnailScale::Medium;
    }
}

void chooseThumbnailScale(ReaderWindow& window, int id)
{
    window.setThumbnailScale(thumbnailScaleOf(id));
}

bool thumbnailScaleChecked(ReaderWindow& window, int id)
{
    return window.thumbnailScale() == thumbnailScaleOf(id);
}

constexpr Gap kSeparated = Gap::Separator;

// The prompts are the reader's own texts, spelling included.
constexpr Row kRows[] = {
    // File
    Row{cmd::NewFolder, "&New Folder", "Creates a new directory \nNew Folder"}
        .inMenu(FileMenu)
        .button(MainToolBar, 10, "new-folder")
        .rules([](ReaderWindow& w, int) { w.fileOperations().onNewFolder(); }),
    Row{cmd::Print, "&Print ...", "Print the active image \nPrint"}
        .inMenu(FileMenu)
        .keys({Qt::CTRL | Qt::Key_P})
        .button(MainToolBar, 30, "print")
        .rules(viewRun, viewEnabled),
    Row{cmd::PrintSetup, "P&rint Setup", "Change the printer and printing options\nPrint Setup"}
        .inMenu(FileMenu)
        .rules([](ReaderWindow& w, int) { w.onPrintSetup(); }),
    Row{cmd::Exit, "E&xit", "Quit the application\nExit"}
        .inMenu(FileMenu, Gap::RecentFiles)
        .rules([](ReaderWindow& w, int) { w.close(); }),

    // Edit. Delete belongs to the pane that has the focus: the menu only shows its key.
    Row{cmd::Cut, "Cu&t", "Cut the selection and put it on the Clipboard\nCut"}
        .inMenu(EditMenu)
        .keys({Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete}),
    Row{cmd::Copy, "&Copy", "Copy the image as displayed to the Clipboard\nCopy"}
        .inMenu(EditMenu)
        .keys({Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert})
        .rules([](ReaderWindow& w, int) { w.onCopy(); }),
    Row{cmd::Paste, "&Paste", "Insert Clipboard contents\nPaste"}.inMenu(EditMenu).keys(
        {Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert}),
    Row{cmd::Delete, "&Delete", "Delete a file or a folder with files\nDelete"}
        .inMenu(EditMenu)
        .keys(CommandKeys::shownOnly("     Del"))
        .button(MainToolBar, 20, "delete")
        .rules([](ReaderWindow& w, int) { w.onDelete(); }),

    // View. The arrows and page keys always step through the pictures, never move a pane's
    // selection.
    Row{cmd::DisplayNotes, "&Display Notes", "Display the notes of image \nDisplay Notes"}
        .inMenu(ViewMenu)
        .button(MainToolBar, 40, "display-notes", kSeparated)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::AntiAliasing, "Anti Aliasing", "Draw the notes with smooth edges\nAnti Aliasing"}
        .inMenu(ViewMenu)
        .rules([](ReaderWindow& w, int) { w.document().ToggleAntiAliasing(); }, documentEnabled,
               documentChecked),
    Row{cmd::FitIn, "&Fit In", "Fit Image to Window \nFit In"}
        .inMenu(ViewMenu, kSeparated)
        .button(MainToolBar, 90, "fit-in")
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::FitWidth, "Fit &Width", "Fit Image to Window Width \nFit Width"}
        .inMenu(ViewMenu)
        .button(MainToolBar, 70, "fit-width")
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::FitHeight, "Fit &Height", "Fit Image to Window Height \nFit Height"}
        .inMenu(ViewMenu)
        .button(MainToolBar, 80, "fit-height")
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::OriginalSize, "&Original Size", "Display the image in original size \nOriginal Size"}
        .inMenu(ViewMenu)
        .keys({Qt::Key_1})
        .button(MainToolBar, 120, "original-size")
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::ZoomIn, "Zoom &In", "Zoom In \nZoom In"}
        .inMenu(ViewMenu, kSeparated)
        .keys({Qt::KeypadModifier | Qt::Key_Plus})
        .button(MainToolBar, 110, "zoom-in")
        .rules(viewRun, viewEnabled),
    Row{cmd::ZoomOut, "Zoom &Out", "Zoom Out \nZoom Out"}
        .inMenu(ViewMenu)
        .keys({Qt::KeypadModifier | Qt::Key_Minus})
        .button(MainToolBar, 100, "zoom-out")
        .rules(viewRun, viewEnabled),
    Row{cmd::PreviousImage, "&Previous Image", "Display the previous image \nPrevious Image"}
        .inMenu(ViewMenu, kSeparated)
        .keys({Qt::Key_Up, Qt::Key_PageUp})
        .button(MainToolBar, 50, "previous-image")
        .rules([](ReaderWindow& w, int) { w.document().onPreviousImage(); }, documentEnabled),
    Row{cmd::NextImage, "&Next Image", "Display the next image \nNext Image"}
        .inMenu(ViewMenu)
        .keys({Qt::Key_Down, Qt::Key_PageDown})
        .button(MainToolBar, 60, "next-image")
        .rules([](ReaderWindow& w, int) { w.document().onNextImage(); }, documentEnabled),
    Row{cmd::Thumbnails, "&Thumbnails",
        "Show the files as thumbnails or as a list of details\nThumbnails"}
        .inMenu(ViewMenu, kSeparated)
        .keys({Qt::CTRL | Qt::Key_T})
        .button(MainToolBar, 140, "thumbnails", kSeparated)
        .rules([](ReaderWindow& w, int) { w.onThumbnails(); }, nullptr,
               [](ReaderWindow& w, int) { return w.list().thumbnailMode(); }),
    Row{cmd::ThumbnailsSmall, "&Small", "Show small thumbnails\nSmall Thumbnails"}
        .inSubmenu(ViewMenu, "Thumbnail &Size")
        .rules(chooseThumbnailScale, nullptr, thumbnailScaleChecked),
    Row{cmd::ThumbnailsMedium, "&Medium", "Show thumbnails of medium size\nMedium Thumbnails"}
        .inSubmenu(ViewMenu, "Thumbnail &Size")
        .rules(chooseThumbnailScale, nullptr, thumbnailScaleChecked),
    Row{cmd::ThumbnailsLarge, "&Large", "Show large thumbnails\nLarge Thumbnails"}
        .inSubmenu(ViewMenu, "Thumbnail &Size")
        .rules(chooseThumbnailScale, nullptr, thumbnailScaleChecked),
    Row{cmd::Refresh, "&Refresh", "List the folder again as it is on disk\nRefresh"}
        .inMenu(ViewMenu)
        .keys({Qt::Key_F5})
        .rules([](ReaderWindow& w, int) { w.onRefresh(); }),

    // Color: the colour the notes are shown in, then the panes' colours.
    Row{cmd::ColourSelected, "&Selected", "The color selected by the customer"}
        .inMenu(ColourMenu)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::ColourWhite, "&White", "White color"}
        .inMenu(ColourMenu)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::ColourBlack, "&Black", "Black color"}
        .inMenu(ColourMenu)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::ColourRed, "&Red", "Red color"}
        .inMenu(ColourMenu)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::ColourGreen, "&Green", "Green color"}
        .inMenu(ColourMenu)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::ColourBlue, "Bl&ue", "Blue color"}
        .inMenu(ColourMenu)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::ColourComplement, "&Complement", "Complementary color"}
        .inMenu(ColourMenu)
        .rules(viewRun, viewEnabled, viewChecked),
    Row{cmd::LeftForeground, "Left &Foreground", "Set the foreground color on the left frame"}
        .inMenu(ColourMenu, kSeparated)
        .rules([](ReaderWindow& w, int) { w.onLeftForeground(); }),
    Row{cmd::LeftBackground, "&Left Background", "Set the background color on the left frame"}
        .inMenu(ColourMenu)
        .rules([](ReaderWindow& w, int) { w.onLeftBackground(); }),
    Row{cmd::RightBackground, "R&ight Background", "Set the background color on the right frame"}
        .inMenu(ColourMenu)
        .rules([](ReaderWindow& w, int) { w.onRightBackground(); }),

    // Image: the adjustments of the picture on show.
    Row{cmd::Original, "Original", "Display the image as it is\nOriginal"}.inMenu(ImageMenu).rules(
        adjust, documentEnabled, documentChecked),
    Row{cmd::AutoColour, "Auto Color", "Display in Auto Color \nAuto Color"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 30, "auto-color")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::AutoContrast, "Auto Contrast", "Display in Auto Contrast \nAuto Contrast"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 20, "auto-contrast")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::InvertColour, "Invert Color", "Display in Invert Color \nInvert Color"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 40, "invert-color")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::BlackAndWhite, "Black and White", "Display in Grayscale \nGrayscale"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 10, "black-and-white")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::ChannelRed, "Channel Red", "Display in Red Channel \nRed Channel"}
        .inMenu(ImageMenu, kSeparated)
        .button(ImageToolsBar, 50, "channel-red")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::ChannelGreen, "Channel Green", "Display in Green Channel \nGreen Channel"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 60, "channel-green")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::ChannelBlue, "Channel Blue", "Display in Blue Channel \nBlue Channel"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 70, "channel-blue")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::FlipHorizontal, "Flip Horizontal", "Display in Horizontal Flip \nHorizontal Flip"}
        .inMenu(ImageMenu, kSeparated)
        .button(ImageToolsBar, 80, "flip-horizontal")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::FlipVertical, "Flip Vertical", "Display in Vertical Flip \nVertical Flip"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 90, "flip-vertical")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::RotateClockwise, "Rotate 90 CW", "Display in Clockwise Rotation \nClockwise Rotation"}
        .inMenu(ImageMenu, kSeparated)
        .button(ImageToolsBar, 100, "rotate-cw")
        .rules(adjust, documentEnabled, documentChecked),
    Row{cmd::RotateAnticlockwise, "Rotate 90 CCW",
        "Display in Anti-Clockwise Rotation \nAnti-Clockwise Rotation"}
        .inMenu(ImageMenu)
        .button(ImageToolsBar, 110, "rotate-ccw")
        .rules(adjust, documentEnabled, documentChecked),
    // Listed without a handler, so always shown disabled.
    Row{cmd::Rotate180, "Rotate 180", ""}.inMenu(ImageMenu).rules(nullptr, never),

    // Option. The three panes are always shown: their entries have no effect and are shown
    // disabled.
    Row{cmd::Toolbar, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar"}
        .inMenu(OptionMenu)
        .rules([](ReaderWindow& w, int) { toggleBar(w.mainToolBar()); }, nullptr,
               [](ReaderWindow& w, int) { return w.mainToolBar()->isVisible(); }),
    Row{cmd::StatusBar, "&Status Bar", "Show or hide the status bar\nToggle StatusBar"}
        .inMenu(OptionMenu)
        .rules([](ReaderWindow& w, int) { toggleBar(w.statusBar()); }, nullptr,
               [](ReaderWindow& w, int) { return w.statusBar()->isVisible(); }),
    Row{cmd::ImageTools, "&Image Tools", "Show or hide the Image Tools bar\nImage Tools"}
        .inMenu(OptionMenu)
        .rules([](ReaderWindow& w, int) { w.onImageTools(); }, nullptr,
               [](ReaderWindow& w, int) { return w.imageTools()->isVisible(); }),
    Row{cmd::TreeAndListView, "Tree &View and List View",
        "Show or Hide the File Explorer (Both Tree View and List View) \nFile Explorer"}
        .inMenu(OptionMenu, kSeparated)
        .rules(nullptr, never),
    Row{cmd::TreeView, "T&ree View", "Show or Hide the Tree View \nTree View"}
        .inMenu(OptionMenu)
        .rules(nullptr, never),
    Row{cmd::ListView, "&List View", "Show or Hide the List View \nList View"}
        .inMenu(OptionMenu)
        .rules(nullptr, never),
    // The picture's look below 100%: averaged, or the sharp pixels of the unfiltered stretch.
    Row{cmd::SmoothShrinking, "S&mooth Shrinking",
        "Shrink pictures below 100% by averaging their pixels\nSmooth Shrinking"}
        .inMenu(OptionMenu, kSeparated)
        .rules(
            [](ReaderWindow& w, int) { w.view().setSmoothShrinking(!w.view().smoothShrinking()); },
            nullptr, [](ReaderWindow& w, int) { return w.view().smoothShrinking(); }),
    Row{cmd::Customize, "&Customize ...", "Set the background colors of the three panes"}
        .inMenu(OptionMenu, kSeparated)
        .rules([](ReaderWindow& w, int) { w.onCustomize(); }),

    // Info
    Row{cmd::Help, "&Help", "Help"}
        .inMenu(InfoMenu)
        .keys({Qt::Key_F1})
        .rules([](ReaderWindow& w, int) { w.onHelp(); }),
    Row{cmd::HomePage, "Home &Page", "Visit the OmbriTools home page\nHome Page"}
        .inMenu(InfoMenu, kSeparated)
        .rules([](ReaderWindow& w, int) { w.document().onHomePage(); }),
    Row{cmd::About, "&About OmbriReader",
        "Display program information, version number and copyright\nAbout"}
        .inMenu(InfoMenu)
        .rules([](ReaderWindow& w, int) { w.onAppAbout(); }),

    // Without a menu item: a toolbar button or keys only.
    Row{cmd::FullScreen, "Full Screen", "Display the image on the full screen \nFull Screen"}
        .button(MainToolBar, 130, "full-screen")
        .rules([](ReaderWindow& w, int) { w.onFullScreen(); }),
    Row{cmd::FileOpen, "&Open...", "Open an existing image\nOpen"}
        .keys({Qt::CTRL | Qt::Key_O})
        .rules([](ReaderWindow& w, int) { w.onFileOpen(); }),
    Row{cmd::FileNew, "&New", "Show no image\nNew"}
        .keys({Qt::CTRL | Qt::Key_N})
        .rules([](ReaderWindow& w, int) { w.onFileNew(); }),
    Row{cmd::NextPane, "Next Pane", "Switch to the next window pane\nNext Pane"}
        .keys({Qt::Key_F6})
        .rules([](ReaderWindow& w, int) { w.onNextPane(); }),
    Row{cmd::PreviousPane, "Previous Pane",
        "Switch back to the previous window pane\nPrevious Pane"}
        .keys({Qt::SHIFT | Qt::Key_F6})
        .rules([](ReaderWindow& w, int) { w.onPreviousPane(); }),
};

} // namespace

QStringList readerMenuTitles()
{
    return {QStringLiteral("&File"),  QStringLiteral("&Edit"),  QStringLiteral("&View"),
            QStringLiteral("&Color"), QStringLiteral("&Image"), QStringLiteral("&Option"),
            QStringLiteral("I&nfo")};
}

void addReaderCommands(CommandTable& table, ReaderWindow& window)
{
    table.addRows(window, kRows);
}

} // namespace ombri::reader
