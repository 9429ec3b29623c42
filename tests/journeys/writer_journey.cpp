// OmbriWriter driven by random journeys of a user's actions through its real main window: tools
// chosen from the Paint Tool Box, drags in every direction, typing, undo and redo, zooming,
// pictures of every size and depth opened and dropped, files that are no picture or a broken one
// opened and dropped, saved in every format and depth, the notes exported (onto the picture's
// own file too, by any name), closed. After every step the writer's promises are checked: layers
// sized for the picture on screen, the screen showing the picture and its notes, every drawn
// figure kept, saved files holding exactly the notes the document holds, a file that cannot be
// opened changing nothing, and no file written but the one the user saved to.
#include "journeys/gui_events.h"
#include "journeys/journey.h"
#include "journeys/journey_main.h"
#include "journeys/journey_prompt.h"
#include "journeys/picture_fixtures.h"

#include "formats/dispatch.h"
#include "platform/prompt.h"
#include "platform/qt/dib_draw.h"
#include "platform/qt/surface.h"
#include "support/test_support.h"
#include "writer/command_ids.h"
#include "writer/note_files.h"
#include "writer/ui/writer_view.h"
#include "writer/ui/writer_window.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

namespace ombri::journey {
using writer::Tool;

using writer::WriterView;
using writer::WriterWindow;
using writer::Writing;
namespace cmd = writer::cmd;
namespace {

namespace fs = std::filesystem;

Answer answerFor(int code)
{
    switch (code) {
    case 0:
        return Answer::Yes;
    case 1:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

// ---- what the journeys choose from --------------------------------------------------------

// The Paint Tool Box from top to bottom.
constexpr int kToolCommands[] = {cmd::TextTool,           cmd::Erasure,    cmd::FreehandPen,
                                 cmd::LineTool,           cmd::ArcTool,    cmd::RectangleTool,
                                 cmd::RoundRectangleTool, cmd::EllipseTool};
constexpr int kViewCommands[] = {cmd::DisplayNotes, cmd::FitIn, cmd::ZoomOut, cmd::ZoomIn,
                                 cmd::OriginalSize};
constexpr int kColourCommands[] = {cmd::Selected, cmd::Black, cmd::White,     cmd::Red,
                                   cmd::Green,    cmd::Blue,  cmd::Background};
const char* const kSaveExtensions[] = {"png", "bmp",  "tif", "rgb",  "dpx", "cin",
                                       "jpg", "jpeg", "Png", "tiff", "TIF"};
constexpr int kSaveExtensionCount = 11;
constexpr int kSameFile = 99; // Save As onto the file the picture came from
const char* const kTexts[] = {"a", "Ab", "note 1", "xyz", "W", " ", "8 9", "caf\xe9", ".,;"};
const char* const kPastes[] = {"ab\ncd", "one\r\ntwo", "x\ry", "\tz", "line", "a\n\nb\n", "p\r"};
const Qt::Key kKeys[] = {Qt::Key_Return, Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Right,
                         Qt::Key_Delete, Qt::Key_Escape,    Qt::Key_Tab,  Qt::Key_Space,
                         Qt::Key_9,      Qt::Key_8,         Qt::Key_0,    Qt::Key_Up};
const char* const kEraserSizes[] = {"5", "10", "25", "50", "2x", "0", ""};
// Files that cannot be opened: a broken PNG header, a text file, a PNG cut off halfway.
constexpr int kUnreadableCount = 3;
// Where Export Notes is pointed: the picture's own file, a symbolic link to it, a hard link to
// it, its own path spelled another way, and a new file.
enum ExportTarget { kOwnFile, kSymbolicLink, kHardLink, kOtherSpelling, kNewFile, kExportTargets };

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
    int modifiers = 0;
    if (rng.chance(1, 8))
        modifiers = 1 << rng.below(3); // Shift, Ctrl or Alt
    const int moves = rng.chance(1, 12) ? -1 : rng.between(0, 4);
    return Step{"drag", {from.x(), from.y(), to.x(), to.y(), modifiers, moves}, {}};
}

Step randomOpen(Rng& rng, const char* verb)
{
    const bool output = rng.chance(1, 4);
    int which = output ? rng.below(6) : rng.below(static_cast<int>(kFixturePictures.size()));
    // The big photograph costs a second or two a save: it comes up in one journey of ten or so.
    if (!output && kFixturePictures[static_cast<size_t>(which)] == "big.bmp" && rng.chance(3, 4))
        which = 0;
    const int format = rng.below(7);
    Step step{verb, {output ? 1 : 0, which, format, rng.below(3), rng.below(3)}, {}};
    if (step.verb == "drop")
        step.args.push_back(rng.between(0, 600)), step.args.push_back(rng.between(0, 400));
    return step;
}

Step randomWriterStep(Rng& rng)
{
    const int roll = rng.below(100);
    const auto answers = [&rng] { return std::vector<int>{rng.below(3), rng.below(3)}; };
    if (roll < 14)
        return Step{"tool", {rng.below(8)}, {}};
    if (roll < 35)
        return randomDrag(rng);
    if (roll < 38)
        return rng.chance(1, 2) ? Step{"undo", {}, {}} : Step{"redo", {}, {}};
    if (roll < 41) {
        const QPoint at = randomPoint(rng);
        return Step{"click", {at.x(), at.y()}, {}};
    }
    if (roll < 46)
        return Step{"type", {}, kTexts[rng.below(9)]};
    if (roll < 51)
        return Step{"key", {rng.below(12)}, {}};
    if (roll < 55)
        return Step{"undo", {}, {}};
    if (roll < 58)
        return Step{"redo", {}, {}};
    if (roll < 60)
        return Step{"clearall", {}, {}};
    if (roll < 66)
        return Step{"view", {rng.below(5)}, {}};
    if (roll < 68)
        return Step{"colour", {rng.below(7), rng.below(256), rng.below(256), rng.below(256)}, {}};
    if (roll < 71)
        return Step{"paste", {}, kPastes[rng.below(7)]};
    if (roll < 75)
        return randomOpen(rng, "open");
    if (roll < 77) {
        // A file that cannot be opened, chosen in the Open dialog or dropped.
        const int which = rng.below(kUnreadableCount);
        const std::vector<int> answered = answers();
        if (rng.chance(1, 2))
            return Step{"openbad", {which, answered[0], answered[1]}, {}};
        return Step{"dropbad",
                    {which, rng.between(0, 600), rng.between(0, 400), answered[0], answered[1]},
                    {}};
    }
    if (roll < 81)
        return randomOpen(rng, "drop");
    if (roll < 85)
        return Step{"save", answers(), {}};
    if (roll < 87)
        return Step{"export", {rng.below(kExportTargets)}, {}};
    if (roll < 91) {
        const int extension = rng.chance(1, 12)  ? kSameFile
                              : rng.chance(1, 6) ? rng.below(kSaveExtensionCount)
                                                 : rng.below(7);
        std::vector<int> args{rng.below(2), extension, rng.below(6)};
        for (int answer : answers())
            args.push_back(answer);
        return Step{"saveas", args, {}};
    }
    if (roll < 93)
        return Step{"close", answers(), {}};
    if (roll < 94)
        return Step{"new", answers(), {}};
    if (roll < 97)
        return Step{"wheel",
                    {rng.between(0, 600), rng.between(0, 400), rng.chance(1, 2) ? 120 : -240,
                     rng.chance(1, 5) ? 1 : 0},
                    {}};
    if (roll < 98)
        return Step{"resize", {rng.between(300, 1000), rng.between(250, 800)}, {}};
    return Step{"erasersize", {}, kEraserSizes[rng.below(7)]};
}

// A user who picks a tool goes on to use it for a while: the steps that tool takes, now and then
// undone, put down by choosing it again and redone.
void addToolUse(Rng& rng, int tool, Journey& journey)
{
    const int command = kToolCommands[tool % 8];
    const int count = rng.between(1, 4);
    for (int i = 0; i < count; ++i) {
        if (command == cmd::TextTool) {
            switch (rng.below(4)) {
            case 0: {
                const QPoint at = randomPoint(rng);
                journey.push_back(Step{"click", {at.x(), at.y()}, {}});
                break;
            }
            case 1:
                journey.push_back(Step{"type", {}, kTexts[rng.below(9)]});
                break;
            case 2:
                journey.push_back(Step{"key", {rng.below(8)}, {}});
                break;
            default:
                journey.push_back(Step{"paste", {}, kPastes[rng.below(7)]});
            }
        } else if (command == cmd::Erasure && rng.chance(1, 4)) {
            journey.push_back(Step{"erasersize", {}, kEraserSizes[rng.below(7)]});
        } else {
            journey.push_back(randomDrag(rng));
        }
    }
    if (rng.chance(1, 4)) {
        journey.push_back(Step{"undo", {}, {}});
        if (rng.chance(1, 2))
            journey.push_back(Step{"tool", {tool}, {}});
        journey.push_back(Step{"redo", {}, {}});
    }
}

Journey makeWriterJourney(uint64_t seed, int steps)
{
    Rng rng(seed);
    Journey journey;
    // Most journeys start on a picture.
    if (rng.chance(4, 5)) {
        Step first = randomOpen(rng, "open");
        first.args[0] = 0;
        first.args[1] = rng.below(10);
        if (kFixturePictures[static_cast<size_t>(first.args[1])] == "big.bmp" && rng.chance(3, 4))
            first.args[1] = 0;
        journey.push_back(first);
    }
    while (static_cast<int>(journey.size()) < steps) {
        Step step = randomWriterStep(rng);
        const bool toolChosen = step.verb == "tool";
        const int tool = step.arg(0);
        journey.push_back(std::move(step));
        if (toolChosen && rng.chance(3, 5))
            addToolUse(rng, tool, journey);
    }
    journey.resize(static_cast<size_t>(steps));
    return journey;
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
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error))
            continue;
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) != 0)
            continue;
        stamps[entry.path().string()] =
            Stamp{static_cast<uintmax_t>(info.st_size),
                  static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                  static_cast<uint64_t>(info.st_ino)};
    }
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
    if (extension == "dpx" || extension == "DPX" || extension == "cin" || extension == "CIN")
        return true;
    if (extension == "jpg" || extension == "JPG")
        return false;
    if (extension == "rgb" || extension == "RGB")
        return width >= 8;
    return rowHoldsSignature(width, bitCount);
}

