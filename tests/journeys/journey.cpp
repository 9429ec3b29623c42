#include "journeys/journey.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ombri::journey {

namespace {

bool isBare(const std::string& word)
{
    if (word.empty() || word[0] == '"' || word[0] == '#')
        return false;
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte >= 0x7F || c == '\\' || c == '"')
            return false;
    }
    return true;
}

std::string quoted(const std::string& word)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
        case '"':
            out += '\\';
            out += c;
            break;
        default:
            if (byte < ' ' || byte >= 0x7F) {
                out += "\\x";
                out += kHex[byte >> 4];
                out += kHex[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The quoted word that starts at `at` (its opening quote); `at` ends past the closing quote.
Result<std::string> unquoted(const std::string& line, size_t& at)
{
    std::string word;
    for (++at; at < line.size(); ++at) {
        const char c = line[at];
        if (c == '"') {
            ++at;
            return word;
        }
        if (c != '\\') {
            word += c;
            continue;
        }
        if (++at == line.size())
            break;
        switch (line[at]) {
        case 'n':
            word += '\n';
            break;
        case 'r':
            word += '\r';
            break;
        case 't':
            word += '\t';
            break;
        case '\\':
        case '"':
            word += line[at];
            break;
        case 'x': {
            const int high = at + 2 < line.size() ? hexDigit(line[at + 1]) : -1;
            const int low = high >= 0 ? hexDigit(line[at + 2]) : -1;
            if (low < 0)
                return fail("\\x without two hex digits");
            word += static_cast<char>(high * 16 + low);
            at += 2;
            break;
        }
        default:
            return fail(std::string("unknown escape \\") + line[at]);
        }
    }
    return fail("a quote that is never closed");
}

} // namespace

const std::string& Step::word(size_t index) const
{
    static const std::string kNone;
    return index < words.size() ? words[index] : kNone;
}

int Step::number(size_t index) const
{
    const std::string& text = word(index);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' ? static_cast<int>(value) : 0;
}

std::string encodeStep(const Step& step)
{
    std::string line = step.verb;
    for (const std::string& word : step.words)
        line += " " + (isBare(word) ? word : quoted(word));
    return line;
}

Result<Step> decodeStep(const std::string& line)
{
    Step step;
    std::vector<std::string> words;
    for (size_t at = 0; at < line.size();) {
        if (line[at] == ' ' || line[at] == '\t') {
            ++at;
            continue;
        }
        if (line[at] == '"') {
            auto word = unquoted(line, at);
            if (!word)
                return fail(word.error());
            if (at < line.size() && line[at] != ' ' && line[at] != '\t')
                return fail("a quoted word runs into the next");
            words.push_back(word.take());
            continue;
        }
        const size_t end = std::min(line.find_first_of(" \t", at), line.size());
        words.push_back(line.substr(at, end - at));
        if (words.back().find_first_of("\"\\") != std::string::npos)
            return fail("a quote or backslash inside a bare word");
        at = end;
    }
    if (words.empty())
        return fail("no verb");
    step.verb = words.front();
    step.words.assign(words.begin() + 1, words.end());
    return step;
}

std::string encodeJourney(const Journey& journey)
{
    std::string text;
    for (const Step& step : journey)
        text += encodeStep(step) + "\n";
    return text;
}

Result<Journey> decodeJourney(const std::string& text)
{
    Journey journey;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#')
            continue;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        auto step = decodeStep(line);
        if (!step)
            return fail("line " + std::to_string(number) + " \"" + line +
                        "\" is no step: " + step.error());
        journey.push_back(step.take());
        journey.back().line = number;
    }
    return journey;
}

std::string whereIs(const Step& step, size_t index)
{
    const std::string place =
        step.line > 0 ? "line " + std::to_string(step.line) : "step " + std::to_string(index + 1);
    return place + " \"" + encodeStep(step) + "\"";
}

namespace {

// A pattern's word kind fits the word: a number, any word, or an answer.
bool fits(char kind, const std::string& word)
{
    if (kind == 'n') {
        char* end = nullptr;
        std::strtol(word.c_str(), &end, 10);
        return !word.empty() && *end == '\0';
    }
    if (kind == 'a')
        return word == "yes" || word == "no" || word == "cancel";
    return true;
}

const char* kindName(char kind)
{
    return kind == 'n' ? "a number" : kind == 'a' ? "yes, no or cancel" : "a word";
}

} // namespace

