#include "cli/info_report.h"

#include "cli/document_io.h"
#include "cli/ordered_jobs.h"
#include "cli/transcript.h"
#include "core/dib.h"
#include "core/printable_name.h"
#include "formats/colour_profile.h"
#include "formats/diagnostics.h"
#include "formats/dispatch.h"
#include "reader/folder_walk.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace ombri::cli {

using writer::SavableWriterDocument;
namespace fs = std::filesystem;

bool carriesNotes(const SavableWriterDocument& doc)
{
    const auto& notes = doc.noteLayer();
    if (!notes)
        return false;
    return !doc.hasPixelWords() || countNotePixels(*notes) != 0;
}

namespace {

// How the notes of a picture are kept: the state of its marker and, when there are notes, the
// byte that carries them and how the picture lies against the one the marker was written in.
// DPX and Cineon files keep their notes in the pixel words, with no marker to find or turn.
struct NoteKeeping {
    const char* signature;
    const char* carrier = nullptr;     // null without notes
    const char* orientation = nullptr; // null without notes
};

NoteKeeping noteKeeping(const SavableWriterDocument& doc)
{
    if (doc.hasPixelWords()) {
        NoteKeeping keeping{signatureStateName(SignatureState::None)};
        if (carriesNotes(doc)) {
            keeping.carrier = "word-bit";
            keeping.orientation = orientationName(Orientation::Normal);
        }
        return keeping;
    }
    const SignatureFind& found = doc.foundSignature();
    NoteKeeping keeping{signatureStateName(found.state)};
    if (carriesNotes(doc)) {
        keeping.carrier = carrierByteName(found.carrier);
        keeping.orientation = orientationName(found.orientation);
    }
    return keeping;
}

// The name of the picture's embedded colour profile; empty without one, and for a profile that
// cannot be read (the reader shows such a picture as stored).
std::string profileDescription(const SavableWriterDocument& doc)
{
    const auto& profile = doc.colourProfile();
    return colourProfileDescription({profile.data(), profile.size()});
}

void printInfoBlock(std::ostream& out, const std::string& path, const SavableWriterDocument& doc)
{
    const auto& notes = doc.noteLayer();
    const NoteKeeping keeping = noteKeeping(doc);
    const std::string profile = profileDescription(doc);
    out << "file: " << printableName(path) << '\n'
        << "format: " << formatName(formatOfPath(path)) << '\n'
        << "size: " << doc.width() << 'x' << doc.height() << '\n'
        << "bits: " << DibGetBitCount(doc.image()) << '\n';
    if (!profile.empty())
        out << "profile: " << profile << '\n';
    out << "notes: " << (carriesNotes(doc) ? "yes" : "no") << '\n'
        << "note-pixels: " << (notes ? countNotePixels(*notes) : 0) << '\n'
        << "signature: " << keeping.signature << '\n';
    if (keeping.carrier)
        out << "carrier: " << keeping.carrier << '\n'
            << "orientation: " << keeping.orientation << '\n';
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

void printInfoJson(std::ostream& out, const std::string& path, const SavableWriterDocument& doc)
{
    const auto& notes = doc.noteLayer();
    const NoteKeeping keeping = noteKeeping(doc);
    out << "{\"file\":" << jsonString(path)
        << ",\"format\":" << jsonString(formatName(formatOfPath(path))) << ",\"size\":\""
        << doc.width() << 'x' << doc.height() << "\",\"bits\":" << DibGetBitCount(doc.image());
    if (const std::string profile = profileDescription(doc); !profile.empty())
        out << ",\"profile\":" << jsonString(profile);
    out << ",\"notes\":" << (carriesNotes(doc) ? "true" : "false")
        << ",\"note-pixels\":" << (notes ? countNotePixels(*notes) : 0) << ",\"signature\":\""
        << keeping.signature << '"';
    if (keeping.carrier)
        out << ",\"carrier\":\"" << keeping.carrier << "\",\"orientation\":\""
            << keeping.orientation << '"';
    out << "}\n";
}

// A name info looks at in a folder: one whose extension picks a reader, as when it is opened.
bool isPictureName(const std::string& name)
{
    return formatOfPath(name) != nullptr;
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

std::string jsonError(const std::string& path, const std::string& reason)
{
    return "{\"file\":" + jsonString(path) + ",\"error\":" + jsonString(reason) + "}\n";
}

// One entry of the listing: a picture to describe, or a folder that could not be listed.
struct InfoTask {
    std::string path;
    std::optional<std::string> listingError; // set for a folder that could not be listed
};

// What info has to say about one entry, made on whichever thread read it and printed in turn.
struct EntryReport {
    enum class Kind { Picture, Unreadable, UnlistedFolder };
    Kind kind = Kind::Picture;
    bool withNotes = false;
    std::vector<Transcript::Piece> said; // while reading: both streams, in the order written
    std::string record; // the text block or the JSON line; empty for a failure as text
};

// A reading thread's own prompt and streams: the documents' messages about one file are kept
// with that file's report.
struct InfoReader {
    Transcript transcript;
    Context context{transcript.out(), transcript.err(), TerminalPrompt(transcript.err())};
};

// Sends the readers' trace to the transcript while a file is read.
class TraceCapture {
  public:
    explicit TraceCapture(Transcript& transcript) { setThreadDiagnosticSink(&transcript); }
    ~TraceCapture() { setThreadDiagnosticSink(nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
};

EntryReport readEntry(InfoReader& reader, const InfoTask& task, bool json)
{
    EntryReport report;
    const std::string& path = task.path;
    if (task.listingError) {
        // A folder whose pictures cannot be known counts as one unreadable entry.
        reader.context.prompt.reportOpenFailure(path, *task.listingError);
        report.kind = EntryReport::Kind::UnlistedFolder;
        report.record = json ? jsonError(path, *task.listingError) : std::string();
        report.said = reader.transcript.take();
        return report;
    }
    {
        TraceCapture capture(reader.transcript);
        SavableWriterDocument doc(reader.context.prompt);
        if (!openDocument(doc, reader.context, path)) {
            report.kind = EntryReport::Kind::Unreadable;
            if (json)
                report.record = jsonError(path, reader.context.prompt.lastOpenFailure());
        } else {
            report.withNotes = carriesNotes(doc);
            std::ostringstream record;
            if (json)
                printInfoJson(record, path, doc);
            else
                printInfoBlock(record, path, doc);
            report.record = record.str();
        }
    }
    report.said = reader.transcript.take();
    return report;
}

// What info has found, printed entry by entry as text blocks or JSON lines, and counted for the
// summary. Standard error is the same in both forms: --json changes only standard output.
class InfoReport {
  public:
    InfoReport(Context& context, bool json) : m_context(context), m_json(json) {}

    void print(const EntryReport& report)
    {
        Transcript::replay(report.said, m_context.out, m_context.err);
        switch (report.kind) {
        case EntryReport::Kind::Picture:
            ++m_images;
            if (report.withNotes)
                ++m_withNotes;
            if (!m_json && m_blocks++ != 0)
                m_context.out << '\n';
            break;
        case EntryReport::Kind::Unreadable:
            ++m_images;
            ++m_unreadable;
            break;
        case EntryReport::Kind::UnlistedFolder:
            ++m_unreadable;
            break;
        }
        m_context.out << report.record;
    }

    void printSummary() const
    {
        m_context.err << m_images << (m_images == 1 ? " image, " : " images, ") << m_withNotes
                      << " with notes, " << m_unreadable << " unreadable\n";
    }

    bool anyFailed() const { return m_unreadable != 0; }

  private:
    Context& m_context;
    bool m_json;
    size_t m_images = 0;
    size_t m_withNotes = 0;
    size_t m_unreadable = 0;
    size_t m_blocks = 0;
};

using InfoJobs = OrderedJobs<InfoTask, EntryReport>;

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
void walkFolder(const std::string& folder, bool recursive, InfoJobs& jobs)
{
    std::string base = folder;
    while (!base.empty() && base.back() == '/')
        base.pop_back(); // "dir/" names "dir/a.png", not "dir//a.png"; "/" becomes ""
    const auto entries = reader::ListFolder(base);
    if (!entries) {
        jobs.add({folder, listingError(base)});
        return;
    }
    for (const auto& entry : *entries) {
        if (entry.name.front() == '.')
            continue;
        const std::string path = reader::joinPath(base, entry.name);
        if (entry.isFolder) {
            std::error_code error;
            if (recursive && !fs::is_symlink(fs::symlink_status(path, error)))
                walkFolder(path, recursive, jobs);
        } else if (isPictureName(entry.name) && !isSpecialFile(path)) {
            jobs.add({path, std::nullopt});
        }
    }
}

} // namespace

size_t defaultJobs()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

Exit runInfo(const Invocation& invocation, Context& context)
{
    const bool json = invocation.json;
    const size_t threads = invocation.jobs ? *invocation.jobs : defaultJobs();
    InfoReport report(context, json);
    std::vector<std::unique_ptr<InfoReader>> readers(threads);
    for (auto& reader : readers)
        reader = std::make_unique<InfoReader>();
    // Twice as many entries as threads may be on their way: every thread has the next file at
    // hand when it is done, and a slow file holds back only a few finished reports.
    InfoJobs jobs(
        threads, 2 * threads,
        [&](size_t thread, InfoTask& task) { return readEntry(*readers[thread], task, json); },
        [&](EntryReport& entry) { report.print(entry); });
    bool walked = false;
    for (const auto& path : invocation.operands) {
        std::error_code error;
        if (fs::is_directory(path, error)) {
            walked = true;
            walkFolder(path, invocation.recursive, jobs);
        } else {
            jobs.add({path, std::nullopt});
        }
    }
    jobs.finish();
    if (walked || invocation.operands.size() > 1)
        report.printSummary();
    return report.anyFailed() ? Exit::BadInput : Exit::Done;
}

} // namespace ombri::cli
