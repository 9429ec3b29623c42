#include "cli/transcript.h"

#include <utility>

namespace ombri::cli {

Transcript::Transcript() = default;

void Transcript::append(bool toError, const char* text, size_t length)
{
    if (length == 0)
        return;
    // Consecutive writes to one stream are one piece: a block of lines stays one string.
    if (m_pieces.empty() || m_pieces.back().toError != toError)
        m_pieces.push_back({toError, std::string()});
    m_pieces.back().text.append(text, length);
}

Transcript::Channel::int_type Transcript::Channel::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    const char character = traits_type::to_char_type(c);
    m_owner.append(m_toError, &character, 1);
    return c;
}

std::streamsize Transcript::Channel::xsputn(const char* text, std::streamsize count)
{
    if (count > 0)
        m_owner.append(m_toError, text, static_cast<size_t>(count));
    return count;
}

void Transcript::diagnostic(bool toError, const std::string& text)
{
    append(toError, text.data(), text.size());
}

std::vector<Transcript::Piece> Transcript::take()
{
    return std::exchange(m_pieces, {});
}

void Transcript::replay(const std::vector<Piece>& pieces, std::ostream& out, std::ostream& err)
{
    for (const auto& piece : pieces)
        (piece.toError ? err : out) << piece.text;
}

} // namespace ombri::cli
