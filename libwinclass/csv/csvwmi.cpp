// Cluster Shared Volumes over the cluster's WMI provider: find, coordinator, fault state,
// move, maintenance mode.
#include <libwinclass/csv.h>
#include <libwinclass/tv_str.h>
#include <libwinclass/wmi.h>

#include <libwinclass/wmi/comref.h>

#include <liblocal/local.h>

#include <comdef.h>
#include <comutil.h>

#include <string.h>

using winclass::ComRef;
using winclass::ScopedVariant;

namespace {

const int kCodeCsvError = 55000;
const int kCodeCsvMoved = 51000;
const WCHAR kClusterNamespace[] = W("ROOT\\MSCLUSTER");
const WCHAR kCsvClass[] = W("MSCluster_ClusterSharedVolume");
const WCHAR kMoveMethod[] = W("MoveToNewHost");
const LONG kQueryFlags = WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY;  // 48

bool LogSetup() { return Debug >= 3 || (VoTrace & 0x4) != 0; }
bool LogFailures() { return Debug >= 1 || (VoTrace & 0x1) != 0; }

const char *Text(const char *value) { return value != NULL ? value : "(null)"; }

// An error of this file: code 55000, severity 2, the CSV name, then the HRESULT.
void PrintWithHresult(int number, const char *format, const char *csvName, HRESULT hr)
{
    msg_print(number, kCodeCsvError, VO_SEV_ERROR, format, VO_ARG_TEXT, Text(csvName), VO_ARG_INT, inttostr(hr));
}

// Runs a WQL query on the context's session.
HRESULT Query(const CSVContext *context, const tv_str &wql, ComRef<IEnumWbemClassObject> &enumerator)
{
    return context->services->ExecQuery(_bstr_t(W("WQL")), _bstr_t(static_cast<const WCHAR *>(wql)), kQueryFlags,
                                        NULL, enumerator.out());
}

// Reads a string property; a property of another type reads as the empty string.
HRESULT ReadText(IWbemClassObject *object, const WCHAR *property, tv_str &value)
{
    ScopedVariant variant;
    const HRESULT hr = object->Get(property, 0, variant.get(), NULL, NULL);
    if (SUCCEEDED(hr))
        value = variant.text();
    return hr;
}

// The MSCluster_ClusterSharedVolume whose Name is csvName (without regard to case), for
// the caller to release; NULL when there is none or the search failed (with a message).
IWbemClassObject *FindCSVByName(CSVContext *context, const char *csvName)
{
    const tv_str wanted(csvName, tv_str::TCS_CP_ACP);
    ComRef<IEnumWbemClassObject> enumerator;
    HRESULT hr = Query(context, tv_str(W("SELECT * FROM MSCluster_ClusterSharedVolume")), enumerator);
    if (FAILED(hr)) {
        PrintWithHresult(103477, "Could not query WMI to find Cluster Shared Volume %s. HRESULT = 0x%x.\n", csvName,
                         hr);
        return NULL;
    }
    for (;;) {
        ComRef<IWbemClassObject> candidate;
        ULONG returned = 0;
        hr = enumerator->Next(WBEM_INFINITE, 1, candidate.out(), &returned);
        if (FAILED(hr)) {
            PrintWithHresult(103478,
                             "Could not enumerate WMI Cluster Shared Volume objects while looking for Cluster "
                             "Shared Volume %s. HRESULT = 0x%x.\n",
                             csvName, hr);
            return NULL;
        }
        if (returned == 0 || !candidate)
            return NULL;  // the end: no CSV has this name
        tv_str name;
        hr = ReadText(candidate.get(), W("Name"), name);
        if (FAILED(hr)) {
            PrintWithHresult(103479,
                             "Could not retrieve WMI Cluster Shared Volume object Name property while searching for "
                             "Cluster Shared Volume path %s. HRESULT = 0x%x.\n",
                             csvName, hr);
            return NULL;
        }
        if (vo_strcasecmp(name.get_utf8(), wanted.get_utf8()) == 0)
            return candidate.release();
    }
}

// The CSV's move to the target node, cut at its first dot; the object must be there.
int MoveCSVToNode(CSVContext *context, const char *csvName, const char *targetNode)
{
    if (context->csvObject == NULL) {
        msg_print(103483, kCodeCsvError, VO_SEV_ERROR,
                  "Unable to move Cluster Shared Volume %s to cluster node %s, because the Cluster Shared Volume WMI "
                  "object was not found.\n",
                  VO_ARG_TEXT, Text(csvName), VO_ARG_TEXT, Text(targetNode));
        return 0;
    }
    WCHAR hostName[257] = {};
    vo_utf8s_to_wcs(hostName, targetNode, 257);
    for (WCHAR *c = hostName; *c != 0; ++c)
        if (*c == '.') {
            *c = 0;  // a fully qualified name: the cluster knows its nodes by host name
            break;
        }

    ComRef<IWbemClassObject> inParams;
    HRESULT hr = get_method_input_params(&context->services, kCsvClass, kMoveMethod, inParams.out());
    if (FAILED(hr)) {
        msg_print(103485, kCodeCsvError, VO_SEV_ERROR,
                  "Could not get method input params for WMI class %s while moving Cluster Shared Volume %s to "
                  "cluster node %s. HRESULT = 0x%x.\n",
                  VO_ARG_TEXT, "MSCluster_ClusterSharedVolume", VO_ARG_TEXT, Text(csvName), VO_ARG_TEXT,
                  Text(targetNode), VO_ARG_INT, inttostr(hr));
        return 0;
    }
    _bstr_t hostText(hostName);
    VARIANT host;  // borrows hostText's BSTR: not cleared
    VariantInit(&host);
    V_VT(&host) = VT_BSTR;
    V_BSTR(&host) = static_cast<BSTR>(static_cast<WCHAR *>(hostText));
    hr = inParams ? inParams->Put(W("HostName"), 0, &host, 0) : E_FAIL;
    if (FAILED(hr)) {
        msg_print(103486, kCodeCsvError, VO_SEV_ERROR,
                  "Could not add target node input param for WMI class %s while moving Cluster Shared Volume %s to "
                  "cluster node %s. HRESULT = 0x%x.\n",
                  VO_ARG_TEXT, "MSCluster_ClusterSharedVolume", VO_ARG_TEXT, Text(csvName), VO_ARG_TEXT,
                  Text(targetNode), VO_ARG_INT, inttostr(hr));
        return 0;
    }
    tv_str path;
    hr = ReadText(context->csvObject, W("__PATH"), path);
    if (FAILED(hr)) {
        PrintWithHresult(103487,
                         "Could not retrieve WMI Cluster Shared Volume object SharedVolumeInfo property while "
                         "preparing to move coordinator node for Cluster Shared Volume %s. HRESULT = 0x%x.\n",
                         csvName, hr);
        return 0;
    }
    // The method's own ReturnValue is not looked at: the cluster provider reports a
    // refused move through ExecMethod's HRESULT.
    ComRef<IWbemClassObject> outParams;
    hr = context->services->ExecMethod(_bstr_t(static_cast<const WCHAR *>(path)), _bstr_t(kMoveMethod), 0, NULL,
                                       inParams.get(), outParams.out(), NULL);
    if (FAILED(hr)) {
        msg_print(103488, kCodeCsvError, VO_SEV_ERROR,
                  "Could not move Cluster Shared Volume %s to target node %s. Unable to execute method %s of class "
                  "%s. HRESULT = 0x%x.\n",
                  VO_ARG_TEXT, Text(csvName), VO_ARG_TEXT, Text(targetNode), VO_ARG_TEXT, "MoveToNewHost",
                  VO_ARG_TEXT, "MSCluster_ClusterSharedVolume", VO_ARG_INT, inttostr(hr));
        return 0;
    }
    msg_print(103493, kCodeCsvMoved, VO_SEV_INFO, "Cluster Shared Volume %s has been moved to cluster node %s.\n",
              VO_ARG_TEXT, Text(csvName), VO_ARG_TEXT, Text(targetNode));
    return 1;
}

} // namespace

