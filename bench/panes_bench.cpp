// The reader's file list and folder tree on large folders, each against reading the same entries
// from disk with std::filesystem alone, measured in the same run:
//
//   BM_StatFolderFiles        10,000 files: directory_iterator, then status, file_size and
//                             last_write_time of every entry
//   BM_StatFolderFilesOnce    the same with one stat() per entry, for comparison
//   BM_FileListListFolder     the file list listing that folder (FileList::ListFolder)
//   BM_FileListFirstScreen    the same, then laid out and painted once; counts the icons looked
//                             up, which must be those of the rows on show only
//   BM_StatSubfolders         2,000 folders: directory_iterator, status of every entry, and each
//                             folder opened for a first visible entry, as the tree does to decide
//                             on its expand button
//   BM_TreeExpandFolder       the folder tree expanding that folder: read from disk, one item
//                             per folder, placeholders for those with something inside
//   BM_TreeExpandFirstScreen  the same, then laid out and painted once
//
// Listing and expanding must stay within 3x of their floor. The program prints the ratios and
// the icon count after the usual table.

#include "bench/photo_image.h"

#include "platform/scripted_prompt.h"
#include "reader/reading.h"
#include "reader/ui/file_list.h"
#include "reader/ui/folder_tree.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace ombri::bench {
namespace {

namespace fs = std::filesystem;
using reader::FileList;
using reader::FolderTree;

constexpr int kListedFiles = 10000;
constexpr int kSubfolders = 2000;
// The list and tree panes of the reader's window at its first size.
constexpr int kPaneWidth = 200;
constexpr int kPaneHeight = 540;

// A folder of photographs as a camera and an editor leave them: mostly pictures, some with
// side files, sizes from nothing to a few kilobytes.
void writeListedFiles(const std::string& folder)
{
    static const char* const kExtensions[] = {"JPG", "jpg", "png", "bmp", "tif", "txt", "xmp", ""};
    for (int i = 0; i < kListedFiles; ++i) {
        char name[32];
        const char* extension = kExtensions[i % 8];
        std::snprintf(name, sizeof name, "IMG_%05d%s%s", i, *extension ? "." : "", extension);
        std::ofstream out(folder + "/" + name, std::ios::binary);
        out << std::string(static_cast<size_t>((i * 37) % 4096), 'x');
    }
}

// Every other folder holds a folder of its own, so the tree's check for an expand button both
// finds something and reads a folder to its end.
void writeSubfolders(const std::string& folder)
{
    for (int i = 0; i < kSubfolders; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Album %04d", i);
        const std::string path = folder + "/" + name;
        fs::create_directory(path);
        if (i % 2 == 0)
            fs::create_directory(path + "/Edited");
    }
}

// Runs the pending layouts and paints, as the event loop would before the user sees the pane.
void settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

struct Fixture {
    std::string folder;
    std::string filesFolder;
    std::string treeFolder;
    std::string bigFolder;
    ScriptedPrompt prompt;
    std::unique_ptr<reader::Reading> doc;
    std::unique_ptr<FileList> list;
    std::unique_ptr<FolderTree> tree;
    std::string error;

    Fixture()
    {
        folder = makeTempFolder("ombri-panes-bench");
        if (folder.empty()) {
            error = "cannot make a temporary folder";
            return;
        }
        filesFolder = folder + "/files";
        treeFolder = folder + "/tree";
        bigFolder = treeFolder + "/albums";
        std::error_code made;
        fs::create_directories(filesFolder, made);
        fs::create_directories(bigFolder, made);
        if (made) {
            error = "cannot make the test folders: " + made.message();
            return;
        }
        writeListedFiles(filesFolder);
        writeSubfolders(bigFolder);

        doc = std::make_unique<reader::Reading>(prompt);
        list = std::make_unique<FileList>(*doc);
        list->resize(kPaneWidth, kPaneHeight);
        list->show();

        tree = std::make_unique<FolderTree>(doc.get());
        tree->resize(kPaneWidth, kPaneHeight);
        tree->Initialise(treeFolder);
        tree->show();
        settle();
        if (!bigItem())
            error = "the tree does not show the large folder";
    }
    ~Fixture()
    {
        tree.reset();
        list.reset();
        doc.reset();
        if (!folder.empty())
            removeFolder(folder);
    }

