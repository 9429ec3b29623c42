// Peak memory of opening a PNG in the writer, as a multiple of the picture's packed DIB.
// Target: at most 2.2x.
//
//   open_memory [file.png]
//
// Without a file, a child process draws the 6000 x 4000 test picture and saves it with notes,
// so that drawing it never raises this process's high-water mark; this process only opens it.

#include "bench/memory_watch.h"
#include "bench/photo_image.h"

#include "platform/scripted_prompt.h"
#include "writer/savable_writer_document.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

using namespace ombri;
using ombri::writer::SavableWriterDocument;
using namespace ombri::bench;

// Draws the test picture and saves it with notes in a child process.
bool makeCarrierInChild(const std::string& folder, std::string& carrierPath)
{
    carrierPath = folder + "/carrier.png";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return false;
    }
    if (child == 0) {
        const Dib image = bench::makePhotoImage();
        const NoteLayer mask = bench::makeNoteMask(bench::kPhotoWidth, bench::kPhotoHeight);
        std::string error;
        if (!bench::writeCarrierPng(image, mask, folder + "/photo.png", carrierPath, error)) {
            std::fprintf(stderr, "open_memory: %s\n", error.c_str());
            std::fflush(stderr);
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "open_memory: the test picture could not be made\n");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 ||
        (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))) {
        std::fprintf(stderr, "usage: %s [file.png]\n", argv[0]);
        return 2;
    }
    std::string folder;
    std::string path;
    if (argc == 2) {
        path = argv[1];
    } else {
        folder = bench::makeTempFolder("ombri-open-memory");
        if (folder.empty()) {
            std::fprintf(stderr, "open_memory: cannot create a temporary folder\n");
            return 1;
        }
        if (!makeCarrierInChild(folder, path)) {
            bench::removeFolder(folder);
            return 1;
        }
    }

    ScriptedPrompt prompt;
    SavableWriterDocument doc(prompt);
    const bool reset = resetHighWaterMark();
    const long long rssBefore = statusBytes("VmRSS");
    const long long hwmBefore = statusBytes("VmHWM");
    const long long maxRssBefore = maxRssBytes();

    const bool opened = doc.OnOpenDocument(path);

    const long long hwmAfter = statusBytes("VmHWM");
    const long long rssAfter = statusBytes("VmRSS");
    const long long maxRssAfter = maxRssBytes();
    if (!folder.empty())
        bench::removeFolder(folder);
    if (!opened) {
        std::fprintf(stderr, "open_memory: cannot open %s: %s\n", path.c_str(),
                     doc.lastOpenError().c_str());
        return 1;
    }

    // Growth of the high-water mark over the memory in use just before the open. When the mark
    // could not be reset it may already stand above that from earlier work; then only a rise of
    // the mark during the open is certain, and the figure is a lower bound.
    const long long peakIncrease =
        hwmAfter >= 0 && rssBefore >= 0 ? hwmAfter - rssBefore : maxRssAfter - maxRssBefore;
    const size_t dibBytes = doc.image().size();
    const size_t noteBytes = doc.noteLayer() ? doc.noteLayer()->size() : 0;

    std::printf("file                 %s\n", argc == 2 ? path.c_str() : "(6000x4000 test picture)");
    std::printf("picture              %dx%d, %u-bit\n", doc.width(), doc.height(),
                DibGetBitCount(doc.image()));
    std::printf("packed DIB           %.1f MiB\n", mib(static_cast<long long>(dibBytes)));
    std::printf("note layer           %.1f MiB%s\n", mib(static_cast<long long>(noteBytes)),
                noteBytes ? "" : " (no notes found)");
    std::printf("VmRSS before/after   %.1f / %.1f MiB\n", mib(rssBefore), mib(rssAfter));
    std::printf("VmHWM before/after   %.1f / %.1f MiB%s\n", mib(hwmBefore), mib(hwmAfter),
                reset ? "" : " (high-water mark not reset)");
    std::printf("ru_maxrss before/after %.1f / %.1f MiB\n", mib(maxRssBefore), mib(maxRssAfter));
    std::printf("peak increase        %.1f MiB\n", mib(peakIncrease));
    std::printf("peak / DIB           %.3f (target <= 2.2)\n",
                static_cast<double>(peakIncrease) / static_cast<double>(dibBytes));
    return 0;
}
