// winclass backup PATH... --to DIR: a file-system backup from snapshot to manifest, as a
// list of named steps.
#include "commands.h"
#include "paths.h"
#include "platform.h"
#include "session.h"
#include "sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace winclass {

namespace {

namespace fs = std::filesystem;

// The manifest's layout; raised when a field changes meaning or goes.
const int kManifestFormat = 2;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

// A folder or file to back up, as the shadow copy lists it.
struct Entry {
    wstr livePath;
    wstr shadowPath;
    fs::path copy;  // where it goes under the destination
    bool folder = false;
    uint64_t size = 0;
    DWORD attributes = 0;
    FILETIME lastWrite = {};
};

// 2025-03-01T12:00:00Z: a FILETIME (100 ns since 1601, UTC) as ISO 8601.
std::string TimeText(const FILETIME &time)
{
    const uint64_t ticks = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const int64_t seconds = int64_t(ticks / 10000000) - 11644473600LL;
    int64_t days = seconds / 86400, secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    // Civil date of a day count from 1970-01-01 (proleptic Gregorian calendar).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", (long long)year, (long long)month,
                  (long long)day, (long long)(secondOfDay / 3600), (long long)(secondOfDay / 60 % 60),
                  (long long)(secondOfDay % 60));
    return text;
}

nlohmann::json AttributeNames(DWORD attributes)
{
    static const std::pair<DWORD, const char *> kNames[] = {
        {FILE_ATTRIBUTE_READONLY, "readonly"}, {FILE_ATTRIBUTE_HIDDEN, "hidden"},
        {FILE_ATTRIBUTE_SYSTEM, "system"},     {FILE_ATTRIBUTE_DIRECTORY, "directory"},
        {FILE_ATTRIBUTE_ARCHIVE, "archive"},   {FILE_ATTRIBUTE_NORMAL, "normal"},
        {FILE_ATTRIBUTE_TEMPORARY, "temporary"}, {FILE_ATTRIBUTE_SPARSE_FILE, "sparse"},
        {FILE_ATTRIBUTE_REPARSE_POINT, "reparsePoint"}, {FILE_ATTRIBUTE_COMPRESSED, "compressed"},
        {FILE_ATTRIBUTE_OFFLINE, "offline"},   {FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, "notContentIndexed"},
        {FILE_ATTRIBUTE_ENCRYPTED, "encrypted"}};
    nlohmann::json names = nlohmann::json::array();
    for (const auto &name : kNames)
        if (attributes & name.first)
            names.push_back(name.second);
    return names;
}

nlohmann::json VolumesJson(const std::vector<VolumeInSet> &volumes)
{
    nlohmann::json list = nlohmann::json::array();
    for (const VolumeInSet &volume : volumes)
        list.push_back({{"volume", volume.shown},
                        {"volumeGuidName", volume.guidName},
                        {"shadowPath", volume.shadowPath},
                        {"driveRoot", volume.driveRoot},
                        {"flags", volume.flags},
                        {"marked", volume.marked}});
    return list;
}

std::string SystemText(const std::error_code &error)
{
    return error ? error.message() : std::string(std::strerror(errno));
}

class Backup {
public:
    Backup(const BackupOptions &options, Output &output) : options_(options), output_(output) {}

    // The steps, in order; each answers an exit code, and the first that is not success
    // ends the backup.
    int CheckPaths();
    int CheckDestination();
    int AddToSnapshotSet();
    int TakeSnapshot();
    int ListFiles();
    int Copy();
    int WriteManifest();
    // Completion and the deletion of the snapshot set, whatever came before; the summary.
    int Finish(int exitCode);

private:
    int ListFolder(const wstr &liveFolder, const wstr &shadowFolder);
    bool AddEntry(Entry entry);
    bool CopyFile(const Entry &file, nlohmann::json *record);
    bool CopyDocument();

    const BackupOptions &options_;
    Output &output_;
    std::vector<SavePath> savePaths_;
    fs::path destination_;
    std::unique_ptr<BackupSession> session_;
    std::vector<VolumeInSet> volumes_;
    std::vector<Entry> entries_;
    uint64_t fileCount_ = 0, totalBytes_ = 0, copiedBytes_ = 0;
    double elapsed_ = 0;
    nlohmann::json records_ = nlohmann::json::array();
    fs::path manifestPath_;
    Progress *progress_ = nullptr;  // while Copy runs
};

int Backup::CheckPaths()
{
    std::vector<SavePath> checked;
    for (const std::string &given : options_.paths) {
        SavePath savePath;
        std::string error;
        if (!CanonicalSavePath(given, &savePath, &error)) {
            output_.Error(error);
            return kExitBadInput;
        }
        checked.push_back(savePath);
    }
    savePaths_ = MergeOverlaps(checked);
    nlohmann::json list = nlohmann::json::array();
    for (const SavePath &savePath : savePaths_)
        list.push_back(Shown(savePath.path));
    output_.Document()["savePaths"] = list;
    return kExitSuccess;
}