    QTreeWidgetItem* bigItem() const
    {
        QTreeWidgetItem* root = tree->topLevelItem(0);
        return root && root->childCount() == 1 ? root->child(0) : nullptr;
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

bool usable(benchmark::State& state, const Fixture& f)
{
    if (f.error.empty())
        return true;
    state.SkipWithError(f.error.c_str());
    return false;
}

// --- The file list ---

void BM_StatFolderFiles(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!usable(state, f))
        return;
    for (auto _ : state) {
        uint64_t bytes = 0;
        int64_t entries = 0;
        std::error_code error;
        for (fs::directory_iterator it(f.filesFolder, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code entryError;
            const fs::file_status status = it->status(entryError);
            if (fs::is_regular_file(status))
                bytes += it->file_size(entryError);
            const auto modified = it->last_write_time(entryError);
            benchmark::DoNotOptimize(modified);
            ++entries;
        }
        benchmark::DoNotOptimize(bytes);
        if (entries != kListedFiles)
            state.SkipWithError("the folder does not hold the files written");
    }
}
BENCHMARK(BM_StatFolderFiles)->Unit(benchmark::kMillisecond);

// std::filesystem asks the system once per property; one stat() per entry is the least any
// listing with sizes and dates can do, shown for comparison.
void BM_StatFolderFilesOnce(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!usable(state, f))
        return;
    for (auto _ : state) {
        uint64_t bytes = 0;
        int64_t entries = 0;
        DIR* folder = ::opendir(f.filesFolder.c_str());
        if (!folder) {
            state.SkipWithError("cannot open the folder");
            return;
        }
        const std::string prefix = f.filesFolder + "/";
        while (const dirent* entry = ::readdir(folder)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            struct stat status;
            if (::stat((prefix + entry->d_name).c_str(), &status) == 0) {
                bytes += static_cast<uint64_t>(status.st_size);
                benchmark::DoNotOptimize(status.st_mtime);
            }
            ++entries;
        }
        ::closedir(folder);
        benchmark::DoNotOptimize(bytes);
        if (entries != kListedFiles)
            state.SkipWithError("the folder does not hold the files written");
    }
}
BENCHMARK(BM_StatFolderFilesOnce)->Unit(benchmark::kMillisecond);

void BM_FileListListFolder(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!usable(state, f))
        return;
    for (auto _ : state) {
        if (!f.list->ListFolder(f.filesFolder))
            state.SkipWithError("the list cannot read the folder");
        benchmark::DoNotOptimize(f.list->files().data());
    }
    settle();
}
BENCHMARK(BM_FileListListFolder)->Unit(benchmark::kMillisecond);

void BM_FileListFirstScreen(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!usable(state, f))
        return;
    for (auto _ : state) {
        f.list->ListFolder(f.filesFolder);
        settle();
        f.list->viewport()->repaint();
    }
    state.counters["rows"] = f.list->listModel()->rowCount();
    state.counters["icons"] = f.list->listModel()->fetchedIconCount();
}
BENCHMARK(BM_FileListFirstScreen)->Unit(benchmark::kMillisecond);

// --- The folder tree ---

