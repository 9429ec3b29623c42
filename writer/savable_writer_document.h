#pragma once

#include "formats/format_table.h"
#include "writer/openable_writer_document.h"

#include <optional>
#include <string>

namespace ombri::writer {

// Saving: the writer is chosen by the extension of the target, and the notes are embedded in
// the pixels of every format that can carry them.
class SavableWriterDocument : public OpenableWriterDocument {
  public:
    using OpenableWriterDocument::OpenableWriterDocument;

    enum class SaveOutcome {
        Saved,    // the whole file was written
        Declined, // the user answered No to the question about losing the notes
        Refused,  // the extension names no format that can be saved
        Failed,   // the writer could not write the file; the old file is untouched
    };

    // The format an extension saves to, in any case; null when no format is saved under it.
    static const ImageFormat* saveFormatFor(const std::string& extension);

    bool OnSaveDocument(const std::string& path) override;
    SaveOutcome SaveImageByExtension(const std::string& path);

    // Save Clean Copy: the save dialog offering the lossless kinds, then saveCleanCopyTo. False
    // when the dialog is cancelled or nothing was written.
    bool SaveCleanCopy();
    // Writes the picture as Clear All and Save would, without a single note and every carrier
    // bit plain in the save depth, while the document keeps its notes, its name and its
    // modified flag. The document's own file is refused: its notes would be gone for good.
    SaveOutcome saveCleanCopyTo(const std::string& path);

    // Why the last save did not write, in words for the user.
    const std::string& lastSaveError() const { return m_lastSaveError; }

    // The narrowest picture a save to the path keeps notes in (the signature needs a row of
    // 23 bytes), or 0 when the width does not matter: the kind carries no notes at all (JPEG),
    // or carries them without a signature (DPX, Cineon).
    int minimumWidthForNotes(const std::string& path) const;
    // Whether saving to the path would lose notes the document holds because the picture is too
    // narrow for the signature of that kind of file.
    bool pictureTooNarrowForNotes(const std::string& path) const;
    // Whether a file saved to the path keeps every note the document holds: not a JPEG, a name
    // no format is saved under, nor a picture too narrow for the signature of its kind.
    bool savingKeepsNotes(const std::string& path) const;

    // The file the picture was opened from or is saved to, by any name: a symbolic or hard link
    // to it, or its own path spelled another way.
    bool isOwnFile(const std::string& path) const;

    static const char* const kJpegQuestion;

  private:
    // Where the interleaved marker goes in the prepared pixels: BMP keeps the rows bottom-up as
    // in memory, every other format writes the last row in memory first.
    enum class SignatureRow { None, First, Last };
    enum class Notes { Embed, Leave };

    SaveOutcome reportFailure(const std::string& path, const std::string& reason);
    bool hasNotePixels() const;
    SaveOutcome writeFormat(const std::string& path, const ImageFormat& format, Notes notes);
    // The pixels the format's writer takes, and the notes it writes itself (formatNotes). Reads
    // the document only, as it runs while the window is painting.
    const Dib* pixelsToWrite(const ImageFormat& format, Notes notes, Dib& owned,
                             const NoteLayer*& formatNotes) const;
    const Dib* preparePixels(uint16_t bitCount, SignatureRow signatureRow, Notes notes,
                             Dib& owned) const;
    bool writesKindOf(const std::string& path) const override
    {
        return saveFormatFor(FileExtension(path)) != nullptr;
    }
    bool keepsOwnAlpha(const ImageFormat& format) const;
    std::optional<RowSource> rowsToWrite(const ImageFormat& format, Notes notes) const;

    std::string m_lastSaveError;
};

} // namespace ombri::writer
