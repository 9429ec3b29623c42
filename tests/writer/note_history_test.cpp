// The writer's deep undo: the pixel sets steps are kept in, the bounded list of steps, and the
// document walking back and forth through drawings, erasures, imports and Clear All on real
// pictures, every state compared byte for byte with the one it had when the step was taken.

#include "formats/bmp.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/note_history.h"
#include "writer/savable_writer_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace ombri::writer {
namespace {

std::vector<size_t> visited(const PixelSet& set)
{
    std::vector<size_t> indices;
    set.forEach([&](size_t i) { indices.push_back(i); });
    return indices;
}

std::vector<size_t> visitedRuns(const PixelSet& set)
{
    std::vector<size_t> indices;
    size_t lastEnd = 0;
    bool first = true;
    set.forEachRun([&](size_t start, size_t length) {
        // Runs come whole: one never starts where the one before it ended.
        EXPECT_GT(length, 0u);
        EXPECT_TRUE(first || start > lastEnd) << start;
        first = false;
        lastEnd = start + length;
        for (size_t i = start; i < start + length; ++i)
            indices.push_back(i);
    });
    return indices;
}

PixelSet setOf(size_t pixelCount, const std::vector<size_t>& indices)
{
    PixelSet set(pixelCount);
    for (size_t i : indices)
        set.add(i);
    return set;
}

size_t bitmapBytes(size_t pixelCount)
{
    return (pixelCount + 63) / 64 * 8;
}

struct IndexCase {
    const char* name;
    size_t pixelCount;
    std::vector<size_t> indices;
};

std::vector<IndexCase> indexCases()
{
    const size_t n = 100003; // not a multiple of 64: the bitmap's last word is partly used
    std::vector<IndexCase> cases = {{"empty", n, {}},
                                    {"first pixel", n, {0}},
                                    {"last pixel", n, {n - 1}},
                                    {"both ends", n, {0, 1, n - 2, n - 1}},
                                    {"one pixel picture", 1, {0}}};
    IndexCase sparse{"sparse", n, {}};
    for (size_t i = 5; i < n; i += 997)
        sparse.indices.push_back(i);
    IndexCase outline{"rectangle outline", n, {}};
    const size_t width = 317;
    for (size_t row = 20; row <= 200; ++row) {
        for (size_t x = 30; x <= 280; ++x) {
            if (row == 20 || row == 200 || x == 30 || x == 280)
                outline.indices.push_back(row * width + x);
        }
    }
    IndexCase alternate{"every other pixel", n, {}};
    for (size_t i = 1; i < n; i += 2)
        alternate.indices.push_back(i);
    IndexCase all{"every pixel", n, {}};
    for (size_t i = 0; i < n; ++i)
        all.indices.push_back(i);
    std::mt19937 random(28);
    IndexCase half{"random half", n, {}};
    IndexCase scattered{"random tenth", n, {}};
    for (size_t i = 0; i < n; ++i) {
        if (random() % 2 == 0)
            half.indices.push_back(i);
        if (random() % 10 == 0)
            scattered.indices.push_back(i);
    }
    for (IndexCase* built : {&sparse, &outline, &alternate, &all, &half, &scattered})
        cases.push_back(std::move(*built));
    return cases;
}

TEST(PixelSet, EverySetComesBackAsAddedWhicheverFormItTakes)
{
    for (const IndexCase& c : indexCases()) {
        SCOPED_TRACE(c.name);
        PixelSet set = setOf(c.pixelCount, c.indices);
        // Before shrink the last run is still open; it must be seen all the same.
        EXPECT_EQ(visited(set), c.indices);
        EXPECT_EQ(visitedRuns(set), c.indices);
        set.shrink();
        EXPECT_EQ(set.count(), c.indices.size());
        EXPECT_EQ(set.empty(), c.indices.empty());
        EXPECT_EQ(visited(set), c.indices);
        EXPECT_EQ(visitedRuns(set), c.indices);
        // Neither form costs much more than a bit per pixel of the picture.
        EXPECT_LE(set.bytes(), bitmapBytes(c.pixelCount) + 32);

        // The same set built from its runs, each repeated and overlapping the one before.
        PixelSet fromRuns(c.pixelCount);
        set.forEachRun([&](size_t first, size_t length) {
            fromRuns.addRun(first, length);
            fromRuns.add(first + length - 1);
            fromRuns.addRun(first, 1);
        });
        fromRuns.shrink();
        EXPECT_EQ(fromRuns.count(), c.indices.size());
        EXPECT_EQ(visited(fromRuns), c.indices);
    }
}

TEST(PixelSet, ScatteredPixelsBecomeABitmapAndFiguresStayRuns)
{
    for (const IndexCase& c : indexCases()) {
        PixelSet set = setOf(c.pixelCount, c.indices);
        set.shrink();
        const std::string name = c.name;
        if (name == "every other pixel" || name == "random half" || name == "random tenth") {
            EXPECT_TRUE(set.isBitmap()) << name;
        } else {
            EXPECT_FALSE(set.isBitmap()) << name;
            EXPECT_LT(set.bytes(), bitmapBytes(c.pixelCount) / 4 + 8) << name;
        }
    }
    // A whole picture in one run costs a few bytes, not a bitmap.
    PixelSet whole(24000000);
    whole.addRun(0, 24000000);
    whole.shrink();
    EXPECT_FALSE(whole.isBitmap());
    EXPECT_LT(whole.bytes(), 16u);
}

// Run lengths and gaps far beyond 32 bits are written whole, and no bitmap of the picture is
// ever made for them.
TEST(PixelSet, HugePicturesKeepWideRunsExactly)
{
    const size_t n = size_t{1} << 40;
    const std::vector<size_t> indices = {0,
                                         1,
                                         127,
                                         128,
                                         16383,
                                         16384,
                                         (size_t{1} << 33) + 5,
                                         (size_t{1} << 33) + 6,
                                         (size_t{1} << 35) - 1,
                                         n - 2,
                                         n - 1};
    PixelSet set = setOf(n, indices);
    set.add(n); // beyond the picture
    set.shrink();
    EXPECT_FALSE(set.isBitmap());
    EXPECT_LT(set.bytes(), 128u);
    EXPECT_EQ(set.count(), indices.size());
    EXPECT_EQ(visited(set), indices);

    PixelSet wide(n);
    wide.addRun(3, size_t{1} << 39);
    wide.addRun(n - 10, 100); // cut at the picture's end
    wide.shrink();
    std::vector<std::pair<size_t, size_t>> runs;
    wide.forEachRun([&](size_t first, size_t length) { runs.emplace_back(first, length); });
    const std::vector<std::pair<size_t, size_t>> expected = {{3, size_t{1} << 39}, {n - 10, 10}};
    EXPECT_EQ(runs, expected);
    EXPECT_EQ(wide.count(), (size_t{1} << 39) + 10);
}

NoteStep stepOf(const std::string& label, size_t pixelCount, std::vector<size_t> indices)
{
    NoteStep step;
    step.label = label;
    step.notes = setOf(pixelCount, indices);
    step.width = static_cast<int32_t>(pixelCount);
    step.height = 1;
    step.bitCount = 24;
    return step;
}

std::vector<std::string> undoLabels(NoteHistory& history)
{
    std::vector<std::string> labels;
    while (const NoteStep* step = history.toUndo()) {
        labels.push_back(step->label);
        history.undone();
    }
    return labels;
}

TEST(NoteHistory, UndoneAndRedoneWalkTheStepsAndNewStepsDropThoseAhead)
{
    NoteHistory history;
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(history.toUndo(), nullptr);
    for (const char* label : {"a", "b", "c"})
        history.push(stepOf(label, 100, {1, 2}));
    EXPECT_EQ(history.toUndo()->label, "c");
    EXPECT_FALSE(history.canRedo());
    history.undone();
    history.undone();
    EXPECT_EQ(history.toUndo()->label, "a");
    EXPECT_EQ(history.toRedo()->label, "b");
    history.redone();
    EXPECT_EQ(history.toUndo()->label, "b");
    EXPECT_EQ(history.toRedo()->label, "c");

    const size_t before = history.bytes();
    history.push(stepOf("d", 100, {5}));
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(history.size(), 3u);
    EXPECT_LT(history.bytes(), before + stepOf("d", 100, {5}).bytes());
    EXPECT_EQ(undoLabels(history), (std::vector<std::string>{"d", "b", "a"}));
    EXPECT_TRUE(history.canRedo());
    history.push(stepOf("e", 100, {5}));
    EXPECT_EQ(history.size(), 1u);
    EXPECT_EQ(undoLabels(history), (std::vector<std::string>{"e"}));

    history.clear();
    EXPECT_EQ(history.size(), 0u);
    EXPECT_EQ(history.bytes(), 0u);
    EXPECT_FALSE(history.canRedo());
}

TEST(NoteHistory, KeepsTheLastHundredStepsAndCountsTheirBytes)
{
    NoteHistory history;
    size_t total = 0;
    std::vector<size_t> sizes;
    for (size_t i = 0; i < NoteHistory::kMaxSteps + 7; ++i) {
        NoteStep step = stepOf(std::to_string(i), 1000, {i, i + 1, i + 3});
        step.notes.shrink();
        sizes.push_back(step.bytes());
        history.push(std::move(step));
    }
    for (size_t i = 7; i < sizes.size(); ++i)
        total += sizes[i];
    EXPECT_EQ(history.size(), NoteHistory::kMaxSteps);
    EXPECT_EQ(history.bytes(), total);
    const std::vector<std::string> labels = undoLabels(history);
    ASSERT_EQ(labels.size(), NoteHistory::kMaxSteps);
    EXPECT_EQ(labels.front(), "106");
    EXPECT_EQ(labels.back(), "7");
}

TEST(NoteHistory, ByteBudgetDropsTheOldestStepsFirst)
{
    NoteHistory history;
    NoteStep probe = stepOf("probe", 10000, {10, 20, 30});
    probe.notes.shrink();
    const size_t stepBytes = probe.bytes();
    history.setByteBudget(stepBytes * 3 + stepBytes / 2);
    for (const char* label : {"a", "b", "c", "d", "e"})
        history.push(stepOf(label, 10000, {10, 20, 30}));
    EXPECT_EQ(history.size(), 3u);
    EXPECT_LE(history.bytes(), history.byteBudget());
    EXPECT_EQ(undoLabels(history), (std::vector<std::string>{"e", "d", "c"}));

    // A smaller budget keeps what still fits, newest first.
    for (int i = 0; i < 3; ++i)
        history.redone();
    history.setByteBudget(stepBytes);
    EXPECT_EQ(history.size(), 1u);
    EXPECT_EQ(undoLabels(history), (std::vector<std::string>{"e"}));
    // A step larger than the whole budget cannot be kept at all.
    history.redone();
    history.push(stepOf("huge", 10000, {1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23}));
    EXPECT_EQ(history.size(), 0u);
    EXPECT_EQ(history.bytes(), 0u);
    EXPECT_FALSE(history.canUndo());
}

// A kept step holds no spare room: every set of it, the pixel words' included, is shrunk, so
// that what the budget counts is what the step needs.
TEST(NoteHistory, KeptStepsHoldNoSpareRoom)
{
    std::vector<size_t> scattered;
    for (size_t i = 0; i < 5000; i += 3)
        scattered.push_back(i);
    NoteStep step = stepOf("Clear All", 100000, scattered);
    step.carrier = setOf(100000, scattered);
    step.words = setOf(100000, scattered);
    NoteStep shrunk = stepOf("Clear All", 100000, scattered);
    shrunk.carrier = setOf(100000, scattered);
    shrunk.words = setOf(100000, scattered);
    for (PixelSet* set : {&shrunk.notes, &shrunk.carrier, &shrunk.words})
        set->shrink();
    ASSERT_LT(shrunk.bytes(), step.bytes());
    NoteHistory history;
    history.push(std::move(step));
    EXPECT_EQ(history.bytes(), shrunk.bytes());
}

// The steps ahead only make sense on top of the first of them: when that one has to go, none
// of them can be redone.
TEST(NoteHistory, StepsAheadAreNotRedoneWithoutTheOneBeforeThem)
{
    NoteHistory history;
    for (const char* label : {"a", "b", "c"})
        history.push(stepOf(label, 10000, {10, 20, 30}));
    for (int i = 0; i < 3; ++i)
        history.undone();
    history.setByteBudget(history.bytes() - 1);
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(history.size(), 0u);
    EXPECT_EQ(history.bytes(), 0u);
}

// A document whose picture can be swapped without the history noticing, as a later change of
// the picture's size would, and whose pixel words can be read.
class HistoryDocument : public SavableWriterDocument {
  public:
    using SavableWriterDocument::SavableWriterDocument;