// The marker of the file overwrites the note bits of the first pixels of its row: the top or
// the bottom row, by format.
bool inSignatureArea(const std::string& extension, int32_t width, int32_t height, size_t index)
{
    if (extension == "dpx" || extension == "DPX" || extension == "cin" || extension == "CIN")
        return false;
    const auto column = static_cast<int32_t>(index % static_cast<size_t>(width));
    const auto row = static_cast<int32_t>(index / static_cast<size_t>(width));
    return column < 8 && (row == 0 || row == height - 1);
}

size_t countNotes(const std::optional<NoteLayer>& notes)
{
    return notes ? countNotePixels(*notes) : 0;
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

    void perform(const Step& step);
    std::optional<std::string> check(const Step& step);
    // One line on the state after a step, for OMBRI_JOURNEY_TRACE.
    std::string state();
    QWidget* window() { return m_frame.get(); }

  private:
    WriterView& view() { return m_frame->view(); }
    Writing& doc() { return m_frame->document(); }
    QWidget* canvas() { return view().viewport(); }
    QAction* action(int id) { return m_frame->commands().action(id); }
    void queueAnswers(const Step& step, size_t first);
    std::string picturePath(const Step& step) const;
    std::string savePath(const Step& step) const;
    void noteDrawnFigure(const Step& step);
    void notePaste(const Step& step);
    std::optional<std::string> checkPaste();
    void notePendingSave(const Step& step);
    std::string unreadablePath(int which) const;
    std::optional<std::string> unreadableTarget(const Step& step) const;
    void noteFailedOpen(const Step& step);
    std::string exportPath(int target);
    void exportNotes(const Step& step);

    std::optional<std::string> checkLayers();
    std::optional<std::string> checkScreen();
    std::optional<std::string> checkFigure();
    std::optional<std::string> checkFiles(const Step& step);
    std::optional<std::string> checkSavedFile(const std::string& path, const Step& step);
    std::optional<std::string> checkOpened(const Step& step);
    std::optional<std::string> checkFailedOpen(const Step& step);
    std::optional<std::string> checkExportedMask(const std::string& path);

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
    // Where a paste must leave the text tool's anchor: one line step down for each line it ends.
    std::optional<QPoint> m_anchorAfterPaste;
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
        std::string textLine;
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
    const void* m_referenceFrom = nullptr;
    uint64_t m_referenceGeneration = ~uint64_t{0};
};

