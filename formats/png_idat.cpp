#include "formats/png_idat.h"

#include "formats/deflate_blocks.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <vector>

// Each row gets the filter whose bytes, read as signed numbers, have the smallest sum of
// magnitudes, as libpng chooses. Judging the best two by the entropy of their bytes instead
// changed the file by less than 0.2% on screenshots and not at all on photographs, for a sixth
// more filtering time, so the plain sum stays.
//
// The compressor is chosen per picture from a sample of its filtered rows (chooseCompressor),
// held against zlib at level 6 with its filtered strategy, which is what libpng's file holds.
// libdeflate is the fast one, and at level 7 it makes most screenshots, documents and flat
// graphics 3-10% smaller than that. On some it loses (dark windows full of thumbnails, a web page
// with photographs, pixel art with notes: 1-7% larger) and no level of libdeflate fast enough to
// be worth it wins that back (level 9 is slower than zlib there), so they are compressed by zlib
// itself, in parts on the cores, each with the rows before it as its dictionary: libpng's size
// or a little less, in half its time on two cores. On noisy pictures (photographs, scans)
// libdeflate is 1.5-5% larger: it is taken at level 6 when under 1.8% (their files may be 2%
// larger), and zlib at level 4 otherwise, which is as small as libpng's level 6 in half its time.

namespace ombri {

namespace {

// Rows are filtered in bands, and the filtered rows compressed in parts, of at least this many
// bytes, one a core: less is not worth a thread.
constexpr size_t kBytesPerPart = size_t{4} << 20;

unsigned partsFor(uint64_t bytes)
{
    const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    return static_cast<unsigned>(
        std::min<uint64_t>(cores, std::max<uint64_t>(1, bytes / kBytesPerPart)));
}

// Runs job(0) .. job(count - 1), each on its own thread but the first, which runs here; jobs
// whose thread cannot be had run here too.
template <typename Job> void runOnThreads(unsigned count, Job job)
{
    std::vector<std::thread> threads;
    unsigned started = 1;
    try {
        for (; started < count; ++started)
            threads.emplace_back(job, started);
    } catch (const std::system_error&) {
        for (unsigned i = started; i < count; ++i)
            job(i);
    }
    job(0);
    for (std::thread& thread : threads)
        thread.join();
}

enum Filter : uint8_t { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };
constexpr int kFilterCount = 5;

// The magnitude of a filtered byte read as a signed number: small when the filter predicted it
// well. Their sum over a row is how libpng judges filters.
inline unsigned magnitude(uint8_t byte)
{
    const int value = static_cast<int8_t>(byte);
    return static_cast<unsigned>(value < 0 ? -value : value);
}

// One loop per filter, each free of branches per byte so that the compiler can run it on
// vectors, each also answering the sum of the magnitudes of what it wrote. `above` is all zero
// for the first row, which makes the filters the ones the PNG standard gives it.
[[gnu::always_inline]] inline uint64_t sumOfMagnitudes(const uint8_t* bytes, size_t count)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += magnitude(bytes[i]);
    return sum;
}

template <int Bpp>
[[gnu::always_inline]] inline uint64_t filterSub(const uint8_t* row, size_t count, uint8_t* out)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < Bpp; ++i) {
        out[i] = row[i];
        sum += magnitude(out[i]);
    }
    for (size_t i = Bpp; i < count; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - row[i - Bpp]);
        sum += magnitude(out[i]);
    }
    return sum;
}

[[gnu::always_inline]] inline uint64_t filterUp(const uint8_t* row, const uint8_t* above,
                                                size_t count, uint8_t* out)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - above[i]);
        sum += magnitude(out[i]);
    }
    return sum;
}

template <int Bpp>
[[gnu::always_inline]] inline uint64_t filterAverage(const uint8_t* row, const uint8_t* above,
                                                     size_t count, uint8_t* out)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < Bpp; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - (above[i] >> 1));
        sum += magnitude(out[i]);
    }
    for (size_t i = Bpp; i < count; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - ((row[i - Bpp] + above[i]) >> 1));
        sum += magnitude(out[i]);
    }
    return sum;
}

