#pragma once

#include "writer/writer_document.h"

#include <cstdint>
#include <vector>

namespace ombri::writer {

// Adds the pixel words of a DPX or Cineon picture, kept whole so that saving back to those
// formats keeps every 10-bit sample and changes only the note bit.
class ImageOperation : public WriterDocument {
  public:
    using WriterDocument::WriterDocument;

    bool hasPixelWords() const { return !m_pixelWords.empty(); }
    // The marker as the last open found it: none, damaged, or intact in some orientation.
    const SignatureFind& foundSignature() const { return m_foundSignature; }
    const std::vector<uint32_t>& pixelWords() const { return m_pixelWords; }

    void DeleteContents() override;
    // Also clears the note bit of the kept pixel words, so that a cleared DPX or Cineon picture
    // is saved without its old notes.
    void ClearNotes() override;

  protected:
    std::vector<uint32_t> m_pixelWords; // top row first; empty unless from DPX or Cineon
    SignatureFind m_foundSignature;
};

} // namespace ombri::writer