void WriterSession::queueAnswers(const Step& step, size_t first)
{
    for (size_t i = first; i < step.args.size(); ++i)
        m_prompt.queueAnswer(answerFor(step.args[i]));
}

std::string WriterSession::picturePath(const Step& step) const
{
    if (step.arg(0) == 0) {
        const auto index = static_cast<size_t>(step.arg(1)) % kFixturePictures.size();
        return m_dir.file("pics/" + kFixturePictures[index]);
    }
    return m_dir.file("out/s" + std::to_string(step.arg(1)) + "." +
                      kSaveExtensions[step.arg(2) % 7]);
}

std::string WriterSession::savePath(const Step& step) const
{
    if (step.arg(1) == kSameFile && !m_currentFile.empty())
        return m_currentFile;
    return m_dir.file("out/s" + std::to_string(step.arg(2)) + "." +
                      kSaveExtensions[step.arg(1) % kSaveExtensionCount]);
}

// The figure a shape tool draws when the button is released: what the user sees on release is
// what the notes must hold.
void WriterSession::noteDrawnFigure(const Step& step)
{
    m_figure.clear();
    const Tool tool = view().activeTool();
    if (step.verb != "drag" || !isShapeTool(tool) || step.arg(5) < 0)
        return;
    const QPoint a(step.arg(0), step.arg(1));
    const QPoint u(step.arg(2), step.arg(3));
    Surface figure(view().inspect().client.width(), view().inspect().client.height());
    figure.image().fill(Qt::white);
    figure.selectBrush(Surface::Brush::Null);
    const auto half = [](int p, int q) { return static_cast<int>(std::abs(p - q) * 0.5); };
    switch (tool) {
    case Tool::Line:
        figure.MoveTo(a.x(), a.y());
        figure.LineTo(u.x(), u.y());
        break;
    case Tool::Rectangle:
        figure.Rectangle(a.x(), a.y(), u.x(), u.y());
        break;
    case Tool::Ellipse:
        figure.Ellipse(a.x(), a.y(), u.x(), u.y());
        break;
    case Tool::RoundRectangle:
        figure.RoundRect(a.x(), a.y(), u.x(), u.y(), half(a.x(), u.x()), half(a.y(), u.y()));
        break;
    default: {
        const int m = static_cast<int>((a.y() + u.y()) * 0.5);
        figure.Arc(u.x(), u.y(), a.x(), a.y(), u.x(), m, a.x(), m);
        break;
    }
    }
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
    int lines = 0;
    bool open = false;
    for (size_t i = 0; i < step.text.size(); ++i) {
        const char c = step.text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < step.text.size() && step.text[i + 1] == '\n')
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
    m_anchorAfterPaste = view().anchorPoint() + QPoint(0, lines * lineStep);
}

