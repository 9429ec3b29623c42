#include "formats/png_idat.h"

#include "formats/deflate_blocks.h"
#include "formats/png_filter.h"
#include "formats/row_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <vector>

// The filters and the compressor are chosen per picture from a sample of its rows
// (chooseEncoding), held against zlib at level 6 with its filtered strategy over libpng's own
// adaptive filters, which is what libpng's file holds.
//
// - Our own encoder for rows (RowDeflater) is tried first: it looks for matches where rows
//   repeat before it looks anywhere else, and on screenshots, documents, flat graphics and
//   pictures on a transparent ground it makes files 2-9% under libpng's in 40-60% of the time
//   libdeflate takes at level 7. Each part starts from the rows before it, as zlib's do.
// - libdeflate is taken where ours is not small enough, and at level 7 it makes most screenshots,
//   documents and flat graphics 3-10% smaller than libpng's file. Where level 7 has room to spare
//   (documents, charts, pictures on a large transparent ground), level 6 is taken for its speed.
// - Where both lose on the adaptive filters, the picture is tried filtered by Up throughout, by
//   each in turn: pixel art and other pictures of flat blocks then come out 5-10% under libpng's
//   file, with notes or without.
// - Runs of rows that filter to nothing but zeros (a row the same as the one above), which
//   libdeflate takes as long over as over any other, are written as blocks of our own
//   (writeBlankRows) when they are long enough (kFewestBlankBytes).
// - Where it loses both ways (dark windows full of thumbnails, a web page with photographs),
//   no level of libdeflate fast enough to be worth it wins that back (level 9 is slower than zlib
//   there), so they are compressed by zlib itself, in parts on the cores, each with the rows
//   before it as its dictionary: libpng's size or a little less, in half its time on two cores.
// - On noisy pictures (photographs, scans) libdeflate is 1.5-5% larger: it is taken at level 6
//   when under 1.8% (their files may be 2% larger), and zlib at level 4 otherwise, which is as
//   small as libpng's level 6 in half its time.

