#include "reader/settings.h"

#include "core/file_io.h"

#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

namespace ombri::reader {

namespace {

// Longer than any keyword: a longer word cannot match one, so only whether it was cut short is
// kept, and a damaged file of one endless word needs no more memory than this.
constexpr size_t kLongestWord = 64;

bool isSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Words and numbers taken from the file the way formatted stream extraction takes them: leading
// white space skipped, a number ending at its first non-digit, which stays for the next read.
class SettingsScanner {
  public:
    explicit SettingsScanner(std::FILE* file) : m_file(file) {}

    // The next white-space delimited word; nothing at the end of the file.
    std::optional<std::string> readWord()
    {
        int c = skipSpace();
        if (c == EOF)
            return std::nullopt;
        std::string word;
        bool cutShort = false;
        for (; c != EOF && !isSpace(c); c = std::getc(m_file)) {
            if (word.size() < kLongestWord)
                word.push_back(static_cast<char>(c));
            else
                cutShort = true;
        }
        if (cutShort)
            word.clear();
        return word;
    }

    // An unsigned decimal number that fits a colour; nothing when there are no digits or the
    // value is too large.
    std::optional<ColourRef> readNumber()
    {
        int c = skipSpace();
        if (c == '+')
            c = std::getc(m_file);
        if (!isDigit(c)) {
            putBack(c);
            return std::nullopt;
        }
        uint64_t value = 0;
        bool tooLarge = false;
        for (; isDigit(c); c = std::getc(m_file)) {
            value = value * 10 + static_cast<uint64_t>(c - '0');
            if (value > std::numeric_limits<ColourRef>::max()) {
                tooLarge = true;
                value = std::numeric_limits<ColourRef>::max();
            }
        }
        putBack(c);
        if (tooLarge)
            return std::nullopt;
        return static_cast<ColourRef>(value);
    }

    bool failed() const { return std::ferror(m_file) != 0; }

  private:
    int skipSpace()
    {
        int c = std::getc(m_file);
        while (isSpace(c))
            c = std::getc(m_file);
        return c;
    }
    void putBack(int c)
    {
        if (c != EOF)
            std::ungetc(c, m_file);
    }

    std::FILE* m_file;
};

// One keyword in its place, then its number. False when the reading must stop.
bool readColour(SettingsScanner& scanner, const char* keyword, ColourRef& colour)
{
    const std::optional<std::string> word = scanner.readWord();
    if (!word)
        return false;
    if (*word != keyword)
        return true;
    const std::optional<ColourRef> number = scanner.readNumber();
    if (!number)
        return false;
    colour = *number;
    return true;
}

} // namespace

std::string settingsDirectory()
{
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    return error ? std::string() : directory.string();
}

std::string settingsFilePath(const std::string& directory)
{
    if (directory.empty() || directory.back() == '/')
        return directory + kSettingsFileName;
    return directory + "/" + kSettingsFileName;
}

std::optional<ReaderSettings> loadSettings(const std::string& path)
{
    // Regular files only: a FIFO of that name in the folder the reader starts in would hold the
    // start up for good.
    auto file = openRegularStream(path);
    if (!file)
        return std::nullopt;
    ReaderSettings colours;
    SettingsScanner scanner(file.value().get());
    if (readColour(scanner, kLeftColourKeyword, colours.left) &&
        readColour(scanner, kMiddleColourKeyword, colours.middle))
        readColour(scanner, kRightColourKeyword, colours.right);
    // A folder of that name, or a read error, is a file that could not be read.
    if (scanner.failed())
        return std::nullopt;
    return colours;
}

bool saveSettings(const std::string& path, const ReaderSettings& colours)
{
    const std::string text = std::string(kLeftColourKeyword) + "\n" + std::to_string(colours.left) +
                             "\n" + kMiddleColourKeyword + "\n" + std::to_string(colours.middle) +
                             "\n" + kRightColourKeyword + "\n" + std::to_string(colours.right) +
                             "\n";
    AtomicFile file(path);
    return file.open() && file.write(text.data(), text.size()) && file.commit();
}

} // namespace ombri::reader