std::optional<std::string> WriterSession::checkPaste()
{
    if (!m_anchorAfterPaste || view().anchorPoint() == *m_anchorAfterPaste)
        return std::nullopt;
    return "a paste left the next line at y " + std::to_string(view().anchorPoint().y()) +
           " instead of " + std::to_string(m_anchorAfterPaste->y()) +
           ": its lines were not each captured";
}

// Steps that may save the picture and then replace or close it: what the save must hold is
// known only before the step.
void WriterSession::notePendingSave(const Step& step)
{
    m_notesToSave.reset();
    m_notesToSaveExact = true;
    const bool replaces =
        step.verb == "open" || step.verb == "drop" || step.verb == "close" || step.verb == "new";
    if (!replaces || !doc().hasImage())
        return;
    const size_t size = static_cast<size_t>(doc().width()) * static_cast<size_t>(doc().height());
    NoteLayer notes = doc().noteLayer() ? *doc().noteLayer() : NoteLayer(size, 0);
    const auto& pending = view().pendingLayer();
    if (pending && pending->size() == size) {
        for (size_t i = 0; i < size; ++i) {
            if (view().activeTool() == Tool::Eraser)
                notes[i] = (notes[i] == 1 && (*pending)[i] == 1) ? 1 : 0;
            else if ((*pending)[i] == 1)
                notes[i] = 1;
        }
    }
    // A line still being typed joins the notes as it is captured; its pixels are not known here.
    m_notesToSaveExact = view().textLine().empty();
    m_notesToSave = std::move(notes);
}

