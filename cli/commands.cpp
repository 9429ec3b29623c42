#include "cli/commands.h"

#include "cli/render_command.h"
#include "cli/terminal_prompt.h"
#include "core/dib.h"
#include "core/file_io.h"
#include "formats/diagnostics.h"
#include "formats/dispatch.h"
#include "reader/folder_walk.h"
#include "writer/writing.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace ombri::cli {

using writer::Writing;

namespace {

constexpr const char* kToolUsage =
    "Usage: ombri COMMAND [ARGUMENTS]\n"
    "Reads and writes the notes hidden in the lowest bit of a picture's pixels.\n"
    "\n"
    "Commands:\n"
    "  info [-r] [--json] PATH...         describe each picture and its notes; a folder\n"
    "                                     stands for the pictures in it\n"
    "  notes FILE -o MASK.png             write the note layer as a grey PNG\n"
    "  embed IMAGE MASK -o OUT [--depth 24|32] [--lossy]\n"
    "                                     add the dark pixels of MASK to the notes\n"
    "  convert IN OUT [--depth 24|32] [--lossy]\n"
    "                                     save a picture and its notes as another file\n"
    "  clear IN -o OUT [--depth 24|32]    save a picture without its notes\n"
    "  render FILE -o OUT.png [--hide-notes] [--color C] [--complement] [--no-aa]\n"
    "         [--adjust LIST]             write the picture as the reader shows it\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  the file to write; never one of the inputs\n"
    "  --depth 24|32      carry the notes in the alpha byte of a 32-bit file, or in the\n"
    "                     blue byte of a 24-bit one (default: 32; 24 for JPEG)\n"
    "  --lossy            save even though the notes are lost: to JPEG, or a picture\n"
    "                     too narrow to carry them\n"
    "  --hide-notes, --color, --complement, --no-aa, --adjust\n"
    "                     how render shows the notes and the picture ('ombri render --help')\n"
    "  -r, --recursive    info: look in every folder below each folder too\n"
    "  --json             info: one JSON object per line instead of text blocks\n"
    "  --verbose          print what the file readers find (headers, library errors)\n"
    "  --help             show this help, or a command's help after the command\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 done, 1 usage error, 2 unreadable input, 3 no notes,\n"
    "4 the output could not be written.\n";

constexpr const char* kInfoDescription =
    "Describes each picture: its format, size and bit count, whether it carries notes and\n"
    "how many pixels are notes. A file that cannot be read is reported and skipped.\n"
    "\n"
    "A folder stands for the pictures directly in it, or with -r for every picture below\n"
    "it, in name order without regard to case, a folder's pictures taking the folder's place\n"
    "among the names. Names starting with \".\" are skipped and linked folders are not\n"
    "followed. A picture is a file whose name ends in an extension ombri reads: bmp, png,\n"
    "jpg, tif, tiff, rgb, dpx, cin, gif or pcx, in small or in capital letters.\n"
    "\n"
    "Each picture is a block of \"key: value\" lines, the blocks parted by an empty line.\n"
    "With --json each is one line holding a JSON object with the same keys: \"file\",\n"
    "\"format\", \"size\" (\"WIDTHxHEIGHT\"), \"bits\", \"notes\" (true or false) and\n"
    "\"note-pixels\"; a file that cannot be read is an object with \"file\" and \"error\".\n"
    "Names that are not UTF-8 have each stray byte replaced by U+FFFD.\n"
    "\n"
    "With more than one path, or a folder, a last line on standard error counts them:\n"
    "\"N images, K with notes, F unreadable\". Exits 2 when anything could not be read.\n";

constexpr const char* kTryHelp = "Try 'ombri --help'.";

struct Invocation {
    std::vector<std::string> operands;
    std::optional<std::string> output;
    std::optional<SaveDepth> depth;
    bool lossy = false;
    bool recursive = false;
    bool json = false;
    RenderOptions render;
};

struct Context {
    std::ostream& out;
    std::ostream& err;
    TerminalPrompt prompt;
};

using CommandFn = Exit (*)(const Invocation&, Context&);

constexpr size_t kAnyCount = static_cast<size_t>(-1);

struct Command {
    const char* name;
    const char* synopsis;
    const char* operandNames; // named in the message when one is missing: "IMAGE MASK"
    const char* description;
    bool needsOutput; // -o is required; commands without it refuse the option
    bool takesDepth;
    bool takesLossy;
    size_t minOperands;
    size_t maxOperands;
    CommandFn run;
    bool takesRenderOptions = false;
    bool takesInfoOptions = false;
};

Exit usageError(std::ostream& err, const std::string& message)
{
    err << "ombri: " << message << '\n' << kTryHelp << '\n';
    return Exit::Usage;
}

// --- Inputs and outputs, checked before any work ---

namespace fs = std::filesystem;

// The readers judge a path by its extension and its first bytes, so for a missing path, a
// folder or an empty file they would talk about the extension or a bad header; the user is
// told what the path really is.
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

// The extension of the file's name; empty when the name has no dot (FileExtension would answer
// the whole name, and a file called "png" is not a PNG name).
std::string nameExtension(const std::string& path)
{
    const std::string name = fs::path(path).filename().string();
    return name.find('.') == std::string::npos ? std::string() : FileExtension(name);
}

// Refuses an output that cannot be written, or that is one of the inputs, before any input is
// read: a long open should not end in a refusal, and no input may be replaced by what is made
// from it (clearing a file onto itself would lose its notes for good). pngOnly names what is
// written when the output must be a PNG file; otherwise any kind the writer saves will do.
std::optional<Exit> checkOutput(Context& context, const char* command,
                                const std::vector<std::string>& inputs, const std::string& target,
                                const char* pngOnly = nullptr)
{
    const std::string prefix = std::string(command) + ": cannot write '" + target + "': ";
    std::error_code error;
    if (fs::is_directory(target, error)) {
        context.err << "ombri: " << prefix << "it is a folder; name a file to write\n";
        return Exit::WriteFailed;
    }
    const std::string extension = nameExtension(target);
    if (pngOnly && loadFormatForExtension(extension) != ImageFormat::Png) {
        const std::string reason = std::string(pngOnly) + " is written as PNG";
        return usageError(context.err, prefix + reason + "; name the output with .png at the end");
    }
    if (!pngOnly && Writing::saveKindFor(extension) == Writing::SaveKind::None) {
        const std::string hint =
            std::string("choose a name ending in one of ") + Writing::kSavableExtensions;
        return usageError(context.err, prefix + "ombri cannot save that kind of file; " + hint);
    }
    for (const auto& input : inputs) {
        if (!fs::equivalent(input, target, error) || error)
            continue;
        const std::string clash =
            std::string(command) + ": the output '" + target + "' is the input '" + input + "'";
        return usageError(context.err,
                          clash + "; write to another file so that the input stays as it is");
    }
    fs::path folder = fs::path(target).parent_path();
    if (folder.empty())
        folder = ".";
    if (!fs::is_directory(folder, error)) {
        context.err << "ombri: " << prefix << "there is no folder '" << folder.string()
                    << "'; create it first or write somewhere else\n";
        return Exit::WriteFailed;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        context.err << "ombri: " << prefix << "the folder '" << folder.string()
                    << "' cannot be written to (" << std::strerror(errno)
                    << "); write somewhere else\n";
        return Exit::WriteFailed;
    }
    return std::nullopt;
}

// --- Opening and saving, the way the writer does it ---

// Opens a picture with the writer's document. The document names the file in most failures;
// the one it tells without a path (an impossible size) is reported again with the path, so
// that every unreadable input has its "cannot read" line.
bool openDocument(Writing& doc, Context& context, const std::string& path)
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

// JPEG is the one kind of file the writer saves without the notes.
bool losesNotes(const std::string& path)
{
    return loadFormatForExtension(FileExtension(path)) == ImageFormat::Jpeg;
}

void reportLossyRefusal(std::ostream& err, const std::string& path)
{
    err << "ombri: " << path
        << " cannot carry notes: JPEG files lose them (use --lossy to save anyway)\n";
}

Exit saveDocument(Writing& doc, const Invocation& invocation, Context& context,
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
        context.err << "ombri: " << target << " cannot carry notes: the picture is " << doc.width()
                    << " pixels wide and needs at least " << doc.minimumWidthForNotes(target)
                    << " to keep them (use --lossy to save without them)\n";
        return Exit::WriteFailed;
    }
    // From here on nothing is lost that the user has not agreed to lose, so the document's
    // question about saving to JPEG is answered yes.
    context.prompt.setQuestionAnswer(Answer::Yes);
    switch (doc.SaveImageByExtension(target)) {
    case Writing::SaveOutcome::Saved:
        return Exit::Done;
    case Writing::SaveOutcome::Declined: // both questions a save asks were answered yes above
        reportLossyRefusal(context.err, target);
        return Exit::Usage;
    case Writing::SaveOutcome::Refused:
    case Writing::SaveOutcome::Failed:
        break;
    }
    return Exit::WriteFailed;
}

