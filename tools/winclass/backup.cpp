// winclass backup PATH... --to DIR: a file-system backup from snapshot to manifest.
#include "commands.h"
#include "platform.h"
#include "session.h"
#include "sha256.h"

#include <libwinclass/conversions.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace winclass {

namespace {

namespace fs = std::filesystem;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

struct FileToCopy {
    wstr livePath;
    wstr shadowPath;
    uint64_t size = 0;
};

struct CopiedFile {
    std::string livePath;
    std::string copiedTo;
    uint64_t size = 0;
    std::string sha256;
};

std::string Utf8(const wstr &text)
{
    return to_utf8(text);
}

// Where a live path lands under the destination: C:\Data\a.txt -> DIR/C/Data/a.txt.
fs::path DestinationOf(const fs::path &destination, const wstr &livePath)
{
    std::string text = Utf8(livePath);
    std::string relative;
    if (text.size() >= 2 && text[1] == ':')
        relative = std::string(1, text[0]) + text.substr(2);
    else
        relative = text;
    fs::path result = destination;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('\\', start);
        if (end == std::string::npos)
            end = relative.size();
        std::string part = relative.substr(start, end - start);
        if (!part.empty() && part != "?" && part != ".")
            result /= fs::u8path(part);
        start = end + 1;
    }
    return result;
}

// Every file under a folder of the shadow copy, depth first. Mount folders are not
// crossed: the volume mounted there has a shadow copy of its own, reached by naming it.
bool CollectFiles(const wstr &liveFolder, const wstr &shadowFolder, std::vector<FileToCopy> *files, Output &output)
{
    WIN32_FIND_DATAW found;
    wstr pattern = shadowFolder + W("\\*");
    FindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return true;
        output.Error(Utf8(liveFolder) + ": cannot list the folder in the shadow copy " + Utf8(shadowFolder) + ": " +
                     ErrorText(error));
        return false;
    }
    do {
        wstr name = found.cFileName;
        if (name == W(".") || name == W(".."))
            continue;
        wstr live = liveFolder + W("\\") + name;
        wstr shadow = shadowFolder + W("\\") + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            output.Line("not crossing the mount point or link " + Utf8(live));
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!CollectFiles(live, shadow, files, output))
                return false;
            continue;
        }
        FileToCopy file;
        file.livePath = live;
        file.shadowPath = shadow;
        file.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        files->push_back(file);
    } while (FindNextFileW(search.get(), &found));
    DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        output.Error(Utf8(liveFolder) + ": listing the shadow copy stopped: " + ErrorText(error));
        return false;
    }
    return true;
}

bool CopyFromShadow(const FileToCopy &file, const fs::path &destination, CopiedFile *copied, Output &output)
{
    FileHandle source(CreateFileW(file.shadowPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (source.get() == INVALID_HANDLE_VALUE) {
        source.release();
        output.Error(Utf8(file.livePath) + ": cannot open it in the shadow copy (" + Utf8(file.shadowPath) +
                     "): " + ErrorText(GetLastError()));
        return false;
    }
    fs::path target = DestinationOf(destination, file.livePath);
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (error || !out) {
        output.Error(target.u8string() + ": cannot write: " +
                     (error ? error.message() : std::string(std::strerror(errno))));
        return false;
    }
    Sha256 digest;
    uint64_t total = 0;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), buffer.data(), DWORD(buffer.size()), &read, NULL)) {
            output.Error(Utf8(file.livePath) + ": cannot read it from the shadow copy (" + Utf8(file.shadowPath) +
                         "): " + ErrorText(GetLastError()));
            return false;
        }
        if (read == 0)
            break;
        digest.Update(buffer.data(), read);
        out.write(buffer.data(), read);
        if (!out) {
            output.Error(target.u8string() + ": cannot write: " + std::strerror(errno));
            return false;
        }
        total += read;
    }
    out.close();
    if (!out) {
        output.Error(target.u8string() + ": cannot write: " + std::strerror(errno));
        return false;
    }
    copied->livePath = Utf8(file.livePath);
    copied->copiedTo = target.u8string();
    copied->size = total;
    copied->sha256 = digest.HexDigest();
    return true;
}

nlohmann::json VolumesJson(const std::vector<VolumeInSet> &volumes)
{
    nlohmann::json list = nlohmann::json::array();
    for (const VolumeInSet &volume : volumes)
        list.push_back({{"volume", volume.volume},
                        {"volumeGuidName", volume.guidName},
                        {"shadowPath", volume.shadowPath},
                        {"driveRoot", volume.driveRoot},
                        {"flags", volume.flags},
                        {"marked", volume.marked}});
    return list;
}

} // namespace

