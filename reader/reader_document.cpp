#include "reader/reader_document.h"

#include "formats/colour_profile.h"
#include "reader/command_ids.h"
#include "reader/folder_walk.h"

#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

namespace ombri::reader {

namespace {

bool isAdjustmentCommand(int command)
{
    switch (command) {
    case cmd::AutoColour:
    case cmd::AutoContrast:
    case cmd::FlipHorizontal:
    case cmd::InvertColour:
    case cmd::BlackAndWhite:
    case cmd::Original:
    case cmd::ChannelRed:
    case cmd::ChannelGreen:
    case cmd::ChannelBlue:
    case cmd::FlipVertical:
    case cmd::RotateClockwise:
    case cmd::RotateAnticlockwise:
    case cmd::Rotate180:
        return true;
    default:
        return false;
    }
}

// Width and height trade places while one of these is in force.
constexpr uint16_t kQuarterTurns = kFlagRotatedClockwise | kFlagRotatedAnticlockwise;
void enterFolder(const std::string& folder)
{
    std::error_code ignored;
    std::filesystem::current_path(folder.empty() ? std::string("/") : folder, ignored);
}

} // namespace

ReaderDocument::ReaderDocument(Prompt& prompt) : DocumentBase(prompt, kRecentFileCount) {}

void ReaderDocument::setLoadedPicture(Dib image, std::optional<NoteLayer> notes,
                                      SignatureFind signature, bool seeThrough,
                                      const std::vector<uint8_t>& colourProfile)
{
    m_foundSignature = signature;
    m_showsTransparency = seeThrough;
    m_image = std::move(image);
    // The notes live in the stored pixels, which a conversion would change: the converted copy is
    // only ever shown.
    m_colourCorrected.reset();
    if (m_convertsColours && !colourProfile.empty())
        m_colourCorrected = convertedToSrgb(m_image, {colourProfile.data(), colourProfile.size()});
    m_width = DibGetWidth(m_image);
    m_height = DibGetHeight(m_image);
    m_noteLayer = std::move(notes);
    // Rendering walks the layer pixel by pixel alongside the picture; a layer of another size
    // cannot belong to it.
    if (m_noteLayer && !noteLayerFits())
        m_noteLayer.reset();
    m_displayCopy.reset();
    m_unshownReason.clear();
    ++m_pictureVersion;
    if (m_pictureObserver)
        m_pictureObserver();
}

bool ReaderDocument::noteLayerFits() const
{
    return m_noteLayer && m_width > 0 && m_height > 0 &&
           m_noteLayer->size() == static_cast<size_t>(m_width) * static_cast<size_t>(m_height);
}

void ReaderDocument::DeleteContents()
{
    m_image.reset();
    m_colourCorrected.reset();
    m_noteLayer.reset();
    m_foundSignature = {};
    m_showsTransparency = false;
    m_displayCopy.reset();
    m_spareBlock.reset();
    NoteLayer().swap(m_movedNotes);
    m_width = 0;
    m_height = 0;
    m_unshownReason.clear();
    ++m_pictureVersion;
    if (m_pictureObserver)
        m_pictureObserver();
}

// --- The display image ---

void ReaderDocument::dropDisplayCopy()
{
    // The block is kept for the next build: copying a large picture into memory already in use
    // is several times faster than into a fresh allocation, which the system must first clear.
    if (m_displayCopy.isNull())
        return;
    m_spareBlock = std::move(m_displayCopy);
    // A moved-from Dib keeps its size; reset makes it the null block it now is.
    m_displayCopy.reset();
}

Dib ReaderDocument::adjustedCopy(const NoteLayer* notes, NoteLayer* noteCopy)
{
    return makeAdjustedCopy(displaySource(), m_adjustments.code, m_adjustments.flags, notes,
                            noteCopy, std::move(m_spareBlock));
}

const Dib* ReaderDocument::BuildDisplayImage(bool showNotes)
{
    if (m_image.isNull())
        return nullptr;
    bool withNotes = showNotes && noteLayerFits();
    if (m_adjustments.isIdentity() && !withNotes)
        return &displaySource();
    // The copy remembers whether it was built with the notes, so that a caller asking the
    // other way (printing without notes, say) never gets a stale picture.
    if (!m_displayCopy.isNull() && m_displayShowsNotes == withNotes)
        return &m_displayCopy;
    // At most the new copy and one copy of the layer are held while building; the layer is
    // copied only when the pixels move, since colour adjustments leave every note in place.
    // While they move, the copy is kept for the next build, as the display copy's block is.
    dropDisplayCopy();
    const bool notesMove = withNotes && (m_adjustments.flags & kGeometricFlags) != 0;
    if (!notesMove)
        NoteLayer().swap(m_movedNotes);
    Dib copy;
    try {
        copy =
            notesMove ? adjustedCopy(&*m_noteLayer, &m_movedNotes) : adjustedCopy(nullptr, nullptr);
    } catch (const std::bad_alloc&) {
        // Without room for the layer's copy the picture is shown without its notes.
        withNotes = false;
        NoteLayer().swap(m_movedNotes);
        copy = adjustedCopy(nullptr, nullptr);
    }
    if (copy.isNull())
        return &displaySource();
    if (withNotes)
        renderNotes(copy, notesMove ? m_movedNotes : *m_noteLayer);
    m_displayCopy = std::move(copy);
    m_displayShowsNotes = withNotes;
    return &m_displayCopy;
}

Dib ReaderDocument::TakeDisplayImage(bool showNotes)
{
    Dib taken;
    const uint16_t turns = kFlagRotatedClockwise | kFlagRotatedAnticlockwise | kFlagRotated180;
    const bool inPlace = (m_adjustments.flags & turns) == 0 && &displaySource() == &m_image &&
                         m_displayCopy.isNull();
    if (!inPlace) {
        // A turn makes a block of its own whatever is done; the picture goes once it is made.
        const Dib* shown = BuildDisplayImage(showNotes);
        if (shown == &m_displayCopy)
            taken = std::move(m_displayCopy);
        else if (shown)
            taken = shown->clone();
        DeleteContents();
        return taken;
    }
    const bool withNotes = showNotes && noteLayerFits();
    taken = std::move(m_image);
    NoteLayer notes;
    if (withNotes)
        notes.swap(*m_noteLayer);
    DeleteContents();
    if (taken.isNull())
        return taken;
    // The steps BuildDisplayImage takes on its copy; flips move the notes with the pixels.
    ApplyAdjustments(taken, m_adjustments.code, m_adjustments.flags, withNotes ? &notes : nullptr);
    if (withNotes)
        renderNotes(taken, notes);
    return taken;
}

void ReaderDocument::renderNotes(Dib& display, const NoteLayer& notes) const
{
    const auto layout = dibGetLayout(display);
    if (!layout ||
        notes.size() != static_cast<size_t>(layout->width) * static_cast<size_t>(layout->height))
        return;
    if (m_complement)
        ComplementNotes(display, notes.data());
    else if (m_antiAliasing)
        blendNotesFromLayer(display, m_noteColour.colourRef(), notes.data());
    else
        PaintNotes(display, m_noteColour.colourRef(), notes.data());
}

// --- Note display ---

bool ReaderDocument::SelectNoteColour(int command)
{
    if (command == m_colourChoice)
        return false;
    m_colourChoice = command;
    dropDisplayCopy();
    switch (command) {
    case cmd::ColourComplement:
        m_complement = true;
        return true;
    case cmd::ColourWhite:
        m_noteColour = {255, 255, 255};
        break;
    case cmd::ColourBlack:
        m_noteColour = {0, 0, 0};
        break;
    case cmd::ColourRed:
        m_noteColour = {255, 0, 0};
        break;
    case cmd::ColourGreen:
        m_noteColour = {0, 255, 0};
        break;
    case cmd::ColourBlue:
        m_noteColour = {0, 0, 255};
        break;
    default:
        return true;
    }
    m_complement = false;
    return true;
}

void ReaderDocument::onNoteColourCommand(int command)
{
    if (SelectNoteColour(command) && m_imagePane)
        m_imagePane->redrawNow(Background::Keep);
}

void ReaderDocument::onColourChosen(NoteColour colour)
{
    dropDisplayCopy();
    m_noteColour = colour;
    m_complement = false;
    m_colourChoice = cmd::ColourSelected;
    if (m_imagePane)
        m_imagePane->invalidate();
}

void ReaderDocument::ToggleAntiAliasing()
{
    m_antiAliasing = !m_antiAliasing;
    dropDisplayCopy();
    if (m_imagePane)
        m_imagePane->redrawNow(Background::Keep);
}

void ReaderDocument::toggleDisplayNotes()
{
    if (!m_imagePane || !hasNoteLayer())
        return;
    m_imagePane->setShowNotes(!m_imagePane->showNotes());
    dropDisplayCopy();
    m_imagePane->redrawNow(Background::Keep);
}

// --- Image adjustments ---

void ReaderDocument::onAdjustmentCommand(int command)
{
    const uint16_t turnsBefore = m_adjustments.flags & kQuarterTurns;
    if (!m_adjustments.apply(command))
        return;
    dropDisplayCopy();
    if (!m_imagePane)
        return;
    // A rotation changes the displayed size, and so does Original when it undoes a quarter
    // turn: the background around the old picture must then be painted over.
    const bool sizeMayChange = command == cmd::RotateClockwise ||
                               command == cmd::RotateAnticlockwise ||
                               (m_adjustments.flags & kQuarterTurns) != turnsBefore;
    m_imagePane->redrawNow(sizeMayChange ? Background::Erase : Background::Keep);
}

// --- Opening and navigation ---

bool ReaderDocument::OnOpenDocument(const std::string& path)
{
    if (m_currentPath.empty() && m_treePane && !m_treePane->attachSystemImageList())
        return false;
    m_currentPath = absolutePath(path);
    UpdateNeighbourFlags();
    SetPathName(m_currentPath, true);
    SetModifiedFlag(false);
    return true;
}

bool ReaderDocument::OpenImagePath(const std::string& path)
{
    if (!OnOpenDocument(path)) {
        // The view still holds a frame painted from the picture that is gone; left alone, it
        // would go on showing it while every picture command is disabled.
        if (m_imagePane && !hasImage())
            m_imagePane->redrawNow(Background::Erase);
        return false;
    }
    if (m_imagePane) {
        m_imagePane->setShowNotes(false);
        m_imagePane->redrawNow(Background::Erase);
    }
    return true;
}

void ReaderDocument::followRenamedPath(const std::string& newPath)
{
    const bool named = getPathName() == m_currentPath;
    m_currentPath = absolutePath(newPath);
    UpdateNeighbourFlags();
    if (named)
        SetPathName(m_currentPath, false);
}

void ReaderDocument::UpdateNeighbourFlags()
{
    const auto folder = folderOfPath(m_currentPath);
    if (!folder)
        return;
    enterFolder(*folder);
    m_atFirst = true;
    m_atLast = true;
    const auto entries = ListFolder(*folder);
    if (!entries)
        return;
    const NeighbourFlags flags = findNeighbourFlags(*folder, *entries, m_currentPath);
    m_atFirst = flags.atFirst;
    m_atLast = flags.atLast;
}

bool ReaderDocument::FindPreviousImage()
{
    return !m_atFirst && goToNeighbour(findPreviousImagePath);
}

bool ReaderDocument::FindNextImage()
{
    return !m_atLast && goToNeighbour(findNextImagePath);
}

// Finds the neighbouring picture in the current picture's folder and shows it.
bool ReaderDocument::goToNeighbour(NeighbourFinder find)
{
    const auto folder = folderOfPath(m_currentPath);
    if (!folder)
        return false;
    enterFolder(*folder);
    const auto entries = ListFolder(*folder);
    if (!entries)
        return false;
    const auto neighbour = find(*folder, *entries, m_currentPath);
    if (!neighbour)
        return false;
    // The tree's selection opens the picture; without a tree the picture is opened directly.
    if (m_treePane)
        m_treePane->GoToPath(*neighbour);
    else
        OpenImagePath(*neighbour);
    return true;
}

void ReaderDocument::onPreviousImage()
{
    if (m_listPane && m_listPane->isVisible()) {
        if (auto path = m_listPane->SelectPreviousFile())
            OpenImagePath(*path);
        return;
    }
    if (FindPreviousImage() && m_imagePane)
        m_imagePane->redrawNow(Background::Erase);
}

void ReaderDocument::onNextImage()
{
    if (m_listPane && m_listPane->isVisible()) {
        if (auto path = m_listPane->SelectNextFile())
            OpenImagePath(*path);
        return;
    }
    if (FindNextImage() && m_imagePane)
        m_imagePane->redrawNow(Background::Erase);
}

void ReaderDocument::onHomePage()
{
    if (m_desktop)
        m_desktop->openUrl(kHomePageUrl);
}

// --- Menu rules ---

bool ReaderDocument::isCommandEnabled(int command) const
{
    if (cmd::isColourMenuCommand(command) || command == cmd::AntiAliasing ||
        command == cmd::DisplayNotes)
        return hasNoteLayer();
    if (isAdjustmentCommand(command))
        return m_adjustments.isEnabled(command, hasImage() ? DibGetBitCount(m_image) : 0);
    switch (command) {
    case cmd::PreviousImage:
        return !m_atFirst;
    case cmd::NextImage:
        return !m_atLast;
    case cmd::HomePage:
        return true;
    default:
        return false;
    }
}

bool ReaderDocument::isCommandChecked(int command) const
{
    if (cmd::isColourMenuCommand(command))
        return command == m_colourChoice;
    if (isAdjustmentCommand(command))
        return m_adjustments.isChecked(command);
    switch (command) {
    case cmd::AntiAliasing:
        return m_antiAliasing;
    case cmd::DisplayNotes:
        return m_imagePane && m_imagePane->showNotes();
    default:
        return false;
    }
}

} // namespace ombri::reader
