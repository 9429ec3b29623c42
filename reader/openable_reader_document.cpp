#include "reader/openable_reader_document.h"

#include "core/printable_name.h"
#include "formats/dispatch.h"
#include "reader/folder_walk.h"

#include <utility>

namespace ombri::reader {

bool OpenableReaderDocument::OnOpenDocument(const std::string& path)
{
    DeleteContents();
    m_lastOpenError.clear();
    LoadedImage loaded;
    {
        BusyScope busy(prompt(), "Opening " + printableName(path) + "...");
        loaded = loadCheckedImage(path);
    }
    if (loaded.image.isNull()) {
        m_lastOpenError = loaded.error;
        if (loaded.tooLarge)
            prompt().tell(kTooLargeMessage, "Warning", Icon::Information);
        return false;
    }
    std::optional<NoteLayer> notes = std::move(loaded.noteLayer);
    setLoadedPicture(std::move(loaded.image), std::move(notes), loaded.signature);
    SetPathName(absolutePath(path), true);
    SetModifiedFlag(false);
    return ReaderDocument::OnOpenDocument(path);
}

} // namespace ombri::reader