    void replacePictureKeepingSteps(Dib image)
    {
        m_image = std::move(image);
        m_width = DibGetWidth(m_image);
        m_height = DibGetHeight(m_image);
        m_noteLayer.reset();
        dropDisplayImage();
    }
};

// Everything a step may change: the whole picture block (header, colour table, pixels and the
// padding of its rows), the note layer (an absent one reads as no notes) and any pixel words.
struct DocumentState {
    std::vector<uint8_t> picture;
    NoteLayer notes;
    std::vector<uint32_t> words;

    bool operator==(const DocumentState& other) const
    {
        return picture == other.picture && notes == other.notes && words == other.words;
    }
};

std::ostream& operator<<(std::ostream& out, const DocumentState& state)
{
    return out << "picture of " << state.picture.size() << " bytes, "
               << std::count(state.notes.begin(), state.notes.end(), 1) << " notes, "
               << state.words.size() << " words";
}

// Drives a document through a journey of steps, keeping the state after each as the model says
// it must be, then undoes every step and redoes it again, comparing each state on the way.
class StepJourney {
  public:
    explicit StepJourney(HistoryDocument& doc) : m_doc(doc) { m_states.push_back(capture()); }

    DocumentState capture() const
    {
        DocumentState state;
        const Dib& image = m_doc.image();
        state.picture.assign(image.data(), image.data() + image.size());
        const size_t size = static_cast<size_t>(m_doc.width()) * m_doc.height();
        state.notes = m_doc.hasNoteLayer() ? *m_doc.noteLayer() : NoteLayer(size, 0);
        state.words = m_doc.pixelWords();
        return state;
    }

