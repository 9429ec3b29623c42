// make_samples OUTDIR: draws the sample pictures shipped with OmbriTools, adds hand-drawn-looking
// notes and saves them through the writer's own document, so each sample is exactly what a user
// of the writer would produce.

#include "core/dib.h"
#include "formats/bmp.h"
#include "notes/carrier.h"
#include "platform/scripted_prompt.h"
#include "writer/savable_writer_document.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace ombri;
using ombri::writer::SavableWriterDocument;

constexpr double kPi = 3.14159265358979323846;

// --- Pictures ---

struct Colour {
    double red = 0, green = 0, blue = 0, alpha = 255;
};

Colour mix(const Colour& a, const Colour& b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
            a.blue + (b.blue - a.blue) * t, a.alpha + (b.alpha - a.alpha) * t};
}

uint8_t toByte(double value)
{
    return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

// A fixed pseudo-random grain, so that the samples are the same on every run.
double grain(int x, int y)
{
    uint32_t v = static_cast<uint32_t>(x) * 73856093u ^ static_cast<uint32_t>(y) * 19349663u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return static_cast<double>(v & 0xFF) / 255.0 - 0.5;
}

// Calls paint(x, yFromTop) for every pixel and stores the colour blue first, bottom row first.
template <typename Paint>
Dib paintPicture(int32_t width, int32_t height, uint16_t bitCount, Paint paint)
{
    Dib picture = Dib::create(width, height, bitCount);
    auto layout = dibGetLayout(picture);
    if (!layout)
        return picture;
    const size_t step = bitCount / 8;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = picture.data() + layout->pixelOffset +
                       static_cast<size_t>(height - 1 - y) * layout->stride;
        for (int32_t x = 0; x < width; ++x) {
            const Colour colour = paint(x, y);
            uint8_t* pixel = row + static_cast<size_t>(x) * step;
            pixel[0] = toByte(colour.blue);
            pixel[1] = toByte(colour.green);
            pixel[2] = toByte(colour.red);
            if (step == 4)
                pixel[3] = toByte(colour.alpha);
        }
    }
    return picture;
}

double farHillTop(int x)
{
    return 212 + 16 * std::sin(x * 0.013 + 1.0) + 7 * std::sin(x * 0.041 + 0.3);
}

double nearHillTop(int x)
{
    return 252 + 20 * std::sin(x * 0.0085 + 2.2) + 6 * std::sin(x * 0.047 + 1.1);
}

Colour sunsetSky(int x, int y)
{
    const Colour zenith{38, 44, 112}, middle{190, 92, 120}, horizon{255, 170, 88};
    Colour sky = y < 120 ? mix(zenith, middle, y / 120.0) : mix(middle, horizon, (y - 120) / 110.0);
    // The sun and its glow.
    const double distance = std::hypot(x - 330.0, y - 172.0);
    if (distance < 30)
        return mix(Colour{255, 244, 196}, Colour{255, 214, 120}, distance / 30.0);
    const double glow = std::exp(-(distance - 30) / 55.0);
    return mix(sky, Colour{255, 226, 150}, glow * 0.8);
}

Colour sunsetPixel(int x, int y)
{
    const double texture = grain(x, y) * 10;
    if (y >= nearHillTop(x)) {
        const Colour top{58, 92, 48}, bottom{22, 40, 24};
        Colour hill = mix(top, bottom, (y - nearHillTop(x)) / 90.0);
        hill.green += texture;
        return hill;
    }
    if (y >= farHillTop(x)) {
        Colour hill = mix(Colour{120, 82, 118}, Colour{84, 70, 104}, (y - farHillTop(x)) / 60.0);
        hill.blue += texture * 0.5;
        return hill;
    }
    return sunsetSky(x, y);
}

// A colour wheel running left to right, darkening downwards, with its bottom right corner
// fading to half transparent.
Colour gradientPixel(int x, int y, int width, int height)
{
    const double hue = 2 * kPi * x / width;
    const double shade = 1.0 - 0.5 * y / height;
    Colour colour{(0.5 + 0.5 * std::cos(hue)) * 255 * shade,
                  (0.5 + 0.5 * std::cos(hue - 2 * kPi / 3)) * 255 * shade,
                  (0.5 + 0.5 * std::cos(hue + 2 * kPi / 3)) * 255 * shade};
    const double corner = std::hypot(width - x, height - y);
    colour.alpha = corner < 110 ? 255 - 160 * (1 - corner / 110) : 255;
    return colour;
}

// --- Notes ---