int Backup::CheckDestination()
{
    // Nothing is made here: the folder is created only once the snapshot exists.
    destination_ = fs::u8path(options_.destination);
    std::error_code error;
    const fs::file_status status = fs::status(destination_, error);
    if (!fs::exists(status))
        return kExitSuccess;
    if (!fs::is_directory(status)) {
        output_.Error(options_.destination + ": the destination exists and is not a folder");
        return kExitBadInput;
    }
    if (!options_.force && !fs::is_empty(destination_, error)) {
        output_.Error(options_.destination +
                      ": the destination folder is not empty; give a new or empty folder, or --force to write "
                      "into it");
        return kExitBadInput;
    }
    return kExitSuccess;
}

int Backup::AddToSnapshotSet()
{
    session_.reset(new BackupSession(output_));
    if (!session_->Start(kFileSystemSaveType))
        return kExitStepFailed;
    for (const SavePath &savePath : savePaths_)
        if (!session_->AddSavePath(savePath.path, savePath.volume))
            return kExitStepFailed;
    return kExitSuccess;
}

int Backup::TakeSnapshot()
{
    if (!session_->TakeSnapshot() || !session_->Volumes(&volumes_))
        return kExitStepFailed;
    output_.Line("Snapshot set " + session_->SnapshotSetId());
    output_.Line("Backup components document " + Shown(session_->DocumentPath()));
    for (const VolumeInSet &volume : volumes_)
        output_.Line("  " + volume.shown + "  ->  " + volume.shadowPath);
    nlohmann::json &document = output_.Document();
    document["snapshotSetId"] = session_->SnapshotSetId();
    document["backupComponentsDocument"] = Shown(session_->DocumentPath());
    document["volumes"] = VolumesJson(volumes_);
    return kExitSuccess;
}

bool Backup::AddEntry(Entry entry)
{
    // C:\Data\a.txt lands at DIR/C/Data/a.txt; every name must have a UTF-8 form.
    entry.copy = destination_ / std::string(1, char(entry.livePath[0]));
    size_t at = 3;
    while (at < entry.livePath.size()) {
        size_t end = entry.livePath.find('\\', at);
        if (end == wstr::npos)
            end = entry.livePath.size();
        std::string name;
        if (!WideToUtf8(entry.livePath.substr(at, end - at), &name)) {
            output_.Error(Shown(entry.livePath) +
                          ": the name holds a lone UTF-16 surrogate, which has no UTF-8 form to store it under");
            return false;
        }
        entry.copy /= fs::u8path(name);
        at = end + 1;
    }
    if (!entry.folder) {
        ++fileCount_;
        totalBytes_ += entry.size;
    }
    entries_.push_back(std::move(entry));
    return true;
}

// Every folder and file under a folder of the shadow copy, depth first. Mount folders are
// not crossed: the volume mounted there has a shadow copy of its own, reached by naming it.
int Backup::ListFolder(const wstr &liveFolder, const wstr &shadowFolder)
{
    WIN32_FIND_DATAW found;
    const wstr pattern = shadowFolder + W("\\*");
    FindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return kExitSuccess;
        output_.Error(Shown(liveFolder) + ": cannot list the folder in the shadow copy " + Shown(shadowFolder) + ": " +
                      ErrorText(error));
        return kExitStepFailed;
    }
    do {
        const wstr name = found.cFileName;
        if (name == W(".") || name == W(".."))
            continue;
        Entry entry;
        entry.livePath = liveFolder + W("\\") + name;
        entry.shadowPath = shadowFolder + W("\\") + name;
        entry.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entry.attributes = found.dwFileAttributes;
        entry.lastWrite = found.ftLastWriteTime;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            output_.Notice("not crossing the mount point or link " + Shown(entry.livePath));
            continue;
        }
        const wstr live = entry.livePath, shadow = entry.shadowPath;
        const bool folder = entry.folder;
        if (!AddEntry(std::move(entry)))
            return kExitStepFailed;
        if (folder)
            if (int code = ListFolder(live, shadow))
                return code;
    } while (FindNextFileW(search.get(), &found));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        output_.Error(Shown(liveFolder) + ": listing the shadow copy stopped: " + ErrorText(error));
        return kExitStepFailed;
    }
    return kExitSuccess;
}

