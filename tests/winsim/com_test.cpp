// COM apartments, process security and object creation, as ole32 documents them.
// Portable: every test runs in a process of its own, so process-wide COM state starts fresh.
#include <platform/tvplatform.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include "support/wine.h"

#include <thread>

namespace {

// A class no system registers.
const CLSID kUnknownClass = {0x6e1d37a2, 0x5c0b, 0x4b7e, {0x9a, 0x55, 0x0f, 0x21, 0x3c, 0x44, 0x71, 0x9d}};

HRESULT InitializeSecurity()
{
    return CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, NULL,
                                EOAC_NONE, NULL);
}

TEST(ComApartment, RepeatsInTheSameModelAreCounted)
{
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    // Still initialised once: the other model is refused.
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Now the thread has left its apartment and may choose again.
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
}

TEST(ComApartment, CoInitializeIsTheSingleThreadedModel)
{
    EXPECT_EQ(CoInitialize(NULL), S_OK);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
}

TEST(ComApartment, AChangedModeCallNeedsNoBalancing)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

TEST(ComApartment, ExtraUninitializeCallsAreHarmless)
{
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

TEST(ComApartment, TheReservedArgumentMustBeNull)
{
    TV_SKIP_UNDER_WINE("Wine ignores the reserved argument");
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
}

TEST(ComApartment, EachThreadHasItsOwn)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    HRESULT other = E_FAIL;
    std::thread worker([&other] {
        other = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(other))
            CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(other, S_OK);
    CoUninitialize();
}

TEST(ComSecurity, IsSetOncePerProcess)
{
    TV_SKIP_UNDER_WINE("Wine answers S_OK to every CoInitializeSecurity");
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(InitializeSecurity(), S_OK);
    EXPECT_EQ(InitializeSecurity(), RPC_E_TOO_LATE);
    CoUninitialize();
}

TEST(ComSecurity, NeedsAnApartment)
{
    TV_SKIP_UNDER_WINE("Wine sets process security from a thread outside any apartment");
    EXPECT_EQ(InitializeSecurity(), CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(InitializeSecurity(), S_OK);  // the failed call did not count
    CoUninitialize();
}

TEST(ComCreate, AnUnregisteredClassIsNotRegistered)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    CoUninitialize();
}

TEST(ComCreate, NeedsAnApartment)
{
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
}

TEST(ComCreate, ReachesTheImplicitMultithreadedApartment)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    HRESULT fromWorker = S_OK;
    std::thread worker([&fromWorker] {
        void *object = NULL;
        fromWorker = CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &object);
    });
    worker.join();
    EXPECT_EQ(fromWorker, REGDB_E_CLASSNOTREG);  // not CO_E_NOTINITIALIZED: the MTA is alive
    CoUninitialize();
}

TEST(ComCreate, ANullOutputIsAPointerError)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, NULL), E_POINTER);
    CoUninitialize();
}

} // namespace