std::string WriterSession::unreadablePath(int which) const
{
    switch (which % kUnreadableCount) {
    case 0:
        return m_dir.file("pics/broken.png");
    case 1:
        return m_dir.file("pics/notes.txt");
    default:
        return m_dir.file("bad/truncated.png");
    }
}

// The file a step opens when it is known not to open: one of the unreadable files, or one that
// is not there.
std::optional<std::string> WriterSession::unreadableTarget(const Step& step) const
{
    if (step.verb == "openbad" || step.verb == "dropbad")
        return unreadablePath(step.arg(0));
    if (step.verb != "open" && step.verb != "drop")
        return std::nullopt;
    const std::string path = picturePath(step);
    const std::string name = fs::path(path).filename().string();
    if (name == "broken.png" || name == "notes.txt" || !fs::exists(path))
        return path;
    return std::nullopt;
}

void WriterSession::noteFailedOpen(const Step& step)
{
    m_keptThroughFailedOpen.reset();
    if (!unreadableTarget(step))
        return;
    m_keptThroughFailedOpen =
        Kept{doc().hasImage(),  doc().pictureGeneration(), doc().displayGeneration(),
             doc().noteLayer(), doc().IsModified(),        doc().getPathName(),
             doc().savePath(),  view().pendingLayer(),     view().redoSlot(),
             view().textLine(), view().activeTool(),       m_frame->windowTitle()};
}

// The name Export Notes is given; the links to the picture's own file are made here.
std::string WriterSession::exportPath(int target)
{
    const std::string own = doc().getPathName();
    std::error_code error;
    switch (target) {
    case kOwnFile:
        return own;
    case kSymbolicLink: {
        const std::string link = m_dir.file("out/link-to-own.png");
        fs::create_symlink(own, link, error);
        return link;
    }
    case kHardLink: {
        const std::string link = m_dir.file("out/hard-link-to-own.png");
        fs::create_hard_link(own, link, error);
        return link;
    }
    case kOtherSpelling: {
        const fs::path path(own);
        return (path.parent_path() / "." / path.filename()).string();
    }
    default:
        return m_dir.file("out/notes-mask.png");
    }
}

void WriterSession::exportNotes(const Step& step)
{
    const int target = step.arg(0) % kExportTargets;
    const std::string path =
        doc().hasImage() && !doc().getPathName().empty() ? exportPath(target) : std::string();
    // The files as they stand before the export include the links just made.
    m_files = stampFiles(m_dir.path());
    if (target == kNewFile)
        m_exportTarget = path;
    if (!path.empty())
        m_prompt.queueSavePath(path);
    clickMenuItem(m_frame.get(), m_frame->menu(QStringLiteral("&File")), action(cmd::ExportNotes));
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
}

