// OmbriWriter driven by random journeys of a user's actions through its real main window: tools
// chosen from the Paint Tool Box, drags in every direction, typing, undo and redo, zooming,
// pictures of every size and depth opened and dropped, files that are no picture or a broken one
// opened and dropped, saved in every format and depth, the notes exported (onto the picture's
// own file too, by any name), closed. After every step the writer's promises are checked: layers
// sized for the picture on screen, the screen showing the picture and its notes, every drawn
// figure kept, saved files holding exactly the notes the document holds, a file that cannot be
// opened changing nothing, and no file written but the one the user saved to. Saves held at
// their start, as on a slow disk, while the user goes on pressing and dropping, change nothing
// but the file.
#include "journeys/gui_events.h"
#include "journeys/journey.h"
#include "journeys/journey_main.h"
#include "journeys/journey_prompt.h"
#include "journeys/picture_fixtures.h"

#include "core/file_io.h"
#include "formats/dispatch.h"
#include "platform/prompt.h"
#include "platform/qt/dib_draw.h"
#include "platform/qt/surface.h"
#include "support/reference_figure.h"
#include "support/test_support.h"
#include "writer/command_ids.h"
#include "writer/note_files.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

namespace ombri::journey {
using writer::Tool;

using writer::SavableWriterDocument;
using writer::WriterView;
using writer::WriterWindow;
namespace cmd = writer::cmd;
namespace {

namespace fs = std::filesystem;

Answer answerFor(const std::string& word)
{
    if (word == "yes")
        return Answer::Yes;
    if (word == "no")
        return Answer::No;
    return Answer::Cancel;
}

// ---- what the journeys choose from --------------------------------------------------------

struct NamedCommand {
    const char* name;
    int id;
};

// The Paint Tool Box from top to bottom.
constexpr NamedCommand kTools[] = {{"Text", cmd::TextTool},
                                   {"Eraser", cmd::Erasure},
                                   {"Pen", cmd::FreehandPen},
                                   {"Line", cmd::LineTool},
                                   {"Arc", cmd::ArcTool},
                                   {"Rectangle", cmd::RectangleTool},
                                   {"RoundRectangle", cmd::RoundRectangleTool},
                                   {"Ellipse", cmd::EllipseTool}};
// The main toolbar's buttons that change only what is shown.
constexpr NamedCommand kViewButtons[] = {{"DisplayNotes", cmd::DisplayNotes},
                                         {"FitIn", cmd::FitIn},
                                         {"ZoomOut", cmd::ZoomOut},
                                         {"ZoomIn", cmd::ZoomIn},
                                         {"OriginalSize", cmd::OriginalSize}};
// The Color menu.
constexpr NamedCommand kColours[] = {{"Selected", cmd::Selected},    {"Black", cmd::Black},
                                     {"White", cmd::White},          {"Red", cmd::Red},
                                     {"Green", cmd::Green},          {"Blue", cmd::Blue},
                                     {"Background", cmd::Background}};
constexpr NamedCommand kSaveAsButtons[] = {{"lossless", cmd::SaveAsLossless},
                                           {"compressed", cmd::SaveAsCompressed}};

struct NamedKey {
    const char* name;
    Qt::Key key;
    bool writes; // a key a user writing with the text tool presses
};
constexpr NamedKey kKeys[] = {
    {"Return", Qt::Key_Return, true}, {"Backspace", Qt::Key_Backspace, true},
    {"Left", Qt::Key_Left, true},     {"Right", Qt::Key_Right, true},
    {"Delete", Qt::Key_Delete, true}, {"Escape", Qt::Key_Escape, true},
    {"Tab", Qt::Key_Tab, true},       {"Space", Qt::Key_Space, true},
    {"9", Qt::Key_9, false},          {"8", Qt::Key_8, false},
    {"0", Qt::Key_0, false},          {"Up", Qt::Key_Up, false}};

struct NamedModifier {
    const char* name;
    Qt::KeyboardModifier modifier;
};
constexpr NamedModifier kModifiers[] = {{"none", Qt::NoModifier},
                                        {"shift", Qt::ShiftModifier},
                                        {"ctrl", Qt::ControlModifier},
                                        {"alt", Qt::AltModifier}};

// What Save As may be given: the extensions a user types, and now and then in other spellings.
const char* const kSaveExtensions[] = {"png", "bmp", "tif", "rgb", "dpx", "cin", "jpg"};
const char* const kOtherSaveSpellings[] = {"jpeg", "Png", "tiff", "TIF"};
const char* const kTexts[] = {"a", "Ab", "note 1", "xyz", "W", " ", "8 9", "caf\xe9", ".,;"};
const char* const kPastes[] = {"ab\ncd", "one\r\ntwo", "x\ry", "\tz", "line", "a\n\nb\n", "p\r"};
// Text outside Latin-1, named so that a journey file stays plain ASCII: letters with their own
// code points, a letter and its combining accent, a character outside the basic plane.
struct ScriptText {
    const char* name;
    const char16_t* text;
};
constexpr ScriptText kScriptTexts[] = {{"polish", u"Łódź"},    {"greek", u"Ωμέγα"},
                                       {"cyrillic", u"Жук"},   {"chinese", u"中文笔记"},
                                       {"accent", u"e\u0301"}, {"emoji", u"\U0001F600"}};
// How the text arrives: key by key as a keyboard laid out for the script sends it, or committed
// at once by an input method.
const char* const kScriptInputs[] = {"keys", "ime"};
const char* const kEraserSizes[] = {"5", "10", "25", "50", "2x", "0", ""};
// Files that cannot be opened: a broken PNG header, a text file, a PNG cut off halfway.
const char* const kUnreadable[] = {"pics/broken.png", "pics/notes.txt", "bad/truncated.png"};
// The pictures a journey starts on. The big photograph costs a second or two a save: it comes
// up in one journey of ten or so.
const char* const kStartPictures[] = {"p24.bmp",     "p32.png",  "p8.bmp",  "one.bmp",
                                      "column.png",  "row.bmp",  "big.bmp", "narrow.png",
                                      "carrier.png", "photo.jpg"};
// Where Export Notes is pointed: the picture's own file, a symbolic link to it, a hard link to
// it, its own path spelled another way, and a new file.
const char* const kExportTargets[] = {"own", "symlink", "hardlink", "spelling", "new"};
// Save As onto the file the picture came from.
constexpr const char* kOwnFile = "own";

const std::vector<NamedKey>& writingKeys()
{
    static const std::vector<NamedKey> keys = [] {
        std::vector<NamedKey> writing;
        std::copy_if(std::begin(kKeys), std::end(kKeys), std::back_inserter(writing),
                     [](const NamedKey& key) { return key.writes; });
        return writing;
    }();
    return keys;
}

bool isShapeTool(Tool tool)
{
    return tool == Tool::Line || tool == Tool::Rectangle || tool == Tool::Ellipse ||
           tool == Tool::RoundRectangle || tool == Tool::Arc;
}

// A point where the pictures are (the tiny ones too), or anywhere around the canvas.
QPoint randomPoint(Rng& rng)
{
    const int roll = rng.below(10);
    if (roll < 2)
        return QPoint(rng.between(-2, 8), rng.between(-2, 42));
    if (roll < 8)
        return QPoint(rng.between(0, 320), rng.between(0, 220));
    return QPoint(rng.between(-40, 760), rng.between(-40, 560));
}

Step randomDrag(Rng& rng)
{
    const QPoint from = randomPoint(rng);
    QPoint to = randomPoint(rng);
    switch (rng.below(6)) {
    case 0:
        to.setY(from.y()); // horizontal, either way
        break;
    case 1:
        to.setX(from.x()); // vertical, either way
        break;
    case 2:
        to = from; // no length at all
        break;
    case 3:
        if (rng.chance(1, 2))
            to.setX(from.x() + (rng.chance(1, 2) ? 1 : -1)); // one pixel wide
        else
            to.setY(from.y() + (rng.chance(1, 2) ? 1 : -1));
        break;
    case 4:
        to = from + QPoint(rng.between(-5, 5), rng.between(-5, 5));
        break;
    default:
        break;
    }
    const char* modifier = rng.chance(1, 8) ? kModifiers[rng.between(1, 3)].name : "none";
    const int moves = rng.chance(1, 12) ? -1 : rng.between(0, 4);
    return Step{
        "drag",
        {word(from.x()), word(from.y()), word(to.x()), word(to.y()), modifier, word(moves)}};
}

std::string randomAnswer(Rng& rng)
{
    const char* const answers[] = {"yes", "no", "cancel"};
    return rng.pick(answers);
}

// A picture to open or drop: one of the journey's pictures, one saved earlier (or not yet), or
// now and then a file that cannot be opened.
std::string randomPicture(Rng& rng)
{
    if (rng.chance(1, 5))
        return rng.pick(kUnreadable);
    if (rng.chance(1, 4))
        return "out/s" + word(rng.below(6)) + "." + rng.pick(kSaveExtensions);
    std::string name = rng.pick(kFixturePictures);
    if (name == "big.bmp" && rng.chance(3, 4))
        name = kStartPictures[0];
    return "pics/" + name;
}

// ---- files: what changed between two steps ------------------------------------------------

struct Stamp {
    uintmax_t size = 0;
    int64_t modified = 0;
    uint64_t inode = 0;
    bool operator==(const Stamp& other) const
    {
        return size == other.size && modified == other.modified && inode == other.inode;
    }
};

std::map<std::string, Stamp> stampFiles(const std::string& folder)
{
    std::map<std::string, Stamp> stamps;
    walkFolder(folder, [&stamps](const std::string& path, const struct stat& entry) {
        // A link to a file counts as the file it leads to.
        struct stat info = entry;
        if (S_ISLNK(entry.st_mode) && ::stat(path.c_str(), &info) != 0)
            return false;
        if (S_ISREG(info.st_mode))
            stamps[path] =
                Stamp{static_cast<uintmax_t>(info.st_size),
                      static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                      static_cast<uint64_t>(info.st_ino)};
        return true;
    });
    return stamps;
}

std::vector<std::string> changedFiles(const std::map<std::string, Stamp>& before,
                                      const std::map<std::string, Stamp>& after)
{
    std::vector<std::string> changed;
    for (const auto& [path, stamp] : after) {
        auto old = before.find(path);
        if (old == before.end() || !(old->second == stamp))
            changed.push_back(path);
    }
    for (const auto& [path, stamp] : before) {
        if (!after.count(path))
            changed.push_back(path + " (removed)");
    }
    return changed;
}

// Whether a saved file of this kind and size carries notes at all.
bool carriesNotes(const std::string& extension, int32_t width, uint16_t bitCount)
{
    const ImageFormat* format = loadFormatForExtension(extension);
    if (format->notes == NoteForm::PixelWordBits)
        return true;
    if (!savesNotes(*format))
        return false;
    if (format->notes == NoteForm::PlanarMarker)
        return width >= 8;
    return rowHoldsSignature(width, bitCount);
}

// The marker of the file overwrites the note bits of the first pixels of its row: the top or
// the bottom row, by format.
bool inSignatureArea(const std::string& extension, int32_t width, int32_t height, size_t index)
{
    if (loadFormatForExtension(extension)->notes == NoteForm::PixelWordBits)
        return false;
    const auto column = static_cast<int32_t>(index % static_cast<size_t>(width));
    const auto row = static_cast<int32_t>(index / static_cast<size_t>(width));
    return column < 8 && (row == 0 || row == height - 1);
}

size_t countNotes(const std::optional<NoteLayer>& notes)
{
    return notes ? countNotePixels(*notes) : 0;
}

// ---- deep undo and redo: the document at each place of its history ------------------------
//
// The document's state (its picture's bytes and its note layer, hashed) is kept for each place
// of its history the journey has seen. After any number of undos and redos the document must be
// in the state seen last at the place it stands; a place first reached is learnt. Places are
// followed through the steps Undo and Redo would turn next, which keep their address while they
// are in the history: an undo makes the step that was to be undone the one to redo. A step that
// adds steps (a tool put down, Clear All, Import Notes) may also drop the oldest, so the places
// before the new end are learnt again; one that only drops the steps ahead keeps them.
class HistoryTrack {
  public:
    // Before a step: where the history stands.
    void before(SavableWriterDocument& doc)
    {
        m_before = look(doc);
        m_stateBefore = doc.hasImage() ? stateHash(doc) : 0;
    }
    // After it: the first broken promise.
    std::optional<std::string> after(SavableWriterDocument& doc, const Step& step);
    // The place and how many places are known, for the trace.
    std::string describe() const
    {
        return std::to_string(m_place) + " of " + std::to_string(m_states.size() - 1);
    }

