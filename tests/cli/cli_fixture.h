#pragma once

// What the command-line tests share: running ombri in-process and a folder of pictures made for
// each test, some plain and some carrying notes.

#include "cli/commands.h"
#include "formats/bmp.h"
#include "formats/dispatch.h"
#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/savable_writer_document.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace ombri::cli::test_cli {

using writer::SavableWriterDocument;

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

inline RunResult ombri(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "ombri");
    std::vector<const char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    std::ostringstream out, err;
    RunResult result;
    result.code = run(static_cast<int>(argv.size()), argv.data(), out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}

// The "key: value" lines info prints for one picture.
inline std::map<std::string, std::string> infoKeys(const std::string& path)
{
    const RunResult result = ombri({"info", path});
    EXPECT_EQ(result.code, 0) << result.err;
    std::map<std::string, std::string> keys;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos)
            keys[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return keys;
}

inline int code(Exit exit)
{
    return static_cast<int>(exit);
}

constexpr int32_t kWidth = 47, kHeight = 33; // odd: BMP rows are padded

// A 24-bit picture, black where the note layer (bottom row first) has a note, white elsewhere.
inline Dib maskPicture(const NoteLayer& notes, int32_t width, int32_t height)
{
    Dib dib = Dib::create(width, height, 24);
    auto layout = dibGetLayout(dib);
    for (int32_t row = 0; row < height; ++row) {
        uint8_t* pixel = dib.data() + layout->pixelOffset + row * layout->stride;
        for (int32_t x = 0; x < width; ++x, pixel += 3)
            pixel[0] = pixel[1] = pixel[2] = notes[row * width + x] == 1 ? 0 : 255;
    }
    return dib;
}

// Notes under the file's marker (the first pixels of the top and bottom rows) do not survive a
// save, so the masks used for round trips leave them plain.
inline NoteLayer roundTripNotes(uint32_t seed)
{
    NoteLayer notes = test::makePatternNotes(kWidth, kHeight, seed);
    for (int32_t x = 0; x < 8; ++x)
        notes[x] = notes[(kHeight - 1) * kWidth + x] = 0;
    return notes;
}

// The notes a writer document finds in a file; empty when it finds none.
inline NoteLayer notesIn(const std::string& path)
{
    ScriptedPrompt prompt;
    SavableWriterDocument doc(prompt);
    EXPECT_TRUE(doc.OnOpenDocument(path));
    return doc.noteLayer().value_or(NoteLayer());
}

// Pictures in a fresh folder: a plain 24-bit one, masks, and copies carrying notes.
class CliFilesTest : public testing::Test {
  protected:
    std::string file(const std::string& name) const { return m_dir.file(name); }

    std::string picture(const std::string& name, const Dib& dib)
    {
        const std::string path = file(name);
        const bool png = formatOfPath(name) == &kPngFormat;
        EXPECT_TRUE(test::succeeded(png ? WritePngFile(path, dib) : WriteBmpFile(path, dib)));
        return path;
    }
    std::string plainPicture(const std::string& name)
    {
        return picture(name, test::makePatternImage(kWidth, kHeight, 24));
    }
    std::string mask(const std::string& name, const NoteLayer& notes)
    {
        return picture(name, maskPicture(notes, kWidth, kHeight));
    }
    // A copy of a plain picture carrying roundTripNotes(seed).
    std::string notedPicture(const std::string& name, uint32_t seed)
    {
        const std::string path = file(name);
        EXPECT_EQ(ombri({"embed", plainPicture("source-" + name + ".bmp"),
                         mask("mask-" + name + ".png", roundTripNotes(seed)), "-o", path})
                      .code,
                  0);
        return path;
    }

    test::TempDir m_dir;
};

} // namespace ombri::cli::test_cli