// --- info ---

// A DPX or Cineon picture always brings a note layer from its pixel words; it carries notes
// when any of their note bits is set. Any other picture carries notes when it has the marker.
bool carriesNotes(const Writing& doc)
{
    const auto& notes = doc.noteLayer();
    if (!notes)
        return false;
    return !doc.hasPixelWords() || CountNotePixels(*notes) != 0;
}

void printInfoBlock(std::ostream& out, const std::string& path, const Writing& doc)
{
    const auto& notes = doc.noteLayer();
    out << "file: " << path << '\n'
        << "format: " << formatName(loadFormatForExtension(FileExtension(path))) << '\n'
        << "size: " << doc.width() << 'x' << doc.height() << '\n'
        << "bits: " << DibGetBitCount(doc.image()) << '\n'
        << "notes: " << (carriesNotes(doc) ? "yes" : "no") << '\n'
        << "note-pixels: " << (notes ? CountNotePixels(*notes) : 0) << '\n';
}

// How many bytes of a well-formed UTF-8 sequence start at text[at]; 0 when none does (a stray
// continuation byte, a truncated sequence, an overlong form, a surrogate or a code point beyond
// U+10FFFF).
size_t utf8SequenceLength(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) -> unsigned {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const auto continues = [&](size_t i, unsigned low = 0x80, unsigned high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    const unsigned lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF)
        return continues(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;
        return continues(1, low, high) && continues(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return continues(1, low, high) && continues(2) && continues(3) ? 4 : 0;
    }
    return 0;
}

// A JSON string. File names on Linux are bytes, not text: a byte that is not part of valid
// UTF-8 becomes U+FFFD so that every JSON reader accepts the line, at the cost of the exact
// name. Control characters are escaped so that a name with a line break keeps to one line.
std::string jsonString(const std::string& text)
{
    struct ShortEscape {
        char c;
        const char* text;
    };
    static constexpr ShortEscape kShortEscapes[] = {
        {'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"},
        {'\t', "\\t"}, {'\b', "\\b"},  {'\f', "\\f"},
    };
    static constexpr char kHex[] = "0123456789abcdef";
    std::string json = "\"";
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x80) {
            const size_t length = utf8SequenceLength(text, at);
            if (length == 0)
                json += "\xEF\xBF\xBD";
            else
                json.append(text, at, length);
            at += length == 0 ? 1 : length;
            continue;
        }
        const auto escape = std::find_if(std::begin(kShortEscapes), std::end(kShortEscapes),
                                         [c](const ShortEscape& e) { return e.c == c; });
        if (escape != std::end(kShortEscapes)) {
            json += escape->text;
        } else if (c < 0x20 || c == 0x7F) {
            json += "\\u00";
            json += kHex[c >> 4];
            json += kHex[c & 0xF];
        } else {
            json += static_cast<char>(c);
        }
        ++at;
    }
    return json + '"';
}

