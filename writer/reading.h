#pragma once

#include "writer/image_operation.h"

#include <string>

namespace ombri::writer {

// Opening: load by extension, check the size, find and extract the notes.
class Reading : public ImageOperation {
  public:
    using ImageOperation::ImageOperation;

    bool OnOpenDocument(const std::string& path) override;

    // Why the last open failed, in words for the user; empty after a successful open.
    const std::string& lastOpenError() const { return m_lastOpenError; }

  private:
    std::string m_lastOpenError;
};

} // namespace ombri::writer