// A note canvas in picture coordinates (top row first); turned into the note layer's bottom-up
// order only at the end.
class NoteCanvas {
  public:
    NoteCanvas(int width, int height)
        : m_width(width), m_height(height), m_cells(static_cast<size_t>(width) * height)
    {
    }

    void set(int x, int y)
    {
        if (x >= 0 && y >= 0 && x < m_width && y < m_height)
            m_cells[static_cast<size_t>(y) * m_width + x] = 1;
    }

    void fillRect(int left, int top, int width, int height)
    {
        for (int y = top; y < top + height; ++y)
            for (int x = left; x < left + width; ++x)
                set(x, y);
    }

    NoteLayer toNoteLayer() const
    {
        NoteLayer layer(m_cells.size());
        const auto width = static_cast<size_t>(m_width);
        for (int y = 0; y < m_height; ++y)
            std::copy_n(m_cells.begin() + y * width, width,
                        layer.begin() + (m_height - 1 - y) * width);
        return layer;
    }

  private:
    int m_width;
    int m_height;
    std::vector<uint8_t> m_cells;
};

struct Glyph {
    char character;
    uint8_t rows[7]; // five columns each, the leftmost in bit 4
};

constexpr Glyph kFont[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
};

const Glyph* findGlyph(char character)
{
    for (const auto& glyph : kFont) {
        if (glyph.character == character)
            return &glyph;
    }
    return nullptr; // a space, or a character the font lacks: left blank
}

// Each font pixel becomes a scale x scale block; characters are one font pixel apart.
void drawText(NoteCanvas& canvas, int left, int top, int scale, const std::string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const Glyph* glyph = findGlyph(text[i]);
        if (!glyph)
            continue;
        const int glyphLeft = left + static_cast<int>(i) * 6 * scale;
        for (int row = 0; row < 7; ++row)
            for (int column = 0; column < 5; ++column)
                if (glyph->rows[row] & (0x10 >> column))
                    canvas.fillRect(glyphLeft + column * scale, top + row * scale, scale, scale);
    }
}

void drawLine(NoteCanvas& canvas, double x0, double y0, double x1, double y1, int thickness)
{
    const int steps = static_cast<int>(std::ceil(std::max(std::abs(x1 - x0), std::abs(y1 - y0))));
    for (int i = 0; i <= steps; ++i) {
        const double t = steps == 0 ? 0 : static_cast<double>(i) / steps;
        const int x = static_cast<int>(std::lround(x0 + (x1 - x0) * t));
        const int y = static_cast<int>(std::lround(y0 + (y1 - y0) * t));
        canvas.fillRect(x - thickness / 2, y - thickness / 2, thickness, thickness);
    }
}

void drawFrame(NoteCanvas& canvas, int left, int top, int width, int height, int thickness)
{
    canvas.fillRect(left, top, width, thickness);
    canvas.fillRect(left, top + height - thickness, width, thickness);
    canvas.fillRect(left, top, thickness, height);
    canvas.fillRect(left + width - thickness, top, thickness, height);
}

// A shaft from the tail to the tip and two barbs at the tip.
void drawArrow(NoteCanvas& canvas, double tailX, double tailY, double tipX, double tipY,
               int thickness)
{
    drawLine(canvas, tailX, tailY, tipX, tipY, thickness);
    const double angle = std::atan2(tipY - tailY, tipX - tailX);
    for (double side : {-1.0, 1.0}) {
        const double barb = angle + kPi + side * kPi / 6;
        drawLine(canvas, tipX, tipY, tipX + 16 * std::cos(barb), tipY + 16 * std::sin(barb),
                 thickness);
    }
}

void drawCircle(NoteCanvas& canvas, double centreX, double centreY, double radius, int thickness)
{
    const int steps = static_cast<int>(2 * kPi * radius);
    for (int i = 0; i < steps; ++i) {
        const double a0 = 2 * kPi * i / steps, a1 = 2 * kPi * (i + 1) / steps;
        drawLine(canvas, centreX + radius * std::cos(a0), centreY + radius * std::sin(a0),
                 centreX + radius * std::cos(a1), centreY + radius * std::sin(a1), thickness);
    }
}

// --- Scenes: a picture and the notes drawn over it ---

struct Scene {
    Dib picture;
    NoteLayer notes;
};

constexpr int kSunsetWidth = 480, kSunsetHeight = 320;
constexpr int kGradientWidth = 320, kGradientHeight = 240;

