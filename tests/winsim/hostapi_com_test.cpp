// COM as tests observe and extend it through winsim/host.h: apartment counts, process
// security, classes registered by the simulated host, proxy blankets. Linux only.
#include <platform/tvplatform.h>

#include <objbase.h>
#include <winsim/host.h>

#include <gtest/gtest.h>

#include "comtest.h"

#include <thread>

namespace {

const CLSID kTestClass = {0x1b2c3d4e, 0x0001, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};

TEST(HostCom, CountsTheApartmentOfEachThread)
{
    EXPECT_EQ(winsim::CurrentComApartment(), winsim::ComApartment::None);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(winsim::ComInitCount(), ULONG(2));
    EXPECT_EQ(winsim::CurrentComApartment(), winsim::ComApartment::MultiThreaded);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(winsim::ComInitCount(), ULONG(2));

    ULONG workerCount = 99;
    std::thread worker([&workerCount] { workerCount = winsim::ComInitCount(); });
    worker.join();
    EXPECT_EQ(workerCount, ULONG(0));

    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(winsim::ComInitCount(), ULONG(0));
    EXPECT_EQ(winsim::CurrentComApartment(), winsim::ComApartment::None);
}

TEST(HostCom, RecordsTheProcessSecurity)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                                   NULL, EOAC_DYNAMIC_CLOAKING, NULL),
              S_OK);
    const winsim::ComSecurity security = winsim::ComProcessSecurity();
    EXPECT_TRUE(security.initialized);
    EXPECT_EQ(security.authnLevel, DWORD(RPC_C_AUTHN_LEVEL_PKT_PRIVACY));
    EXPECT_EQ(security.impLevel, DWORD(RPC_C_IMP_LEVEL_IMPERSONATE));
    EXPECT_EQ(security.capabilities, DWORD(EOAC_DYNAMIC_CLOAKING));
    winsim::ResetComSecurity();
    EXPECT_EQ(CoInitializeSecurity(NULL, -1, NULL, NULL, 0, RPC_C_IMP_LEVEL_IDENTIFY, NULL, 0, NULL), S_OK);
    EXPECT_EQ(winsim::ComProcessSecurity().impLevel, DWORD(RPC_C_IMP_LEVEL_IDENTIFY));
    CoUninitialize();
}

TEST(HostCom, RegisteredClassesAreCreatedThroughTheirFactory)
{
    tvtest::CountingObject object;
    winsim::RegisterComClass(kTestClass, [&object](IUnknown *outer, REFIID riid, void **result) {
        if (outer != NULL)
            return CLASS_E_NOAGGREGATION;
        return object.QueryInterface(riid, result);
    });
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);

    IUnknown *created = NULL;
    ASSERT_EQ(CoCreateInstance(kTestClass, NULL, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&created)), S_OK);
    EXPECT_EQ(created, static_cast<IUnknown *>(&object));
    EXPECT_EQ(object.references(), ULONG(2));
    created->Release();

    void *refused = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(kTestClass, &object, CLSCTX_INPROC_SERVER, IID_IUnknown, &refused),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(CoCreateInstance(kTestClass, NULL, CLSCTX_INPROC_SERVER, IID_IDispatch, &refused), E_NOINTERFACE);
    EXPECT_EQ(CoCreateInstance(kTestClass, NULL, CLSCTX_REMOTE_SERVER, IID_IUnknown, &refused), REGDB_E_CLASSNOTREG);

    EXPECT_TRUE(winsim::UnregisterComClass(kTestClass));
    EXPECT_FALSE(winsim::UnregisterComClass(kTestClass));
    EXPECT_EQ(CoCreateInstance(kTestClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &refused), REGDB_E_CLASSNOTREG);
    CoUninitialize();
}

TEST(HostCom, ProxyBlanketsAreRecordedPerProxy)
{
    tvtest::CountingObject proxy;
    EXPECT_FALSE(winsim::ProxyBlanketOf(&proxy, NULL));
    EXPECT_EQ(CoSetProxyBlanket(&proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, NULL, RPC_C_AUTHN_LEVEL_CALL,
                                RPC_C_IMP_LEVEL_IMPERSONATE, NULL, EOAC_NONE),
              S_OK);
    winsim::ProxyBlanket blanket{};
    ASSERT_TRUE(winsim::ProxyBlanketOf(&proxy, &blanket));
    EXPECT_EQ(blanket.authnSvc, DWORD(RPC_C_AUTHN_WINNT));
    EXPECT_EQ(blanket.authnLevel, DWORD(RPC_C_AUTHN_LEVEL_CALL));
    EXPECT_EQ(blanket.impLevel, DWORD(RPC_C_IMP_LEVEL_IMPERSONATE));
    EXPECT_EQ(CoSetProxyBlanket(NULL, 0, 0, NULL, 0, 0, NULL, 0), E_INVALIDARG);
}

TEST(HostCom, AThreadThatEndsInsideTheMtaLeavesIt)
{
    std::thread worker([] { ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK); });
    worker.join();
    void *object = NULL;
    EXPECT_EQ(CoCreateInstance(kTestClass, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
}

} // namespace