int Backup::ListFiles()
{
    for (const SavePath &savePath : savePaths_) {
        Mapping mapping;
        if (!session_->Map(savePath.path, &mapping)) {
            output_.Error(Shown(savePath.path) + ": its volume " + Shown(savePath.volume) +
                          " has no shadow copy in the snapshot set");
            return kExitStepFailed;
        }
        wstr shadow = mapping.shadowPath;
        while (shadow.size() > 1 && shadow.back() == '\\')
            shadow.pop_back();
        // The save path itself, as the shadow copy holds it (a volume root has no entry).
        Entry entry;
        entry.livePath = savePath.path;
        entry.shadowPath = shadow;
        entry.folder = savePath.folder;
        // A volume's root (a drive or a mount folder) is no directory entry of the copy.
        const bool volumeRoot = savePath.path.size() == 3 || savePath.path + W("\\") == savePath.volume;
        WIN32_FIND_DATAW found;
        FindHandle search(volumeRoot ? INVALID_HANDLE_VALUE : FindFirstFileW(shadow.c_str(), &found));
        if (search.get() != INVALID_HANDLE_VALUE) {
            entry.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            entry.attributes = found.dwFileAttributes;
            entry.lastWrite = found.ftLastWriteTime;
        } else {
            search.release();
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExW((shadow + W("\\")).c_str(), GetFileExInfoStandard, &data)) {
                output_.Error(Shown(savePath.path) + ": not found in the shadow copy (" + Shown(shadow) +
                              "): " + ErrorText(GetLastError()));
                return kExitStepFailed;
            }
            entry.attributes = data.dwFileAttributes;
            entry.lastWrite = data.ftLastWriteTime;
        }
        if (!AddEntry(entry))
            return kExitStepFailed;
        if (savePath.folder)
            if (int code = ListFolder(savePath.path.size() > 3 ? savePath.path : savePath.path.substr(0, 2), shadow))
                return code;
    }
    return kExitSuccess;
}

bool Backup::CopyFile(const Entry &file, nlohmann::json *record)
{
    FileHandle source(CreateFileW(file.shadowPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (source.get() == INVALID_HANDLE_VALUE) {
        source.release();
        output_.Error(Shown(file.livePath) + ": cannot open it in the shadow copy (" + Shown(file.shadowPath) +
                      "): " + ErrorText(GetLastError()));
        return false;
    }
    std::error_code error;
    fs::create_directories(file.copy.parent_path(), error);
    std::ofstream out(file.copy, std::ios::binary | std::ios::trunc);
    if (error || !out) {
        output_.Error(file.copy.u8string() + ": cannot write: " + SystemText(error));
        return false;
    }
    Sha256 digest;
    uint64_t total = 0;
    std::vector<char> buffer(1024 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), buffer.data(), DWORD(buffer.size()), &read, NULL)) {
            output_.Error(Shown(file.livePath) + ": cannot read it from the shadow copy (" + Shown(file.shadowPath) +
                          "): " + ErrorText(GetLastError()));
            return false;
        }
        if (read == 0)
            break;
        digest.Update(buffer.data(), read);
        out.write(buffer.data(), read);
        if (!out) {
            output_.Error(file.copy.u8string() + ": cannot write: " + std::strerror(errno));
            return false;
        }
        total += read;
        if (progress_)
            progress_->Bytes(read);
    }
    out.close();
    if (!out) {
        output_.Error(file.copy.u8string() + ": cannot write: " + std::strerror(errno));
        return false;
    }
    copiedBytes_ += total;
    (*record)["size"] = total;
    (*record)["sha256"] = digest.HexDigest();
    return true;
}

int Backup::Copy()
{
    std::error_code error;
    fs::create_directories(destination_, error);
    if (error || !fs::is_directory(destination_, error)) {
        output_.Error(options_.destination + ": cannot make the destination folder: " + SystemText(error));
        return kExitStepFailed;
    }
    Progress progress(output_, StandardOutputIsTerminal(), fileCount_, totalBytes_);
    progress_ = &progress;
    int code = kExitSuccess;
    for (const Entry &entry : entries_) {
        nlohmann::json record = {{"path", Shown(entry.livePath)},
                                 {"shadowPath", Shown(entry.shadowPath)},
                                 {"copiedTo", entry.copy.u8string()},
                                 {"kind", entry.folder ? "folder" : "file"},
                                 {"attributes", entry.attributes},
                                 {"attributeNames", AttributeNames(entry.attributes)}};
        if (entry.lastWrite.dwHighDateTime != 0 || entry.lastWrite.dwLowDateTime != 0)
            record["lastWriteTime"] = TimeText(entry.lastWrite);
        if (entry.folder) {
            fs::create_directories(entry.copy, error);
            if (error) {
                output_.Error(entry.copy.u8string() + ": cannot make the folder: " + error.message());
                code = kExitStepFailed;
                break;
            }
        } else if (!CopyFile(entry, &record)) {
            code = kExitStepFailed;
            break;
        } else {
            progress.FileDone(Shown(entry.livePath), record["size"].get<uint64_t>());
        }
        records_.push_back(record);
    }
    progress.Finish();
    elapsed_ = progress.ElapsedSeconds();
    progress_ = nullptr;
    return code;
}

