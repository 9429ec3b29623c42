#include "cli/ordered_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace ombri::cli {
namespace {

// The earlier a task, the longer it takes: results come back in the order of add all the same,
// and no more tasks are taken on than the window holds.
TEST(OrderedJobsTest, ResultsComeBackInOrderWithinTheWindow)
{
    for (const size_t threads : {1u, 2u, 4u}) {
        const size_t window = 2 * threads;
        std::atomic<size_t> begun{0}, handedBack{0}, mostOnTheirWay{0};
        std::vector<int> order;
        std::vector<size_t> threadsSeen;
        {
            OrderedJobs<int, int> jobs(
                threads, window,
                [&](size_t thread, int& task) {
                    const size_t onTheirWay = ++begun - handedBack;
                    size_t most = mostOnTheirWay;
                    while (onTheirWay > most &&
                           !mostOnTheirWay.compare_exchange_weak(most, onTheirWay)) {
                    }
                    EXPECT_LT(thread, threads);
                    std::this_thread::sleep_for(std::chrono::microseconds(200 * (30 - task % 30)));
                    return task * 10;
                },
                [&](int& result) {
                    ++handedBack;
                    order.push_back(result);
                });
            for (int task = 0; task < 60; ++task)
                jobs.add(task);
            jobs.finish();
        }
        std::vector<int> expected;
        for (int task = 0; task < 60; ++task)
            expected.push_back(task * 10);
        EXPECT_EQ(order, expected) << threads << " threads";
        EXPECT_LE(mostOnTheirWay.load(), window) << threads << " threads";
    }
}

// A task that throws is told where its result would have come: the ones before it are handed
// back, and the caller gets the exception.
TEST(OrderedJobsTest, AnExceptionComesBackInItsPlace)
{
    for (const size_t threads : {1u, 3u}) {
        std::vector<int> order;
        OrderedJobs<int, int> jobs(
            threads, 2 * threads,
            [](size_t, int& task) {
                if (task == 5)
                    throw std::runtime_error("five");
                return task;
            },
            [&](int& result) { order.push_back(result); });
        EXPECT_THROW(
            {
                for (int task = 0; task < 20; ++task)
                    jobs.add(task);
                jobs.finish();
            },
            std::runtime_error);
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4})) << threads << " threads";
    }
}

} // namespace
} // namespace ombri::cli
