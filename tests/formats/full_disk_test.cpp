// Every writer meets a full disk with the system's own reason, "No space left on device", rather
// than what its library makes of a short write, and leaves the file it would replace as it was.

#include "formats/bmp.h"
#include "formats/cineon_dpx.h"
#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/sgi.h"
#include "formats/tiff.h"
#include "support/small_disk.h"
#include "support/stopped_save.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace ombri {
namespace {

using test::folderEntries;

constexpr int32_t kWidth = 400, kHeight = 300;
constexpr const char* kNoSpace = "cannot write the file: No space left on device";

// Noise, which no writer can squeeze into the few kilobytes left on the disk.
std::vector<uint8_t> noise(size_t count)
{
    std::vector<uint8_t> bytes(count);
    uint32_t state = 12345;
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

const Dib& picture()
{
    static const Dib image = [] {
        Dib dib = Dib::create(kWidth, kHeight, 24);
        const auto layout = dibGetLayout(dib);
        const auto bytes = noise(layout->pixelBytes);
        std::copy(bytes.begin(), bytes.end(), dib.data() + layout->pixelOffset);
        return dib;
    }();
    return image;
}

struct Writer {
    const char* name;
    const char* extension;
    std::function<Status(const std::string&)> write;
};

void PrintTo(const Writer& writer, std::ostream* out)
{
    *out << writer.name;
}

const Writer kWriters[] = {
    {"Bmp", "bmp", [](const std::string& path) { return WriteBmpFile(path, picture()); }},
    {"Png", "png", [](const std::string& path) { return WritePngFile(path, picture()); }},
    {"Tiff", "tif", [](const std::string& path) { return WriteTiffFile(path, picture()); }},
    {"Sgi", "rgb",
     [](const std::string& path) { return WriteSgiFile(path, picture(), SgiSignature::Omit); }},
    {"Dpx", "dpx",
     [](const std::string& path) {
         return WriteCineonDpxFile(path, FilmFormat::Dpx, picture(), nullptr, nullptr);
     }},
    {"Cineon", "cin",
     [](const std::string& path) {
         return WriteCineonDpxFile(path, FilmFormat::Cineon, picture(), nullptr, nullptr);
     }},
    {"Jpeg", "jpg", [](const std::string& path) { return WriteJpegFile(path, picture()); }},
    {"GreyPng", "png",
     [](const std::string& path) {
         static const auto grey = noise(size_t{kWidth} * kHeight);
         return writeGreyPngFile(path, grey.data(), kWidth, kHeight);
     }},
    {"TextPng", "png",
     [](const std::string& path) {
         return writePngFileWithText(path, picture(), {{"Thumb::URI", "file:///picture.png"}},
                                     0600);
     }},
};

class FullDisk : public testing::TestWithParam<Writer> {
  protected:
    // Saves over an old file in the folder: the save fails with the system's reason and the old
    // file stays, alone in its folder.
    void expectRefusedSave(const std::string& folder)
    {
        const std::string target = folder + "/picture." + GetParam().extension;
        test::writeFileBytes(target, {'o', 'l', 'd'});
        const Status saved = GetParam().write(target);
        ASSERT_FALSE(saved.ok()) << "saved on a full disk";
        EXPECT_EQ(saved.error(), kNoSpace);
        EXPECT_EQ(test::readFileBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(folderEntries(folder),
                  std::vector<std::string>{"picture." + std::string(GetParam().extension)});
    }
};

TEST_P(FullDisk, TheSaveFailsWithTheSystemsReason)
{
    test::TempDir dir;
    test::SaveSpaceLimitScope limit(4096);
    expectRefusedSave(dir.path());
}

TEST_P(FullDisk, TheSaveFailsWithTheSystemsReasonOnARealDisk)
{
    test::TempDir dir;
    test::SmallDisk disk(dir.file("disk"), 32 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    expectRefusedSave(disk.path());
}

INSTANTIATE_TEST_SUITE_P(Writers, FullDisk, testing::ValuesIn(kWriters),
                         [](const testing::TestParamInfo<Writer>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace ombri
