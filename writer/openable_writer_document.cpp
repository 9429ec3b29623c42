#include "writer/openable_writer_document.h"

#include "core/printable_name.h"
#include "formats/dispatch.h"

namespace ombri::writer {

bool OpenableWriterDocument::OnOpenDocument(const std::string& path)
{
    std::optional<LoadedImage> loaded = readPicture(path);
    if (!loaded)
        return false;
    adoptPicture(path, std::move(*loaded));
    return true;
}

std::optional<LoadedImage> OpenableWriterDocument::readPicture(const std::string& path)
{
    m_lastOpenError.clear();
    LoadedImage loaded;
    {
        BusyScope busy(prompt(), "Opening " + printableName(path) + "...");
        loaded = loadCheckedImage(path);
    }
    // A format library's own messages (the JPEG library's fatal error) come first, as they
    // happened during the load.
    for (const auto& message : loaded.messages)
        prompt().tell(message.text, message.caption.empty() ? "OmbriWriter" : message.caption,
                      message.isError ? Icon::Error : Icon::Information);
    if (loaded.tooLarge) {
        m_lastOpenError = loaded.error;
        prompt().tell(kTooLargeMessage, "Warning", Icon::Information);
        return std::nullopt;
    }
    if (loaded.image.isNull()) {
        m_lastOpenError = loaded.error;
        prompt().reportOpenFailure(path, loaded.error);
        return std::nullopt;
    }
    return loaded;
}

void OpenableWriterDocument::adoptPicture(const std::string& path, LoadedImage loaded)
{
    DeleteContents();
    m_lastOpenError.clear();
    m_image = std::move(loaded.image);
    m_displayPalette = std::move(loaded.displayPalette);
    m_width = DibGetWidth(m_image);
    m_height = DibGetHeight(m_image);
    m_pixelWords = std::move(loaded.pixelWords);
    m_noteLayer = std::move(loaded.noteLayer);
    m_foundSignature = loaded.signature;
    m_colourProfile = std::move(loaded.colourProfile);
    if (loaded.format == &kJpegFormat)
        m_saveDepth = SaveDepth::Bits24;
    SetPathName(path, true);
    // Notes found in a turned or mirrored picture are shown and edited as usual, but the file no
    // longer says where they are for other readers; saving writes the marker back in place.
    SetModified(notesFoundTurned());
    m_savePath = path;
}

} // namespace ombri::writer
