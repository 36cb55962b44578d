// ole32: apartments, process security, object creation. Apartments are counted per
// thread; a thread that has none still reaches COM through the implicit multithreaded
// apartment while some other thread keeps the MTA alive, as on Windows. Classes exist
// only as the simulated host registers them.
#include "internal.h"

#include <objbase.h>
#include <ole2.h>

#include <atomic>
#include <map>
#include <mutex>

namespace winsim {

namespace {

struct ThreadApartment {
    ComApartment model = ComApartment::None;
    ULONG count = 0;
    ~ThreadApartment();
};

std::atomic<ULONG> g_mtaThreads{0};  // threads inside the multithreaded apartment

ThreadApartment::~ThreadApartment()
{
    // A thread that ends inside the MTA leaves it.
    if (model == ComApartment::MultiThreaded && count > 0)
        --g_mtaThreads;
}

thread_local ThreadApartment t_apartment;

struct GuidLess {
    bool operator()(const GUID &a, const GUID &b) const { return memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct ComProcess {
    std::mutex lock;
    ComSecurity security;
    std::map<GUID, std::pair<ComClassFactory, DWORD>, GuidLess> classes;
    std::map<const IUnknown *, ProxyBlanket> blankets;
};

ComProcess &TheProcess()
{
    static ComProcess *process = new ComProcess;
    return *process;
}

bool ThreadCanUseCom() { return t_apartment.count > 0 || g_mtaThreads.load() > 0; }

const DWORD kKnownCoInitFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;

} // namespace

ComApartment CurrentComApartment() { return t_apartment.count > 0 ? t_apartment.model : ComApartment::None; }

ULONG ComInitCount() { return t_apartment.count; }

ComSecurity ComProcessSecurity()
{
    ComProcess &process = TheProcess();
    std::lock_guard<std::mutex> guard(process.lock);
    return process.security;
}

void ResetComSecurity()
{
    ComProcess &process = TheProcess();
    std::lock_guard<std::mutex> guard(process.lock);
    process.security = ComSecurity();
}

void RegisterComClass(REFCLSID clsid, ComClassFactory factory, DWORD contexts)
{
    ComProcess &process = TheProcess();
    std::lock_guard<std::mutex> guard(process.lock);
    process.classes[clsid] = std::make_pair(std::move(factory), contexts);
}

bool UnregisterComClass(REFCLSID clsid)
{
    ComProcess &process = TheProcess();
    std::lock_guard<std::mutex> guard(process.lock);
    return process.classes.erase(clsid) == 1;
}

bool ProxyBlanketOf(const IUnknown *proxy, ProxyBlanket *blanket)
{
    ComProcess &process = TheProcess();
    std::lock_guard<std::mutex> guard(process.lock);
    auto found = process.blankets.find(proxy);
    if (found == process.blankets.end())
        return false;
    if (blanket != NULL)
        *blanket = found->second;
    return true;
}

} // namespace winsim

using namespace winsim;

EXTERN_C HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    HRESULT faultHr;
    if (winsim::FaultFor("CoInitializeEx", faultHr))
        return faultHr;
    if (pvReserved != NULL || (dwCoInit & ~kKnownCoInitFlags) != 0)
        return E_INVALIDARG;
    const ComApartment model =
        (dwCoInit & COINIT_APARTMENTTHREADED) ? ComApartment::SingleThreaded : ComApartment::MultiThreaded;
    ThreadApartment &apartment = t_apartment;
    if (apartment.count > 0) {
        if (apartment.model != model)
            return RPC_E_CHANGED_MODE;  // the count stays as it was
        ++apartment.count;
        return S_FALSE;
    }
    apartment.model = model;
    apartment.count = 1;
    if (model == ComApartment::MultiThreaded)
        ++g_mtaThreads;
    return S_OK;
}

EXTERN_C HRESULT CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

EXTERN_C void CoUninitialize(void)
{
    ThreadApartment &apartment = t_apartment;
    if (apartment.count == 0)
        return;
    if (--apartment.count == 0) {
        if (apartment.model == ComApartment::MultiThreaded)
            --g_mtaThreads;
        apartment.model = ComApartment::None;
    }
}

EXTERN_C HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR pSecDesc, LONG cAuthSvc,
                                      SOLE_AUTHENTICATION_SERVICE *asAuthSvc, void *pReserved1, DWORD dwAuthnLevel,
                                      DWORD dwImpLevel, void *pAuthList, DWORD dwCapabilities, void *pReserved3)
{
    (void)pSecDesc;
    (void)pReserved1;
    (void)pAuthList;
    (void)pReserved3;
    Fault fault;
    if (TakeFault("CoInitializeSecurity", wstring16(), &fault))
        return fault.hresult;
    if (!ThreadCanUseCom())
        return CO_E_NOTINITIALIZED;
    if (cAuthSvc < -1 || (cAuthSvc > 0 && asAuthSvc == NULL) || dwAuthnLevel > RPC_C_AUTHN_LEVEL_PKT_PRIVACY ||
        dwImpLevel > RPC_C_IMP_LEVEL_DELEGATE)
        return E_INVALIDARG;
    ComProcess &process = TheProcess();
    std::lock_guard<std::mutex> guard(process.lock);
    if (process.security.initialized)
        return RPC_E_TOO_LATE;  // once per process, whoever called first
    process.security.initialized = true;
    process.security.authnLevel = dwAuthnLevel;
    process.security.impLevel = dwImpLevel;
    process.security.capabilities = dwCapabilities;
    return S_OK;
}

