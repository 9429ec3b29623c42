#include "journeys/journey.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ombri::journey {

namespace {

std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
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
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescaped(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        default:
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string encodeStep(const Step& step)
{
    std::string line = step.verb;
    for (const int value : step.args)
        line += " " + std::to_string(value);
    if (!step.text.empty())
        line += " | " + escaped(step.text);
    return line;
}

std::optional<Step> decodeStep(const std::string& line)
{
    Step step;
    const auto bar = line.find(" | ");
    std::istringstream words(line.substr(0, bar));
    if (!(words >> step.verb))
        return std::nullopt;
    std::string word;
    while (words >> word) {
        char* end = nullptr;
        const long value = std::strtol(word.c_str(), &end, 10);
        if (end == word.c_str() || *end != '\0')
            return std::nullopt;
        step.args.push_back(static_cast<int>(value));
    }
    if (bar != std::string::npos)
        step.text = unescaped(line.substr(bar + 3));
    return step;
}

std::string encodeJourney(const Journey& journey)
{
    std::string text;
    for (const Step& step : journey)
        text += encodeStep(step) + "\n";
    return text;
}

Journey decodeJourney(const std::string& text)
{
    Journey journey;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (auto step = decodeStep(line))
            journey.push_back(*step);
    }
    return journey;
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
