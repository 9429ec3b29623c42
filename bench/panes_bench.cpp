// The reader's file list and folder tree on large folders, each against reading the same entries
// from disk with std::filesystem alone, measured in the same run:
//
//   BM_StatFolderFiles        10,000 files: directory_iterator, then status, file_size and
//                             last_write_time of every entry
//   BM_StatFolderFilesOnce    the same with one stat() per entry, for comparison
//   BM_FileListShowFolder     the file list listing that folder (FileList::showFolder)
//   BM_FileListFirstScreen    the same, then laid out and painted once; counts the icons looked
//                             up, which must be those of the rows on show only
//   BM_StatSubfolders         2,000 folders: directory_iterator, status of every entry, and each
//                             folder opened for a first visible entry, as the tree does to decide
//                             on its expand button
//   BM_TreeExpandFolder       the folder tree expanding that folder: read from disk, one item
//                             per folder, placeholders for those with something inside
//   BM_TreeExpandFirstScreen  the same, then laid out and painted once
//   BM_ListDetailsFirstScreen     10,000 small pictures listed in the reader's list pane (the
//   BM_ListThumbnailsFirstScreen  table and the grid in their stack, 400 x 700) and painted once,
//                             as details and as thumbnails; the thumbnails of the rows on show
//                             are made in the background and are not waited for, but each
//                             listing starts with the last one's answered and an empty cache
//   BM_BackgroundThumbnails/F 200 names of one 6000 x 4000 photograph (F: PNG or JPEG), each
//                             asked of the list's background reader with a normal thumbnail,
//                             into an empty cache, until every answer has come; in pictures a
//                             second
//   BM_PhotoDecode/F          one of them opened as the programs open it, on one thread
//   BM_PhotoThumbnail/F       one of them made into a thumbnail in an empty cache, on one thread
//
// Listing and expanding must stay within 3x of their floor, and the grid within 1.2x of the
// table. The program prints the ratios, the icon count and what each picture cost the background
// reader, in decodes of the whole picture, after the usual table. Thumbnails and settings go to a
// temporary folder, never to the user's.

#include "bench/photo_image.h"

#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "reader/openable_reader_document.h"
#include "reader/thumbnails.h"
#include "reader/ui/background_file_reader.h"
#include "reader/ui/file_list.h"
#include "reader/ui/folder_tree.h"
#include "reader/ui/thumbnail_grid.h"

#include <QApplication>
#include <QStackedWidget>
#include <QThread>
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::unique_ptr<reader::OpenableReaderDocument> doc;
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

        doc = std::make_unique<reader::OpenableReaderDocument>(prompt);
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

void BM_FileListShowFolder(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!usable(state, f))
        return;
    for (auto _ : state) {
        if (!f.list->showFolder(f.filesFolder))
            state.SkipWithError("the list cannot read the folder");
        benchmark::DoNotOptimize(f.list->files().data());
    }
    settle();
}
BENCHMARK(BM_FileListShowFolder)->Unit(benchmark::kMillisecond);

