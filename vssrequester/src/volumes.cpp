// The volumes that a component's files live on.
#include "internal.h"

using vsscr::LogLine;

namespace {

HRESULT LastErrorResult()
{
    DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

const wstr kGlobalRootPrefix = W("\\\\?\\GLOBALROOT\\");

// \\?\GLOBALROOT\Device\HarddiskVolumeN\ of a path below such a device: the prefix
// and two more names.
wstr DeviceRootOf(const wstr &path)
{
    size_t end = path.find('\\', kGlobalRootPrefix.size());  // after "Device"
    if (end != wstr::npos)
        end = path.find('\\', end + 1);                        // after the device name
    wstr root = end == wstr::npos ? path : path.substr(0, end);
    return root + W("\\");
}

HRESULT ExpandedPath(const wstr &path, wstr *out)
{
    DWORD needed = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
    if (needed == 0)
        return LastErrorResult();
    wstr expanded(needed, 0);
    DWORD written = ExpandEnvironmentStringsW(path.c_str(), &expanded[0], needed);
    if (written == 0 || written > needed)
        return LastErrorResult();
    expanded.resize(written - 1);
    *out = std::move(expanded);
    return S_OK;
}

HRESULT AddVolumeOf(const CVssWriterFile &file, CVssMountPointMap &volumes)
{
    wstr path;
    HRESULT hr = ExpandedPath(file.path, &path);
    if (FAILED(hr))
        return hr;
    if (path.size() >= kGlobalRootPrefix.size() &&
        vsscr::SameTextIgnoringCase(path.substr(0, kGlobalRootPrefix.size()), kGlobalRootPrefix)) {
        // A volume without a GUID name (the boot store's system partition, say) is known
        // only by its device path, which then serves as both of its names.
        wstr device = DeviceRootOf(path);
        if (volumes.count(device) == 0) {
            auto mountPoint = std::make_shared<CVssMountPoint>();
            mountPoint->volumePath = device;
            mountPoint->volumeGuid = device;
            volumes[device] = std::move(mountPoint);
        }
        return S_OK;
    }
    if (path.empty())
        return E_INVALIDARG;
    WCHAR volumePath[MAX_PATH + 1] = {0};
    if (!GetVolumePathNameW(path.c_str(), volumePath, MAX_PATH + 1)) {
        hr = LastErrorResult();
        LogLine("GetVolumePathNameW %s failed: 0x%08x", vsscr::ToUtf8(path).c_str(), static_cast<unsigned>(hr));
        return hr;
    }
    wstr volume = volumePath;
    if (volume.empty() || volume.back() != '\\')
        volume += '\\';
    if (volumes.count(volume) != 0)
        return S_OK;
    WCHAR guidName[MAX_PATH] = {0};
    if (!GetVolumeNameForVolumeMountPointW(volume.c_str(), guidName, MAX_PATH)) {
        hr = LastErrorResult();
        LogLine("GetVolumeNameForVolumeMountPointW %s failed: 0x%08x", vsscr::ToUtf8(volume).c_str(),
                static_cast<unsigned>(hr));
        return hr;
    }
    auto mountPoint = std::make_shared<CVssMountPoint>();
    mountPoint->volumePath = volume;
    mountPoint->volumeGuid = guidName;
    volumes[volume] = std::move(mountPoint);
    return S_OK;
}

} // namespace

long CVssWriterComp::GetVolumeMap(CVssMountPointMap &out) const
{
    CVssMountPointMap volumes;
    for (const CVssWriterFileList *group : {&files, &databaseFiles, &databaseLogFiles}) {
        for (const auto &file : *group) {
            HRESULT hr = AddVolumeOf(*file, volumes);
            if (FAILED(hr))
                return hr;
        }
    }
    out.insert(volumes.begin(), volumes.end());
    return S_OK;
}

long CVssWriterComp::GetVolumeList(CVssMountPointList &out) const
{
    CVssMountPointMap volumes;
    HRESULT hr = GetVolumeMap(volumes);
    if (FAILED(hr))
        return hr;
    for (auto &entry : volumes)
        out.push_back(entry.second);
    return S_OK;
}
