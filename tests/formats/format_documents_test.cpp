// The documents that list the picture formats are checked against the format table the
// programs are built from, so that a format added to the table and forgotten in a manual page,
// a shell completion or a desktop file fails here, with the file and the format named.

#include "formats/format_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ombri {
namespace {

std::string readSourceFile(const std::string& relative)
{
    std::ifstream in(std::string(OMBRI_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isWordCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// Whether the word stands in the text on its own, not as a part of a longer word: "tif" is not
// found in "tiff", nor "PNG" in "PNGs".
bool hasWord(const std::string& text, const std::string& word)
{
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const bool startsAlone =
            at == 0 || !isWordCharacter(text[at - 1]) || !isWordCharacter(word.front());
        const size_t end = at + word.size();
        if (startsAlone && (end == text.size() || !isWordCharacter(text[end])))
            return true;
    }
    return false;
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> mimeTypesOf(const ImageFormat& format)
{
    std::vector<std::string> types;
    for (const char* type : format.mimeTypes) {
        if (type)
            types.emplace_back(type);
    }
    return types;
}

// What a document lacks of one format, "" when nothing.
using Check = std::string (*)(const std::string& text, const ImageFormat& format);

std::string missingWords(const std::string& text, const std::vector<std::string>& words)
{
    std::string missing;
    for (const auto& word : words) {
        if (!hasWord(text, word))
            missing += (missing.empty() ? "" : ", ") + word;
    }
    return missing;
}

// The shell completions offer the extensions in small and in capital letters.
std::string completionLacks(const std::string& text, const ImageFormat& format)
{
    std::vector<std::string> words;
    for (const auto& extension : extensionsOf(format)) {
        words.push_back(extension);
        words.push_back(upper(extension));
    }
    return missingWords(text, words);
}

// A manual page names each extension of the format with its dot.
std::string manualLacks(const std::string& text, const ImageFormat& format)
{
    std::vector<std::string> words;
    for (const auto& extension : extensionsOf(format))
        words.push_back("." + extension);
    return missingWords(text, words);
}

std::set<std::string> desktopMimeTypes(const std::string& text)
{
    std::set<std::string> types;
    const size_t line = text.find("\nMimeType=");
    if (line == std::string::npos)
        return types;
    const size_t start = line + 10;
    std::istringstream list(text.substr(start, text.find('\n', start) - start));
    for (std::string type; std::getline(list, type, ';');)
        types.insert(type);
    return types;
}

std::string desktopLacks(const std::string& text, const ImageFormat& format)
{
    const std::set<std::string> declared = desktopMimeTypes(text);
    std::string missing;
    for (const auto& type : mimeTypesOf(format)) {
        if (!declared.count(type))
            missing += (missing.empty() ? "" : ", ") + type;
    }
    return missing;
}

// The software centre's entry names the format in its description and declares its types.
std::string metainfoLacks(const std::string& text, const ImageFormat& format)
{
    std::string missing = missingWords(text, {format.name});
    for (const auto& type : mimeTypesOf(format)) {
        if (text.find("<mediatype>" + type + "</mediatype>") == std::string::npos)
            missing += (missing.empty() ? "" : ", ") + type;
    }
    return missing;
}

// The table under "## Formats": a row whose first cell names the format and whose second cell
// lists every extension.
std::string readmeLacks(const std::string& text, const ImageFormat& format)
{
    const size_t section = text.find("\n## Formats\n");
    if (section == std::string::npos)
        return "\"## Formats\" section";
    std::istringstream lines(text.substr(section + 1));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.rfind("## ", 0) != 0) {
        if (line.rfind("| ", 0) != 0)
            continue;
        const size_t second = line.find('|', 1);
        const size_t third = line.find('|', second + 1);
        if (second == std::string::npos || third == std::string::npos ||
            !hasWord(line.substr(1, second - 1), format.name))
            continue;
        return missingWords(line.substr(second + 1, third - second - 1), extensionsOf(format));
    }
    return "row in the table of formats";
}

struct Document {
    const char* path;
    Check lacks;
};

constexpr Document kDocuments[] = {
    {"resources/completion/ombri.bash", completionLacks},
    {"resources/completion/_ombri", completionLacks},
    {"resources/man/ombri.1.in", manualLacks},
    {"resources/man/ombri-reader.1.in", manualLacks},
    {"resources/man/ombri-writer.1.in", manualLacks},
    {"resources/org.ombritools.OmbriReader.desktop", desktopLacks},
    {"resources/org.ombritools.OmbriWriter.desktop", desktopLacks},
    {"resources/org.ombritools.OmbriReader.metainfo.xml.in", metainfoLacks},
    {"resources/org.ombritools.OmbriWriter.metainfo.xml.in", metainfoLacks},
    {"README.md", readmeLacks},
};

TEST(FormatDocuments, ChecksNameWhatADocumentLacks)
{
    EXPECT_EQ(completionLacks("@(png|PNG)", kPngFormat), "");
    EXPECT_EQ(completionLacks("*.tiff | *.TIFF", kTiffFormat), "tif, TIF");
    EXPECT_EQ(manualLacks(".RB ( .png ),", kPngFormat), "");
    EXPECT_EQ(manualLacks(".B .pngs", kPngFormat), ".png");
    EXPECT_EQ(manualLacks("TIFF\n.RB ( .tiff )", kTiffFormat), ".tif");
    EXPECT_EQ(desktopLacks("[Desktop Entry]\nMimeType=image/png;image/x-pcx;\n", kPcxFormat),
              "image/vnd.zbrush.pcx");
    EXPECT_EQ(metainfoLacks("PCX <mediatype>image/x-pcx</mediatype>", kPcxFormat),
              "image/vnd.zbrush.pcx");
    const std::string readme = "# A\n\n## Formats\n\n| Format | Extensions |\n|---|---|\n"
                               "| JPEG | jpg | yes |\n| SGI RGB | rgb | yes |\n\n## Next\n"
                               "| TIFF | tif, tiff |\n";
    EXPECT_EQ(readmeLacks(readme, kJpegFormat), "jpeg");
    EXPECT_EQ(readmeLacks(readme, kSgiFormat), "");
    EXPECT_EQ(readmeLacks(readme, kTiffFormat), "row in the table of formats");
}

TEST(FormatDocuments, EveryDocumentListsEveryFormatThatIsRead)
{
    for (const Document& document : kDocuments) {
        const std::string text = readSourceFile(document.path);
        ASSERT_FALSE(text.empty()) << document.path << " cannot be read";
        for (const ImageFormat* format : imageFormats()) {
            const std::string missing = document.lacks(text, *format);
            if (!missing.empty())
                ADD_FAILURE() << document.path << " misses the " << format->name << " format: no "
                              << missing;
        }
    }
}

} // namespace
} // namespace ombri
