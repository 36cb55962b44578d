// winclass backup [PATH...] --to DIR [--save-type N]: a backup from snapshot to manifest,
// as a list of named steps. A writer save type adds the save items of the writers the
// selection took: their components' files, their metadata documents.
#include "commands.h"
#include "paths.h"
#include "plan.h"
#include "platform.h"
#include "session.h"
#include "sha256.h"

#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <libwinclass/saveitems.h>
#include <vssrequester/vsscr.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <set>
#include <system_error>
#include <thread>

namespace winclass {

namespace {

namespace fs = std::filesystem;

// The manifest's layout; raised when a field changes meaning or goes. 3: writers, their
// components and files, and the save type.
const int kManifestFormat = 3;

// The volume-list flag of the volume that holds the boot configuration store.
const uint32_t kBootStoreVolume = 0x20;

// How much of a file the copy reads at a time.
const size_t kCopyPiece = 4 << 20;

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
    int MoveSharedVolumesHere();
    int AddToSnapshotSet();
    int PlanWriters();
    int TakeSnapshot();
    int CheckWriters();
    int ListFiles();
    int ShowDryRun();
    int Copy();
    int WriteManifest();
    // Completion and the deletion of the snapshot set, whatever came before; the summary.
    int Finish(int exitCode);

    // Why the attempt that just failed may succeed when made again; empty when it would
    // fail the same way.
    std::string TransientCause() const;
    // Gives up the failed attempt before the next: its error becomes the retry's reason,
    // the snapshot set is deleted and what the attempt found is forgotten; then the wait.
    void Abandon(const char *step, const std::string &cause, int retry);

private:
    int ListFolder(const wstr &liveFolder, const wstr &shadowFolder);
    bool AddEntry(Entry entry);
    bool CopyFile(const Entry &file, nlohmann::json *record);
    bool CopyHostDocument(const wstr &source, const fs::path &target, const std::string &what);
    bool CopyDocument();
    bool CopyMetadata(nlohmann::json *writers);
    // A writer's folder as the plan reads it: live before the snapshot, else its copy.
    bool ReadFolder(const wstr &liveFolder, const wstr &volume, wstr *readFolder, std::string *error);
    nlohmann::json PlanJson() const;

