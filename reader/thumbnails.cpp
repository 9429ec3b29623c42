#include "reader/thumbnails.h"

#include "core/file_io.h"
#include "core/md5.h"
#include "formats/colour_profile.h"
#include "formats/dispatch.h"
#include "formats/jpeg.h"
#include "formats/png.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef OMBRI_VERSION
#error "OMBRI_VERSION is set by the build from the project's version"
#endif

namespace ombri::reader {

namespace {

constexpr const char* kUriKey = "Thumb::URI";
constexpr const char* kMTimeKey = "Thumb::MTime";
// The program's own label, in a name space of its own as the shared cache asks: whether the
// picture carries notes.
constexpr const char* kNotesKey = "X-OmbriTools::Notes";
constexpr const char* kSoftware = "OmbriReader " OMBRI_VERSION;
constexpr unsigned kFolderPermissions = 0700;
constexpr unsigned kFilePermissions = 0600;
// The most an entry may take: a thumbnail of 256 x 256 pixels is far smaller, and a larger file
// under an entry's name is not read at all.
constexpr uint64_t kMaxEntryBytes = 1u << 20;

// What the cache knows a file by: its real path (links followed), its URI and the stat fields
// an entry records.
struct Original {
    std::string path;
    std::string uri;
    struct stat status {};
};

std::optional<std::string> realPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

// A file inside the cache would be thumbnailed into the cache, whose entries would then be
// thumbnailed in turn: such files are never given an entry.
bool insideCache(const std::string& root, const std::string& realFile)
{
    const std::string realRoot = realPath(root).value_or(root);
    return realFile.size() > realRoot.size() &&
           realFile.compare(0, realRoot.size(), realRoot) == 0 && realFile[realRoot.size()] == '/';
}

std::optional<Original> describe(const std::string& root, const std::string& path)
{
    auto real = realPath(path);
    if (!real)
        return std::nullopt;
    Original original;
    if (::stat(real->c_str(), &original.status) != 0 || !S_ISREG(original.status.st_mode))
        return std::nullopt;
    if (insideCache(root, *real))
        return std::nullopt;
    original.path = *real;
    original.uri = fileUri(*real);
    return original;
}

// The file name of the file's entries in every folder of the cache.
std::string entryName(const Original& original)
{
    return md5Hex(original.uri) + ".png";
}

std::optional<std::string> textOf(const std::vector<PngText>& chunks, const char* keyword)
{
    for (const PngText& chunk : chunks)
        if (chunk.keyword == keyword)
            return chunk.text;
    return std::nullopt;
}

// The folders entries are kept in, each standing for the size of the pictures it holds.
enum class EntryKind { Normal, Large, Failed };

EntryKind entryKind(ThumbnailSize size)
{
    return size == ThumbnailSize::Large ? EntryKind::Large : EntryKind::Normal;
}

// Makes each missing folder of the path readable by its owner only: thumbnails show what the
// user's pictures hold.
bool makeFolders(const std::string& folder)
{
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), kFolderPermissions) != 0 && errno != EEXIST)
            return false;
    }
    struct stat status {};
    return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

enum class Creation { Existing, Made };

