#include "writer/reading.h"

#include "formats/dispatch.h"

namespace ombri {

bool Reading::OnOpenDocument(const std::string& path)
{
    DeleteContents();
    m_lastOpenError.clear();
    LoadedImage loaded;
    {
        BusyScope busy(prompt(), "Opening " + path + "...");
        loaded = LoadImageByExtension(path);
    }
    // A format library's own messages (the JPEG library's fatal error) come first, as they
    // happened during the load.
    for (const auto& message : loaded.messages)
        prompt().tell(message.text, message.caption.empty() ? "OmbriWriter" : message.caption,
                      message.isError ? Icon::Error : Icon::Information);
    if (loaded.image.isNull()) {
        m_lastOpenError = loaded.error;
        prompt().reportOpenFailure(path, loaded.error);
        return false;
    }
    switch (CheckLoadedImage(loaded.image)) {
    case ImageCheck::TooLarge:
        m_lastOpenError = kTooLargeMessage;
        prompt().tell(kTooLargeMessage, "Warning", Icon::Information);
        return false;
    case ImageCheck::NoImage:
        m_lastOpenError = "the file does not hold a usable image";
        prompt().reportOpenFailure(path, m_lastOpenError);
        return false;
    case ImageCheck::Ok:
        break;
    }
    m_image = std::move(loaded.image);
    m_width = DibGetWidth(m_image);
    m_height = DibGetHeight(m_image);
    m_pixelWords = std::move(loaded.pixelWords);
    if (loaded.noteLayer)
        m_noteLayer = std::move(loaded.noteLayer);
    // A DPX or Cineon reader has already taken the notes from the pixel words.
    if (m_pixelWords.empty() && HasOmbriSignature(m_image, loaded.signatureRowFlag))
        ExtractNoteLayer(m_image, m_noteLayer);
    if (loaded.format == ImageFormat::Jpeg)
        m_saveDepth = SaveDepth::Bits24;
    SetPathName(path, true);
    SetModified(false);
    m_savePath = path;
    return true;
}

} // namespace ombri
