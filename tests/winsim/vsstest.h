// Shared pieces of the simulated shadow-copy service's tests: owners for COM pointers and
// BSTRs, a fixture on a fresh default host, and readers that turn what the COM interfaces
// answer back into the service's writer model, so it can be compared with the host's.
#pragma once

#include <platform/tvplatform.h>

#include <vsbackup.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/vss.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vsstest {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T *raw) : raw_(raw) {}
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ComPtr(ComPtr &&other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
    ComPtr &operator=(ComPtr &&other) noexcept
    {
        if (this != &other) {
            Reset();
            raw_ = std::exchange(other.raw_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset()
    {
        if (raw_)
            raw_->Release();
        raw_ = nullptr;
    }
    T **Put()
    {
        Reset();
        return &raw_;
    }
    T *Get() const { return raw_; }
    T *operator->() const { return raw_; }
    explicit operator bool() const { return raw_ != nullptr; }

private:
    T *raw_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::u16string &value) : raw_(SysAllocStringLen(value.data(), UINT(value.size()))) {}
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    ~Bstr() { SysFreeString(raw_); }

    BSTR *Put()
    {
        SysFreeString(raw_);
        raw_ = nullptr;
        return &raw_;
    }
    BSTR Get() const { return raw_; }
    std::u16string Text() const { return raw_ ? std::u16string(raw_, SysStringLen(raw_)) : std::u16string(); }

private:
    BSTR raw_ = nullptr;
};

// The result an asynchronous operation finished with (VSS_S_ASYNC_FINISHED on success).
inline HRESULT Outcome(HRESULT started, IVssAsync *async)
{
    if (FAILED(started))
        return started;
    ComPtr<IVssAsync> owner(async);
    if (!async)
        return E_POINTER;
    HRESULT waited = owner->Wait(0xffffffff);
    if (FAILED(waited))
        return waited;
    HRESULT result = E_FAIL;
    HRESULT queried = owner->QueryStatus(&result, nullptr);
    return FAILED(queried) ? queried : result;
}

#define VSS_RUN(object, method)                                                                                      \
    [&]() {                                                                                                          \
        IVssAsync *async_ = nullptr;                                                                                 \
        HRESULT started_ = (object)->method(&async_);                                                                \
        return vsstest::Outcome(started_, async_);                                                                   \
    }()

inline std::vector<winsim::VssFileSpec> ReadFiles(UINT count, const std::function<HRESULT(UINT, IVssWMFiledesc **)> &get)
{
    std::vector<winsim::VssFileSpec> files;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IVssWMFiledesc> file;
        EXPECT_EQ(get(i, file.Put()), S_OK);
        if (!file)
            continue;
        winsim::VssFileSpec spec;
        Bstr path, filespec, alternate;
        boolean recursive = 0;
        EXPECT_EQ(file->GetPath(path.Put()), S_OK);
        EXPECT_EQ(file->GetFilespec(filespec.Put()), S_OK);
        EXPECT_EQ(file->GetRecursive(&recursive), S_OK);
        EXPECT_EQ(file->GetAlternateLocation(alternate.Put()), S_OK);
        EXPECT_EQ(file->GetBackupTypeMask(&spec.backupTypeMask), S_OK);
        spec.path = path.Text();
        spec.filespec = filespec.Text();
        spec.recursive = recursive != 0;
        spec.alternateLocation = alternate.Text();
        files.push_back(spec);
    }
    return files;
}

// Everything a requester can read of a writer's metadata, as the service's model.
inline winsim::VssWriterModel ReadWriter(IVssExamineWriterMetadata *metadata)
{
    winsim::VssWriterModel writer;
    Bstr name;
    VSS_USAGE_TYPE usage = VSS_UT_UNDEFINED;
    VSS_SOURCE_TYPE source = VSS_ST_UNDEFINED;
    EXPECT_EQ(metadata->GetIdentity(&writer.instanceId, &writer.id, name.Put(), &usage, &source), S_OK);
    writer.name = name.Text();
    writer.usage = usage;
    writer.source = source;
    ComPtr<IVssExamineWriterMetadataEx> extended;
    if (SUCCEEDED(metadata->QueryInterface(IID_IVssExamineWriterMetadataEx, reinterpret_cast<void **>(extended.Put())))) {
        Bstr again, instanceName;
        VSS_ID instanceId, writerId;
        EXPECT_EQ(extended->GetIdentityEx(&instanceId, &writerId, again.Put(), instanceName.Put(), &usage, &source), S_OK);
        writer.instanceName = instanceName.Text();
    }
    UINT includes = 0, excludes = 0, components = 0;
    EXPECT_EQ(metadata->GetFileCounts(&includes, &excludes, &components), S_OK);
    writer.includeFiles = ReadFiles(includes, [&](UINT i, IVssWMFiledesc **f) { return metadata->GetIncludeFile(i, f); });
    writer.excludeFiles = ReadFiles(excludes, [&](UINT i, IVssWMFiledesc **f) { return metadata->GetExcludeFile(i, f); });
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    Bstr service, procedure;
    boolean reboot = 0;
    UINT mappings = 0;
    const HRESULT hr =
        metadata->GetRestoreMethod(&method, service.Put(), procedure.Put(), &writerRestore, &reboot, &mappings);
    EXPECT_TRUE(hr == S_OK || (hr == S_FALSE && method == VSS_RME_UNDEFINED)) << std::hex << hr;
    writer.restoreMethod = method;
    writer.restoreService = service.Text();
    writer.userProcedure = procedure.Text();
    writer.writerRestore = writerRestore;
    writer.rebootRequired = reboot != 0;
    writer.alternateLocations =
        ReadFiles(mappings, [&](UINT i, IVssWMFiledesc **f) { return metadata->GetAlternateLocationMapping(i, f); });
    EXPECT_EQ(metadata->GetBackupSchema(&writer.backupSchema), S_OK);
    for (UINT c = 0; c < components; ++c) {
        ComPtr<IVssWMComponent> component;
        EXPECT_EQ(metadata->GetComponent(c, component.Put()), S_OK);
        if (!component)
            continue;
        PVSSCOMPONENTINFO info = nullptr;
        EXPECT_EQ(component->GetComponentInfo(&info), S_OK);
        if (!info)
            continue;
        winsim::VssComponentModel model;
        model.type = info->type;
        model.logicalPath = info->bstrLogicalPath ? info->bstrLogicalPath : u"";
        model.name = info->bstrComponentName ? info->bstrComponentName : u"";
        model.caption = info->bstrCaption ? info->bstrCaption : u"";
        model.flags = info->dwComponentFlags;
        model.selectable = info->bSelectable != 0;
        model.selectableForRestore = info->bSelectableForRestore != 0;
        model.restoreMetadata = info->bRestoreMetadata != 0;
        model.notifyOnBackupComplete = info->bNotifyOnBackupComplete != 0;
        model.files = ReadFiles(info->cFileCount, [&](UINT i, IVssWMFiledesc **f) { return component->GetFile(i, f); });
        model.databaseFiles =
            ReadFiles(info->cDatabases, [&](UINT i, IVssWMFiledesc **f) { return component->GetDatabaseFile(i, f); });
        model.logFiles =
            ReadFiles(info->cLogFiles, [&](UINT i, IVssWMFiledesc **f) { return component->GetDatabaseLogFile(i, f); });
        EXPECT_EQ(component->FreeComponentInfo(info), S_OK);
        writer.components.push_back(model);
    }
    return writer;
}

inline std::string Describe(const std::u16string &text)
{
    std::string narrow;
    for (char16_t c : text)
        narrow += c < 0x80 ? char(c) : '?';
    return narrow;
}

// Compares what a requester can read (restore targets and states are not in the metadata).
inline void ExpectSameFiles(const std::vector<winsim::VssFileSpec> &expected,
                            const std::vector<winsim::VssFileSpec> &actual, const std::string &where)
{
    ASSERT_EQ(expected.size(), actual.size()) << where;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Describe(expected[i].path), Describe(actual[i].path)) << where << " file " << i;
        EXPECT_EQ(Describe(expected[i].filespec), Describe(actual[i].filespec)) << where << " file " << i;
        EXPECT_EQ(expected[i].recursive, actual[i].recursive) << where << " file " << i;
        EXPECT_EQ(Describe(expected[i].alternateLocation), Describe(actual[i].alternateLocation)) << where;
        EXPECT_EQ(expected[i].backupTypeMask, actual[i].backupTypeMask) << where << " file " << i;
    }
}

