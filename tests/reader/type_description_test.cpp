#include "reader/type_description.h"

#include "formats/format_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <utility>

namespace ombri::reader {
namespace {

// Picture formats match in any case; other known kinds only as listed. The last dot decides,
// and a name without one has no extension.
TEST(TypeDescription, ByTheLastExtensionOfTheName)
{
    const std::pair<const char*, const char*> cases[] = {
        {"photo.JPG", "JPEG Image"},
        {"photo.jpeg", "JPEG Image"},
        {"photo.Jpg", "JPEG Image"},
        {"scan.TIFF", "TIF Image"},
        {"scan.Tif", "TIF Image"},
        {"panel.CPL", "Control Panel Extension"},
        {"panel.cpl", "cpl File"},
        {"dial.Ins", "Internet Communication Settings"},
        {"clip.mpg", "Movie File (mpeg)"},
        {"archive.tar.gz", "gz File"},
        {"README", "File"},
        {"png", "File"},
        {"a.b/c", "File"},
        {"trailing.", "File"},
        {".bashrc", "bashrc File"},
        {".png", "PNG Image"},
        {"film.Dpx", "Dpx File"},
        {"web.WEBP", "WebP Image"},
        {"phone.Avif", "AVIF Image"},
        {"IMG_0001.HEIC", "HEIF Image"},
        {"b.heif", "HEIF Image"},
        {"art.jxl", "JPEG XL Image"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(TypeDescription(FileExtension(name)), expected) << name;
}

// The picture rows of the Type column are the format table's.
TEST(TypeDescription, FollowsEachFormatsRow)
{
    for (const ImageFormat* format : imageFormats()) {
        for (const auto& extension : extensionsOf(*format)) {
            std::string capital = extension;
            for (char& c : capital)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            for (const std::string& spelling : {extension, capital}) {
                const std::string expected =
                    format->typeText ? format->typeText : spelling + " File";
                EXPECT_EQ(TypeDescription(spelling), expected) << spelling;
            }
        }
    }
}

} // namespace
} // namespace ombri::reader
