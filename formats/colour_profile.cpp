#include "formats/colour_profile.h"

#include "formats/diagnostics.h"

#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

namespace ombri {

namespace {

// The colour engine reports what it found wrong in a profile through this handler and then
// fails the call that met it. The failure is what counts; the words go to the trace of a user
// who asked for diagnostics.
void onColourEngineError(cmsContext, cmsUInt32Number, const char* text)
{
    formatErrorDiagnostic("lcms2 error: %s\n", text);
}

struct ContextCloser {
    void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformCloser {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using ContextPtr = std::unique_ptr<std::remove_pointer_t<cmsContext>, ContextCloser>;
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;
using TransformPtr = std::unique_ptr<void, TransformCloser>;

// Each use has a context of its own, so that thumbnails converted on other threads never share
// the engine's error handler or caches.
ContextPtr openContext()
{
    ContextPtr context(cmsCreateContext(nullptr, nullptr));
    if (context)
        cmsSetLogErrorHandlerTHR(context.get(), onColourEngineError);
    return context;
}

ProfilePtr openProfile(cmsContext context, ByteView profile)
{
    if (!context || !profile.data || profile.size == 0 || profile.size > kMaxColourProfileBytes)
        return nullptr;
    return ProfilePtr(cmsOpenProfileFromMemTHR(context, profile.data,
                                               static_cast<cmsUInt32Number>(profile.size)));
}

// Profiles are written by many programs, some of which put line breaks or other control
// characters in the name; what `ombri info` prints must stay on its line.
std::string printableLine(const char* text)
{
    std::string line;
    for (const char* at = text; *at; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        line += c < 0x20 || c >= 0x7F ? ' ' : static_cast<char>(c);
    }
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

TransformPtr transformToSrgb(cmsContext context, void* from, cmsUInt32Number pixelType)
{
    ProfilePtr srgb(cmsCreate_sRGBProfileTHR(context));
    if (!srgb || cmsGetColorSpace(from) != cmsSigRgbData)
        return nullptr;
    return TransformPtr(cmsCreateTransformTHR(context, from, pixelType, srgb.get(), pixelType,
                                              INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA));
}

// Most phones and cameras embed a profile of sRGB itself. Converting from it would cost a copy
// of the picture and a quarter of a second for nothing, so a transform that leaves a grid of
// colours spanning the cube within one step of where they were counts as none.
bool leavesColoursAsTheyAre(void* transform, size_t bytesPerPixel)
{
    constexpr size_t kLevels = 8;
    constexpr size_t kProbes = kLevels * kLevels * kLevels;
    std::vector<uint8_t> probes(kProbes * bytesPerPixel);
    for (size_t at = 0; at < kProbes; ++at)
        for (size_t channel = 0; channel < 3; ++channel) {
            const size_t level = channel == 0   ? at % kLevels
                                 : channel == 1 ? at / kLevels % kLevels
                                                : at / (kLevels * kLevels);
            probes[at * bytesPerPixel + channel] =
                static_cast<uint8_t>(level * 255 / (kLevels - 1));
        }
    std::vector<uint8_t> converted(probes.size());
    cmsDoTransform(transform, probes.data(), converted.data(), kProbes);
    for (size_t at = 0; at < kProbes; ++at)
        for (size_t channel = 0; channel < 3; ++channel) {
            const int before = probes[at * bytesPerPixel + channel];
            const int after = converted[at * bytesPerPixel + channel];
            if (after < before - 1 || after > before + 1)
                return false;
        }
    return true;
}

// A photo of 24 million pixels takes about a quarter of a second on one core: the rows are
// converted in bands, one a core, each band at least this many bytes. A transform may be used by
// several threads at once.
constexpr size_t kBytesPerBand = size_t{4} << 20;

unsigned bandsFor(size_t bytes, size_t rowCount)
{
    const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    const size_t wanted = std::max<size_t>(1, bytes / kBytesPerBand);
    return static_cast<unsigned>(std::min<size_t>({cores, wanted, std::max<size_t>(rowCount, 1)}));
}

// Converted in place, row by row: the padding behind each row is never handed over.
void convertRows(void* transform, const PixelRows& rows)
{
    const unsigned bands = bandsFor(rows.rowBytes() * rows.height, rows.height);
    const auto bandStart = [&](unsigned band) { return rows.height * band / bands; };
    const auto width = static_cast<cmsUInt32Number>(rows.width);
    const auto convertBand = [&](size_t first, size_t end) {
        for (size_t y = first; y < end; ++y)
            cmsDoTransform(transform, rows.row(y), rows.row(y), width);
    };
    std::vector<std::thread> threads;
    try {
        for (unsigned band = 1; band < bands; ++band)
            threads.emplace_back(convertBand, bandStart(band), bandStart(band + 1));
    } catch (const std::system_error&) {
        // No more threads to be had: the bands not started are converted here.
        convertBand(bandStart(static_cast<unsigned>(threads.size()) + 1), rows.height);
    }
    convertBand(0, bandStart(1));
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace

std::string colourProfileDescription(ByteView profile)
{
    ContextPtr context = openContext();
    ProfilePtr opened = openProfile(context.get(), profile);
    if (!opened)
        return {};
    char text[256] = "";
    if (cmsGetProfileInfoASCII(opened.get(), cmsInfoDescription, "en", "US", text, sizeof text) ==
        0)
        return {};
    text[sizeof text - 1] = '\0';
    return printableLine(text);
}

Dib convertedToSrgb(const Dib& picture, ByteView profile)
{
    const auto layout = dibGetLayout(picture);
    if (!layout || (layout->bitCount != 24 && layout->bitCount != 32))
        return {};
    ContextPtr context = openContext();
    ProfilePtr opened = openProfile(context.get(), profile);
    if (!opened)
        return {};
    TransformPtr transform = transformToSrgb(context.get(), opened.get(),
                                             layout->bitCount == 32 ? TYPE_BGRA_8 : TYPE_BGR_8);
    if (!transform || leavesColoursAsTheyAre(transform.get(), layout->bitCount / 8u))
        return {};
    Dib converted = picture.clone();
    if (converted.isNull())
        return {};
    convertRows(transform.get(), pixelRowsOf(converted, *layout));
    return converted;
}

} // namespace ombri
