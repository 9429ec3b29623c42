#pragma once

#include "core/result.h"

#include <gtest/gtest.h>

namespace ombri::test {

// For ASSERT_TRUE and EXPECT_TRUE: a failed write is reported with its reason.
inline ::testing::AssertionResult succeeded(const Status& status)
{
    if (status)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "failed: " << status.error();
}

// For refusals: the operation failed and said why.
inline ::testing::AssertionResult failedWithReason(const Status& status)
{
    if (status)
        return ::testing::AssertionFailure() << "succeeded";
    if (status.error().empty())
        return ::testing::AssertionFailure() << "failed without a reason";
    return ::testing::AssertionSuccess();
}

} // namespace ombri::test