void BM_StatSubfolders(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!usable(state, f))
        return;
    for (auto _ : state) {
        int64_t folders = 0;
        int64_t withChildren = 0;
        std::error_code error;
        for (fs::directory_iterator it(f.bigFolder, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code entryError;
            if (!fs::is_directory(it->status(entryError)))
                continue;
            ++folders;
            std::error_code innerError;
            for (fs::directory_iterator inner(it->path(), innerError); !innerError && inner != end;
                 inner.increment(innerError)) {
                if (inner->path().filename().string()[0] != '.') {
                    ++withChildren;
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(withChildren);
        if (folders != kSubfolders)
            state.SkipWithError("the folder does not hold the folders made");
    }
}
BENCHMARK(BM_StatSubfolders)->Unit(benchmark::kMillisecond);

// Collapsing drops the children and is not timed; each expansion reads the folder afresh.
void expandBigFolder(benchmark::State& state, Fixture& f, bool paint)
{
    QTreeWidgetItem* item = f.bigItem();
    for (auto _ : state) {
        state.PauseTiming();
        f.tree->collapseItem(item);
        if (paint)
            settle();
        state.ResumeTiming();
        f.tree->expandItem(item);
        if (paint) {
            settle();
            f.tree->viewport()->repaint();
        }
    }
    if (item->childCount() != kSubfolders)
        state.SkipWithError("the expanded folder does not show every folder");
    int placeholders = 0;
    for (int i = 0; i < item->childCount(); ++i)
        placeholders += item->child(i)->childCount();
    state.counters["items"] = item->childCount();
    state.counters["expandable"] = placeholders;
}

void BM_TreeExpandFolder(benchmark::State& state)
{
    Fixture& f = fixture();
    if (usable(state, f))
        expandBigFolder(state, f, false);
}
BENCHMARK(BM_TreeExpandFolder)->Unit(benchmark::kMillisecond);

void BM_TreeExpandFirstScreen(benchmark::State& state)
{
    Fixture& f = fixture();
    if (usable(state, f))
        expandBigFolder(state, f, true);
}
BENCHMARK(BM_TreeExpandFirstScreen)->Unit(benchmark::kMillisecond);

// The console table, then each benchmark's time as a ratio to its own floor measured in the same
// run. With --benchmark_repetitions the median stands for a benchmark.
class PaneRatioReporter : public benchmark::ConsoleReporter {
  public:
    struct Ratio {
        std::string name;
        std::string floor;
        double target; // 0: shown for comparison only
    };

    explicit PaneRatioReporter(std::vector<Ratio> ratios) : m_ratios(std::move(ratios)) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !m_medians.count(name))) {
                m_times[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
                const auto icons = run.counters.find("icons");
                const auto rows = run.counters.find("rows");
                if (icons != run.counters.end() && rows != run.counters.end())
                    m_icons = {icons->second.value, rows->second.value};
                if (median)
                    m_medians.insert(name);
            }
        }
    }

    void printRatios(int visibleRows) const
    {
        std::printf("\n");
        for (const Ratio& ratio : m_ratios) {
            const auto found = m_times.find(ratio.name);
            const auto floor = m_times.find(ratio.floor);
            if (found == m_times.end() || floor == m_times.end())
                continue;
            const double real = found->second.real / floor->second.real;
            const double cpu = found->second.cpu / floor->second.cpu;
            std::printf("  %-24s / %-22s real %5.2f  processor %5.2f", ratio.name.c_str(),
                        ratio.floor.c_str(), real, cpu);
            if (ratio.target > 0)
                std::printf("   target <= %.1f  %s", ratio.target,
                            real <= ratio.target ? "ok" : "MISSED");
            std::printf("\n");
        }
        if (m_icons.rows > 0)
            std::printf("\n  icons looked up after the first screen: %.0f of %.0f rows (%d rows "
                        "fit the pane)   %s\n",
                        m_icons.fetched, m_icons.rows, visibleRows,
                        m_icons.fetched <= visibleRows + 1 ? "ok" : "MISSED");
    }

  private:
    struct Times {
        double real;
        double cpu;
    };
    struct Icons {
        double fetched = 0;
        double rows = 0;
    };
    std::vector<Ratio> m_ratios;
    std::map<std::string, Times> m_times;
    std::set<std::string> m_medians;
    Icons m_icons;
};

// Rows that fit the list's pane, a partly shown last one included.
int visibleListRows()
{
    if (!g_fixture || !g_fixture->list || g_fixture->list->model()->rowCount() == 0)
        return 0;
    FileList& list = *g_fixture->list;
    const int rowHeight = list.visualRect(list.model()->index(0, 0)).height();
    return rowHeight > 0 ? (list.viewport()->height() + rowHeight - 1) / rowHeight : 0;
}

} // namespace
} // namespace ombri::bench

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    ombri::bench::PaneRatioReporter reporter({
        {"BM_FileListListFolder", "BM_StatFolderFiles", 3.0},
        {"BM_FileListFirstScreen", "BM_StatFolderFiles", 0},
        {"BM_FileListListFolder", "BM_StatFolderFilesOnce", 0},
        {"BM_TreeExpandFolder", "BM_StatSubfolders", 3.0},
        {"BM_TreeExpandFirstScreen", "BM_StatSubfolders", 0},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios(ombri::bench::visibleListRows());
    ombri::bench::g_fixture.reset();
    benchmark::Shutdown();
    return 0;
}