// A copy of the backup components document beside the manifest: the one the library
// wrote lives in a per-process folder that does not outlast the command.
bool Backup::CopyDocument()
{
    FileHandle source(CreateFileW(session_->DocumentPath().c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    const fs::path target = destination_ / "backup-components.xml";
    if (source.get() == INVALID_HANDLE_VALUE) {
        source.release();
        output_.Error(Shown(session_->DocumentPath()) + ": cannot open the backup components document: " +
                      ErrorText(GetLastError()));
        return false;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(64 * 1024);
    DWORD read = 0;
    while (out && ReadFile(source.get(), buffer.data(), DWORD(buffer.size()), &read, NULL) && read != 0)
        out.write(buffer.data(), read);
    out.close();
    if (!out) {
        output_.Error(target.u8string() + ": cannot write the copy of the backup components document: " +
                      std::strerror(errno));
        return false;
    }
    output_.Document()["backupComponentsCopy"] = target.u8string();
    return true;
}

int Backup::WriteManifest()
{
    if (!CopyDocument())
        return kExitStepFailed;
    const double rate = elapsed_ > 0 ? double(copiedBytes_) / elapsed_ : 0;
    nlohmann::json totals = {{"files", fileCount_},
                             {"folders", entries_.size() - fileCount_},
                             {"bytes", copiedBytes_},
                             {"elapsedSeconds", elapsed_},
                             {"bytesPerSecond", uint64_t(rate)}};
    nlohmann::json manifest = {{"formatVersion", kManifestFormat},
                               {"snapshotSetId", session_->SnapshotSetId()},
                               {"volumes", VolumesJson(volumes_)},
                               {"totals", totals},
                               {"files", records_}};
    // Written aside and renamed: a manifest is there whole or not at all.
    manifestPath_ = destination_ / "manifest.json";
    const fs::path partial = destination_ / "manifest.json.partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << manifest.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        out.close();
        if (!out) {
            output_.Error(partial.u8string() + ": cannot write the manifest: " + std::strerror(errno));
            std::error_code ignored;
            fs::remove(partial, ignored);
            return kExitStepFailed;
        }
    }
    std::error_code error;
    fs::rename(partial, manifestPath_, error);
    if (error) {
        output_.Error(manifestPath_.u8string() + ": cannot write the manifest: " + error.message());
        return kExitStepFailed;
    }
    nlohmann::json &document = output_.Document();
    document["files"] = records_;
    document["totals"] = totals;
    document["manifest"] = manifestPath_.u8string();
    return kExitSuccess;
}

int Backup::Finish(int exitCode)
{
    if (session_ && !session_->End(exitCode == kExitSuccess) && exitCode == kExitSuccess)
        exitCode = kExitWarnings;
    if (exitCode == kExitSuccess || exitCode == kExitWarnings) {
        const double rate = elapsed_ > 0 ? double(copiedBytes_) / elapsed_ : 0;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", elapsed_);
        output_.Line("Backed up " + std::to_string(fileCount_) + " files (" + HumanSize(copiedBytes_) + ") from " +
                     std::to_string(volumes_.size()) + " volumes into " + destination_.u8string() + " in " + seconds +
                     " (" + HumanSize(uint64_t(rate)) + "/s)");
        output_.Line("Manifest " + manifestPath_.u8string());
    }
    return output_.Finish(exitCode);
}

} // namespace

int RunBackup(const BackupOptions &options, Output &output)
{
    Backup backup(options, output);
    using Step = int (Backup::*)();
    static const struct {
        const char *name;
        Step run;
    } kSteps[] = {
        {"check and canonicalise the paths", &Backup::CheckPaths},
        {"check the destination", &Backup::CheckDestination},
        {"add the paths to the snapshot set", &Backup::AddToSnapshotSet},
        {"take the snapshot", &Backup::TakeSnapshot},
        {"list the files in the shadow copies", &Backup::ListFiles},
        {"copy", &Backup::Copy},
        {"write the manifest", &Backup::WriteManifest},
    };
    for (const auto &step : kSteps) {
        if (int exitCode = (backup.*step.run)()) {
            output.Document()["failedStep"] = step.name;
            return backup.Finish(exitCode);
        }
    }
    return backup.Finish(kExitSuccess);
}

} // namespace winclass