EXTERN_C HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID *ppv)
{
    HRESULT faultHr;
    if (winsim::FaultFor("CoCreateInstance", faultHr))
        return faultHr;
    if (ppv == NULL)
        return E_POINTER;
    *ppv = NULL;
    if (!ThreadCanUseCom())
        return CO_E_NOTINITIALIZED;
    ComClassFactory factory;
    {
        ComProcess &process = TheProcess();
        std::lock_guard<std::mutex> guard(process.lock);
        auto found = process.classes.find(rclsid);
        if (found == process.classes.end() || (found->second.second & dwClsContext) == 0)
            return REGDB_E_CLASSNOTREG;
        factory = found->second.first;
    }
    const HRESULT hr = factory(pUnkOuter, riid, ppv);  // outside the lock: factories may create objects too
    if (FAILED(hr))
        *ppv = NULL;
    return hr;
}

EXTERN_C HRESULT CoSetProxyBlanket(IUnknown *pProxy, DWORD dwAuthnSvc, DWORD dwAuthzSvc, OLECHAR *pServerPrincName,
                                   DWORD dwAuthnLevel, DWORD dwImpLevel, RPC_AUTH_IDENTITY_HANDLE pAuthInfo,
                                   DWORD dwCapabilities)
{
    HRESULT faultHr;
    if (winsim::FaultFor("CoSetProxyBlanket", faultHr))
        return faultHr;
    (void)pServerPrincName;
    (void)pAuthInfo;
    if (pProxy == NULL)
        return E_INVALIDARG;
    ComProcess &process = TheProcess();
    std::lock_guard<std::mutex> guard(process.lock);
    process.blankets[pProxy] = ProxyBlanket{dwAuthnSvc, dwAuthzSvc, dwAuthnLevel, dwImpLevel, dwCapabilities};
    return S_OK;
}

EXTERN_C HRESULT OleRun(LPUNKNOWN pUnknown)
{
    // IRunnableObject {00000126-0000-0000-C000-000000000046}
    static const IID kRunnableObject = {0x00000126, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    if (pUnknown == NULL)
        return E_INVALIDARG;
    IUnknown *runnable = NULL;
    if (FAILED(pUnknown->QueryInterface(kRunnableObject, reinterpret_cast<void **>(&runnable))))
        return S_OK;
    runnable->Release();
    winsim::LogNotImplemented("OleRun", "objects that implement IRunnableObject");
    return E_NOTIMPL;
}
