#pragma once

#include "formats/diagnostics.h"

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace ombri::cli {

// What a piece of work wrote to its two output streams, and the readers' trace made on its
// thread, kept in the order it was written so that it can be written out later exactly as if it
// had gone out at once. Lets info read files on other threads and still print each file's lines
// in the order of the files, standard error interleaved with standard output as it would be.
class Transcript : public DiagnosticSink {
  public:
    struct Piece {
        bool toError;
        std::string text;
    };

    Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    std::ostream& out() { return m_out; }
    std::ostream& err() { return m_err; }

    void diagnostic(bool toError, const std::string& text) override;

    // Everything written since the last take, handed over.
    std::vector<Piece> take();

    static void replay(const std::vector<Piece>& pieces, std::ostream& out, std::ostream& err);

  private:
    // An unbuffered stream buffer that appends whatever is written to the transcript.
    class Channel : public std::streambuf {
      public:
        Channel(Transcript& owner, bool toError) : m_owner(owner), m_toError(toError) {}

      protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* text, std::streamsize count) override;

      private:
        Transcript& m_owner;
        bool m_toError;
    };

    void append(bool toError, const char* text, size_t length);

    std::vector<Piece> m_pieces;
    Channel m_outChannel{*this, false};
    Channel m_errChannel{*this, true};
    std::ostream m_out{&m_outChannel};
    std::ostream m_err{&m_errChannel};
};

} // namespace ombri::cli
