// winclass restore BACKUPDIR: what `winclass backup` wrote, put back through the library's
// restore session as the client's recover program drives it: the folder checked whole
// first, then the session on the saved documents, each writer's restore information, the
// selection, pre-restore, the files written back, post-restore and every restored
// writer's state.
#include "commands.h"
#include "paths.h"
#include "plan.h"
#include "platform.h"
#include "session.h"
#include "sha256.h"

#include <libwinclass/csv.h>
#include <libwinclass/restore.h>
#include <liblocal/local.h>
#include <vssrequester/vsscr.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace winclass {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The manifest layout this command reads, as the backup writes it.
const int kManifestFormat = 3;
const size_t kTextBytes = 1024;
// The library's messages for a writer whose metadata document was not loaded, and for a
// writer it does not know.
const int kMetadataNotLoaded = 115359;
const int kUnknownWriter = 115354;
// The attributes SetFileAttributesW sets; the others belong to the file system.
const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

const char *const kMethodNames[] = {"VSS_RME_UNDEFINED",
                                    "VSS_RME_RESTORE_IF_NOT_THERE",
                                    "VSS_RME_RESTORE_IF_CAN_REPLACE",
                                    "VSS_RME_STOP_RESTORE_START",
                                    "VSS_RME_RESTORE_TO_ALTERNATE_LOCATION",
                                    "VSS_RME_RESTORE_AT_REBOOT",
                                    "VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE",
                                    "VSS_RME_CUSTOM",
                                    "VSS_RME_RESTORE_STOP_START"};
const char *const kWriterRestoreNames[] = {"VSS_WRE_UNDEFINED", "VSS_WRE_NEVER", "VSS_WRE_IF_REPLACE_FAILS",
                                           "VSS_WRE_ALWAYS"};

template <size_t N>
std::string NameOf(const char *const (&names)[N], int value)
{
    return value >= 0 && size_t(value) < N ? names[value] : "(" + std::to_string(value) + ")";
}

WCHAR Upper(WCHAR c) { return c >= 'a' && c <= 'z' ? WCHAR(c - 'a' + 'A') : c; }

bool SameText(const wstr &a, const wstr &b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](WCHAR x, WCHAR y) { return Upper(x) == Upper(y); });
}

wstr Wide(const std::string &text)
{
    wstr wide;
    Utf8ToWide(text, &wide);
    return wide;
}

std::string Narrow(const WCHAR *text) { return text ? Shown(text) : std::string(); }

wstr WithSeparator(wstr folder)
{
    if (folder.empty() || folder.back() != '\\')
        folder += '\\';
    return folder;
}

// A restore-side chain, the library's to release.
struct RestoreChainRelease {
    void operator()(vsscr_filedesc *chain) const { vsscr_free_filedesc_struct(0, chain); }
};
using RestoreChain = std::unique_ptr<vsscr_filedesc, RestoreChainRelease>;

// vsscr_get_comp_info's nodes: each chain goes back to the library, the nodes and
// component records (the library's new'd objects, texts new[]) are deleted here.
struct ComponentInfoRelease {
    void operator()(vsscr_compinfo *node) const
    {
        while (node != nullptr) {
            vsscr_compinfo *next = node->next;
            vsscr_free_filedesc_struct(0, node->files);
            vsscr_free_filedesc_struct(0, node->database_files);
            vsscr_free_filedesc_struct(0, node->database_log_files);
            if (node->component != nullptr) {
                delete[] node->component->name;
                delete[] node->component->caption;
                delete[] node->component->logical_path;
                delete node->component;
            }
            delete node;
            node = next;
        }
    }
};
using ComponentInfo = std::unique_ptr<vsscr_compinfo, ComponentInfoRelease>;

// One file specification of a writer: a component's files, an exclude, or a mapping.
struct FileSpec {
    wstr path;  // folder, with its trailing backslash
    wstr filespec;
    bool recursive = false;
    wstr alternate;  // mappings only

    // The file is this specification's: in its folder (or below, recursive), and its name
    // matches.
    bool Holds(const wstr &file) const
    {
        const size_t separator = file.find_last_of('\\');
        if (separator == wstr::npos)
            return false;
        const wstr folder = WithSeparator(file.substr(0, separator)), base = WithSeparator(path);
        const bool inFolder =
            SameText(folder, base) || (recursive && folder.size() > base.size() && SameText(folder.substr(0, base.size()), base));
        return inFolder && SpecMatches(filespec, file.substr(separator + 1));
    }
    json Json() const
    {
        json spec = {{"path", Shown(path)}, {"filespec", Shown(filespec)}, {"recursive", recursive}};
        if (!alternate.empty())
            spec["alternatePath"] = Shown(alternate);
        return spec;
    }
};

void AppendSpecs(const vsscr_filedesc *chain, std::vector<FileSpec> *specs)
{
    for (; chain != nullptr; chain = chain->next)
        specs->push_back({WithSeparator(chain->path ? wstr(chain->path) : wstr()),
                          chain->filespec ? wstr(chain->filespec) : wstr(W("*")), chain->recursive != 0,
                          chain->has_alternate && chain->alternate_path ? wstr(chain->alternate_path) : wstr()});
}

