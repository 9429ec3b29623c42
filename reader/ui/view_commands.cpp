#include "reader/ui/view_commands.h"

#include "reader/adjustments.h"
#include "reader/command_ids.h"
#include "reader/reader_document.h"
#include "reader/ui/file_list.h"
#include "reader/ui/image_view.h"

namespace ombri::reader {
namespace {

struct MenuEntry {
    int id;
    const char* text;
    const char* prompt; // "Status text\nTooltip", as the reader has always shown them
};

// Served by the image view.
constexpr MenuEntry kViewEntries[] = {
    {cmd::Print, "&Print ...\tCtrl+P", "Print the active image \nPrint"},
    {cmd::DisplayNotes, "&Display Notes", "Display the notes of image \nDisplay Notes"},
    {cmd::FitIn, "&Fit In", "Fit Image to Window \nFit In"},
    {cmd::FitWidth, "Fit &Width", "Fit Image to Window Width \nFit Width"},
    {cmd::FitHeight, "Fit &Height", "Fit Image to Window Height \nFit Height"},
    {cmd::OriginalSize, "&Original Size", "Display the image in original size \nOriginal Size"},
    {cmd::ZoomIn, "Zoom &In", "Zoom In \nZoom In"},
    {cmd::ZoomOut, "Zoom &Out", "Zom Out \nZoom Out"},
    {cmd::ColourSelected, "&Selected", "The color selected by the customer"},
    {cmd::ColourWhite, "&White", "White color"},
    {cmd::ColourBlack, "&Black", "Black color"},
    {cmd::ColourRed, "&Red", "Red color"},
    {cmd::ColourGreen, "&Green", "Green color"},
    {cmd::ColourBlue, "Bl&ue", "Blue color"},
    {cmd::ColourComplement, "&Complement", "Complementary color"},
};

// Served by the document.
constexpr MenuEntry kDocumentEntries[] = {
    {cmd::AntiAliasing, "Anti Aliasing", "Draw the notes with smooth edges\nAnti Aliasing"},
    {cmd::PreviousImage, "&Previous Image", "DIsplay the previous image \nPrevious Image"},
    {cmd::NextImage, "&Next Image", "Display the next image \nNext Image"},
    {cmd::HomePage, "Home &Page", "Visit the OmbriTools home page\nHome Page"},
    {cmd::Original, "Original", "Display the image as it is\nOriginal"},
    {cmd::AutoColour, "Auto Color", "Display in Auto Color \nAuto Color"},
    {cmd::AutoContrast, "Auto Contrast", "Display in Auto Contrast \nAuto Contrast"},
    {cmd::InvertColour, "Invert Color", "Display in Invert Color \nInvert Color"},
    {cmd::BlackAndWhite, "Black and White", "Display in Grayscale \nGrayscale"},
    {cmd::ChannelRed, "Channel Red", "Display in Red Channel \nRed Channel"},
    {cmd::ChannelGreen, "Channel Green", "Dispaly in Green Channel \nGreen Channel"},
    {cmd::ChannelBlue, "Channel Blue", "Display in Blue Channel \nBlue Channel"},
    {cmd::FlipHorizontal, "Flip Horizontal", "Display in Horizontal Flip \nHorizontal Flip"},
    {cmd::FlipVertical, "Flip Vertical", "Dispaly in Vertical Flip \nVertical Flip"},
    {cmd::RotateClockwise, "Rotate 90 CW", "Display in Clockwise Rotation \nCloclwise Rotation"},
    {cmd::RotateAnticlockwise, "Rotate 90 CCW",
     "Display in Anti-Clockwise Rotation \nAnti-Clockwise Rotation"},
};

bool isDocumentCheckable(int id)
{
    return id != cmd::PreviousImage && id != cmd::NextImage && id != cmd::HomePage;
}

bool isListZoomCommand(int id)
{
    return id == cmd::ZoomIn || id == cmd::ZoomOut || id == cmd::OriginalSize;
}

// The pane holds the window's focus, itself or in a child such as a name being edited. Asked of
// the window rather than the application, so that it holds while a menu is open too.
bool hasPaneFocus(const QWidget& pane)
{
    const QWidget* focus = pane.window()->focusWidget();
    return focus && (focus == &pane || pane.isAncestorOf(focus));
}

} // namespace

void addMenuCommand(CommandTable& table, int id, const char* text, const char* prompt,
                    std::function<void()> run, std::function<bool()> enabled,
                    std::function<bool()> checked)
{
    const QString menuText = QString::fromUtf8(text);
    // "&Delete\t     Del" only shows its key: Delete belongs to the pane that has the focus.
    const MenuKey key =
        menuText.endsWith(QStringLiteral("     Del")) ? MenuKey::ShowOnly : MenuKey::Bind;
    Command command = makeMenuCommand(id, menuText, QString::fromUtf8(prompt), key);
    command.run = std::move(run);
    command.enabled = std::move(enabled);
    command.checked = std::move(checked);
    table.add(std::move(command));
}

void addReaderViewCommands(CommandTable& table, ImageView& view, ReaderDocument& document,
                           FileList* list)
{
    for (const MenuEntry& entry : kViewEntries) {
        const int id = entry.id;
        std::function<bool()> checked;
        if (ImageView::isCheckableCommand(id))
            checked = [&view, id] { return view.isCommandChecked(id); };
        // The list's pane holds the details table and the thumbnail grid: either one is the list.
        const auto listServes = [list, id] {
            return list && isListZoomCommand(id) && hasPaneFocus(*list->paneWidget());
        };
        addMenuCommand(
            table, id, entry.text, entry.prompt,
            [&view, list, id, listServes] {
                if (listServes())
                    list->forwardZoomCommand(id);
                else
                    view.onCommand(id);
            },
            [&view, list, id, listServes] {
                return listServes() ? list->zoomCommandsEnabled() : view.isCommandEnabled(id);
            },
            std::move(checked));
    }
    for (const MenuEntry& entry : kDocumentEntries) {
        const int id = entry.id;
        std::function<void()> run;
        switch (id) {
        case cmd::AntiAliasing:
            run = [&document] { document.ToggleAntiAliasing(); };
            break;
        case cmd::PreviousImage:
            run = [&document] { document.onPreviousImage(); };
            break;
        case cmd::NextImage:
            run = [&document] { document.onNextImage(); };
            break;
        case cmd::HomePage:
            run = [&document] { document.onHomePage(); };
            break;
        default:
            run = [&document, id] { document.onAdjustmentCommand(id); };
        }
        std::function<bool()> enabled;
        if (id != cmd::HomePage)
            enabled = [&document, id] { return document.isCommandEnabled(id); };
        std::function<bool()> checked;
        if (isDocumentCheckable(id))
            checked = [&document, id] { return document.isCommandChecked(id); };
        addMenuCommand(table, id, entry.text, entry.prompt, std::move(run), std::move(enabled),
                       std::move(checked));
    }
    // Listed in the Image menu without a handler, so always shown disabled.
    addMenuCommand(
        table, cmd::Rotate180, "Rotate 180", "", [] {}, [] { return false; });
}

} // namespace ombri::reader
