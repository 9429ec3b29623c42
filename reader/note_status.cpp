#include "reader/note_status.h"

#include "formats/dispatch.h"

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

} // namespace

std::string noteStatusText(const ReaderDocument& doc)
{
    if (!doc.hasImage())
        return {};
    const SignatureFind& signature = doc.foundSignature();
    if (signature.state == SignatureState::Damaged)
        return "Note signature damaged: the notes cannot be read";
    const auto& notes = doc.noteLayer();
    // A DPX or Cineon picture always brings a layer from its pixel words, with or without notes.
    const size_t count = notes ? countNotePixels(*notes) : 0;
    if (!notes || (count == 0 && !signature.intact()))
        return "No notes";
    std::string text = "Notes: " + groupedCount(count) + (count == 1 ? " pixel" : " pixels");
    if (signature.intact() && signature.orientation != Orientation::Normal)
        text += std::string(", found in ") + turnedPictureDescription(signature.orientation);
    return text;
}

std::optional<bool> fileCarriesNotes(const std::string& path)
{
    const LoadedImage loaded = loadCheckedImage(path);
    if (loaded.image.isNull())
        return std::nullopt;
    return carriesNotes(loaded);
}

} // namespace ombri::reader
