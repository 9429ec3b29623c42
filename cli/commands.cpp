#include "cli/commands.h"

#include "cli/arguments.h"
#include "cli/document_io.h"
#include "cli/info_report.h"
#include "cli/invocation.h"
#include "cli/render_command.h"
#include "core/printable_name.h"
#include "formats/diagnostics.h"
#include "formats/dispatch.h"
#include "writer/note_files.h"
#include "writer/savable_writer_document.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ombri::cli {

using writer::NoteMask;
using writer::noteMaskFromPicture;
using writer::SavableWriterDocument;
using writer::writeNoteLayerPng;

namespace {

constexpr const char* kToolUsage =
    "Usage: ombri COMMAND [ARGUMENTS]\n"
    "Reads and writes the notes hidden in the lowest bit of a picture's pixels.\n"
    "\n"
    "Commands:\n"
    "  info [-r] [--json] [-j N] PATH...  describe each picture and its notes; a folder\n"
    "                                     stands for the pictures in it\n"
    "  notes FILE -o MASK.png             write the note layer as a grey PNG\n"
    "  embed IMAGE MASK -o OUT [--depth 24|32] [--lossy]\n"
    "                                     add the dark pixels of MASK to the notes\n"
    "  convert IN OUT [--depth 24|32] [--lossy]\n"
    "                                     save a picture and its notes as another file\n"
    "  repair IN -o OUT [--depth 24|32]   save a turned or mirrored carrier with its\n"
    "                                     signature back in place\n"
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
    "  -j, --jobs N       info: read N files at a time (default: one per processor)\n"
    "  --verbose          print what the file readers find (headers, library errors)\n"
    "  --help             show this help, or a command's help after the command\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 done, 1 usage error, 2 unreadable input, 3 no notes,\n"
    "4 the output could not be written (or, for repair, cannot carry the notes).\n";

constexpr const char* kInfoDetails =
    "\n"
    "Each picture is a block of \"key: value\" lines, the blocks parted by an empty line.\n"
    "With --json each is one line holding a JSON object with the same keys: \"file\",\n"
    "\"format\", \"size\" (\"WIDTHxHEIGHT\"), \"bits\", \"profile\" when the picture embeds\n"
    "a colour profile, \"notes\" (true or false), \"note-pixels\", \"signature\" and, with\n"
    "notes, \"carrier\" and \"orientation\"; a file that cannot be read is an object with\n"
    "\"file\" and \"error\". Names that are not UTF-8 have each stray byte replaced by U+FFFD.\n"
    "\n"
    "profile is the name the embedded ICC profile gives itself (\"Adobe RGB (1998)\"); the\n"
    "reader shows such a picture converted to sRGB, while every command here keeps the colours\n"
    "stored in the file.\n"
    "\n"
    "signature is intact, damaged (the marker is broken, so the low bits are not read as\n"
    "notes) or none; DPX and Cineon files keep their notes without one. carrier is the byte\n"
    "that holds the notes: blue (24 bits, and a 24-bit carrier that another program gave an\n"
    "alpha channel), alpha (32 bits) or word-bit (DPX and Cineon).\n"
    "orientation tells how another program has turned or mirrored the picture since its notes\n"
    "were saved: normal, mirrored, flipped, turned-90, turned-180, turned-270, transposed or\n"
    "transversed. Programs that look for the signature only in its own place need a normal\n"
    "picture: ombri repair writes one. A picture whose file has an orientation tag is read\n"
    "standing as the tag says (size included), so a tag that turns a carrier counts as a turn.\n"
    "\n"
    "With -j N, N files are read at a time; the output is the same as when they are read one\n"
    "after the other, in the same order.\n"
    "\n"
    "With more than one path, or a folder, a last line on standard error counts them:\n"
    "\"N images, K with notes, F unreadable\". Exits 2 when anything could not be read.\n";

// "a, b or c".
std::string spokenList(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
    return text;
}

// "a PNG, BMP, ... or Cineon": the formats a picture keeps its notes in.
std::string noteFormatChoice()
{
    std::vector<std::string> names;
    for (const ImageFormat* format : imageFormats()) {
        if (savesNotes(*format))
            names.emplace_back(format->name);
    }
    return "a " + spokenList(names);
}

// The extensions ombri reads, from the format table, as the help of info lists them.
std::string pictureExtensions()
{
    std::vector<std::string> extensions;
    for (const ImageFormat* format : imageFormats()) {
        for (auto& extension : extensionsOf(*format))
            extensions.push_back(std::move(extension));
    }
    return spokenList(extensions);
}

const char* infoDescription()
{
    static const std::string text =
        "Describes each picture: its format, size and bit count, whether it carries notes and\n"
        "how many pixels are notes. A file that cannot be read is reported and skipped.\n"
        "\n"
        "A folder stands for the pictures directly in it, or with -r for every picture below\n"
        "it, in name order without regard to case, a folder's pictures taking the folder's place\n"
        "among the names. Names starting with \".\" are skipped and linked folders are not\n"
        "followed. A picture is a file whose name ends in an extension ombri reads, in small\n"
        "or capital letters or any mix of them:\n"
        "  " +
        pictureExtensions() + ".\n" + kInfoDetails;
    return text.c_str();
}

// --- notes: the note layer as a grey PNG ---

Exit runNotes(const Invocation& invocation, Context& context)
{
    const std::string& path = invocation.operands[0];
    const std::string& target = *invocation.output;
    if (auto refused = checkOutput(context, "notes", invocation.operands, target, "the note layer"))
        return *refused;
    SavableWriterDocument doc(context.prompt);
    if (!openDocument(doc, context, path))
        return Exit::BadInput;
    if (!carriesNotes(doc)) {
        context.err << "ombri: '" << printableName(path) << "' carries no notes\n";
        return Exit::NoNotes;
    }
    if (Status written =
            writeNoteLayerPng(target, *doc.noteLayer(), static_cast<uint32_t>(doc.width()),
                              static_cast<uint32_t>(doc.height()));
        !written) {
        context.err << "ombri: cannot write '" << printableName(target) << "': " << written.error()
                    << '\n';
        return Exit::WriteFailed;
    }
    return Exit::Done;
}

// --- embed: a mask picture's dark pixels become notes ---

std::optional<NoteMask> loadMask(const std::string& path, Context& context)
{
    if (!inputIsUsable(context, path))
        return std::nullopt;
    LoadedImage loaded = loadCheckedImage(path);
    if (loaded.image.isNull()) {
        context.prompt.reportOpenFailure(path, loaded.error);
        return std::nullopt;
    }
    std::optional<NoteMask> mask = noteMaskFromPicture(loaded.image);
    if (!mask)
        context.prompt.reportOpenFailure(path, "its pixel layout cannot be used as a mask");
    return mask;
}

// The mask's notes in the note layer's order, which is the order of the picture's own rows.
std::optional<NoteLayer> readMask(const std::string& path, const SavableWriterDocument& doc,
                                  Context& context)
{
    std::optional<NoteMask> mask = loadMask(path, context);
    if (!mask)
        return std::nullopt;
    if (mask->width != doc.width() || mask->height != doc.height()) {
        context.err << "ombri: the mask '" << printableName(path) << "' is " << mask->width << 'x'
                    << mask->height << " pixels but the image is " << doc.width() << 'x'
                    << doc.height() << "; give a mask of the image's size\n";
        return std::nullopt;
    }
    return std::move(mask->notes);
}

Exit runEmbed(const Invocation& invocation, Context& context)
{
    if (auto refused = checkOutput(context, "embed", invocation.operands, *invocation.output))
        return *refused;
    SavableWriterDocument doc(context.prompt);
    if (!openDocument(doc, context, invocation.operands[0]))
        return Exit::BadInput;
    std::optional<NoteLayer> mask = readMask(invocation.operands[1], doc, context);
    if (!mask)
        return Exit::BadInput;
    doc.MergeNotes(mask->data());
    // The notes are the document's now; the mask is let go of before the save.
    mask.reset();
    return saveDocument(doc, invocation, context, *invocation.output);
}

// --- convert and clear ---

Exit runConvert(const Invocation& invocation, Context& context)
{
    if (auto refused =
            checkOutput(context, "convert", {invocation.operands[0]}, invocation.operands[1]))
        return *refused;
    SavableWriterDocument doc(context.prompt);
    if (!openDocument(doc, context, invocation.operands[0]))
        return Exit::BadInput;
    return saveDocument(doc, invocation, context, invocation.operands[1]);
}

// --- repair: the marker written back where other readers look for it ---

// A turned or mirrored carrier is saved as it now lies, with its notes and the marker in the
// place its new file's format gives it, so that every reader finds the notes again. Unlike
// convert, repair never saves a picture that would come out without notes.
Exit runRepair(const Invocation& invocation, Context& context)
{
    const std::string& path = invocation.operands[0];
    const std::string& target = *invocation.output;
    if (auto refused = checkOutput(context, "repair", invocation.operands, target))
        return *refused;
    const std::string refusal = "ombri: " + printableName(target) + " cannot carry notes: ";
    if (const ImageFormat* format = SavableWriterDocument::saveFormatFor(FileExtension(target));
        format && !savesNotes(*format)) {
        context.err << refusal << format->name << " files lose them; name " << noteFormatChoice()
                    << " file\n";
        return Exit::WriteFailed;
    }
    SavableWriterDocument doc(context.prompt);
    if (!openDocument(doc, context, path))
        return Exit::BadInput;
    if (!carriesNotes(doc)) {
        context.err << "ombri: '" << printableName(path) << "' carries no notes";
        if (!doc.hasPixelWords() && doc.foundSignature().state == SignatureState::Damaged)
            context.err << ": its signature is damaged, and without one the low bits of its "
                           "pixels are not notes";
        context.err << '\n';
        return Exit::NoNotes;
    }
    if (invocation.depth)
        doc.setSaveDepth(*invocation.depth);
    // Checked whatever the number of notes: a carrier without a single note pixel still keeps
    // its marker, and a file written without one would carry no notes at all.
    const int least = doc.minimumWidthForNotes(target);
    if (doc.width() < least) {
        context.err << refusal << "the picture is " << doc.width()
                    << " pixels wide and needs at least " << least
                    << " to keep them; DPX and Cineon files keep the notes of any width\n";
        return Exit::WriteFailed;
    }
    return saveDocument(doc, invocation, context, target);
}

Exit runClear(const Invocation& invocation, Context& context)
{
    if (auto refused = checkOutput(context, "clear", invocation.operands, *invocation.output))
        return *refused;
    SavableWriterDocument doc(context.prompt);
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

// --- The command table ---

const Command kCommands[] = {
    {"info", "info [-r] [--json] [-j N] PATH...", "PATH", infoDescription(), false, false, false, 1,
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
    {"repair", "repair IN -o OUT [--depth 24|32]", "IN",
     "Saves IN with its notes as OUT, with the signature where the format of OUT puts it: a\n"
     "picture that another program has turned or mirrored (info shows its orientation) is\n"
     "written as it now lies, and every reader finds its notes again. The extension of OUT\n"
     "chooses the format, as for convert; DPX and Cineon files need no signature and get the\n"
     "notes as convert writes them. Exits 3 when IN carries no notes, and 4 without writing\n"
     "when OUT cannot carry them: a JPEG file, or a picture now narrower than the signature\n"
     "(8 pixels; 6 at --depth 32, except SGI). OUT may not be IN.\n",
     true, true, false, 1, 1, runRepair},
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

int runCommand(const Command& command, std::vector<std::string> arguments, Context& context)
{
    ParsedArguments parsed = parseArguments(command, std::move(arguments));
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
        out << "ombri " << OMBRI_VERSION << '\n';
        return static_cast<int>(Exit::Done);
    }
    const Command* command = findCommand(first);
    if (!command) {
        if (first.size() > 1 && first[0] == '-')
            return static_cast<int>(
                usageError(err, "unknown option '" + printableName(first) + "'"));
        std::string names;
        for (const auto& known : kCommands)
            names += std::string(names.empty() ? "" : ", ") + known.name;
        return static_cast<int>(usageError(err, "unknown command '" + printableName(first) +
                                                    "' (the commands are " + names + ")"));
    }
    std::vector<std::string> arguments(argv + commandAt + 1, argv + argc);
    if (verbose)
        arguments.insert(arguments.begin(), "--verbose");
    return runCommand(*command, std::move(arguments), context);
}

} // namespace ombri::cli
