// The service's exported entry points.
#include <vsbackup.h>

#include "vssinternal.h"

#include "../src/internal.h"
#include "winsim/hostmodel.h"

EXTERN_C HRESULT IsVolumeSnapshottedInternal(VSS_PWSZ pwszVolumeName, WINBOOL *pbSnapshotsPresent,
                                             LONG *plSnapshotCapability)
{
    using namespace winsim::vss;
    if (!pwszVolumeName || !pbSnapshotsPresent || !plSnapshotCapability)
        return E_INVALIDARG;
    *pbSnapshotsPresent = FALSE;
    *plSnapshotCapability = 0;
    const winsim::Volume *volume = FindVolumeRoot(pwszVolumeName);
    if (!volume || volume->offline)
        return VSS_E_OBJECT_NOT_FOUND;
    if (!ShadowCopiesSupported(*volume))
        return VSS_E_VOLUME_NOT_SUPPORTED;
    for (const winsim::VssSnapshotInfo &snapshot : winsim::VssSnapshots())
        if (SameText(snapshot.originalVolume, volume->guidPath))
            *pbSnapshotsPresent = TRUE;
    return S_OK;
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