// The frame keeps clear of the picture's corners, where the file's marker lies.
Scene sunsetScene()
{
    NoteCanvas canvas(kSunsetWidth, kSunsetHeight);
    drawFrame(canvas, 10, 10, kSunsetWidth - 20, kSunsetHeight - 20, 3);
    drawText(canvas, 28, 28, 4, "OMBRI NOTES");
    drawText(canvas, 40, 270, 3, "HELLO");
    drawText(canvas, 150, 120, 2, "THE SUN");
    drawArrow(canvas, 240, 134, 292, 162, 3);
    return {paintPicture(kSunsetWidth, kSunsetHeight, 24, sunsetPixel), canvas.toNoteLayer()};
}

// A 32-bit picture whose notes reach into its half-transparent corner.
Scene gradientScene()
{
    NoteCanvas canvas(kGradientWidth, kGradientHeight);
    drawText(canvas, 24, 24, 5, "HELLO");
    drawText(canvas, 24, 76, 2, "NOTES IN ALPHA");
    drawCircle(canvas, 250, 185, 34, 3);
    drawText(canvas, 226, 180, 2, "32:1");
    auto picture = paintPicture(kGradientWidth, kGradientHeight, 32, [](int x, int y) {
        return gradientPixel(x, y, kGradientWidth, kGradientHeight);
    });
    return {std::move(picture), canvas.toNoteLayer()};
}

Scene plainScene()
{
    return {paintPicture(kSunsetWidth, kSunsetHeight, 24, sunsetPixel), NoteLayer()};
}

using SceneFn = Scene (*)();

struct Sample {
    const char* fileName; // the extension chooses the writer
    SceneFn scene;
    SaveDepth depth;
};

// One line per sample file: a format whose writer arrives gets its samples here.
constexpr Sample kSamples[] = {
    {"sunset-notes-32.png", sunsetScene, SaveDepth::Alpha32},
    {"sunset-notes-24.png", sunsetScene, SaveDepth::Bits24},
    {"sunset-notes.bmp", sunsetScene, SaveDepth::Bits24},
    {"sunset-notes-32.tif", sunsetScene, SaveDepth::Alpha32},
    {"sunset-notes-24.rgb", sunsetScene, SaveDepth::Bits24},
    {"sunset-notes.dpx", sunsetScene, SaveDepth::Bits24},
    {"gradient-notes-32.png", gradientScene, SaveDepth::Alpha32},
    {"gradient-notes-32.rgb", gradientScene, SaveDepth::Alpha32},
    {"plain.png", plainScene, SaveDepth::Bits24},
};

// --- Saving through the writer's document ---

// A BMP in the temporary folder holding the picture, removed when the object goes: the
// document is given its picture the way a user gives it one, by opening a file.
class TemporaryPicture {
  public:
    explicit TemporaryPicture(const Dib& picture)
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ombri-sample-XXXXXX.bmp").string();
        const int fd = ::mkstemps(pattern.data(), 4);
        if (fd < 0)
            return;
        ::close(fd);
        m_path = pattern;
        if (Status written = WriteBmpFile(m_path, picture); !written)
            std::cerr << "make_samples: " << written.error() << '\n';
    }
    ~TemporaryPicture()
    {
        if (!m_path.empty())
            std::remove(m_path.c_str());
    }
    TemporaryPicture(const TemporaryPicture&) = delete;
    TemporaryPicture& operator=(const TemporaryPicture&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

bool saveSample(const Sample& sample, const std::string& folder)
{
    const Scene scene = sample.scene();
    const TemporaryPicture source(scene.picture);
    ScriptedPrompt prompt;
    SavableWriterDocument doc(prompt);
    if (source.path().empty() || !doc.OnOpenDocument(source.path())) {
        std::cerr << "make_samples: cannot prepare the picture for " << sample.fileName << '\n';
        return false;
    }
    if (!scene.notes.empty())
        doc.MergeNotes(scene.notes.data());
    doc.setSaveDepth(sample.depth);
    const std::string target = folder + "/" + sample.fileName;
    if (doc.SaveImageByExtension(target) != SavableWriterDocument::SaveOutcome::Saved) {
        std::cerr << "make_samples: cannot save " << target << ": " << doc.lastSaveError() << '\n';
        return false;
    }
    std::cout << target << '\n';
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "Usage: make_samples OUTDIR\n";
        return 1;
    }
    bool allSaved = true;
    for (const auto& sample : kSamples)
        allSaved = saveSample(sample, argv[1]) && allSaved;
    return allSaved ? 0 : 1;
}
