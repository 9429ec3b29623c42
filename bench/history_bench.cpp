// The writer's undo history on the 6000 x 4000 test photograph: its memory after 110 steps (100
// strokes, figures and text lines of at most 2% of the pixels each, 5 Clear All and 5 Import
// Notes of most of the picture; the history keeps the last 100) and the time of undoing and
// redoing each step. Targets: the history at most 0.5x the picture's raw size, the largest
// step undone and redone in at most 50 ms each.
//
//   history_bench

#include "bench/memory_watch.h"
#include "bench/photo_image.h"

#include "platform/scripted_prompt.h"
#include "writer/savable_writer_document.h"

#include <algorithm>
#include <malloc.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace ombri;
using namespace ombri::bench;
using Clock = std::chrono::steady_clock;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kMaxShare = 0.02; // of the picture's pixels, for one drawn step

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A writer document given the photograph directly, as opening a file would leave it.
class BenchDocument : public writer::SavableWriterDocument {
  public:
    using SavableWriterDocument::SavableWriterDocument;

    void adopt(Dib image)
    {
        DeleteContents();
        m_image = std::move(image);
        m_width = DibGetWidth(m_image);
        m_height = DibGetHeight(m_image);
    }
};

// What one tool draws: the pixels in the order it sets them, each once, and the same pixels as
// a mask, as the canvas hands them to the document.
class Drawing {
  public:
    Drawing(int32_t width, int32_t height)
        : m_width(width), m_height(height), m_mask(static_cast<size_t>(width) * height, 0)
    {
    }

    void dot(int32_t x, int32_t y)
    {
        if (x < 0 || y < 0 || x >= m_width || y >= m_height)
            return;
        const size_t i = static_cast<size_t>(y) * m_width + x;
        if (m_mask[i] == 1)
            return;
        m_mask[i] = 1;
        m_pixels.push_back(i);
    }
    // A square pen of the given width centred on the point.
    void stamp(double x, double y, int32_t pen)
    {
        const int32_t left = static_cast<int32_t>(std::lround(x)) - pen / 2;
        const int32_t top = static_cast<int32_t>(std::lround(y)) - pen / 2;
        for (int32_t dy = 0; dy < pen; ++dy)
            for (int32_t dx = 0; dx < pen; ++dx)
                dot(left + dx, top + dy);
    }
    void line(double x0, double y0, double x1, double y1, int32_t pen)
    {
        const int steps = std::max(1, static_cast<int>(std::hypot(x1 - x0, y1 - y0)));
        for (int s = 0; s <= steps; ++s) {
            const double t = static_cast<double>(s) / steps;
            stamp(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, pen);
        }
    }

    size_t count() const { return m_pixels.size(); }
    const uint8_t* mask() const { return m_mask.data(); }
    const std::vector<size_t>& pixels() const { return m_pixels; }
    // Clears the mask for the next drawing.
    void clear()
    {
        for (size_t i : m_pixels)
            m_mask[i] = 0;
        m_pixels.clear();
    }

  private:
    int32_t m_width;
    int32_t m_height;
    NoteLayer m_mask;
    std::vector<size_t> m_pixels;
};