    // Each action takes the pixels it names that change and the last takes the rest of the
    // mask's changes; an action that changes nothing leaves no step.
    void draw(const NoteLayer& mask, std::vector<DrawnAction> actions, bool merge)
    {
        NoteLayer notes = m_states.back().notes;
        auto changes = [&](size_t i) {
            return merge ? mask[i] == 1 && notes[i] != 1 : mask[i] == 0 && notes[i] == 1;
        };
        std::vector<NoteLayer> expected;
        for (size_t a = 0; a < actions.size(); ++a) {
            std::vector<size_t> pixels = actions[a].pixels;
            if (a + 1 == actions.size()) {
                pixels.resize(notes.size());
                for (size_t i = 0; i < notes.size(); ++i)
                    pixels[i] = i;
            }
            std::sort(pixels.begin(), pixels.end());
            bool changed = false;
            for (size_t i : pixels) {
                if (i < notes.size() && changes(i)) {
                    notes[i] = merge ? 1 : 0;
                    changed = true;
                }
            }
            if (changed)
                expected.push_back(notes);
        }
        if (merge)
            m_doc.mergeDrawing(mask.data(), std::move(actions));
        else
            m_doc.restrictDrawing(mask.data(), std::move(actions));
        const DocumentState after = capture();
        ASSERT_EQ(after.notes, notes);
        for (NoteLayer& layer : expected)
            m_states.push_back({after.picture, std::move(layer), after.words});
    }
    void importNotes(const NoteLayer& mask)
    {
        m_doc.MergeNotes(mask.data());
        m_states.push_back(capture());
    }
    // Whether the picture itself changed: its carrier bits or its marker.
    bool clearAll()
    {
        m_doc.ClearNotes();
        m_states.push_back(capture());
        const NoteStep* step = m_doc.history().toUndo();
        EXPECT_EQ(step ? step->label : "no step", "Clear All");
        return m_states.back().picture != m_states[m_states.size() - 2].picture;
    }

