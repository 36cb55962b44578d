// The writers of the host description's "writers" section, and the service's process-wide
// records: requests, snapshots, live objects, faults.
#include "vssinternal.h"

#include "../src/internal.h"
#include "winsim/hostmodel.h"
#include "winsim/shadow.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace winsim {
namespace vss {

std::string Narrow(const text &value) { return ToUtf8(value); }
text Widen(const std::string &value) { return FromUtf8(value); }

text GuidText(const GUID &id)
{
    WCHAR braced[40] = {};
    StringFromGUID2(id, braced, 40);
    text result(braced + 1, 36);
    for (auto &c : result)
        if (c >= u'A' && c <= u'F')
            c = WCHAR(c - u'A' + u'a');
    return result;
}

bool ParseGuid(const text &value, GUID *id)
{
    text braced = value;
    if (braced.size() == 36)
        braced = u"{" + braced + u"}";
    if (braced.size() != 38)
        return false;
    return SUCCEEDED(CLSIDFromString(braced.c_str(), id));
}

bool SameText(const text &a, const text &b) { return EqualNoCase(a, b); }

HRESULT PutBstr(const text &value, BSTR *out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(value.data(), UINT(value.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

WCHAR *TaskMemCopy(const text &value)
{
    auto *copy = static_cast<WCHAR *>(CoTaskMemAlloc((value.size() + 1) * sizeof(WCHAR)));
    if (copy) {
        std::copy(value.begin(), value.end(), copy);
        copy[value.size()] = 0;
    }
    return copy;
}

std::atomic<long> &LiveObjectCount()
{
    static std::atomic<long> count{0};
    return count;
}

bool OperationFault(const char *method, HRESULT *hr)
{
    Fault fault;
    if (!TakeFault(method, u"", &fault))
        return false;
    *hr = fault.hresult;
    return true;
}

bool SubjectFault(const char *method, const text &subject, HRESULT *hr)
{
    Fault fault;
    if (subject.empty() || !TakeFault(method, subject, &fault))
        return false;
    *hr = fault.hresult;
    return true;
}

namespace {

using json = nlohmann::json;

// A section that does not fit the format: the path to the field and what is wrong.
struct SectionError {
    std::string where;
    std::string what;
};

struct EnumName {
    const char *name;
    int value;
};

const EnumName kUsageTypes[] = {{"VSS_UT_UNDEFINED", 0}, {"VSS_UT_BOOTABLESYSTEMSTATE", 1},
                                {"VSS_UT_SYSTEMSERVICE", 2}, {"VSS_UT_USERDATA", 3}, {"VSS_UT_OTHER", 4}};
const EnumName kSourceTypes[] = {{"VSS_ST_UNDEFINED", 0}, {"VSS_ST_TRANSACTEDDB", 1},
                                 {"VSS_ST_NONTRANSACTEDDB", 2}, {"VSS_ST_OTHER", 3}};
const EnumName kRestoreMethods[] = {{"VSS_RME_UNDEFINED", 0},
                                    {"VSS_RME_RESTORE_IF_NOT_THERE", 1},
                                    {"VSS_RME_RESTORE_IF_CAN_REPLACE", 2},
                                    {"VSS_RME_STOP_RESTORE_START", 3},
                                    {"VSS_RME_RESTORE_TO_ALTERNATE_LOCATION", 4},
                                    {"VSS_RME_RESTORE_AT_REBOOT", 5},
                                    {"VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE", 6},
                                    {"VSS_RME_CUSTOM", 7},
                                    {"VSS_RME_RESTORE_STOP_START", 8}};
const EnumName kWriterRestores[] = {{"VSS_WRE_UNDEFINED", 0}, {"VSS_WRE_NEVER", 1},
                                    {"VSS_WRE_IF_REPLACE_FAILS", 2}, {"VSS_WRE_ALWAYS", 3}};
const EnumName kComponentTypes[] = {{"VSS_CT_DATABASE", 1}, {"VSS_CT_FILEGROUP", 2}};
const EnumName kRestoreTargets[] = {{"VSS_RT_UNDEFINED", 0}, {"VSS_RT_ORIGINAL", 1}, {"VSS_RT_ALTERNATE", 2},
                                    {"VSS_RT_DIRECTED", 3}, {"VSS_RT_ORIGINAL_LOCATION", 4}};
const EnumName kWriterStates[] = {{"VSS_WS_UNKNOWN", 0},
                                  {"VSS_WS_STABLE", 1},
                                  {"VSS_WS_WAITING_FOR_FREEZE", 2},
                                  {"VSS_WS_WAITING_FOR_THAW", 3},
                                  {"VSS_WS_WAITING_FOR_POST_SNAPSHOT", 4},
                                  {"VSS_WS_WAITING_FOR_BACKUP_COMPLETE", 5},
                                  {"VSS_WS_FAILED_AT_IDENTIFY", 6},
                                  {"VSS_WS_FAILED_AT_PREPARE_BACKUP", 7},
                                  {"VSS_WS_FAILED_AT_PREPARE_SNAPSHOT", 8},
                                  {"VSS_WS_FAILED_AT_FREEZE", 9},
                                  {"VSS_WS_FAILED_AT_THAW", 10},
                                  {"VSS_WS_FAILED_AT_POST_SNAPSHOT", 11},
                                  {"VSS_WS_FAILED_AT_BACKUP_COMPLETE", 12},
                                  {"VSS_WS_FAILED_AT_PRE_RESTORE", 13},
                                  {"VSS_WS_FAILED_AT_POST_RESTORE", 14},
                                  {"VSS_WS_FAILED_AT_BACKUPSHUTDOWN", 15}};

// The phases in which a writer takes part, each answered by a failure state of its own.
const std::string kFailurePhases[] = {"GatherWriterMetadata", "PrepareForBackup", "DoSnapshotSet",
                                      "BackupComplete",       "PreRestore",       "PostRestore"};

class Reader {
public:
    Reader(const json &node, std::string where) : node_(node), where_(std::move(where)) {}

    [[noreturn]] void Fail(const std::string &field, const std::string &what) const
    {
        throw SectionError{where_ + (field.empty() ? "" : "." + field), what};
    }

    const json *Find(const char *field) const
    {
        auto at = node_.find(field);
        return at == node_.end() ? nullptr : &*at;
    }

    text Text(const char *field, bool required = false, const text &fallback = u"") const
    {
        const json *value = Find(field);
        if (!value) {
            if (required)
                Fail(field, "missing");
            return fallback;
        }
        if (!value->is_string())
            Fail(field, "not a string");
        return Widen(value->get<std::string>());
    }

    bool Flag(const char *field, bool fallback) const
    {
        const json *value = Find(field);
        if (!value)
            return fallback;
        if (!value->is_boolean())
            Fail(field, "not true or false");
        return value->get<bool>();
    }

    DWORD Number(const char *field, DWORD fallback) const
    {
        const json *value = Find(field);
        if (!value)
            return fallback;
        if (value->is_number_unsigned())
            return DWORD(value->get<unsigned long long>());
        if (value->is_number_integer())
            return DWORD(value->get<long long>());
        if (value->is_string()) {
            // HRESULTs read best in hex: "0x800423f3".
            const std::string digits = value->get<std::string>();
            char *end = nullptr;
            const unsigned long long parsed = std::strtoull(digits.c_str(), &end, 0);
            if (!digits.empty() && end && *end == 0 && parsed <= 0xffffffffull)
                return DWORD(parsed);
        }
        Fail(field, "not a number");
    }

    GUID Guid(const char *field) const
    {
        GUID id;
        if (!ParseGuid(Text(field, true), &id))
            Fail(field, "not a GUID");
        return id;
    }

    template <size_t N>
    int Enum(const char *field, const EnumName (&names)[N], int fallback) const
    {
        const json *value = Find(field);
        if (!value)
            return fallback;
        if (!value->is_string())
            Fail(field, "not a string");
        const std::string name = value->get<std::string>();
        for (const EnumName &entry : names)
            if (name == entry.name)
                return entry.value;
        Fail(field, "unknown value \"" + name + "\"");
    }

    std::vector<Reader> Items(const char *field) const
    {
        std::vector<Reader> items;
        const json *value = Find(field);
        if (!value)
            return items;
        if (!value->is_array())
            Fail(field, "not an array");
        for (size_t i = 0; i < value->size(); ++i) {
            if (!(*value)[i].is_object())
                throw SectionError{where_ + "." + field + "[" + std::to_string(i) + "]", "not an object"};
            items.emplace_back((*value)[i], where_ + "." + field + "[" + std::to_string(i) + "]");
        }
        return items;
    }

private:
    const json &node_;
    std::string where_;
};

std::vector<VssFileSpec> ReadFiles(const Reader &owner, const char *field, const char *alternateField)
{
    std::vector<VssFileSpec> files;
    for (const Reader &item : owner.Items(field)) {
        VssFileSpec file;
        file.path = item.Text("path", true);
        file.filespec = item.Text("filespec", true);
        file.recursive = item.Flag("recursive", false);
        file.alternateLocation = item.Text(alternateField);
        file.backupTypeMask = item.Number("backupTypeMask", file.backupTypeMask);
        files.push_back(file);
    }
    return files;
}

VssWriterModel ReadWriter(const Reader &in)
{
    VssWriterModel writer;
    writer.name = in.Text("name", true);
    if (writer.name.empty())
        in.Fail("name", "empty");
    writer.id = in.Guid("id");
    writer.instanceId = in.Guid("instanceId");
    writer.instanceName = in.Text("instanceName");
    writer.usage = in.Enum("usage", kUsageTypes, 0);
    writer.source = in.Enum("source", kSourceTypes, 0);
    writer.restoreMethod = in.Enum("restoreMethod", kRestoreMethods, 0);
    writer.restoreService = in.Text("restoreService");
    writer.userProcedure = in.Text("userProcedure");
    writer.writerRestore = in.Enum("writerRestore", kWriterRestores, 0);
    writer.rebootRequired = in.Flag("rebootRequired", false);
    writer.backupSchema = in.Number("backupSchema", 0);
    writer.alternateLocations = ReadFiles(in, "alternateLocations", "destination");
    writer.includeFiles = ReadFiles(in, "includeFiles", "alternateLocation");
    writer.excludeFiles = ReadFiles(in, "excludeFiles", "alternateLocation");
    writer.state = in.Enum("state", kWriterStates, 1);
    writer.lastError = HRESULT(in.Number("lastError", 0));
    writer.failsAt = Narrow(in.Text("failsAt"));
    if (!writer.failsAt.empty() &&
        std::find(std::begin(kFailurePhases), std::end(kFailurePhases), writer.failsAt) == std::end(kFailurePhases))
        in.Fail("failsAt", "unknown value \"" + writer.failsAt + "\"");
    writer.failsWith = HRESULT(in.Number("failsWith", DWORD(writer.failsWith)));
    for (const Reader &item : in.Items("components")) {
        VssComponentModel component;
        component.type = item.Enum("type", kComponentTypes, 0);
        if (component.type == 0)
            item.Fail("type", "missing");
        component.logicalPath = item.Text("logicalPath");
        component.name = item.Text("name", true);
        if (component.name.empty())
            item.Fail("name", "empty");
        component.caption = item.Text("caption");
        component.flags = item.Number("flags", 0);
        component.selectable = item.Flag("selectable", true);
        component.selectableForRestore = item.Flag("selectableForRestore", false);
        component.restoreMetadata = item.Flag("restoreMetadata", false);
        component.notifyOnBackupComplete = item.Flag("notifyOnBackupComplete", false);
        component.restoreTarget = item.Enum("restoreTarget", kRestoreTargets, 1);
        component.files = ReadFiles(item, "files", "alternateLocation");
        component.databaseFiles = ReadFiles(item, "databaseFiles", "alternateLocation");
        component.logFiles = ReadFiles(item, "logFiles", "alternateLocation");
        for (const VssComponentModel &other : writer.components)
            if (other.logicalPath == component.logicalPath && other.name == component.name)
                item.Fail("name", "a second component with this logical path and name");
        writer.components.push_back(component);
    }
    return writer;
}

struct HostWriters {
    std::mutex lock;
    unsigned generation = 0;
    bool loaded = false;
    bool valid = true;
    std::vector<VssWriterModel> writers;
};

HostWriters &TheHostWriters()
{
    static HostWriters *cache = new HostWriters;
    return *cache;
}

} // namespace

// The current host's writers, read again when another host became current. False when
// the section does not parse.
bool CurrentWriters(std::vector<VssWriterModel> *writers)
{
    HostWriters &cache = TheHostWriters();
    const Host &host = CurrentHost();
    std::lock_guard<std::mutex> guard(cache.lock);
    if (!cache.loaded || cache.generation != HostGeneration()) {
        cache.loaded = true;
        cache.generation = HostGeneration();
        cache.writers.clear();
        cache.valid = true;
        auto section = host.sections.find("writers");
        std::string error;
        if (section != host.sections.end() && !ParseVssWriters(section->second, &cache.writers, &error)) {
            cache.valid = false;
            std::fprintf(stderr, "winsim: the host's writers section does not load: %s\n", error.c_str());
        }
    }
    *writers = cache.writers;
    return cache.valid;
}

// ---- requests and snapshots ----

namespace {

struct Records {
    std::mutex lock;
    std::vector<VssRequest> requests;
    std::vector<VssSnapshotInfo> snapshots;
    unsigned snapshotGeneration = 0;
};

Records &TheRecords()
{
    static Records *records = new Records;
    return *records;
}

// Snapshots die with the host whose devices they were.
void ForgetSnapshotsOfOldHosts(Records &records)
{
    if (records.snapshotGeneration != HostGeneration()) {
        records.snapshotGeneration = HostGeneration();
        records.snapshots.clear();
    }
}

} // namespace

void RecordRequest(const VssRequest &request)
{
    Records &records = TheRecords();
    std::lock_guard<std::mutex> guard(records.lock);
    records.requests.push_back(request);
}

void AddSnapshot(const VssSnapshotInfo &snapshot)
{
    Records &records = TheRecords();
    std::lock_guard<std::mutex> guard(records.lock);
    ForgetSnapshotsOfOldHosts(records);
    records.snapshots.push_back(snapshot);
}

bool FindSnapshot(const GUID &snapshotId, VssSnapshotInfo *snapshot)
{
    Records &records = TheRecords();
    std::lock_guard<std::mutex> guard(records.lock);
    ForgetSnapshotsOfOldHosts(records);
    for (const VssSnapshotInfo &known : records.snapshots)
        if (known.snapshotId == snapshotId) {
            *snapshot = known;
            return true;
        }
    return false;
}

LONG RemoveSnapshots(const GUID &id, bool wholeSet)
{
    std::vector<VssSnapshotInfo> gone;
    {
        Records &records = TheRecords();
        std::lock_guard<std::mutex> guard(records.lock);
        ForgetSnapshotsOfOldHosts(records);
        for (auto at = records.snapshots.begin(); at != records.snapshots.end();) {
            if ((wholeSet ? at->snapshotSetId : at->snapshotId) == id) {
                gone.push_back(*at);
                at = records.snapshots.erase(at);
            } else {
                ++at;
            }
        }
    }
    for (const VssSnapshotInfo &snapshot : gone)
        DeleteShadowCopy(snapshot.device);
    return LONG(gone.size());
}

} // namespace vss

bool ParseVssWriters(const std::string &jsonText, std::vector<VssWriterModel> *writers, std::string *error)
{
    std::vector<VssWriterModel> parsed;
    try {
        const auto root = vss::json::parse(jsonText);
        if (!root.is_array())
            throw vss::SectionError{"writers", "not an array"};
        for (size_t i = 0; i < root.size(); ++i) {
            const std::string where = "writers[" + std::to_string(i) + "]";
            if (!root[i].is_object())
                throw vss::SectionError{where, "not an object"};
            parsed.push_back(vss::ReadWriter(vss::Reader(root[i], where)));
            for (size_t j = 0; j + 1 < parsed.size(); ++j)
                if (parsed[j].instanceId == parsed.back().instanceId)
                    throw vss::SectionError{where + ".instanceId", "the same as writers[" + std::to_string(j) + "]"};
        }
    } catch (const vss::SectionError &fault) {
        if (error)
            *error = fault.where + ": " + fault.what;
        return false;
    } catch (const std::exception &fault) {
        if (error)
            *error = std::string("writers: not JSON: ") + fault.what();
        return false;
    }
    if (writers)
        *writers = std::move(parsed);
    return true;
}

std::vector<VssWriterModel> HostVssWriters()
{
    std::vector<VssWriterModel> writers;
    vss::CurrentWriters(&writers);
    return writers;
}

std::vector<VssRequest> VssRequests()
{
    vss::Records &records = vss::TheRecords();
    std::lock_guard<std::mutex> guard(records.lock);
    return records.requests;
}

void ClearVssRequests()
{
    vss::Records &records = vss::TheRecords();
    std::lock_guard<std::mutex> guard(records.lock);
    records.requests.clear();
}

std::vector<VssSnapshotInfo> VssSnapshots()
{
    vss::Records &records = vss::TheRecords();
    std::lock_guard<std::mutex> guard(records.lock);
    vss::ForgetSnapshotsOfOldHosts(records);
    return records.snapshots;
}

size_t LiveVssObjects() { return size_t(vss::LiveObjectCount().load()); }

} // namespace winsim