// One figure, stroke or text line, drawn with the deterministic generator.
const char* drawOne(Drawing& drawing, std::mt19937& random, size_t kind, int32_t w, int32_t h)
{
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    switch (kind % 6) {
    case 0: { // a rectangle outline
        const double left = uniform(0, w / 2.0), top = uniform(0, h / 2.0);
        const double right = uniform(left + 50, w), bottom = uniform(top + 50, h);
        const int32_t pen = 1 + static_cast<int32_t>(random() % 5);
        drawing.line(left, top, right, top, pen);
        drawing.line(right, top, right, bottom, pen);
        drawing.line(right, bottom, left, bottom, pen);
        drawing.line(left, bottom, left, top, pen);
        return "Rectangle";
    }
    case 1: { // an ellipse
        const double cx = uniform(w * 0.2, w * 0.8), cy = uniform(h * 0.2, h * 0.8);
        const double rx = uniform(100, w * 0.3), ry = uniform(100, h * 0.3);
        const int32_t pen = 1 + static_cast<int32_t>(random() % 3);
        const int steps = static_cast<int>(kTwoPi * std::max(rx, ry) * 1.5);
        for (int s = 0; s < steps; ++s) {
            const double a = kTwoPi * s / steps;
            drawing.stamp(cx + rx * std::cos(a), cy + ry * std::sin(a), pen);
        }
        return "Ellipse";
    }
    case 2: { // a thick pen stroke that fills an area, as a marker would
        const int32_t pen = 24 + static_cast<int32_t>(random() % 24);
        double x = uniform(0, w), y = uniform(0, h);
        const double limit = kMaxShare * w * h * 0.9;
        double heading = uniform(0, kTwoPi);
        for (int segment = 0;
             segment < 5000 && static_cast<double>(drawing.count()) + pen * 20.0 < limit;
             ++segment) {
            heading += uniform(-0.6, 0.6);
            const double nx = std::clamp(x + 20 * std::cos(heading), 0.0, w - 1.0);
            const double ny = std::clamp(y + 20 * std::sin(heading), 0.0, h - 1.0);
            drawing.line(x, y, nx, ny, pen);
            x = nx, y = ny;
        }
        return "Pen";
    }
    case 3:
    case 4: { // a handwritten pen stroke
        double x = uniform(0, w), y = uniform(0, h);
        const int32_t pen = 1 + static_cast<int32_t>(random() % 3);
        const int segments = 50 + static_cast<int>(random() % 400);
        for (int s = 0; s < segments; ++s) {
            const double nx = std::clamp(x + uniform(-15, 15), 0.0, w - 1.0);
            const double ny = std::clamp(y + uniform(-15, 15), 0.0, h - 1.0);
            drawing.line(x, y, nx, ny, pen);
            x = nx, y = ny;
        }
        return "Pen";
    }
    default: { // a line of text: letters of a few strokes each in 24 x 36 cells
        const double left = uniform(0, w * 0.3), base = uniform(40, h - 10.0);
        const int letters = 20 + static_cast<int>(random() % 100);
        for (int c = 0; c < letters; ++c) {
            const double cellLeft = left + c * 26;
            for (int stroke = 0; stroke < 3; ++stroke)
                drawing.line(cellLeft + uniform(0, 22), base - uniform(0, 34),
                             cellLeft + uniform(0, 22), base - uniform(0, 34), 2);
        }
        return "Text";
    }
    }
}

} // namespace