// One folder of the cache, opened from its parent without following a link. Only a folder of
// the user's own that nobody else may write in is used: anyone who could put entries there
// could show the user any picture under another's name, or have the reader overwrite files
// through links in it.
FileDescriptor openOwnFolder(int parent, const char* name, Creation creation)
{
    if (creation == Creation::Made && ::mkdirat(parent, name, kFolderPermissions) != 0 &&
        errno != EEXIST)
        return {};
    FileDescriptor folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!folder || ::fstat(folder.get(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {};
    return folder;
}

// The folder entries of the kind are kept in, opened from the root's own folder down; none
// when a folder on the way is missing (and not to be made) or may not be used. The folder
// holding the root may be a link the user made; the root and everything in it may not.
FileDescriptor openEntryFolder(const std::string& root, EntryKind kind, Creation creation)
{
    const size_t slash = root.rfind('/');
    if (slash == std::string::npos || slash + 1 == root.size())
        return {};
    const std::string base = slash == 0 ? "/" : root.substr(0, slash);
    if (creation == Creation::Made && !makeFolders(base))
        return {};
    FileDescriptor folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::string leaf = root.substr(slash + 1);
    const char* const failedFolder = "ombri-reader-" OMBRI_VERSION;
    std::vector<const char*> names = {leaf.c_str()};
    if (kind == EntryKind::Failed)
        names.insert(names.end(), {"fail", failedFolder});
    else
        names.push_back(kind == EntryKind::Large ? "large" : "normal");
    for (const char* name : names) {
        if (!folder)
            return {};
        folder = openOwnFolder(folder.get(), name, creation);
    }
    return folder;
}

// Whether a PNG's declared size is one its folder may hold: thumbnails of at most 128 or 256
// pixels a side, failures of a single pixel. Anything else would be a decode of a size nobody
// asked for, such as a 16384 x 16384 picture planted under a thumbnail's name.
bool sizeFitsFolder(ByteView png, EntryKind kind)
{
    const auto size = readPngDimensions(png);
    if (!size)
        return false;
    if (kind == EntryKind::Failed)
        return size->width == 1 && size->height == 1;
    const uint32_t side = static_cast<uint32_t>(
        thumbnailPixels(kind == EntryKind::Large ? ThumbnailSize::Large : ThumbnailSize::Normal));
    return size->width >= 1 && size->height >= 1 && size->width <= side && size->height <= side;
}

// The bytes of an entry the cache may hold: a regular file of the user's own of at most
// kMaxEntryBytes, a PNG of a size its folder stands for. Nothing for anything else, which counts
// as no entry. The entry is opened where it lies, without following a link or waiting for a
// FIFO or a device.
std::optional<std::vector<uint8_t>> readEntry(int folder, const std::string& name, EntryKind kind)
{
    FileDescriptor file(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    const bool found = file ? ::fstat(file.get(), &status) == 0
                            : ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found)
        return std::nullopt;
    if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        // Nothing of the program's own: a link, FIFO, device or someone else's file is taken
        // away, so that the entry is made again as a file of ours. A folder stays, and is
        // passed over.
        ::unlinkat(folder, name.c_str(), 0);
        return std::nullopt;
    }
    if (!file || static_cast<uint64_t>(status.st_size) > kMaxEntryBytes)
        return std::nullopt;
    // One byte more than an entry may have tells a file that grew meanwhile.
    std::vector<uint8_t> bytes(kMaxEntryBytes + 1);
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t part = ::read(file.get(), bytes.data() + got, bytes.size() - got);
        if (part < 0 && errno == EINTR)
            continue;
        if (part < 0)
            return std::nullopt;
        if (part == 0)
            break;
        got += static_cast<size_t>(part);
    }
    if (got > kMaxEntryBytes)
        return std::nullopt;
    bytes.resize(got);
    if (!sizeFitsFolder({bytes.data(), bytes.size()}, kind))
        return std::nullopt;
    return bytes;
}

// An entry as it was read: its bytes and labels.
struct Entry {
    std::vector<uint8_t> bytes;
    std::vector<PngText> labels;
};

