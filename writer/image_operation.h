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
    // The last open found the notes behind an intact marker that another program had turned or
    // mirrored with the picture. DPX and Cineon files keep their notes without a marker.
    bool notesFoundTurned() const
    {
        return m_pixelWords.empty() && m_foundSignature.intact() &&
               m_foundSignature.orientation != Orientation::Normal;
    }
    const std::vector<uint32_t>& pixelWords() const { return m_pixelWords; }
    // The ICC profile the file embeds, for `ombri info` to name; empty when it has none. Saving
    // never writes it: the writer's files keep the pixels as stored, which carry the notes.
    const std::vector<uint8_t>& colourProfile() const { return m_colourProfile; }

    void DeleteContents() override;

  protected:
    // Clear All also clears the note bit of the kept pixel words, so that a cleared DPX or
    // Cineon picture is saved without its old notes.
    std::vector<uint32_t>* keptPixelWords() override { return &m_pixelWords; }

    std::vector<uint32_t> m_pixelWords; // top row first; empty unless from DPX or Cineon
    SignatureFind m_foundSignature;
    std::vector<uint8_t> m_colourProfile;
};

} // namespace ombri::writer
