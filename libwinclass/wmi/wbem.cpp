// WMI sessions, method input parameters and method calls, and the system texts of codes.
#include <libwinclass/wmi.h>

#include <libwinclass/wmi/comref.h>

#include <liblocal/local.h>

#include <comdef.h>
#include <comutil.h>

#include <memory>

using winclass::ComRef;
using winclass::ScopedVariant;

namespace {

const int kCodeBadArguments = 53000;
const int kCodeWmiFailure = 55000;

bool LogSessionFailures() { return Debug >= 3 || (VoTrace & 0x4) != 0; }
bool LogCallFailures() { return Debug >= 1 || (VoTrace & 0x1) != 0; }

// The system text of a code, in the buffer every WMI message is rendered from.
class SystemText {
public:
    explicit SystemText(HRESULT code) : text_(new char[WMI_SYSTEM_TEXT_SIZE])
    {
        format_system_message_utf8(DWORD(code), text_.get(), WMI_SYSTEM_TEXT_SIZE);
    }
    const char *get() const { return text_.get(); }

private:
    std::unique_ptr<char[]> text_;
};

// A message of initialize_wbem carrying "error=0x%x: %s".
vo_msg *SessionError(int number, const char *format, HRESULT hr)
{
    SystemText text(hr);
    return msg_create(number, kCodeWmiFailure, format, VO_ARG_INT, inttostr(hr), VO_ARG_TEXT, text.get());
}

// The system's own text for a code, freed with LocalFree by its owner.
class SystemMessage {
public:
    explicit SystemMessage(DWORD code)
    {
        const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
        const DWORD neutralDefault = 0x400;
        if (FormatMessageW(flags, NULL, code, neutralDefault, reinterpret_cast<LPWSTR>(&text_), 0, NULL) == 0)
            text_ = NULL;
    }
    ~SystemMessage()
    {
        if (text_ != NULL)
            LocalFree(text_);
    }
    SystemMessage(const SystemMessage &) = delete;
    SystemMessage &operator=(const SystemMessage &) = delete;
    const WCHAR *get() const { return text_; }

private:
    WCHAR *text_ = NULL;
};


} // namespace

