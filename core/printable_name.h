#pragma once

#include <cstddef>
#include <string>

namespace ombri {

// A file name as it may be shown to the user in a message, a status bar or a terminal line.
// Names on Linux are bytes: one may hold a line break that makes a message lie about what
// follows, or a terminal escape sequence that rewrites the screen. Control characters (C0, DEL
// and the C1 range U+0080 to U+009F) and bytes that are not part of well-formed UTF-8 are shown
// as escapes: \n, \t, \r, or \xNN for each byte; a backslash is doubled only where it would
// otherwise start one. Ordinary UTF-8 names, spaces and quotes come out as they are. The name
// kept for file operations stays the raw one: this is for display only.
std::string printableName(const std::string& name);

// How many bytes of a well-formed UTF-8 sequence start at text[at]; 0 when none does (a stray
// continuation byte, a truncated sequence, an overlong form, a surrogate or a code point beyond
// U+10FFFF).
size_t utf8SequenceLength(const std::string& text, size_t at);

} // namespace ombri