    std::vector<DocumentState>& states() { return m_states; }

    void undoAndRedoEverything()
    {
        const size_t steps = m_states.size() - 1;
        ASSERT_EQ(m_doc.history().size(), steps);
        for (size_t k = steps; k-- > 0;) {
            ASSERT_TRUE(m_doc.undoStep()) << k;
            ASSERT_EQ(capture(), m_states[k]) << "undone back to state " << k;
        }
        EXPECT_FALSE(m_doc.canUndoStep());
        EXPECT_FALSE(m_doc.undoStep());
        for (size_t k = 1; k <= steps; ++k) {
            ASSERT_TRUE(m_doc.redoStep()) << k;
            ASSERT_EQ(capture(), m_states[k]) << "redone to state " << k;
        }
        EXPECT_FALSE(m_doc.canRedoStep());
        EXPECT_FALSE(m_doc.redoStep());
    }

  private:
    HistoryDocument& m_doc;
    std::vector<DocumentState> m_states;
};

std::vector<size_t> rectangleOutline(int32_t width, int32_t left, int32_t top, int32_t right,
                                     int32_t bottom)
{
    std::vector<size_t> pixels;
    for (int32_t y = top; y <= bottom; ++y) {
        for (int32_t x = left; x <= right; ++x) {
            if (y == top || y == bottom || x == left || x == right)
                pixels.push_back(static_cast<size_t>(y) * width + x);
        }
    }
    return pixels;
}

NoteLayer maskOf(size_t size, const std::vector<std::vector<size_t>>& parts)
{
    NoteLayer mask(size, 0);
    for (const auto& part : parts) {
        for (size_t i : part) {
            if (i < size)
                mask[i] = 1;
        }
    }
    return mask;
}

class DocumentHistoryTest : public ::testing::Test {
  protected:
    void SetUp() override { doc.keepHistory(true); }