void printInfoJson(std::ostream& out, const std::string& path, const Writing& doc)
{
    const auto& notes = doc.noteLayer();
    out << "{\"file\":" << jsonString(path)
        << ",\"format\":" << jsonString(formatName(loadFormatForExtension(FileExtension(path))))
        << ",\"size\":\"" << doc.width() << 'x' << doc.height()
        << "\",\"bits\":" << DibGetBitCount(doc.image())
        << ",\"notes\":" << (carriesNotes(doc) ? "true" : "false")
        << ",\"note-pixels\":" << (notes ? CountNotePixels(*notes) : 0) << "}\n";
}

// A name info looks at in a folder: one whose extension picks a reader, as when it is opened.
bool isPictureName(const std::string& name)
{
    return name.find('.') != std::string::npos &&
           loadFormatForExtension(FileExtension(name)) != ImageFormat::None;
}

// A pipe or a device by a picture's name would leave the open waiting for data that may never
// come; only what can be read to its end is described.
bool isSpecialFile(const std::string& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return fs::is_fifo(status) || fs::is_socket(status) || fs::is_block_file(status) ||
           fs::is_character_file(status);
}

// What info has found, printed file by file as text blocks or JSON lines, and counted for the
// summary. Standard error is the same in both forms: --json changes only standard output.
class InfoReport {
  public:
    InfoReport(Context& context, bool json) : m_context(context), m_json(json) {}