// Whether the labels say the entry was made from the file as it is now: the same URI and the
// same modification time in whole seconds.
bool labelsMatch(const std::vector<PngText>& labels, const Original& original)
{
    const auto uri = textOf(labels, kUriKey);
    const auto mtime = textOf(labels, kMTimeKey);
    if (!uri || *uri != original.uri || !mtime || mtime->empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long seconds = std::strtoll(mtime->c_str(), &end, 10);
    return errno == 0 && *end == '\0' &&
           seconds == static_cast<long long>(original.status.st_mtime);
}

enum class EntryState { Absent, Matching, Other };

// The entry of the file in its folder, and whether it was made from the file as it is now.
// Absent for a folder or an entry that may not be used.
EntryState lookUpEntry(int folder, const std::string& name, EntryKind kind,
                       const Original& original, Entry* read = nullptr)
{
    if (folder < 0)
        return EntryState::Absent;
    auto bytes = readEntry(folder, name, kind);
    if (!bytes)
        return EntryState::Absent;
    auto labels = readPngTextBytes({bytes->data(), bytes->size()});
    if (!labels || !labelsMatch(labels.value(), original))
        return EntryState::Other;
    if (read)
        *read = Entry{std::move(*bytes), labels.take()};
    return EntryState::Matching;
}

EntryState lookUpEntry(const std::string& root, EntryKind kind, const Original& original)
{
    const FileDescriptor folder = openEntryFolder(root, kind, Creation::Existing);
    return lookUpEntry(folder.get(), entryName(original), kind, original);
}

// The notes of the file, with its modification time to the nanosecond: the thumbnail's own
// labels tell only the second, and a picture saved again within it may have lost its notes.
std::string notesLabel(const Original& original, bool carriesNotes)
{
    return std::string(carriesNotes ? "yes " : "no ") +
           std::to_string(static_cast<long long>(original.status.st_mtim.tv_sec)) + "." +
           std::to_string(static_cast<long long>(original.status.st_mtim.tv_nsec));
}

NotesReadOnTheWay notesNotedIn(const std::vector<PngText>& labels, const Original& original)
{
    const auto label = textOf(labels, kNotesKey);
    if (label == notesLabel(original, true))
        return {true, true};
    if (label == notesLabel(original, false))
        return {true, false};
    return {};
}

// Writes the entry into its folder, made when missing; whatever had its name there is replaced.
Status writeEntry(const std::string& root, EntryKind kind, const Dib& picture,
                  const Original& original, int32_t width, int32_t height,
                  const NotesReadOnTheWay& notes = {})
{
    const FileDescriptor folder = openEntryFolder(root, kind, Creation::Made);
    if (!folder)
        return fail("the cache folder cannot be used");
    std::vector<PngText> text = {
        {kUriKey, original.uri},
        {kMTimeKey, std::to_string(static_cast<long long>(original.status.st_mtime))},
        {"Thumb::Size", std::to_string(static_cast<long long>(original.status.st_size))},
        {"Software", kSoftware},
    };
    if (width > 0 && height > 0) {
        text.push_back({"Thumb::Image::Width", std::to_string(width)});
        text.push_back({"Thumb::Image::Height", std::to_string(height)});
    }
    if (notes.known)
        text.push_back({kNotesKey, notesLabel(original, notes.carriesNotes)});
    return writePngFileWithText(folder.get(), entryName(original), picture, text, kFilePermissions);
}

uint32_t dimension(ThumbnailSize size)
{
    return static_cast<uint32_t>(thumbnailPixels(size));
}

// The picture a thumbnail is made from, and the size of the whole picture for its labels.
struct ThumbnailSource {
    Dib image; // null when the file could not be read
    int32_t width = 0;
    int32_t height = 0;
    bool keepAlpha = false;
    std::string error;
    NotesReadOnTheWay notes;
    std::vector<uint8_t> colourProfile; // embedded in the file; empty without one
};

ThumbnailSource readSource(const std::string& path, int maxSide)
{
    ThumbnailSource source;
    if (formatOfPath(path) == &kJpegFormat) {
        // Photographs are decoded at a fraction of their size and stood upright as the camera
        // noted, since that is how the user expects to see them in a list. The labels give the
        // upright size of the whole picture, which is what other programs show for the file.
        auto read = readJpegForThumbnail(path, maxSide);
        if (!read) {
            source.error = read.error();
            return source;
        }
        source.image = std::move(read.value().picture);
        source.width = read.value().width;
        source.height = read.value().height;
        source.colourProfile = std::move(read.value().colourProfile);
        return source;
    }
    LoadedImage loaded = loadCheckedImage(path);
    if (!loaded.image.isNull())
        source.notes = NotesReadOnTheWay{true, carriesNotes(loaded)};
    source.error = std::move(loaded.error);
    source.width = DibGetWidth(loaded.image);
    source.height = DibGetHeight(loaded.image);
    source.keepAlpha = loaded.declaresAlpha;
    source.image = std::move(loaded.image);
    source.colourProfile = std::move(loaded.colourProfile);
    return source;
}

// A thumbnail is seen as the picture is shown, in sRGB. It is converted once it is small, which
// costs next to nothing; a profile that cannot be used leaves it as stored.
void convertForScreen(Dib& thumbnail, const std::vector<uint8_t>& colourProfile)
{
    if (colourProfile.empty())
        return;
    Dib converted = convertedToSrgb(thumbnail, {colourProfile.data(), colourProfile.size()});
    if (!converted.isNull())
        thumbnail = std::move(converted);
}

// The block's three colour bytes, each the plain average.
void averagePlain(const uint8_t* source, size_t stride, size_t step, int64_t top, int64_t bottom,
                  int64_t left, int64_t right, uint64_t count, uint8_t* out)
{
    uint64_t sums[3] = {};
    for (int64_t sy = top; sy < bottom; ++sy) {
        const uint8_t* pixel =
            source + static_cast<size_t>(sy) * stride + static_cast<size_t>(left) * step;
        for (int64_t sx = left; sx < right; ++sx, pixel += step)
            for (int c = 0; c < 3; ++c)
                sums[c] += pixel[c];
    }
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<uint8_t>((sums[c] + count / 2) / count);
}

// The block's colour as its pixels show it, each weighed by how opaque it is: the colour kept
// under fully transparent pixels (often black) is never seen, and averaged in plainly it would
// darken the edges of every cut-out picture. The alpha is the plain average. A block with nothing
// visible has no colour.
void averageByAlpha(const uint8_t* source, size_t stride, int64_t top, int64_t bottom, int64_t left,
                    int64_t right, uint64_t count, uint8_t* out)
{
    uint64_t sums[3] = {};
    uint64_t alphaSum = 0;
    for (int64_t sy = top; sy < bottom; ++sy) {
        const uint8_t* pixel =
            source + static_cast<size_t>(sy) * stride + static_cast<size_t>(left) * 4;
        for (int64_t sx = left; sx < right; ++sx, pixel += 4) {
            const unsigned alpha = pixel[3];
            alphaSum += alpha;
            for (int c = 0; c < 3; ++c)
                sums[c] += uint64_t{pixel[c]} * alpha;
        }
    }
    for (int c = 0; c < 3; ++c)
        out[c] = alphaSum == 0 ? 0 : static_cast<uint8_t>((sums[c] + alphaSum / 2) / alphaSum);
    out[3] = static_cast<uint8_t>((alphaSum + count / 2) / count);
}

} // namespace