template <int Bpp>
[[gnu::always_inline]] inline uint64_t filterPaeth(const uint8_t* row, const uint8_t* above,
                                                   size_t count, uint8_t* out)
{
    uint64_t sum = 0;
    // Left of the first pixel, a and c are zero, and the predictor is always the byte above.
    for (size_t i = 0; i < Bpp; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - above[i]);
        sum += magnitude(out[i]);
    }
    // In 16 bits, which hold every difference here, so that eight bytes go through at once.
    for (size_t i = Bpp; i < count; ++i) {
        const int16_t a = row[i - Bpp];
        const int16_t b = above[i];
        const int16_t c = above[i - Bpp];
        const int16_t bc = static_cast<int16_t>(b - c);
        const int16_t ac = static_cast<int16_t>(a - c);
        const int16_t pa = bc < 0 ? static_cast<int16_t>(-bc) : bc;
        const int16_t pb = ac < 0 ? static_cast<int16_t>(-ac) : ac;
        const int16_t abc = static_cast<int16_t>(ac + bc);
        const int16_t pc = abc < 0 ? static_cast<int16_t>(-abc) : abc;
        const int16_t ab = pb < pa ? b : a;
        const int16_t best = pa <= pb ? pa : pb;
        out[i] = static_cast<uint8_t>(row[i] - (pc < best ? c : ab));
        sum += magnitude(out[i]);
    }
    return sum;
}

// Puts a filtered row into the file's byte order: red first. The filters look only at the same
// byte of neighbouring pixels, so filtering blue-first rows and turning the result gives the
// bytes that filtering red-first rows would, with one turn per row instead of one per candidate.
template <int Bpp>
[[gnu::always_inline]] inline void turnToRedFirst(const uint8_t* row, size_t count, uint8_t* out)
{
    for (size_t i = 0; i < count; i += Bpp) {
        out[i] = row[i + 2];
        out[i + 1] = row[i + 1];
        out[i + 2] = row[i];
        if constexpr (Bpp == 4)
            out[i + 3] = row[i + 3];
    }
}

// Filters rows [first, end) into `out`, one filter byte before each. Rows need only the
// unfiltered row above them, so bands of rows can be filtered at the same time.
template <int Bpp>
[[gnu::always_inline]] inline void filterRows(const PngRows& rows, uint32_t first, uint32_t end,
                                              uint8_t* out, uint8_t* scratch)
{
    const size_t count = static_cast<size_t>(rows.width) * Bpp;
    // The scratch holds a row of zeros (the row above the first), then the four filtered rows.
    const uint8_t* zeros = scratch;
    const uint8_t* candidate[kFilterCount];
    uint8_t* filtered[kFilterCount] = {};
    for (int f = Sub; f < kFilterCount; ++f)
        candidate[f] = filtered[f] = scratch + f * count;

    const uint8_t* row = rows.firstRow + static_cast<std::ptrdiff_t>(first) * rows.step;
    const uint8_t* above = first == 0 ? zeros : row - rows.step;
    out += static_cast<size_t>(first) * (1 + count);
    for (uint32_t y = first; y < end; ++y, above = row, row += rows.step) {
        candidate[None] = row;
        const uint64_t sums[kFilterCount] = {
            sumOfMagnitudes(row, count), filterSub<Bpp>(row, count, filtered[Sub]),
            filterUp(row, above, count, filtered[Up]),
            filterAverage<Bpp>(row, above, count, filtered[Average]),
            filterPaeth<Bpp>(row, above, count, filtered[Paeth])};
        int best = 0;
        for (int f = 1; f < kFilterCount; ++f)
            if (sums[f] < sums[best])
                best = f;

        *out++ = static_cast<uint8_t>(best);
        turnToRedFirst<Bpp>(candidate[best], count, out);
        out += count;
    }
}