    void describe(const std::string& path)
    {
        ++m_images;
        Writing doc(m_context.prompt);
        if (!openDocument(doc, m_context, path)) {
            failed(path, m_context.prompt.lastOpenFailure());
            return;
        }
        if (carriesNotes(doc))
            ++m_withNotes;
        if (m_json) {
            printInfoJson(m_context.out, path, doc);
            return;
        }
        if (m_blocks++ != 0)
            m_context.out << '\n';
        printInfoBlock(m_context.out, path, doc);
    }

    // A folder whose pictures cannot be known counts as one unreadable entry.
    void folderFailed(const std::string& path, const std::string& reason)
    {
        m_context.prompt.reportOpenFailure(path, reason);
        failed(path, reason);
    }

    void printSummary() const
    {
        m_context.err << m_images << (m_images == 1 ? " image, " : " images, ") << m_withNotes
                      << " with notes, " << m_unreadable << " unreadable\n";
    }

    bool anyFailed() const { return m_unreadable != 0; }

  private:
    void failed(const std::string& path, const std::string& reason)
    {
        ++m_unreadable;
        if (m_json)
            m_context.out << "{\"file\":" << jsonString(path) << ",\"error\":" << jsonString(reason)
                          << "}\n";
    }

    Context& m_context;
    bool m_json;
    size_t m_images = 0;
    size_t m_withNotes = 0;
    size_t m_unreadable = 0;
    size_t m_blocks = 0;
};

// ListFolder tells only that a folder could not be listed; the system says why.
std::string listingError(const std::string& folder)
{
    std::error_code error;
    const fs::directory_iterator listing(folder.empty() ? "/" : folder, error);
    return error ? error.message() : "the folder could not be listed";
}

// The pictures of a folder in the order the reader lists them. With recursive, a subfolder's
// pictures take its place among the names. Hidden names are left out, as the file managers
// do; a linked folder is not followed, so that a link back up the tree cannot loop forever.
void walkFolder(const std::string& folder, bool recursive, InfoReport& report)
{
    std::string base = folder;
    while (!base.empty() && base.back() == '/')
        base.pop_back(); // "dir/" names "dir/a.png", not "dir//a.png"; "/" becomes ""
    const auto entries = reader::ListFolder(base);
    if (!entries) {
        report.folderFailed(folder, listingError(base));
        return;
    }
    for (const auto& entry : *entries) {
        if (entry.name.front() == '.')
            continue;
        const std::string path = reader::JoinPath(base, entry.name);
        if (entry.isFolder) {
            std::error_code error;
            if (recursive && !fs::is_symlink(fs::symlink_status(path, error)))
                walkFolder(path, recursive, report);
        } else if (isPictureName(entry.name) && !isSpecialFile(path)) {
            report.describe(path);
        }
    }
}

Exit runInfo(const Invocation& invocation, Context& context)
{
    InfoReport report(context, invocation.json);
    bool walked = false;
    for (const auto& path : invocation.operands) {
        std::error_code error;
        if (fs::is_directory(path, error)) {
            walked = true;
            walkFolder(path, invocation.recursive, report);
        } else {
            report.describe(path);
        }
    }
    if (walked || invocation.operands.size() > 1)
        report.printSummary();
    return report.anyFailed() ? Exit::BadInput : Exit::Done;
}

// --- notes: the note layer as a grey PNG ---

// libpng reports an error by calling this handler, which must not return: it keeps the
// message and jumps back to the setjmp in encodeGreyPng.
struct GreyPngWriter {
    char message[256] = "";
    png_structp png = nullptr;
    png_infop info = nullptr;

    ~GreyPngWriter() { png_destroy_write_struct(&png, &info); }
};

