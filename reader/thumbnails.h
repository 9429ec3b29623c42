#pragma once

#include "core/dib.h"
#include "core/result.h"
#include "reader/memory_budget.h"

#include <functional>
#include <optional>

#include <string>

namespace ombri::reader {

// Small pictures of files, kept in the cache folder every desktop program shares, so a folder
// seen once (by the reader or by another program) lists at once the next time. Entries are named
// and labelled as those programs expect; every function here may run on any thread at once, as
// nothing is kept between calls.
//
// The cache is the user's alone. Its folders, from the root down, are used only when they are
// real folders (no links) of the user's own that nobody else may write in, and are made readable
// by the user only; where one is not, thumbnails are made in memory and nothing is read from or
// written to it. An entry is read only when it is a regular file of the user's own of at most
// 1 MiB, a PNG whose header gives a size its folder holds; anything else counts as no entry and
// is replaced, never written through, when the entry is made.

// The two sizes the cache holds: the longer side at most 128 or 256 pixels.
enum class ThumbnailSize { Normal, Large };

int thumbnailPixels(ThumbnailSize size);

// $XDG_CACHE_HOME/thumbnails when that variable holds an absolute path, otherwise
// $HOME/.cache/thumbnails; empty when neither can be had.
std::string thumbnailCacheRoot();

// "file://" and the absolute path, every byte but letters, digits, "/" and -_.!~*'():@&=+$,
// written as %XX: the key every program sharing the cache computes the same way.
std::string fileUri(const std::string& absolutePath);

// root/normal/<md5 of uri>.png or root/large/<md5 of uri>.png.
std::string thumbnailPath(const std::string& root, const std::string& uri, ThumbnailSize size);

// root/fail/ombri-reader-VERSION/<md5 of uri>.png: where a picture the reader could not read is
// noted, so that it is not read again while it stays as it was.
std::string failedThumbnailPath(const std::string& root, const std::string& uri);

enum class ThumbnailState {
    Fresh,      // the entry is there and made from the file as it is now
    Missing,    // no entry: one is to be made
    Stale,      // an entry made from an older file, or for another one: to be made again
    Failed,     // the file as it is now could not be read; no use trying again
    Unavailable // never thumbnailed: the file cannot be found, or lies in the cache itself
};

ThumbnailState lookUpThumbnail(const std::string& root, const std::string& path,
                               ThumbnailSize size);

// The picture of the file, as loaded and without its notes, scaled down to the size (aspect kept,
// never enlarged); a JPEG picture stood upright as its EXIF orientation says. A fresh entry is
// read back; otherwise the file is read and its entry written, or, when it cannot be read, its
// failure noted. A failure noted for the file as it is now is answered at once without reading
// it again.
//
// Making a thumbnail may read the whole picture, as opening it does; then notes, when given, is
// told whether the picture carries notes, so that the file list need not read it again. The
// answer is kept with the thumbnail, for the file exactly as it is now, and told again when the
// thumbnail is read back.
struct NotesReadOnTheWay {
    bool known = false; // false for a photograph decoded at a fraction of its size, a thumbnail
                        // made by another program or from an older file, or a failure
    bool carriesNotes = false;
};
//
// A thumbnail with see-through pixels is answered laid over a light checkerboard, so that the
// colours a picture keeps under them never show; its entry keeps the alpha, as programs sharing
// the cache expect.
//
// A picture is decoded only once gate, when given, has answered a hold on the memory decoding
// it takes (decodedBytes()); the hold is kept until the decoded picture is gone. Without an
// answer, nothing is made and nothing noted.
using DecodeGate = std::function<std::optional<MemoryBudget::Hold>(uint64_t bytes)>;
Result<Dib> makeThumbnail(const std::string& root, const std::string& path, ThumbnailSize size,
                          NotesReadOnTheWay* notes = nullptr, const DecodeGate& gate = {});

// Adds the picture's notes to its thumbnail when this program made the thumbnail from the file as
// it is now without them (a photograph decoded small): the next visit then needs no whole read of
// it. Nothing for another program's thumbnail or none; a thumbnail is only ever rewritten whole.
void noteNotesInThumbnail(const std::string& root, const std::string& path, ThumbnailSize size,
                          bool carriesNotes);

// The image scaled down so that its longer side is at most maxSide pixels, each new pixel the
// average of those it covers; a copy when it is small enough already. 24-bit, or 32-bit when
// keepAlpha and the image has four bytes a pixel: then each colour is averaged weighed by the
// alpha of its pixels (what shows through), the alpha plainly, and a block with nothing visible
// (or a fully transparent pixel) has colour 0. Null for an unusable image.
Dib scaleDownToFit(const Dib& image, int maxSide, bool keepAlpha);

// A 32-bit thumbnail laid over a checkerboard of two light greys in 8-pixel squares (the top-left
// square the lighter), as a 24-bit picture; alpha 254 counts as opaque. Any other thumbnail is
// answered as it is.
Dib overCheckerboard(Dib thumbnail);

} // namespace ombri::reader
