// The maker and the model of the computer, from Win32_ComputerSystem.
#include <libwinclass/hostinfo.h>
#include <libwinclass/wmi.h>

#include <libwinclass/wmi/comref.h>

#include <liblocal/local.h>

#include <comdef.h>
#include <comutil.h>

#include <memory>

using winclass::ComRef;
using winclass::ScopedVariant;
using winclass::WbemSession;

namespace {

bool TraceCalls() { return Debug >= 5 || (VoTrace & 0x10) != 0; }

} // namespace

extern "C" vo_msg *get_system_manufacturer_info(tv_str &manufacturer, tv_str &model)
{
    if (TraceCalls())
        debugprintf("get_system_manufacturer_info(): Enter\n");
    vo_msg *result = NULL;
    HRESULT hr = S_OK;  // the last WMI return code
    {
        WbemSession session;
        ComRef<IEnumWbemClassObject> enumerator;
        ComRef<IWbemClassObject> system;
        ScopedVariant value;
        try {
            hr = initialize_wbem(&session.services, &session.locator, W("\\\\.\\Root\\CIMV2"));
            if (FAILED(hr))
                throw wmi_error(hr, W("Could not initialize WMI to get system manufacturer information"));
            hr = session.services->ExecQuery(_bstr_t(W("WQL")),
                                             _bstr_t(W("SELECT Manufacturer, Model FROM Win32_ComputerSystem")),
                                             WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, NULL,
                                             enumerator.out());
            if (FAILED(hr))
                throw wmi_error(hr, W("Unable to query Win32_ComputerSystem WMI class"));
            ULONG returned = 0;
            hr = enumerator->Next(WBEM_INFINITE, 1, system.out(), &returned);
            if (FAILED(hr))
                throw wmi_error(hr, W("Unable to get the WMI object"));
            if (returned == 0 || !system)
                throw wmi_error(E_FAIL, W("Could not find Win32_ComputerSystem WMI object instance"));
            hr = system->Get(W("Manufacturer"), 0, value.get(), NULL, NULL);
            if (FAILED(hr))
                throw wmi_error(hr, W("Unable to read the 'Manufacturer' property"));
            manufacturer = value.text();
            value.clear();
            hr = system->Get(W("Model"), 0, value.get(), NULL, NULL);
            if (FAILED(hr))
                throw wmi_error(hr, W("Unable to read the 'Model' property"));
            model = value.text();
            value.clear();
        } catch (const wmi_error &error) {
            tv_str systemText;
            format_system_message(DWORD(error.code), &systemText);
            result = msg_create(101575, 52000, "%s, error=0x%x: %s.\n", VO_ARG_TEXT, error.text.get_utf8(),
                                VO_ARG_INT, inttostr(error.code), VO_ARG_TEXT, systemText.get_utf8());
        }
    }
    if (TraceCalls())
        debugprintf("get_system_manufacturer_info(): Exit\n");
    return result;
}