namespace ombri {

namespace {

// Rows are filtered and compressed in parts of at least this many bytes (less is not worth a
// thread) and at most the larger one, so that only a part a core is held filtered at a time,
// never the whole picture.
constexpr size_t kBytesPerPart = size_t{4} << 20;
constexpr size_t kLargestPart = size_t{4} << 20;

unsigned coreCount()
{
    return std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
}

// Past one round of the cores, the parts come in whole rounds: nine parts on two cores would
// leave one core idle for the last part, a tenth of the save.
unsigned partsFor(uint64_t bytes)
{
    const uint64_t cores = coreCount();
    const uint64_t fewest = std::min<uint64_t>(cores, std::max<uint64_t>(1, bytes / kBytesPerPart));
    const uint64_t needed = (bytes + kLargestPart - 1) / kLargestPart;
    if (needed <= fewest)
        return static_cast<unsigned>(fewest);
    return static_cast<unsigned>((needed + cores - 1) / cores * cores);
}

// Where the rows between parts fall. Past two rounds of the cores, the last round's parts are
// cut in halves: the parts' times differ with what they hold, and a core left without a part
// waits for the others; with half parts at the end, it waits half as long.
std::vector<size_t> partSeams(uint32_t height, size_t rowBytes)
{
    const unsigned cores = coreCount();
    const unsigned parts = std::min<unsigned>(partsFor(uint64_t{height} * rowBytes), height);
    const bool halved = parts >= 2 * cores && height >= 2 * parts;
    // In halves of a part: the parts before the last round take two each.
    const unsigned halves = 2 * parts;
    std::vector<size_t> seams{0};
    for (unsigned half = 0; half < halves;) {
        half += halved && half >= 2 * (parts - cores) ? 1 : 2;
        seams.push_back(static_cast<size_t>(uint64_t{height} * half / halves) * rowBytes);
    }
    return seams;
}

// Deflate looks back this far for matches.
constexpr size_t kWindow = 32768;

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

// Room for a compressed part: the worst case is mapped, and only the pages deflate writes become
// memory. Ordinary pages, so that a part that shrinks to a few kilobytes costs a few kilobytes.
// Null when memory runs out.
std::unique_ptr<uint8_t, PngUnmap> mapLarge(size_t size)
{
    void* bytes = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (bytes == MAP_FAILED)
        return {nullptr, PngUnmap{}};
    return {static_cast<uint8_t*>(bytes), PngUnmap{size}};
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

namespace {

// A compressor and its level: zlib with its filtered strategy (short matches left as literals),
// as libpng compresses, libdeflate, or our own made for rows (RowDeflater), which has no levels.
struct Compressor {
    enum Kind { Zlib, Libdeflate, Rows } kind = Libdeflate;
    int level = 7;
};

// The bytes of one part as its compressor takes them: `dictionary` bytes that come before the
// part in the stream (zlib starts from them), then the part's own `size` bytes.
struct PartInput {
    const uint8_t* bytes = nullptr; // the dictionary's first byte; null when memory ran out
    size_t dictionary = 0;
    size_t size = 0;
    size_t rowBytes = 0; // the part's rows, filter byte and all; 0 for bytes that are not rows
    unsigned pixelBytes = 0;
};

// Gives the bytes [first, end) of the stream, made in `scratch` where they have to be made.
// Rows are filtered by `rule`.
using PartReader = std::function<PartInput(size_t first, size_t end, PngFilterRule rule,
                                           std::vector<uint8_t>& scratch)>;

// One stretch of a part's stream, in a buffer of its own.
struct StreamPiece {
    std::unique_ptr<uint8_t, PngUnmap> output;
    size_t size = 0;
    // The piece's final block (libdeflate's, ours, or a run of blank rows), made an ordinary one
    // when the piece is joined; none for zlib's parts, which end in a sync flush already, and for
    // the stream's last piece.
    std::optional<DeflateEnd> end;
};

struct CompressedPart {
    std::vector<StreamPiece> pieces;
    uint32_t adler = 1;
    size_t inputSize = 0;
    bool ok = false;
};

// A raw deflate stream that starts from the dictionary and ends in a sync flush (an empty stored
// block), so that the next part follows it as if it were one stream, or ends the stream.
bool zlibPart(const PartInput& in, int level, bool last, CompressedPart& part)
{
    // compressBound covers a whole zlib stream; the flush marker fits in what it adds.
    const size_t bound = ::compressBound(static_cast<uLong>(in.size)) + 16;
    part.pieces.clear();
    StreamPiece& piece = part.pieces.emplace_back();
    piece.output = mapLarge(bound);
    if (!piece.output)
        return false;
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK)
        return false;
    bool ok = in.dictionary == 0 ||
              deflateSetDictionary(&stream, in.bytes, static_cast<uInt>(in.dictionary)) == Z_OK;
    stream.next_out = piece.output.get();
    stream.avail_out = static_cast<uInt>(std::min<size_t>(bound, UINT32_MAX));
    // zlib counts its input in 32-bit lengths: large parts go in by pieces.
    const uint8_t* next = in.bytes + in.dictionary;
    size_t left = in.size;
    const int finish = last ? Z_FINISH : Z_SYNC_FLUSH;
    while (ok) {
        const size_t chunk = std::min<size_t>(left, size_t{1} << 30);
        stream.next_in = const_cast<uint8_t*>(next); // zlib only reads it
        stream.avail_in = static_cast<uInt>(chunk);
        next += chunk;
        left -= chunk;
        const int result = deflate(&stream, left == 0 ? finish : Z_NO_FLUSH);
        ok = result == (left == 0 && last ? Z_STREAM_END : Z_OK) && stream.avail_in == 0;
        if (left == 0)
            break;
    }
    piece.size = stream.total_out;
    deflateEnd(&stream);
    return ok;
}

// A thread's libdeflate compressor, kept from part to part: making one clears some 400 KiB of
// tables in fresh pages, a part's worth of page faults each time.
using HeldCompressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

// A raw deflate stream of `size` bytes by libdeflate, which takes no dictionary: it loses the
// matches that would have reached back across its start. Walked to its final block unless it
// ends the stream.
bool libdeflatePiece(const uint8_t* bytes, size_t size, bool last, StreamPiece& piece,
                     libdeflate_compressor* compressor)
{
    // Space for the worst case; the pages past what deflate writes are never touched, so they
    // cost address space only.
    const size_t bound = libdeflate_deflate_compress_bound(compressor, size);
    piece.output = mapLarge(bound);
    if (!piece.output)
        return false;
    piece.size = libdeflate_deflate_compress(compressor, bytes, size, piece.output.get(), bound);
    if (piece.size == 0)
        return false;
    if (last)
        return true;
    piece.end = findDeflateEnd(piece.output.get(), piece.size);
    return piece.end && (piece.end->endBit + 7) / 8 == piece.size;
}

// Filtered rows that are nothing but zeros after a filter byte of None or Up.
bool blankRow(const uint8_t* row, size_t rowBytes)
{
    return (row[0] == 0 || row[0] == 2) && row[1] == 0 &&
           std::memcmp(row + 1, row + 2, rowBytes - 2) == 0;
}

// Runs of blank rows are written as blocks of their own (writeBlankRows) when they are at least
// this long. Past deflate's window, the rows after them lose no matches by starting a stream of
// their own, but each stream starts with codes of its own: windows drawn at twice their size have
// runs of a few rows every few rows, and cut at each runs of the window's length they came out
// 2.5% larger. A screenshot has a sixth to a third of its rows in runs this long, and libdeflate
// takes as long over a row of zeros as over any other.
constexpr size_t kFewestBlankBytes = size_t{64} << 10;
bool blankRowsPiece(uint8_t filter, size_t rows, size_t rowBytes, bool last, StreamPiece& piece)
{
    piece.output = mapLarge(blankRowsBound(rows, rowBytes));
    if (!piece.output)
        return false;
    const DeflateEnd end = writeBlankRows(filter, rows, rowBytes, piece.output.get());
    piece.size = static_cast<size_t>((end.endBit + 7) / 8);
    if (!last)
        piece.end = end;
    return true;
}

// A part by libdeflate, its runs of blank rows apart when it is made of rows.
bool libdeflatePart(const PartInput& in, int level, bool last, CompressedPart& part,
                    HeldCompressor& compressor)
{
    if (!compressor)
        compressor.reset(libdeflate_alloc_compressor(level));
    if (!compressor)
        return false;
    part.pieces.clear();
    const uint8_t* bytes = in.bytes + in.dictionary;
    const size_t rowBytes = in.rowBytes;
    const size_t rows = rowBytes >= 3 ? in.size / rowBytes : 0;
    const size_t fewestBlank =
        std::max<size_t>(2, (kFewestBlankBytes + rowBytes - 1) / std::max<size_t>(rowBytes, 1));
    size_t done = 0; // rows already in pieces
    for (size_t row = 0; row < rows;) {
        if (!blankRow(bytes + row * rowBytes, rowBytes)) {
            ++row;
            continue;
        }
        const uint8_t filter = bytes[row * rowBytes];
        size_t end = row + 1;
        while (end < rows && bytes[end * rowBytes] == filter &&
               blankRow(bytes + end * rowBytes, rowBytes))
            ++end;
        if (end - row >= fewestBlank) {
            if (row > done && !libdeflatePiece(bytes + done * rowBytes, (row - done) * rowBytes,
                                               false, part.pieces.emplace_back(), compressor.get()))
                return false;
            const bool lastPiece = last && end * rowBytes == in.size;
            if (!blankRowsPiece(filter, end - row, rowBytes, lastPiece, part.pieces.emplace_back()))
                return false;
            done = end;
        }
        row = end;
    }
    const size_t rest = done * rowBytes;
    return rest == in.size || libdeflatePiece(bytes + rest, in.size - rest, last,
                                              part.pieces.emplace_back(), compressor.get());
}

// A part by our own encoder for rows, which starts from the dictionary as zlib does.
bool rowsPart(const PartInput& in, bool last, CompressedPart& part, RowDeflater& deflater)
{
    part.pieces.clear();
    StreamPiece& piece = part.pieces.emplace_back();
    piece.output = mapLarge(RowDeflater::bound(in.size));
    if (!piece.output)
        return false;
    const DeflateEnd end = deflater.compress(in.bytes, in.dictionary, in.size,
                                             {in.rowBytes, in.pixelBytes}, piece.output.get());
    piece.size = static_cast<size_t>((end.endBit + 7) / 8);
    if (!last)
        piece.end = end;
    return true;
}

// Adds a piece to the stream. Deflate streams join: a piece's final block is made an ordinary
// one and followed by an empty stored block, which brings the next piece to a whole byte, as a
// sync flush does. The piece's buffer goes with the data.
void appendPiece(StreamPiece& piece, PngImageData& data)
{
    uint8_t* stream = piece.output.get();
    if (!piece.end) {
        data.append(stream, piece.size);
        data.buffers.push_back(std::move(piece.output));
        return;
    }
    const uint64_t finalBit = piece.end->finalBlockBit;
    stream[finalBit / 8] &= static_cast<uint8_t>(~(1u << (finalBit % 8)));
    const size_t whole = static_cast<size_t>(piece.end->endBit / 8);
    const unsigned rest = static_cast<unsigned>(piece.end->endBit % 8);
    data.append(stream, whole);
    // The stored block's three header bits (not final, type 0) are zeros, and so is the padding
    // to the byte; when they do not fit beside the last bits, they take a byte more.
    std::vector<uint8_t> join;
    join.push_back(rest == 0 ? 0 : static_cast<uint8_t>(stream[whole] & ((1u << rest) - 1)));
    if (rest > 5)
        join.push_back(0);
    join.insert(join.end(), {0x00, 0x00, 0xFF, 0xFF});
    data.buffers.push_back(std::move(piece.output));
    data.appendJoin(std::move(join));
}

void appendPart(CompressedPart& part, PngImageData& data)
{
    for (StreamPiece& piece : part.pieces)
        appendPiece(piece, data);
}

// Compresses the parts between the seams, as many at a time as there are cores, each part's
// input made by `read` just before it is compressed and let go of just after, and hands the one
// zlib stream they make to `sink` in order: each part as soon as every part before it is done,
// its buffer let go of once handed on. So no more of the stream is held than the parts being
// made and those waiting for an earlier one. False when memory ran out or the sink took no more.
bool compressInParts(const std::vector<size_t>& seams, Compressor compressor, PngFilterRule rule,
                     const PartReader& read, const PngStreamSink& sink)
{
    const auto parts = static_cast<unsigned>(seams.size() - 1);
    std::vector<CompressedPart> done(parts);
    const unsigned workers = std::min(parts, coreCount());
    std::vector<std::vector<uint8_t>> scratch(workers);
    std::vector<HeldCompressor> compressors(workers);
    std::vector<RowDeflater> deflaters(workers);
    std::atomic<unsigned> next{0};
    std::atomic<bool> failed{false};
    std::mutex handing;
    std::vector<char> finished(parts, 0);
    unsigned handed = 0;
    uLong adler = 1;
    // Under `handing`: the parts from `handed` on that are done go to the sink.
    const auto handOn = [&] {
        for (; handed < parts && finished[handed]; ++handed) {
            CompressedPart& part = done[handed];
            PngImageData piece;
            if (handed == 0)
                piece.appendJoin({0x78, 0x9C}); // a 32 KiB window, default level, no dictionary
            if (!part.ok) {
                failed = true;
                return;
            }
            adler = adler32_combine(adler, part.adler, static_cast<z_off_t>(part.inputSize));
            appendPart(part, piece);
            for (const PngImageData::Span& span : piece.spans)
                if (!sink(span.bytes, span.size)) {
                    failed = true;
                    return;
                }
        }
    };
    runOnThreads(workers, [&](unsigned worker) {
        for (unsigned i = next++; i < parts && !failed; i = next++) {
            CompressedPart& part = done[i];
            try {
                const PartInput in = read(seams[i], seams[i + 1], rule, scratch[worker]);
                if (in.bytes) {
                    const bool last = i + 1 == parts;
                    // A libdeflate stream whose blocks cannot be walked is made by zlib instead.
                    switch (compressor.kind) {
                    case Compressor::Zlib:
                        part.ok = zlibPart(in, compressor.level, last, part);
                        break;
                    case Compressor::Rows:
                        part.ok = rowsPart(in, last, part, deflaters[worker]);
                        break;
                    case Compressor::Libdeflate:
                        part.ok =
                            libdeflatePart(in, compressor.level, last, part, compressors[worker]) ||
                            zlibPart(in, 6, last, part);
                        break;
                    }
                    part.adler = libdeflate_adler32(1, in.bytes + in.dictionary, in.size);
                    part.inputSize = in.size;
                }
            } catch (const std::bad_alloc&) {
                part.ok = false;
            }
            const std::lock_guard<std::mutex> lock(handing);
            finished[i] = 1;
            try {
                if (!failed)
                    handOn();
            } catch (const std::bad_alloc&) {
                failed = true;
            }
        }
    });
    if (failed || handed != parts)
        return false;
    const uint8_t tail[4] = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                             static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
    return sink(tail, sizeof tail);
}

// The whole stream in memory, for callers that want it as one.
template <typename Compress> PngImageData collected(Compress compress)
{
    PngImageData data;
    const bool made = compress([&data](const uint8_t* bytes, size_t count) {
        data.appendJoin(std::vector<uint8_t>(bytes, bytes + count));
        return true;
    });
    return made ? std::move(data) : PngImageData();
}

std::vector<size_t> evenSeams(size_t size, unsigned parts)
{
    parts = static_cast<unsigned>(std::clamp<size_t>(size, 1, std::max(1u, parts)));
    std::vector<size_t> seams(parts + 1);
    for (unsigned i = 0; i <= parts; ++i)
        seams[i] = size * i / parts;
    return seams;
}

} // namespace

PngImageData zlibCompressInParts(const uint8_t* bytes, size_t size, int level, unsigned parts)
{
    return collected([&](const PngStreamSink& sink) {
        return compressInParts(
            evenSeams(size, parts), {Compressor::Libdeflate, level}, PngFilterRule::Adaptive,
            [bytes](size_t first, size_t end, PngFilterRule, std::vector<uint8_t>&) {
                return PartInput{bytes + first, 0, end - first};
            },
            sink);
    });
}

PngImageData zlibDeflateInParts(const uint8_t* bytes, size_t size, int level, unsigned parts)
{
    return collected([&](const PngStreamSink& sink) {
        return compressInParts(
            evenSeams(size, parts), {Compressor::Zlib, level}, PngFilterRule::Adaptive,
            [bytes](size_t first, size_t end, PngFilterRule, std::vector<uint8_t>&) {
                const size_t dictionary = std::min(first, kWindow);
                return PartInput{bytes + first - dictionary, dictionary, end - first};
            },
            sink);
    });
}

namespace {

// The sample a compressor is chosen by: slices of rows spread evenly over the picture, together
// about a forty-eighth of it (at least 1.5 MiB), or all of a small picture.
constexpr unsigned kSampleSlices = 12;
constexpr size_t kSmallestSlice = size_t{128} << 10;

size_t compressedSize(Compressor compressor, const PartInput& in, std::vector<uint8_t>& scratch,
                      RowDeflater& deflater)
{
    const uint8_t* bytes = in.bytes + in.dictionary;
    const size_t size = in.size;
    if (compressor.kind == Compressor::Rows) {
        scratch.resize(RowDeflater::bound(size));
        // Without the rows before the slice, as the reference and libdeflate compress it: given
        // them against a reference without, flat pictures' samples came out up to 8% under
        // their whole files.
        const DeflateEnd end =
            deflater.compress(bytes, 0, size, {in.rowBytes, in.pixelBytes}, scratch.data());
        return static_cast<size_t>((end.endBit + 7) / 8);
    }
    if (compressor.kind == Compressor::Zlib) {
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
    // `rowBytes` keeps the slices to whole rows.
    Sample(size_t size, size_t rowBytes, const PartReader& read) : m_read(read)
    {
        const size_t rows = size / rowBytes;
        const size_t sliceRows =
            std::max<size_t>(1, std::max(kSmallestSlice, size / (kSampleSlices * 48)) / rowBytes);
        if (sliceRows * kSampleSlices >= rows) {
            m_seams = {0, size};
            return;
        }
        // Centred in equal stretches, away from the picture's edges.
        for (unsigned i = 0; i < kSampleSlices; ++i) {
            const size_t first = rows * (2 * i + 1) / (2 * kSampleSlices) - sliceRows / 2;
            m_seams.push_back(first * rowBytes);
            m_seams.push_back((first + sliceRows) * rowBytes);
        }
    }

    size_t bytes() const
    {
        size_t total = 0;
        for (size_t i = 0; i < m_seams.size(); i += 2)
            total += m_seams[i + 1] - m_seams[i];
        return total;
    }

    unsigned slices() const { return static_cast<unsigned>(m_seams.size() / 2); }

    // The size of slices [first, end) under the compressor, compressed apart on the cores, each
    // slice's put in `each` when asked; SIZE_MAX when one failed. Each slice is filtered by a rule
    // once and kept for the next compressor: together they are a forty-eighth of the picture.
    size_t size(Compressor compressor, PngFilterRule rule = PngFilterRule::Adaptive,
                unsigned first = 0, unsigned end = UINT_MAX, std::vector<size_t>* each = nullptr)
    {
        const unsigned slices = this->slices();
        end = std::min(end, slices);
        Filtered& filtered = m_filtered[rule == PngFilterRule::Up ? 1 : 0];
        if (filtered.held.empty()) {
            filtered.held.resize(slices);
            filtered.inputs.resize(slices);
        }
        std::vector<size_t> got(slices, 0);
        std::fill(got.begin() + first, got.begin() + end, SIZE_MAX);
        // A thread a core, each taking slices in turn and keeping its output buffer between them.
        std::atomic<unsigned> next{first};
        runOnThreads(std::min(end - first, coreCount()), [&](unsigned) {
            std::vector<uint8_t> output;
            RowDeflater deflater;
            for (unsigned i = next++; i < end; i = next++) {
                try {
                    PartInput& in = filtered.inputs[i];
                    if (!in.bytes)
                        in = m_read(m_seams[2 * i], m_seams[2 * i + 1], rule, filtered.held[i]);
                    if (in.bytes)
                        got[i] = compressedSize(compressor, in, output, deflater);
                } catch (const std::bad_alloc&) {
                    got[i] = SIZE_MAX;
                }
            }
        });
        size_t total = 0;
        for (const size_t slice : got)
            total = slice == SIZE_MAX || total == SIZE_MAX ? SIZE_MAX : total + slice;
        if (each)
            *each = std::move(got);
        return total;
    }

  private:
    struct Filtered {
        std::vector<std::vector<uint8_t>> held;
        std::vector<PartInput> inputs; // into `held`; null until read
    };

    const PartReader& m_read;
    Filtered m_filtered[2];      // by the adaptive rule and by Up
    std::vector<size_t> m_seams; // first and end of each slice
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

constexpr Compressor kLibpngsOwn{Compressor::Zlib, 6};
constexpr Compressor kZlibFast{Compressor::Zlib, 4};
constexpr Compressor kDeflateNoisy{Compressor::Libdeflate, 6};
constexpr Compressor kDeflate{Compressor::Libdeflate, 7};
constexpr Compressor kRowsOwn{Compressor::Rows, 0};
// Documents, charts and pictures with large transparent grounds often leave libdeflate room to
// spare at level 7; level 6 is then taken for its speed when its sample is at most this share of
// zlib's (per mille), which keeps the whole file under libpng's with the sample's error to spare.
// Screenshots of real windows lose 8-9% at level 6, and stay at 7.
constexpr Compressor kDeflateQuick{Compressor::Libdeflate, 6};
constexpr size_t kQuickPerMille = 970;
// How far over its bound level 6's guess from a quarter of the sample may be before the rest is
// tried all the same.
constexpr double kQuickGuessRoom = 1.03;

std::atomic<bool> g_rowDeflateAllowed{true};

// Our own encoder for rows is taken when its sample is at most this share of zlib's (per mille),
// as libdeflate is. Over both corpora, no sample near this share was more than 2% under its whole
// file, and no picture taken at this share came out over 0.984 of libpng's file.
constexpr size_t kRowsPerMille = 980;

// How a picture is filtered and compressed.
struct PngEncoding {
    PngFilterRule rule = PngFilterRule::Adaptive;
    Compressor compressor = kLibpngsOwn;
};

// Our own encoder for rows, or else libdeflate at level 7, or 6 where that leaves room, when its
// sample under `rule` is small enough against the reference; nothing when none is.
std::optional<PngEncoding> deflateEncoding(Sample& sample, PngFilterRule rule, size_t reference)
{
    if (g_rowDeflateAllowed) {
        const size_t own = sample.size(kRowsOwn, rule);
        if (own != SIZE_MAX && own * 1000 <= reference * kRowsPerMille)
            return PngEncoding{rule, kRowsOwn};
    }
    std::vector<size_t> fastSlices;
    const size_t fast = sample.size(kDeflate, rule, 0, UINT_MAX, &fastSlices);
    if (fast == SIZE_MAX || fast * 1000 > reference * kEvenPerMille)
        return std::nullopt;
    // Under Up, the sample's slices of a few rows tell level 6 badly: on pixel art with notes
    // it promised 4% under libpng's file, and the whole came out 2.7% over. Level 7 held.
    if (rule == PngFilterRule::Up)
        return PngEncoding{rule, kDeflate};
    // Level 6 is tried on a quarter of the slices first. Where it is far over its bound there, as
    // on screenshots of real windows (8-13% over level 7), the rest are spared: a wrong guess
    // costs time, never size.
    const unsigned quarter = std::max(1u, sample.slices() / 4);
    const size_t quickStart = sample.size(kDeflateQuick, rule, 0, quarter);
    size_t fastStart = 0;
    for (unsigned i = 0; i < quarter; ++i)
        fastStart += fastSlices[i];
    const double guess = static_cast<double>(fast) * static_cast<double>(quickStart) /
                         static_cast<double>(std::max<size_t>(fastStart, 1));
    if (quickStart == SIZE_MAX ||
        guess * 1000 > static_cast<double>(reference) * kQuickPerMille * kQuickGuessRoom)
        return PngEncoding{rule, kDeflate};
    const size_t rest = sample.size(kDeflateQuick, rule, quarter);
    const size_t quick = rest == SIZE_MAX ? SIZE_MAX : quickStart + rest;
    return PngEncoding{rule, quick != SIZE_MAX && quick * 1000 <= reference * kQuickPerMille
                                 ? kDeflateQuick
                                 : kDeflate};
}

PngEncoding chooseEncoding(size_t size, size_t rowBytes, const PartReader& read)
{
    Sample sample(size, rowBytes, read);
    const size_t reference = sample.size(kLibpngsOwn);
    if (reference == SIZE_MAX)
        return {};
    if (reference * 1000 >= sample.bytes() * kNoisyPerMille) {
        const size_t fast = sample.size(kDeflateNoisy);
        return {PngFilterRule::Adaptive,
                fast != SIZE_MAX && fast * 1000 <= reference * kNoisyRoomPerMille ? kDeflateNoisy
                                                                                  : kZlibFast};
    }
    // Where libdeflate loses on the adaptive filters, the picture may be made of flat blocks
    // (pixel art), whose rows under Up are mostly zeros: libdeflate then makes 3-7% less than
    // libpng's file, in two thirds of the time zlib takes over the adaptive rows.
    if (auto adaptive = deflateEncoding(sample, PngFilterRule::Adaptive, reference))
        return *adaptive;
    if (auto up = deflateEncoding(sample, PngFilterRule::Up, reference))
        return *up;
    return {};
}

} // namespace

void allowRowDeflate(bool allowed)
{
    g_rowDeflateAllowed = allowed;
}

PngImageData compressPngRows(const PngRows& rows)
{
    return collected([&](const PngStreamSink& sink) { return compressPngRowsTo(rows, sink); });
}

bool compressPngRowsTo(const PngRows& rows, const PngStreamSink& sink)
{
    if (rows.channels != 3 && rows.channels != 4)
        return false;
    const size_t count = static_cast<size_t>(rows.width) * rows.channels;
    const size_t rowBytes = 1 + count;
    const size_t size = static_cast<size_t>(rows.height) * rowBytes;
    // A part's rows are filtered when it is compressed, with the rows before it that zlib takes
    // as its dictionary, so that no more than a part a core is held filtered at a time.
    const PartReader read = [&](size_t first, size_t end, PngFilterRule rule,
                                std::vector<uint8_t>& scratch) {
        const auto firstRow = static_cast<uint32_t>(first / rowBytes);
        const auto endRow = static_cast<uint32_t>(end / rowBytes);
        const auto windowRows =
            static_cast<uint32_t>(std::min<size_t>(firstRow, (kWindow + rowBytes - 1) / rowBytes));
        const uint32_t from = firstRow - windowRows;
        const size_t filtered = static_cast<size_t>(endRow - from) * rowBytes;
        // The filters' scratch follows the filtered rows, in exactly the room asked for: a
        // vector grown by resize doubles, and a part one row longer than the one before would
        // then hold twice a part.
        const size_t needed = filtered + pngFilterScratchBytes(rows);
        if (scratch.capacity() < needed) {
            scratch.clear();
            scratch.reserve(needed);
        }
        scratch.resize(needed);
        filterPngRows(rows, from, endRow, rule, scratch.data(), scratch.data() + filtered);
        const size_t dictionary = std::min<size_t>(size_t{windowRows} * rowBytes, kWindow);
        return PartInput{scratch.data() + size_t{windowRows} * rowBytes - dictionary, dictionary,
                         end - first, rowBytes, rows.channels};
    };
    try {
        const PngEncoding encoding = chooseEncoding(size, rowBytes, read);
        const std::vector<size_t> seams = partSeams(rows.height, rowBytes);
        return compressInParts(seams, encoding.compressor, encoding.rule, read, sink);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace ombri