  private:
    // A step as far as the journey can tell it from another: its address, its name and the
    // pixels it turns. A step dropped and a new one put in its place within one step of the
    // journey (Clear All after an undo) may take its address; one that also turns as many
    // pixels under the same name turns the same ones in all but the rarest journeys.
    struct StepMark {
        const writer::NoteStep* address = nullptr;
        std::string label;
        size_t notes = 0;
        size_t carrier = 0;
        explicit StepMark(const writer::NoteStep* step)
            : address(step), label(step ? step->label : std::string()),
              notes(step ? step->notes.count() : 0), carrier(step ? step->carrier.count() : 0)
        {
        }
        StepMark() = default;
        bool operator==(const StepMark& other) const
        {
            return address == other.address && label == other.label && notes == other.notes &&
                   carrier == other.carrier;
        }
        bool exists() const { return address != nullptr; }
    };
    struct Look {
        StepMark toUndo;
        StepMark toRedo;
        size_t size = 0;
        size_t bytes = 0;
        uint64_t picture = 0;
        bool hasPicture = false;
        // Undo and Redo move through the steps and leave their count and cost as they were.
        bool sameSteps(const Look& other) const
        {
            return size == other.size && bytes == other.bytes;
        }
        bool operator==(const Look& other) const
        {
            return sameSteps(other) && toUndo == other.toUndo && toRedo == other.toRedo;
        }
    };
    static Look look(SavableWriterDocument& doc)
    {
        const writer::NoteHistory& history = doc.history();
        return Look{StepMark(history.toUndo()),
                    StepMark(history.toRedo()),
                    history.size(),
                    history.bytes(),
                    doc.pictureGeneration(),
                    doc.hasImage()};
    }
    uint64_t stateHash(SavableWriterDocument& doc);
    void restart(size_t places, uint64_t state)
    {
        m_states.assign(places + 1, std::nullopt);
        m_place = places;
        m_states[m_place] = state;
    }

    Look m_before;
    uint64_t m_stateBefore = 0;
    std::vector<std::optional<uint64_t>> m_states{std::optional<uint64_t>(0)};
    size_t m_place = 0;
    bool m_lost = true; // the place is not known: every place is learnt again
    // The last state hashed, kept while the document counts no change: the big picture's bytes
    // cost more to hash than most steps take.
    uint64_t m_hashedPicture = ~uint64_t{0};
    uint64_t m_hashedDisplay = ~uint64_t{0};
    uint64_t m_hash = 0;
};

// Two states that differ hash alike once in 2^64: a missing note layer is one of no notes.
uint64_t HistoryTrack::stateHash(SavableWriterDocument& doc)
{
    if (doc.pictureGeneration() == m_hashedPicture && doc.displayGeneration() == m_hashedDisplay)
        return m_hash;
    m_hashedPicture = doc.pictureGeneration();
    m_hashedDisplay = doc.displayGeneration();
    const auto bytes = [](const uint8_t* data, size_t size) {
        return std::hash<std::string_view>()(
            std::string_view(reinterpret_cast<const char*>(data), size));
    };
    const Dib& image = doc.image();
    uint64_t hash = image.isNull() ? 0 : bytes(image.data(), image.size());
    const size_t size = static_cast<size_t>(doc.width()) * static_cast<size_t>(doc.height());
    if (doc.noteLayer())
        hash = hash * 1000003u ^ bytes(doc.noteLayer()->data(), doc.noteLayer()->size());
    else
        hash = hash * 1000003u ^ bytes(NoteLayer(size, 0).data(), size);
    m_hash = hash;
    return hash;
}

std::optional<std::string> HistoryTrack::after(SavableWriterDocument& doc, const Step& step)
{
    const Look now = look(doc);
    // Clear All that took notes away is a step Undo gives them back with; a tiny picture's
    // history may hold no step at all, as it holds at most half the picture's size.
    const size_t pixels = static_cast<size_t>(doc.width()) * static_cast<size_t>(doc.height());
    if (step.verb == "clearall" && now.hasPicture && now.picture == m_before.picture &&
        stateHash(doc) != m_stateBefore && pixels >= 4096 && now.toUndo.label != "Clear All")
        return "Clear All changed the picture and cannot be undone";
    if (!now.hasPicture || now.picture != m_before.picture || now.size == 0) {
        // Another picture, or a history with nothing in it: the document starts here.
        m_lost = false;
        restart(0, stateHash(doc));
        return std::nullopt;
    }
    const uint64_t state = stateHash(doc);
    std::string move;
    bool turned = false;
    if (now == m_before) {
        move = "a " + step.verb + " that left the history as it was";
    } else if (now.sameSteps(m_before) && m_before.toUndo.exists() &&
               now.toRedo == m_before.toUndo) {
        move = "an undo of " + now.toRedo.label;
        turned = true;
        if (m_place > 0)
            --m_place;
        else
            m_lost = true;
    } else if (now.sameSteps(m_before) && m_before.toRedo.exists() &&
               now.toUndo == m_before.toRedo) {
        move = "a redo of " + now.toUndo.label;
        turned = true;
        if (m_place + 1 < m_states.size())
            ++m_place;
        else
            m_lost = true;
    } else if (now.toRedo.exists()) {
        return "the history changed in a " + step.verb + " and still has " + now.toRedo.label +
               " to redo";
    } else if (now.toUndo == m_before.toUndo && now.size == m_place && !m_lost) {
        // New drawing dropped the steps ahead: the places behind stand.
        m_states.resize(now.size + 1);
        move = "new drawing";
    } else if (step.verb == "clearall" && !m_lost && now.toUndo.label == "Clear All" &&
               now.size <= m_place + 1) {
        // One step added on top of the place before, and the oldest dropped to make room.
        const size_t dropped = m_place + 1 - now.size;
        m_states.resize(m_place + 1);
        m_states.erase(m_states.begin(), m_states.begin() + static_cast<std::ptrdiff_t>(dropped));
        m_states.push_back(state);
        m_place = now.size;
        return std::nullopt;
    } else {
        m_lost = false;
        restart(now.size, state);
        return std::nullopt;
    }
    if (m_lost) {
        // The place cannot be followed: nothing is known until the history changes again.
        return std::nullopt;
    }
    // A picture saved before an undo or redo no longer holds what the window shows.
    if (turned && !doc.IsModified())
        return move + " left the document unmodified";
    std::optional<uint64_t>& known = m_states[m_place];
    if (!known) {
        known = state;
        return std::nullopt;
    }
    if (*known != state)
        return "after " + move + " the picture and notes are not as they were at place " +
               std::to_string(m_place) + " of the history";
    return std::nullopt;
}

// Undo and Redo chosen from the Edit menu, several times in a row: a user stepping back through
// what they did and forward again.
std::optional<std::string> chooseEditItem(WriterWindow& frame, int id, const char* name)
{
    QAction* action = frame.commands().action(id);
    if (!clickMenuItem(&frame, frame.menu(QStringLiteral("&Edit")), action))
        return std::string("the menu &Edit has no item ") + name;
    return std::nullopt;
}

// ---- one journey --------------------------------------------------------------------------

class WriterSession {
  public:
    WriterSession()
    {
        fs::create_directories(m_dir.file("pics"));
        fs::create_directories(m_dir.file("out"));
        copyFixturePictures(m_dir.file("pics"));
        // A real picture cut off halfway, as a copy that stopped or a download that broke off.
        fs::create_directories(m_dir.file("bad"));
        std::vector<uint8_t> carrier = test::readFileBytes(m_dir.file("pics/carrier.png"));
        carrier.resize(carrier.size() / 2);
        test::writeFileBytes(m_dir.file("bad/truncated.png"), carrier);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(m_dir.file("settings")));
        QSettings().clear();
        m_frame = std::make_unique<WriterWindow>(&m_prompt);
        m_frame->show();
        reactivate(m_frame.get());
        view().setFocus();
        settle();
        m_files = stampFiles(m_dir.path());
    }
    ~WriterSession()
    {
        // The window closes as the user's last step would not: no question, nothing saved.
        m_frame->document().SetModified(false);
        m_frame.reset();
        settle();
    }

    std::optional<std::string> perform(const Step& step, const Verb<WriterSession>& verb);
    std::optional<std::string> check(const Step& step);
    // One line on the state after a step, for OMBRI_JOURNEY_TRACE.
    std::string state();
    QWidget* window() { return m_frame.get(); }

    static const Verb<WriterSession> kVerbs[];
    void drawOpening(Rng& rng, Journey& journey);

  private:
    void drawTool(Rng& rng, Journey& journey);
    void drawDrag(Rng& rng, Journey& journey);
    void drawUndo(Rng& rng, Journey& journey);
    void drawRedo(Rng& rng, Journey& journey);
    void drawClick(Rng& rng, Journey& journey);
    void drawType(Rng& rng, Journey& journey);
    void drawKey(Rng& rng, Journey& journey);
    void drawClearAll(Rng& rng, Journey& journey);
    void drawPress(Rng& rng, Journey& journey);
    void drawColour(Rng& rng, Journey& journey);
    void drawPaste(Rng& rng, Journey& journey);
    void drawOpen(Rng& rng, Journey& journey);
    void drawDrop(Rng& rng, Journey& journey);
    void drawSave(Rng& rng, Journey& journey);
    void drawExport(Rng& rng, Journey& journey);
    void drawSaveAs(Rng& rng, Journey& journey);
    void drawClose(Rng& rng, Journey& journey);
    void drawNew(Rng& rng, Journey& journey);
    void drawWheel(Rng& rng, Journey& journey);
    void drawResize(Rng& rng, Journey& journey);
    void drawEraserSize(Rng& rng, Journey& journey);
    void drawShortcut(Rng& rng, Journey& journey);
    void drawCtrlWheel(Rng& rng, Journey& journey);
    void drawCloseKey(Rng& rng, Journey& journey);
    void drawExitKey(Rng& rng, Journey& journey);
    void drawHeldSave(Rng& rng, Journey& journey);
    void drawScript(Rng& rng, Journey& journey);
    void drawLineWidth(Rng& rng, Journey& journey);
    void drawEdgeDrag(Rng& rng, Journey& journey);
    void drawStepBack(Rng& rng, Journey& journey);

