#include "cli/render_command.h"

#include "core/dib.h"
#include "core/printable_name.h"
#include "formats/png.h"
#include "reader/command_ids.h"
#include "reader/folder_walk.h"
#include "reader/openable_reader_document.h"

#include <filesystem>
#include <system_error>

namespace ombri::cli {

namespace {

struct NamedCommand {
    const char* name;
    int command;
};

constexpr NamedCommand kColourNames[] = {
    {"red", reader::cmd::ColourRed},     {"green", reader::cmd::ColourGreen},
    {"blue", reader::cmd::ColourBlue},   {"black", reader::cmd::ColourBlack},
    {"white", reader::cmd::ColourWhite},
};

constexpr NamedCommand kAdjustmentNames[] = {
    {"auto-color", reader::cmd::AutoColour},
    {"auto-contrast", reader::cmd::AutoContrast},
    {"invert", reader::cmd::InvertColour},
    {"gray", reader::cmd::BlackAndWhite},
    {"red", reader::cmd::ChannelRed},
    {"green", reader::cmd::ChannelGreen},
    {"blue", reader::cmd::ChannelBlue},
    {"flip-h", reader::cmd::FlipHorizontal},
    {"flip-v", reader::cmd::FlipVertical},
    {"rot-cw", reader::cmd::RotateClockwise},
    {"rot-ccw", reader::cmd::RotateAnticlockwise},
};

template <size_t N>
std::optional<int> findCommand(const NamedCommand (&table)[N], const std::string& name)
{
    for (const auto& entry : table) {
        if (name == entry.name)
            return entry.command;
    }
    return std::nullopt;
}

std::optional<uint8_t> hexByte(const std::string& text, size_t at)
{
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    const int high = digit(text[at]);
    const int low = digit(text[at + 1]);
    if (high < 0 || low < 0)
        return std::nullopt;
    return static_cast<uint8_t>(high * 16 + low);
}

// The document moves the process into the picture's folder when it opens it; the command puts
// the process back where it started so that the caller's relative paths keep their meaning.
class CurrentDirectoryGuard {
  public:
    CurrentDirectoryGuard() { m_saved = std::filesystem::current_path(m_error); }
    ~CurrentDirectoryGuard()
    {
        if (!m_error)
            std::filesystem::current_path(m_saved, m_error);
    }
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

  private:
    std::error_code m_error;
    std::filesystem::path m_saved;
};

// Gives the document the commands a user would choose, in a fixed order: colour, complement,
// anti-aliasing, then the adjustments in the order given.
void applyOptions(reader::ReaderDocument& doc, const RenderOptions& options)
{
    if (options.colour) {
        if (options.colour->chosen)
            doc.onColourChosen(*options.colour->chosen);
        else
            doc.SelectNoteColour(options.colour->command);
    }
    if (options.complement)
        doc.SelectNoteColour(reader::cmd::ColourComplement);
    if (!options.antiAliasing && doc.antiAliasing())
        doc.ToggleAntiAliasing();
    for (int command : options.adjustments)
        doc.onAdjustmentCommand(command);
}

} // namespace

std::optional<RenderColour> parseRenderColour(const std::string& value)
{
    if (auto command = findCommand(kColourNames, value))
        return RenderColour{*command, std::nullopt};
    if (value.size() != 7 || value[0] != '#')
        return std::nullopt;
    const auto red = hexByte(value, 1);
    const auto green = hexByte(value, 3);
    const auto blue = hexByte(value, 5);
    if (!red || !green || !blue)
        return std::nullopt;
    return RenderColour{reader::cmd::ColourSelected, reader::NoteColour{*red, *green, *blue}};
}

std::optional<std::vector<int>> parseAdjustList(const std::string& value)
{
    std::vector<int> commands;
    size_t start = 0;
    while (true) {
        const size_t comma = value.find(',', start);
        const std::string item =
            value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto command = findCommand(kAdjustmentNames, item);
        if (!command)
            return std::nullopt;
        commands.push_back(*command);
        if (comma == std::string::npos)
            return commands;
        start = comma + 1;
    }
}

Exit runRender(const std::string& input, const std::string& output, const RenderOptions& options,
               Prompt& prompt, std::ostream& err)
{
    CurrentDirectoryGuard keepDirectory;
    const std::string target = reader::absolutePath(output);
    reader::OpenableReaderDocument doc(prompt);
    // What the command line writes keeps the colours stored in the file, profile or not.
    doc.setConvertsColours(false);
    if (!doc.OnOpenDocument(input)) {
        prompt.reportOpenFailure(input, doc.lastOpenError());
        return Exit::BadInput;
    }
    applyOptions(doc, options);
    // The document is not needed once the picture is made: it is made in the picture's own
    // block where it can be, so that the save never holds two whole pictures.
    Dib shown = doc.TakeDisplayImage(!options.hideNotes);
    const uint16_t bitCount = DibGetBitCount(shown);
    if (!shown.isNull() && bitCount != 24 && bitCount != 32)
        shown = dibConvertToBitCount(shown, 24);
    const Dib* display = shown.isNull() ? nullptr : &shown;
    if (!display) {
        prompt.reportOpenFailure(input, "its pixel layout cannot be shown");
        return Exit::BadInput;
    }
    if (Status written = WritePngFile(target, *display); !written) {
        err << "ombri: cannot write '" << printableName(output) << "': " << written.error() << '\n';
        return Exit::WriteFailed;
    }
    return Exit::Done;
}

} // namespace ombri::cli
