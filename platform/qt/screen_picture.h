#pragma once

#include "core/dib.h"
#include "notes/render.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <optional>
#include <vector>

namespace ombri {

// How the picture as shown lies over the stored one, so that a turn or a flip costs one frame
// rather than a copy of the picture. A shown pixel (x, y) comes from the stored column given by
// y when exchange is set and by x otherwise, counted from the right when reverseColumns is set;
// its stored row is given by the other coordinate, counted from the bottom when reverseRows is.
struct ScreenAxes {
    bool exchange = false;
    bool reverseColumns = false;
    bool reverseRows = false;
};

enum class NoteLook { Painted, Blended, Complemented };

// Which of the note layer's blending formulas the picture's own depth calls for: a 24-bit
// picture truncates its share before the colour is added, a 32-bit one after.
enum class NoteDepth { Bits24, Bits32 };

// What one frame shows and where.
struct ScreenFrame {
    QRect destination; // where the whole shown picture lands, in frame pixels
    ScreenAxes axes;
    // Below 100% the picture is shrunk by averaging areas and its notes by keeping every note
    // pixel; without it every screen pixel shows one picture pixel, as at and above 100%.
    bool smoothShrinking = true;
    bool showNotes = false;
    ColourRef noteColour = 0;
    NoteLook noteLook = NoteLook::Blended;
};

// A picture made ready for the screen: it renders only the part of the picture a frame shows,
// at the frame's scale. Reduced copies of the picture and of its notes are made on first need
// and kept until the picture changes.
class ScreenPicture {
  public:
    // Below 100% the picture is shrunk from the largest of its reduced copies that holds at most
    // this many pixels: the closer to the picture itself, the closer each screen pixel comes to
    // the exact average of its area, and the more there is to read for each frame.
    static constexpr size_t kLevelBudget = size_t{1} << 23;

    explicit ScreenPicture(size_t levelBudget = kLevelBudget) : m_levelBudget(levelBudget) {}

    // The picture as stored (unturned, colours adjusted), top row first: 32-bit RGB, or
    // premultiplied ARGB when it has see-through pixels to be shown over a checkerboard. notes,
    // when not null, is its note layer (width x height, rows bottom first) and must stay valid
    // until the next setPicture or clear.
    void setPicture(QImage picture, const uint8_t* notes = nullptr,
                    NoteDepth depth = NoteDepth::Bits24);
    void clear();
    bool isNull() const { return m_levels.empty(); }
    // The size as stored, before any turn.
    QSize size() const;
    bool showsTransparency() const { return m_transparent; }

    // Paints the destination's part of the frame (32-bit RGB, one pixel per screen pixel); the
    // rest of the frame is left as it is.
    void render(QImage& frame, const ScreenFrame& request);

    // Whether shrinking may use the processor's 256-bit lanes where it has them (it may unless
    // told otherwise). Both weighings give the very same pixels; this lets the narrower one be
    // compared with the wider on processors that have both.
    static void allowWideLanes(bool allowed);

    // The display copy made ready: 32-bit pictures with transparency keep their alpha, alpha 254
    // and 255 counting as opaque so that carrier bits never show; the rest become opaque RGB.
    // Pictures with a colour table are looked up once here.
    static QImage fromDib(const Dib& dib, bool transparency);

  private:
    struct NoteLevel {
        int width = 0;
        int height = 0;
        std::vector<uint8_t> marks; // top row first; 1 where a note pixel lies in the block
    };
    struct Taps;
    // Which part of the picture, at which scale and turn, the kept screen pixels show.
    struct ShrinkKey {
        QRect destination;
        QRect visible;
        bool exchange = false;
        bool reverseColumns = false;
        bool reverseRows = false;
        bool operator==(const ShrinkKey& other) const
        {
            return destination == other.destination && visible == other.visible &&
                   exchange == other.exchange && reverseColumns == other.reverseColumns &&
                   reverseRows == other.reverseRows;
        }
        bool operator!=(const ShrinkKey& other) const { return !(*this == other); }
    };

    void renderSharp(QImage& frame, const ScreenFrame& request, const QRect& visible);
    void renderSmooth(QImage& frame, const ScreenFrame& request, const QRect& visible);
    const QImage& level(int index);
    const NoteLevel& noteLevel(int index);
    int levelFor(const ScreenFrame& request, QSize shown, size_t budget) const;
    QSize noteLevelSize(int index);
    uint8_t noteMark(int levelIndex, int x, int y);
    uint8_t blendedByte(int sum, int total, int channel, uint8_t value, ColourRef colour);
    uint32_t blendedAt(uint32_t pixel, int x, int y, ColourRef colour);
    // The visible screen pixels, in the stored picture's orientation, into m_shrunk and
    // m_coverage.
    void shrinkPicture(const QImage& reduced, const Taps& columnTaps, const Taps& rowTaps);
    void shrinkNotes(int index, const Taps& columnTaps, const Taps& rowTaps);
    // The composed screen pixels of an exchanged frame onto the frame's columns.
    void placeExchanged(QImage& frame, const QRect& across, size_t columns, size_t rows) const;

    size_t m_levelBudget;
    std::vector<QImage> m_levels;        // the picture, then each half the size of the one before
    std::vector<NoteLevel> m_noteLevels; // from level 1 on; level 0 is the layer itself
    const uint8_t* m_notes = nullptr;
    NoteDepth m_noteDepth = NoteDepth::Bits24;
    bool m_transparent = false;
    // Blended bytes by weighted note count, for the colour they were made for.
    std::vector<uint8_t> m_blendTable;
    ColourRef m_blendColour = 0;
    // Work rows, kept between frames so that a frame allocates nothing.
    std::vector<int16_t> m_rowSums;
    std::vector<uint32_t> m_shrunk;
    std::vector<uint32_t> m_acrossPairs;
    std::vector<uint32_t> m_composed;
    std::vector<uint32_t> m_coverage;
    std::vector<uint32_t> m_noteSums;
    std::optional<ShrinkKey> m_shrunkFor;
    std::optional<ShrinkKey> m_coverageFor;
};

} // namespace ombri