    std::optional<std::string> runTool(const Step& step);
    std::optional<std::string> runDrag(const Step& step);
    std::optional<std::string> runUndo(const Step& step);
    std::optional<std::string> runRedo(const Step& step);
    std::optional<std::string> runClick(const Step& step);
    std::optional<std::string> runType(const Step& step);
    std::optional<std::string> runKey(const Step& step);
    std::optional<std::string> runClearAll(const Step& step);
    std::optional<std::string> runPress(const Step& step);
    std::optional<std::string> runColour(const Step& step);
    std::optional<std::string> runPaste(const Step& step);
    std::optional<std::string> runOpen(const Step& step);
    std::optional<std::string> runDrop(const Step& step);
    std::optional<std::string> runSave(const Step& step);
    std::optional<std::string> runExport(const Step& step);
    std::optional<std::string> runSaveAs(const Step& step);
    std::optional<std::string> runClose(const Step& step);
    std::optional<std::string> runNew(const Step& step);
    std::optional<std::string> runHeldSave(const Step& step);
    struct HeldState;
    HeldState heldState();
    void interfere(const std::string& how);
    std::optional<std::string> runWheel(const Step& step);
    std::optional<std::string> runResize(const Step& step);
    std::optional<std::string> runEraserSize(const Step& step);
    std::optional<std::string> runShortcut(const Step& step);
    std::optional<std::string> runCtrlWheel(const Step& step);
    std::optional<std::string> runCloseKey(const Step& step);
    std::optional<std::string> runExitKey(const Step& step);
    void noteKeyStep(const Step& step);
    std::optional<std::string> checkKeyStep(const Step& step);
    std::optional<std::string> runScript(const Step& step);
    std::optional<std::string> runLineWidth(const Step& step);
    std::optional<std::string> runEdgeDrag(const Step& step);
    std::optional<std::string> checkLineWidth();
    std::optional<std::string> checkEdgeDrag();
    std::optional<std::string> runMenuUndo(const Step& step);
    std::optional<std::string> runMenuRedo(const Step& step);

    std::optional<std::string> clickButton(QToolBar* bar, const char* barName,
                                           const NamedCommand& command);
    std::optional<std::string> chooseMenuItem(const char* menu, int id, const std::string& name);
    std::optional<std::string> checkTarget(const std::string& name) const;

    WriterView& view() { return m_frame->view(); }
    SavableWriterDocument& doc() { return m_frame->document(); }
    QWidget* canvas() { return view().viewport(); }
    QAction* action(int id) { return m_frame->commands().action(id); }
    void queueAnswers(const Step& step, size_t first);
    std::string picturePath(const Step& step) const;
    std::string savePath(const Step& step) const;
    void noteDrawnFigure(const Step& step);
    void notePaste(const Step& step);
    void noteScript(const Step& step);
    std::optional<std::string> checkScript();
    std::optional<std::string> checkPaste();
    void notePendingSave(const Step& step);
    std::optional<std::string> unreadableTarget(const Step& step) const;
    bool knownUnreadable(const Step& step) const;
    void noteFailedOpen(const Step& step);
    std::string exportPath(const std::string& target);

    std::optional<std::string> checkLayers();
    std::optional<std::string> checkScreen();
    std::optional<std::string> checkFigure();
    std::optional<std::string> checkFiles(const Step& step);
    std::optional<std::string> checkSavedFile(const std::string& path, const Step& step);
    std::optional<std::string> checkOpened(const Step& step);
    std::optional<std::string> checkFailedOpen(const Step& step);
    std::optional<std::string> checkExportedMask(const std::string& path);
    std::optional<std::string> checkZoomKey(int zoomSteps, bool originalSize);

    test::TempDir m_dir;
    JourneyPrompt m_prompt;
    std::unique_ptr<WriterWindow> m_frame;
    std::map<std::string, Stamp> m_files;
    // The file the picture on screen came from or was last saved to, as the user sees it.
    std::string m_currentFile;

    // Taken before each step.
    size_t m_messagesBefore = 0;
    bool m_modifiedBefore = false;
    uint64_t m_generationBefore = 0;
    std::string m_saveAsTarget;
    // The pixels of a figure released in this step, in image coordinates.
    std::vector<std::pair<int, int>> m_figure;
    // What the text line and its caret must be after text in another script is typed.
    struct ScriptLine {
        QString line;
        int caret = 0;
    };
    std::optional<ScriptLine> m_scriptLine;
    // Where a paste must leave the text tool's anchor: one line step down for each line it ends.
    std::optional<QPoint> m_anchorAfterPaste;
    // What a held save saw reach the picture while it ran.
    std::optional<std::string> m_heldSaveBroken;
    // The notes a save in this step must write when the picture is gone after it.
    std::optional<NoteLayer> m_notesToSave;
    bool m_notesToSaveExact = true;
    // A file that cannot be opened leaves all of this as it was, and asks nothing.
    struct Kept {
        bool hadPicture = false;
        uint64_t picture = 0;
        uint64_t display = 0;
        std::optional<NoteLayer> notes;
        bool modified = false;
        std::string path;
        std::string savePath;
        std::optional<std::vector<uint8_t>> pending;
        std::optional<std::vector<uint8_t>> redo;
        QString textLine;
        Tool tool = Tool::None;
        QString windowTitle;
    };
    std::optional<Kept> m_keptThroughFailedOpen;
    // The mask file Export Notes may write in this step; empty when it must write nothing.
    std::string m_exportTarget;
    // Set when Export Notes wrote through a link to the picture's own file.
    std::optional<std::string> m_exportThroughLink;

    // The picture as the screen is expected to show it, kept while it is unchanged.
    QImage m_reference;
    // The canvas as last painted for the check, kept for the next one.
    QImage m_shown;
    const void* m_referenceFrom = nullptr;
    uint64_t m_referenceGeneration = ~uint64_t{0};

    // What a step of the keys' verbs may change, taken before it.
    struct BeforeKey {
        bool hasPicture = false;
        Tool tool = Tool::None;
        float zoom = 1.0f;
        bool fit = false;
        bool undoEnabled = false;
        bool redoEnabled = false;
        bool unsavedWork = false;
        std::optional<std::vector<uint8_t>> pending;
        std::optional<std::vector<uint8_t>> redo;
        std::optional<NoteLayer> notes;
        QString text;
        std::string path;
    };
    BeforeKey m_beforeKey;
    // Whether Ctrl+Q closed the window in this step (it is shown again for the next one).
    bool m_exitClosed = false;
    // The width a step chose in Option > Line Width.
    std::optional<int> m_widthChosen;
    // A drag held past the view's edge, in picture coordinates.
    struct EdgeDrag {
        Tool tool = Tool::None;
        int width = 1;
        QPoint anchor;
        QPoint release;
        // The scroll position at the press and at the release, and how far the view could
        // scroll towards the side the mouse was held past.
        QPoint scrollBefore;
        QPoint scrollAfter;
        QPoint room;
    };
    std::optional<EdgeDrag> m_edgeDrag;
    HistoryTrack m_history;
};

void WriterSession::queueAnswers(const Step& step, size_t first)
{
    for (size_t i = first; i < step.words.size(); ++i)
        m_prompt.queueAnswer(answerFor(step.words[i]));
}

std::string WriterSession::picturePath(const Step& step) const
{
    return m_dir.file(step.word(0));
}

std::string WriterSession::savePath(const Step& step) const
{
    if (step.word(1) != kOwnFile)
        return m_dir.file(step.word(1));
    return m_currentFile.empty() ? m_dir.file("out/own.png") : m_currentFile;
}

// The figure a shape tool draws when the button is released: what the user sees on release is
// what the notes must hold.
void WriterSession::noteDrawnFigure(const Step& step)
{
    m_figure.clear();
    const Tool tool = view().activeTool();
    if (step.verb != "drag" || !isShapeTool(tool) || step.number(5) < 0)
        return;
    const QPoint a(step.number(0), step.number(1));
    const QPoint u(step.number(2), step.number(3));
    Surface figure(view().inspect().client.width(), view().inspect().client.height());
    figure.image().fill(Qt::white);
    figure.selectBrush(Surface::Brush::Null);
    figure.setPenWidth(view().lineWidth());
    test::drawReferenceFigure(figure, tool, a, u);
    const QPoint scroll = view().inspect().scroll;
    for (int y = 0; y < figure.height(); ++y) {
        for (int x = 0; x < figure.width(); ++x) {
            if ((figure.GetPixel(x, y) & 0xFFFFFFu) != 0)
                continue;
            const int column = x + scroll.x();
            const int row = y + scroll.y();
            if (column >= 0 && row >= 0 && column < doc().width() && row < doc().height())
                m_figure.emplace_back(column, row);
        }
    }
}

// Every line a paste ends (with LF, CR LF or CR, or the end of the text) is captured at once,
// one line step below the last.
void WriterSession::notePaste(const Step& step)
{
    m_anchorAfterPaste.reset();
    if (step.verb != "paste" || view().activeTool() != Tool::Text)
        return;
    const std::string& text = step.word(0);
    int lines = 0;
    bool open = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            ++lines;
            open = false;
        } else {
            open = true;
        }
    }
    if (open)
        ++lines;
    const int lineStep = view().surface().GetTextExtentPoint32("L").height() + 4;
    m_anchorAfterPaste = view().inspect().toolState.anchor + QPoint(0, lines * lineStep);
}

std::optional<std::string> WriterSession::checkPaste()
{
    if (!m_anchorAfterPaste || view().inspect().toolState.anchor == *m_anchorAfterPaste)
        return std::nullopt;
    return "a paste left the next line at y " +
           std::to_string(view().inspect().toolState.anchor.y()) + " instead of " +
           std::to_string(m_anchorAfterPaste->y()) + ": its lines were not each captured";
}

// Steps that may save the picture and then replace or close it: what the save must hold is
// known only before the step.
void WriterSession::notePendingSave(const Step& step)
{
    m_notesToSave.reset();
    m_notesToSaveExact = true;
    const bool replaces = step.verb == "open" || step.verb == "drop" || step.verb == "close" ||
                          step.verb == "new" || step.verb == "closekey" || step.verb == "exitkey";
    if (!replaces || !doc().hasImage())
        return;
    const size_t size = static_cast<size_t>(doc().width()) * static_cast<size_t>(doc().height());
    NoteLayer notes = doc().noteLayer() ? *doc().noteLayer() : NoteLayer(size, 0);
    const auto& pending = (*view().inspect().pending);
    if (pending && pending->size() == size) {
        for (size_t i = 0; i < size; ++i) {
            if (view().activeTool() == Tool::Eraser)
                notes[i] = (notes[i] == 1 && (*pending)[i] == 1) ? 1 : 0;
            else if ((*pending)[i] == 1)
                notes[i] = 1;
        }
    }
    // A line still being typed joins the notes as it is captured; its pixels are not known here.
    m_notesToSaveExact = view().inspect().toolState.textLine.isEmpty();
    m_notesToSave = std::move(notes);
}

// The file a step opens when it is known not to open: one of the unreadable files, or one that
// is not there.
std::optional<std::string> WriterSession::unreadableTarget(const Step& step) const
{
    if (step.verb != "open" && step.verb != "drop")
        return std::nullopt;
    const std::string path = picturePath(step);
    if (knownUnreadable(step) || !fs::exists(path))
        return path;
    return std::nullopt;
}

// One of the files made to be unreadable: the program must say it cannot open them.
bool WriterSession::knownUnreadable(const Step& step) const
{
    return std::find(std::begin(kUnreadable), std::end(kUnreadable), step.word(0)) !=
           std::end(kUnreadable);
}

void WriterSession::noteFailedOpen(const Step& step)
{
    m_keptThroughFailedOpen.reset();
    if (!unreadableTarget(step))
        return;
    m_keptThroughFailedOpen = Kept{doc().hasImage(),          doc().pictureGeneration(),
                                   doc().displayGeneration(), doc().noteLayer(),
                                   doc().IsModified(),        doc().getPathName(),
                                   doc().savePath(),          (*view().inspect().pending),
                                   (*view().inspect().redo),  view().inspect().toolState.textLine,
                                   view().activeTool(),       m_frame->windowTitle()};
}

// The name Export Notes is given; the links to the picture's own file are made here.
std::string WriterSession::exportPath(const std::string& target)
{
    const std::string own = doc().getPathName();
    std::error_code error;
    if (target == "own")
        return own;
    if (target == "symlink") {
        const std::string link = m_dir.file("out/link-to-own.png");
        fs::create_symlink(own, link, error);
        return link;
    }
    if (target == "hardlink") {
        const std::string link = m_dir.file("out/hard-link-to-own.png");
        fs::create_hard_link(own, link, error);
        return link;
    }
    if (target == "spelling") {
        const fs::path path(own);
        return (path.parent_path() / "." / path.filename()).string();
    }
    return m_dir.file("out/notes-mask.png");
}