// The filter loops are made twice where the processor may have AVX2, which runs them on vectors
// twice as wide, and the one the processor has is chosen when the program starts. Not under
// ThreadSanitizer: gcc instruments the function that makes that choice, and the loader runs it
// before the sanitizer's runtime is ready, so the program would crash before main.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define OMBRI_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define OMBRI_VECTOR_CLONES
#endif

OMBRI_VECTOR_CLONES void filterRgbRows(const PngRows& rows, uint32_t first, uint32_t end,
                                       uint8_t* out, uint8_t* scratch)
{
    filterRows<3>(rows, first, end, out, scratch);
}

OMBRI_VECTOR_CLONES void filterRgbaRows(const PngRows& rows, uint32_t first, uint32_t end,
                                        uint8_t* out, uint8_t* scratch)
{
    filterRows<4>(rows, first, end, out, scratch);
}

// Filters all rows, in bands on the machine's cores.
void filterImage(const PngRows& rows, uint8_t* out)
{
    const size_t count = static_cast<size_t>(rows.width) * rows.channels;
    const unsigned bands = partsFor(uint64_t{count} * rows.height);
    auto bandStart = [&](unsigned b) {
        return static_cast<uint32_t>(uint64_t{rows.height} * b / bands);
    };
    // Every band's scratch is had before any thread starts, so that running out of memory is
    // met here and not inside a thread.
    std::vector<std::vector<uint8_t>> scratch(bands, std::vector<uint8_t>(kFilterCount * count));
    runOnThreads(bands, [&](unsigned b) {
        if (rows.channels == 3)
            filterRgbRows(rows, bandStart(b), bandStart(b + 1), out, scratch[b].data());
        else
            filterRgbaRows(rows, bandStart(b), bandStart(b + 1), out, scratch[b].data());
    });
}

// Tens of megabytes written once: mapped on their own and in huge pages where the system gives
// them, which spares the save most of its page faults. Null when memory runs out.
std::unique_ptr<uint8_t, PngUnmap> mapLarge(size_t size)
{
    constexpr size_t kHugePage = size_t{2} << 20;
    const size_t mapped = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* bytes =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (bytes == MAP_FAILED)
        return {nullptr, PngUnmap{}};
    ::madvise(bytes, mapped, MADV_HUGEPAGE);
    return {static_cast<uint8_t*>(bytes), PngUnmap{mapped}};
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const
    {
        libdeflate_free_compressor(compressor);
    }
};

} // namespace

void PngUnmap::operator()(uint8_t* bytes) const
{
    if (bytes)
        ::munmap(bytes, mappedSize);
}

void PngImageData::append(const uint8_t* bytes, size_t count)
{
    if (count == 0)
        return;
    spans.push_back({bytes, count});
    size += count;
}

void PngImageData::appendJoin(std::vector<uint8_t> bytes)
{
    joins.push_back(std::move(bytes));
    append(joins.back().data(), joins.back().size());
}

