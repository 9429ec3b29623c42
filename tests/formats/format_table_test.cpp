#include "formats/dispatch.h"
#include "formats/format_table.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace ombri {
namespace {

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Every spelling a user may give an extension: small, capital and mixed letters.
std::vector<std::string> spellingsOf(const std::string& extension)
{
    std::string mixed = extension;
    mixed[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed[0])));
    return {extension, upper(extension), mixed};
}

// The "*.ext" patterns of a filter entry "*.a; *.b", as extensions.
std::vector<std::string> filterExtensions(const std::string& patterns)
{
    std::vector<std::string> extensions;
    size_t at = 0;
    while ((at = patterns.find("*.", at)) != std::string::npos) {
        const size_t end = patterns.find(';', at);
        extensions.push_back(
            patterns.substr(at + 2, end == std::string::npos ? end : end - at - 2));
        at += 2;
    }
    return extensions;
}

// "Name|patterns|Name|patterns|" as pairs.
std::vector<std::pair<std::string, std::string>> filterEntries(const std::string& filter)
{
    std::vector<std::pair<std::string, std::string>> entries;
    size_t at = 0;
    while (at < filter.size()) {
        const size_t bar = filter.find('|', at);
        const size_t end = filter.find('|', bar + 1);
        if (bar == std::string::npos || end == std::string::npos)
            break;
        entries.emplace_back(filter.substr(at, bar - at), filter.substr(bar + 1, end - bar - 1));
        at = end + 1;
    }
    return entries;
}

TEST(FormatTable, EachExtensionAndNameBelongsToOneFormat)
{
    std::set<std::string> names;
    std::set<std::string> extensions;
    for (const ImageFormat* format : imageFormats()) {
        EXPECT_TRUE(names.insert(format->name).second) << format->name;
        ASSERT_FALSE(extensionsOf(*format).empty()) << format->name;
        EXPECT_NE(std::string(format->mimeTypes[0] ? format->mimeTypes[0] : "").find('/'),
                  std::string::npos)
            << format->name;
        EXPECT_NE(format->load, nullptr) << format->name;
        for (const auto& extension : extensionsOf(*format)) {
            EXPECT_TRUE(extensions.insert(extension).second) << extension;
            EXPECT_TRUE(
                std::none_of(extension.begin(), extension.end(),
                             [](char c) { return std::isupper(static_cast<unsigned char>(c)); }))
                << "extensions are listed in small letters: " << extension;
        }
    }
}

TEST(FormatTable, EveryRowDrivesTheDispatchInAnyCase)
{
    test::TempDir dir;
    for (const ImageFormat* format : imageFormats()) {
        for (const auto& extension : extensionsOf(*format)) {
            for (const auto& spelling : spellingsOf(extension)) {
                EXPECT_EQ(loadFormatForExtension(spelling), format) << spelling;
                // A missing file still goes to the format's reader, which says why it failed.
                LoadedImage loaded = LoadImageByExtension(dir.file("missing." + spelling));
                EXPECT_EQ(loaded.format, format) << spelling;
                EXPECT_TRUE(loaded.image.isNull()) << spelling;
                EXPECT_FALSE(loaded.error.empty()) << spelling;
                EXPECT_EQ(loaded.signatureRowFlag, format->notes != NoteForm::MarkerInFirstRow)
                    << spelling;
            }
        }
        EXPECT_STREQ(formatName(format), format->name);
        EXPECT_EQ(signatureFormOf(format) == SignatureForm::Planar,
                  format->notes == NoteForm::PlanarMarker)
            << format->name;
    }
    EXPECT_STREQ(formatName(nullptr), "unknown");
}

// Each format that is written reads back what it wrote, under a name in mixed letters.
TEST(FormatTable, EverySavingRowWritesWhatItsLoaderReads)
{
    test::TempDir dir;
    const Dib picture = test::makePatternImage(9, 5, 24);
    for (const ImageFormat* format : imageFormats()) {
        if (!format->save)
            continue;
        const std::string path = dir.file("picture." + spellingsOf(extensionsOf(*format)[0])[2]);
        FormatMessages messages;
        const Status written = format->save(path, SaveInput{picture, nullptr, nullptr, &messages});
        ASSERT_TRUE(written.ok()) << format->name << ": " << written.error();
        LoadedImage loaded = loadCheckedImage(path);
        ASSERT_FALSE(loaded.image.isNull()) << format->name << ": " << loaded.error;
        EXPECT_EQ(loaded.format, format);
        EXPECT_EQ(DibGetWidth(loaded.image), 9) << format->name;
        EXPECT_EQ(DibGetHeight(loaded.image), 5) << format->name;
    }
}

// Every pattern the Open dialog offers names a format that loads, and every format is offered:
// once as a pattern of "Image Files" and once in an entry of its own, before "All Files".
TEST(FileFilters, OpenOffersExactlyTheFormatsThatLoad)
{
    const auto entries = filterEntries(openFilter());
    ASSERT_EQ(entries.size(), imageFormats().size() + 2) << openFilter();
    EXPECT_EQ(entries.front().first, "Image Files");
    EXPECT_EQ(entries.back(), (std::pair<std::string, std::string>{"All Files", "*.*"}));
    std::vector<std::string> offered = filterExtensions(entries.front().second);
    std::vector<std::string> expected;
    size_t entry = 1;
    for (const ImageFormat* format : imageFormats()) {
        EXPECT_EQ(entries[entry].first, format->name);
        EXPECT_EQ(filterExtensions(entries[entry].second), extensionsOf(*format));
        ++entry;
        for (const auto& extension : extensionsOf(*format))
            expected.push_back(extension);
    }
    EXPECT_EQ(offered, expected);
    for (const auto& extension : offered)
        EXPECT_NE(loadFormatForExtension(extension), nullptr) << extension;
}

TEST(FileFilters, SaveOffersTheFormatsWrittenPngFirst)
{
    const auto any = filterEntries(saveFilter(SaveChoice::Any));
    const auto keeping = filterEntries(saveFilter(SaveChoice::KeepingNotes));
    ASSERT_FALSE(any.empty());
    ASSERT_FALSE(keeping.empty());
    // The dialogs start at the first entry, and their default extension is png.
    EXPECT_EQ(any.front().second, "*.png");
    EXPECT_EQ(keeping.front().second, "*.png");
    std::set<std::string> anyNames;
    std::set<std::string> keepingNames;
    for (const auto& [name, patterns] : any)
        anyNames.insert(name);
    for (const auto& [name, patterns] : keeping)
        keepingNames.insert(name);
    for (const ImageFormat* format : imageFormats()) {
        EXPECT_EQ(anyNames.count(format->name), format->save ? 1u : 0u) << format->name;
        EXPECT_EQ(keepingNames.count(format->name), savesNotes(*format) ? 1u : 0u) << format->name;
    }
    EXPECT_EQ(keepingNames.count("JPEG"), 0u);
    EXPECT_EQ(anyNames.count("DPX"), 1u);
    EXPECT_EQ(savableExtensionList(),
              ".png, .bmp, .tif, .tiff, .rgb, .dpx, .cin, .jpg, .jpeg, .webp");
}

} // namespace
} // namespace ombri
