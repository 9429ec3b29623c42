#pragma once

#include "core/dib.h"
#include "notes/carrier.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ombri::test {

// A fresh empty folder under the system's temporary folder, removed with everything in it when
// the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

// A 24- or 32-bit image whose every byte is a function of its position (and the seed), so that
// a moved, dropped or changed byte shows. Padding bytes are zero.
Dib makePatternImage(int32_t width, int32_t height, uint16_t bitCount, uint32_t seed = 1);

// A note layer with a deterministic scatter of notes (about one pixel in three).
NoteLayer makePatternNotes(int32_t width, int32_t height, uint32_t seed = 7);

// The bytes of one pixel: row y counted from the top, as in the picture.
const uint8_t* pixelAt(const Dib& dib, int32_t x, int32_t yFromTop);

// The picture as another program leaves it after turning or mirroring it (Orientation names
// what was done), and a note layer moved the same way, for a layer of width x height.
Dib orientedCopy(const Dib& image, Orientation orientation);
NoteLayer orientedNotes(const NoteLayer& notes, int32_t width, int32_t height,
                        Orientation orientation);

// A 24-bit picture in four plain quadrants, so that a turned or mirrored copy shows which way it
// went: kQuadrantColours lists them red first, top-left, top-right, bottom-left, bottom-right.
extern const uint8_t kQuadrantColours[4][3];
Dib makeQuadrantImage(int32_t width, int32_t height);

// The data of an APP1 marker ("Exif\0\0" and a TIFF header) whose IFD0 holds an image width
// and then the orientation, in big- or little-endian order.
std::vector<uint8_t> exifOrientationMarker(uint16_t orientation, bool bigEndian);

// The JPEG file with an APP1 marker of this data right after its start-of-image marker.
std::vector<uint8_t> withApp1Marker(const std::vector<uint8_t>& jpeg,
                                    const std::vector<uint8_t>& data);

// Where withPngChunk puts a chunk: right after the header chunk, or after the image data, just
// before the end chunk (where the format allows text and EXIF chunks too).
enum class ChunkPlace { AfterHeader, AfterImage };

// The PNG file with one more chunk of this type and data, its checksum right.
std::vector<uint8_t> withPngChunk(const std::vector<uint8_t>& png, const char* type,
                                  const std::vector<uint8_t>& data, ChunkPlace place);

std::vector<uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool fileExists(const std::string& path);

// Runs a command line through the shell: empty when it succeeds, else the command and what it
// printed, for a failure message.
std::string runCommand(const std::string& command);

} // namespace ombri::test