    void openFile(const std::string& path)
    {
        ASSERT_TRUE(doc.OnOpenDocument(path)) << doc.lastOpenError();
    }
    void openPicture(const Dib& image, const std::string& name)
    {
        ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file(name), image)));
        ASSERT_NO_FATAL_FAILURE(openFile(dir.file(name)));
    }
    // A picture that already carries notes behind its marker, saved by the writer and opened.
    void openCarrier(int32_t width, int32_t height, uint16_t bitCount, const std::string& name)
    {
        HistoryDocument maker(prompt);
        const std::string plain = dir.file("plain-" + name + ".bmp");
        ASSERT_TRUE(
            test::succeeded(WriteBmpFile(plain, test::makePatternImage(width, height, bitCount))));
        ASSERT_TRUE(maker.OnOpenDocument(plain)) << maker.lastOpenError();
        maker.MergeNotes(test::makePatternNotes(width, height).data());
        maker.setSaveDepth(bitCount == 32 ? SaveDepth::Alpha32 : SaveDepth::Bits24);
        ASSERT_TRUE(maker.OnSaveDocument(dir.file(name))) << maker.lastSaveError();
        ASSERT_NO_FATAL_FAILURE(openFile(dir.file(name)));
        ASSERT_EQ(DibGetBitCount(doc.image()), bitCount);
        ASSERT_TRUE(doc.hasNoteLayer());
    }

    // Figures, strokes and text, an eraser, an import, Clear All twice and drawing on the
    // cleared picture, each compared on the way back and forth.
    void walkMixedJourney()
    {
        const int32_t w = doc.width(), h = doc.height();
        const size_t size = static_cast<size_t>(w) * h;
        StepJourney journey(doc);
        const std::vector<size_t> rectangle = rectangleOutline(w, 1, 1, w - 3, h - 2);
        const std::vector<size_t> pen = {0, 1, 2, static_cast<size_t>(w) + 2, size - 1};
        std::vector<size_t> text = {size / 2, size / 2 + 1, size / 2 + 3, size + 5};
        const NoteLayer drawn = maskOf(size, {rectangle, pen, text, {size / 3}});
        ASSERT_NO_FATAL_FAILURE(
            journey.draw(drawn, {{"Rectangle", rectangle}, {"Pen", pen}, {"Text", text}}, true));
        ASSERT_TRUE(doc.canUndoStep());
        EXPECT_EQ(doc.history().toUndo()->label, "Text");

        NoteLayer eraser(size, 1);
        const std::vector<size_t> rubbed = rectangleOutline(w, 0, 0, 3, 2);
        for (size_t i : rubbed)
            eraser[i] = 0;
        eraser[size - 1] = 0;
        ASSERT_NO_FATAL_FAILURE(journey.draw(eraser, {{"Eraser", rubbed}, {"Eraser", {}}}, false));

        ASSERT_NO_FATAL_FAILURE(journey.importNotes(test::makePatternNotes(w, h, 11)));
        m_clearChangedPicture = journey.clearAll();
        const std::vector<size_t> line = rectangleOutline(w, 0, h / 2, w - 1, h / 2);
        ASSERT_NO_FATAL_FAILURE(journey.draw(maskOf(size, {line}), {{"Line", line}}, true));
        NoteLayer inverted = test::makePatternNotes(w, h, 3);
        for (uint8_t& note : inverted)
            note = note == 1 ? 0 : 1;
        ASSERT_NO_FATAL_FAILURE(journey.importNotes(inverted));
        journey.clearAll();
        ASSERT_NO_FATAL_FAILURE(journey.draw(maskOf(size, {pen}), {{"Pen", pen}}, true));
        ASSERT_NO_FATAL_FAILURE(journey.undoAndRedoEverything());
    }

    test::TempDir dir;
    ScriptedPrompt prompt;
    HistoryDocument doc{prompt};
    bool m_clearChangedPicture = false;
};

TEST_F(DocumentHistoryTest, EveryStateComesBackOn24BitCarrierWithPaddedRows)
{
    ASSERT_NO_FATAL_FAILURE(openCarrier(13, 9, 24, "carrier24.bmp")); // rows of 39 bytes in 40
    ASSERT_TRUE(doc.foundSignature().intact());
    ASSERT_NO_FATAL_FAILURE(walkMixedJourney());
    // The first Clear All took the marker and the carrier bits out; undoing it put them back.
    EXPECT_TRUE(m_clearChangedPicture);
}

