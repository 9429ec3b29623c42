// Peak memory of the ombri commands that save, on a 6000 x 4000 photograph, as a multiple of the
// raw picture they write (width x height x bytes per pixel of the output; embed's mask adds one
// byte per pixel). Bound: at most 2.2x for every command. Then the writer's save of the carrier
// at both depths: what the save adds to the open document's memory, against the raw picture.
// Bound: at most 1.5x.
//
//   command_memory [path/to/ombri] [--keep=FOLDER]
//
// Without a path, the ombri next to this program's folder (build/ombri) is run. Each command
// runs in its own process, so its peak is the kernel's high-water mark of that process alone.
// --keep writes the inputs and every output to FOLDER and leaves them there, so that the outputs
// of two builds can be compared byte for byte.

#include "bench/memory_watch.h"
#include "bench/photo_image.h"

#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "writer/savable_writer_document.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace ombri;
using namespace ombri::bench;

constexpr double kBound = 2.2;

struct Run {
    const char* label;
    std::vector<std::string> arguments; // after the program's name; {in} and {out} are filled in
    int outputBytesPerPixel;
    bool withMask;
};

// The photograph plainly, the same with notes as the writer saves it, and a grey mask whose
// black pixels become notes (which rows they fall on does not matter to the memory).
bool makeInputs(const std::string& folder, std::string& error)
{
    const Dib image = makePhotoImage();
    const NoteLayer notes = makeNoteMask(kPhotoWidth, kPhotoHeight);
    if (!writeCarrierPng(image, notes, folder + "/photo.png", folder + "/carrier.png", error))
        return false;
    std::vector<uint8_t> grey(notes.size());
    for (size_t i = 0; i < notes.size(); ++i)
        grey[i] = notes[i] ? 0 : 255;
    Status written = writeGreyPngFile(folder + "/mask.png", grey.data(), kPhotoWidth, kPhotoHeight);
    if (!written)
        error = written.error();
    return static_cast<bool>(written);
}

// Runs the command in a child and answers its peak resident memory in bytes, -1 on failure.
long long peakOfCommand(const std::string& ombri, const std::vector<std::string>& arguments)
{
    std::vector<const char*> argv{ombri.c_str()};
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        execv(ombri.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<long long>(usage.ru_maxrss) * 1024;
}

std::vector<Run> commandRuns(const std::string& in, const std::string& carrier,
                             const std::string& mask, const std::string& out)
{
    std::vector<Run> runs;
    for (const char* depth : {"32", "24"}) {
        const int bytes = depth[0] == '3' ? 4 : 3;
        const std::string tag = std::string("-") + depth + ".png";
        runs.push_back({"embed",
                        {"embed", in, mask, "-o", out + "embed" + tag, "--depth", depth},
                        bytes,
                        true});
        runs.push_back({"convert",
                        {"convert", carrier, out + "convert" + tag, "--depth", depth},
                        bytes,
                        false});
        runs.push_back({"clear",
                        {"clear", carrier, "-o", out + "clear" + tag, "--depth", depth},
                        bytes,
                        false});
        runs.push_back({"repair",
                        {"repair", carrier, "-o", out + "repair" + tag, "--depth", depth},
                        bytes,
                        false});
    }
    runs.push_back({"render", {"render", carrier, "-o", out + "render.png"}, 3, false});
    return runs;
}

constexpr double kSaveBound = 1.5;

// In a child, so that nothing before it counts: opens the carrier in the writer and saves it at
// the depth; prints the memory the save added beyond the open document. False when it failed or
// went over.
bool writerSaveWithin(const std::string& carrier, const std::string& out, SaveDepth depth)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ScriptedPrompt prompt;
        writer::SavableWriterDocument doc(prompt);
        if (!doc.OnOpenDocument(carrier))
            _exit(2);
        doc.setSaveDepth(depth);
        const long long before = statusBytes("VmRSS");
        if (!resetHighWaterMark())
            _exit(3);
        if (doc.SaveImageByExtension(out) != writer::SavableWriterDocument::SaveOutcome::Saved)
            _exit(4);
        const long long added = statusBytes("VmHWM") - before;
        const int bytes = depth == SaveDepth::Alpha32 ? 4 : 3;
        const double raw = static_cast<double>(kPhotoWidth) * kPhotoHeight * bytes;
        const double ratio = static_cast<double>(added) / raw;
        std::printf("%-8s %-6d %10.1f %10.1f %6.2fx%s  (beyond the open document)\n", "save",
                    bytes * 8, mib(added), mib(static_cast<long long>(raw)), ratio,
                    ratio <= kSaveBound ? "" : "  over");
        std::fflush(nullptr);
        _exit(ratio <= kSaveBound ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string defaultOmbri(const char* self)
{
    std::string path = self;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    return folder + "/../ombri";
}

} // namespace

int main(int argc, char** argv)
{
    std::string ombri = defaultOmbri(argv[0]);
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--keep=", 7) == 0)
            keep = argv[i] + 7;
        else if (argv[i][0] != '-')
            ombri = argv[i];
        else {
            std::fprintf(stderr, "usage: %s [path/to/ombri] [--keep=FOLDER]\n", argv[0]);
            return 2;
        }
    }
    const std::string folder = keep.empty() ? makeTempFolder("ombri-command-memory") : keep;
    if (folder.empty() ||
        (!keep.empty() && ::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)) {
        std::fprintf(stderr, "command_memory: cannot create a folder for the pictures\n");
        return 1;
    }
    std::string error;
    if (!makeInputs(folder, error)) {
        std::fprintf(stderr, "command_memory: %s\n", error.c_str());
        return 1;
    }
    const double pixels = static_cast<double>(kPhotoWidth) * kPhotoHeight;
    bool kept = true;
    std::printf("%-8s %-6s %10s %10s %7s\n", "command", "depth", "peak MiB", "raw MiB", "ratio");
    for (const Run& run : commandRuns(folder + "/photo.png", folder + "/carrier.png",
                                      folder + "/mask.png", folder + "/out-")) {
        const long long peak = peakOfCommand(ombri, run.arguments);
        const double raw = pixels * (run.outputBytesPerPixel + (run.withMask ? 1 : 0));
        const double ratio = static_cast<double>(peak) / raw;
        const bool within = peak >= 0 && ratio <= kBound;
        kept = kept && within;
        const std::string depth = run.arguments.size() > 4 ? run.arguments.back() : "-";
        if (peak < 0)
            std::printf("%-8s %-6s    failed\n", run.label, depth.c_str());
        else
            std::printf("%-8s %-6s %10.1f %10.1f %6.2fx%s\n", run.label, depth.c_str(), mib(peak),
                        mib(static_cast<long long>(raw)), ratio, within ? "" : "  over");
    }
    for (const SaveDepth depth : {SaveDepth::Alpha32, SaveDepth::Bits24})
        kept = writerSaveWithin(
                   folder + "/carrier.png",
                   folder + (depth == SaveDepth::Alpha32 ? "/saved-32.png" : "/saved-24.png"),
                   depth) &&
               kept;
    if (keep.empty())
        removeFolder(folder);
    std::printf("bound: %.1fx for every command, %.1fx for the writer's save\n", kBound,
                kSaveBound);
    return kept ? 0 : 1;
}