inline void ExpectSameWriter(const winsim::VssWriterModel &expected, const winsim::VssWriterModel &actual)
{
    const std::string where = Describe(expected.name);
    EXPECT_EQ(expected.name, actual.name) << where;
    EXPECT_TRUE(expected.id == actual.id) << where;
    EXPECT_TRUE(expected.instanceId == actual.instanceId) << where;
    EXPECT_EQ(expected.instanceName, actual.instanceName) << where;
    EXPECT_EQ(expected.usage, actual.usage) << where;
    EXPECT_EQ(expected.source, actual.source) << where;
    EXPECT_EQ(expected.restoreMethod, actual.restoreMethod) << where;
    if (expected.restoreMethod != 0) {
        EXPECT_EQ(expected.restoreService, actual.restoreService) << where;
        EXPECT_EQ(expected.userProcedure, actual.userProcedure) << where;
    }
    EXPECT_EQ(expected.writerRestore, actual.writerRestore) << where;
    EXPECT_EQ(expected.rebootRequired, actual.rebootRequired) << where;
    EXPECT_EQ(expected.backupSchema, actual.backupSchema) << where;
    ExpectSameFiles(expected.alternateLocations, actual.alternateLocations, where + " mappings");
    ExpectSameFiles(expected.includeFiles, actual.includeFiles, where + " includes");
    ExpectSameFiles(expected.excludeFiles, actual.excludeFiles, where + " excludes");
    ASSERT_EQ(expected.components.size(), actual.components.size()) << where;
    for (size_t i = 0; i < expected.components.size(); ++i) {
        const winsim::VssComponentModel &e = expected.components[i];
        const winsim::VssComponentModel &a = actual.components[i];
        const std::string at = where + "/" + Describe(e.logicalPath) + "/" + Describe(e.name);
        EXPECT_EQ(e.type, a.type) << at;
        EXPECT_EQ(e.logicalPath, a.logicalPath) << at;
        EXPECT_EQ(e.name, a.name) << at;
        EXPECT_EQ(e.caption, a.caption) << at;
        EXPECT_EQ(e.flags, a.flags) << at;
        EXPECT_EQ(e.selectable, a.selectable) << at;
        EXPECT_EQ(e.selectableForRestore, a.selectableForRestore) << at;
        EXPECT_EQ(e.restoreMetadata, a.restoreMetadata) << at;
        EXPECT_EQ(e.notifyOnBackupComplete, a.notifyOnBackupComplete) << at;
        ExpectSameFiles(e.files, a.files, at + " files");
        ExpectSameFiles(e.databaseFiles, a.databaseFiles, at + " databases");
        ExpectSameFiles(e.logFiles, a.logFiles, at + " logs");
    }
}