PngImageData zlibCompressInParts(const uint8_t* bytes, size_t size, int level, unsigned parts)
{
    PngImageData data;
    parts = static_cast<unsigned>(std::clamp<size_t>(size, 1, std::max(1u, parts)));
    std::vector<std::unique_ptr<libdeflate_compressor, CompressorDeleter>> compressors;
    for (unsigned i = 0; i < parts; ++i) {
        compressors.emplace_back(libdeflate_alloc_compressor(level));
        if (!compressors.back())
            return data;
    }
    if (parts == 1) {
        // Space for the worst case; the pages past what deflate writes are never touched, so
        // they cost address space only.
        const size_t bound = libdeflate_zlib_compress_bound(compressors[0].get(), size);
        auto buffer = mapLarge(bound);
        if (!buffer)
            return data;
        const size_t written =
            libdeflate_zlib_compress(compressors[0].get(), bytes, size, buffer.get(), bound);
        data.append(buffer.get(), written);
        data.buffers.push_back(std::move(buffer));
        return data;
    }

    // Each part is compressed on its own core as a raw deflate stream. Deflate streams join:
    // every part but the last has its final block made an ordinary one and is followed by an
    // empty stored block, which brings the next part to a whole byte, as a sync flush does. The
    // parts lose only the matches that would have reached back across a seam.
    struct Part {
        const uint8_t* input = nullptr;
        size_t inputSize = 0;
        std::unique_ptr<uint8_t, PngUnmap> output;
        size_t bound = 0;
        size_t outputSize = 0;
        DeflateEnd end;
        bool ok = false;
    };
    std::vector<Part> pieces(parts);
    for (unsigned i = 0; i < parts; ++i) {
        Part& part = pieces[i];
        const size_t first = size * i / parts;
        part.input = bytes + first;
        part.inputSize = size * (i + 1) / parts - first;
        part.bound = libdeflate_deflate_compress_bound(compressors[i].get(), part.inputSize);
        part.output = mapLarge(part.bound);
        if (!part.output)
            return data;
    }
    auto compressPart = [&](unsigned i) {
        Part& part = pieces[i];
        part.outputSize = libdeflate_deflate_compress(
            compressors[i].get(), part.input, part.inputSize, part.output.get(), part.bound);
        if (part.outputSize == 0)
            return;
        const auto end = findDeflateEnd(part.output.get(), part.outputSize);
        part.ok = end && (end->endBit + 7) / 8 == part.outputSize;
        if (part.ok)
            part.end = *end;
    };
    runOnThreads(parts, compressPart);
    for (const Part& part : pieces)
        if (!part.ok)
            return zlibCompressInParts(bytes, size, level, 1);

    data.appendJoin({0x78, 0x9C}); // deflate with a 32 KiB window, default level, no dictionary
    for (unsigned i = 0; i < parts; ++i) {
        Part& part = pieces[i];
        uint8_t* stream = part.output.get();
        if (i + 1 == parts) {
            data.append(stream, part.outputSize);
            data.buffers.push_back(std::move(part.output));
            break;
        }
        const uint64_t finalBit = part.end.finalBlockBit;
        stream[finalBit / 8] &= static_cast<uint8_t>(~(1u << (finalBit % 8)));
        const size_t whole = static_cast<size_t>(part.end.endBit / 8);
        const unsigned rest = static_cast<unsigned>(part.end.endBit % 8);
        data.append(stream, whole);
        data.buffers.push_back(std::move(part.output));
        // The stored block's three header bits (not final, type 0) are zeros, and so is the
        // padding to the byte; when they do not fit beside the last bits, they take a byte more.
        std::vector<uint8_t> join;
        join.push_back(rest == 0 ? 0 : static_cast<uint8_t>(stream[whole] & ((1u << rest) - 1)));
        if (rest > 5)
            join.push_back(0);
        join.insert(join.end(), {0x00, 0x00, 0xFF, 0xFF});
        data.appendJoin(std::move(join));
    }
    const uint32_t adler = libdeflate_adler32(1, bytes, size);
    data.appendJoin({static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                     static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)});
    return data;
}