void onPngError(png_structp png, png_const_charp message)
{
    if (auto* writer = static_cast<GreyPngWriter*>(png_get_error_ptr(png)))
        std::snprintf(writer->message, sizeof writer->message, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

// Holds nothing that needs destroying: libpng may leave it by longjmp, and the caller owns
// the structures and the rows.
bool encodeGreyPng(GreyPngWriter& writer, std::FILE* file, uint32_t width, uint32_t height,
                   png_bytepp rows)
{
    if (setjmp(png_jmpbuf(writer.png)))
        return false;
    png_init_io(writer.png, file);
    png_set_IHDR(writer.png, writer.info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer.png, writer.info);
    png_write_image(writer.png, rows);
    png_write_end(writer.png, nullptr);
    return true;
}

// Writes width x height grey bytes, top row first, through a temporary file so that a failed
// write leaves whatever was at the path.
bool writeGreyPng(const std::string& path, std::vector<uint8_t>& grey, uint32_t width,
                  uint32_t height, std::string& error)
{
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y)
        rows[y] = grey.data() + size_t{y} * width;
    AtomicFile file(path);
    if (!file.open()) {
        error = file.error();
        return false;
    }
    GreyPngWriter writer;
    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer, onPngError, onPngWarning);
    if (writer.png)
        writer.info = png_create_info_struct(writer.png);
    if (!writer.png || !writer.info) {
        error = "out of memory";
        return false;
    }
    if (!encodeGreyPng(writer, file.stream(), width, height, rows.data())) {
        error = writer.message;
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

// The note layer keeps the bottom row first, a PNG the top row: rows are turned over here.
std::vector<uint8_t> noteLayerAsGrey(const NoteLayer& notes, size_t width, size_t height)
{
    std::vector<uint8_t> grey(width * height);
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* noteRow = notes.data() + (height - 1 - y) * width;
        uint8_t* greyRow = grey.data() + y * width;
        for (size_t x = 0; x < width; ++x)
            greyRow[x] = noteRow[x] == 1 ? 0 : 255;
    }
    return grey;
}

Exit runNotes(const Invocation& invocation, Context& context)
{
    const std::string& path = invocation.operands[0];
    const std::string& target = *invocation.output;
    if (auto refused = checkOutput(context, "notes", invocation.operands, target, "the note layer"))
        return *refused;
    Writing doc(context.prompt);
    if (!openDocument(doc, context, path))
        return Exit::BadInput;
    if (!carriesNotes(doc)) {
        context.err << "ombri: '" << path << "' carries no notes\n";
        return Exit::NoNotes;
    }
    const auto width = static_cast<uint32_t>(doc.width());
    const auto height = static_cast<uint32_t>(doc.height());
    std::vector<uint8_t> grey = noteLayerAsGrey(*doc.noteLayer(), width, height);
    std::string error;
    if (!writeGreyPng(target, grey, width, height, error)) {
        context.err << "ombri: cannot write '" << target << "': " << error << '\n';
        return Exit::WriteFailed;
    }
    return Exit::Done;
}

// --- embed: a mask picture's dark pixels become notes ---

// Dark and, where the mask has an alpha channel, mostly opaque. Pixels are blue first.
bool isNotePixel(const uint8_t* pixel, bool hasAlpha)
{
    const int brightness = (pixel[0] + pixel[1] + pixel[2]) / 3;
    return brightness < 128 && (!hasAlpha || pixel[3] >= 128);
}

bool anyAlpha(const Dib& pixels)
{
    const auto layout = DibGetLayout(pixels);
    if (!layout)
        return false;
    const uint8_t* bytes = pixels.data() + layout->pixelOffset;
    for (size_t i = 3; i < layout->pixelBytes; i += 4) {
        if (bytes[i] != 0)
            return true;
    }
    return false;
}

std::optional<Dib> loadMaskPicture(const std::string& path, Context& context, bool& hasAlpha)
{
    if (!inputIsUsable(context, path))
        return std::nullopt;
    LoadedImage loaded = LoadCheckedImage(path);
    if (loaded.image.isNull()) {
        context.prompt.reportOpenFailure(path, loaded.error);
        return std::nullopt;
    }
    Dib pixels = DibConvertToBitCount(loaded.image, 32);
    // Many programs write 32-bit BMP files with every fourth byte 0; such a mask has no alpha.
    hasAlpha = DibGetBitCount(loaded.image) == 32 && anyAlpha(pixels);
    if (pixels.isNull()) {
        context.prompt.reportOpenFailure(path, "its pixel layout cannot be used as a mask");
        return std::nullopt;
    }
    return pixels;
}

// The mask's notes in the note layer's order, which is the order of the picture's own rows.
std::optional<NoteLayer> readMask(const std::string& path, const Writing& doc, Context& context)
{
    bool hasAlpha = false;
    std::optional<Dib> pixels = loadMaskPicture(path, context, hasAlpha);
    if (!pixels)
        return std::nullopt;
    const auto layout = DibGetLayout(*pixels);
    if (layout->width != doc.width() || layout->height != doc.height()) {
        context.err << "ombri: the mask '" << path << "' is " << layout->width << 'x'
                    << layout->height << " pixels but the image is " << doc.width() << 'x'
                    << doc.height() << "; give a mask of the image's size\n";
        return std::nullopt;
    }
    const auto width = static_cast<size_t>(layout->width);
    const auto height = static_cast<size_t>(layout->height);
    NoteLayer mask(width * height);
    for (size_t row = 0; row < height; ++row) {
        const uint8_t* pixel = pixels->data() + layout->pixelOffset + row * layout->stride;
        for (size_t x = 0; x < width; ++x, pixel += 4)
            mask[row * width + x] = isNotePixel(pixel, hasAlpha) ? 1 : 0;
    }
    return mask;
}

Exit runEmbed(const Invocation& invocation, Context& context)
{
    if (auto refused = checkOutput(context, "embed", invocation.operands, *invocation.output))
        return *refused;
    Writing doc(context.prompt);
    if (!openDocument(doc, context, invocation.operands[0]))
        return Exit::BadInput;
    std::optional<NoteLayer> mask = readMask(invocation.operands[1], doc, context);
    if (!mask)
        return Exit::BadInput;
    doc.MergeNotes(mask->data());
    return saveDocument(doc, invocation, context, *invocation.output);
}

// --- convert and clear ---

Exit runConvert(const Invocation& invocation, Context& context)
{
    if (auto refused =
            checkOutput(context, "convert", {invocation.operands[0]}, invocation.operands[1]))
        return *refused;
    Writing doc(context.prompt);
    if (!openDocument(doc, context, invocation.operands[0]))
        return Exit::BadInput;
    return saveDocument(doc, invocation, context, invocation.operands[1]);
}

Exit runClear(const Invocation& invocation, Context& context)
{
    if (auto refused = checkOutput(context, "clear", invocation.operands, *invocation.output))
        return *refused;
    Writing doc(context.prompt);
    if (!openDocument(doc, context, invocation.operands[0]))
        return Exit::BadInput;
    doc.ClearNotes();
    return saveDocument(doc, invocation, context, *invocation.output);
}

// --- render: the picture as the reader shows it ---

Exit runRenderCommand(const Invocation& invocation, Context& context)
{
    if (auto refused =
            checkOutput(context, "render", invocation.operands, *invocation.output, "the picture"))
        return *refused;
    if (!inputIsUsable(context, invocation.operands[0]))
        return Exit::BadInput;
    return runRender(invocation.operands[0], *invocation.output, invocation.render, context.prompt,
                     context.err);
}

// --- The command table and the argument parser ---

constexpr Command kCommands[] = {
    {"info", "info [-r] [--json] PATH...", "PATH", kInfoDescription, false, false, false, 1,
     kAnyCount, runInfo, false, true},
    {"notes", "notes FILE -o MASK.png", "FILE",
     "Writes the note layer of FILE as an 8-bit grey PNG the size of the picture: black\n"
     "where there is a note, white elsewhere. Exits 3 when FILE carries no notes.\n",
     true, false, false, 1, 1, runNotes},
    {"embed", "embed IMAGE MASK -o OUT [--depth 24|32] [--lossy]", "IMAGE MASK",
     "Adds notes to IMAGE, keeping the ones it has: each pixel of MASK that is dark (and\n"
     "mostly opaque, where MASK has an alpha channel) becomes a note. MASK must be the size\n"
     "of IMAGE. OUT may be neither IMAGE nor MASK.\n",
     true, true, true, 2, 2, runEmbed},
    {"convert", "convert IN OUT [--depth 24|32] [--lossy]", "IN OUT",
     "Saves IN with its notes as OUT; the extension of OUT chooses the format. A picture\n"
     "with notes is saved to JPEG, or saved when it is too narrow for the notes' signature\n"
     "(under 8 pixels; 6 at --depth 32), only with --lossy. OUT may not be IN.\n",
     false, true, true, 2, 2, runConvert},
    {"clear", "clear IN -o OUT [--depth 24|32]", "IN",
     "Saves IN as OUT without any notes: every pixel's note bit is set to plain. OUT may not\n"
     "be IN: the notes would be gone for good.\n",
     true, true, false, 1, 1, runClear},
    {"render",
     "render FILE -o OUT.png [--hide-notes] [--color C] [--complement] [--no-aa] [--adjust LIST]",
     "FILE",
     "Writes FILE as the reader shows it: with its notes (red and anti-aliased unless told\n"
     "otherwise) and with the reader's image adjustments, as an RGB PNG, or RGBA when the\n"
     "picture has 32 bits. Colour tables are applied.\n",
     true, false, false, 1, 1, runRenderCommand, true},
};

const Command* findCommand(const std::string& name)
{
    for (const auto& command : kCommands) {
        if (name == command.name)
            return &command;
    }
    return nullptr;
}

void printCommandHelp(std::ostream& out, const Command& command)
{
    out << "Usage: ombri " << command.synopsis << "\n\n" << command.description;
    out << "\nOptions:\n";
    if (command.needsOutput)
        out << "  -o, --output FILE  the file to write\n";
    if (command.takesDepth)
        out << "  --depth 24|32      carry the notes in the alpha byte of a 32-bit file, or in "
               "the\n                     blue byte of a 24-bit one\n";
    if (command.takesLossy)
        out << "  --lossy            save even though the notes are lost: to JPEG, or a "
               "picture\n                     too narrow to carry them\n";
    if (command.takesInfoOptions)
        out << "  -r, --recursive    look in every folder below each folder too\n"
               "  --json             one JSON object per line instead of text blocks\n";
    if (command.takesRenderOptions)
        out << "  --hide-notes       show the picture without its notes\n"
               "  --color C          note colour: red (default), green, blue, black, white or\n"
               "                     #RRGGBB\n"
               "  --complement       show the notes as the complement of the picture\n"
               "  --no-aa            notes with hard edges instead of anti-aliased\n"
               "  --adjust LIST      the reader's image adjustments, applied in the order given,\n"
               "                     from: auto-color, auto-contrast, invert, gray, red, green,\n"
               "                     blue, flip-h, flip-v, rot-cw, rot-ccw (comma separated)\n";
    out << "  --verbose          print what the file readers find (headers, library errors)\n";
}

std::optional<SaveDepth> parseDepth(const std::string& value)
{
    if (value == "32")
        return SaveDepth::Alpha32;
    if (value == "24")
        return SaveDepth::Bits24;
    return std::nullopt;
}

struct ParsedArguments {
    Invocation invocation;
    bool help = false;
    bool verbose = false;
    std::string error; // the first problem found; empty when the line is good
};

class ArgumentParser {
  public:
    ArgumentParser(const Command& command, std::vector<std::string> arguments)
        : m_command(command), m_arguments(std::move(arguments))
    {
    }

    ParsedArguments parse();

  private:
    void parseOption(const std::string& argument);
    bool parseRenderOption(const std::string& name, const std::string& attached);
    // The value of an option given as "--name VALUE" or "--name=VALUE".
    std::optional<std::string> optionValue(const std::string& name, const std::string& attached);
    void checkOperands();
    void setError(const std::string& message)
    {
        if (m_result.error.empty())
            m_result.error = message;
    }

    const Command& m_command;
    std::vector<std::string> m_arguments;
    size_t m_next = 0;
    ParsedArguments m_result;
};

ParsedArguments ArgumentParser::parse()
{
    bool optionsEnded = false;
    while (m_next < m_arguments.size()) {
        const std::string argument = m_arguments[m_next++];
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (!optionsEnded && argument.size() > 1 && argument[0] == '-')
            parseOption(argument);
        else
            m_result.invocation.operands.push_back(argument);
    }
    checkOperands();
    return m_result;
}

std::optional<std::string> ArgumentParser::optionValue(const std::string& name,
                                                       const std::string& attached)
{
    if (attached.size() > 1)
        return attached.substr(1);
    if (attached.empty() && m_next < m_arguments.size())
        return m_arguments[m_next++];
    setError("option '" + name + "' needs a value");
    return std::nullopt;
}

void ArgumentParser::parseOption(const std::string& argument)
{
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const std::string attached = equals == std::string::npos ? "" : argument.substr(equals);
    const std::string prefix = std::string(m_command.name) + ": ";
    if (name == "--help" || name == "-h") {
        m_result.help = true;
    } else if ((name == "-o" || name == "--output") && m_command.needsOutput) {
        auto value = optionValue(name, attached);
        // Taking the last of two outputs silently could write where the user did not look.
        if (value && m_result.invocation.output)
            setError(prefix + "two outputs given ('" + *m_result.invocation.output + "' and '" +
                     *value + "'); give one -o");
        else if (value)
            m_result.invocation.output = *value;
    } else if (name == "--depth" && m_command.takesDepth) {
        if (auto value = optionValue(name, attached)) {
            m_result.invocation.depth = parseDepth(*value);
            if (!m_result.invocation.depth)
                setError(prefix + "bad --depth value '" + *value + "': use 24 or 32");
        }
    } else if (name == "--verbose" && attached.empty()) {
        m_result.verbose = true;
    } else if (name == "--lossy" && m_command.takesLossy && attached.empty()) {
        m_result.invocation.lossy = true;
    } else if ((name == "-r" || name == "--recursive") && m_command.takesInfoOptions &&
               attached.empty()) {
        m_result.invocation.recursive = true;
    } else if (name == "--json" && m_command.takesInfoOptions && attached.empty()) {
        m_result.invocation.json = true;
    } else if (!m_command.takesRenderOptions || !parseRenderOption(name, attached)) {
        setError(prefix + "unknown option '" + argument + "'");
    }
}

// True when the option is one of render's, its value checked.
bool ArgumentParser::parseRenderOption(const std::string& name, const std::string& attached)
{
    RenderOptions& render = m_result.invocation.render;
    if (name == "--hide-notes" && attached.empty()) {
        render.hideNotes = true;
    } else if (name == "--complement" && attached.empty()) {
        render.complement = true;
    } else if (name == "--no-aa" && attached.empty()) {
        render.antiAliasing = false;
    } else if (name == "--color") {
        if (auto value = optionValue(name, attached)) {
            render.colour = parseRenderColour(*value);
            if (!render.colour)
                setError("render: bad --color value '" + *value +
                         "': use red, green, blue, black, white or #RRGGBB");
        }
    } else if (name == "--adjust") {
        if (auto value = optionValue(name, attached)) {
            auto commands = parseAdjustList(*value);
            if (commands)
                render.adjustments.insert(render.adjustments.end(), commands->begin(),
                                          commands->end());
            else
                setError("render: bad --adjust list '" + *value +
                         "': use auto-color, auto-contrast, invert, gray, red, green, blue, "
                         "flip-h, flip-v, rot-cw, rot-ccw");
        }
    } else {
        return false;
    }
    return true;
}

// The name of the first operand not given: "MASK" of "IMAGE MASK" when one was given.
std::string missingOperandName(const std::string& names, size_t given)
{
    size_t start = 0;
    for (size_t i = 0; i < given && start != std::string::npos; ++i) {
        start = names.find(' ', start);
        if (start != std::string::npos)
            ++start;
    }
    if (start == std::string::npos)
        return "argument";
    return names.substr(start, names.find(' ', start) - start);
}

void ArgumentParser::checkOperands()
{
    const std::string prefix = std::string(m_command.name) + ": ";
    const size_t count = m_result.invocation.operands.size();
    if (count < m_command.minOperands)
        setError(prefix + "missing " + missingOperandName(m_command.operandNames, count) +
                 " (usage: ombri " + m_command.synopsis + ")");
    else if (count > m_command.maxOperands)
        setError(prefix + "too many arguments (usage: ombri " + m_command.synopsis + ")");
    else if (m_command.needsOutput && !m_result.invocation.output)
        setError(prefix + "missing -o OUT");
}

int runCommand(const Command& command, std::vector<std::string> arguments, Context& context)
{
    ParsedArguments parsed = ArgumentParser(command, std::move(arguments)).parse();
    // Help wins over any other problem on the line: it is what a puzzled user asks for.
    if (parsed.help) {
        printCommandHelp(context.out, command);
        return static_cast<int>(Exit::Done);
    }
    if (!parsed.error.empty())
        return static_cast<int>(usageError(context.err, parsed.error));
    if (parsed.verbose)
        setFormatDiagnostics(true);
    const Exit exit = command.run(parsed.invocation, context);
    setFormatDiagnostics(false);
    return static_cast<int>(exit);
}

} // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    Context context{out, err, TerminalPrompt(err)};
    if (argc < 2)
        return static_cast<int>(usageError(err, "missing command"));
    // --verbose may stand before the command as well as among its options.
    int commandAt = 1;
    bool verbose = false;
    while (commandAt < argc && std::string(argv[commandAt]) == "--verbose") {
        verbose = true;
        ++commandAt;
    }
    if (commandAt >= argc)
        return static_cast<int>(usageError(err, "missing command"));
    const std::string first = argv[commandAt];
    if (first == "--help" || first == "-h") {
        out << kToolUsage;
        return static_cast<int>(Exit::Done);
    }
    if (first == "--version") {
        out << "ombri " << kVersion << '\n';
        return static_cast<int>(Exit::Done);
    }
    const Command* command = findCommand(first);
    if (!command) {
        if (first.size() > 1 && first[0] == '-')
            return static_cast<int>(usageError(err, "unknown option '" + first + "'"));
        std::string names;
        for (const auto& known : kCommands)
            names += std::string(names.empty() ? "" : ", ") + known.name;
        return static_cast<int>(
            usageError(err, "unknown command '" + first + "' (the commands are " + names + ")"));
    }
    std::vector<std::string> arguments(argv + commandAt + 1, argv + argc);
    if (verbose)
        arguments.insert(arguments.begin(), "--verbose");
    return runCommand(*command, std::move(arguments), context);
}

} // namespace ombri::cli
