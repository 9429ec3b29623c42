#pragma once

// The PNG filters applied to a band of a picture's rows, before they are compressed.

#include "formats/png_idat.h"

#include <cstddef>
#include <cstdint>

namespace ombri {

// How the rows of a picture are filtered.
enum class PngFilterRule {
    // Each row by the filter whose bytes, read as signed numbers, have the smallest sum of
    // magnitudes, as libpng chooses by default.
    Adaptive,
    // Every row by Up, the difference from the row above: a picture made of blocks of flat colour
    // (pixel art, enlarged) then becomes rows of zeros that deflate takes at a glance, where the
    // adaptive rule mixes filters from row to row and loses the repeats.
    Up,
};

// The scratch filterPngRows needs for rows of this width.
size_t pngFilterScratchBytes(const PngRows& rows);

// Filters file rows [first, end) into `out`, each as a filter byte and the filtered row in the
// file's byte order (red first). Only the unfiltered row above `first` is looked at besides, so
// bands of rows can be filtered apart, at the same time. `rows` may make its rows on demand.
void filterPngRows(const PngRows& rows, uint32_t first, uint32_t end, PngFilterRule rule,
                   uint8_t* out, uint8_t* scratch);

// The filters' sums are worked out 32 bytes at a time where the processor can; false keeps them
// to 16, for the tests that hold the two to the same bytes.
void allowWidePngFilters(bool allowed);

} // namespace ombri