struct Component {
    std::string name, logicalPath, label;  // label: "logical path\name", as the backup names it
    bool inBackup = false;                 // the backup took it (the manifest lists it)
    bool selected = false;
    std::string why;
    vsscr_writercomponent *record = nullptr;  // in the writer's component information
    std::vector<FileSpec> specs;              // files, database files, log files
};

struct Writer {
    std::string name;
    std::string metadata;  // relative to the backup folder
    bool selected = false, whole = false;
    std::string why;
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    std::string service, userProcedure;
    unsigned int rebootRequired = 0, usageType = 0;
    std::vector<Component> components;
    std::vector<FileSpec> excludes, alternates;
    ComponentInfo info;
    std::string state;  // after post-restore
    bool stable = false;
};

struct File {
    wstr livePath, destination;
    fs::path copy;
    bool folder = false;
    uint64_t size = 0;
    std::string sha256;
    DWORD attributes = 0;
    FILETIME lastWrite = {};
    bool timed = false;
    int writer = -1;  // into the writers; -1 for a path of the file-system part
    bool restore = true;
    std::string why;
};

class Restore {
public:
    Restore(const RestoreOptions &options, Output &output) : options_(options), output_(output) {}
    ~Restore();

    // The steps, in order; each answers an exit code, and the first that is not success
    // ends the restore.
    int CheckFolder();
    int CheckTarget();
    int OpenSession();
    int ReadWriters();
    int Plan();
    int ShowPlan();
    int CheckSharedVolumes();
    int Select();
    int PreRestore();
    int WriteFiles();
    int PostRestore();
    int WriterStates();
    int Finish(int exitCode);

private:
    // The failure's one line; Refused answers the exit code, Failed false.
    int Refused(const std::string &text, int exitCode = kExitBadInput);
    int CheckBackup();
    bool Failed(const std::string &text);
    bool ReadManifest(json *manifest);
    bool CheckCopy(const json &record, File *file);
    bool SelectComponents();
    bool PlaceOnHost(const fs::path &source, const wstr &target);
    int WriteBack(const File &file, json *record);
    json PlanJson() const;

    const RestoreOptions &options_;
    Output &output_;
    fs::path folder_;
    json manifest_;
    std::vector<Writer> writers_;
    std::vector<File> files_;
    wstr target_;            // --to, canonical; empty for the original places
    wstr hostFolder_;        // where the saved documents are put for the library
    std::vector<wstr> placed_;  // those documents, deleted at the end
    bool sessionOpen_ = false, preRestored_ = false;
    std::vector<std::pair<std::string, std::string>> selections_;  // writer, component ("" whole)
    std::vector<json> alternateLocations_;
    std::vector<std::string> notices_;  // what the writers ask that the command does not do
    std::vector<std::pair<std::string, std::string>> excluded_;  // kept out of the backup: path, by whose list
    uint64_t fileCount_ = 0, totalBytes_ = 0, writtenBytes_ = 0;
    double elapsed_ = 0;
    json restored_ = json::array();
};

Restore::~Restore()
{
    if (sessionOpen_)
        vsscr_uninit_recover();
    for (const wstr &path : placed_)
        DeleteFileW(path.c_str());
    if (!hostFolder_.empty()) {
        RemoveDirectoryW((hostFolder_ + W("writers")).c_str());
        RemoveDirectoryW(hostFolder_.c_str());
    }
}

int Restore::Refused(const std::string &text, int exitCode)
{
    output_.Error(text);
    return exitCode;
}

bool Restore::Failed(const std::string &text)
{
    output_.Error(text);
    return false;
}

bool Restore::ReadManifest(json *manifest)
{
    const fs::path path = folder_ / "manifest.json";
    const std::string shown = path.u8string();
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        return Failed(shown + ": missing: not a folder that winclass backup wrote");
    std::ifstream in(path, std::ios::binary);
    try {
        *manifest = json::parse(in);
    } catch (const json::exception &failure) {
        return Failed(shown + ": truncated or damaged: " + failure.what());
    }
    if (!manifest->is_object() || manifest->value("formatVersion", 0) != kManifestFormat)
        return Failed(shown + ": not a manifest of format " + std::to_string(kManifestFormat));
    if (!(*manifest)["files"].is_array() || !manifest->value("writers", json::array()).is_array())
        return Failed(shown + ": truncated or damaged: it has no list of files and writers");
    return true;
}

// A file record of the manifest, and its copy as the backup wrote it: there, and the
// same size and SHA-256.
bool Restore::CheckCopy(const json &record, File *file)
{
    const std::string path = record.value("path", "");
    file->folder = record.value("kind", "") == "folder";
    std::string error;
    if (path.empty() || !Utf8ToWide(path, &file->livePath) || !CopyLocation(folder_, file->livePath, &file->copy, &error))
        return Failed((folder_ / "manifest.json").u8string() + ": a file record without a usable path " + path);
    file->attributes = record.value("attributes", DWORD(0));
    file->timed = TimeFromText(record.value("lastWriteTime", ""), &file->lastWrite);
    if (file->folder)
        return true;
    file->size = record.value("size", uint64_t(0));
    file->sha256 = record.value("sha256", "");
    std::ifstream in(file->copy, std::ios::binary);
    if (!in)
        return Failed(file->copy.u8string() + ": the copy of " + path + " is missing");
    Sha256 digest;
    std::vector<char> buffer(1024 * 1024);
    uint64_t size = 0;
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
        digest.Update(buffer.data(), size_t(in.gcount()));
        size += uint64_t(in.gcount());
    }
    if (size != file->size || digest.HexDigest() != file->sha256)
        return Failed(file->copy.u8string() + ": the copy of " + path +
                      " does not match its SHA-256 in the manifest (damaged or changed since the backup)");
    return true;
}