TEST_F(DocumentHistoryTest, EveryStateComesBackOn32BitCarrier)
{
    ASSERT_NO_FATAL_FAILURE(openCarrier(11, 7, 32, "carrier32.bmp"));
    ASSERT_TRUE(doc.foundSignature().intact());
    ASSERT_NO_FATAL_FAILURE(walkMixedJourney());
    EXPECT_TRUE(m_clearChangedPicture);
}

TEST_F(DocumentHistoryTest, EveryStateComesBackOnPlainPictures)
{
    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(15, 6, 24, 5), "plain24.bmp"));
    ASSERT_NO_FATAL_FAILURE(walkMixedJourney());
    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(9, 10, 32, 5), "plain32.bmp"));
    ASSERT_NO_FATAL_FAILURE(walkMixedJourney());
}

TEST_F(DocumentHistoryTest, ClearAllGivesBackTheMarkerAndTheNotesItTook)
{
    ASSERT_NO_FATAL_FAILURE(openCarrier(13, 9, 24, "carrier.bmp"));
    const std::vector<uint8_t> picture(doc.image().data(), doc.image().data() + doc.image().size());
    const NoteLayer notes = *doc.noteLayer();
    doc.ClearNotes();
    EXPECT_FALSE(findOmbriSignature(doc.image(), false, SignatureForm::Interleaved).intact());
    ASSERT_TRUE(doc.undoStep());
    EXPECT_EQ(std::vector<uint8_t>(doc.image().data(), doc.image().data() + doc.image().size()),
              picture);
    EXPECT_EQ(*doc.noteLayer(), notes);
    EXPECT_TRUE(findOmbriSignature(doc.image(), false, SignatureForm::Interleaved).intact());
}

// Clear All leaves no note layer, so the picture is saved without the marker; redoing it does
// the same, and undoing it on a picture that had no notes leaves none either.
TEST_F(DocumentHistoryTest, ClearAllUndoneOrRedoneLeavesTheNoteLayerAsItWas)
{
    auto savedWithMarker = [&](const std::string& name) {
        doc.setSaveDepth(SaveDepth::Bits24);
        EXPECT_TRUE(doc.OnSaveDocument(dir.file(name))) << doc.lastSaveError();
        HistoryDocument reopened(prompt);
        EXPECT_TRUE(reopened.OnOpenDocument(dir.file(name))) << reopened.lastOpenError();
        return reopened.foundSignature().intact();
    };
    ASSERT_NO_FATAL_FAILURE(openCarrier(13, 9, 24, "carrier.bmp"));
    doc.ClearNotes();
    ASSERT_FALSE(doc.hasNoteLayer());
    ASSERT_TRUE(doc.undoStep());
    EXPECT_TRUE(doc.hasNoteLayer());
    ASSERT_TRUE(doc.redoStep());
    EXPECT_FALSE(doc.hasNoteLayer());
    EXPECT_FALSE(savedWithMarker("redone.bmp"));

    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(13, 9, 24), "plain.bmp"));
    ASSERT_FALSE(doc.hasNoteLayer());
    doc.ClearNotes();
    ASSERT_TRUE(doc.undoStep());
    EXPECT_FALSE(doc.hasNoteLayer());
    EXPECT_FALSE(savedWithMarker("undone.bmp"));
}

// DPX and Cineon pictures keep their notes in the pixel words too: Clear All clears those, and
// undoing it sets them again.
TEST_F(DocumentHistoryTest, ClearAllGivesBackTheNoteBitsOfPixelWords)
{
    const int32_t w = 7, h = 5;
    HistoryDocument maker(prompt);
    const std::string plain = dir.file("plain.bmp");
    ASSERT_TRUE(test::succeeded(WriteBmpFile(plain, test::makePatternImage(w, h, 24))));
    ASSERT_TRUE(maker.OnOpenDocument(plain)) << maker.lastOpenError();
    maker.MergeNotes(test::makePatternNotes(w, h).data());
    ASSERT_TRUE(maker.OnSaveDocument(dir.file("film.dpx"))) << maker.lastSaveError();
    ASSERT_NO_FATAL_FAILURE(openFile(dir.file("film.dpx")));
    ASSERT_TRUE(doc.hasPixelWords());

    StepJourney journey(doc);
    const std::vector<size_t> pen = {3, 4, 5, 30};
    ASSERT_NO_FATAL_FAILURE(journey.draw(maskOf(w * h, {pen}), {{"Pen", pen}}, true));
    ASSERT_NO_FATAL_FAILURE(journey.clearAll());
    EXPECT_NE(journey.states()[1].words, journey.states()[2].words);
    ASSERT_NO_FATAL_FAILURE(journey.draw(maskOf(w * h, {pen}), {{"Pen", pen}}, true));
    ASSERT_NO_FATAL_FAILURE(journey.undoAndRedoEverything());
}