    const BackupOptions &options_;
    Output &output_;
    std::vector<SavePath> savePaths_;
    fs::path destination_;
    std::unique_ptr<BackupSession> session_;
    std::vector<VolumeInSet> volumes_;
    std::vector<Entry> entries_;
    std::set<wstr> filePaths_;  // upper case: a file named by a writer and a path is copied once
    WriterPlan plan_;
    std::vector<std::pair<std::string, std::string>> addedVolumes_;  // volume, why
    uint64_t fileCount_ = 0, totalBytes_ = 0, copiedBytes_ = 0;
    double elapsed_ = 0;
    nlohmann::json records_ = nlohmann::json::array();
    fs::path manifestPath_;
    Progress *progress_ = nullptr;  // while Copy runs
    std::unique_ptr<char[]> buffers_[2];  // the copy's, made once: not per file, not zero-filled
    fs::path madeFolder_;                 // the folder the last copy went into, known to exist
    CsvHold sharedVolumes_;         // returned to their coordinators by Finish, always
    std::string writerCause_;       // a selected writer failed the snapshot with a transient error
    nlohmann::json retries_ = nlohmann::json::array();
};

int Backup::CheckPaths()
{
    const bool writers = IsWriterSaveType(options_.saveType);
    std::string wrong;
    if (!writers && options_.paths.empty())
        wrong = "a file-system backup (save type 3) needs the paths to save; a writer save type (0, 1, 2 or 4) "
                "backs up without them";
    else if (!writers && !options_.writer.empty())
        wrong = "--writer " + options_.writer + " needs a writer save type (0, 1, 2 or 4), not save type " +
                std::to_string(options_.saveType);
    else if (options_.destination.empty() && !options_.dryRun)
        wrong = "--to is required (or --dry-run, which writes nothing)";
    if (!wrong.empty()) {
        output_.Error(wrong);
        return kExitBadInput;
    }
    output_.Document()["saveType"] = options_.saveType;
    output_.Document()["saveTypeName"] = SaveTypeName(options_.saveType);
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
    if (options_.destination.empty())
        return kExitSuccess;
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

int Backup::MoveSharedVolumesHere()
{
    // A Cluster Shared Volume is backed up on the node that coordinates it.
    for (const SavePath &savePath : savePaths_)
        if (!sharedVolumes_.Take(Shown(savePath.volume), output_))
            return kExitStepFailed;
    return kExitSuccess;
}

int Backup::AddToSnapshotSet()
{
    session_.reset(new BackupSession(output_));
    // A plan writes nothing, the live files' archive attributes included.
    if (!session_->Open(options_.saveType, options_.archiveMark && !options_.dryRun))
        return kExitStepFailed;
    if (IsWriterSaveType(options_.saveType)) {
        // Every writer's class among the decisions, for the plan's reasons.
        vsscr_classify_writers();
        // The system-state selection takes the components on volumes already in the set.
        if (options_.saveType <= 2)
            for (const auto &volume : SystemStateVolumes()) {
                if (struct vo_msg *failure = vsscr_add_savepath(volume.first.c_str())) {
                    output_.LibraryMessage(failure, "adding " + volume.first + " to the snapshot set");
                    return kExitStepFailed;
                }
                addedVolumes_.push_back(volume);
            }
    }
    for (const SavePath &savePath : savePaths_)
        if (!session_->AddSavePath(savePath.path, savePath.volume))
            return kExitStepFailed;
    return session_->Select() ? kExitSuccess : kExitStepFailed;
}

bool Backup::ReadFolder(const wstr &liveFolder, const wstr &volume, wstr *readFolder, std::string *error)
{
    const VolumeInSet *member = FindVolume(volumes_, volume);
    // Replicated folders: the save type names the writer alone, so its volumes join here.
    if (member == nullptr && options_.saveType == 4 && !session_->Snapshot()) {
        const wstr path = volume.size() > 3 && volume.back() == '\\' ? volume.substr(0, volume.size() - 1) : volume;
        if (!session_->AddSavePath(path, volume) || !session_->Volumes(&volumes_)) {
            *error = "its volume " + Shown(volume) + " could not join the snapshot set";
            return false;
        }
        addedVolumes_.emplace_back(Shown(volume), "a replicated folder of the selected writer lies on it");
        member = FindVolume(volumes_, volume);
    }
    if (member == nullptr) {
        *error = "its volume " + Shown(volume) + " is not in the snapshot set";
        return false;
    }
    if (session_->Snapshot() && member->shadowPath.empty()) {
        // The boot store's volume joins the set as the ASR writer's, but VSS takes no copy
        // of its file system (FAT32): its files can only be read live.
        if ((member->flags & kBootStoreVolume) == 0) {
            *error = "its volume " + Shown(volume) + " has no shadow copy in the snapshot set";
            return false;
        }
        const std::string notice = member->shown + ": the boot store's volume has no shadow copy (VSS takes none "
                                                   "of its file system); its files are read from the live volume";
        if (std::find(plan_.notices.begin(), plan_.notices.end(), notice) == plan_.notices.end())
            plan_.notices.push_back(notice);
    }
    if (!session_->Snapshot() || member->shadowPath.empty()) {
        *readFolder = liveFolder;
        return true;
    }
    wstr shadow;
    Utf8ToWide(member->shadowPath, &shadow);
    const wstr folder = liveFolder + W("\\");
    *readFolder = shadow + folder.substr(std::min(folder.size(), volume.size()));
    return true;
}

int Backup::PlanWriters()
{
    if (!IsWriterSaveType(options_.saveType))
        return kExitSuccess;
    if (!session_->Volumes(&volumes_))
        return kExitStepFailed;
    std::string error;
    const int code = BuildWriterPlan(
        options_.writer,
        [this](const wstr &folder, const wstr &volume, wstr *read, std::string *why) {
            return ReadFolder(folder, volume, read, why);
        },
        &plan_, &error);
    if (code != kExitSuccess)
        output_.Error(error);
    nlohmann::json added = nlohmann::json::array();
    for (const auto &volume : addedVolumes_)
        added.push_back({{"volume", volume.first}, {"why", volume.second}});
    output_.Document()["addedVolumes"] = added;
    return code;
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

// A writer that failed while the snapshot was made leaves files that are not consistent:
// the backup stops rather than copy them, unless trying again may help.
int Backup::CheckWriters()
{
    for (const PlannedWriter &writer : plan_.writers) {
        if (!writer.taken)
            continue;
        wstr name;
        Utf8ToWide(writer.name, &name);
        std::shared_ptr<CVssCrWriter> known;
        _VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
        long result = CVssCr::Instance()->GetWriterByName(name, known);
        if (result == 0 && known)
            result = known->GetStatus(&state, true);
        else if (result == 0)
            result = VSS_E_OBJECT_NOT_FOUND;
        if (result >= 0 && state != VSS_WS_UNKNOWN && state < VSS_WS_FAILED_AT_IDENTIFY)
            continue;
        const std::string failure = "writer " + writer.name + " failed while the snapshot was made: " +
                                    WriterStateName(int(state)) + ", " + HresultText(result);
        if (IsTransientVssError(result))
            writerCause_ = failure;
        output_.Error(failure + "; its files in the shadow copy are not consistent");
        return kExitStepFailed;
    }
    return kExitSuccess;
}

std::string Backup::TransientCause() const
{
    if (!writerCause_.empty())
        return writerCause_;
    return session_ ? session_->TransientFailure() : std::string();
}

void Backup::Abandon(const char *step, const std::string &cause, int retry)
{
    nlohmann::json &document = output_.Document();
    retries_.push_back({{"retry", retry},
                        {"failedStep", step},
                        {"reason", cause},
                        {"error", document.value("error", std::string())},
                        {"waitSeconds", options_.retryWaitSeconds}});
    document.erase("error");
    document.erase("messageNumber");
    document["retries"] = retries_;
    output_.Line("Retry " + std::to_string(retry) + " of " + std::to_string(options_.retries) + " in " +
                 std::to_string(options_.retryWaitSeconds) + " s: '" + step + "' failed for a transient cause: " +
                 cause);
    if (session_)
        session_->End(false);
    session_.reset();
    volumes_.clear();
    entries_.clear();
    filePaths_.clear();
    plan_ = WriterPlan();
    addedVolumes_.clear();
    writerCause_.clear();
    std::this_thread::sleep_for(std::chrono::seconds(options_.retryWaitSeconds));
}

bool Backup::AddEntry(Entry entry)
{
    if (!entry.folder) {
        const std::string excludedBy = plan_.ExcludedBy(entry.livePath);
        if (!excludedBy.empty()) {
            plan_.excluded.emplace_back(Shown(entry.livePath), excludedBy);
            return true;
        }
        wstr key = entry.livePath;
        std::transform(key.begin(), key.end(), key.begin(), [](WCHAR c) { return c >= 'a' && c <= 'z' ? WCHAR(c - 32) : c; });
        if (!filePaths_.insert(key).second)
            return true;
    }
    std::string error;
    if (!CopyLocation(destination_, entry.livePath, &entry.copy, &error)) {
        output_.Error(error);
        return false;
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
    // The files a writer names are those its shadow copy holds; the plan read them live.
    if (IsWriterSaveType(options_.saveType) && session_->Snapshot())
        if (int code = PlanWriters())
            return code;
    if (IsWriterSaveType(options_.saveType) && session_->Snapshot()) {
        ShowPlan(output_, plan_);
        output_.Document()["plan"] = PlanJson();
    }
    for (const PlannedFile &file : plan_.files) {
        Entry entry;
        entry.livePath = file.livePath;
        entry.shadowPath = file.readPath;
        entry.size = file.size;
        entry.attributes = file.attributes;
        entry.lastWrite = file.lastWrite;
        if (!AddEntry(entry))
            return kExitStepFailed;
    }
    for (const SavePath &savePath : savePaths_) {
        Mapping mapping;
        if (options_.dryRun) {
            mapping.shadowPath = savePath.path;
        } else if (!session_->Map(savePath.path, &mapping)) {
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
    // Sequential scan: the reads below go front to back, in large pieces.
    FileHandle source(CreateFileW(file.shadowPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL));
    if (source.get() == INVALID_HANDLE_VALUE) {
        source.release();
        output_.Error(Shown(file.livePath) + ": cannot open it in the shadow copy (" + Shown(file.shadowPath) +
                      "): " + ErrorText(GetLastError()));
        return false;
    }
    // Files come folder by folder: the folder is made once for all of its files.
    std::error_code error;
    if (file.copy.parent_path() != madeFolder_) {
        fs::create_directories(file.copy.parent_path(), error);
        if (!error)
            madeFolder_ = file.copy.parent_path();
    }
    PlainFile out;
    std::string why;
    if (error || !out.Create(file.copy, &why)) {
        output_.Error(file.copy.u8string() + ": cannot write: " + (error ? error.message() : why));
        return false;
    }
    if (!buffers_[0])
        for (auto &buffer : buffers_)
            buffer.reset(new char[kCopyPiece]);
    // A file of more than one piece is hashed on a second thread, a piece behind the reads
    // and writes; the hash of a piece ends before its buffer is read into again.
    Sha256 digest;
    std::future<void> hashing;
    uint64_t total = 0;
    for (int turn = 0;; turn ^= 1) {
        char *buffer = buffers_[turn].get();
        DWORD read = 0;
        const bool ok = ReadFile(source.get(), buffer, DWORD(kCopyPiece), &read, NULL) != FALSE;
        const DWORD readError = GetLastError();
        if (hashing.valid())
            hashing.get();
        if (!ok) {
            output_.Error(Shown(file.livePath) + ": cannot read it from the shadow copy (" + Shown(file.shadowPath) +
                          "): " + ErrorText(readError));
            return false;
        }
        if (read == 0)
            break;
        if (read == kCopyPiece || total > 0) {
            try {
                hashing = std::async(std::launch::async, [&digest, buffer, read] { digest.Update(buffer, read); });
            } catch (const std::system_error &) {
                digest.Update(buffer, read);  // no thread to be had: hashed here
            }
        } else {
            digest.Update(buffer, read);
        }
        const bool written = out.Write(buffer, read, &why);
        if (!written) {
            if (hashing.valid())
                hashing.get();
            output_.Error(file.copy.u8string() + ": cannot write: " + why);
            return false;
        }
        total += read;
        if (progress_)
            progress_->Bytes(read);
        if (read < kCopyPiece)
            break;  // a synchronous read of a disk file comes back short only at its end
    }
    if (hashing.valid())
        hashing.get();
    if (!out.Close(&why)) {
        output_.Error(file.copy.u8string() + ": cannot write: " + why);
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
        records_.push_back(std::move(record));
    }
    progress.Finish();
    elapsed_ = progress.ElapsedSeconds();
    progress_ = nullptr;
    return code;
}

// A copy of the backup components document beside the manifest: the one the library
// wrote lives in a per-process folder that does not outlast the command.
// A document the library wrote on the host (what: for the error), copied beside the
// manifest: the library's copies live in a per-process folder that does not outlast the
// command.
bool Backup::CopyHostDocument(const wstr &source, const fs::path &target, const std::string &what)
{
    FileHandle in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL));
    if (in.get() == INVALID_HANDLE_VALUE) {
        in.release();
        output_.Error(Shown(source) + ": cannot open " + what + ": " + ErrorText(GetLastError()));
        return false;
    }
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    std::vector<char> buffer(64 * 1024);
    DWORD read = 0;
    while (out && ReadFile(in.get(), buffer.data(), DWORD(buffer.size()), &read, NULL) && read != 0)
        out.write(buffer.data(), read);
    out.close();
    if (!out || error) {
        output_.Error(target.u8string() + ": cannot write the copy of " + what + ": " + SystemText(error));
        return false;
    }
    return true;
}

bool Backup::CopyDocument()
{
    const fs::path target = destination_ / "backup-components.xml";
    if (!CopyHostDocument(session_->DocumentPath(), target, "the backup components document"))
        return false;
    output_.Document()["backupComponentsCopy"] = target.u8string();
    return true;
}

wstr Utf8Or(const std::string &text)
{
    wstr wide;
    return Utf8ToWide(text, &wide) ? wide : wstr(W("writer"));
}

// A name that is a file name on every system: a writer's name may hold any character.
std::string FileNameFor(const std::string &name)
{
    std::string safe = name;
    for (char &c : safe)
        if (std::strchr("<>:\"/\\|?*", c) != nullptr || (unsigned char)c < 32)
            c = '_';
    return safe.empty() || safe[0] == '.' ? "_" + safe : safe;
}

// Each selected writer's metadata document to DIR/writers/<name>.xml: a restore loads it
// before it selects anything.
bool Backup::CopyMetadata(nlohmann::json *writers)
{
    for (size_t i = 0; i < plan_.writers.size(); ++i) {
        const PlannedWriter &writer = plan_.writers[i];
        if (!writer.taken)
            continue;
        wstr source;
        std::unique_ptr<const WCHAR, void (*)(const WCHAR *)> saved(nullptr, [](const WCHAR *path) { DeleteFileW(path); });
        if (writer.byName) {
            // No save item carries its document: the library writes it on request, into the
            // host's temporary folder, from where it is copied like the others.
            WCHAR temporary[MAX_PATH + 1] = {};
            wstr name;
            const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
            if (length > 0 && length <= MAX_PATH && Utf8ToWide(writer.name, &name)) {
                source = wstr(temporary) + W("winclass-") + Utf8Or(FileNameFor(writer.name)) + W(".xml");
                vsscr_save_writer_to_xml(name.c_str(), nullptr, source.c_str());
                saved.reset(source.c_str());
            }
        } else if (!writer.metadataPath.empty()) {
            Utf8ToWide(writer.metadataPath, &source);
        }
        if (source.empty()) {
            output_.Error("writer " + writer.name + ": the library handed out no metadata document");
            return false;
        }
        const std::string relative = "writers/" + FileNameFor(writer.name) + ".xml";
        if (!CopyHostDocument(source, destination_ / fs::u8path(relative), "the metadata document of " + writer.name))
            return false;
        (*writers)[i]["metadata"] = relative;
    }
    return true;
}

nlohmann::json Backup::PlanJson() const
{
    nlohmann::json excluded = nlohmann::json::array();
    for (const auto &file : plan_.excluded)
        excluded.push_back({{"path", file.first}, {"excludedBy", file.second}});
    return {{"saveType", options_.saveType},
            {"saveTypeName", SaveTypeName(options_.saveType)},
            {"writers", WritersJson(plan_, nullptr)},
            {"excluded", excluded},
            {"notices", plan_.notices}};
}

int Backup::ShowDryRun()
{
    output_.Line("Plan for save type " + std::to_string(options_.saveType) + " (" + SaveTypeName(options_.saveType) +
                 "); no snapshot is taken and nothing is written:");
    for (const auto &volume : addedVolumes_)
        output_.Line("  volume " + volume.first + " (" + volume.second + ")");
    ShowPlan(output_, plan_);
    nlohmann::json plan = PlanJson(), files = nlohmann::json::array();
    // The writers' files come first, and are listed under their components.
    for (size_t i = plan_.files.size(); i < entries_.size(); ++i) {
        const Entry &entry = entries_[i];
        files.push_back({{"path", Shown(entry.livePath)}, {"kind", entry.folder ? "folder" : "file"}, {"size", entry.size}});
        if (!entry.folder)
            output_.Line("  path file " + Shown(entry.livePath) + "  " + HumanSize(entry.size));
    }
    plan["files"] = files;
    plan["totals"] = {{"files", fileCount_}, {"bytes", totalBytes_}};
    if (options_.archiveMark)
        output_.Notice("--archive-mark is not applied in a dry run: the backup marks the files of the selected "
                       "transacted-database components for archive when it selects them.");
    if (options_.saveType == 0)
        output_.Notice("The snapshot of a save type 0 backup runs the system-state pass once more, over the volumes "
                       "then in the set; no snapshot is taken here, so what that pass adds is not shown.");
    output_.Line("Would back up " + std::to_string(fileCount_) + " files (" + HumanSize(totalBytes_) + ")");
    output_.Document()["plan"] = plan;
    return kExitSuccess;
}

int Backup::WriteManifest()
{
    if (!CopyDocument())
        return kExitStepFailed;
    nlohmann::json writers = WritersJson(plan_, &records_);
    if (!CopyMetadata(&writers))
        return kExitStepFailed;
    const double rate = elapsed_ > 0 ? double(copiedBytes_) / elapsed_ : 0;
    nlohmann::json totals = {{"files", fileCount_},
                             {"folders", entries_.size() - fileCount_},
                             {"bytes", copiedBytes_},
                             {"elapsedSeconds", elapsed_},
                             {"bytesPerSecond", uint64_t(rate)}};
    nlohmann::json plan = PlanJson();
    nlohmann::json manifest = {{"formatVersion", kManifestFormat},
                               {"hostName", HostName()},
                               {"saveType", options_.saveType},
                               {"saveTypeName", SaveTypeName(options_.saveType)},
                               {"snapshotSetId", session_->SnapshotSetId()},
                               {"volumes", VolumesJson(volumes_)},
                               {"totals", totals},
                               {"writers", writers},
                               {"excluded", plan["excluded"]},
                               {"notices", plan["notices"]},
                               {"files", std::move(records_)}};
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
    document["files"] = std::move(manifest["files"]);  // one list of the files in memory, not two
    document["writers"] = writers;
    document["totals"] = totals;
    document["manifest"] = manifestPath_.u8string();
    return kExitSuccess;
}

int Backup::Finish(int exitCode)
{
    if (session_ && !session_->End(exitCode == kExitSuccess && !options_.dryRun) && exitCode == kExitSuccess)
        exitCode = kExitWarnings;
    if (!sharedVolumes_.ReturnAll(output_) && exitCode == kExitSuccess)
        exitCode = kExitWarnings;
    if (!options_.dryRun && (exitCode == kExitSuccess || exitCode == kExitWarnings)) {
        const double rate = elapsed_ > 0 ? double(copiedBytes_) / elapsed_ : 0;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", elapsed_);
        output_.Line("Backed up " + std::to_string(fileCount_) + " files (" + HumanSize(copiedBytes_) + ") from " +
                     std::to_string(volumes_.size()) + " volumes into " + destination_.u8string() + " in " + seconds +
                     " (" + HumanSize(uint64_t(rate)) + "/s)");
        output_.Line("Manifest " + manifestPath_.u8string());
    }
    if (!retries_.empty())
        output_.Line("The snapshot was tried " + std::to_string(retries_.size() + 1) + " times; the last try " +
                     (exitCode == kExitSuccess || exitCode == kExitWarnings ? "succeeded" : "failed too"));
    return output_.Finish(exitCode);
}

} // namespace

int RunBackup(const BackupOptions &options, Output &output)
{
    Backup backup(options, output);
    using Step = int (Backup::*)();
    // A dry run stops where the snapshot would be taken, lists the live files and shows
    // the plan.
    static const struct {
        const char *name;
        Step run;
        bool backup, dryRun;
        bool retried;  // a transient failure starts again from the first such step
    } kSteps[] = {
        {"check and canonicalise the paths", &Backup::CheckPaths, true, true, false},
        {"check the destination", &Backup::CheckDestination, true, true, false},
        {"move the Cluster Shared Volumes to this node", &Backup::MoveSharedVolumesHere, true, false, false},
        {"add the paths to the snapshot set and select the writers", &Backup::AddToSnapshotSet, true, true, true},
        {"plan the writers' files", &Backup::PlanWriters, true, true, true},
        {"take the snapshot", &Backup::TakeSnapshot, true, false, true},
        {"check the writers", &Backup::CheckWriters, true, false, true},
        {"list the files", &Backup::ListFiles, true, true, false},
        {"show the plan", &Backup::ShowDryRun, false, true, false},
        {"copy", &Backup::Copy, true, false, false},
        {"write the manifest", &Backup::WriteManifest, true, false, false},
    };
    const size_t kStepCount = sizeof kSteps / sizeof kSteps[0];
    size_t firstRetried = 0;
    while (!kSteps[firstRetried].retried)
        ++firstRetried;
    int retry = 0;
    for (size_t index = 0; index < kStepCount; ++index) {
        const auto &step = kSteps[index];
        if (!(options.dryRun ? step.dryRun : step.backup))
            continue;
        if (int exitCode = (backup.*step.run)()) {
            const std::string cause = step.retried ? backup.TransientCause() : std::string();
            if (!cause.empty() && retry < options.retries) {
                backup.Abandon(step.name, cause, ++retry);
                index = firstRetried - 1;
                continue;
            }
            output.Document()["failedStep"] = step.name;
            return backup.Finish(exitCode);
        }
    }
    return backup.Finish(kExitSuccess);
}

} // namespace winclass
