#include "reader/type_description.h"

#include <gtest/gtest.h>

#include <utility>

namespace ombri::reader {
namespace {

// Known extensions match only in their listed spellings; the last dot decides.
TEST(TypeDescription, ByTheExactSpellingOfTheLastExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"photo.JPG", "JPEG Image"},
        {"photo.jpeg", "JPEG Image"},
        {"photo.Jpg", "Jpg File"},
        {"scan.TIFF", "TIF Image"},
        {"panel.CPL", "Control Panel Extension"},
        {"panel.cpl", "cpl File"},
        {"dial.Ins", "Internet Communication Settings"},
        {"clip.mpg", "Movie File (mpeg)"},
        {"archive.tar.gz", "gz File"},
        {"README", "File"},
        {"trailing.", "File"},
        {".bashrc", "bashrc File"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(TypeDescription(listedExtension(name)), expected) << name;
}

} // namespace
} // namespace ombri::reader