PngImageData zlibDeflateInParts(const uint8_t* bytes, size_t size, int level, unsigned parts)
{
    PngImageData data;
    parts = static_cast<unsigned>(std::clamp<size_t>(size, 1, std::max(1u, parts)));
    // Each part starts from the 32 KiB of rows before it as its dictionary, so it finds the
    // matches a single stream would, and ends with a sync flush (an empty stored block), so the
    // raw streams follow each other as one; the last one ends the stream.
    struct Part {
        const uint8_t* input = nullptr;
        size_t inputSize = 0;
        std::unique_ptr<uint8_t, PngUnmap> output;
        size_t bound = 0;
        size_t outputSize = 0;
        bool ok = false;
    };
    std::vector<Part> pieces(parts);
    for (unsigned i = 0; i < parts; ++i) {
        Part& part = pieces[i];
        const size_t first = size * i / parts;
        part.input = bytes + first;
        part.inputSize = size * (i + 1) / parts - first;
        // compressBound covers a whole zlib stream; the flush marker and header room fit in it.
        part.bound = ::compressBound(static_cast<uLong>(part.inputSize)) + 16;
        part.output = mapLarge(part.bound);
        if (!part.output)
            return data;
    }
    runOnThreads(parts, [&](unsigned i) {
        Part& part = pieces[i];
        z_stream stream{};
        if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK)
            return;
        const size_t before = static_cast<size_t>(part.input - bytes);
        const size_t dictionary = std::min<size_t>(before, 32768);
        bool ok = dictionary == 0 || deflateSetDictionary(&stream, part.input - dictionary,
                                                          static_cast<uInt>(dictionary)) == Z_OK;
        stream.next_out = part.output.get();
        stream.avail_out = static_cast<uInt>(std::min<size_t>(part.bound, UINT32_MAX));
        // zlib counts its input in 32-bit lengths: large parts go in by pieces.
        const uint8_t* next = part.input;
        size_t left = part.inputSize;
        const int finish = i + 1 == parts ? Z_FINISH : Z_SYNC_FLUSH;
        while (ok) {
            const size_t chunk = std::min<size_t>(left, size_t{1} << 30);
            stream.next_in = const_cast<uint8_t*>(next); // zlib only reads it
            stream.avail_in = static_cast<uInt>(chunk);
            next += chunk;
            left -= chunk;
            const int result = deflate(&stream, left == 0 ? finish : Z_NO_FLUSH);
            ok = result == (left == 0 && finish == Z_FINISH ? Z_STREAM_END : Z_OK) &&
                 stream.avail_in == 0;
            if (left == 0)
                break;
        }
        part.outputSize = stream.total_out;
        part.ok = ok;
        deflateEnd(&stream);
    });
    for (const Part& part : pieces)
        if (!part.ok)
            return data;

    data.appendJoin({0x78, 0x9C});
    for (Part& part : pieces) {
        data.append(part.output.get(), part.outputSize);
        data.buffers.push_back(std::move(part.output));
    }
    const uint32_t adler = libdeflate_adler32(1, bytes, size);
    data.appendJoin({static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                     static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)});
    return data;
}