extern "C" {

void format_system_message(DWORD code, tv_str *text)
{
    if (text == NULL)
        return;
    SystemMessage message(code);
    if (message.get() != NULL)
        *text = message.get();
}

void format_system_message_utf8(DWORD code, char *buffer, int size)
{
    if (buffer == NULL || size <= 0)
        return;
    buffer[0] = '\0';
    SystemMessage message(code);
    if (message.get() != NULL)
        vo_wcs_to_utf8s(buffer, message.get(), size_t(size), 0);
}

HRESULT initialize_wbem(IWbemServices **services, IWbemLocator **locator, const WCHAR *wmiNamespace)
{
    vo_msg *failure = NULL;
    HRESULT hr = E_FAIL;
    bool comInitialized = false;
    ComRef<IWbemLocator> newLocator;
    ComRef<IWbemServices> newServices;

    if (services == NULL || locator == NULL || *services != NULL || *locator != NULL) {
        failure = msg_create(94728, kCodeBadArguments,
                             "WMI: Incorrect parameters to initialize WMI. Output variables are not NULL.\n");
    } else if (wmiNamespace == NULL) {
        failure = msg_create(94729, kCodeBadArguments,
                             "WMI: Incorrect parameters to initialize WMI. Namespace value is NULL.\n");
    } else if (FAILED(hr = CoInitializeEx(NULL, COINIT_MULTITHREADED))) {
        failure = SessionError(94730, "WMI: Unable to initialize COM library, error=0x%x: %s.\n", hr);
    } else {
        comInitialized = true;
        hr = CoInitializeSecurity(NULL, -1, NULL, NULL, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, NULL,
                                  EOAC_NONE, NULL);
        if (hr == RPC_E_TOO_LATE)
            hr = S_OK;  // the process's security was set by an earlier session
        if (FAILED(hr)) {
            failure = SessionError(
                94731, "WMI: Unable to set the default security values for the process, error=0x%x: %s.\n", hr);
        } else if (FAILED(hr = CoCreateInstance(CLSID_WbemLocator, NULL, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                                reinterpret_cast<void **>(newLocator.out())))) {
            failure =
                SessionError(94732, "WMI: Unable to create an instance of the object class, error=0x%x: %s.\n", hr);
        } else if (FAILED(hr = newLocator->ConnectServer(_bstr_t(wmiNamespace), NULL, NULL, NULL, 0, NULL, NULL,
                                                         newServices.out()))) {
            char *name = vo_alloc_wcs_to_utf8s(wmiNamespace);
            if (name != NULL) {
                SystemText text(hr);
                failure = msg_create(94733, kCodeWmiFailure,
                                     "WMI: Unable to create a connection to a WMI namespace (%s), error=0x%x: %s.\n",
                                     VO_ARG_TEXT, name, VO_ARG_INT, inttostr(hr), VO_ARG_TEXT, text.get());
                free(name);
            } else {
                failure = SessionError(
                    95139, "WMI: Unable to create a connection to a WMI namespace, error=0x%x: %s.\n", hr);
            }
        } else if (FAILED(hr = CoSetProxyBlanket(newServices.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, NULL,
                                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, NULL,
                                                 EOAC_NONE))) {
            failure =
                SessionError(94734, "WMI: Unable to set proxy blanket for the WMI service, error=0x%x: %s.\n", hr);
        }
    }

    if (failure == NULL) {
        *services = newServices.release();
        *locator = newLocator.release();
        return hr;
    }
    // The reason goes to the debug log only; the caller sees the HRESULT.
    if (LogSessionFailures())
        debugprintf("%s\n", msg_text(failure));
    msg_free(failure);
    if (comInitialized) {
        newServices.reset();
        newLocator.reset();
        CoUninitialize();
    }
    return hr;
}

void cleanup_wbem(IWbemServices **services, IWbemLocator **locator)
{
    if (services != NULL && *services != NULL) {
        (*services)->Release();
        *services = NULL;
    }
    if (locator != NULL && *locator != NULL) {
        (*locator)->Release();
        *locator = NULL;
    }
    CoUninitialize();
}

HRESULT get_method_input_params(IWbemServices **services, const WCHAR *className, const WCHAR *methodName,
                                IWbemClassObject **inParams)
{
    if (services == NULL || *services == NULL || className == NULL || methodName == NULL) {
        if (LogCallFailures())
            debugprintf("Invalid input. Cannot get a message params object.\n");
        return E_FAIL;
    }
    ComRef<IWbemClassObject> classObject;
    HRESULT hr = (*services)->GetObject(_bstr_t(className), 0, NULL, classObject.out(), NULL);
    if (FAILED(hr)) {
        msg_print(95439, kCodeWmiFailure, VO_SEV_ERROR, "WMI: Unable to create class object.\n");
        return E_FAIL;
    }
    ComRef<IWbemClassObject> signature;
    hr = classObject->GetMethod(methodName, 0, signature.out(), NULL);
    if (FAILED(hr)) {
        SystemText text(hr);
        msg_print(95440, kCodeWmiFailure, VO_SEV_ERROR,
                  "WMI: Unable to create method input paramaters. Error: %s.\n", VO_ARG_TEXT, text.get());
        return E_FAIL;
    }
    if (signature) {
        hr = signature->SpawnInstance(0, inParams);
        if (FAILED(hr)) {
            SystemText text(hr);
            msg_print(95441, kCodeWmiFailure, VO_SEV_ERROR,
                      "WMI: Unable to spawn instance of method input parameters object. Error: %s.\n", VO_ARG_TEXT,
                      text.get());
        }
    }
    return hr;
}

HRESULT execute_method(IWbemServices **services, const WCHAR *objectPath, const WCHAR *methodName,
                       IWbemClassObject *inParams, IWbemClassObject *outSlot)
{
    // The slot's value never reaches the caller; the output object is received and
    // released here.
    (void)outSlot;
    ScopedVariant returnValue;
    if (services == NULL || *services == NULL || objectPath == NULL || methodName == NULL) {
        if (LogCallFailures())
            debugprintf("Invalid input. Cannot execute method.\n");
        return E_FAIL;
    }
    ComRef<IWbemClassObject> outParams;
    HRESULT result = (*services)->ExecMethod(_bstr_t(objectPath), _bstr_t(methodName), 0, NULL, inParams,
                                             outParams.out(), NULL);
    if (FAILED(result) && LogCallFailures())
        debugprintf("Failed to execute method.\n");
    if (outParams) {
        const HRESULT got = outParams->Get(W("ReturnValue"), 0, returnValue.get(), NULL, NULL);
        if (FAILED(got)) {
            msg_print(95442, kCodeWmiFailure, VO_SEV_ERROR,
                      "WMI: Could not read output parameters return value from method execution. Error = %s.\n",
                      VO_ARG_ULONG, ulongtostr((unsigned long)(ULONG)got));
        } else {
            // The 32-bit value whatever the VARIANT's type: methods answer uint32 as VT_I4.
            const LONG value = V_I4(returnValue.get());
            if (value < 0) {
                result = value;
                if (LogCallFailures())
                    debugprintf("WMI: Method execution returned error in output_params.\n");
            }
        }
    }
    return result;
}

} // extern "C"
