#pragma once

#include "core/dib.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace ombri::writer {

// A set of pixel indices of one picture, kept in whichever of two forms is smaller: runs of
// consecutive indices, each written as the gap since the last run and its length in variable-
// length bytes (a figure, a stroke, a line of text), or one bit per pixel of the picture (the
// scattered carrier bits Clear All turns). Indices are added in increasing order.
class PixelSet {
  public:
    PixelSet() = default;
    explicit PixelSet(size_t pixelCount) : m_pixelCount(pixelCount) {}

    // Indices must come in increasing order; a repeated index is ignored.
    void add(size_t index);
    void addRun(size_t first, size_t length);
    // Frees the spare room left by building.
    void shrink();

    bool empty() const { return m_count == 0; }
    size_t count() const { return m_count; }
    size_t bytes() const { return m_runs.capacity() + m_bits.capacity() * sizeof(uint64_t); }
    bool isBitmap() const { return m_bitmap; }
    size_t pixelCount() const { return m_pixelCount; }

    // Calls visit(first, length) for every run of consecutive indices, in order.
    void forEachRun(const std::function<void(size_t first, size_t length)>& visit) const;
    // Calls visit(index) for every index, in order.
    template <typename Visit> void forEach(Visit visit) const;

  private:
    void appendRun(size_t first, size_t length);
    void switchToBitmap();
    void setBits(size_t first, size_t length);

    size_t m_pixelCount = 0;
    size_t m_count = 0;
    bool m_bitmap = false;
    // Runs: the open run not yet written, and the end of the last run written.
    size_t m_openFirst = 0;
    size_t m_openLength = 0;
    size_t m_lastEnd = 0;
    std::vector<uint8_t> m_runs;
    std::vector<uint64_t> m_bits;
};

// One change of the notes, undone and redone by turning the same bits back and forth: the note
// pixels it added or removed, the carrier bits it turned (Clear All makes every carrier byte
// odd), and the few picture bytes it set outright (the signature Clear All takes out).
struct NoteStep {
    struct BytePatch {
        size_t offset = 0; // from the start of the picture's pixels
        uint8_t before = 0;
        uint8_t after = 0;
    };

    std::string label; // what the Edit menu names it: "Rectangle", "Clear All"
    PixelSet notes;
    PixelSet carrier;
    PixelSet words; // pixel words of DPX and Cineon pictures whose low bit turned
    std::vector<BytePatch> patches;
    // Clear All frees the note layer, which a picture opened without notes never had: a picture
    // with a note layer, even an empty one, is saved with the marker.
    bool freesNoteLayer = false;
    bool hadNoteLayer = true;
    // The picture the step was taken on; a step never lands on pixels of another layout.
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;

    size_t bytes() const
    {
        return sizeof(NoteStep) + label.capacity() + notes.bytes() + carrier.bytes() +
               words.bytes() + patches.capacity() * sizeof(BytePatch);
    }
};

// What a tool drew or erased in one go (a figure, a stroke, a line of text): the pixels it set in
// the pending layer, in the order they were set.
struct DrawnAction {
    std::string label;
    std::vector<size_t> pixels;
};

// The steps behind and ahead of the document's notes. It holds at most kMaxSteps steps and at
// most its byte budget (half the picture's raw size); the oldest go first.
class NoteHistory {
  public:
    static constexpr size_t kMaxSteps = 100;
    // What the document allows any picture: a hundred steps of a few runs each.
    static constexpr size_t kMinByteBudget = 64 * 1024;

    void clear();
    void setByteBudget(size_t bytes);
    size_t byteBudget() const { return m_budget; }

    // A new step drops every step ahead of it: they would redo on notes that no longer exist.
    void push(NoteStep step);
    void dropStepsAhead();

    bool canUndo() const { return m_done > 0; }
    bool canRedo() const { return m_done < m_steps.size(); }
    // The step Undo would turn back and the one Redo would turn again; null when there is none.
    const NoteStep* toUndo() const { return canUndo() ? &m_steps[m_done - 1] : nullptr; }
    const NoteStep* toRedo() const { return canRedo() ? &m_steps[m_done] : nullptr; }
    // Moves past the step just undone or redone.
    void undone() { --m_done; }
    void redone() { ++m_done; }

    size_t size() const { return m_steps.size(); }
    size_t bytes() const { return m_bytes; }

  private:
    void trim();

    std::deque<NoteStep> m_steps;
    size_t m_done = 0;
    size_t m_bytes = 0;
    size_t m_budget = SIZE_MAX;
};

template <typename Visit> void PixelSet::forEach(Visit visit) const
{
    if (m_bitmap) {
        for (size_t word = 0; word < m_bits.size(); ++word) {
            for (uint64_t bits = m_bits[word]; bits != 0; bits &= bits - 1)
                visit(word * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
        }
        return;
    }
    forEachRun([&](size_t first, size_t length) {
        for (size_t i = first; i < first + length; ++i)
            visit(i);
    });
}

// Turns the step's bits in the picture and the note layer: Undo and Redo of a step are the same
// turn, apart from the bytes set outright, which take their value before or after.
enum class StepDirection { Undo, Redo };
void applyStep(const NoteStep& step, StepDirection direction, Dib& image, uint8_t* notes,
               std::vector<uint32_t>* words);

// The carrier pixels whose bit Clear All would turn, the note pixels it would take away and the
// signature bytes it would change: recorded before the picture is cleared.
NoteStep recordClear(const Dib& image, const uint8_t* notes, size_t pixelCount,
                     const std::vector<uint32_t>* words);
// Fills in the bytes set outright by comparing the places they may lie in with the picture
// after the change.
void finishClearRecord(NoteStep& step, const Dib& image);

} // namespace ombri::writer