// The first note widens a picture with a colour table to 24 bits. Undo takes the notes back but
// leaves the widened picture, which shows the same colours.
TEST_F(DocumentHistoryTest, PalettePictureWidenedByItsFirstNotesKeepsItsColours)
{
    const int32_t w = 9, h = 5; // rows of 9 index bytes padded to 12
    std::vector<uint8_t> file(14 + 40 + 8 + 12 * h, 0);
    file[0] = 'B';
    file[1] = 'M';
    file[10] = 62;
    auto header = DibMakeHeader(w, h, 8, 0);
    std::memcpy(&file[14], header.data(), header.size());
    file[14 + 32] = 2;
    const uint8_t table[8] = {0x41, 0x42, 0x43, 0, 0x10, 0x21, 0x30, 0};
    std::memcpy(&file[54], table, 8);
    for (int32_t i = 0; i < 12 * h; ++i)
        file[62 + i] = static_cast<uint8_t>(i % 12 < w ? i % 3 % 2 : 0);
    test::writeFileBytes(dir.file("palette.bmp"), file);
    ASSERT_NO_FATAL_FAILURE(openFile(dir.file("palette.bmp")));
    ASSERT_EQ(DibGetBitCount(doc.image()), 8);
    const Dib widened = dibConvertToBitCount(doc.image(), 24);

    StepJourney journey(doc);
    const std::vector<size_t> pen = {0, 1, 10, 44};
    ASSERT_NO_FATAL_FAILURE(journey.draw(maskOf(w * h, {pen}), {{"Pen", pen}}, true));
    ASSERT_EQ(DibGetBitCount(doc.image()), 24);
    EXPECT_TRUE(doc.displayPalette().empty());
    journey.states()[0].picture.assign(widened.data(), widened.data() + widened.size());
    ASSERT_NO_FATAL_FAILURE(journey.importNotes(test::makePatternNotes(w, h)));
    ASSERT_NO_FATAL_FAILURE(journey.clearAll());
    ASSERT_NO_FATAL_FAILURE(journey.draw(maskOf(w * h, {pen}), {{"Pen", pen}}, true));
    ASSERT_NO_FATAL_FAILURE(journey.undoAndRedoEverything());
}

// Clear All frees the note layer before its step is kept: the budget still follows the picture.
// Nine steps of scattered pixels on a 300 x 200 picture fill more than a small picture's budget
// and less than half this one's raw size.
TEST_F(DocumentHistoryTest, ClearAllKeepsTheStepsBeforeItWithinTheBudget)
{
    const int32_t w = 300, h = 200;
    const size_t size = static_cast<size_t>(w) * h;
    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(w, h, 24), "p.bmp"));
    std::mt19937 random(5);
    const NoteLayer none(size, 0);
    for (int i = 0; i < 8; ++i) {
        if (i % 2 == 1) {
            doc.RestrictNotes(none.data());
            continue;
        }
        NoteLayer mask(size, 0);
        for (uint8_t& note : mask)
            note = random() % 2;
        doc.MergeNotes(mask.data());
    }
    ASSERT_EQ(doc.history().size(), 8u);
    doc.MergeNotes(test::makePatternNotes(w, h).data());
    doc.ClearNotes();
    EXPECT_EQ(doc.history().size(), 10u);
    EXPECT_EQ(doc.history().byteBudget(), size * 3 / 2);
    EXPECT_GT(doc.history().bytes(), NoteHistory::kMinByteBudget);
    EXPECT_LE(doc.history().bytes(), doc.history().byteBudget());
}

// Half of a small picture would not hold one step's bookkeeping; it keeps its hundred steps.
TEST_F(DocumentHistoryTest, SmallPicturesKeepEveryStep)
{
    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(16, 16, 24), "icon.bmp"));
    for (size_t i = 0; i < NoteHistory::kMaxSteps + 5; ++i) {
        NoteLayer mask(256, 0);
        mask[i % 256] = 1;
        if (i % 2 == 0)
            doc.MergeNotes(mask.data(), "Pen");
        else
            doc.RestrictNotes(NoteLayer(256, 0).data());
    }
    doc.ClearNotes();
    EXPECT_EQ(doc.history().size(), NoteHistory::kMaxSteps);
}