int thumbnailPixels(ThumbnailSize size)
{
    return size == ThumbnailSize::Large ? 256 : 128;
}

std::string thumbnailCacheRoot()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::string(cache) + "/thumbnails";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/thumbnails";
    return {};
}

std::string fileUri(const std::string& absolutePath)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char byte : absolutePath) {
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || std::strchr("/-_.!~*'():@&=+$,", byte);
        if (plain && byte != '\0') {
            uri += static_cast<char>(byte);
        } else {
            uri += '%';
            uri += kDigits[byte >> 4];
            uri += kDigits[byte & 15];
        }
    }
    return uri;
}

std::string thumbnailPath(const std::string& root, const std::string& uri, ThumbnailSize size)
{
    return root + (size == ThumbnailSize::Large ? "/large/" : "/normal/") + md5Hex(uri) + ".png";
}

std::string failedThumbnailPath(const std::string& root, const std::string& uri)
{
    return root + "/fail/ombri-reader-" OMBRI_VERSION "/" + md5Hex(uri) + ".png";
}

ThumbnailState lookUpThumbnail(const std::string& root, const std::string& path, ThumbnailSize size)
{
    const auto original = describe(root, path);
    if (!original)
        return ThumbnailState::Unavailable;
    const EntryState entry = lookUpEntry(root, entryKind(size), *original);
    if (entry == EntryState::Matching)
        return ThumbnailState::Fresh;
    const EntryState failed = lookUpEntry(root, EntryKind::Failed, *original);
    if (failed == EntryState::Matching)
        return ThumbnailState::Failed;
    if (entry == EntryState::Absent && failed == EntryState::Absent)
        return ThumbnailState::Missing;
    return ThumbnailState::Stale;
}