int Restore::CheckFolder()
{
    // A field of the wrong type is a damaged manifest, like one that does not parse.
    try {
        return CheckBackup();
    } catch (const json::exception &failure) {
        return Refused((folder_ / "manifest.json").u8string() + ": damaged: " + failure.what());
    }
}

int Restore::CheckBackup()
{
    folder_ = fs::u8path(options_.folder);
    std::error_code error;
    if (!fs::is_directory(folder_, error))
        return Refused(options_.folder + ": no such backup folder");
    if (!ReadManifest(&manifest_))
        return kExitBadInput;
    const std::string host = manifest_.value("hostName", ""), here = HostName();
    if (!host.empty() && here.empty()) {
        output_.Error("this host's name cannot be read to check the backup is its own: " + ErrorText(GetLastError()));
        return kExitStepFailed;
    }
    if (!host.empty() && !SameText(Wide(host), Wide(here)))
        return Refused(options_.folder + ": a backup of host " + host + ", not of this host " + here +
                       "; restore it on " + host);
    if (!fs::is_regular_file(folder_ / "backup-components.xml", error))
        return Refused((folder_ / "backup-components.xml").u8string() + ": missing: the restore needs the backup "
                                                                        "components document");
    for (const json &record : manifest_["files"]) {
        File file;
        if (!CheckCopy(record, &file))
            return kExitBadInput;
        if (!file.folder) {
            ++fileCount_;
            totalBytes_ += file.size;
        }
        files_.push_back(std::move(file));
    }
    // The writers the backup took, each with its metadata document and its components'
    // files.
    for (const json &taken : manifest_.value("writers", json::array())) {
        if (!taken.value("taken", false))
            continue;
        Writer writer;
        writer.name = taken.value("name", "");
        writer.metadata = taken.value("metadata", "");
        if (writer.name.empty() || writer.metadata.empty() || !fs::is_regular_file(folder_ / fs::u8path(writer.metadata), error))
            return Refused((folder_ / fs::u8path(writer.metadata)).u8string() + ": the metadata document of writer " +
                          writer.name + " is missing");
        for (const json &component : taken.value("components", json::array())) {
            Component entry;
            entry.name = component.value("name", "");
            entry.logicalPath = component.value("logicalPath", "");
            entry.label = entry.logicalPath.empty() ? entry.name : entry.logicalPath + "\\" + entry.name;
            entry.inBackup = true;
            for (const json &named : component.value("files", json::array()))
                for (File &file : files_)
                    if (file.writer < 0 && !file.folder && SameText(file.livePath, Wide(named.value("path", ""))))
                        file.writer = int(writers_.size());
            writer.components.push_back(std::move(entry));
        }
        writers_.push_back(std::move(writer));
    }
    // --component WRITER\COMPONENT must name what the backup holds.
    for (const std::string &named : options_.components) {
        const size_t separator = named.find('\\');
        const std::string writerName = named.substr(0, separator);
        const std::string componentName = separator == std::string::npos ? std::string() : named.substr(separator + 1);
        auto writer = std::find_if(writers_.begin(), writers_.end(),
                                   [&](const Writer &w) { return SameText(Wide(w.name), Wide(writerName)); });
        if (writer == writers_.end() || componentName.empty()) {
            std::string held;
            for (const Writer &w : writers_)
                held += (held.empty() ? "" : ", ") + w.name;
            output_.Error("--component " + named + ": " +
                          (componentName.empty() ? "give it as WRITER\\COMPONENT"
                                                 : "the backup holds no writer " + writerName +
                                                       (held.empty() ? " (it holds none)" : " (it holds " + held + ")")));
            return kExitBadInput;
        }
        auto component = std::find_if(writer->components.begin(), writer->components.end(), [&](const Component &c) {
            return SameText(Wide(c.name), Wide(componentName)) || SameText(Wide(c.label), Wide(componentName));
        });
        if (component == writer->components.end()) {
            output_.Error("--component " + named + ": writer " + writer->name + " has no component " + componentName +
                          " in this backup");
            return kExitBadInput;
        }
        component->selected = true;
    }
    for (const json &excluded : manifest_.value("excluded", json::array()))
        excluded_.emplace_back(excluded.at("path").get<std::string>(), excluded.at("excludedBy").get<std::string>());
    if (options_.authoritative && writers_.empty()) {
        output_.Error("--authoritative asks a writer for an authoritative restore; this backup holds no writer");
        return kExitBadInput;
    }
    json &document = output_.Document();
    document["backupFolder"] = folder_.u8string();
    document["hostName"] = host;
    document["saveType"] = manifest_.value("saveType", 3);
    document["saveTypeName"] = manifest_.value("saveTypeName", "");
    return kExitSuccess;
}

