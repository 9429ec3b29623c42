#include "support/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ombri::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ombri-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

Dib makePatternImage(int32_t width, int32_t height, uint16_t bitCount, uint32_t seed)
{
    Dib dib = Dib::create(width, height, bitCount);
    auto layout = dibGetLayout(dib);
    if (!layout)
        return dib;
    const int bytes = bitCount / 8;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = dib.data() + layout->pixelOffset + static_cast<size_t>(y) * layout->stride;
        for (int32_t i = 0; i < width * bytes; ++i) {
            uint32_t v = static_cast<uint32_t>(i) * 2654435761u ^
                         static_cast<uint32_t>(y) * 40503u ^ seed * 97u;
            row[i] = static_cast<uint8_t>((v >> 13) ^ (v >> 5));
        }
    }
    return dib;
}

NoteLayer makePatternNotes(int32_t width, int32_t height, uint32_t seed)
{
    NoteLayer notes(static_cast<size_t>(width) * static_cast<size_t>(height));
    uint32_t state = seed * 2654435761u + 1;
    for (auto& note : notes) {
        state = state * 1103515245u + 12345u;
        note = ((state >> 16) % 3) == 0 ? 1 : 0;
    }
    return notes;
}

const uint8_t* pixelAt(const Dib& dib, int32_t x, int32_t yFromTop)
{
    auto layout = dibGetLayout(dib);
    if (!layout)
        return nullptr;
    return dib.data() + layout->pixelOffset +
           static_cast<size_t>(layout->height - 1 - yFromTop) * layout->stride +
           static_cast<size_t>(x) * (layout->bitCount / 8);
}

std::vector<uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

} // namespace ombri::test
