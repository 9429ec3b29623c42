#include "cli/document_io.h"

#include "core/file_io.h"
#include "core/printable_name.h"
#include "formats/dispatch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace ombri::cli {

using writer::SavableWriterDocument;
namespace fs = std::filesystem;

namespace {

// JPEG is the one kind of file the writer saves without the notes.
bool losesNotes(const std::string& path)
{
    const ImageFormat* format = SavableWriterDocument::saveFormatFor(FileExtension(path));
    return format && !savesNotes(*format);
}

void reportLossyRefusal(std::ostream& err, const std::string& path)
{
    err << "ombri: " << printableName(path)
        << " cannot carry notes: JPEG files lose them (use --lossy to save anyway)\n";
}

} // namespace

bool inputIsUsable(Context& context, const std::string& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        context.prompt.reportOpenFailure(path, error ? error.message() : "no such file");
        return false;
    }
    if (fs::is_directory(status)) {
        context.prompt.reportOpenFailure(
            path, "it is a folder, not a picture; name a picture file (only info looks into "
                  "folders)");
        return false;
    }
    if (fs::is_regular_file(status) && fs::file_size(path, error) == 0 && !error) {
        context.prompt.reportOpenFailure(path, "the file is empty; it holds no picture");
        return false;
    }
    return true;
}

std::optional<Exit> checkOutput(Context& context, const char* command,
                                const std::vector<std::string>& inputs, const std::string& target,
                                const char* pngOnly)
{
    const std::string prefix =
        std::string(command) + ": cannot write '" + printableName(target) + "': ";
    std::error_code error;
    if (fs::is_directory(target, error)) {
        context.err << "ombri: " << prefix << "it is a folder; name a file to write\n";
        return Exit::WriteFailed;
    }
    const std::string extension = FileExtension(target);
    if (pngOnly && loadFormatForExtension(extension) != &kPngFormat) {
        const std::string reason = std::string(pngOnly) + " is written as PNG";
        return usageError(context.err, prefix + reason + "; name the output with .png at the end");
    }
    if (!pngOnly && !SavableWriterDocument::saveFormatFor(extension)) {
        const std::string hint = "choose a name ending in one of " + savableExtensionList();
        return usageError(context.err, prefix + "ombri cannot save that kind of file; " + hint);
    }
    for (const auto& input : inputs) {
        if (!fs::equivalent(input, target, error) || error)
            continue;
        const std::string clash = std::string(command) + ": the output '" + printableName(target) +
                                  "' is the input '" + printableName(input) + "'";
        return usageError(context.err,
                          clash + "; write to another file so that the input stays as it is");
    }
    fs::path folder = fs::path(target).parent_path();
    if (folder.empty())
        folder = ".";
    if (!fs::is_directory(folder, error)) {
        context.err << "ombri: " << prefix << "there is no folder '"
                    << printableName(folder.string())
                    << "'; create it first or write somewhere else\n";
        return Exit::WriteFailed;
    }
    // A file that is there may still be saved in place when its folder takes no new file.
    struct stat entry {};
    if (::lstat(target.c_str(), &entry) != 0 && access(folder.c_str(), W_OK | X_OK) != 0) {
        context.err << "ombri: " << prefix << "the folder '" << printableName(folder.string())
                    << "' cannot be written to (" << std::strerror(errno)
                    << "); write somewhere else\n";
        return Exit::WriteFailed;
    }
    if (const std::string refused = saveRefusal(target); !refused.empty()) {
        context.err << "ombri: " << prefix << refused << '\n';
        return Exit::WriteFailed;
    }
    return std::nullopt;
}

bool openDocument(SavableWriterDocument& doc, Context& context, const std::string& path)
{
    if (!inputIsUsable(context, path))
        return false;
    const size_t reportedBefore = context.prompt.openFailureCount();
    if (doc.OnOpenDocument(path))
        return true;
    if (context.prompt.openFailureCount() == reportedBefore)
        context.prompt.reportOpenFailure(path, doc.lastOpenError());
    return false;
}

Exit saveDocument(SavableWriterDocument& doc, const Invocation& invocation, Context& context,
                  const std::string& target)
{
    if (invocation.depth)
        doc.setSaveDepth(*invocation.depth);
    const bool notesAtStake = doc.hasNoteLayer() && losesNotes(target);
    // Refused here, before the document asks, so that nothing about JPEG is printed and no
    // file is touched unless the user chose to lose the notes.
    if (notesAtStake && !invocation.lossy) {
        reportLossyRefusal(context.err, target);
        return Exit::Usage;
    }
    // A picture narrower than the signature keeps no notes in this kind of file: nothing is
    // written unless the user chose to lose them.
    if (doc.pictureTooNarrowForNotes(target) && !invocation.lossy) {
        context.err << "ombri: " << printableName(target) << " cannot carry notes: the picture is "
                    << doc.width() << " pixels wide and needs at least "
                    << doc.minimumWidthForNotes(target)
                    << " to keep them (use --lossy to save without them)\n";
        return Exit::WriteFailed;
    }
    // From here on nothing is lost that the user has not agreed to lose, so the document's
    // question about saving to JPEG is answered yes.
    context.prompt.setQuestionAnswer(Answer::Yes);
    switch (doc.SaveImageByExtension(target)) {
    case SavableWriterDocument::SaveOutcome::Saved:
        return Exit::Done;
    case SavableWriterDocument::SaveOutcome::Declined: // both questions a save asks were answered
                                                       // yes above
        reportLossyRefusal(context.err, target);
        return Exit::Usage;
    case SavableWriterDocument::SaveOutcome::Refused:
    case SavableWriterDocument::SaveOutcome::Failed:
        break;
    }
    return Exit::WriteFailed;
}

} // namespace ombri::cli
