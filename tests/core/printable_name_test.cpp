#include "core/printable_name.h"

#include <gtest/gtest.h>

#include <string>

namespace ombri {
namespace {

TEST(PrintableName, ControlCharactersAndStrayBytesAreEscapedAndTheRestKept)
{
    struct Case {
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        {"", ""},
        {"holiday 2024 \"best\" 'one'.png", "holiday 2024 \"best\" 'one'.png"},
        {"caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80.png",
         "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80.png"},
        {"\xC2\xA0no-break space.png", "\xC2\xA0no-break space.png"}, // U+00A0 is no control
        {"a\nb\tc\rd.png", "a\\nb\\tc\\rd.png"},
        {"\x1b[2J\x1b]0;title\x07.png", "\\x1b[2J\\x1b]0;title\\x07.png"},
        {std::string("nul\0.png", 8), "nul\\x00.png"},
        {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
        // A lone CSI byte, and the same control as well-formed UTF-8 (U+009B).
        {"\x9b"
         "31m.png",
         "\\x9b31m.png"},
        {"\xC2\x9b"
         "31m.png",
         "\\xc2\\x9b31m.png"},
        {"\xC2\x80\xC2\x9F", "\\xc2\\x80\\xc2\\x9f"},
        // Bytes outside well-formed UTF-8: cut short, overlong, surrogate, beyond U+10FFFF.
        {"\xFF.png", "\\xff.png"},
        {"\xC3.png", "\\xc3.png"},
        {"\xE2\x82.png", "\\xe2\\x82.png"},
        {"\xC0\xAF.png", "\\xc0\\xaf.png"},
        {"\xED\xA0\x80.png", "\\xed\\xa0\\x80.png"},
        {"\xF4\x90\x80\x80.png", "\\xf4\\x90\\x80\\x80.png"},
        // A backslash is doubled only where it would start an escape.
        {"scan\\2024\\a.png", "scan\\2024\\a.png"},
        {"end\\", "end\\"},
        {"a\\nb.png", "a\\\\nb.png"},
        {"a\\x1b.png", "a\\\\x1b.png"},
        {"a\\t\\r.png", "a\\\\t\\\\r.png"},
        {"a\\\\b.png", "a\\\\\\b.png"},
        {"a\\\n.png", "a\\\\\\n.png"},
        {"a\\\xFF.png", "a\\\\\\xff.png"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(printableName(c.name), c.shown) << c.shown;
}

} // namespace
} // namespace ombri