int RunBackup(const BackupOptions &options, Output &output)
{
    // Bad input is refused before a snapshot exists.
    std::vector<wstr> savePaths;
    for (const std::string &path : options.paths) {
        wstr windowsPath = WindowsPath(path);
        while (windowsPath.size() > 3 && windowsPath.back() == '\\')
            windowsPath.pop_back();
        if (GetFileAttributesW(windowsPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
            output.Error(path + ": " + ErrorText(GetLastError()));
            return output.Finish(2);
        }
        savePaths.push_back(windowsPath);
    }
    fs::path destination = fs::u8path(options.destination);
    std::error_code error;
    fs::create_directories(destination, error);
    if (error || !fs::is_directory(destination, error)) {
        output.Error(options.destination + ": cannot make the destination folder: " +
                     (error ? error.message() : std::string("not a folder")));
        return output.Finish(2);
    }

    BackupSession session(output);
    if (!session.Start(kFileSystemSaveType))
        return output.Finish(1);
    for (const wstr &path : savePaths)
        if (!session.AddSavePath(Utf8(path)))
            return output.Finish(1);
    if (!session.TakeSnapshot())
        return output.Finish(1);
    std::vector<VolumeInSet> volumes;
    if (!session.Volumes(&volumes))
        return output.Finish(1);

    output.Line("Snapshot set " + session.SnapshotSetId());
    output.Line("Backup components document " + session.DocumentPath());
    for (const VolumeInSet &volume : volumes)
        output.Line("  " + volume.volume + "  ->  " + volume.shadowPath);
    nlohmann::json &document = output.Document();
    document["snapshotSetId"] = session.SnapshotSetId();
    document["backupComponentsDocument"] = session.DocumentPath();
    document["volumes"] = VolumesJson(volumes);

    std::vector<FileToCopy> files;
    for (const wstr &path : savePaths) {
        Mapping mapping;
        if (!session.Map(path, &mapping)) {
            output.Error(Utf8(path) + ": its volume has no shadow copy in the snapshot set");
            return output.Finish(1);
        }
        DWORD attributes = GetFileAttributesW(mapping.shadowPath.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            output.Error(Utf8(path) + ": not found in the shadow copy (" + Utf8(mapping.shadowPath) +
                         "): " + ErrorText(GetLastError()));
            return output.Finish(1);
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            wstr shadowFolder = mapping.shadowPath;
            while (!shadowFolder.empty() && shadowFolder.back() == '\\')
                shadowFolder.pop_back();
            wstr liveFolder = path;
            while (!liveFolder.empty() && liveFolder.back() == '\\')
                liveFolder.pop_back();
            if (!CollectFiles(liveFolder, shadowFolder, &files, output))
                return output.Finish(1);
        } else {
            WIN32_FIND_DATAW found;
            FileToCopy file;
            file.livePath = path;
            file.shadowPath = mapping.shadowPath;
            FindHandle search(FindFirstFileW(mapping.shadowPath.c_str(), &found));
            if (search.get() != INVALID_HANDLE_VALUE)
                file.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            else
                search.release();
            files.push_back(file);
        }
    }

    uint64_t totalBytes = 0;
    for (const FileToCopy &file : files)
        totalBytes += file.size;
    Progress progress(output, StandardOutputIsTerminal(), files.size(), totalBytes);
    nlohmann::json manifestFiles = nlohmann::json::array();
    uint64_t copiedBytes = 0;
    for (const FileToCopy &file : files) {
        CopiedFile copied;
        if (!CopyFromShadow(file, destination, &copied, output)) {
            progress.Finish();
            return output.Finish(1);
        }
        copiedBytes += copied.size;
        progress.FileDone(copied.livePath, copied.size);
        manifestFiles.push_back({{"path", copied.livePath},
                                 {"shadowPath", Utf8(file.shadowPath)},
                                 {"copiedTo", copied.copiedTo},
                                 {"size", copied.size},
                                 {"sha256", copied.sha256}});
    }
    progress.Finish();

    nlohmann::json manifest = {{"snapshotSetId", session.SnapshotSetId()},
                               {"volumes", VolumesJson(volumes)},
                               {"files", manifestFiles}};
    fs::path manifestPath = destination / "manifest.json";
    std::ofstream manifestOut(manifestPath, std::ios::binary | std::ios::trunc);
    manifestOut << manifest.dump(2) << "\n";
    manifestOut.close();
    if (!manifestOut) {
        output.Error(manifestPath.u8string() + ": cannot write the manifest: " + std::strerror(errno));
        return output.Finish(1);
    }

    session.Complete();
    output.Line("Backed up " + std::to_string(files.size()) + " files (" + HumanSize(copiedBytes) + ") from " +
                std::to_string(volumes.size()) + " volumes into " + destination.u8string());
    output.Line("Manifest " + manifestPath.u8string());
    document["files"] = manifestFiles;
    document["manifest"] = manifestPath.u8string();
    return output.Finish(0);
}

} // namespace winclass
