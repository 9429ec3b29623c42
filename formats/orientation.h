#pragma once

#include "core/bytes.h"
#include "core/dib.h"

namespace ombri {

// How a file's stored rows must be turned and mirrored to stand upright, numbered 1 to 8 as the
// TIFF Orientation tag and EXIF number it: 1 as stored, 2 mirrored left-right, 3 turned half way,
// 4 flipped top-bottom, 5 to 8 with the sides swapped. Every reader reports the stored picture
// and this number; the shared load turns the picture once, so that the programs, the thumbnails
// and every command see it as the camera or the other program meant it.
constexpr int kStoredAsShown = 1;

// The value of a TIFF Orientation tag or an EXIF orientation when it is one of 1 to 8; 1 for
// anything else, as a value no one can act on leaves the picture as stored.
int knownOrientation(long value);

// The orientation tag of IFD0 in TIFF-structured EXIF data: the "II*\0" or "MM\0*" header, the
// offset of IFD0, then its 12-byte entries, every offset and count checked against the bytes
// given. A PNG eXIf chunk holds exactly this. 1 for anything else, and for data that is cut
// short, points outside itself or holds the tag with another type or count.
int exifTiffOrientation(ByteView exif);

// The same for the data of a JPEG APP1 marker, which puts "Exif\0\0" before the TIFF header.
int exifOrientation(ByteView app1);

// A new 24- or 32-bit picture standing as the orientation says: every pixel is moved whole, its
// bytes (alpha and note bits included) kept as they are. Null for other depths and when the new
// picture cannot be allocated.
Dib uprightCopy(const Dib& stored, int orientation);

} // namespace ombri
