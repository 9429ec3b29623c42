#include "support/imagemagick.h"

#include "support/test_support.h"

#include <cctype>
#include <cstdio>

namespace ombri::test {

bool haveImageMagick()
{
    static const bool real = [] {
        std::FILE* pipe = popen("convert -version 2>/dev/null", "r");
        if (!pipe)
            return false;
        char line[256] = "";
        const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
        pclose(pipe);
        return got && std::string(line).rfind("Version: ImageMagick", 0) == 0;
    }();
    return real;
}

std::string runConvert(const std::string& arguments)
{
    std::FILE* pipe = popen(("convert " + arguments + " 2>&1").c_str(), "r");
    if (!pipe)
        return "cannot run convert";
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    return status == 0 ? std::string() : "convert " + arguments + ": " + output;
}

namespace {

// Header tokens separated by white space, "#" comments skipped to the end of their line.
class HeaderReader {
  public:
    explicit HeaderReader(const std::vector<uint8_t>& file) : m_file(file) {}

    std::string token()
    {
        skipSpaceAndComments();
        std::string out;
        while (m_at < m_file.size() && !std::isspace(m_file[m_at]))
            out += static_cast<char>(m_file[m_at++]);
        return out;
    }
    bool number(int& value)
    {
        const std::string text = token();
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = std::stoi(text);
        return true;
    }
    // Past the one white-space byte that ends the header.
    size_t samplesStart() const { return m_at + 1; }
    void skipLine()
    {
        while (m_at < m_file.size() && m_file[m_at] != '\n')
            ++m_at;
    }

  private:
    void skipSpaceAndComments()
    {
        while (m_at < m_file.size() && (std::isspace(m_file[m_at]) || m_file[m_at] == '#')) {
            if (m_file[m_at] == '#')
                skipLine();
            else
                ++m_at;
        }
    }

    const std::vector<uint8_t>& m_file;
    size_t m_at = 0;
};

// P6: width, height and maxval.
bool readPpmHeader(HeaderReader& header, Pixmap& out, int& maxval)
{
    out.channels = 3;
    return header.number(out.width) && header.number(out.height) && header.number(maxval);
}

// P7: lines of a name and a value up to ENDHDR.
bool readPamHeader(HeaderReader& header, Pixmap& out, int& maxval)
{
    for (std::string name = header.token(); name != "ENDHDR"; name = header.token()) {
        if (name.empty())
            return false;
        if (name == "TUPLTYPE") {
            header.skipLine();
            continue;
        }
        int value = 0;
        if (!header.number(value))
            return false;
        if (name == "WIDTH")
            out.width = value;
        else if (name == "HEIGHT")
            out.height = value;
        else if (name == "DEPTH")
            out.channels = value;
        else if (name == "MAXVAL")
            maxval = value;
    }
    return true;
}

} // namespace

Pixmap readPixmap(const std::string& path)
{
    const std::vector<uint8_t> file = readFileBytes(path);
    HeaderReader header(file);
    const std::string magic = header.token();
    Pixmap pixmap;
    int maxval = 0;
    const bool read = magic == "P6"   ? readPpmHeader(header, pixmap, maxval)
                      : magic == "P7" ? readPamHeader(header, pixmap, maxval)
                                      : false;
    const size_t at = header.samplesStart();
    if (!read || maxval != 255 || pixmap.width <= 0 || pixmap.height <= 0 || pixmap.channels <= 0 ||
        at > file.size())
        return {};
    pixmap.samples.assign(file.begin() + static_cast<long>(at), file.end());
    if (pixmap.samples.size() !=
        size_t(pixmap.width) * size_t(pixmap.height) * size_t(pixmap.channels))
        return {};
    return pixmap;
}

void writePpm(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb)
{
    const std::string head =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<uint8_t> file(head.begin(), head.end());
    file.insert(file.end(), rgb.begin(), rgb.end());
    writeFileBytes(path, file);
}

void writePam(const std::string& path, const Dib& image, int channels)
{
    const std::string header = "P7\nWIDTH " + std::to_string(DibGetWidth(image)) + "\nHEIGHT " +
                               std::to_string(DibGetHeight(image)) + "\nDEPTH " +
                               std::to_string(channels) + "\nMAXVAL 255\nTUPLTYPE " +
                               (channels == 4 ? "RGB_ALPHA" : "RGB") + "\nENDHDR\n";
    std::vector<uint8_t> file(header.begin(), header.end());
    const std::vector<uint8_t> pixels = redFirstSamples(image, channels);
    file.insert(file.end(), pixels.begin(), pixels.end());
    writeFileBytes(path, file);
}

std::vector<uint8_t> redFirstSamples(const Dib& image, int channels)
{
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < DibGetHeight(image); ++y)
        for (int32_t x = 0; x < DibGetWidth(image); ++x)
            for (int c : {2, 1, 0, 3})
                if (c < channels)
                    out.push_back(pixelAt(image, x, y)[c]);
    return out;
}

} // namespace ombri::test
