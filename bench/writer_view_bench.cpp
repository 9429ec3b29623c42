// The writer's canvas repainting a 6000 x 4000 photograph at Fit In, against QPainter drawing the
// same picture, already converted, into a surface of the same size: the repaint must stay within
// 1.5x of that, so the picture is never converted again on a paint.
//
//   BM_PaintConvertedImage   QPainter alone, 6000 x 4000 RGB32 into 800 x 600
//   BM_ViewRepaintFitIn      the view's whole repaint (background rule, fit, picture, notes)
//
// The program prints the ratio after the usual table.

#include "bench/photo_image.h"
#include "bench/ratio_reporter.h"

#include "formats/bmp.h"
#include "platform/qt/dib_draw.h"
#include "platform/scripted_prompt.h"
#include "tests/support/view_events.h"
#include "writer/command_ids.h"
#include "writer/ui/writer_view.h"

#include <QApplication>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace ombri::bench {

using writer::SavableWriterDocument;
using writer::WriterView;
namespace {

constexpr int kClientWidth = 800;
constexpr int kClientHeight = 600;

struct Fixture {
    std::string folder;
    ScriptedPrompt prompt;
    std::unique_ptr<SavableWriterDocument> doc;
    std::unique_ptr<WriterView> view;
    QImage converted;
    std::string error;

    Fixture()
    {
        folder = makeTempFolder("ombri-view-bench");
        const std::string path = folder + "/photo.bmp";
        Dib photo = makePhotoImage();
        if (Status written = WriteBmpFile(path, photo); !written) {
            error = written.error();
            return;
        }
        doc = std::make_unique<SavableWriterDocument>(prompt);
        view = std::make_unique<WriterView>(*doc);
        view->resize(kClientWidth, kClientHeight);
        view->show();
        // Opened as a user opens it, by dropping the file on the view.
        test::dropFile(*view, path);
        if (!view->hasPicture()) {
            error = "cannot open the photograph";
            return;
        }
        view->onCommand(writer::cmd::FitIn);
        converted = dibToQImage(photo);
    }
    ~Fixture()
    {
        view.reset();
        removeFolder(folder);
    }
};

// Made on first use and destroyed before the application object, as widgets must be.
std::unique_ptr<Fixture> g_fixture;

Fixture& fixture()
{
    if (!g_fixture)
        g_fixture = std::make_unique<Fixture>();
    return *g_fixture;
}

void BM_PaintConvertedImage(benchmark::State& state)
{
    Fixture& f = fixture();
    QImage target(kClientWidth, kClientHeight, QImage::Format_RGB32);
    const QRect destination(0, 100, 800, 533);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.fillRect(target.rect(), QColor(128, 128, 255));
        painter.drawImage(destination, f.converted, f.converted.rect());
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_PaintConvertedImage)->Unit(benchmark::kMillisecond);

void BM_ViewRepaintFitIn(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    for (auto _ : state) {
        f.view->repaintNow();
        benchmark::DoNotOptimize(f.view->surface().image().constBits());
    }
}
BENCHMARK(BM_ViewRepaintFitIn)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ombri::bench

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    ombri::bench::RatioReporter reporter("BM_PaintConvertedImage", {{"BM_ViewRepaintFitIn", 1.5}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    ombri::bench::g_fixture.reset();
    benchmark::Shutdown();
    return 0;
}