void WriterSession::perform(const Step& step)
{
    m_messagesBefore = m_prompt.messageCount();
    m_modifiedBefore = doc().IsModified();
    m_generationBefore = doc().displayGeneration();
    m_saveAsTarget.clear();
    m_exportTarget.clear();
    m_exportThroughLink.reset();
    noteFailedOpen(step);
    noteDrawnFigure(step);
    notePendingSave(step);
    notePaste(step);

    const std::string& verb = step.verb;
    if (verb == "tool") {
        clickToolButton(m_frame->paintToolBox(), action(kToolCommands[step.arg(0) % 8]));
    } else if (verb == "drag") {
        Qt::KeyboardModifiers modifiers;
        if (step.arg(4) & 1)
            modifiers |= Qt::ShiftModifier;
        if (step.arg(4) & 2)
            modifiers |= Qt::ControlModifier;
        if (step.arg(4) & 4)
            modifiers |= Qt::AltModifier;
        dragMouse(canvas(), QPoint(step.arg(0), step.arg(1)), QPoint(step.arg(2), step.arg(3)),
                  step.arg(5), modifiers);
    } else if (verb == "click") {
        QTest::mouseClick(canvas(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(step.arg(0), step.arg(1)));
    } else if (verb == "type") {
        QWidget* focus = QApplication::focusWidget();
        typeText(focus ? focus : m_frame.get(), QString::fromLatin1(step.text.c_str()));
    } else if (verb == "key") {
        pressKey(m_frame.get(), kKeys[step.arg(0) % 12]);
    } else if (verb == "undo") {
        pressKey(m_frame.get(), Qt::Key_Z, Qt::ControlModifier);
    } else if (verb == "redo") {
        clickToolButton(m_frame->mainToolBar(), action(cmd::Redo));
    } else if (verb == "clearall") {
        clickMenuItem(m_frame.get(), m_frame->menu(QStringLiteral("&Edit")), action(cmd::ClearAll));
    } else if (verb == "view") {
        clickToolButton(m_frame->mainToolBar(), action(kViewCommands[step.arg(0) % 5]));
    } else if (verb == "colour") {
        m_prompt.queueColour(Rgb{static_cast<uint8_t>(step.arg(1)),
                                 static_cast<uint8_t>(step.arg(2)),
                                 static_cast<uint8_t>(step.arg(3))});
        clickMenuItem(m_frame.get(), m_frame->menu(QStringLiteral("&Color")),
                      action(kColourCommands[step.arg(0) % 7]));
    } else if (verb == "paste") {
        QGuiApplication::clipboard()->setText(QString::fromLatin1(step.text.c_str()));
        pressKey(m_frame.get(), Qt::Key_V, Qt::ControlModifier);
    } else if (verb == "open") {
        queueAnswers(step, 3);
        const QString path = QString::fromStdString(picturePath(step));
        answerFileDialog([this] { pressKey(m_frame.get(), Qt::Key_O, Qt::ControlModifier); }, path);
    } else if (verb == "drop") {
        queueAnswers(step, 3);
        // The answers are the last two numbers before the drop point.
        dropFile(canvas(), QPoint(step.arg(5), step.arg(6)),
                 QString::fromStdString(picturePath(step)));
    } else if (verb == "openbad") {
        queueAnswers(step, 1);
        const QString path = QString::fromStdString(unreadablePath(step.arg(0)));
        answerFileDialog([this] { pressKey(m_frame.get(), Qt::Key_O, Qt::ControlModifier); }, path);
    } else if (verb == "dropbad") {
        queueAnswers(step, 3);
        dropFile(canvas(), QPoint(step.arg(1), step.arg(2)),
                 QString::fromStdString(unreadablePath(step.arg(0))));
    } else if (verb == "export") {
        exportNotes(step);
    } else if (verb == "save") {
        queueAnswers(step, 0);
        pressKey(m_frame.get(), Qt::Key_S, Qt::ControlModifier);
    } else if (verb == "saveas") {
        queueAnswers(step, 3);
        m_saveAsTarget = savePath(step);
        m_prompt.queueSavePath(m_saveAsTarget);
        clickToolButton(m_frame->mainToolBar(),
                        action(step.arg(0) == 0 ? cmd::SaveAsLossless : cmd::SaveAsCompressed));
    } else if (verb == "close") {
        queueAnswers(step, 0);
        clickMenuItem(m_frame.get(), m_frame->menu(QStringLiteral("&File")),
                      action(cmd::FileClose));
    } else if (verb == "new") {
        queueAnswers(step, 0);
        pressKey(m_frame.get(), Qt::Key_N, Qt::ControlModifier);
    } else if (verb == "wheel") {
        turnWheel(canvas(), QPoint(step.arg(0), step.arg(1)), step.arg(2), step.arg(3) != 0);
    } else if (verb == "resize") {
        m_frame->resize(step.arg(0), step.arg(1));
    } else if (verb == "erasersize") {
        QLineEdit* edit = m_frame->eraserSizeBox()->lineEdit();
        if (edit && edit->isEnabled()) {
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(edit, Qt::Key_Backspace);
            typeText(edit, QString::fromLatin1(step.text.c_str()));
        }
    }
    settle();
    reactivate(m_frame.get());
    m_prompt.clearScript();
}

std::optional<std::string> WriterSession::check(const Step& step)
{
    if (auto broken = checkLayers())
        return broken;
    if (auto broken = checkFiles(step))
        return broken;
    if (m_exportThroughLink)
        return m_exportThroughLink;
    if (auto broken = checkFailedOpen(step))
        return broken;
    if (auto broken = checkOpened(step))
        return broken;
    if (auto broken = checkFigure())
        return broken;
    if (auto broken = checkPaste())
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
    if (auto broken = sized("the pending layer", view().pendingLayer()))
        return broken;
    if (auto broken = sized("the redo slot", view().redoSlot()))
        return broken;
    for (const char c : view().textLine()) {
        if (static_cast<uint8_t>(c) < 32)
            return "the text line holds the control character " +
                   std::to_string(static_cast<int>(c));
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
        if (view().pendingLayer() || view().redoSlot())
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
    if (view().pendingLayer() != kept.pending || view().redoSlot() != kept.redo ||
        view().textLine() != kept.textLine || view().activeTool() != kept.tool)
        return changed("the drawing in the tool's hands");
    // Only reports: no question about changes that the file would not replace.
    for (size_t i = m_messagesBefore; i < m_prompt.messageCount(); ++i) {
        const std::string& message = m_prompt.messages()[i];
        if (message.rfind("Save changes to ", 0) == 0 ||
            message.rfind("The image has been changed.", 0) == 0)
            return "opening " + name + ", which cannot be opened, asked \"" + message + "\"";
    }
    if ((step.verb == "openbad" || step.verb == "dropbad") &&
        m_prompt.messageCount() == m_messagesBefore)
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
    const bool docAlive = step.verb == "save" || step.verb == "saveas";
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
    if (!docAlive || extension == "jpg" || extension == "JPG")
        return std::nullopt;
    // No byte of the picture moves by more than one, but for the signature's own bytes.
    const QImage before = dibToQImage(doc().image(), doc().displayPalette());
    const QImage after = dibToQImage(saved.image, saved.displayPalette);
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            const size_t index = static_cast<size_t>(before.height() - 1 - y) * before.width() + x;
            if (inSignatureArea(extension, before.width(), before.height(), index))
                continue;
            const QRgb p = before.pixel(x, y);
            const QRgb q = after.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 1 || std::abs(qGreen(p) - qGreen(q)) > 1 ||
                std::abs(qBlue(p) - qBlue(q)) > 1)
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
    const auto& pending = view().pendingLayer();
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
    const QImage shown = canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32);
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
    const auto& notes = doc().noteLayer();
    const auto& pending = view().pendingLayer();
    const QPoint scroll = view().inspect().scroll;
    const int width = doc().width();
    const int height = doc().height();
    for (int y = 0; y < shown.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        const int row = y + scroll.y();
        for (int x = 0; x < shown.width(); ++x) {
            const int column = x + scroll.x();
            QRgb want = background;
            if (row < height && column < width) {
                const size_t index = static_cast<size_t>(height - 1 - row) * width + column;
                want = m_reference.pixel(column, row);
                if (view().inspect().showNotes && notes && (*notes)[index] == 1)
                    want = noteColour;
                if (tool != Tool::None && pending && (*pending)[index] == 1)
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

std::string WriterSession::state()
{
    std::ostringstream line;
    line << "tool " << static_cast<int>(view().activeTool()) << ", picture " << doc().width()
         << " x " << doc().height() << (doc().IsModified() ? " modified" : "") << ", notes "
         << countNotes(doc().noteLayer()) << ", pending "
         << (view().pendingLayer() ? countNotePixels(*view().pendingLayer()) : 0) << ", redo "
         << (view().redoSlot() ? "yes" : "no") << ", zoom " << view().inspect().zoom
         << (view().inspect().fit ? " fit" : "") << ", messages " << m_prompt.messageCount()
         << ", text \"" << view().textLine() << "\", focus "
         << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                         : "none")
         << ", file " << m_currentFile.substr(std::min(m_currentFile.size(), m_dir.path().size()));
    return line.str();
}

Outcome runWriterJourney(const Journey& journey)
{
    const bool trace = std::getenv("OMBRI_JOURNEY_TRACE") != nullptr;
    WriterSession session;
    for (size_t i = 0; i < journey.size(); ++i) {
        QElapsedTimer took;
        took.start();
        session.perform(journey[i]);
        saveScreenshot(session.window(), i);
        const auto broken = session.check(journey[i]);
        if (trace)
            std::cout << encodeStep(journey[i]) << "  ->  " << session.state() << " ("
                      << took.elapsed() << " ms)" << std::endl;
        if (broken)
            return Failure{i, *broken};
    }
    return std::nullopt;
}

} // namespace

const JourneyProgram kJourneyProgram{"writer", &makeWriterJourney, &runWriterJourney};

} // namespace ombri::journey