void BM_FileListFirstScreen(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!usable(state, f))
        return;
    for (auto _ : state) {
        f.list->showFolder(f.filesFolder);
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

// --- The list pane as details and as thumbnails ---

constexpr int kListPaneWidth = 400;
constexpr int kListPaneHeight = 700;
// Small enough that the thumbnails of a screen are made at once: what is timed is the listing.
constexpr int kSmallPictureWidth = 32;
constexpr int kSmallPictureHeight = 24;

// Where the thumbnails go while the program runs: set by main before any list is made.
std::string g_cacheRoot;

void emptyThumbnailCache()
{
    std::error_code ignored;
    fs::remove_all(g_cacheRoot, ignored);
    fs::create_directories(g_cacheRoot, ignored);
}

// The list pane as the reader's window builds it: the table and the grid in one stack.
struct ListPaneFixture {
    std::string folder;
    ScriptedPrompt prompt;
    std::unique_ptr<reader::OpenableReaderDocument> doc;
    std::unique_ptr<QStackedWidget> stack;
    FileList* list = nullptr;
    reader::ThumbnailGrid* grid = nullptr;
    int answers = 0; // of the background reader, since the last listing
    std::string error;

    ListPaneFixture()
    {
        folder = makeTempFolder("ombri-list-pane-bench");
        if (folder.empty()) {
            error = "cannot make a temporary folder";
            return;
        }
        const std::string model = folder + "/model.bmp";
        if (!WriteBmpFile(model, makePhotoImage(kSmallPictureWidth, kSmallPictureHeight))) {
            error = "cannot write the small picture";
            return;
        }
        std::error_code failed;
        const std::string files = folder + "/files";
        fs::create_directory(files, failed);
        for (int i = 0; i < kListedFiles && !failed; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/IMG_%05d.bmp", i);
            fs::copy_file(model, files + name, failed);
        }
        if (failed) {
            error = "cannot write the pictures: " + failed.message();
            return;
        }
        folder = files;

        doc = std::make_unique<reader::OpenableReaderDocument>(prompt);
        stack = std::make_unique<QStackedWidget>();
        list = new FileList(*doc, stack.get());
        grid = new reader::ThumbnailGrid(*list, stack.get());
        stack->addWidget(list);
        stack->addWidget(grid);
        stack->resize(kListPaneWidth, kListPaneHeight);
        stack->show();
        QObject::connect(&list->listModel()->backgroundReader(),
                         &reader::BackgroundFileReader::factsRead, stack.get(),
                         [this] { ++answers; });
        settle();
    }
    ~ListPaneFixture()
    {
        stack.reset();
        doc.reset();
        if (!folder.empty())
            removeFolder(fs::path(folder).parent_path().string());
    }

    // Everything asked about the last listing answered, and the cache emptied: the next listing
    // is a first visit of the folder, with no work of the last one left running.
    void quiet()
    {
        list->listModel()->backgroundReader().waitForIdle(-1);
        settle();
        emptyThumbnailCache();
        answers = 0;
    }
};

std::unique_ptr<ListPaneFixture> g_listPane;

ListPaneFixture& listPane()
{
    if (!g_listPane)
        g_listPane = std::make_unique<ListPaneFixture>();
    return *g_listPane;
}

void listFirstScreen(benchmark::State& state, bool thumbnails)
{
    ListPaneFixture& f = listPane();
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    f.list->setThumbnailMode(thumbnails);
    QAbstractItemView* view = f.list->shownView();
    for (auto _ : state) {
        state.PauseTiming();
        f.quiet();
        state.ResumeTiming();
        if (!f.list->showFolder(f.folder))
            state.SkipWithError("the list cannot read the folder");
        settle();
        view->viewport()->repaint();
    }
    f.quiet();
    state.counters["rows"] = f.list->listModel()->rowCount();
    // Rows read in the background after the last listing: those on show only.
    f.list->showFolder(f.folder);
    settle();
    view->viewport()->repaint();
    f.list->listModel()->backgroundReader().waitForIdle(-1);
    settle();
    state.counters["read"] = f.answers;
}

void BM_ListDetailsFirstScreen(benchmark::State& state)
{
    listFirstScreen(state, false);
}
BENCHMARK(BM_ListDetailsFirstScreen)->Unit(benchmark::kMillisecond);

void BM_ListThumbnailsFirstScreen(benchmark::State& state)
{
    listFirstScreen(state, true);
}
BENCHMARK(BM_ListThumbnailsFirstScreen)->Unit(benchmark::kMillisecond);

// --- Thumbnails of large photographs in the background ---

constexpr int kPhotoNames = 200;

// Processor time of every thread of the program so far.
double processSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

enum PhotoFormat { PhotoPng, PhotoJpeg };

// One photograph under many names: each name is a file of its own to the cache, and the disk
// holds the picture once.
struct PhotoFolder {
    std::string folder;
    std::vector<std::string> paths;
    std::string error;

    explicit PhotoFolder(PhotoFormat format)
    {
        folder = makeTempFolder("ombri-photo-thumbnails-bench");
        if (folder.empty()) {
            error = "cannot make a temporary folder";
            return;
        }
        const char* extension = format == PhotoPng ? "png" : "jpg";
        const std::string model = folder + "/model." + extension;
        const Dib photo = makePhotoImage();
        const bool written = format == PhotoPng ? bool(WritePngFile(model, photo))
                                                : bool(WriteJpegFile(model, photo));
        if (!written) {
            error = "cannot write the photograph";
            return;
        }
        for (int i = 0; i < kPhotoNames; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/DSC_%04d.%s", i, extension);
            paths.push_back(folder + name);
            if (::link(model.c_str(), paths.back().c_str()) != 0) {
                error = "cannot link the photograph under another name";
                return;
            }
        }
    }
    ~PhotoFolder()
    {
        if (!folder.empty())
            removeFolder(folder);
    }
};

std::map<PhotoFormat, std::unique_ptr<PhotoFolder>> g_photos;

const PhotoFolder* photoFolder(benchmark::State& state)
{
    const auto format = static_cast<PhotoFormat>(state.range(0));
    auto& photos = g_photos[format];
    if (!photos)
        photos = std::make_unique<PhotoFolder>(format);
    if (photos->error.empty())
        return photos.get();
    state.SkipWithError(photos->error.c_str());
    return nullptr;
}

void photoLabel(benchmark::State& state)
{
    state.SetLabel(state.range(0) == PhotoPng ? "PNG" : "JPEG");
}

void BM_BackgroundThumbnails(benchmark::State& state)
{
    const PhotoFolder* photos = photoFolder(state);
    if (!photos)
        return;
    photoLabel(state);
    int thumbnails = 0;
    double processorSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        emptyThumbnailCache();
        // A reader of its own each time: it remembers the notes of the files it has read.
        auto backgroundReader = std::make_unique<reader::BackgroundFileReader>();
        int answers = 0;
        thumbnails = 0;
        QObject::connect(backgroundReader.get(), &reader::BackgroundFileReader::factsRead,
                         [&](int, const reader::FileFacts& facts) {
                             ++answers;
                             thumbnails += facts.thumbnail.isNull() ? 0 : 1;
                         });
        const double processorBefore = processSeconds();
        state.ResumeTiming();
        for (int row = 0; row < kPhotoNames; ++row)
            backgroundReader->request(row, photos->paths[static_cast<size_t>(row)],
                                      reader::ThumbnailSize::Normal);
        backgroundReader->waitForIdle(-1);
        while (answers < kPhotoNames)
            QApplication::processEvents();
        state.PauseTiming();
        processorSeconds += processSeconds() - processorBefore;
        backgroundReader.reset();
        state.ResumeTiming();
    }
    if (thumbnails != kPhotoNames)
        state.SkipWithError("not every photograph has its thumbnail");
    state.counters["pictures"] =
        benchmark::Counter(kPhotoNames, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["workers"] = QThread::idealThreadCount();
    // What a picture cost every thread together: unlike the wall-clock rate, it does not depend
    // on how much of the processors other programs took meanwhile.
    state.counters["processor_ms"] = benchmark::Counter(1000 * processorSeconds / kPhotoNames,
                                                        benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_BackgroundThumbnails)
    ->Arg(PhotoPng)
    ->Arg(PhotoJpeg)
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_PhotoDecode(benchmark::State& state)
{
    const PhotoFolder* photos = photoFolder(state);
    if (!photos)
        return;
    photoLabel(state);
    for (auto _ : state) {
        LoadedImage loaded = loadCheckedImage(photos->paths.front());
        if (loaded.image.isNull())
            state.SkipWithError("the photograph cannot be opened");
        benchmark::DoNotOptimize(loaded.image.data());
    }
}
BENCHMARK(BM_PhotoDecode)
    ->Arg(PhotoPng)
    ->Arg(PhotoJpeg)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_PhotoThumbnail(benchmark::State& state)
{
    const PhotoFolder* photos = photoFolder(state);
    if (!photos)
        return;
    photoLabel(state);
    for (auto _ : state) {
        state.PauseTiming();
        emptyThumbnailCache();
        state.ResumeTiming();
        const auto made = reader::makeThumbnail(g_cacheRoot, photos->paths.front(),
                                                reader::ThumbnailSize::Normal);
        if (!made)
            state.SkipWithError("no thumbnail is made of the photograph");
    }
}
BENCHMARK(BM_PhotoThumbnail)
    ->Arg(PhotoPng)
    ->Arg(PhotoJpeg)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
            // A benchmark run with arguments is known by its name and them: "BM_Name/1".
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty())
                name += "/" + run.run_name.args;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !m_medians.count(name))) {
                m_times[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
                const auto processor = run.counters.find("processor_ms");
                if (processor != run.counters.end())
                    m_processorPerPicture[name] = processor->second.value;
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
            std::printf("  %-28s / %-25s real %5.2f  processor %5.2f", ratio.name.c_str(),
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

    // What each photograph cost the background reader, against opening it whole on one thread:
    // with every worker busy, a picture's share of the wall-clock time times the workers.
    void printPhotoCosts(int workers) const
    {
        static const char* const kFormats[] = {"PNG", "JPEG"};
        for (int format = 0; format < 2; ++format) {
            const std::string arg = "/" + std::to_string(format);
            const auto background = m_times.find("BM_BackgroundThumbnails" + arg);
            const auto decode = m_times.find("BM_PhotoDecode" + arg);
            const auto thumbnail = m_times.find("BM_PhotoThumbnail" + arg);
            if (background == m_times.end() || decode == m_times.end() ||
                thumbnail == m_times.end())
                continue;
            const double perPicture = background->second.real / kPhotoNames; // ms
            const double workerTime = perPicture * workers;
            std::printf("\n  %s 6000 x 4000, %d names, %d workers: %.2f pictures/s in the "
                        "background, %.2f/s if each cost one decode\n"
                        "    one decode %.0f ms, one thumbnail alone %.0f ms; each picture took "
                        "%.0f ms of worker time = %.2f decodes = %.2f thumbnails\n",
                        kFormats[format], kPhotoNames, workers, 1000.0 / perPicture,
                        1000.0 * workers / decode->second.real, decode->second.real,
                        thumbnail->second.real, workerTime, workerTime / decode->second.real,
                        workerTime / thumbnail->second.real);
            const auto processor = m_processorPerPicture.find("BM_BackgroundThumbnails" + arg);
            if (processor != m_processorPerPicture.end())
                std::printf("    processor time: %.0f ms a picture in the background = %.2f "
                            "decodes = %.2f thumbnails (one decode %.0f ms, one thumbnail %.0f "
                            "ms)\n",
                            processor->second, processor->second / decode->second.cpu,
                            processor->second / thumbnail->second.cpu, decode->second.cpu,
                            thumbnail->second.cpu);
        }
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
    std::map<std::string, double> m_processorPerPicture;
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
    // Thumbnails and settings stay in a folder of the run's own, never in the user's.
    const std::string home = ombri::bench::makeTempFolder("ombri-panes-bench-home");
    if (home.empty()) {
        std::fprintf(stderr, "panes_bench: cannot make a temporary folder\n");
        return 1;
    }
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    std::filesystem::create_directories(home + "/config");
    ombri::bench::g_cacheRoot = ombri::reader::thumbnailCacheRoot();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    ombri::bench::PaneRatioReporter reporter({
        {"BM_FileListShowFolder", "BM_StatFolderFiles", 3.0},
        {"BM_FileListFirstScreen", "BM_StatFolderFiles", 0},
        {"BM_FileListShowFolder", "BM_StatFolderFilesOnce", 0},
        {"BM_TreeExpandFolder", "BM_StatSubfolders", 3.0},
        {"BM_TreeExpandFirstScreen", "BM_StatSubfolders", 0},
        {"BM_ListThumbnailsFirstScreen", "BM_ListDetailsFirstScreen", 1.2},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios(ombri::bench::visibleListRows());
    reporter.printPhotoCosts(QThread::idealThreadCount());
    ombri::bench::g_listPane.reset();
    ombri::bench::g_fixture.reset();
    ombri::bench::g_photos.clear();
    ombri::bench::removeFolder(home);
    benchmark::Shutdown();
    return 0;
}