namespace {

// The thumbnail kept for the file as it is now, decoded, with the notes noted with it.
std::optional<Dib> keptThumbnail(const std::string& root, ThumbnailSize size,
                                 const Original& original, NotesReadOnTheWay* notes)
{
    const FileDescriptor folder = openEntryFolder(root, entryKind(size), Creation::Existing);
    Entry entry;
    if (lookUpEntry(folder.get(), entryName(original), entryKind(size), original, &entry) !=
        EntryState::Matching)
        return std::nullopt;
    auto kept = readPngBytes({entry.bytes.data(), entry.bytes.size()});
    // An entry that cannot be read back is made again.
    if (!kept)
        return std::nullopt;
    if (notes)
        *notes = notesNotedIn(entry.labels, original);
    return kept.take();
}

} // namespace

Result<Dib> makeThumbnail(const std::string& root, const std::string& path, ThumbnailSize size,
                          NotesReadOnTheWay* notes, const DecodeGate& gate)
{
    const auto original = describe(root, path);
    if (!original)
        return fail("no thumbnail is made for this file");
    if (auto kept = keptThumbnail(root, size, *original, notes))
        return overCheckerboard(std::move(*kept));
    if (lookUpEntry(root, EntryKind::Failed, *original) == EntryState::Matching)
        return fail("the picture could not be read and has not changed since");

    const int maxSide = static_cast<int>(dimension(size));
    std::optional<MemoryBudget::Hold> hold;
    if (gate) {
        hold = gate(decodedBytes(original->path, maxSide));
        if (!hold)
            return fail("no longer wanted");
    }
    const ThumbnailSource source = readSource(original->path, maxSide);
    if (notes)
        *notes = source.notes;
    if (source.image.isNull()) {
        // A picture is noted as failed only with the same labels as a thumbnail, on a single
        // transparent pixel, as programs sharing the cache expect.
        Dib mark = Dib::create(1, 1, 32);
        (void)writeEntry(root, EntryKind::Failed, mark, *original, 0, 0);
        return fail(source.error.empty() ? "the picture could not be read" : source.error);
    }
    Dib picture = scaleDownToFit(source.image, maxSide, source.keepAlpha);
    if (picture.isNull())
        return fail("out of memory");
    convertForScreen(picture, source.colourProfile);
    // The cache only saves time: a folder that cannot take the entry still leaves the caller
    // its picture.
    if (writeEntry(root, entryKind(size), picture, *original, source.width, source.height,
                   source.notes)) {
        const FileDescriptor failed = openEntryFolder(root, EntryKind::Failed, Creation::Existing);
        if (failed)
            ::unlinkat(failed.get(), entryName(*original).c_str(), 0);
    }
    return overCheckerboard(std::move(picture));
}

void noteNotesInThumbnail(const std::string& root, const std::string& path, ThumbnailSize size,
                          bool carriesNotes)
{
    const auto original = describe(root, path);
    if (!original)
        return;
    const FileDescriptor folder = openEntryFolder(root, entryKind(size), Creation::Existing);
    const std::string name = entryName(*original);
    Entry entry;
    if (lookUpEntry(folder.get(), name, entryKind(size), *original, &entry) !=
            EntryState::Matching ||
        notesNotedIn(entry.labels, *original).known)
        return;
    // Another program's thumbnail is left as that program made it.
    const auto software = textOf(entry.labels, "Software");
    if (!software || software->rfind(kSoftware, 0) != 0)
        return;
    auto picture = readPngBytes({entry.bytes.data(), entry.bytes.size()});
    if (!picture)
        return;
    std::vector<PngText> labels = std::move(entry.labels);
    labels.push_back({kNotesKey, notesLabel(*original, carriesNotes)});
    (void)writePngFileWithText(folder.get(), name, picture.value(), labels, kFilePermissions);
}

