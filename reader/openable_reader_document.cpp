#include "reader/openable_reader_document.h"

#include "core/printable_name.h"
#include "formats/dispatch.h"
#include "formats/format_table.h"
#include "reader/folder_walk.h"

#include <sys/stat.h>

#include <filesystem>
#include <utility>

namespace ombri::reader {

namespace {

bool startsWith(const std::string& text, const char* start)
{
    return text.rfind(start, 0) == 0;
}

} // namespace

std::string unshownPictureReason(const std::string& path, const std::string& error)
{
    const std::string name = printableName(std::filesystem::path(path).filename().string());
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return name + " is no longer there";
    // Each reader says "not a ... file" when the first bytes are not its format's, and the
    // dispatcher names an extension of no picture kind.
    if (!formatOfPath(path) || startsWith(error, "not a"))
        return "Not a picture";
    if (startsWith(error, "the file ends"))
        return name + " is truncated";
    return name + " cannot be shown: " + error;
}

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
        setUnshownReason(unshownPictureReason(path, loaded.error));
        if (loaded.tooLarge)
            prompt().tell(kTooLargeMessage, "Warning", Icon::Information);
        return false;
    }
    std::optional<NoteLayer> notes = std::move(loaded.noteLayer);
    const bool seeThrough = hasSeeThroughPixels(loaded);
    setLoadedPicture(std::move(loaded.image), std::move(notes), loaded.signature, seeThrough,
                     loaded.colourProfile);
    SetPathName(absolutePath(path), true);
    SetModifiedFlag(false);
    return ReaderDocument::OnOpenDocument(path);
}

} // namespace ombri::reader
