// Counts the wrong answers of the carrier choice over photos, screenshots and documents: each
// picture made into carriers of both depths, older style (before the byte past the marker was
// made even) and current, with and without notes, then changed as other programs change them
// (an opaque alpha channel added, the alpha channel dropped). A wrong answer is a note invented
// (notes found where none were drawn, or found in the wrong byte) or lost (drawn notes not found
// exactly). Prints one line per case and the totals.
#include "bench/photo_image.h"
#include "formats/dispatch.h"
#include "notes/carrier.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <random>
#include <string>
#include <vector>

using namespace ombri;

namespace {

struct Picture {
    std::string name;
    Dib pixels;
};

uint8_t* rowFromTop(Dib& image, int32_t y)
{
    auto layout = dibGetLayout(image);
    return image.data() + layout->pixelOffset +
           layout->stride * static_cast<size_t>(layout->height - 1 - y);
}

// Black text on white with grey edges: the kind of page whose own low bits look most like notes.
Dib documentImage(int32_t width, int32_t height, uint32_t seed)
{
    Dib image = Dib::create(width, height, 24);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> edge(40, 220);
    for (int32_t y = 0; y < height; ++y)
        std::memset(rowFromTop(image, y), 255, static_cast<size_t>(width) * 3);
    for (int32_t line = 40; line + 14 < height - 40; line += 22) {
        for (int32_t x = 40; x + 9 < width - 40; x += 10) {
            if (random() % 6 == 0)
                continue;
            const int32_t tall = 8 + static_cast<int32_t>(random() % 5);
            for (int32_t y = line; y < line + tall; ++y) {
                uint8_t* row = rowFromTop(image, y);
                for (int32_t dx = 0; dx < 8; ++dx) {
                    const bool border = y == line || y == line + tall - 1 || dx == 0 || dx == 7;
                    std::memset(row + 3 * (x + dx), border ? edge(random) : 0, 3);
                }
            }
        }
    }
    return image;
}

void whiteCorner(Dib& image)
{
    auto layout = dibGetLayout(image);
    std::memset(rowFromTop(image, 0), 255, std::min<size_t>(16, layout->width) * 3);
}

std::vector<Picture> corpus()
{
    std::vector<Picture> all;
    for (uint32_t seed : {1u, 2u})
        all.push_back({"document-" + std::to_string(seed), documentImage(1700, 2200, seed)});
    all.push_back({"photo-3000x2000", bench::makePhotoImage(3000, 2000)});
    all.push_back({"photo-1200x900", bench::makePhotoImage(1200, 900)});
    all.push_back({"screens-3000x2000", bench::makeScreenshotImage(3000, 2000)});
    if (DIR* dir = opendir(OMBRI_SCREENSHOT_DIR)) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() < 4 || name.substr(name.size() - 4) != ".png")
                continue;
            LoadedImage loaded = loadCheckedImage(std::string(OMBRI_SCREENSHOT_DIR) + "/" + name);
            if (!loaded.image.isNull())
                all.push_back({name, dibConvertToBitCount(loaded.image, 24)});
        }
        closedir(dir);
    }
    const size_t plain = all.size();
    for (size_t i = 0; i < plain; ++i) {
        Picture corner{all[i].name + "+white-corner", all[i].pixels.clone()};
        whiteCorner(corner.pixels);
        all.push_back(std::move(corner));
    }
    return all;
}

enum class Style { Older, Current };
enum class Change { None, OpaqueAlphaAdded, AlphaDropped };

Dib carrier(const Dib& picture, const NoteLayer& notes, SaveDepth depth, Style style)
{
    Dib copy = MakeCarrierCopy(picture, notes, depth);
    auto layout = dibGetLayout(copy);
    uint8_t* top = rowFromTop(copy, 0);
    if (style == Style::Older)
        WriteOmbriSignature(top);
    else
        writeCarrierSignature(top, layout->width, layout->bitCount);
    return copy;
}

// What a reader finds: the notes, or none without an intact marker.
NoteLayer readNotes(const Dib& image)
{
    const SignatureFind found = findOmbriSignature(image, true, SignatureForm::Interleaved);
    if (!found.intact())
        return {};
    std::optional<NoteLayer> notes;
    ExtractNoteLayer(image, notes, found.carrier);
    return *notes;
}

struct Tally {
    int cases = 0;
    int invented = 0;
    int lost = 0;
};

} // namespace

int main()
{
    const std::vector<Picture> pictures = corpus();
    struct Row {
        const char* name;
        SaveDepth depth;
        Style style;
        Change change;
        bool notesKept; // whether the change leaves the notes in the file
    };
    const Row rows[] = {
        {"24-bit carrier", SaveDepth::Bits24, Style::Current, Change::None, true},
        {"24-bit carrier + opaque alpha", SaveDepth::Bits24, Style::Current,
         Change::OpaqueAlphaAdded, true},
        {"32-bit older", SaveDepth::Alpha32, Style::Older, Change::None, true},
        {"32-bit older, alpha dropped", SaveDepth::Alpha32, Style::Older, Change::AlphaDropped,
         false},
        {"32-bit current", SaveDepth::Alpha32, Style::Current, Change::None, true},
        {"32-bit current, alpha dropped", SaveDepth::Alpha32, Style::Current, Change::AlphaDropped,
         false},
    };
    Tally total[std::size(rows)][2];
    for (const Picture& picture : pictures) {
        auto layout = dibGetLayout(picture.pixels);
        const NoteLayer drawn = bench::makeNoteMask(layout->width, layout->height, 0.02);
        const NoteLayer none(drawn.size(), 0);
        for (size_t r = 0; r < std::size(rows); ++r) {
            for (int withNotes = 0; withNotes < 2; ++withNotes) {
                const NoteLayer& notes = withNotes ? drawn : none;
                Dib file = carrier(picture.pixels, notes, rows[r].depth, rows[r].style);
                if (rows[r].change == Change::OpaqueAlphaAdded)
                    file = dibConvertToBitCount(file, 32);
                else if (rows[r].change == Change::AlphaDropped)
                    file = dibConvertToBitCount(file, 24);
                const NoteLayer found = readNotes(file);
                const size_t foundCount = found.empty() ? 0 : countNotePixels(found);
                Tally& tally = total[r][withNotes];
                ++tally.cases;
                bool invented = false;
                bool lost = false;
                if (rows[r].notesKept) {
                    const bool bothEmpty = foundCount == 0 && countNotePixels(notes) == 0;
                    lost = !bothEmpty && found != notes;
                    invented = lost && foundCount > countNotePixels(notes);
                    lost = lost && !invented;
                } else {
                    invented = foundCount != 0;
                }
                tally.invented += invented;
                tally.lost += lost;
                if (invented || lost)
                    std::printf("%-34s %-6s %-40s %s (%zu found, %zu drawn)\n", rows[r].name,
                                withNotes ? "notes" : "empty", picture.name.c_str(),
                                invented ? "INVENTED" : "LOST", foundCount, countNotePixels(notes));
            }
        }
    }
    std::printf("\n%-34s %-6s %6s %9s %5s\n", "carrier, change", "notes", "cases", "invented",
                "lost");
    for (size_t r = 0; r < std::size(rows); ++r)
        for (int withNotes = 0; withNotes < 2; ++withNotes)
            std::printf("%-34s %-6s %6d %9d %5d\n", rows[r].name, withNotes ? "2%" : "none",
                        total[r][withNotes].cases, total[r][withNotes].invented,
                        total[r][withNotes].lost);
    return 0;
}
