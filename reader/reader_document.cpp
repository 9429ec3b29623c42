#include "reader/reader_document.h"

#include "formats/dispatch.h"
#include "reader/folder_walk.h"

#include <utility>

namespace ombri::reader {

bool Reading::OnOpenDocument(const std::string& path)
{
    DeleteContents();
    m_lastOpenError.clear();
    LoadedImage loaded;
    {
        BusyScope busy(prompt(), "");
        loaded = LoadImageByExtension(path);
    }
    if (loaded.image.isNull()) {
        m_lastOpenError = loaded.error.empty() ? "nothing could be read" : loaded.error;
        return false;
    }
    switch (CheckLoadedImage(loaded.image)) {
    case ImageCheck::TooLarge:
        m_lastOpenError = kTooLargeMessage;
        prompt().tell(kTooLargeMessage, "Warning", Icon::Information);
        return false;
    case ImageCheck::NoImage:
        m_lastOpenError = "the file does not hold a usable image";
        return false;
    case ImageCheck::Ok:
        break;
    }
    std::optional<NoteLayer> notes = std::move(loaded.noteLayer);
    // A DPX or Cineon reader has already taken the notes from its pixel words.
    if (loaded.pixelWords.empty() && HasOmbriSignature(loaded.image, loaded.signatureRowFlag))
        ExtractNoteLayer(loaded.image, notes);
    setLoadedPicture(std::move(loaded.image), std::move(notes));
    SetPathName(AbsolutePath(path), true);
    SetModifiedFlag(false);
    return CLanterDoc::OnOpenDocument(path);
}

} // namespace ombri::reader