// The gathered metadata of the writer with this name, or none.
inline ComPtr<IVssExamineWriterMetadata> MetadataNamed(IVssBackupComponents *backup, const std::u16string &name)
{
    UINT count = 0;
    EXPECT_EQ(backup->GetWriterMetadataCount(&count), S_OK);
    for (UINT i = 0; i < count; ++i) {
        VSS_ID instance;
        ComPtr<IVssExamineWriterMetadata> metadata;
        EXPECT_EQ(backup->GetWriterMetadata(i, &instance, metadata.Put()), S_OK);
        if (metadata && ReadWriter(metadata.Get()).name == name)
            return metadata;
    }
    return {};
}

const GUID kSqlWriterId = {0xa65faa63, 0x5ea8, 0x4ebc, {0x9d, 0xbd, 0xa0, 0xc4, 0xdb, 0x26, 0x91, 0x2a}};
const GUID kAgentWriterId = {0xe1a7c3b9, 0x5f2d, 0x4e86, {0xb0, 0xa4, 0x93, 0xc7, 0xd5, 0xe1, 0xf2, 0x08}};

// Every test starts on a freshly loaded host, with no faults and no recorded requests.
class VssTest : public testing::Test {
protected:
    void SetUp() override { UseHost(winsim::EmbeddedHostJson("default")); }
    void TearDown() override { winsim::ClearFaults(); }

    void UseHost(const std::string &json)
    {
        winsim::ClearFaults();
        winsim::ReplaceHost(winsim::ParseHost(json));
        winsim::ClearVssRequests();
    }

    // A backup-components object initialised for backup, with the writers gathered.
    ComPtr<IVssBackupComponents> GatheredBackup()
    {
        ComPtr<IVssBackupComponents> backup;
        EXPECT_EQ(CreateVssBackupComponents(backup.Put()), S_OK);
        if (!backup)
            return backup;
        EXPECT_EQ(backup->InitializeForBackup(nullptr), S_OK);
        EXPECT_EQ(VSS_RUN(backup, GatherWriterMetadata), VSS_S_ASYNC_FINISHED);
        return backup;
    }

    // The gathered metadata of the writer with that name; false when there is none.
    static bool WriterNamed(IVssBackupComponents *backup, const std::u16string &name, winsim::VssWriterModel *writer)
    {
        ComPtr<IVssExamineWriterMetadata> metadata = MetadataNamed(backup, name);
        if (metadata)
            *writer = ReadWriter(metadata.Get());
        return bool(metadata);
    }

    struct Status {
        VSS_WRITER_STATE state = VSS_WS_UNKNOWN;
        HRESULT failure = S_OK;
        bool found = false;
    };
    static Status StatusOf(IVssBackupComponents *backup, const std::u16string &name)
    {
        Status status;
        EXPECT_EQ(VSS_RUN(backup, GatherWriterStatus), VSS_S_ASYNC_FINISHED);
        UINT count = 0;
        EXPECT_EQ(backup->GetWriterStatusCount(&count), S_OK);
        for (UINT i = 0; i < count; ++i) {
            VSS_ID instance, writer;
            Bstr writerName;
            VSS_WRITER_STATE state;
            HRESULT failure;
            EXPECT_EQ(backup->GetWriterStatus(i, &instance, &writer, writerName.Put(), &state, &failure), S_OK);
            if (writerName.Text() == name)
                status = {state, failure, true};
        }
        EXPECT_EQ(backup->FreeWriterStatus(), S_OK);
        return status;
    }
};

} // namespace vsstest
