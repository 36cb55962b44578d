// A call that must fail with one documented last-error code, checked in one line. The
// error is cleared first, so a call that fails without setting it cannot pass on a stale one.
#pragma once

#include <gtest/gtest.h>

#define EXPECT_FAILS_WITH(call, error)                                         \
    do {                                                                       \
        SetLastError(0);                                                       \
        EXPECT_FALSE(call) << #call;                                           \
        EXPECT_EQ(GetLastError(), DWORD(error)) << #call;                      \
    } while (0)