int Restore::CheckTarget()
{
    if (options_.target.empty())
        return kExitSuccess;
    wstr given;
    std::vector<WCHAR> full(MAX_PATH + 1, 0);
    DWORD length = 0;
    if (Utf8ToWide(options_.target, &given))
        length = GetFullPathNameW(given.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size() || full[1] != ':')
        return Refused("--to " + options_.target + ": not a folder path of the host (X:\\Folder)");
    target_ = wstr(full.data(), length);
    const wstr root = target_.substr(0, 3);
    if (GetDriveTypeW(root.c_str()) != DRIVE_FIXED)
        return Refused("--to " + options_.target + ": " + Shown(root) + " is not a fixed local volume of the host");
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return Refused("--to " + options_.target + ": exists and is not a folder");
    output_.Document()["alternateFolder"] = Shown(target_);
    return kExitSuccess;
}

// A document of the backup folder, copied onto the host for the library, which opens it
// there.
bool Restore::PlaceOnHost(const fs::path &source, const wstr &target)
{
    std::ifstream in(source, std::ios::binary);
    FileHandle out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    if (out.get() == INVALID_HANDLE_VALUE) {
        out.release();
        return Failed(Shown(target) + ": cannot put " + source.u8string() + " on the host: " + ErrorText(GetLastError()));
    }
    placed_.push_back(target);
    std::vector<char> buffer(64 * 1024);
    while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
        DWORD written = 0;
        if (!::WriteFile(out.get(), buffer.data(), DWORD(in.gcount()), &written, NULL) || written != DWORD(in.gcount()))
            return Failed(Shown(target) + ": cannot put " + source.u8string() + " on the host: " +
                          ErrorText(GetLastError()));
    }
    return true;
}