Dib overCheckerboard(Dib thumbnail)
{
    // Light greys, so that a cut-out picture stands out from them, in squares small enough for
    // a few to show in the smallest thumbnail.
    constexpr int kSquare = 8;
    constexpr int kGreys[2] = {0xEE, 0xCC};
    // A carrier's note pixels have alpha 254: as opaque as the others.
    constexpr int kOpaqueEnough = 254;
    const auto from = dibGetLayout(thumbnail);
    if (!from || from->bitCount != 32)
        return thumbnail;
    Dib board = Dib::create(from->width, from->height, 24);
    const auto to = dibGetLayout(board);
    if (!to)
        return {};
    for (int32_t y = 0; y < from->height; ++y) {
        // Rows are counted from the top, so that the board starts with a whole square there.
        const size_t row = static_cast<size_t>(from->height - 1 - y);
        const uint8_t* in = thumbnail.data() + from->pixelOffset + row * from->stride;
        uint8_t* out = board.data() + to->pixelOffset + row * to->stride;
        for (int32_t x = 0; x < from->width; ++x, in += 4, out += 3) {
            const int grey = kGreys[(x / kSquare + y / kSquare) % 2];
            const int alpha = in[3] >= kOpaqueEnough ? 255 : in[3];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uint8_t>((in[c] * alpha + grey * (255 - alpha) + 127) / 255);
        }
    }
    return board;
}

Dib scaleDownToFit(const Dib& image, int maxSide, bool keepAlpha)
{
    // Pictures of three or four bytes a pixel are read where they are: a copy of a photograph of
    // many megapixels would cost as much as scaling it.
    const uint16_t sourceBits = DibGetBitCount(image);
    const bool direct = sourceBits == 24 || sourceBits == 32;
    const Dib wide = direct ? Dib() : dibConvertToBitCount(image, 32);
    const Dib& pixels = direct ? image : wide;
    const auto from = dibGetLayout(pixels);
    if (!from || maxSide < 1)
        return {};
    const int64_t width = from->width;
    const int64_t height = from->height;
    int64_t newWidth = width;
    int64_t newHeight = height;
    if (width > maxSide || height > maxSide) {
        // Rounded to the nearest pixel, never below one.
        if (width >= height) {
            newWidth = maxSide;
            newHeight = std::max<int64_t>(1, (height * maxSide + width / 2) / width);
        } else {
            newHeight = maxSide;
            newWidth = std::max<int64_t>(1, (width * maxSide + height / 2) / height);
        }
    }
    const uint16_t bitCount = keepAlpha && DibGetBitCount(image) == 32 ? 32 : 24;
    Dib scaled =
        Dib::create(static_cast<int32_t>(newWidth), static_cast<int32_t>(newHeight), bitCount);
    const auto to = dibGetLayout(scaled);
    if (!to)
        return {};
    const uint8_t* source = pixels.data() + from->pixelOffset;
    const size_t step = from->bitCount / 8u;
    uint8_t* target = scaled.data() + to->pixelOffset;
    const size_t outBytes = bitCount / 8u;
    const bool weighByAlpha = bitCount == 32;
    for (int64_t y = 0; y < newHeight; ++y) {
        const int64_t top = y * height / newHeight;
        const int64_t bottom = std::max(top + 1, (y + 1) * height / newHeight);
        uint8_t* out = target + static_cast<size_t>(y) * to->stride;
        for (int64_t x = 0; x < newWidth; ++x) {
            const int64_t left = x * width / newWidth;
            const int64_t right = std::max(left + 1, (x + 1) * width / newWidth);
            const uint64_t count = static_cast<uint64_t>((bottom - top) * (right - left));
            uint8_t* pixelOut = out + static_cast<size_t>(x) * outBytes;
            if (weighByAlpha)
                averageByAlpha(source, from->stride, top, bottom, left, right, count, pixelOut);
            else
                averagePlain(source, from->stride, step, top, bottom, left, right, count, pixelOut);
        }
    }
    return scaled;
}

} // namespace ombri::reader
