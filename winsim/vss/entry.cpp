// The service's exported entry points.
#include <vsbackup.h>

#include "../src/internal.h"

EXTERN_C HRESULT IsVolumeSnapshottedInternal(VSS_PWSZ, WINBOOL *, LONG *)
{
    winsim::LogNotImplemented("IsVolumeSnapshotted", "the query");
    return E_NOTIMPL;
}

EXTERN_C void VssFreeSnapshotPropertiesInternal(VSS_SNAPSHOT_PROP *pProp)
{
    if (!pProp)
        return;
    CoTaskMemFree(pProp->m_pwszSnapshotDeviceObject);
    CoTaskMemFree(pProp->m_pwszOriginalVolumeName);
    CoTaskMemFree(pProp->m_pwszOriginatingMachine);
    CoTaskMemFree(pProp->m_pwszServiceMachine);
    CoTaskMemFree(pProp->m_pwszExposedName);
    CoTaskMemFree(pProp->m_pwszExposedPath);
    pProp->m_pwszSnapshotDeviceObject = pProp->m_pwszOriginalVolumeName = nullptr;
    pProp->m_pwszOriginatingMachine = pProp->m_pwszServiceMachine = nullptr;
    pProp->m_pwszExposedName = pProp->m_pwszExposedPath = nullptr;
}