TEST_F(DocumentHistoryTest, UndoAndRedoAfterASaveMarkTheDocumentModified)
{
    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(10, 4, 24), "p.bmp"));
    doc.MergeNotes(NoteLayer(40, 1).data());
    doc.SetModified(false);
    ASSERT_TRUE(doc.undoStep());
    EXPECT_TRUE(doc.IsModified());
    doc.SetModified(false);
    ASSERT_TRUE(doc.redoStep());
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(DocumentHistoryTest, NothingIsKeptUnlessTheHistoryIsTurnedOn)
{
    doc.keepHistory(false);
    ASSERT_NO_FATAL_FAILURE(openCarrier(10, 4, 24, "c.bmp"));
    doc.MergeNotes(NoteLayer(40, 1).data());
    doc.ClearNotes();
    EXPECT_EQ(doc.history().size(), 0u);
    EXPECT_FALSE(doc.undoStep());

    doc.keepHistory(true);
    doc.MergeNotes(NoteLayer(40, 1).data());
    EXPECT_EQ(doc.history().size(), 1u);
    doc.keepHistory(false);
    EXPECT_FALSE(doc.canUndoStep());
    // A change that changes nothing is no step.
    doc.keepHistory(true);
    doc.MergeNotes(NoteLayer(40, 1).data());
    doc.RestrictNotes(NoteLayer(40, 1).data());
    EXPECT_EQ(doc.history().size(), 0u);
}

TEST_F(DocumentHistoryTest, NewDrawingDropsTheStepsUndone)
{
    ASSERT_NO_FATAL_FAILURE(openPicture(test::makePatternImage(10, 4, 24), "p.bmp"));
    for (size_t i = 0; i < 3; ++i) {
        NoteLayer mask(40, 0);
        mask[i] = 1;
        doc.MergeNotes(mask.data(), "Pen");
    }
    ASSERT_TRUE(doc.undoStep());
    ASSERT_TRUE(doc.undoStep());
    NoteLayer mask(40, 0);
    mask[20] = 1;
    doc.MergeNotes(mask.data(), "Line");
    EXPECT_FALSE(doc.canRedoStep());
    EXPECT_EQ(doc.history().size(), 2u);
    EXPECT_EQ(doc.history().toUndo()->label, "Line");
}

TEST_F(DocumentHistoryTest, OpeningNewCloseAndEmptyingDropTheSteps)
{
    ASSERT_TRUE(test::succeeded(WriteBmpFile(dir.file("p.bmp"), test::makePatternImage(8, 4, 24))));
    const std::vector<std::pair<const char*, std::function<void()>>> ends = {
        {"open", [&] { ASSERT_TRUE(doc.OnOpenDocument(dir.file("p.bmp"))); }},
        {"new", [&] { doc.OnNewDocument(); }},
        {"close", [&] { doc.CloseImage(); }},
        {"empty", [&] { doc.DeleteContents(); }},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        ASSERT_NO_FATAL_FAILURE(openFile(dir.file("p.bmp")));
        doc.MergeNotes(NoteLayer(32, 1).data());
        doc.ClearNotes();
        ASSERT_TRUE(doc.undoStep());
        ASSERT_TRUE(doc.canUndoStep() && doc.canRedoStep());
        end();
        EXPECT_FALSE(doc.canUndoStep());
        EXPECT_FALSE(doc.canRedoStep());
        EXPECT_EQ(doc.history().size(), 0u);
        EXPECT_EQ(doc.history().bytes(), 0u);
    }
}

// Steps are taken on one layout of the picture; on any other (another size with the same pixel
// count, a smaller picture, another depth) they turn no byte of it.
TEST_F(DocumentHistoryTest, StepsOfAnotherLayoutLeaveThePictureAlone)
{
    struct Other {
        int32_t width, height;
        uint16_t bitCount;
    };
    for (const Other other : {Other{9, 13, 24}, Other{5, 3, 24}, Other{13, 9, 32}}) {
        SCOPED_TRACE(std::to_string(other.width) + "x" + std::to_string(other.height));
        ASSERT_NO_FATAL_FAILURE(openCarrier(13, 9, 24, "c.bmp"));
        doc.MergeNotes(NoteLayer(13 * 9, 1).data());
        doc.ClearNotes();
        doc.MergeNotes(NoteLayer(13 * 9, 1).data());
        ASSERT_TRUE(doc.undoStep());
        doc.replacePictureKeepingSteps(
            test::makePatternImage(other.width, other.height, other.bitCount, 9));
        StepJourney watch(doc);
        const DocumentState before = watch.capture();
        while (doc.undoStep()) {
        }
        while (doc.redoStep()) {
        }
        const DocumentState after = watch.capture();
        EXPECT_EQ(after.picture, before.picture);
        if (other.width != 13 || other.height != 9) {
            EXPECT_EQ(after.notes, before.notes);
        }
    }
}

} // namespace
} // namespace ombri::writer
