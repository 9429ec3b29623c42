// The reader's image view on a 24 MP carrier in a 1920 x 1080 view: the processor time of the
// whole process for each update, from the call to the finished frame, against copying one screen
// of pixels with memcpy.

#include "bench/photo_image.h"
#include "platform/qt/screen_picture.h"
#include "platform/scripted_prompt.h"
#include "reader/command_ids.h"
#include "reader/openable_reader_document.h"
#include "reader/ui/image_view.h"

#include <QApplication>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

namespace ombri::bench {
namespace {

constexpr int kRuns = 7;
constexpr double kTargetMs = 16.0;

double processMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// A document shown a picture made in memory, as an open would show it.
class ShownDocument : public reader::OpenableReaderDocument {
  public:
    using OpenableReaderDocument::OpenableReaderDocument;
    void show(Dib picture, NoteLayer notes)
    {
        setLoadedPicture(std::move(picture), std::move(notes), SignatureFind{});
    }
};

double timed(const std::function<void()>& update)
{
    const double start = processMs();
    update();
    QApplication::processEvents();
    return processMs() - start;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double memcpyMs()
{
    std::vector<uint8_t> from(size_t{1920} * 1080 * 4, 1);
    std::vector<uint8_t> to(from.size());
    std::vector<double> runs;
    for (int run = 0; run < 51; ++run)
        runs.push_back(timed([&] { std::memcpy(to.data(), from.data(), from.size()); }));
    return median(runs);
}

void report(const char* name, double ms, double baseline)
{
    std::printf("%-28s %8.2f ms  %7.1f x memcpy  %s\n", name, ms, ms / baseline,
                ms <= kTargetMs ? "" : "(over 16 ms)");
}

} // namespace
} // namespace ombri::bench

int main(int argc, char** argv)
{
    using namespace ombri;
    using namespace ombri::bench;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // OMBRI_BENCH_NARROW=1 keeps shrinking to 128-bit lanes, for comparing with the wider ones.
    if (const char* narrow = std::getenv("OMBRI_BENCH_NARROW"); narrow != nullptr && *narrow == '1')
        ScreenPicture::allowWideLanes(false);
    ScriptedPrompt prompt;
    ShownDocument doc(prompt);
    reader::ImageView view(doc);
    view.resize(1920, 1080);
    view.show();
    QApplication::processEvents();

    Dib photo = makePhotoImage();
    NoteLayer notes = makeNoteMask(kPhotoWidth, kPhotoHeight, 0.02);
    const double shown = timed([&] {
        doc.show(std::move(photo), std::move(notes));
        view.redrawNow(reader::Background::Erase);
    });
    const double firstToggle = timed([&] { doc.toggleDisplayNotes(); });
    doc.toggleDisplayNotes();

    const double baseline = memcpyMs();
    std::printf("24 MP carrier (6000 x 4000, 2%% notes) in a 1920 x 1080 view; processor time of\n"
                "the whole process, median of %d; memcpy of one screen: %.3f ms\n",
                kRuns, baseline);
    report("picture shown", shown, baseline);
    report("first notes toggle", firstToggle, baseline);

    struct Update {
        const char* name;
        std::function<void()> prepare;
        std::function<void()> update;
    };
    const auto command = [&](int id) { return [&view, id] { view.onCommand(id); }; };
    const auto fitIn = [&] {
        if (view.inspect().zoomMode != reader::ZoomMode::FitIn)
            view.onCommand(reader::cmd::FitIn);
    };
    const auto notesShown = [&](bool show) {
        return [&doc, &view, show] {
            if (view.showNotes() != show)
                doc.toggleDisplayNotes();
        };
    };
    const std::vector<Update> updates = {
        {"notes on", notesShown(false), [&] { doc.toggleDisplayNotes(); }},
        {"notes off", notesShown(true), [&] { doc.toggleDisplayNotes(); }},
        {"quarter turn", fitIn, [&] { doc.onAdjustmentCommand(reader::cmd::RotateClockwise); }},
        {"zoom step in", fitIn, command(reader::cmd::ZoomIn)},
        {"zoom step out", fitIn, command(reader::cmd::ZoomOut)},
        {"Fit In", command(reader::cmd::ZoomIn), command(reader::cmd::FitIn)},
        {"scroll by a page",
         [&] {
             fitIn();
             view.onCommand(reader::cmd::ZoomIn);
             view.verticalScrollBar()->setValue(0);
         },
         [&] { view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd); }},
    };
    // OMBRI_BENCH_ONLY names one update to repeat OMBRI_BENCH_RUNS times, for a profiler.
    const char* only = std::getenv("OMBRI_BENCH_ONLY");
    const char* runsWanted = std::getenv("OMBRI_BENCH_RUNS");
    const int runCount = runsWanted != nullptr ? std::max(1, std::atoi(runsWanted)) : kRuns;
    for (const Update& update : updates) {
        if (only != nullptr && std::strcmp(only, update.name) != 0)
            continue;
        std::vector<double> runs;
        for (int run = 0; run < runCount + 1; ++run) {
            update.prepare();
            QApplication::processEvents();
            const double ms = timed(update.update);
            if (run > 0) // the first run settles the picture's reduced copies
                runs.push_back(ms);
        }
        report(update.name, median(runs), baseline);
    }
    return 0;
}