extern "C" {

int InitCSV(CSVContext *context, const char *csvName)
{
    if (context == NULL || csvName == NULL)
        return 0;
    const HRESULT hr = initialize_wbem(&context->services, &context->locator, kClusterNamespace);
    if (FAILED(hr)) {
        if (LogSetup())
            debugprintf("Could not initialize WMI for %s. HRESULT = 0x%x.\n", "ROOT\\MSCLUSTER", unsigned(hr));
        // A failed open has already balanced COM; nothing is left for Cleanup to close.
        return 0;
    }
    context->csvObject = FindCSVByName(context, csvName);
    if (context->csvObject != NULL)
        context->found = 1;
    return 1;
}

void Cleanup(CSVContext *context)
{
    if (context == NULL)
        return;
    if (context->csvObject != NULL) {
        context->csvObject->Release();
        context->csvObject = NULL;
    }
    if (context->services != NULL && context->locator != NULL)
        cleanup_wbem(&context->services, &context->locator);
}

int GetCSVCoordinatorNode(CSVContext *context, const char *csvName, char **node)
{
    if (node != NULL)
        *node = NULL;
    if (context == NULL || context->services == NULL || csvName == NULL || node == NULL)
        return 0;
    tv_str wql;
    wql.format_utf8("ASSOCIATORS OF {MSCluster_ClusterSharedVolume.Name='%s'} WHERE ResultClass = MSCluster_Node",
                    csvName);
    ComRef<IEnumWbemClassObject> enumerator;
    HRESULT hr = Query(context, wql, enumerator);
    if (FAILED(hr)) {
        PrintWithHresult(103480,
                         "Could not query WMI class MSCluster_Node to find the coordinator node for Cluster Shared "
                         "Volume %s. HRESULT = 0x%x.\n",
                         csvName, hr);
        return 0;
    }
    ComRef<IWbemClassObject> coordinator;
    ULONG returned = 0;
    hr = enumerator->Next(WBEM_INFINITE, 1, coordinator.out(), &returned);
    if (FAILED(hr)) {
        PrintWithHresult(103481,
                         "Could not enumerate WMI Cluster Shared Volume associator objects, while looking for the "
                         "coordinator node for Cluster Shared Volume %s. HRESULT = 0x%x.\n",
                         csvName, hr);
        return 0;
    }
    if (returned == 0 || !coordinator)
        return 0;
    tv_str name;
    hr = ReadText(coordinator.get(), W("Name"), name);
    if (FAILED(hr)) {
        PrintWithHresult(103482,
                         "Could not retrieve WMI Cluster Shared Volume object MSCluster_Node.Name property while "
                         "looking for the coordinator node for Cluster Shared Volume %s. HRESULT = 0x%x.\n",
                         csvName, hr);
        return 0;
    }
    const char *utf8 = name.get_utf8();
    const size_t length = strlen(utf8);
    char *copy = static_cast<char *>(xcalloc(length + 1, 1));
    if (copy == NULL)
        return 0;
    memcpy(copy, utf8, length);
    *node = copy;
    return 1;
}

int GetCSVFaultState(CSVContext *context, const char *csvName, unsigned int *faultState)
{
    if (context == NULL || context->csvObject == NULL) {
        msg_print(103497, kCodeCsvError, VO_SEV_ERROR,
                  "Unable to get fault state for Cluster Shared Volume %s, because the Cluster Shared Volume WMI "
                  "object was not found.\n",
                  VO_ARG_TEXT, Text(csvName));
        return 0;
    }
    ScopedVariant value;
    const HRESULT hr = context->csvObject->Get(W("FaultState"), 0, value.get(), NULL, NULL);
    if (FAILED(hr)) {
        PrintWithHresult(103498,
                         "Could not retrieve WMI Cluster Shared Volume object FaultState property while checking if "
                         "volume path %s is a Cluster Shared Volume. HRESULT = 0x%x.\n",
                         csvName, hr);
        return 0;
    }
    if (faultState == NULL)
        return 0;
    // uint32 properties come as VT_I4: the 32 bits whatever the VARIANT says.
    *faultState = static_cast<unsigned int>(V_I4(value.get()));
    return 1;
}

int MoveCSVToSpecifiedNode(CSVContext *context, const char *csvName, const char *targetNode)
{
    if (context == NULL || context->csvObject == NULL) {
        msg_print(103492, kCodeCsvError, VO_SEV_ERROR,
                  "Unable to move Cluster Shared Volume %s to specified cluster node %s, because the Cluster Shared "
                  "Volume WMI object was not found.\n",
                  VO_ARG_TEXT, Text(csvName), VO_ARG_TEXT, Text(targetNode));
        return 0;
    }
    return MoveCSVToNode(context, csvName, targetNode);
}

int MoveCSVToLocalNode(CSVContext *context, const char *csvName, const char *owner)
{
    if (context == NULL || context->csvObject == NULL) {
        msg_print(103494, kCodeCsvError, VO_SEV_ERROR,
                  "Unable to move Cluster Shared Volume %s to local node, because the Cluster Shared Volume WMI "
                  "object was not found.\n",
                  VO_ARG_TEXT, Text(csvName));
        return 0;
    }
    char local[256] = {};
    vo_gethostname(local, sizeof local);
    if (vo_inet_hostcmp(owner, local) == 0)
        return 1;
    return MoveCSVToNode(context, csvName, local);
}

int ToggleCSVMaintModeState(CSVContext *context, const char *csvName, int on)
{
    if (context == NULL || context->csvObject == NULL) {
        msg_print(103489, kCodeCsvError, VO_SEV_ERROR,
                  "Unable to toggle maintenance mode for Cluster Shared Volume %s, because the Cluster Shared "
                  "Volume WMI object was not found.\n",
                  VO_ARG_TEXT, Text(csvName));
        return 0;
    }
    tv_str path;
    HRESULT hr = ReadText(context->csvObject, W("__PATH"), path);
    if (FAILED(hr)) {
        PrintWithHresult(103490,
                         "Could not retrieve WMI Cluster Shared Volume object __PATH property when preparing to change "
                         "maintenance mode state for Cluster Shared Volume %s. HRESULT = 0x%x.\n",
                         csvName, hr);
        return 0;
    }
    const WCHAR *method = on != 0 ? W("TurnOnMaintenance") : W("TurnOffMaintenance");
    ComRef<IWbemClassObject> outParams;
    hr = context->services->ExecMethod(_bstr_t(static_cast<const WCHAR *>(path)), _bstr_t(method), 0, NULL, NULL,
                                       outParams.out(), NULL);
    if (FAILED(hr)) {
        if (LogFailures())
            debugprintf("Could not change maintenance mode state for Cluster Shared Volume %s. Failed to execute "
                        "method with error 0x%x.\n",
                        Text(csvName), unsigned(hr));
        return 0;
    }
    return 1;
}

} // extern "C"