std::optional<std::string> WriterSession::runExport(const Step& step)
{
    const std::string& target = step.word(0);
    if (std::find_if(std::begin(kExportTargets), std::end(kExportTargets),
                     [&target](const char* name) { return target == name; }) ==
        std::end(kExportTargets))
        return "Export Notes has no target " + target;
    const std::string path =
        doc().hasImage() && !doc().getPathName().empty() ? exportPath(target) : std::string();
    // The files as they stand before the export include the links just made.
    m_files = stampFiles(m_dir.path());
    if (target == "new")
        m_exportTarget = path;
    if (!path.empty())
        m_prompt.queueSavePath(path);
    auto missing = chooseMenuItem("&File", cmd::ExportNotes, "Export Notes");
    settle();
    // A link that changed was written through. The links go once looked at: a later save of the
    // picture would change what they show, and no user saved to them.
    const auto now = stampFiles(m_dir.path());
    for (const char* name : {"out/link-to-own.png", "out/hard-link-to-own.png"}) {
        const std::string link = m_dir.file(name);
        const auto before = m_files.find(link);
        if (before == m_files.end())
            continue;
        const auto after = now.find(link);
        if (after == now.end() || !(after->second == before->second))
            m_exportThroughLink = std::string("Export Notes wrote through ") + name +
                                  ", a link to the picture's file";
        std::error_code error;
        fs::remove(link, error);
        m_files.erase(link);
    }
    return missing;
}

// ---- saves held at their start ------------------------------------------------------------
// File Save held at its start, as a slow disk holds it, past the moment progress shows, while
// the user goes on pressing keys, clicking, turning the wheel and dropping a picture. None of it
// may reach the picture: what the document holds while the save runs and after it is what it
// held when the save began, and the file (checked as for any save) holds exactly that.

const char* const kHeldSaveInputs[] = {"keys", "click", "wheel", "drop"};

std::atomic<bool> g_saveHeld{false};
std::atomic<bool> g_letSaveGo{true};

// A save on the GUI thread would never be let go by the step's timer: after five seconds it
// goes on, and the step fails instead of hanging.
void holdSaveAtStart(SavePoint point)
{
    if (point != SavePoint::Created || g_letSaveGo)
        return;
    g_saveHeld = true;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!g_letSaveGo && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

struct WriterSession::HeldState {
    std::vector<uint8_t> pixels;
    std::optional<NoteLayer> notes;
    std::string path;
    bool showNotes = false;
    QPoint scroll;
    bool operator==(const HeldState& other) const
    {
        return pixels == other.pixels && notes == other.notes && path == other.path &&
               showNotes == other.showNotes && scroll == other.scroll;
    }
};

WriterSession::HeldState WriterSession::heldState()
{
    const Dib& image = doc().image();
    return HeldState{std::vector<uint8_t>(image.data(), image.data() + image.size()),
                     doc().noteLayer(), doc().getPathName(), view().inspect().showNotes,
                     view().inspect().scroll};
}

void WriterSession::drawHeldSave(Rng& rng, Journey& journey)
{
    journey.push_back(
        Step{"heldsave", {rng.pick(kHeldSaveInputs), randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::interfere(const std::string& how)
{
    if (how == "keys") {
        pressKey(m_frame.get(), Qt::Key_Space);
        pressKey(m_frame.get(), Qt::Key_N, Qt::ControlModifier);
        pressKey(m_frame.get(), Qt::Key_Z, Qt::ControlModifier);
        pressKey(m_frame.get(), Qt::Key_9);
    } else if (how == "click") {
        if (QWidget* button = m_frame->mainToolBar()->widgetForAction(action(cmd::DisplayNotes)))
            QTest::mouseClick(button, Qt::LeftButton);
        dragMouse(canvas(), QPoint(5, 5), QPoint(40, 30), 3, Qt::NoModifier);
    } else if (how == "wheel") {
        turnWheel(canvas(), QPoint(20, 20), -240, false);
    } else {
        dropFile(canvas(), QPoint(20, 20), QString::fromStdString(m_dir.file("pics/p24.bmp")));
    }
    settle();
}

std::optional<std::string> WriterSession::runHeldSave(const Step& step)
{
    const std::string how = step.word(0);
    if (std::find(std::begin(kHeldSaveInputs), std::end(kHeldSaveInputs), how) ==
        std::end(kHeldSaveInputs))
        return "a held save meets keys, clicks, the wheel or a drop, not " + how;
    queueAnswers(step, 1);
    // What the document held when the save began, after the tool put down its drawing.
    HeldState before;
    std::optional<HeldState> during;
    size_t messagesHeld = 0;
    size_t messagesLetGo = 0;
    QElapsedTimer sinceHeld;
    QTimer tick;
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!g_saveHeld)
            return;
        if (!sinceHeld.isValid()) {
            sinceHeld.start();
            messagesHeld = m_prompt.messageCount();
            before = heldState();
            interfere(how);
            during = heldState();
        }
        if (sinceHeld.elapsed() <= BackgroundWork::kProgressDelayMs + 100)
            return;
        tick.stop();
        messagesLetGo = m_prompt.messageCount();
        g_letSaveGo = true;
    });
    g_saveHeld = false;
    g_letSaveGo = false;
    setSavePointHook(holdSaveAtStart);
    tick.start();
    pressKey(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
    g_letSaveGo = true;
    setSavePointHook(nullptr);
    if (!g_saveHeld)
        return std::nullopt;
    if (!during)
        m_heldSaveBroken = "the save held the window: nothing ran until it ended";
    else if (!(*during == before))
        m_heldSaveBroken = "input during a save (" + how + ") reached the picture while it ran";
    else if (!(heldState() == before))
        m_heldSaveBroken = "input during a save (" + how + ") reached the picture after it ended";
    else if (messagesLetGo != messagesHeld)
        m_heldSaveBroken = "input during a save (" + how + ") asked a question";
    return std::nullopt;
}

// ---- the verbs ----------------------------------------------------------------------------

const Verb<WriterSession> WriterSession::kVerbs[] = {
    {"tool", 14, "w", &WriterSession::drawTool, &WriterSession::runTool},
    {"drag", 21, "n n n n w n", &WriterSession::drawDrag, &WriterSession::runDrag},
    {"undo", 5, "", &WriterSession::drawUndo, &WriterSession::runUndo},
    {"redo", 4, "", &WriterSession::drawRedo, &WriterSession::runRedo},
    {"click", 3, "n n", &WriterSession::drawClick, &WriterSession::runClick},
    {"type", 5, "w", &WriterSession::drawType, &WriterSession::runType},
    {"key", 5, "w", &WriterSession::drawKey, &WriterSession::runKey},
    {"clearall", 2, "", &WriterSession::drawClearAll, &WriterSession::runClearAll},
    {"press", 6, "w", &WriterSession::drawPress, &WriterSession::runPress},
    {"colour", 2, "w n n n", &WriterSession::drawColour, &WriterSession::runColour},
    {"paste", 3, "w", &WriterSession::drawPaste, &WriterSession::runPaste},
    {"open", 5, "w a*", &WriterSession::drawOpen, &WriterSession::runOpen},
    {"drop", 5, "w n n a*", &WriterSession::drawDrop, &WriterSession::runDrop},
    {"save", 4, "a*", &WriterSession::drawSave, &WriterSession::runSave},
    {"export", 2, "w", &WriterSession::drawExport, &WriterSession::runExport},
    {"saveas", 4, "w w a*", &WriterSession::drawSaveAs, &WriterSession::runSaveAs},
    {"close", 2, "a*", &WriterSession::drawClose, &WriterSession::runClose},
    {"new", 1, "a*", &WriterSession::drawNew, &WriterSession::runNew},
    {"wheel", 3, "n n n w", &WriterSession::drawWheel, &WriterSession::runWheel},
    {"resize", 1, "n n", &WriterSession::drawResize, &WriterSession::runResize},
    {"erasersize", 2, "w", &WriterSession::drawEraserSize, &WriterSession::runEraserSize},
    {"shortcut", 6, "w", &WriterSession::drawShortcut, &WriterSession::runShortcut},
    {"ctrlwheel", 2, "n n n", &WriterSession::drawCtrlWheel, &WriterSession::runCtrlWheel},
    {"closekey", 1, "a*", &WriterSession::drawCloseKey, &WriterSession::runCloseKey},
    {"exitkey", 1, "a*", &WriterSession::drawExitKey, &WriterSession::runExitKey},
    {"heldsave", 2, "w a*", &WriterSession::drawHeldSave, &WriterSession::runHeldSave},
    {"script", 3, "w w", &WriterSession::drawScript, &WriterSession::runScript},
    {"width", 2, "n", &WriterSession::drawLineWidth, &WriterSession::runLineWidth},
    {"edgedrag", 3, "n n w n n", &WriterSession::drawEdgeDrag, &WriterSession::runEdgeDrag},
    {"menuundo", 4, "", &WriterSession::drawStepBack, &WriterSession::runMenuUndo},
    {"menuredo", 0, "", &WriterSession::drawStepBack, &WriterSession::runMenuRedo},
};

// Most journeys start on a picture.
void WriterSession::drawOpening(Rng& rng, Journey& journey)
{
    if (!rng.chance(4, 5))
        return;
    std::string name = rng.pick(kStartPictures);
    if (name == "big.bmp" && rng.chance(3, 4))
        name = kStartPictures[0];
    journey.push_back(Step{"open", {"pics/" + name, randomAnswer(rng), randomAnswer(rng)}});
}

// A user who picks a tool goes on to use it for a while: the steps that tool takes, now and then
// undone, put down by choosing it again and redone.
void WriterSession::drawTool(Rng& rng, Journey& journey)
{
    const NamedCommand& tool = rng.pick(kTools);
    journey.push_back(Step{"tool", {tool.name}});
    if (!rng.chance(3, 5))
        return;
    const int count = rng.between(1, 4);
    for (int i = 0; i < count; ++i) {
        if (tool.id == cmd::TextTool) {
            switch (rng.below(5)) {
            case 0:
                drawClick(rng, journey);
                break;
            case 4:
                drawScript(rng, journey);
                break;
            case 1:
                drawType(rng, journey);
                break;
            case 2:
                journey.push_back(Step{"key", {rng.pick(writingKeys()).name}});
                break;
            default:
                drawPaste(rng, journey);
            }
        } else if (tool.id == cmd::Erasure && rng.chance(1, 4)) {
            drawEraserSize(rng, journey);
        } else if (tool.id != cmd::Erasure && rng.chance(1, 8)) {
            drawEdgeDrag(rng, journey);
        } else {
            journey.push_back(randomDrag(rng));
        }
    }
    if (rng.chance(1, 4)) {
        journey.push_back(Step{"undo", {}});
        if (rng.chance(1, 2))
            journey.push_back(Step{"tool", {tool.name}});
        journey.push_back(Step{"redo", {}});
    }
}

void WriterSession::drawDrag(Rng& rng, Journey& journey)
{
    journey.push_back(randomDrag(rng));
}

void WriterSession::drawUndo(Rng&, Journey& journey)
{
    journey.push_back(Step{"undo", {}});
}

void WriterSession::drawRedo(Rng&, Journey& journey)
{
    journey.push_back(Step{"redo", {}});
}

void WriterSession::drawClick(Rng& rng, Journey& journey)
{
    const QPoint at = randomPoint(rng);
    journey.push_back(Step{"click", {word(at.x()), word(at.y())}});
}

void WriterSession::drawType(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"type", {rng.pick(kTexts)}});
}

void WriterSession::drawKey(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"key", {rng.pick(kKeys).name}});
}

