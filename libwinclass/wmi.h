// libwinclass: WMI sessions on the local machine and the calling of WMI methods.
//
// A session is a pair of pointers the caller declares NULL, fills with initialize_wbem and
// empties with cleanup_wbem, all on one thread:
//
//     IWbemServices *services = NULL;
//     IWbemLocator *locator = NULL;
//     if (SUCCEEDED(initialize_wbem(&services, &locator, W("\\\\.\\Root\\CIMV2")))) {
//         ... services->ExecQuery(...), get_method_input_params, execute_method ...
//     }
//     cleanup_wbem(&services, &locator);  // also after a failed open: it balances COM
//
// Queries run in "WQL" with flags 48 (forward-only, return-immediately); enumerators are
// read one object at a time with an infinite time-out.
#pragma once

#include <libwinclass/winclassapi.h>
#ifdef __cplusplus
#include <libwinclass/tv_str.h>
#endif

#include <wbemidl.h>

// The rendered system text of a code fits in this many bytes (longer text is cut).
#define WMI_SYSTEM_TEXT_SIZE 19456

#ifdef __cplusplus
extern "C" {
#endif

// Opens a session on the namespace. Both variables must be NULL on entry. Returns the
// proxy-blanket HRESULT and fills both on success; on failure returns the failing HRESULT
// (E_FAIL for bad arguments), leaves both NULL and writes the reason to the debug log.
WINCLASS_API HRESULT initialize_wbem(IWbemServices **services, IWbemLocator **locator, const WCHAR *wmiNamespace);

// Releases what the variables hold, sets them NULL, and calls CoUninitialize once.
WINCLASS_API void cleanup_wbem(IWbemServices **services, IWbemLocator **locator);

// The input-parameter object of a class method, spawned into *inParams for the caller to
// fill with Put and release. A method without input leaves *inParams untouched and succeeds.
WINCLASS_API HRESULT get_method_input_params(IWbemServices **services, const WCHAR *className,
                                             const WCHAR *methodName, IWbemClassObject **inParams);

// Calls the method on the object (or class) the path names. Returns ExecMethod's HRESULT,
// or the method's ReturnValue when that is negative; E_FAIL for bad arguments. outSlot
// only receives the output object internally; pass NULL.
WINCLASS_API HRESULT execute_method(IWbemServices **services, const WCHAR *objectPath, const WCHAR *methodName,
                                    IWbemClassObject *inParams, IWbemClassObject *outSlot);

#ifdef __cplusplus
// The system's text for a code into *text; left as it was when the system has none.
// C++ only, as tv_str is.
WINCLASS_API void format_system_message(DWORD code, tv_str *text);
#endif

// The system's text for a code as UTF-8 in buffer (size bytes); "" when there is none.
// A NULL buffer does nothing.
WINCLASS_API void format_system_message_utf8(DWORD code, char *buffer, int size);

#ifdef __cplusplus
} // extern "C"

// A failed WMI step inside one routine: its HRESULT and a fixed description. Thrown by
// value and caught by reference where it is thrown; it never crosses an exported call.
class wmi_error {
public:
    wmi_error(HRESULT failedCode, const WCHAR *description) : code(failedCode), text(description) {}
    wmi_error(const wmi_error &other) : code(other.code), text(other.text) {}
    ~wmi_error() {}

    HRESULT code;
    tv_str text;
};
#endif // __cplusplus
