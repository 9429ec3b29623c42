#pragma once

#include "reader/reader_document.h"

#include <string>

namespace ombri::reader {

// Opening: load by extension, check the size, find and extract the notes, then the document's
// bookkeeping. The reader opens silently: a file it cannot read leaves the document empty and
// only an impossible size is told to the user.
class OpenableReaderDocument : public ReaderDocument {
  public:
    using ReaderDocument::ReaderDocument;

    bool OnOpenDocument(const std::string& path) override;

    // Why the last open failed, for callers that do report it (the command line); empty after a
    // successful open.
    const std::string& lastOpenError() const { return m_lastOpenError; }

  private:
    std::string m_lastOpenError;
};

} // namespace ombri::reader
