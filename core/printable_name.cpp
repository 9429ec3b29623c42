#include "core/printable_name.h"

namespace ombri {

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

namespace {

// How many bytes from text[at] are shown as they are; 0 when the byte there is escaped.
// C0 controls and DEL are escaped, and so is every byte outside well-formed UTF-8: a lone byte
// 0x9B is a CSI to a terminal that reads 8-bit controls, and a message box would show any
// stray byte as U+FFFD, hiding which byte it was. The C1 controls U+0080 to U+009F are escaped
// even as well-formed UTF-8, because some terminals obey them in that form too.
size_t shownAsIs(const std::string& text, size_t at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F)
        return 0;
    if (byte < 0x80)
        return 1;
    const size_t length = utf8SequenceLength(text, at);
    if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0)
        return 0;
    return length;
}

void appendEscape(std::string& shown, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789abcdef";
    switch (byte) {
    case '\n':
        shown += "\\n";
        return;
    case '\t':
        shown += "\\t";
        return;
    case '\r':
        shown += "\\r";
        return;
    default:
        shown += "\\x";
        shown += kHex[byte >> 4];
        shown += kHex[byte & 0xF];
    }
}

// A backslash of the name is doubled only where it would otherwise start one of the escapes:
// before n, t, r, x, another backslash, or a byte that is escaped itself. Everywhere else it
// stays single, so that a name such as "scan\2024.png" reads as it is, and still every shown
// name stands for exactly one name.
bool backslashNeedsDoubling(const std::string& text, size_t at)
{
    if (at + 1 >= text.size())
        return false;
    const char next = text[at + 1];
    return next == 'n' || next == 't' || next == 'r' || next == 'x' || next == '\\' ||
           shownAsIs(text, at + 1) == 0;
}

} // namespace

std::string printableName(const std::string& name)
{
    std::string shown;
    shown.reserve(name.size());
    for (size_t at = 0; at < name.size();) {
        const size_t length = shownAsIs(name, at);
        if (length == 0) {
            appendEscape(shown, static_cast<unsigned char>(name[at]));
            ++at;
            continue;
        }
        if (name[at] == '\\' && backslashNeedsDoubling(name, at))
            shown += '\\';
        shown.append(name, at, length);
        at += length;
    }
    return shown;
}

} // namespace ombri
