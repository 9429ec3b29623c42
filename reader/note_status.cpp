#include "reader/note_status.h"

namespace ombri::reader {

namespace {

// 1234567 as "1,234,567": note counts of big pictures run to millions.
std::string groupedCount(size_t count)
{
    std::string digits = std::to_string(count);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

// What another program did to the picture, as the end of "found in ...".
const char* turnedPicture(Orientation orientation)
{
    switch (orientation) {
    case Orientation::Mirrored:
        return "a mirrored picture";
    case Orientation::Flipped:
        return "a flipped picture";
    case Orientation::Turned90:
        return "a picture turned 90\u00B0 clockwise";
    case Orientation::Turned180:
        return "a picture turned 180\u00B0";
    case Orientation::Turned270:
        return "a picture turned 90\u00B0 anticlockwise";
    case Orientation::Transposed:
        return "a transposed picture";
    case Orientation::Transversed:
        return "a transversed picture";
    case Orientation::Normal:
        break;
    }
    return "the picture";
}

} // namespace

std::string noteStatusText(const ReaderDocument& doc)
{
    if (!doc.hasImage())
        return {};
    const SignatureFind& signature = doc.foundSignature();
    if (signature.state == SignatureState::Damaged)
        return "Note marker damaged: the notes cannot be read";
    const auto& notes = doc.noteLayer();
    // A DPX or Cineon picture always brings a layer from its pixel words, with or without notes.
    const size_t count = notes ? countNotePixels(*notes) : 0;
    if (!notes || (count == 0 && !signature.intact()))
        return "No notes";
    std::string text = "Notes: " + groupedCount(count) + (count == 1 ? " pixel" : " pixels");
    if (signature.intact() && signature.orientation != Orientation::Normal)
        text += std::string(", found in ") + turnedPicture(signature.orientation);
    return text;
}

} // namespace ombri::reader
