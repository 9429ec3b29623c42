#include "reader/memory_budget.h"

#include "formats/jpeg.h"
#include "formats/png.h"
#include "formats/webp.h"
#include "support/process_guards.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace ombri::reader {
namespace {

using namespace std::chrono_literals;

const auto kNeverStop = [] { return false; };

void waitUntilWaiting(const MemoryBudget& budget, size_t count)
{
    while (budget.waiting() != count)
        std::this_thread::sleep_for(1ms);
}

// Threads asking for various amounts at once never hold more than the whole together, and every
// one of them is served, the one asking for more than the whole alone.
TEST(MemoryBudget, ThreadsTogetherNeverHoldMoreThanTheWhole)
{
    const test::HangGuard guard(60, "threads waiting for memory were never served");
    MemoryBudget budget(100);
    std::atomic<uint64_t> held{0};
    std::atomic<uint64_t> mostHeld{0};
    std::atomic<int> holders{0};
    std::atomic<bool> largeSharedItsTurn{false};
    std::atomic<int> served{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 50; ++round) {
                const uint64_t bytes = t == 0 && round % 10 == 0 ? 1000 : 10 + 13 * t;
                auto hold = budget.acquire(bytes, kNeverStop);
                ASSERT_TRUE(hold);
                const int others = holders++;
                if (bytes > 100 && others != 0)
                    largeSharedItsTurn = true;
                const uint64_t now = held += std::min<uint64_t>(bytes, 100);
                uint64_t most = mostHeld.load();
                while (now > most && !mostHeld.compare_exchange_weak(most, now)) {
                }
                std::this_thread::sleep_for(50us);
                held -= std::min<uint64_t>(bytes, 100);
                --holders;
                ++served;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(served.load(), 8 * 50);
    EXPECT_LE(mostHeld.load(), 100u);
    EXPECT_LE(budget.peakHeld(), 100u);
    EXPECT_FALSE(largeSharedItsTurn.load());
}

// A request larger than the whole waits for those held to go, and the ones asking after it wait
// behind it rather than passing it by for ever.
TEST(MemoryBudget, ALargeRequestRunsAloneAndInItsTurn)
{
    const test::HangGuard guard(60, "a request waiting for memory was never served");
    MemoryBudget budget(100);
    auto first = budget.acquire(60, kNeverStop);
    ASSERT_TRUE(first);
    std::atomic<bool> largeServed{false};
    std::atomic<bool> laterServed{false};
    std::thread large([&] {
        auto hold = budget.acquire(500, kNeverStop);
        largeServed = true;
        std::this_thread::sleep_for(20ms);
        EXPECT_FALSE(laterServed.load());
    });
    waitUntilWaiting(budget, 1);
    std::thread later([&] {
        auto hold = budget.acquire(10, kNeverStop);
        laterServed = true;
    });
    waitUntilWaiting(budget, 2);
    // 10 more would fit beside the first 60, but the large request came before it.
    EXPECT_FALSE(largeServed.load());
    EXPECT_FALSE(laterServed.load());
    first.reset();
    large.join();
    later.join();
    EXPECT_TRUE(largeServed.load());
    EXPECT_TRUE(laterServed.load());
    // Nothing is held for nothing to decode, and nothing waits for it.
    auto all = budget.acquire(100, kNeverStop);
    EXPECT_TRUE(budget.acquire(0, kNeverStop));
}

// A cancelled wait ends as soon as it is told, so that no thread is left waiting for memory that
// those holding it would give back only later, or never.
TEST(MemoryBudget, AWaitEndsWhenItsStopIsTold)
{
    const test::HangGuard guard(60, "a cancelled wait for memory did not end");
    MemoryBudget budget(100);
    auto all = budget.acquire(100, kNeverStop);
    std::atomic<bool> cancelled{false};
    std::atomic<bool> gaveUp{false};
    std::thread waiting([&] {
        const auto hold = budget.acquire(50, [&] { return cancelled.load(); });
        gaveUp = !hold;
    });
    std::thread behind([&] {
        // Second in line, it is served once the first gives up and memory is back.
        EXPECT_TRUE(budget.acquire(50, kNeverStop));
    });
    std::this_thread::sleep_for(20ms);
    cancelled = true;
    budget.wakeAll();
    waiting.join();
    EXPECT_TRUE(gaveUp.load());
    all.reset();
    behind.join();
    // A stop already told needs no wake.
    auto again = budget.acquire(100, kNeverStop);
    EXPECT_FALSE(budget.acquire(1, [] { return true; }));
}

TEST(DecodedBytes, PixelsOfTheWholePictureOrOfTheFractionAThumbnailDecodes)
{
    test::TempDir dir;
    ASSERT_TRUE(WritePngFile(dir.file("a.png"), test::makePatternImage(300, 200, 24)).ok());
    ASSERT_TRUE(WriteJpegFile(dir.file("a.jpg"), test::makePatternImage(2000, 1000, 24)).ok());
    // Four bytes a pixel, and a byte of notes.
    EXPECT_EQ(decodedBytes(dir.file("a.png"), std::nullopt), 300u * 200 * 5);
    EXPECT_EQ(decodedBytes(dir.file("a.png"), 128), 300u * 200 * 5);
    EXPECT_EQ(decodedBytes(dir.file("a.jpg"), std::nullopt), 2000u * 1000 * 5);
    // An eighth is 250 x 125, which still reaches 128; for 256, a quarter.
    EXPECT_EQ(decodedBytes(dir.file("a.jpg"), 128), 250u * 125 * 4);
    EXPECT_EQ(decodedBytes(dir.file("a.jpg"), 256), 500u * 250 * 4);
    // WebP and AVIF decoders hold the picture once more, in their own form.
    ASSERT_TRUE(WriteWebpFile(dir.file("a.webp"), test::makePatternImage(300, 200, 32)).ok());
    EXPECT_EQ(decodedBytes(dir.file("a.webp"), 128), 300u * 200 * 13);
    // Nothing is decoded from what is no picture or not a file.
    test::writeFileBytes(dir.file("a.txt"), {'t'});
    ASSERT_EQ(::mkfifo(dir.file("b.png").c_str(), 0600), 0);
    EXPECT_EQ(decodedBytes(dir.file("a.txt"), std::nullopt), 0u);
    EXPECT_EQ(decodedBytes(dir.file("b.png"), std::nullopt), 0u);
    EXPECT_EQ(decodedBytes(dir.file("none.png"), std::nullopt), 0u);
    // A picture whose headers tell nothing is decoded alone.
    test::writeFileBytes(dir.file("c.png"), {1, 2, 3});
    EXPECT_EQ(decodedBytes(dir.file("c.png"), 128), std::numeric_limits<uint64_t>::max());
}

} // namespace
} // namespace ombri::reader
