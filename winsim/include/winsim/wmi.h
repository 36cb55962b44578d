// winsim: the C++ interface through which tests set up the simulated WMI service:
// faults per namespace, query, Next, property and method; raw property values of any
// VARIANT type; extra or hidden instances; method results. Linux only.
//
// Names (namespaces, classes, properties, methods) are matched without regard to case.
// Namespaces are given as ConnectServer accepts them ("\\.\Root\CIMV2", "ROOT\CIMV2").
#pragma once

#include "winsim/types.h"
#include "oaidl.h"

#include <string>
#include <utility>
#include <vector>

namespace winsim {

enum class WmiFaultPoint {
    Connect,        // ConnectServer; match: the namespace
    Query,          // ExecQuery; match: the class queried (or empty for any query)
    Next,           // IEnumWbemClassObject::Next; match: the class enumerated
    Get,            // IWbemClassObject::Get; match: "Class.Property" or "Property"
    Put,            // IWbemClassObject::Put; match: "Class.Property" or "Property"
    GetObject,      // IWbemServices::GetObject; match: the class of the path
    GetMethod,      // IWbemClassObject::GetMethod; match: "Class.Method" or "Method"
    SpawnInstance,  // IWbemClassObject::SpawnInstance; match: the class (or signature) spawned
    ExecMethod,     // IWbemServices::ExecMethod; match: "Class.Method" or "Method"
};

// A call at `point` whose subject equals `match` (empty: any subject) answers `result`
// instead of doing its work, after letting `skip` matching calls through, `times` times
// (-1: for ever). A failing Next returns no object.
struct WmiFault {
    WmiFaultPoint point;
    std::u16string match;
    HRESULT result;
    int skip = 0;
    int times = -1;
};
WINSIM_API void InjectWmiFault(const WmiFault &fault);

// Every instance of the class answers `value` (copied, any VARIANT type) for the property,
// which is added to the class when it has no such property.
WINSIM_API void OverrideWmiProperty(const std::u16string &wmiNamespace, const std::u16string &className,
                                    const std::u16string &property, const VARIANT &value);
// The class keeps its definition but has no instances (queries enumerate nothing).
WINSIM_API void HideWmiInstances(const std::u16string &wmiNamespace, const std::u16string &className);
// One more instance of a known class, with the given raw values (others VT_NULL).
WINSIM_API void AddWmiInstance(const std::u16string &wmiNamespace, const std::u16string &className,
                               const std::vector<std::pair<std::u16string, VARIANT>> &properties);
// The ReturnValue the method's output parameters carry from now on (the method still does
// its work).
WINSIM_API void SetWmiMethodReturnValue(const std::u16string &wmiNamespace, const std::u16string &className,
                                        const std::u16string &method, const VARIANT &value);

// Forgets faults, overrides, added or hidden instances and method results, and reloads the
// cluster state from the current host.
WINSIM_API void ResetWmi();

// The simulated cluster as the MSCluster methods left it.
struct WmiSharedVolume {
    std::u16string name;
    std::u16string owner;
    DWORD faultState = 0;
};
WINSIM_API std::vector<WmiSharedVolume> WmiSharedVolumes();

// WMI objects (locators, services, enumerators, class objects) not yet released.
WINSIM_API size_t LiveWmiObjects();

// The locator class is registered with CoCreateInstance when libwinsim loads; a test that
// unregistered it (winsim::UnregisterComClass(CLSID_WbemLocator)) registers it again here.
WINSIM_API void RegisterWmiLocator();

} // namespace winsim
