// winclass volumes: the volumes of the host and where they are mounted.
#include "commands.h"
#include "paths.h"

#include <platform/tvplatform.h>

#include <memory>
#include <vector>

namespace winclass {

namespace {

struct VolumeFindCloser {
    void operator()(HANDLE handle) const { FindVolumeClose(handle); }
};

const char *DriveTypeName(UINT type)
{
    switch (type) {
    case DRIVE_REMOVABLE: return "removable";
    case DRIVE_FIXED: return "fixed";
    case DRIVE_REMOTE: return "remote";
    case DRIVE_CDROM: return "optical";
    case DRIVE_RAMDISK: return "ram disk";
    case DRIVE_NO_ROOT_DIR: return "no root";
    default: return "unknown";
    }
}

std::vector<wstr> MountPointsOf(const wstr &volumeName)
{
    std::vector<WCHAR> names(MAX_PATH + 1, 0);
    DWORD needed = 0;
    if (!GetVolumePathNamesForVolumeNameW(volumeName.c_str(), names.data(), DWORD(names.size()), &needed)) {
        if (GetLastError() != ERROR_MORE_DATA)
            return {};
        names.assign(needed, 0);
        if (!GetVolumePathNamesForVolumeNameW(volumeName.c_str(), names.data(), DWORD(names.size()), &needed))
            return {};
    }
    std::vector<wstr> result;
    for (const WCHAR *name = names.data(); *name; name += wstr(name).size() + 1)
        result.push_back(name);
    return result;
}

} // namespace

int RunVolumes(Output &output)
{
    WCHAR volumeName[MAX_PATH + 1] = {};
    std::unique_ptr<void, VolumeFindCloser> search(FindFirstVolumeW(volumeName, MAX_PATH + 1));
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        output.Error(std::string("cannot list the volumes: ") + ErrorText(GetLastError()));
        return output.Finish(1);
    }
    nlohmann::json list = nlohmann::json::array();
    do {
        wstr name = volumeName;
        WCHAR label[MAX_PATH + 1] = {};
        WCHAR fileSystem[MAX_PATH + 1] = {};
        bool ready = GetVolumeInformationW(name.c_str(), label, MAX_PATH + 1, NULL, NULL, NULL, fileSystem,
                                           MAX_PATH + 1) != FALSE;
        std::string type = DriveTypeName(GetDriveTypeW(name.c_str()));
        std::vector<wstr> mountPoints = MountPointsOf(name);
        nlohmann::json paths = nlohmann::json::array();
        std::string shown;
        for (const wstr &mountPoint : mountPoints) {
            paths.push_back(Shown(mountPoint));
            shown += (shown.empty() ? "" : ", ") + Shown(mountPoint);
        }
        output.Line(Shown(name));
        output.Line("    mounted at  " + (shown.empty() ? std::string("(nowhere)") : shown));
        output.Line("    " + type + ", " +
                    (ready ? Shown(fileSystem) + (label[0] ? ", \"" + Shown(label) + "\"" : std::string())
                           : std::string("not ready")));
        list.push_back({{"volume", Shown(name)},
                        {"mountPoints", paths},
                        {"driveType", type},
                        {"ready", ready},
                        {"fileSystem", ready ? Shown(fileSystem) : std::string()},
                        {"label", ready ? Shown(label) : std::string()}});
    } while (FindNextVolumeW(search.get(), volumeName, MAX_PATH + 1));
    output.Document()["volumes"] = list;
    return output.Finish(0);
}

} // namespace winclass
