#pragma once

#include "writer/reading.h"

#include <string>

namespace ombri {

// Saving: the writer is chosen by the extension of the target, and the notes are embedded in
// the pixels of every format that can carry them.
class Writing : public Reading {
  public:
    using Reading::Reading;

    enum class SaveOutcome {
        Saved,    // the whole file was written
        Declined, // the user answered No to the question about losing the notes
        Refused,  // the extension names no format that can be saved
        Failed,   // the writer could not write the file; the old file is untouched
    };

    bool OnSaveDocument(const std::string& path) override;
    SaveOutcome SaveImageByExtension(const std::string& path);

    // Why the last save did not write, in words for the user.
    const std::string& lastSaveError() const { return m_lastSaveError; }

    static const char* const kJpegQuestion;
    static const char* const kSavableExtensions;

  private:
    SaveOutcome reportFailure(const std::string& path, const std::string& reason);
    SaveOutcome saveCarrier(const std::string& path, bool png);

    std::string m_lastSaveError;
};

} // namespace ombri
