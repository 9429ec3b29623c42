// What a save holds beside the open document. Every allocation of this program goes through the
// counting operator new below, so the program holds only these tests.

#include "formats/png.h"
#include "platform/scripted_prompt.h"
#include "support/status.h"
#include "support/test_support.h"
#include "writer/savable_writer_document.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The largest single block asked for while a test watches; AddressSanitizer keeps its own
// operator new, so there the tests that need it are skipped.
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};

#if !defined(__SANITIZE_ADDRESS__)
constexpr bool kCounting = true;
#else
constexpr bool kCounting = false;
#endif

} // namespace

#if !defined(__SANITIZE_ADDRESS__)
void* operator new(size_t size)
{
    if (g_watching.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    std::free(block);
}
#endif

namespace ombri::writer {
namespace {

// The largest block allocated while `work` runs.
template <typename Work> size_t largestAllocation(Work work)
{
    g_largest = 0;
    g_watching = true;
    work();
    g_watching = false;
    return g_largest;
}

class SaveMemoryTest : public ::testing::TestWithParam<std::tuple<uint16_t, SaveDepth>> {
  protected:
    // A picture of the source's bit count with a note every seventh pixel, opened as a document.
    void openWithNotes(int32_t width, int32_t height)
    {
        const std::string path = dir.file("picture.png");
        picture = test::makePatternImage(width, height, std::get<0>(GetParam()), 3);
        ASSERT_TRUE(test::succeeded(WritePngFile(path, picture)));
        ASSERT_TRUE(doc.OnOpenDocument(path)) << doc.lastOpenError();
        notes.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
        for (size_t i = 0; i < notes.size(); i += 7)
            notes[i] = 1;
        doc.MergeNotes(notes.data());
        doc.setSaveDepth(std::get<1>(GetParam()));
    }

    // The file a save makes from a whole carrier copy, the marker in the file's first row.
    std::vector<uint8_t> wholeCopyFile()
    {
        Dib copy = MakeCarrierCopy(doc.image(), *doc.noteLayer(), std::get<1>(GetParam()));
        auto layout = dibGetLayout(copy);
        EXPECT_TRUE(layout);
        if (!layout)
            return {};
        if (rowHoldsSignature(layout->width, layout->bitCount))
            writeCarrierSignature(copy.data() + layout->pixelOffset +
                                      layout->stride * static_cast<size_t>(layout->height - 1),
                                  layout->width, layout->bitCount);
        const std::string path = dir.file("whole.png");
        EXPECT_TRUE(test::succeeded(WritePngFile(path, copy)));
        return test::readFileBytes(path);
    }

    test::TempDir dir;
    ScriptedPrompt prompt;
    SavableWriterDocument doc{prompt};
    Dib picture;
    NoteLayer notes;
};

// Rows made one at a time must give the very file the whole copy gave: the marker in its row,
// the first row filtered against zeros, and the rows on either side of each part's seam (a
// picture this size is compressed in several parts).
TEST_P(SaveMemoryTest, RowsMadeAsTheEncoderAsksGiveTheFileOfAWholeCopy)
{
    for (const auto& [width, height] : {std::pair{2400, 1300}, std::pair{9, 3}, std::pair{16, 1}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        ASSERT_NO_FATAL_FAILURE(openWithNotes(width, height));
        const std::string path = dir.file("saved.png");
        ASSERT_EQ(doc.SaveImageByExtension(path), SavableWriterDocument::SaveOutcome::Saved)
            << doc.lastSaveError();
        EXPECT_TRUE(test::readFileBytes(path) == wholeCopyFile());
    }
}

// A picture without notes brought to another depth is made row by row too, and gives the file of
// a whole converted copy (alpha 255 where the picture has none).
TEST_P(SaveMemoryTest, RowsBroughtToTheSaveDepthGiveTheFileOfAWholeCopy)
{
    for (const auto& [width, height] : {std::pair{2400, 1300}, std::pair{7, 2}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        ASSERT_NO_FATAL_FAILURE(openWithNotes(width, height));
        doc.ClearNotes();
        const std::string path = dir.file("cleared.png");
        ASSERT_EQ(doc.SaveImageByExtension(path), SavableWriterDocument::SaveOutcome::Saved)
            << doc.lastSaveError();
        // PNG keeps a picture's own alpha in the 24-bit depth when there are no notes.
        const uint16_t depth = std::get<1>(GetParam()) == SaveDepth::Bits24
                                   ? DibGetBitCount(doc.image())
                                   : uint16_t{32};
        const std::string whole = dir.file("whole.png");
        ASSERT_TRUE(test::succeeded(WritePngFile(whole, dibConvertToBitCount(doc.image(), depth))));
        EXPECT_TRUE(test::readFileBytes(path) == test::readFileBytes(whole));
    }
}

// A save with notes holds no second whole picture: its largest block is well under the carrier's
// size (a part of the stream being compressed is at most 4 MiB).
TEST_P(SaveMemoryTest, ASaveWithNotesMakesNoWholeCopyOfThePicture)
{
    if (!kCounting)
        GTEST_SKIP() << "AddressSanitizer counts the program's allocations itself";
    ASSERT_NO_FATAL_FAILURE(openWithNotes(3000, 2000));
    const size_t carrierBytes = 3000u * 2000u * bitCountOf(std::get<1>(GetParam())) / 8u;
    const std::string path = dir.file("saved.png");
    auto outcome = SavableWriterDocument::SaveOutcome::Failed;
    const size_t largest = largestAllocation([&] { outcome = doc.SaveImageByExtension(path); });
    ASSERT_EQ(outcome, SavableWriterDocument::SaveOutcome::Saved) << doc.lastSaveError();
    EXPECT_LT(largest, carrierBytes / 2);
}

INSTANTIATE_TEST_SUITE_P(SourceAndDepth, SaveMemoryTest,
                         ::testing::Combine(::testing::Values<uint16_t>(24, 32),
                                            ::testing::Values(SaveDepth::Bits24,
                                                              SaveDepth::Alpha32)));

} // namespace
} // namespace ombri::writer