void WriterSession::drawClearAll(Rng&, Journey& journey)
{
    journey.push_back(Step{"clearall", {}});
}

void WriterSession::drawPress(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"press", {rng.pick(kViewButtons).name}});
}

void WriterSession::drawColour(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"colour",
                           {rng.pick(kColours).name, word(rng.below(256)), word(rng.below(256)),
                            word(rng.below(256))}});
}

void WriterSession::drawPaste(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"paste", {rng.pick(kPastes)}});
}

void WriterSession::drawOpen(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"open", {randomPicture(rng), randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::drawDrop(Rng& rng, Journey& journey)
{
    const std::string picture = randomPicture(rng);
    journey.push_back(Step{"drop",
                           {picture, word(rng.between(0, 600)), word(rng.between(0, 400)),
                            randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::drawSave(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"save", {randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::drawExport(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"export", {rng.pick(kExportTargets)}});
}

void WriterSession::drawSaveAs(Rng& rng, Journey& journey)
{
    const char* button = rng.pick(kSaveAsButtons).name;
    std::string target = kOwnFile;
    if (!rng.chance(1, 12)) {
        const int usual = static_cast<int>(std::size(kSaveExtensions));
        const int spelling = rng.below(
            rng.chance(1, 6) ? usual + static_cast<int>(std::size(kOtherSaveSpellings)) : usual);
        target =
            "out/s" + word(rng.below(6)) + "." +
            (spelling < usual ? kSaveExtensions[spelling] : kOtherSaveSpellings[spelling - usual]);
    }
    journey.push_back(Step{"saveas", {button, target, randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::drawClose(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"close", {randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::drawNew(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"new", {randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::drawWheel(Rng& rng, Journey& journey)
{
    journey.push_back(
        Step{"wheel",
             {word(rng.between(0, 600)), word(rng.between(0, 400)),
              word(rng.chance(1, 2) ? 120 : -240), rng.chance(1, 5) ? "horizontal" : "vertical"}});
}

void WriterSession::drawResize(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"resize", {word(rng.between(300, 1000)), word(rng.between(250, 800))}});
}

void WriterSession::drawEraserSize(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"erasersize", {rng.pick(kEraserSizes)}});
}

// ---- text in other scripts -----------------------------------------------------------------

void WriterSession::drawScript(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"script", {rng.pick(kScriptTexts).name, rng.pick(kScriptInputs)}});
}

std::optional<std::string> WriterSession::runScript(const Step& step)
{
    const ScriptText* script = findNamed(kScriptTexts, step.word(0));
    if (!script)
        return "there is no script text " + step.word(0);
    const QString text = QString::fromUtf16(script->text);
    if (step.word(1) == "keys") {
        QWidget* focus = QApplication::focusWidget();
        typeText(focus ? focus : m_frame.get(), text);
        return std::nullopt;
    }
    if (step.word(1) != "ime")
        return "text arrives by keys or ime, not " + step.word(1);
    // An input method sends its text only to what takes input methods; like the keys, it goes
    // to the widget with the keyboard focus.
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return std::nullopt;
    QInputMethodQueryEvent query(Qt::ImEnabled);
    QApplication::sendEvent(focus, &query);
    if (!query.value(Qt::ImEnabled).toBool())
        return std::nullopt;
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(focus, &commit);
    return std::nullopt;
}

// Typed on the canvas with the text tool in hand, the text joins the line at the caret, each of
// its characters as it is, and the caret stands after it; anywhere else the line is untouched.
void WriterSession::noteScript(const Step& step)
{
    m_scriptLine.reset();
    const ScriptText* script = findNamed(kScriptTexts, step.word(0));
    if (step.verb != "script" || !script)
        return;
    ScriptLine expected{view().inspect().toolState.textLine, view().inspect().toolState.caretIndex};
    if (view().activeTool() == Tool::Text && QApplication::focusWidget() == &view()) {
        const QString text = QString::fromUtf16(script->text);
        expected.line.insert(expected.caret, text);
        expected.caret += static_cast<int>(text.size());
    }
    m_scriptLine = std::move(expected);
}

std::optional<std::string> WriterSession::checkScript()
{
    const QString& line = view().inspect().toolState.textLine;
    const int caret = view().inspect().toolState.caretIndex;
    if (m_scriptLine && (line != m_scriptLine->line || caret != m_scriptLine->caret))
        return "text typed in another script left the line \"" + line.toStdString() +
               "\" with the caret at " + std::to_string(caret) + " instead of \"" +
               m_scriptLine->line.toStdString() + "\" at " + std::to_string(m_scriptLine->caret);
    // Nothing a journey types is a question mark: one in the line is a character lost on the
    // way.
    if (line.contains(u'?') || line.contains(QChar::ReplacementCharacter))
        return "the text line \"" + line.toStdString() + "\" lost a character on the way";
    if (caret < 0 || caret > line.size())
        return "the caret stands at " + std::to_string(caret) + " in a line of " +
               std::to_string(line.size());
    if (!line.isEmpty() && caret > 0 && caret < line.size()) {
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, line);
        graphemes.setPosition(caret);
        if (!graphemes.isAtBoundary())
            return "the caret stands inside a character of \"" + line.toStdString() + "\", at " +
                   std::to_string(caret);
    }
    return std::nullopt;
}

// A user draws with a tool, puts it down and steps back through what they did with the Edit
// menu, then forward through some of it again or past the end; now and then Clear All lies
// between the drawing and the steps back.
void WriterSession::drawStepBack(Rng& rng, Journey& journey)
{
    for (const NamedCommand& tool : kTools) {
        if (m_frame->commands().isChecked(tool.id))
            journey.push_back(Step{"tool", {tool.name}});
    }
    const NamedCommand& tool = rng.pick(kTools);
    journey.push_back(Step{"tool", {tool.name}});
    const int actions = rng.between(1, 5);
    for (int i = 0; i < actions; ++i) {
        if (tool.id != cmd::TextTool) {
            journey.push_back(randomDrag(rng));
            continue;
        }
        drawClick(rng, journey);
        drawType(rng, journey);
    }
    journey.push_back(Step{"tool", {tool.name}});
    if (rng.chance(1, 4))
        journey.push_back(Step{"clearall", {}});
    const int back = rng.between(1, actions + 2);
    for (int i = 0; i < back; ++i)
        journey.push_back(Step{"menuundo", {}});
    const int forward = rng.between(0, back + 1);
    for (int i = 0; i < forward; ++i)
        journey.push_back(Step{"menuredo", {}});
}

// A click on a toolbar button, or why there is none to click.
std::optional<std::string> WriterSession::clickButton(QToolBar* bar, const char* barName,
                                                      const NamedCommand& command)
{
    if (!clickToolButton(bar, action(command.id)))
        return std::string(barName) + " has no button " + command.name;
    return std::nullopt;
}

std::optional<std::string> WriterSession::chooseMenuItem(const char* menu, int id,
                                                         const std::string& name)
{
    if (!clickMenuItem(m_frame.get(), m_frame->menu(QString::fromLatin1(menu)), action(id)))
        return std::string("the menu ") + menu + " has no item " + name;
    return std::nullopt;
}

std::optional<std::string> WriterSession::runTool(const Step& step)
{
    const NamedCommand* tool = findNamed(kTools, step.word(0));
    if (!tool)
        return "there is no tool " + step.word(0);
    return clickButton(m_frame->paintToolBox(), "the Paint Tool Box", *tool);
}

std::optional<std::string> WriterSession::runDrag(const Step& step)
{
    const NamedModifier* modifier = findNamed(kModifiers, step.word(4));
    if (!modifier)
        return "there is no modifier key " + step.word(4);
    dragMouse(canvas(), QPoint(step.number(0), step.number(1)),
              QPoint(step.number(2), step.number(3)), step.number(5), modifier->modifier);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runUndo(const Step&)
{
    pressKey(m_frame.get(), Qt::Key_Z, Qt::ControlModifier);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runRedo(const Step&)
{
    return clickButton(m_frame->mainToolBar(), "the toolbar", NamedCommand{"Redo", cmd::Redo});
}

std::optional<std::string> WriterSession::runClick(const Step& step)
{
    QTest::mouseClick(canvas(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(step.number(0), step.number(1)));
    return std::nullopt;
}

std::optional<std::string> WriterSession::runType(const Step& step)
{
    QWidget* focus = QApplication::focusWidget();
    typeText(focus ? focus : m_frame.get(), QString::fromLatin1(step.word(0).c_str()));
    return std::nullopt;
}

std::optional<std::string> WriterSession::runKey(const Step& step)
{
    const NamedKey* key = findNamed(kKeys, step.word(0));
    if (!key)
        return "there is no key " + step.word(0);
    pressKey(m_frame.get(), key->key);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runClearAll(const Step&)
{
    return chooseMenuItem("&Edit", cmd::ClearAll, "Clear All");
}

std::optional<std::string> WriterSession::runPress(const Step& step)
{
    const NamedCommand* button = findNamed(kViewButtons, step.word(0));
    if (!button)
        return "there is no view button " + step.word(0);
    return clickButton(m_frame->mainToolBar(), "the toolbar", *button);
}

std::optional<std::string> WriterSession::runColour(const Step& step)
{
    const NamedCommand* colour = findNamed(kColours, step.word(0));
    if (!colour)
        return "the Color menu has no colour " + step.word(0);
    m_prompt.queueColour(Rgb{static_cast<uint8_t>(step.number(1)),
                             static_cast<uint8_t>(step.number(2)),
                             static_cast<uint8_t>(step.number(3))});
    return chooseMenuItem("&Color", colour->id, colour->name);
}

std::optional<std::string> WriterSession::runPaste(const Step& step)
{
    QGuiApplication::clipboard()->setText(QString::fromLatin1(step.word(0).c_str()));
    pressKey(m_frame.get(), Qt::Key_V, Qt::ControlModifier);
    return std::nullopt;
}

// The pictures and broken files of the journey are there from its start and never removed: a
// step naming one that is not there was written for other files. What a journey saves may not
// have been saved yet.
std::optional<std::string> WriterSession::checkTarget(const std::string& name) const
{
    const bool fixture = name.rfind("pics/", 0) == 0 || name.rfind("bad/", 0) == 0;
    if (!fixture && name.rfind("out/", 0) != 0)
        return name + " is in none of the journey's folders (pics, bad, out)";
    if (name.find("..") != std::string::npos)
        return name + " leaves the journey's folders";
    if (fixture && !fs::exists(m_dir.file(name)))
        return "the file " + name + " does not exist";
    return std::nullopt;
}

std::optional<std::string> WriterSession::runOpen(const Step& step)
{
    if (auto missing = checkTarget(step.word(0)))
        return missing;
    queueAnswers(step, 1);
    const QString path = QString::fromStdString(picturePath(step));
    answerFileDialog([this] { pressKey(m_frame.get(), Qt::Key_O, Qt::ControlModifier); }, path);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runDrop(const Step& step)
{
    if (auto missing = checkTarget(step.word(0)))
        return missing;
    queueAnswers(step, 3);
    dropFile(canvas(), QPoint(step.number(1), step.number(2)),
             QString::fromStdString(picturePath(step)));
    return std::nullopt;
}

std::optional<std::string> WriterSession::runSave(const Step& step)
{
    queueAnswers(step, 0);
    pressKey(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runSaveAs(const Step& step)
{
    const NamedCommand* button = findNamed(kSaveAsButtons, step.word(0));
    if (!button)
        return "Save As is lossless or compressed, not " + step.word(0);
    if (step.word(1) != kOwnFile && step.word(1).rfind("out/", 0) != 0)
        return "Save As writes to the picture's own file or into out, not to " + step.word(1);
    if (auto outside = checkTarget(step.word(1)); outside && step.word(1) != kOwnFile)
        return outside;
    queueAnswers(step, 2);
    m_saveAsTarget = savePath(step);
    m_prompt.queueSavePath(m_saveAsTarget);
    return clickButton(
        m_frame->mainToolBar(), "the toolbar",
        NamedCommand{button->id == cmd::SaveAsLossless ? "Save As Lossless" : "Save As Compressed",
                     button->id});
}

std::optional<std::string> WriterSession::runClose(const Step& step)
{
    queueAnswers(step, 0);
    return chooseMenuItem("&File", cmd::FileClose, "Close");
}

std::optional<std::string> WriterSession::runNew(const Step& step)
{
    queueAnswers(step, 0);
    pressKey(m_frame.get(), Qt::Key_N, Qt::ControlModifier);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runWheel(const Step& step)
{
    if (step.word(3) != "vertical" && step.word(3) != "horizontal")
        return "the wheel turns vertical or horizontal, not " + step.word(3);
    turnWheel(canvas(), QPoint(step.number(0), step.number(1)), step.number(2),
              step.word(3) == "horizontal");
    return std::nullopt;
}

std::optional<std::string> WriterSession::runResize(const Step& step)
{
    m_frame->resize(step.number(0), step.number(1));
    return std::nullopt;
}

std::optional<std::string> WriterSession::runEraserSize(const Step& step)
{
    QLineEdit* edit = m_frame->eraserSizeBox()->lineEdit();
    if (edit && edit->isEnabled()) {
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        typeText(edit, QString::fromLatin1(step.word(0).c_str()));
    }
    return std::nullopt;
}

// ---- the keys: undo and redo, close and exit, zoom and Ctrl+wheel -------------------------
// Each key does what its command does, except the zoom keys and Ctrl+wheel, which do nothing
// at all while a tool is active.

struct NamedShortcut {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int command;
};
const NamedShortcut kShortcuts[] = {
    {"CtrlY", Qt::Key_Y, Qt::ControlModifier, cmd::Redo},
    {"CtrlShiftZ", Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, cmd::Redo},
    {"AltBackspace", Qt::Key_Backspace, Qt::AltModifier, cmd::Undo},
    {"CtrlPlus", Qt::Key_Plus, Qt::ControlModifier, cmd::ZoomIn},
    {"CtrlEqual", Qt::Key_Equal, Qt::ControlModifier, cmd::ZoomIn},
    {"CtrlMinus", Qt::Key_Minus, Qt::ControlModifier, cmd::ZoomOut},
    {"Ctrl0", Qt::Key_0, Qt::ControlModifier, cmd::OriginalSize},
};

void WriterSession::drawShortcut(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"shortcut", {rng.pick(kShortcuts).name}});
}

// Whole notches only, so that what each turn does is known without the part of a notch the
// view may have kept from an earlier one.
void WriterSession::drawCtrlWheel(Rng& rng, Journey& journey)
{
    const int notches[] = {1, -1, 2, -2};
    journey.push_back(Step{
        "ctrlwheel",
        {word(rng.between(0, 600)), word(rng.between(0, 400)), word(120 * rng.pick(notches))}});
}

void WriterSession::drawCloseKey(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"closekey", {randomAnswer(rng), randomAnswer(rng)}});
}

void WriterSession::drawExitKey(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"exitkey", {randomAnswer(rng), randomAnswer(rng)}});
}

std::optional<std::string> WriterSession::runShortcut(const Step& step)
{
    const NamedShortcut* shortcut = findNamed(kShortcuts, step.word(0));
    if (!shortcut)
        return "there is no shortcut " + step.word(0);
    pressKey(m_frame.get(), shortcut->key, shortcut->modifiers);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runCtrlWheel(const Step& step)
{
    if (step.number(2) % 120 != 0)
        return "Ctrl+wheel turns whole notches of 120, not " + step.word(2);
    turnWheel(canvas(), QPoint(step.number(0), step.number(1)), step.number(2), false,
              Qt::ControlModifier);
    return std::nullopt;
}

std::optional<std::string> WriterSession::runCloseKey(const Step& step)
{
    queueAnswers(step, 0);
    pressKey(m_frame.get(), Qt::Key_W, Qt::ControlModifier);
    return std::nullopt;
}

// A window that Ctrl+Q closed comes back for the journey's next step, holding what it held.
std::optional<std::string> WriterSession::runExitKey(const Step& step)
{
    queueAnswers(step, 0);
    pressKey(m_frame.get(), Qt::Key_Q, Qt::ControlModifier);
    m_exitClosed = !m_frame->isVisible();
    if (m_exitClosed) {
        m_frame->show();
        reactivate(m_frame.get());
        view().setFocus();
    }
    return std::nullopt;
}

void WriterSession::noteKeyStep(const Step& step)
{
    m_exitClosed = false;
    if (step.verb != "shortcut" && step.verb != "ctrlwheel" && step.verb != "closekey" &&
        step.verb != "exitkey")
        return;
    const WriterView::Inspection seen = view().inspect();
    m_beforeKey = BeforeKey{doc().hasImage(),
                            view().activeTool(),
                            seen.zoom,
                            seen.fit,
                            m_frame->commands().isEnabled(cmd::Undo),
                            m_frame->commands().isEnabled(cmd::Redo),
                            doc().IsModified() || (*view().inspect().pending).has_value() ||
                                !view().inspect().toolState.textLine.isEmpty(),
                            (*view().inspect().pending),
                            (*view().inspect().redo),
                            doc().noteLayer(),
                            view().inspect().toolState.textLine,
                            doc().getPathName()};
}

// The zoom after `zoomSteps` steps in (out when negative), or after Original Size: computed as
// the View menu's commands compute it.
std::optional<std::string> WriterSession::checkZoomKey(int zoomSteps, bool originalSize)
{
    const BeforeKey& before = m_beforeKey;
    const WriterView::Inspection seen = view().inspect();
    if (before.tool != Tool::None || !before.hasPicture) {
        if (seen.zoom != before.zoom || seen.fit != before.fit ||
            view().activeTool() != before.tool || (*view().inspect().pending) != before.pending ||
            (*view().inspect().redo) != before.redo)
            return std::string("a zoom key or Ctrl+wheel changed the view ") +
                   (before.hasPicture ? "while a tool was active" : "without a picture");
        return std::nullopt;
    }
    float expected = before.zoom;
    if (originalSize) {
        expected = 1.0f;
    } else {
        for (int i = 0; i < zoomSteps; ++i)
            expected += 0.25f;
        for (int i = 0; i > zoomSteps; --i)
            expected *= 0.75f;
    }
    if (seen.zoom != expected)
        return "the zoom is " + std::to_string(seen.zoom) + " after a zoom key or Ctrl+wheel " +
               "instead of " + std::to_string(expected);
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkKeyStep(const Step& step)
{
    const BeforeKey& before = m_beforeKey;
    if (step.verb == "ctrlwheel")
        return checkZoomKey(step.number(2) / 120, false);
    if (step.verb == "shortcut") {
        const NamedShortcut* shortcut = findNamed(kShortcuts, step.word(0));
        if (shortcut->command == cmd::ZoomIn)
            return checkZoomKey(1, false);
        if (shortcut->command == cmd::ZoomOut)
            return checkZoomKey(-1, false);
        if (shortcut->command == cmd::OriginalSize)
            return checkZoomKey(0, true);
        // The key acts exactly when its command is enabled: while it is not, nothing changes;
        // while it is, Undo takes back the drawing a figure or pen tool holds.
        const bool enabled =
            shortcut->command == cmd::Undo ? before.undoEnabled : before.redoEnabled;
        const bool changed = (*view().inspect().pending) != before.pending ||
                             (*view().inspect().redo) != before.redo ||
                             doc().noteLayer() != before.notes ||
                             view().inspect().toolState.textLine != before.text;
        if (!enabled && changed)
            return step.word(0) + " changed the drawing while its command was disabled";
        // A figure or stroke beside the picture leaves a layer with nothing in it, which is no
        // drawing to take back.
        const bool figureOrPen = isShapeTool(before.tool) || before.tool == Tool::Pen;
        const bool drawingHeld =
            before.pending && std::count(before.pending->begin(), before.pending->end(), 1) != 0;
        if (enabled && shortcut->command == cmd::Undo && figureOrPen && drawingHeld &&
            (*view().inspect().pending) == before.pending)
            return step.word(0) + " left the drawing in hand while Undo was enabled";
        return std::nullopt;
    }
    const bool cancelled = !step.words.empty() && step.word(0) == "cancel";
    if (step.verb == "closekey") {
        if (before.hasPicture && !before.unsavedWork &&
            (doc().hasImage() || m_prompt.messageCount() != m_messagesBefore))
            return "Ctrl+W asked or kept the picture though nothing was unsaved";
        if (m_modifiedBefore && cancelled && !doc().hasImage())
            return "Ctrl+W closed a changed picture though the question was cancelled";
        return std::nullopt;
    }
    if (step.verb == "exitkey") {
        if (!before.unsavedWork && (!m_exitClosed || m_prompt.messageCount() != m_messagesBefore))
            return "Ctrl+Q asked or stayed though nothing was unsaved";
        if (m_modifiedBefore && cancelled && m_exitClosed)
            return "Ctrl+Q left though the question about the changed picture was cancelled";
        if (before.hasPicture && (!doc().hasImage() || doc().getPathName().empty()))
            return "Ctrl+Q let go of the picture the window holds";
    }
    return std::nullopt;
}

std::optional<std::string> WriterSession::runMenuUndo(const Step&)
{
    return chooseEditItem(*m_frame, cmd::Undo, "Undo");
}

std::optional<std::string> WriterSession::runMenuRedo(const Step&)
{
    return chooseEditItem(*m_frame, cmd::Redo, "Redo");
}

std::optional<std::string> WriterSession::perform(const Step& step, const Verb<WriterSession>& verb)
{
    m_messagesBefore = m_prompt.messageCount();
    m_modifiedBefore = doc().IsModified();
    m_generationBefore = doc().displayGeneration();
    m_saveAsTarget.clear();
    m_exportTarget.clear();
    m_exportThroughLink.reset();
    m_heldSaveBroken.reset();
    noteFailedOpen(step);
    noteDrawnFigure(step);
    notePendingSave(step);
    m_widthChosen.reset();
    m_edgeDrag.reset();
    notePaste(step);
    noteKeyStep(step);
    noteScript(step);
    m_history.before(doc());
    const auto refused = (this->*verb.run)(step);
    settle();
    reactivate(m_frame.get());
    m_prompt.clearScript();
    return refused;
}

std::optional<std::string> WriterSession::check(const Step& step)
{
    if (auto broken = checkLayers())
        return broken;
    if (auto broken = checkFiles(step))
        return broken;
    if (m_exportThroughLink)
        return m_exportThroughLink;
    if (m_heldSaveBroken)
        return m_heldSaveBroken;
    if (auto broken = checkFailedOpen(step))
        return broken;
    if (auto broken = checkOpened(step))
        return broken;
    if (auto broken = checkFigure())
        return broken;
    if (auto broken = checkLineWidth())
        return broken;
    if (auto broken = checkEdgeDrag())
        return broken;
    if (auto broken = checkPaste())
        return broken;
    if (auto broken = checkKeyStep(step))
        return broken;
    if (auto broken = checkScript())
        return broken;
    if (auto broken = m_history.after(doc(), step))
        return broken;
    return checkScreen();
}

std::optional<std::string> WriterSession::checkLayers()
{
    const size_t size = static_cast<size_t>(doc().width()) * static_cast<size_t>(doc().height());
    const auto sized =
        [&](const char* name,
            const std::optional<std::vector<uint8_t>>& layer) -> std::optional<std::string> {
        if (layer && (!doc().hasImage() || layer->size() != size))
            return std::string(name) + " of " + std::to_string(layer->size()) +
                   " bytes for a picture of " + std::to_string(doc().width()) + " x " +
                   std::to_string(doc().height());
        return std::nullopt;
    };
    if (auto broken = sized("the note layer", doc().noteLayer()))
        return broken;
    if (auto broken = sized("the pending layer", (*view().inspect().pending)))
        return broken;
    if (auto broken = sized("the redo slot", (*view().inspect().redo)))
        return broken;
    for (const QChar c : view().inspect().toolState.textLine) {
        if (c.category() == QChar::Other_Control)
            return "the text line holds the control character " + std::to_string(c.unicode());
    }
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkOpened(const Step& step)
{
    // The open went through when the document names the file and failed to open nothing.
    const bool opens = step.verb == "open" || step.verb == "drop";
    const bool replaced = opens && doc().hasImage() && doc().getPathName() == picturePath(step) &&
                          doc().displayGeneration() != m_generationBefore;
    if (replaced) {
        m_currentFile = picturePath(step);
        if ((*view().inspect().pending) || (*view().inspect().redo))
            return "drawing of the picture before was kept after opening " +
                   picturePath(step).substr(m_dir.path().size() + 1);
        if (view().inspect().scroll != QPoint(0, 0) && !view().inspect().fit)
            return "a picture opened scrolled to " + std::to_string(view().inspect().scroll.x()) +
                   ", " + std::to_string(view().inspect().scroll.y());
        if (m_modifiedBefore && m_prompt.messageCount() == m_messagesBefore)
            return "a " + step.verb + " replaced a changed picture without asking";
    }
    if (!doc().hasImage())
        m_currentFile.clear();
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkFailedOpen(const Step& step)
{
    if (!m_keptThroughFailedOpen)
        return std::nullopt;
    const Kept& kept = *m_keptThroughFailedOpen;
    const std::string name = unreadableTarget(step)->substr(m_dir.path().size() + 1);
    const auto changed = [&](const std::string& what) {
        return "opening " + name + ", which cannot be opened, changed " + what;
    };
    // An empty window may count one more empty picture, as long as it stays empty.
    if (doc().hasImage() != kept.hadPicture ||
        (kept.hadPicture &&
         (doc().pictureGeneration() != kept.picture || doc().displayGeneration() != kept.display)))
        return changed("the picture");
    if (doc().noteLayer() != kept.notes)
        return changed("the notes");
    if (doc().IsModified() != kept.modified)
        return changed("the modified flag");
    if (doc().getPathName() != kept.path || doc().savePath() != kept.savePath ||
        m_frame->windowTitle() != kept.windowTitle)
        return changed("the document's name");
    if ((*view().inspect().pending) != kept.pending || (*view().inspect().redo) != kept.redo ||
        view().inspect().toolState.textLine != kept.textLine || view().activeTool() != kept.tool)
        return changed("the drawing in the tool's hands");
    // Only reports: no question about changes that the file would not replace.
    for (size_t i = m_messagesBefore; i < m_prompt.messageCount(); ++i) {
        const std::string& message = m_prompt.messages()[i];
        if (message.rfind("Save changes to ", 0) == 0 ||
            message.rfind("The image has been changed.", 0) == 0)
            return "opening " + name + ", which cannot be opened, asked \"" + message + "\"";
    }
    if (knownUnreadable(step) && m_prompt.messageCount() == m_messagesBefore)
        return "opening " + name + ", which cannot be opened, said nothing";
    return std::nullopt;
}

// An exported mask: black exactly where the document has a note, the picture's size.
std::optional<std::string> WriterSession::checkExportedMask(const std::string& path)
{
    const std::string name = path.substr(m_dir.path().size() + 1);
    const LoadedImage mask = loadCheckedImage(path);
    if (mask.image.isNull())
        return "the exported notes " + name + " cannot be read back: " + mask.error;
    const std::optional<writer::NoteMask> read = writer::noteMaskFromPicture(mask.image);
    if (!read || read->width != doc().width() || read->height != doc().height())
        return "the exported notes " + name + " are not of the picture's size";
    const size_t size = static_cast<size_t>(doc().width()) * static_cast<size_t>(doc().height());
    const NoteLayer want = doc().noteLayer() ? *doc().noteLayer() : NoteLayer(size, 0);
    if (read->notes != want)
        return "the exported notes " + name + " hold " +
               std::to_string(countNotePixels(read->notes)) + " notes where the document holds " +
               std::to_string(countNotePixels(want));
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkFiles(const Step& step)
{
    auto now = stampFiles(m_dir.path());
    const auto changed = changedFiles(m_files, now);
    m_files = std::move(now);
    // Export Notes writes the mask it is given, and never the picture's own file.
    const bool exports = step.verb == "export";
    const std::string expected = exports                   ? m_exportTarget
                                 : !m_saveAsTarget.empty() ? m_saveAsTarget
                                                           : m_currentFile;
    for (const std::string& path : changed) {
        if (path.rfind(m_dir.file("settings"), 0) == 0)
            continue;
        if (path != expected)
            return "the file " + path.substr(m_dir.path().size() + 1) +
                   " changed, while the user " +
                   (exports ? "exported the notes to " : "saved to ") +
                   (expected.empty() ? std::string("nothing")
                                     : expected.substr(m_dir.path().size() + 1));
        if (exports) {
            if (auto broken = checkExportedMask(path))
                return broken;
            continue;
        }
        if (auto broken = checkSavedFile(path, step))
            return broken;
        if (!m_saveAsTarget.empty())
            m_currentFile = m_saveAsTarget;
    }
    // Save As that wrote its file makes it the document's file; one that wrote nothing keeps
    // the old one.
    if (!m_saveAsTarget.empty() && doc().hasImage()) {
        const bool wrote =
            std::find(changed.begin(), changed.end(), m_saveAsTarget) != changed.end();
        const std::string shouldBe = wrote ? m_saveAsTarget : m_currentFile;
        if (!shouldBe.empty() && doc().getPathName() != shouldBe)
            return "after Save As the document's file is " + doc().getPathName() + " instead of " +
                   shouldBe;
    }
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkSavedFile(const std::string& path, const Step& step)
{
    LoadedImage saved = loadCheckedImage(path);
    const std::string name = path.substr(m_dir.path().size() + 1);
    if (saved.image.isNull())
        return "the saved file " + name + " cannot be read back: " + saved.error;
    const auto layout = dibGetLayout(saved.image);
    const bool docAlive = step.verb == "save" || step.verb == "saveas" || step.verb == "heldsave";
    if (docAlive && (layout->width != doc().width() || layout->height != doc().height()))
        return "the saved file " + name + " is " + std::to_string(layout->width) + " x " +
               std::to_string(layout->height) + " for a picture of " +
               std::to_string(doc().width()) + " x " + std::to_string(doc().height());
    const std::optional<NoteLayer> expected = docAlive ? doc().noteLayer() : m_notesToSave;
    const bool exact = docAlive || m_notesToSaveExact;
    const std::string extension = FileExtension(path);
    const size_t size = static_cast<size_t>(layout->width) * static_cast<size_t>(layout->height);
    if (expected && expected->size() != size)
        return "the saved file " + name + " has another size than the notes saved into it";
    const bool asked = m_prompt.messageCount() > m_messagesBefore;
    if (!carriesNotes(extension, layout->width, layout->bitCount)) {
        if (countNotes(expected) != 0 && !asked)
            return "the notes were lost without a word: " + name + " (" +
                   std::to_string(layout->width) + " pixels wide) cannot carry them";
        return std::nullopt;
    }
    for (size_t i = 0; i < size; ++i) {
        const uint8_t want = expected ? (*expected)[i] : 0;
        const uint8_t got = saved.noteLayer ? (*saved.noteLayer)[i] : 0;
        if (want == got || inSignatureArea(extension, layout->width, layout->height, i))
            continue;
        if (!exact && got == 1)
            continue;
        const auto column = i % static_cast<size_t>(layout->width);
        const auto row = static_cast<size_t>(layout->height) - 1 - i / layout->width;
        return "the saved file " + name + " reads back " + (got ? "a note" : "no note") +
               " at pixel " + std::to_string(column) + ", " + std::to_string(row) +
               " (the document: " + (want ? "a note" : "none") + "; " +
               std::to_string(countNotes(expected)) + " notes saved, " +
               std::to_string(countNotes(saved.noteLayer)) + " read back)";
    }
    if (!docAlive || !savesNotes(*loadFormatForExtension(extension)))
        return std::nullopt;
    // No byte of the picture moves by more than one, but for the signature's own bytes.
    const QImage before =
        dibToQImage(doc().image(), doc().displayPalette()).convertToFormat(QImage::Format_RGB32);
    const QImage after =
        dibToQImage(saved.image, saved.displayPalette).convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < before.height(); ++y) {
        const auto* was = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const auto* is = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        for (int x = 0; x < before.width(); ++x) {
            const QRgb p = was[x];
            const QRgb q = is[x];
            if (std::abs(qRed(p) - qRed(q)) <= 1 && std::abs(qGreen(p) - qGreen(q)) <= 1 &&
                std::abs(qBlue(p) - qBlue(q)) <= 1)
                continue;
            const size_t index = static_cast<size_t>(before.height() - 1 - y) * before.width() + x;
            if (!inSignatureArea(extension, before.width(), before.height(), index))
                return "the saved file " + name + " changed the colour of pixel " +
                       std::to_string(x) + ", " + std::to_string(y) + " by more than one";
        }
    }
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkFigure()
{
    if (m_figure.empty())
        return std::nullopt;
    const auto& pending = (*view().inspect().pending);
    const size_t width = static_cast<size_t>(doc().width());
    for (const auto& [column, row] : m_figure) {
        const size_t index =
            static_cast<size_t>(doc().height() - 1 - row) * width + static_cast<size_t>(column);
        if (!pending || index >= pending->size() || (*pending)[index] != 1)
            return "a figure shown on release is not kept: pixel " + std::to_string(column) + ", " +
                   std::to_string(row) + " is missing (" + std::to_string(m_figure.size()) +
                   " pixels drawn)";
    }
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkScreen()
{
    const QImage& shown = paintWidget(canvas(), m_shown);
    const Rgb back = view().inspect().background;
    const QRgb background = qRgb(back.red, back.green, back.blue);
    const auto at = [](int x, int y) {
        return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
    };
    if (!doc().hasImage()) {
        for (int y = 0; y < shown.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
            for (int x = 0; x < shown.width(); ++x) {
                if ((line[x] & 0xFFFFFFu) != (background & 0xFFFFFFu))
                    return "with no picture the canvas shows something at " + at(x, y);
            }
        }
        return std::nullopt;
    }
    const Tool tool = view().activeTool();
    if (view().inspect().zoom != 1.0f || view().inspect().fit ||
        !(tool == Tool::None || isShapeTool(tool)))
        return std::nullopt;
    if (m_referenceFrom != doc().image().data() ||
        m_referenceGeneration != doc().displayGeneration()) {
        m_reference = dibToQImage(doc().image(), doc().displayPalette())
                          .convertToFormat(QImage::Format_RGB32);
        m_referenceFrom = doc().image().data();
        m_referenceGeneration = doc().displayGeneration();
    }
    const Rgb ink = doc().noteColour();
    const QRgb noteColour = qRgb(ink.red, ink.green, ink.blue);
    // The layers the screen must show: the notes when they are shown, and the figure in hand.
    const auto shownLayer = [](bool shown, const auto& layer) {
        return shown && layer ? layer->data() : nullptr;
    };
    const uint8_t* notes = shownLayer(view().inspect().showNotes, doc().noteLayer());
    const uint8_t* pending = shownLayer(tool != Tool::None, (*view().inspect().pending));
    const QPoint scroll = view().inspect().scroll;
    const int width = doc().width();
    const int height = doc().height();
    const int shownWidth = shown.width();
    const int shownHeight = shown.height();
    for (int y = 0; y < shownHeight; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        const int row = y + scroll.y();
        const auto* reference =
            row < height ? reinterpret_cast<const QRgb*>(m_reference.constScanLine(row)) : nullptr;
        for (int x = 0, column = scroll.x(); x < shownWidth; ++x, ++column) {
            QRgb want = background;
            if (reference && column < width) {
                const size_t index = static_cast<size_t>(height - 1 - row) * width + column;
                want = reference[column];
                if ((notes && notes[index] == 1) || (pending && pending[index] == 1))
                    want = noteColour;
            }
            if ((line[x] & 0xFFFFFFu) != (want & 0xFFFFFFu)) {
                std::ostringstream message;
                message << "the canvas shows #" << std::hex << (line[x] & 0xFFFFFFu) << " at "
                        << std::dec << at(x, y) << " where " << std::hex << (want & 0xFFFFFFu)
                        << std::dec << " belongs"
                        << (row < height && column < width
                                ? " (picture pixel " + at(column, row) + ")"
                                : " (background)");
                return message.str();
            }
        }
    }
    return std::nullopt;
}

// ---- line widths and drags past the edge -------------------------------------------------

const char* const kEdgeSides[] = {"right", "bottom", "left", "top", "corner"};

// The figure a shape tool keeps for a drag from the anchor to the release point, in picture
// coordinates, drawn by the surface alone over the part of the picture it can reach.
std::vector<QPoint> wholeFigure(Tool tool, QPoint a, QPoint u, int width, QSize picture)
{
    const QRect reach = QRect(QPoint(std::min(a.x(), u.x()), std::min(a.y(), u.y())),
                              QPoint(std::max(a.x(), u.x()), std::max(a.y(), u.y())))
                            .adjusted(-width, -width, width, width) &
                        QRect(QPoint(), picture);
    std::vector<QPoint> pixels;
    if (reach.isEmpty())
        return pixels;
    Surface figure(reach.width(), reach.height());
    figure.selectBrush(Surface::Brush::Null);
    figure.setPenWidth(width);
    a -= reach.topLeft();
    u -= reach.topLeft();
    test::drawReferenceFigure(figure, tool, a, u);
    for (int y = 0; y < figure.height(); ++y)
        for (int x = 0; x < figure.width(); ++x)
            if ((figure.GetPixel(x, y) & 0xFFFFFFu) == 0)
                pixels.push_back(QPoint(x, y) + reach.topLeft());
    return pixels;
}

void WriterSession::drawLineWidth(Rng& rng, Journey& journey)
{
    journey.push_back(Step{"width", {word(rng.pick(WriterView::kLineWidths))}});
}

// A press on the picture, the mouse held some pixels past a side of the view for a few steps of
// the scroll that follows it, and the release there.
void WriterSession::drawEdgeDrag(Rng& rng, Journey& journey)
{
    journey.push_back(
        Step{"edgedrag",
             {word(rng.between(0, 320)), word(rng.between(0, 220)), rng.pick(kEdgeSides),
              word(rng.between(1, 80)), word(rng.between(1, 4))}});
}

std::optional<std::string> WriterSession::runLineWidth(const Step& step)
{
    const int width = step.number(0);
    const int id = cmd::lineWidthCommand(width);
    if (id == 0)
        return "Option > Line Width offers no width " + step.word(0);
    QMenu* option = m_frame->menu(QStringLiteral("&Option"));
    QAction* holder = nullptr;
    for (QAction* item : option ? option->actions() : QList<QAction*>()) {
        if (item->menu() && item->text() == QStringLiteral("Line &Width"))
            holder = item;
    }
    if (!holder)
        return std::string("the Option menu has no Line Width submenu");
    if (!clickSubmenuItem(m_frame.get(), option, holder->menu(), action(id)))
        return std::string("the Line Width submenu does not open from the Option menu");
    m_widthChosen = width;
    return std::nullopt;
}

std::optional<std::string> WriterSession::runEdgeDrag(const Step& step)
{
    const std::string& side = step.word(2);
    if (std::find_if(std::begin(kEdgeSides), std::end(kEdgeSides),
                     [&side](const char* name) { return side == name; }) == std::end(kEdgeSides))
        return "a drag goes past the right, bottom, left or top edge or the corner, not " + side;
    const QPoint from(step.number(0), step.number(1));
    const int past = std::max(1, step.number(3));
    const QSize client = view().inspect().client;
    QPoint outside = from;
    if (side == "right" || side == "corner")
        outside.setX(client.width() - 1 + past);
    if (side == "bottom" || side == "corner")
        outside.setY(client.height() - 1 + past);
    if (side == "left")
        outside.setX(-past);
    if (side == "top")
        outside.setY(-past);

    EdgeDrag drag;
    drag.tool = view().activeTool();
    drag.width = view().lineWidth();
    drag.scrollBefore = view().inspect().scroll;
    drag.anchor = from + drag.scrollBefore;
    const QScrollBar* across = view().horizontalScrollBar();
    const QScrollBar* down = view().verticalScrollBar();
    const auto room = [](int position, int extent, const QScrollBar* bar) {
        if (position < 0)
            return bar->value() - bar->minimum();
        return position >= extent ? bar->maximum() - bar->value() : 0;
    };
    drag.room =
        QPoint(room(outside.x(), client.width(), across), room(outside.y(), client.height(), down));
    QTest::mousePress(canvas(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(outside), QPointF(canvas()->mapToGlobal(outside)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas(), &move);
    // The scroll steps at its own pace: wait for the steps asked for, or a moment when the view
    // has nowhere to go.
    QElapsedTimer held;
    held.start();
    QPoint last = view().inspect().scroll;
    for (int steps = 0; steps < step.number(4) && held.elapsed() < 2000;) {
        QTest::qWait(10);
        if (view().inspect().scroll != last) {
            last = view().inspect().scroll;
            ++steps;
        }
        if (drag.room.isNull() && held.elapsed() > 120)
            break;
    }
    QTest::mouseRelease(canvas(), Qt::LeftButton, Qt::NoModifier, outside);
    settle();
    drag.scrollAfter = view().inspect().scroll;
    drag.release = outside + drag.scrollAfter;
    m_edgeDrag = drag;
    return std::nullopt;
}

std::optional<std::string> WriterSession::checkLineWidth()
{
    if (!m_widthChosen)
        return std::nullopt;
    const int width = *m_widthChosen;
    if (view().lineWidth() != width)
        return "Option > Line Width " + std::to_string(width) + " left the width at " +
               std::to_string(view().lineWidth());
    if (!action(cmd::lineWidthCommand(width))->isChecked())
        return "Option > Line Width does not check the width " + std::to_string(width);
    const int stored = QSettings(QStringLiteral("OmbriTools"), QStringLiteral("OmbriWriter"))
                           .value(QStringLiteral("lineWidth"))
                           .toInt();
    if (stored != width)
        return "the settings keep the line width " + std::to_string(stored) + ", not " +
               std::to_string(width);
    return std::nullopt;
}

// A drag held past the edge scrolls the view towards it when the picture goes on there, stops
// scrolling with the release, and keeps the whole figure wherever it lies on the picture.
std::optional<std::string> WriterSession::checkEdgeDrag()
{
    if (!m_edgeDrag)
        return std::nullopt;
    const EdgeDrag& drag = *m_edgeDrag;
    if (view().inspect().autoScrolling || view().inspect().toolState.dragging)
        return std::string("the view still follows a drag after its release");
    const bool figures = isShapeTool(drag.tool) || drag.tool == Tool::Pen;
    if (!figures || !doc().hasImage())
        return std::nullopt;
    const QPoint moved = drag.scrollAfter - drag.scrollBefore;
    const auto towards = [](int room, int by) { return room == 0 || by != 0; };
    if (!towards(drag.room.x(), moved.x()) || !towards(drag.room.y(), moved.y()))
        return "a drag held past the edge did not scroll the view (room " +
               std::to_string(drag.room.x()) + ", " + std::to_string(drag.room.y()) + ")";
    const auto& pending = (*view().inspect().pending);
    const QSize picture(doc().width(), doc().height());
    const auto kept = [&](QPoint pixel) {
        const size_t index =
            static_cast<size_t>(picture.height() - 1 - pixel.y()) * picture.width() + pixel.x();
        return pending && index < pending->size() && (*pending)[index] == 1;
    };
    const QRect onPicture(QPoint(), picture);
    if (drag.tool == Tool::Pen) {
        for (const QPoint end : {drag.anchor, drag.release}) {
            if (onPicture.contains(end) && !kept(end))
                return "a pen stroke held past the edge does not reach picture pixel " +
                       std::to_string(end.x()) + ", " + std::to_string(end.y());
        }
        return std::nullopt;
    }
    const std::vector<QPoint> figure =
        wholeFigure(drag.tool, drag.anchor, drag.release, drag.width, picture);
    for (const QPoint& pixel : figure) {
        if (!kept(pixel))
            return "a figure dragged past the edge is not kept whole: picture pixel " +
                   std::to_string(pixel.x()) + ", " + std::to_string(pixel.y()) + " is missing (" +
                   std::to_string(figure.size()) + " pixels drawn, width " +
                   std::to_string(drag.width) + ")";
    }
    return std::nullopt;
}

std::string WriterSession::state()
{
    std::ostringstream line;
    line << "tool " << static_cast<int>(view().activeTool()) << ", picture " << doc().width()
         << " x " << doc().height() << (doc().IsModified() ? " modified" : "") << ", notes "
         << countNotes(doc().noteLayer()) << ", pending "
         << ((*view().inspect().pending) ? countNotePixels(*(*view().inspect().pending)) : 0)
         << ", redo " << ((*view().inspect().redo) ? "yes" : "no") << ", zoom "
         << view().inspect().zoom << (view().inspect().fit ? " fit" : "") << ", messages "
         << m_prompt.messageCount() << ", text \""
         << view().inspect().toolState.textLine.toStdString() << "\", focus "
         << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                         : "none")
         << ", file " << m_currentFile.substr(std::min(m_currentFile.size(), m_dir.path().size()))
         << ", history place " << m_history.describe();
    return line.str();
}

Outcome exploreWriterJourney(uint64_t seed, int steps, Journey& taken)
{
    return exploreJourney<WriterSession>(WriterSession::kVerbs, &WriterSession::drawOpening, seed,
                                         steps, taken);
}

Outcome replayWriterJourney(const Journey& journey)
{
    return replayJourney<WriterSession>(WriterSession::kVerbs, journey);
}

// A tool that is not in the Paint Tool Box fails the step that chooses it, where a step once
// passed having clicked nothing.
TEST(WriterJourneySteps, AToolMissingFromItsBoxFailsTheStep)
{
    WriterSession session;
    auto* window = qobject_cast<WriterWindow*>(session.window());
    ASSERT_TRUE(window);
    window->paintToolBox()->removeAction(window->commands().action(cmd::RectangleTool));
    const Outcome outcome = takeStep(session, VerbTable<WriterSession>(WriterSession::kVerbs),
                                     Step{"tool", {"Rectangle"}}, 0);
    ASSERT_TRUE(outcome);
    EXPECT_NE(outcome->message.find("the Paint Tool Box has no button Rectangle"),
              std::string::npos)
        << outcome->message;
}

} // namespace

const JourneyProgram kJourneyProgram{
    "writer",
    &exploreWriterJourney,
    &replayWriterJourney,
    {
        "open pics/p24.bmp\ntol Rectangle\n",
        "# the picture was renamed since\nopen pics/p24-old.bmp yes no\n",
        "drop pics/gone.png 10 10\n",
        "open pics/p24.bmp\ntool Triangle\n",
        "open pics/p24.bmp\npress ZoomSideways\n",
        "open pics/p24.bmp\ndrag 1 2 3\n",
        "save maybe\n",
    }};

} // namespace ombri::journey