namespace {

// The sample a compressor is chosen by: slices spread evenly over the filtered rows, together
// about a twenty-fourth of them, or all of a small picture.
constexpr unsigned kSampleSlices = 12;
constexpr size_t kSmallestSlice = size_t{128} << 10;

// A compressor and its level: zlib with its filtered strategy (short matches left as literals),
// as libpng compresses, or libdeflate.
struct Compressor {
    bool zlib = false;
    int level = 7;
};

size_t compressedSize(Compressor compressor, const uint8_t* bytes, size_t size,
                      std::vector<uint8_t>& scratch)
{
    if (compressor.zlib) {
        z_stream stream{};
        if (deflateInit2(&stream, compressor.level, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK)
            return SIZE_MAX;
        scratch.resize(deflateBound(&stream, static_cast<uLong>(size)));
        stream.next_in = const_cast<uint8_t*>(bytes); // zlib only reads it
        stream.avail_in = static_cast<uInt>(size);
        stream.next_out = scratch.data();
        stream.avail_out = static_cast<uInt>(scratch.size());
        const bool ok = deflate(&stream, Z_FINISH) == Z_STREAM_END;
        const size_t written = stream.total_out;
        deflateEnd(&stream);
        return ok ? written : SIZE_MAX;
    }
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> made(
        libdeflate_alloc_compressor(compressor.level));
    if (!made)
        return SIZE_MAX;
    scratch.resize(libdeflate_deflate_compress_bound(made.get(), size));
    const size_t written =
        libdeflate_deflate_compress(made.get(), bytes, size, scratch.data(), scratch.size());
    return written ? written : SIZE_MAX;
}

class Sample {
  public:
    Sample(const uint8_t* bytes, size_t size)
        : m_bytes(bytes), m_size(size),
          m_slice(std::max(kSmallestSlice, size / (kSampleSlices * 24))),
          m_slices(size <= m_slice * kSampleSlices ? 1 : kSampleSlices)
    {
        if (m_slices == 1)
            m_slice = size;
    }

    size_t bytes() const { return m_slice * m_slices; }

    // The sample's size under each compressor, its slices compressed on the cores; SIZE_MAX for
    // one that failed.
    std::vector<size_t> sizes(const std::vector<Compressor>& compressors) const
    {
        std::vector<std::vector<size_t>> got(m_slices, std::vector<size_t>(compressors.size()));
        std::vector<std::vector<uint8_t>> scratch(m_slices);
        runOnThreads(m_slices, [&](unsigned i) {
            // Centred in the i-th of equal stretches, away from the picture's edges.
            const size_t first =
                m_slices == 1 ? 0 : m_size * (2 * i + 1) / (2 * m_slices) - m_slice / 2;
            for (size_t c = 0; c < compressors.size(); ++c)
                got[i][c] = compressedSize(compressors[c], m_bytes + first, m_slice, scratch[i]);
        });
        std::vector<size_t> total(compressors.size(), 0);
        for (const auto& slice : got)
            for (size_t c = 0; c < compressors.size(); ++c)
                total[c] =
                    slice[c] == SIZE_MAX || total[c] == SIZE_MAX ? SIZE_MAX : total[c] + slice[c];
        return total;
    }

  private:
    const uint8_t* m_bytes;
    size_t m_size;
    size_t m_slice;
    unsigned m_slices;
};

// libdeflate is taken when its sample is at most this share of zlib's (per mille): the sample's
// slices are compressed apart, and on flat pictures, which shrink to a few per cent, that moves
// the comparison by up to 2% against the whole picture's.
constexpr size_t kEvenPerMille = 980;
// Pictures whose sample zlib shrinks to no less than this share of its bytes (per mille) are
// photograph-like: their files may be up to 2% larger than libpng's, and libdeflate is taken for
// its speed when it is at most 1.8% larger. Their samples tell the whole well: noise is even.
constexpr size_t kNoisyPerMille = 300;
constexpr size_t kNoisyRoomPerMille = 1018;

constexpr Compressor kLibpngsOwn{true, 6};
constexpr Compressor kZlibFast{true, 4};
constexpr Compressor kDeflateNoisy{false, 6};
constexpr Compressor kDeflate{false, 7};

Compressor chooseCompressor(const uint8_t* bytes, size_t size)
{
    const Sample sample(bytes, size);
    const size_t reference = sample.sizes({kLibpngsOwn})[0];
    if (reference == SIZE_MAX)
        return kLibpngsOwn;
    if (reference * 1000 >= sample.bytes() * kNoisyPerMille) {
        const size_t fast = sample.sizes({kDeflateNoisy})[0];
        return fast != SIZE_MAX && fast * 1000 <= reference * kNoisyRoomPerMille ? kDeflateNoisy
                                                                                 : kZlibFast;
    }
    const size_t fast = sample.sizes({kDeflate})[0];
    return fast != SIZE_MAX && fast * 1000 <= reference * kEvenPerMille ? kDeflate : kLibpngsOwn;
}

} // namespace

PngImageData compressPngRows(const PngRows& rows)
{
    PngImageData data;
    if (rows.channels != 3 && rows.channels != 4)
        return data;
    const size_t filteredSize =
        static_cast<size_t>(rows.height) * (1 + static_cast<size_t>(rows.width) * rows.channels);
    const auto filtered = mapLarge(filteredSize);
    uint8_t* filteredBytes = filtered.get();
    if (!filteredBytes)
        return data;
    try {
        filterImage(rows, filteredBytes);
        const Compressor compressor = chooseCompressor(filteredBytes, filteredSize);
        const unsigned parts = partsFor(filteredSize);
        return compressor.zlib
                   ? zlibDeflateInParts(filteredBytes, filteredSize, compressor.level, parts)
                   : zlibCompressInParts(filteredBytes, filteredSize, compressor.level, parts);
    } catch (const std::bad_alloc&) {
        return data;
    }
}

} // namespace ombri
