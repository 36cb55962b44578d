// The host description reader: any text either loads or gives one line of error naming
// what is wrong; nothing else may escape it. A description that loads is then made the
// current host and its volumes and drives are asked for, as the library asks: what the
// reader accepts must not break the layers that answer from it.
#include "fuzzcheck.h"

#include <winsim/hostmodel.h>

#include <platform/tvplatform.h>

#include <cstring>

namespace {

// Seeded files are written out in full when a host becomes current; big ones only cost time.
bool CheapToMake(const winsim::Host &host)
{
    ULONGLONG written = 0;
    for (const winsim::FileEntry &file : host.files)
        written += file.fill == winsim::FileFill::Seeded ? file.Length() : 0;
    return written <= (1u << 20) && host.files.size() <= 64;
}

void AskVolumes()
{
    WCHAR name[MAX_PATH];
    HANDLE find = FindFirstVolumeW(name, MAX_PATH);
    for (int n = 0; find != INVALID_HANDLE_VALUE && n < 64; ++n) {
        WCHAR paths[1024];
        DWORD length = 0;
        GetVolumePathNamesForVolumeNameW(name, paths, 1024, &length);
        WCHAR label[MAX_PATH], fileSystem[MAX_PATH];
        DWORD serial = 0, maxComponent = 0, flags = 0;
        GetVolumeInformationW(name, label, MAX_PATH, &serial, &maxComponent, &flags, fileSystem, MAX_PATH);
        if (!FindNextVolumeW(find, name, MAX_PATH))
            break;
    }
    if (find != INVALID_HANDLE_VALUE)
        FindVolumeClose(find);
    WCHAR root[] = W("A:\\Windows");
    for (int letter = 0; letter < 26; ++letter) {
        root[0] = WCHAR(W('A') + letter);
        root[3] = 0;
        GetDriveTypeW(root);
        WCHAR volume[MAX_PATH];
        GetVolumeNameForVolumeMountPointW(root, volume, MAX_PATH);
        root[3] = W('W');
        GetVolumePathNameW(root, volume, MAX_PATH);
        GetFileAttributesW(root);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        winsim::Host host = winsim::ParseHost(text);
        FUZZ_CHECK(!host.hostName.empty() && host.hostName.size() <= 15);
        if (CheapToMake(host)) {
            winsim::ReplaceHost(std::move(host));
            AskVolumes();
        }
    } catch (const winsim::HostError &e) {
        const char *what = e.what();
        FUZZ_CHECK(what != nullptr && what[0] != '\0');
        FUZZ_CHECK(std::strchr(what, '\n') == nullptr && std::strchr(what, '\r') == nullptr);
    }
    return 0;
}
