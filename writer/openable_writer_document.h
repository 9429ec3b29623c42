#pragma once

#include "formats/dispatch.h"
#include "writer/image_operation.h"

#include <optional>
#include <string>

namespace ombri::writer {

// Opening: load by extension, check the size, find and extract the notes.
class OpenableWriterDocument : public ImageOperation {
  public:
    using ImageOperation::ImageOperation;

    // Reads the picture, then makes it the document's; a file that cannot be opened leaves the
    // document as it was.
    bool OnOpenDocument(const std::string& path) override;

    // Reads and checks a picture, its notes found and extracted, without touching the document;
    // what the format library has to say is told on the way. Nothing when the file cannot be
    // opened, after the report saying why.
    std::optional<LoadedImage> readPicture(const std::string& path);
    // The picture readPicture gave becomes the document's, in place of the one it held.
    void adoptPicture(const std::string& path, LoadedImage loaded);

    // Why the last open failed, in words for the user; empty after a successful open.
    const std::string& lastOpenError() const { return m_lastOpenError; }

  private:
    std::string m_lastOpenError;
};

} // namespace ombri::writer
