#include "formats/cineon_dpx.h"
#include "fuzz_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    ombri::fuzz::limitImageSize();
    return 0;
}

namespace {

// The picture, the note layer and the kept words must all describe the same width x height.
void checkFilm(const ombri::FilmImage& film)
{
    auto layout = ombri::dibGetLayout(film.image);
    if (!layout || layout->bitCount != 24)
        std::abort();
    const size_t pixels = static_cast<size_t>(layout->width) * static_cast<size_t>(layout->height);
    if (film.notes.size() != pixels || film.pixelWords.size() != pixels)
        std::abort();
    ombri::fuzz::touchEveryByte(film.image);
    uint32_t sum = 0;
    for (size_t i = 0; i < pixels; ++i)
        sum += film.notes[i] + film.pixelWords[i];
    volatile uint32_t sink = sum;
    (void)sink;
}

} // namespace

// The two kinds share the word decoding but not the header: every input is tried as both.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (auto format : {ombri::FilmFormat::Dpx, ombri::FilmFormat::Cineon}) {
        auto film = ombri::readCineonDpxBytes({data, size}, format);
        if (film.ok())
            checkFilm(film.value());
    }
    return 0;
}
