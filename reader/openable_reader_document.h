#pragma once

#include "reader/reader_document.h"

#include <string>

namespace ombri::reader {

// What the image view says in place of a file it cannot show, from the reason the open failed:
// "Not a picture" for a file of no picture kind, "<name> is truncated" for one that ends too
// early, "<name> is no longer there" for one that went after it was listed.
std::string unshownPictureReason(const std::string& path, const std::string& error);

// Opening: load by extension, check the size, find and extract the notes, then the document's
// bookkeeping. The reader opens without a message box: a file it cannot read leaves the document
// empty with the reason for the image view to show, and only an impossible size is told to the
// user.
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
