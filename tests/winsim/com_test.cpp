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

TEST(ComApartment, RepeatsAreCountedTheOtherModelRefusedAndEachThreadHasItsOwn)
{
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_FALSE);
    CoUninitialize();
    // Still initialised once: the other model is refused.
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    // Now the thread has left its apartment and may choose again; CoInitialize is the
    // single-threaded model.
    EXPECT_EQ(CoInitialize(NULL), S_OK);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    // A changed-mode call needed no balancing, and extra uninitialize calls are harmless.
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
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

TEST(ComApartment, TheReservedArgumentMustBeNull)
{
    TV_SKIP_UNDER_WINE("Wine ignores the reserved argument");
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
}

TEST(ComSecurity, NeedsAnApartmentAndIsSetOncePerProcess)
{
    TV_SKIP_UNDER_WINE("Wine sets process security outside any apartment, and as often as asked");
    EXPECT_EQ(InitializeSecurity(), CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(InitializeSecurity(), S_OK);  // the failed call did not count
    EXPECT_EQ(InitializeSecurity(), RPC_E_TOO_LATE);
    CoUninitialize();
}

TEST(ComCreate, NeedsAnApartmentAndReportsAnUnregisteredClass)
{
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, NULL), E_POINTER);
    // A thread that never joined an apartment reaches the implicit multithreaded one.
    HRESULT fromWorker = S_OK;
    std::thread worker([&fromWorker] {
        void *created = NULL;
        fromWorker = CoCreateInstance(kUnknownClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &created);
    });
    worker.join();
    EXPECT_EQ(fromWorker, REGDB_E_CLASSNOTREG);  // not CO_E_NOTINITIALIZED: the MTA is alive
    CoUninitialize();
}

} // namespace