std::optional<std::string> checkWords(const char* pattern, const Step& step)
{
    std::istringstream kinds(pattern);
    std::string kind;
    size_t at = 0;
    while (kinds >> kind) {
        const char repeat = kind.size() > 1 ? kind[1] : '\0';
        const size_t least = repeat == '?' || repeat == '*' ? 0 : 1;
        const size_t most = repeat == '*' ? step.words.size() : 1;
        size_t count = 0;
        while (count < most && at < step.words.size() && fits(kind[0], step.words[at])) {
            ++count;
            ++at;
        }
        if (count < least)
            return "\"" + step.verb + "\" wants " + kindName(kind[0]) + " as word " +
                   std::to_string(at + 1) +
                   (at < step.words.size() ? ", not \"" + step.words[at] + "\"" : "");
    }
    if (at < step.words.size())
        return "\"" + step.verb + "\" takes no word \"" + step.words[at] + "\" there";
    return std::nullopt;
}

bool tracing()
{
    return std::getenv("OMBRI_JOURNEY_TRACE") != nullptr;
}

void traceStep(const Step& step, const std::string& state, qint64 milliseconds)
{
    std::cout << encodeStep(step) << "  ->  " << state << " (" << milliseconds << " ms)"
              << std::endl;
}

void recordStep(const Step& step)
{
    const char* file = std::getenv("OMBRI_JOURNEY_RECORD");
    if (!file || !*file)
        return;
    std::ofstream out(file, std::ios::app);
    out << encodeStep(step) << std::endl;
}

int Rng::below(int count)
{
    if (count <= 1)
        return 0;
    return static_cast<int>(m_engine() % static_cast<uint64_t>(count));
}

int Rng::between(int low, int high)
{
    return low + below(high - low + 1);
}

bool Rng::chance(int numerator, int denominator)
{
    return below(denominator) < numerator;
}

namespace {

// Failures are of the same kind when their messages agree up to the first digit: a shrunk
// journey must keep the fault it started with, not find another one on the way.
std::string kindOf(const std::string& message)
{
    const auto digit = message.find_first_of("0123456789");
    return message.substr(0, std::min(digit, size_t{80}));
}

} // namespace

Journey shrinkJourney(Journey journey, const Runner& run, Failure& failure, int maxRuns)
{
    const std::string kind = kindOf(failure.message);
    // Steps after the failing one play no part.
    if (failure.step + 1 < journey.size())
        journey.resize(failure.step + 1);
    int runs = 0;
    for (size_t chunk = std::max<size_t>(1, journey.size() / 2); chunk >= 1 && runs < maxRuns;) {
        bool removed = false;
        for (size_t start = 0; start < journey.size() && runs < maxRuns;) {
            Journey candidate = journey;
            const size_t end = std::min(journey.size(), start + chunk);
            candidate.erase(candidate.begin() + static_cast<long>(start),
                            candidate.begin() + static_cast<long>(end));
            ++runs;
            const Outcome outcome = candidate.empty() ? Outcome() : run(candidate);
            if (outcome && kindOf(outcome->message) == kind) {
                journey = candidate;
                failure = *outcome;
                if (failure.step + 1 < journey.size())
                    journey.resize(failure.step + 1);
                removed = true;
            } else {
                start += chunk;
            }
        }
        if (!removed) {
            if (chunk == 1)
                break;
            chunk /= 2;
        }
    }
    return journey;
}

int journeySteps(int fallback)
{
    if (const char* value = std::getenv("OMBRI_JOURNEY_STEPS"))
        return std::max(1, std::atoi(value));
    return fallback;
}

uint64_t clockSeed()
{
    if (const char* value = std::getenv("OMBRI_JOURNEY_SEED"))
        return std::strtoull(value, nullptr, 10);
    return static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) %
           1000000007ULL;
}

std::string failureFolder()
{
    const char* binary = std::getenv("OMBRI_BINARY_DIR");
    const std::string folder = std::string(binary ? binary : ".") + "/journeys-failed";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

std::string keepJourney(const std::string& name, const Journey& journey, const Failure& failure)
{
    const std::string path = failureFolder() + "/" + name;
    std::ofstream out(path);
    out << "# " << failure.message << "\n" << encodeJourney(journey);
    return path;
}

std::string readTextFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void walkFolder(const std::string& folder,
                const std::function<bool(const std::string& path, const struct stat& info)>& visit)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    std::vector<std::string> inner;
    while (const dirent* item = ::readdir(dir)) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0)
            continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        std::string path = folder + "/" + item->d_name;
        if (visit(path, info) && S_ISDIR(info.st_mode))
            inner.push_back(std::move(path));
    }
    ::closedir(dir);
    for (const std::string& path : inner)
        walkFolder(path, visit);
}

std::vector<std::string> journeyFiles(const std::string& folder, const std::string& prefix)
{
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0 && entry.path().extension() == ".journey")
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace ombri::journey