int main()
{
    const int32_t w = kPhotoWidth, h = kPhotoHeight;
    const size_t pixels = static_cast<size_t>(w) * h;
    ScriptedPrompt prompt;
    BenchDocument doc(prompt);
    doc.keepHistory(true);
    doc.adopt(makePhotoImage(w, h));
    const size_t rawBytes = pixelBytes(doc.image());
    // Everything but the history is in place before the memory is read: the note layer, the
    // drawing mask and the large import masks.
    doc.GetNoteLayer();
    Drawing drawing(w, h);
    NoteLayer handwriting = makeNoteMask(w, h);
    NoteLayer inverted(pixels);
    std::transform(handwriting.begin(), handwriting.end(), inverted.begin(),
                   [](uint8_t note) { return static_cast<uint8_t>(note == 1 ? 0 : 1); });
    NoteLayer keep(pixels, 1);
    const long long rssBefore = statusBytes("VmRSS");

    std::mt19937 random(28);
    size_t drawn = 0;
    size_t largestDrawn = 0;
    double clearMs = 0;
    double importMs = 0;
    double drawMs = 0;
    // Five rounds of 18 drawings, an import of most of the picture, two drawings and Clear All:
    // 110 steps, of which the history keeps the last 100.
    for (int round = 0; round < 5; ++round) {
        for (int k = 0; k < 20; ++k) {
            if (k == 18) {
                const Clock::time_point start = Clock::now();
                doc.MergeNotes(round % 2 == 0 ? inverted.data() : handwriting.data());
                importMs = std::max(importMs, millisecondsSince(start));
            }
            const char* label = drawOne(drawing, random, drawn, w, h);
            largestDrawn = std::max(largestDrawn, drawing.count());
            std::vector<writer::DrawnAction> actions;
            actions.push_back({label, drawing.pixels()});
            const Clock::time_point start = Clock::now();
            if (drawn % 10 == 9) {
                // The eraser hands over what stays: everything but its stroke.
                actions.back().label = "Eraser";
                for (size_t i : drawing.pixels())
                    keep[i] = 0;
                doc.restrictDrawing(keep.data(), std::move(actions));
                for (size_t i : drawing.pixels())
                    keep[i] = 1;
            } else {
                doc.mergeDrawing(drawing.mask(), std::move(actions));
            }
            drawMs = std::max(drawMs, millisecondsSince(start));
            drawing.clear();
            ++drawn;
        }
        const Clock::time_point start = Clock::now();
        doc.ClearNotes();
        clearMs = std::max(clearMs, millisecondsSince(start));
    }
    const long long rssAfter = statusBytes("VmRSS");
    const struct mallinfo2 heap = mallinfo2();
    // What the allocator keeps after the steps' building buffers were freed, handed back.
    malloc_trim(0);
    const long long rssTrimmed = statusBytes("VmRSS");
    const writer::NoteHistory& history = doc.history();
    const size_t historyBytes = history.bytes();

    // Every step undone, then redone, three times over; each step's best time counts, as the
    // machine may be busy with other work.
    struct StepTimes {
        std::string label;
        size_t bytes = 0;
        double undo = 1e9;
        double redo = 1e9;
    };
    std::vector<StepTimes> times; // the newest step first
    for (int round = 0; round < 3; ++round) {
        for (size_t k = 0; history.toUndo(); ++k) {
            if (round == 0)
                times.push_back({history.toUndo()->label, history.toUndo()->bytes()});
            const Clock::time_point start = Clock::now();
            doc.undoStep();
            times[k].undo = std::min(times[k].undo, millisecondsSince(start));
        }
        for (size_t k = times.size(); history.toRedo(); --k) {
            const Clock::time_point start = Clock::now();
            doc.redoStep();
            times[k - 1].redo = std::min(times[k - 1].redo, millisecondsSince(start));
        }
    }
    auto largest = std::max_element(times.begin(), times.end(),
                                    [](const auto& a, const auto& b) { return a.bytes < b.bytes; });
    auto slowest = std::max_element(times.begin(), times.end(), [](const auto& a, const auto& b) {
        return std::max(a.undo, a.redo) < std::max(b.undo, b.redo);
    });
    if (times.empty()) {
        std::fprintf(stderr, "history_bench: no step was kept\n");
        return 1;
    }

    std::printf("picture              %dx%d, 24-bit, %.1f MiB raw\n", w, h,
                mib(static_cast<long long>(rawBytes)));
    std::printf("steps made / kept    %zu / %zu (largest drawing %.2f%% of the pixels)\n",
                drawn + 10, times.size(), 100.0 * static_cast<double>(largestDrawn) / pixels);
    std::printf("slowest draw / import / Clear All  %.1f / %.1f / %.1f ms\n", drawMs, importMs,
                clearMs);
    std::printf("history bytes        %.2f MiB\n", mib(static_cast<long long>(historyBytes)));
    std::printf("history / raw        %.3f (target <= 0.5)\n",
                static_cast<double>(historyBytes) / static_cast<double>(rawBytes));
    std::printf("VmRSS growth         %.2f MiB (%.3f of raw); %.2f MiB after malloc_trim\n",
                mib(rssAfter - rssBefore),
                static_cast<double>(rssAfter - rssBefore) / static_cast<double>(rawBytes),
                mib(rssTrimmed - rssBefore));
    std::printf("heap in use / free   %.2f / %.2f MiB, note layer %s\n",
                mib(static_cast<long long>(heap.uordblks)),
                mib(static_cast<long long>(heap.fordblks)),
                doc.hasNoteLayer() ? "held" : "freed by the last Clear All");
    std::printf("largest step         %s, %.2f MiB: undo %.1f ms, redo %.1f ms (target <= 50)\n",
                largest->label.c_str(), mib(static_cast<long long>(largest->bytes)), largest->undo,
                largest->redo);
    std::printf("slowest step         %s, %.2f MiB: undo %.1f ms, redo %.1f ms\n",
                slowest->label.c_str(), mib(static_cast<long long>(slowest->bytes)), slowest->undo,
                slowest->redo);
    return 0;
}
