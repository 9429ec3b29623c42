#include "reader/adjustments.h"

#include "reader/adjustment_kernels.h"
#include "reader/command_ids.h"

#include <cstring>
#include <optional>
#include <utility>

namespace ombri::reader {

namespace {

using detail::isGeometricDepth;
using detail::quarterTurnedBlock;
using detail::turnNotesInto;

constexpr uint16_t kChannelFlags = kFlagRed | kFlagGreen | kFlagBlue;
constexpr uint16_t kRotationFlags =
    kFlagRotatedClockwise | kFlagRotatedAnticlockwise | kFlagRotated180;

// ---------------------------------------------------------------------------------------------
// Commands and menu rules

enum class Enabling { ColourPicture, AnyPicture, Never };
enum class Checking { ByCode, ByFlag, Never };

struct CommandRule {
    int command;
    uint16_t flag; // the flag the command toggles or shows; 0 for none
    Enabling enabling;
    Checking checking;
};

constexpr CommandRule kCommandRules[] = {
    {cmd::Original, 0, Enabling::ColourPicture, Checking::ByCode},
    {cmd::AutoColour, 0, Enabling::ColourPicture, Checking::ByCode},
    {cmd::AutoContrast, kFlagAutoContrast, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::InvertColour, kFlagInvert, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::BlackAndWhite, kFlagBlackAndWhite, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::ChannelRed, kFlagRed, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::ChannelGreen, kFlagGreen, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::ChannelBlue, kFlagBlue, Enabling::ColourPicture, Checking::ByFlag},
    {cmd::FlipHorizontal, kFlagFlipHorizontal, Enabling::AnyPicture, Checking::ByFlag},
    {cmd::FlipVertical, kFlagFlipVertical, Enabling::AnyPicture, Checking::ByFlag},
    {cmd::RotateClockwise, 0, Enabling::AnyPicture, Checking::Never},
    {cmd::RotateAnticlockwise, 0, Enabling::AnyPicture, Checking::Never},
    // Rotate 180 has no handler: shown, but never enabled.
    {cmd::Rotate180, 0, Enabling::Never, Checking::Never},
};

const CommandRule* ruleFor(int command)
{
    for (const auto& rule : kCommandRules)
        if (rule.command == command)
            return &rule;
    return nullptr;
}

// Each rotation command walks the quarter turns one way: none, a quarter, a half, three quarters.
uint16_t nextRotation(uint16_t current, bool clockwise)
{
    const uint16_t quarter = clockwise ? kFlagRotatedClockwise : kFlagRotatedAnticlockwise;
    const uint16_t threeQuarters = clockwise ? kFlagRotatedAnticlockwise : kFlagRotatedClockwise;
    if (current == quarter)
        return kFlagRotated180;
    if (current == kFlagRotated180)
        return threeQuarters;
    if (current == threeQuarters)
        return 0;
    return quarter;
}

} // namespace

bool Adjustments::apply(int command)
{
    switch (command) {
    case cmd::Original:
        if (code == kCodeOriginal && flags == 0)
            return false;
        code = kCodeOriginal;
        flags = 0;
        return true;
    case cmd::AutoColour:
        // Auto Color and the channel views exclude each other.
        if (code == kCodeAutoColour) {
            code = kCodeOriginal;
        } else {
            flags = static_cast<uint16_t>(flags & ~kChannelFlags);
            code = kCodeAutoColour;
        }
        return true;
    case cmd::ChannelRed:
    case cmd::ChannelGreen:
    case cmd::ChannelBlue: {
        const uint16_t channel = ruleFor(command)->flag;
        if (flags & channel) {
            flags = static_cast<uint16_t>(flags & ~channel);
            code = (flags & kChannelFlags) ? kCodeNone : kCodeOriginal;
        } else {
            flags = static_cast<uint16_t>(flags | channel);
            code = kCodeNone;
        }
        return true;
    }
    case cmd::AutoContrast:
    case cmd::InvertColour:
    case cmd::BlackAndWhite:
    case cmd::FlipHorizontal:
    case cmd::FlipVertical:
        flags = static_cast<uint16_t>(flags ^ ruleFor(command)->flag);
        return true;
    case cmd::RotateClockwise:
    case cmd::RotateAnticlockwise: {
        const uint16_t next = nextRotation(flags & kRotationFlags, command == cmd::RotateClockwise);
        flags = static_cast<uint16_t>((flags & ~kRotationFlags) | next);
        return true;
    }
    default:
        return false;
    }
}

bool Adjustments::isEnabled(int command, uint16_t bitCount) const
{
    const CommandRule* rule = ruleFor(command);
    if (!rule)
        return false;
    switch (rule->enabling) {
    case Enabling::ColourPicture:
        return bitCount == 24 || bitCount == 32;
    case Enabling::AnyPicture:
        return bitCount != 0;
    case Enabling::Never:
        return false;
    }
    return false;
}

bool Adjustments::isChecked(int command) const
{
    const CommandRule* rule = ruleFor(command);
    if (!rule)
        return false;
    switch (rule->checking) {
    case Checking::ByCode:
        return code == command;
    case Checking::ByFlag:
        return (flags & rule->flag) != 0;
    case Checking::Never:
        return false;
    }
    return false;
}

namespace {

// The turn in force; the flags hold at most one, and should they hold more the half turn wins,
// then the anticlockwise quarter.
std::optional<Rotation> rotationOf(uint16_t flags)
{
    if (flags & kFlagRotated180)
        return Rotation::HalfTurn;
    if (flags & kFlagRotatedAnticlockwise)
        return Rotation::Anticlockwise;
    if (flags & kFlagRotatedClockwise)
        return Rotation::Clockwise;
    return std::nullopt;
}

// The colour operations, in their fixed order.
void applyColourSteps(Dib& display, int32_t code, uint16_t flags)
{
    if (code == kCodeAutoColour)
        AutoColor(display);
    // One or two channels: the others go dark. None or all three: the picture as it is.
    const uint16_t channels = flags & kChannelFlags;
    if (channels != 0 && channels != kChannelFlags)
        ShowChannels(display, channels);
    if (flags & kFlagBlackAndWhite)
        Grayscale(display);
    if (flags & kFlagInvert)
        InvertColors(display);
    if (flags & kFlagAutoContrast)
        AutoContrast(display);
}

// The flips, which come after the rotation.
void applyFlips(Dib& display, uint16_t flags, NoteLayer* notes)
{
    if (flags & kFlagFlipHorizontal)
        FlipHorizontal(display, notes);
    if (flags & kFlagFlipVertical)
        FlipVertical(display, notes);
}

} // namespace

void ApplyAdjustments(Dib& display, int32_t code, uint16_t flags, NoteLayer* notes)
{
    applyColourSteps(display, code, flags);
    if (auto rotation = rotationOf(flags))
        RotateImage(display, notes, *rotation);
    applyFlips(display, flags, notes);
}

Dib makeAdjustedCopy(const Dib& image, int32_t code, uint16_t flags, const NoteLayer* notes,
                     NoteLayer* noteCopy, Dib spare)
{
    // The colour steps treat every pixel alike (Auto Color and Auto Contrast look at all of them
    // together), so they give the same bytes before or after a turn: a quarter turn can be the
    // copy itself, and the colour steps follow it.
    const auto rotation = rotationOf(flags);
    auto layout = dibGetLayout(image);
    if (rotation && *rotation != Rotation::HalfTurn && layout &&
        isGeometricDepth(layout->bitCount)) {
        const size_t width = static_cast<size_t>(layout->width);
        const size_t height = static_cast<size_t>(layout->height);
        const bool moveNotes = notes && noteCopy && notes->size() == width * height;
        Dib turned = quarterTurnedBlock(image, *layout, *rotation, &spare);
        const bool notesMoved = !turned.isNull() && moveNotes &&
                                turnNotesInto(*notes, width, height, *rotation, *noteCopy);
        if (!turned.isNull() && (!moveNotes || notesMoved)) {
            NoteLayer* movedNotes = nullptr;
            if (notes && noteCopy) {
                if (!moveNotes)
                    *noteCopy = *notes;
                movedNotes = noteCopy;
            }
            applyColourSteps(turned, code, flags);
            applyFlips(turned, flags, movedNotes);
            return turned;
        }
        // The turned block (or the turned layer) could not be had: the turn is skipped, as
        // ApplyAdjustments would, and a block had for it serves the plain copy.
        spare = std::move(turned);
        flags = static_cast<uint16_t>(flags & ~kRotationFlags);
    }
    Dib copy;
    if (spare.refit(image.size())) {
        copy = std::move(spare);
        std::memcpy(copy.data(), image.data(), image.size());
    } else {
        spare.reset();
        copy = image.clone();
    }
    if (copy.isNull())
        return copy;
    NoteLayer* movedNotes = nullptr;
    if (notes && noteCopy) {
        *noteCopy = *notes;
        movedNotes = noteCopy;
    }
    ApplyAdjustments(copy, code, flags, movedNotes);
    return copy;
}

} // namespace ombri::reader
