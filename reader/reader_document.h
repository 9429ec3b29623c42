#pragma once

#include "core/dib.h"
#include "notes/carrier.h"
#include "notes/render.h"
#include "platform/document_base.h"
#include "reader/adjustments.h"
#include "reader/command_ids.h"
#include "reader/folder_walk.h"
#include "reader/panes.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ombri::reader {

// Where the Home Page command takes the web browser.
constexpr const char* kHomePageUrl = "https://ombritools.example/";

struct NoteColour {
    uint8_t red = 0, green = 0, blue = 0;
    ColourRef colourRef() const { return makeColourRef(red, green, blue); }
    bool operator==(const NoteColour& other) const
    {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

// The reader's document: the one picture on show, its notes, how notes are shown, how the
// picture is adjusted for display, and stepping to the neighbouring pictures of its folder.
// Opening is added by OpenableReaderDocument (reader_document.h). It reaches the panes and the
// desktop only through the interfaces of panes.h, each of which may be absent.
class ReaderDocument : public DocumentBase {
  public:
    static constexpr size_t kRecentFileCount = 4;
    static constexpr NoteColour kDefaultNoteColour{255, 0, 0};

    explicit ReaderDocument(Prompt& prompt);

    void setTreePane(TreePane* pane) { m_treePane = pane; }
    void setImagePane(ImagePane* pane) { m_imagePane = pane; }
    void setListPane(ListPane* pane) { m_listPane = pane; }
    void setDesktopServices(DesktopServices* desktop) { m_desktop = desktop; }
    // Called whenever the picture on show is replaced or emptied, for what the window says
    // about it.
    void setPictureObserver(std::function<void()> observer)
    {
        m_pictureObserver = std::move(observer);
    }

    bool hasImage() const { return !m_image.isNull(); }
    const Dib& image() const { return m_image; }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    bool hasNoteLayer() const { return m_noteLayer.has_value(); }
    const std::optional<NoteLayer>& noteLayer() const { return m_noteLayer; }
    // The marker as the open found it: none, damaged, or intact in some orientation.
    const SignatureFind& foundSignature() const { return m_foundSignature; }
    // Full path of the last picture opened successfully; kept when a later open fails.
    const std::string& currentPath() const { return m_currentPath; }
    // Why the file last chosen is not on show ("Not a picture", "x.png is truncated"), for the
    // image view to say in its place; empty while a picture is shown or nothing was chosen.
    const std::string& unshownReason() const { return m_unshownReason; }
    // The picture in the colours it is meant to be seen in: the picture itself, or a copy
    // converted from its embedded colour profile for the screen. Notes are never read from it,
    // and nothing is saved from it.
    const Dib& displaySource() const
    {
        return m_colourCorrected.isNull() ? m_image : m_colourCorrected;
    }
    // Whether pictures with a colour profile are converted for the screen (the default). The
    // command line turns it off, so that what it renders has the colours stored in the file.
    void setConvertsColours(bool on) { m_convertsColours = on; }
    // Whether the picture on show has see-through pixels, drawn over a checkerboard on screen
    // and over white on paper.
    bool showsTransparency() const { return m_showsTransparency; }
    // Counts the pictures put on show or taken off: a view keeping anything made from the
    // picture makes it again when this changes, even when the new picture's block lies where
    // the old one's did.
    uint64_t pictureVersion() const { return m_pictureVersion; }

    NoteColour noteColour() const { return m_noteColour; }
    bool complementNotes() const { return m_complement; }
    bool antiAliasing() const { return m_antiAliasing; }
    int colourChoice() const { return m_colourChoice; }
    const Adjustments& adjustments() const { return m_adjustments; }
    bool atFirst() const { return m_atFirst; }
    bool atLast() const { return m_atLast; }

    // The picture to paint: the loaded picture itself while nothing changes its look, else the
    // cached display copy with the adjustments applied and, when showNotes is set, the notes
    // rendered. Null without a picture. Valid until the document changes.
    const Dib* BuildDisplayImage(bool showNotes);
    // The same pixels for a caller that writes them once and needs the document no more: made
    // in the picture's own block where the pixels do not turn, so that no second whole picture
    // is held. The document is left empty. A null block without a picture.
    Dib TakeDisplayImage(bool showNotes);
    // Forgets the display copy, so that the next paint builds it again.
    void dropDisplayCopy();

    // --- Note display (Color and View menus) ---

    // A Color menu choice. False when the id is the choice already made: nothing changes then
    // and the view need not repaint.
    bool SelectNoteColour(int command);
    // The Color menu's command: SelectNoteColour, then a repaint when something changed.
    void onNoteColourCommand(int command);
    // What OK in the Selected colour dialog does; the dialog opens on noteColour().
    void onColourChosen(NoteColour colour);
    void ToggleAntiAliasing();
    // Display Notes: the image view shows or hides the notes.
    void toggleDisplayNotes();

    // --- Image menu ---

    // Changes the adjustment state as the command says and shows the result.
    void onAdjustmentCommand(int command);

    // --- Navigation and Info ---

    // Opens a picture chosen in the list or the tree, or stepped to, with its notes hidden. A
    // failed open leaves the image view showing no picture.
    bool OpenImagePath(const std::string& path);
    // The current picture's file was renamed, or moved with a renamed folder: the current path
    // and the path name follow it without the file being read again.
    void followRenamedPath(const std::string& newPath);
    void onPreviousImage();
    void onNextImage();
    void onHomePage();

    // Menu rules of the document's commands (the colour, notes, stepping and Image menu commands);
    // false for ids it does not serve.
    bool isCommandEnabled(int command) const;
    bool isCommandChecked(int command) const;

    // The bookkeeping that ends every successful load: the folder tree prepared on the first
    // one, the current path, the neighbour flags, the path name.
    bool OnOpenDocument(const std::string& path) override;
    // The reader never saves.
    bool OnSaveDocument(const std::string&) override { return false; }
    // Frees the picture, its notes and the display copy; the current path, the note display
    // settings and the adjustments stay.
    void DeleteContents() override;

  protected:
    // Makes the current path's folder the process's current directory (the file commands
    // work in it) and recomputes atFirst and atLast.
    void UpdateNeighbourFlags();
    // Steps with the folder tree when the file list is hidden; true when the tree was sent on.
    bool FindPreviousImage();
    bool FindNextImage();

    // seeThrough: whether the picture has pixels to be seen through (hasSeeThroughPixels).
    // colourProfile is the picture's embedded ICC profile, if any: the display source is made
    // from it here, once, and goes with the picture.
    void setLoadedPicture(Dib image, std::optional<NoteLayer> notes, SignatureFind signature,
                          bool seeThrough = false, const std::vector<uint8_t>& colourProfile = {});
    // A failed open leaves the document empty with this said in the picture's place.
    void setUnshownReason(std::string reason) { m_unshownReason = std::move(reason); }

  private:
    using NeighbourFinder = std::optional<std::string> (*)(const std::string& folder,
                                                           const std::vector<FolderEntry>& entries,
                                                           const std::string& currentPath);
    bool goToNeighbour(NeighbourFinder find);
    Dib adjustedCopy(const NoteLayer* notes, NoteLayer* noteCopy);
    void renderNotes(Dib& display, const NoteLayer& notes) const;
    bool noteLayerFits() const;

    Adjustments m_adjustments;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int m_colourChoice = cmd::ColourRed;
    TreePane* m_treePane = nullptr;
    ImagePane* m_imagePane = nullptr;
    std::string m_currentPath;
    NoteColour m_noteColour = kDefaultNoteColour;
    bool m_complement = false;
    Dib m_displayCopy;
    bool m_displayShowsNotes = false; // whether m_displayCopy has the notes rendered
    Dib m_spareBlock;                 // the last dropped display copy, reused by the next build
    NoteLayer m_movedNotes;           // the note copy of the last build that moved the notes
    bool m_atLast = false;
    bool m_atFirst = false;
    bool m_antiAliasing = true;
    ListPane* m_listPane = nullptr;
    DesktopServices* m_desktop = nullptr;
    std::optional<NoteLayer> m_noteLayer;
    SignatureFind m_foundSignature;
    Dib m_image;
    std::function<void()> m_pictureObserver;
    std::string m_unshownReason;
    bool m_showsTransparency = false;
    Dib m_colourCorrected; // the picture converted from its colour profile; null without one
    bool m_convertsColours = true;
    uint64_t m_pictureVersion = 0;
};

} // namespace ombri::reader