int Restore::OpenSession()
{
    WCHAR temporary[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH)
        return Refused("the host's temporary folder is unknown: " + ErrorText(GetLastError()), kExitStepFailed);
    hostFolder_ = WithSeparator(temporary) + W("winclass-restore-") + Wide(std::to_string(GetCurrentProcessId())) + W("\\");
    if (!CreateDirectoryW(hostFolder_.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Refused(Shown(hostFolder_) + ": " + ErrorText(GetLastError()), kExitStepFailed);
    CreateDirectoryW((hostFolder_ + W("writers")).c_str(), NULL);
    const wstr document = hostFolder_ + W("backup-components.xml");
    if (!PlaceOnHost(folder_ / "backup-components.xml", document))
        return kExitStepFailed;
    sessionOpen_ = true;
    if (struct vo_msg *failure = vsscr_init_recover(Shown(document).c_str())) {
        output_.LibraryMessage(failure, (folder_ / "backup-components.xml").u8string() +
                                            ": the backup components document does not open a restore");
        return kExitBadInput;
    }
    for (size_t i = 0; i < writers_.size(); ++i) {
        Writer &writer = writers_[i];
        const fs::path saved = folder_ / fs::u8path(writer.metadata);
        const wstr placed = hostFolder_ + W("writers\\") + Wide(std::to_string(i)) + W(".xml");
        if (!PlaceOnHost(saved, placed))
            return kExitStepFailed;
        if (struct vo_msg *failure = vsscr_load_writer_xml(Shown(placed).c_str())) {
            output_.LibraryMessage(failure, saved.u8string() + ": the metadata document of writer " + writer.name +
                                                " does not load");
            return kExitBadInput;
        }
        // The document must be this writer's, and the backup's: the session knows the writer
        // by name only once its metadata is loaded, and the backup components document must
        // hold its components.
        vsscr_filedesc *mappings = nullptr;
        struct vo_msg *loaded = vsscr_get_alternate_location_map(writer.name.c_str(), &mappings);
        RestoreChain owned(mappings);
        const int number = loaded != nullptr ? msg_number(loaded) : 0;
        const bool ownDocument = number != kMetadataNotLoaded && number != kUnknownWriter;
        msg_free(loaded);
        std::shared_ptr<CVssCrWriter> known;
        wstr name = Wide(writer.name);
        CVssCr::Instance()->GetWriterByName(name, known);
        const bool inBackup = known && std::any_of(known->components.begin(), known->components.end(),
                                                   [](const std::shared_ptr<CVssWriterComp> &c) { return c->inBackupDocument; });
        if (!ownDocument || !inBackup) {
            output_.Error(saved.u8string() + ": " +
                          (!ownDocument ? "not the metadata document of writer " + writer.name
                                        : "the metadata document of writer " + writer.name +
                                              " was not saved by this backup: its backup components document holds "
                                              "no component of that writer"));
            return kExitBadInput;
        }
    }
    return kExitSuccess;
}

int Restore::ReadWriters()
{
    for (Writer &writer : writers_) {
        const char *name = writer.name.c_str();
        char service[kTextBytes] = "", procedure[kTextBytes] = "";
        if (struct vo_msg *failure = vsscr_get_writer_restore_method_info(name, &writer.method, sizeof service, service,
                                                                          sizeof procedure, procedure,
                                                                          &writer.writerRestore, &writer.rebootRequired)) {
            output_.LibraryMessage(failure, "reading the restore method of writer " + writer.name);
            return kExitStepFailed;
        }
        writer.service = service;
        writer.userProcedure = procedure;
        if (struct vo_msg *failure = vsscr_get_writer_usage_type(name, &writer.usageType)) {
            output_.LibraryMessage(failure, "reading the usage type of writer " + writer.name);
            return kExitStepFailed;
        }
        unsigned int count = 0;
        vsscr_compinfo head = {};
        struct vo_msg *failure = vsscr_get_comp_info(name, &count, &head, &writer.method);
        writer.info.reset(vsscr_compinfo_first(&head));
        if (failure != nullptr) {
            output_.LibraryMessage(failure, "reading the components of writer " + writer.name);
            return kExitStepFailed;
        }
        for (vsscr_compinfo *node = writer.info.get(); node != nullptr; node = node->next) {
            if (node->component == nullptr)
                continue;
            const std::string componentName = Narrow(node->component->name), path = Narrow(node->component->logical_path);
            auto known = std::find_if(writer.components.begin(), writer.components.end(), [&](const Component &c) {
                return SameText(Wide(c.name), Wide(componentName)) && SameText(Wide(c.logicalPath), Wide(path));
            });
            if (known == writer.components.end()) {
                Component left;
                left.name = componentName;
                left.logicalPath = path;
                left.label = path.empty() ? componentName : path + "\\" + componentName;
                left.why = "not in this backup";
                known = writer.components.insert(writer.components.end(), std::move(left));
            }
            known->record = node->component;
            AppendSpecs(node->files, &known->specs);
            AppendSpecs(node->database_files, &known->specs);
            AppendSpecs(node->database_log_files, &known->specs);
        }
        vsscr_filedesc *chain = nullptr;
        if (struct vo_msg *failure = vsscr_get_writer_exclude_list(0, name, &chain)) {
            output_.LibraryMessage(failure, "reading the exclude list of writer " + writer.name);
            return kExitStepFailed;
        }
        RestoreChain excludes(chain);
        AppendSpecs(excludes.get(), &writer.excludes);
        chain = nullptr;
        if (struct vo_msg *failure = vsscr_get_alternate_location_map(name, &chain)) {
            output_.LibraryMessage(failure, "reading the alternate location map of writer " + writer.name);
            return kExitStepFailed;
        }
        RestoreChain alternates(chain);
        AppendSpecs(alternates.get(), &writer.alternates);
    }
    return kExitSuccess;
}

int Restore::Plan()
{
    const bool some = !options_.components.empty();
    for (Writer &writer : writers_) {
        bool any = false, all = true;
        for (Component &component : writer.components) {
            if (!component.inBackup) {
                all = false;
                continue;
            }
            if (!some)
                component.selected = true;
            if (component.record == nullptr) {
                component.selected = false;
                component.why = "its writer's metadata has no such component";
            } else if (component.selected) {
                component.why = some ? "--component names it" : "the backup holds it";
            } else {
                component.why = "--component names other components";
            }
            any = any || component.selected;
            all = all && component.selected;
        }
        writer.selected = any;
        writer.whole = any && all && !some;
        writer.why = !any ? "--component names none of its components"
                     : writer.whole ? "the whole writer: every component the backup holds"
                                    : "the components --component names";
    }
    for (File &file : files_) {
        if (file.folder) {
            file.restore = file.writer < 0 && !some;
            file.destination = target_.empty() ? file.livePath : HostLocation(target_, file.livePath);
            continue;
        }
        const Writer *writer = file.writer >= 0 ? &writers_[size_t(file.writer)] : nullptr;
        const Component *owner = nullptr;
        if (writer)
            for (const Component &component : writer->components)
                if (component.selected && std::any_of(component.specs.begin(), component.specs.end(),
                                                      [&](const FileSpec &spec) { return spec.Holds(file.livePath); }))
                    owner = &component;
        file.destination = file.livePath;
        if (writer == nullptr) {
            file.restore = !some;
            file.why = some ? "a path of the file-system backup; --component restores components only"
                            : "a path of the file-system backup";
        } else if (!writer->selected || (owner == nullptr && some)) {
            file.restore = false;
            file.why = "its component is not selected";
        } else {
            file.why = "writer " + writer->name + (owner ? ", component " + owner->label : std::string());
            for (const FileSpec &exclude : writer->excludes)
                if (exclude.Holds(file.livePath)) {
                    file.restore = false;
                    file.why = "the exclude list of writer " + writer->name + " names it";
                }
            if (file.restore && writer->method == VSS_RME_RESTORE_TO_ALTERNATE_LOCATION && target_.empty())
                for (const FileSpec &mapping : writer->alternates)
                    if (mapping.Holds(file.livePath)) {
                        const wstr folder = WithSeparator(mapping.path);
                        file.destination = WithSeparator(mapping.alternate) + file.livePath.substr(folder.size());
                        file.why += ": the writer's alternate location";
                        break;
                    }
        }
        if (!target_.empty())
            file.destination = HostLocation(target_, file.livePath);
        if (file.restore && writer && writer->method == VSS_RME_RESTORE_IF_NOT_THERE &&
            GetFileAttributesW(file.destination.c_str()) != INVALID_FILE_ATTRIBUTES) {
            file.restore = false;
            file.why = "writer " + writer->name + " restores only files that are not there (VSS_RME_RESTORE_IF_NOT_THERE)";
        }
    }
    for (const Writer &writer : writers_) {
        if (!writer.selected)
            continue;
        if (writer.rebootRequired)
            notices_.push_back("writer " + writer.name + " asks for a reboot after its restore (" +
                           NameOf(kMethodNames, writer.method) + "); the command writes its files in place now");
        if ((writer.method == VSS_RME_STOP_RESTORE_START || writer.method == VSS_RME_RESTORE_STOP_START) &&
            !writer.service.empty())
            notices_.push_back("writer " + writer.name + " restores with its service " + writer.service +
                           " stopped; the command does not stop services");
        if (writer.method == VSS_RME_CUSTOM)
            notices_.push_back("writer " + writer.name + " has a custom restore method" +
                           (writer.userProcedure.empty() ? std::string() : " (" + writer.userProcedure + ")") +
                           "; the command restores its files and runs no procedure of its own");
    }
    return kExitSuccess;
}

json Restore::PlanJson() const
{
    json writers = json::array(), files = json::array();
    for (const Writer &writer : writers_) {
        json components = json::array(), excludes = json::array(), alternates = json::array();
        for (const Component &component : writer.components)
            components.push_back({{"name", component.name},
                                  {"logicalPath", component.logicalPath},
                                  {"selected", component.selected},
                                  {"why", component.why}});
        for (const FileSpec &spec : writer.excludes)
            excludes.push_back(spec.Json());
        for (const FileSpec &spec : writer.alternates)
            alternates.push_back(spec.Json());
        writers.push_back({{"name", writer.name},
                           {"selected", writer.selected},
                           {"whole", writer.whole},
                           {"why", writer.why},
                           {"metadata", writer.metadata},
                           {"restoreMethod", NameOf(kMethodNames, writer.method)},
                           {"restoreService", writer.service},
                           {"userProcedure", writer.userProcedure},
                           {"writerRestore", NameOf(kWriterRestoreNames, writer.writerRestore)},
                           {"rebootRequired", writer.rebootRequired != 0},
                           {"usageType", writer.usageType},
                           {"restoreTarget", target_.empty() ? "original" : "alternate"},
                           {"components", components},
                           {"excludes", excludes},
                           {"alternateLocationMap", alternates}});
    }
    for (const File &file : files_)
        files.push_back({{"path", Shown(file.livePath)},
                         {"destination", Shown(file.destination)},
                         {"kind", file.folder ? "folder" : "file"},
                         {"restore", file.restore},
                         {"why", file.why}});
    json excluded = json::array();
    for (const auto &file : excluded_)
        excluded.push_back({{"path", file.first}, {"excludedBy", file.second}});
    return {{"writers", writers},
            {"files", files},
            {"excludedFromBackup", excluded},
            {"authoritative", options_.authoritative}};
}

int Restore::ShowPlan()
{
    output_.Line("Restore of " + folder_.u8string() + " (" + manifest_.value("saveTypeName", "") + " backup of " +
                 manifest_.value("hostName", std::string("this host")) + ")" +
                 (target_.empty() ? std::string() : " into " + Shown(target_)) +
                 (options_.dryRun ? "; a dry run: nothing is selected or written" : "") + ":");
    for (const Writer &writer : writers_) {
        output_.Line(std::string(writer.selected ? "  writer   " : "  left out ") + writer.name + " (" + writer.why + ")");
        output_.Line("    restore method " + NameOf(kMethodNames, writer.method) + ", writer restore " +
                     NameOf(kWriterRestoreNames, writer.writerRestore) +
                     (writer.rebootRequired ? ", reboot required" : "") + ", restore target " +
                     (target_.empty() ? "original" : "alternate " + Shown(target_)));
        for (const Component &component : writer.components)
            output_.Line(std::string(component.selected ? "    component " : "    left out  ") + component.label + ": " +
                         component.why);
        for (const FileSpec &spec : writer.excludes)
            output_.Line("    excludes " + Shown(spec.path) + Shown(spec.filespec) + (spec.recursive ? " (recursive)" : ""));
        for (const FileSpec &spec : writer.alternates)
            output_.Line("    alternate location " + Shown(spec.path) + Shown(spec.filespec) + " -> " +
                         Shown(spec.alternate));
    }
    for (const File &file : files_)
        if (!file.folder)
            output_.Line(std::string(file.restore ? "  file " : "  left ") + Shown(file.livePath) +
                         (file.restore && file.destination != file.livePath ? " -> " + Shown(file.destination)
                                                                            : std::string()) +
                         " (" + file.why + ")");
    // What the writers' exclude lists kept out of the backup stays as it is on the host.
    for (const auto &excluded : excluded_)
        output_.Line("  excluded " + excluded.first + " (the exclude list of " + excluded.second + "; not in the backup)");
    for (const std::string &notice : notices_)
        output_.Notice(notice);
    output_.Document()["plan"] = PlanJson();
    return kExitSuccess;
}

// A Cluster Shared Volume in maintenance mode is restored only on the node that owns it:
// the library's check refuses the restore here before anything is selected or written.
int Restore::CheckSharedVolumes()
{
    std::vector<wstr> checked;
    for (const File &file : files_) {
        if (!file.restore)
            continue;
        wstr volume = VolumeOfPath(file.destination);
        if (volume.size() > 3 && volume.back() == '\\')
            volume.pop_back();  // a CSV is named by its path, without the root's backslash
        if (std::find(checked.begin(), checked.end(), volume) != checked.end())
            continue;
        checked.push_back(volume);
        const std::string name = Shown(volume);
        if (vo_msg *refusal = check_for_CSV_type_and_state(name.c_str())) {
            output_.LibraryMessage(refusal, "a restore of " + name + " must run on the node that owns it");
            return kExitStepFailed;
        }
    }
    return kExitSuccess;
}

int Restore::Select()
{
    for (Writer &writer : writers_) {
        if (!writer.selected)
            continue;
        const char *name = writer.name.c_str();
        const int authoritative = options_.authoritative ? 1 : 0;
        if (writer.whole) {
            if (struct vo_msg *failure = vsscr_add_snapcomponent_for_restore(name, nullptr, 1, authoritative)) {
                output_.LibraryMessage(failure, "selecting writer " + writer.name + " for restore");
                return kExitStepFailed;
            }
            selections_.emplace_back(writer.name, "");
        }
        for (Component &component : writer.components) {
            if (!component.selected)
                continue;
            if (!writer.whole) {
                if (struct vo_msg *failure =
                        vsscr_add_snapcomponent_for_restore(name, component.record, 0, authoritative)) {
                    output_.LibraryMessage(failure, "selecting " + writer.name + "\\" + component.label + " for restore");
                    return kExitStepFailed;
                }
                selections_.emplace_back(writer.name, component.label);
            }
            if (target_.empty())
                continue;
            // Every file specification of the component goes under the alternate folder.
            for (const FileSpec &spec : component.specs) {
                wstr path = spec.path, filespec = spec.filespec, alternate = HostLocation(target_, spec.path);
                vsscr_filedesc mapping = {};
                mapping.recursive = spec.recursive ? 1 : 0;
                mapping.has_alternate = 1;
                mapping.path = &path[0];
                mapping.path_length = path.size() + 1;
                mapping.filespec = &filespec[0];
                mapping.filespec_length = filespec.size() + 1;
                mapping.alternate_path = &alternate[0];
                mapping.alternate_length = alternate.size() + 1;
                if (struct vo_msg *failure = vsscr_add_alternate_location(name, component.record, &mapping)) {
                    output_.LibraryMessage(failure, "mapping " + Shown(path) + Shown(filespec) + " of " + writer.name +
                                                        " to " + Shown(alternate));
                    return kExitStepFailed;
                }
                FileSpec added = spec;
                added.alternate = alternate;
                json record = added.Json();
                record["writer"] = writer.name;
                record["component"] = component.label;
                alternateLocations_.push_back(record);
            }
        }
    }
    json selections = json::array();
    for (const auto &selection : selections_)
        selections.push_back({{"writer", selection.first}, {"component", selection.second}});
    output_.Document()["selections"] = selections;
    output_.Document()["alternateLocations"] = alternateLocations_;
    return kExitSuccess;
}

int Restore::PreRestore()
{
    if (struct vo_msg *failure = vsscr_pre_restore()) {
        output_.LibraryMessage(failure, "raising the pre-restore event");
        return kExitStepFailed;
    }
    preRestored_ = true;
    return kExitSuccess;
}

// Makes a host folder and the folders above it.
DWORD MakeHostFolders(const wstr &folder)
{
    size_t at = folder.compare(0, 4, W("\\\\?\\")) == 0 ? folder.find('\\', 4) + 1 : 3;
    while (at != wstr::npos && at <= folder.size()) {
        const size_t end = folder.find('\\', at);
        const wstr prefix = folder.substr(0, end);
        if (!prefix.empty() && GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !CreateDirectoryW(prefix.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
            return GetLastError();
        at = end == wstr::npos ? end : end + 1;
    }
    return 0;
}

int Restore::WriteBack(const File &file, json *record)
{
    const std::string shown = Shown(file.destination);
    const size_t separator = file.destination.find_last_of('\\');
    if (DWORD error = MakeHostFolders(file.destination.substr(0, separator))) {
        output_.Error(shown + ": cannot make its folder: " + ErrorText(error));
        return kExitStepFailed;
    }
    // A read-only, hidden or system file refuses CREATE_ALWAYS: its attributes go first.
    const DWORD existing = GetFileAttributesW(file.destination.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0)
        SetFileAttributesW(file.destination.c_str(), FILE_ATTRIBUTE_NORMAL);
    Sha256 digest;
    {
        FileHandle out(CreateFileW(file.destination.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, NULL));
        if (out.get() == INVALID_HANDLE_VALUE) {
            out.release();
            output_.Error(shown + ": cannot write it: " + ErrorText(GetLastError()));
            return kExitStepFailed;
        }
        std::ifstream in(file.copy, std::ios::binary);
        std::vector<char> buffer(1024 * 1024);
        while (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0) {
            const DWORD size = DWORD(in.gcount());
            DWORD written = 0;
            if (!::WriteFile(out.get(), buffer.data(), size, &written, NULL) || written != size) {
                output_.Error(shown + ": cannot write it: " + ErrorText(GetLastError()));
                return kExitStepFailed;
            }
            digest.Update(buffer.data(), size);
            writtenBytes_ += size;
        }
        // On the handle that wrote the bytes, so that closing it moves the time no more.
        if (file.timed && !SetFileTime(out.get(), NULL, NULL, &file.lastWrite)) {
            output_.Error(shown + ": cannot set its last-write time: " + ErrorText(GetLastError()));
            return kExitStepFailed;
        }
    }
    const std::string sha256 = digest.HexDigest();
    if (sha256 != file.sha256) {
        output_.Error(file.copy.u8string() + ": the copy changed while it was restored to " + shown);
        return kExitStepFailed;
    }
    const DWORD attributes = file.attributes & kSettableAttributes;
    if (!SetFileAttributesW(file.destination.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL)) {
        output_.Error(shown + ": cannot set its attributes: " + ErrorText(GetLastError()));
        return kExitStepFailed;
    }
    (*record)["size"] = file.size;
    (*record)["sha256"] = sha256;
    return kExitSuccess;
}

int Restore::WriteFiles()
{
    Progress progress(output_, StandardOutputIsTerminal(), fileCount_, totalBytes_, "restored");
    int code = kExitSuccess;
    for (const File &file : files_) {
        if (!file.restore)
            continue;
        json record = {{"path", Shown(file.livePath)}, {"destination", Shown(file.destination)},
                       {"kind", file.folder ? "folder" : "file"}};
        if (file.folder) {
            if (DWORD error = MakeHostFolders(file.destination)) {
                output_.Error(Shown(file.destination) + ": cannot make the folder: " + ErrorText(error));
                code = kExitStepFailed;
                break;
            }
        } else if ((code = WriteBack(file, &record)) != kExitSuccess) {
            break;
        } else {
            progress.FileDone(Shown(file.destination), file.size);
        }
        restored_.push_back(record);
    }
    progress.Finish();
    elapsed_ = progress.ElapsedSeconds();
    output_.Document()["restored"] = restored_;
    return code;
}

int Restore::PostRestore()
{
    if (struct vo_msg *failure = vsscr_post_restore()) {
        output_.LibraryMessage(failure, "raising the post-restore event");
        return kExitStepFailed;
    }
    return kExitSuccess;
}

// Each restored writer's state after post-restore: the library reports a state it cannot
// read, the command also one that is readable and not stable.
int Restore::WriterStates()
{
    int code = kExitSuccess;
    json states = json::array();
    for (Writer &writer : writers_) {
        if (!writer.selected)
            continue;
        std::string message;
        if (struct vo_msg *failure = vsscr_post_restore_writer_status(writer.name.c_str())) {
            message = msg_text(failure);
            while (!message.empty() && message.back() == '\n')
                message.pop_back();
            output_.LibraryMessage(failure);
        }
        std::shared_ptr<CVssCrWriter> known;
        wstr name = Wide(writer.name);
        _VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
        long result = CVssCr::Instance()->GetWriterByName(name, known);
        if (result == 0 && known)
            result = known->GetStatus(&state, true);
        writer.state = WriterStateName(int(state));
        writer.stable = message.empty() && result >= 0 && state == VSS_WS_STABLE;
        if (!writer.stable) {
            if (message.empty())
                message = "writer " + writer.name + " is not stable after the restore: " + writer.state +
                          (result < 0 ? " (" + HresultText(result) + ")" : std::string());
            output_.Error("writer " + writer.name + " is not stable after the restore: " + message);
            code = kExitStepFailed;
        }
        output_.Line("  writer " + writer.name + ": " + writer.state);
        states.push_back({{"name", writer.name}, {"state", writer.state}, {"stable", writer.stable},
                          {"rebootRequired", writer.rebootRequired != 0}});
    }
    output_.Document()["writers"] = states;
    return code;
}

int Restore::Finish(int exitCode)
{
    if (sessionOpen_) {
        vsscr_uninit_recover();
        sessionOpen_ = false;
    }
    if (!options_.dryRun && exitCode == kExitSuccess) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f s", elapsed_);
        output_.Line("Restored " + std::to_string(restored_.size()) + " files and folders (" + HumanSize(writtenBytes_) +
                     ") from " + folder_.u8string() + " in " + seconds);
    }
    output_.Document()["totals"] = {{"restored", restored_.size()}, {"bytes", writtenBytes_}, {"elapsedSeconds", elapsed_}};
    return output_.Finish(exitCode);
}

} // namespace

int RunRestore(const RestoreOptions &options, Output &output)
{
    Restore restore(options, output);
    using Step = int (Restore::*)();
    // Nothing on the host changes before the pre-restore: a dry run stops at the plan.
    static const struct {
        const char *name;
        Step run;
        bool dryRun;
    } kSteps[] = {
        {"check the backup folder", &Restore::CheckFolder, true},
        {"check the alternate folder", &Restore::CheckTarget, true},
        {"open the restore session", &Restore::OpenSession, true},
        {"read the writers' restore information", &Restore::ReadWriters, true},
        {"plan the restore", &Restore::Plan, true},
        {"show the plan", &Restore::ShowPlan, true},
        {"check Cluster Shared Volumes", &Restore::CheckSharedVolumes, true},
        {"select for restore", &Restore::Select, false},
        {"pre-restore", &Restore::PreRestore, false},
        {"write the files", &Restore::WriteFiles, false},
        {"post-restore", &Restore::PostRestore, false},
        {"read the writers' states", &Restore::WriterStates, false},
    };
    for (const auto &step : kSteps) {
        if (options.dryRun && !step.dryRun)
            continue;
        if (int exitCode = (restore.*step.run)()) {
            output.Document()["failedStep"] = step.name;
            return restore.Finish(exitCode);
        }
    }
    return restore.Finish(kExitSuccess);
}

} // namespace winclass
