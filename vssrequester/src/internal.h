// libvssrequester internals: owners for the VSS resources, the session state, the log,
// and text and file helpers.
#pragma once

#include <vssrequester/vsscr.h>

#include <string>
#include <vector>

namespace vsscr {

// ---- owners ----

// Releases one interface pointer.
template <typename T>
void ReleaseInterface(T *pointer)
{
    static_cast<IUnknown *>(pointer)->Release();
}

// IVssWriterComponentsExt is released through its IUnknown, as GetWriterComponents asks.
// The SDK declares it with two bases, IVssWriterComponents and then IUnknown, so an object
// that implements it holds IUnknown's table pointer right after IVssWriterComponents' one.
// MinGW's header leaves the second base out; the IUnknown part is reached through that
// layout on every platform (winsim's header declares both bases, as the SDK does).
inline IUnknown *UnknownOfWriterComponents(IVssWriterComponentsExt *view)
{
    static_assert(sizeof(IVssWriterComponents) == sizeof(void *), "IVssWriterComponents is its table pointer");
    IVssWriterComponents *components = view;
    return reinterpret_cast<IUnknown *>(reinterpret_cast<char *>(components) + sizeof(IVssWriterComponents));
}

inline void ReleaseInterface(IVssWriterComponentsExt *view)
{
    UnknownOfWriterComponents(view)->Release();
}

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T *adopted) : pointer_(adopted) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ComPtr(ComPtr &&other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
    ComPtr &operator=(ComPtr &&other) noexcept
    {
        if (this != &other) {
            reset();
            pointer_ = other.pointer_;
            other.pointer_ = nullptr;
        }
        return *this;
    }

    // The variable a call fills; whatever was held is released first.
    T **put()
    {
        reset();
        return &pointer_;
    }
    T *get() const { return pointer_; }
    T *operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    void reset()
    {
        if (pointer_ != nullptr)
            ReleaseInterface(pointer_);
        pointer_ = nullptr;
    }

private:
    T *pointer_ = nullptr;
};

// One BSTR, freed when the owner goes.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wstr &text);
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    Bstr(Bstr &&other) noexcept : text_(other.text_) { other.text_ = nullptr; }
    Bstr &operator=(Bstr &&other) noexcept
    {
        if (this != &other) {
            SysFreeString(text_);
            text_ = other.text_;
            other.text_ = nullptr;
        }
        return *this;
    }
    // Hands the BSTR over to the caller.
    BSTR release()
    {
        BSTR text = text_;
        text_ = nullptr;
        return text;
    }

    BSTR *put()
    {
        SysFreeString(text_);
        text_ = nullptr;
        return &text_;
    }
    BSTR get() const { return text_; }
    // The text, empty for a null BSTR.
    wstr str() const;

private:
    BSTR text_ = nullptr;
};

// The component description a component hands out, returned with FreeComponentInfo.
class ComponentInfo {
public:
    explicit ComponentInfo(IVssWMComponent *component) : component_(component) {}
    ~ComponentInfo()
    {
        if (info_ != nullptr)
            component_->FreeComponentInfo(info_);
    }
    ComponentInfo(const ComponentInfo &) = delete;
    ComponentInfo &operator=(const ComponentInfo &) = delete;

    HRESULT Fetch() { return component_->GetComponentInfo(&info_); }
    const VSS_COMPONENTINFO *operator->() const { return info_; }
    explicit operator bool() const { return info_ != nullptr; }

private:
    IVssWMComponent *component_;
    PVSSCOMPONENTINFO info_ = nullptr;
};

// The properties of one shadow copy, freed with VssFreeSnapshotProperties.
class SnapshotProperties {
public:
    SnapshotProperties() { ZeroMemory(&properties_, sizeof(properties_)); }
    ~SnapshotProperties()
    {
        if (filled_)
            VssFreeSnapshotProperties(&properties_);
    }
    SnapshotProperties(const SnapshotProperties &) = delete;
    SnapshotProperties &operator=(const SnapshotProperties &) = delete;

    HRESULT Fetch(IVssBackupComponents *components, const VSS_ID &snapshotId)
    {
        HRESULT hr = components->GetSnapshotProperties(snapshotId, &properties_);
        filled_ = SUCCEEDED(hr);
        return hr;
    }
    const VSS_SNAPSHOT_PROP &get() const { return properties_; }

private:
    VSS_SNAPSHOT_PROP properties_;
    bool filled_ = false;
};

// The writer metadata and status that a backup-components object keeps after gathering;
// both must be given back before the object gathers again or goes.
class GatheredMetadata {
public:
    explicit GatheredMetadata(IVssBackupComponents *components) : components_(components) {}
    ~GatheredMetadata()
    {
        if (components_ != nullptr)
            components_->FreeWriterMetadata();
    }
    GatheredMetadata(const GatheredMetadata &) = delete;
    GatheredMetadata &operator=(const GatheredMetadata &) = delete;

private:
    IVssBackupComponents *components_;
};

class GatheredStatus {
public:
    explicit GatheredStatus(IVssBackupComponents *components) : components_(components) {}
    ~GatheredStatus()
    {
        if (components_ != nullptr)
            components_->FreeWriterStatus();
    }
    GatheredStatus(const GatheredStatus &) = delete;
    GatheredStatus &operator=(const GatheredStatus &) = delete;

private:
    IVssBackupComponents *components_;
};

// ---- asynchronous operations ----

// Starts an operation, waits for it and checks how it ended: the start's failure, the
// wait's failure, or the operation's own failing status. A cancelled operation answers
// E_ABORT.
template <typename Start>
HRESULT RunAsync(const char *operation, Start start);
HRESULT WaitForAsync(const char *operation, HRESULT started, IVssAsync *async);

template <typename Start>
HRESULT RunAsync(const char *operation, Start start)
{
    ComPtr<IVssAsync> async;
    HRESULT started = start(async.put());
    return WaitForAsync(operation, started, async.get());
}

// ---- log ----

bool OpenLog(const wstr &path, unsigned int level, bool append);
void CloseLog();
bool LogEnabled();
unsigned int LogLevel();
// One line: the operation and its HRESULT.
void LogResult(const char *operation, HRESULT hr);
// One line of text; printf-style, UTF-8 arguments.
void LogLine(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// ---- text and files ----

std::string ToUtf8(const WCHAR *text, size_t length);
std::string ToUtf8(const wstr &text);
// Strict: false when the bytes are not UTF-8.
bool FromUtf8(const std::string &text, wstr *out);
wstr GuidText(const GUID &id);
std::string GuidTextUtf8(const GUID &id);
bool SameTextIgnoringCase(const wstr &left, const wstr &right);
const WCHAR *NullIfEmpty(const wstr &text);

// Whole files by Windows path; results are HRESULTs of the Win32 error.
HRESULT ReadWholeFile(const wstr &path, std::string *bytes);
HRESULT WriteWholeFile(const wstr &path, const std::string &bytes);
// A UTF-8 XML file as a BSTR: a missing file, an empty one or one that is not UTF-8 is
// refused before VSS sees it.
HRESULT ReadXmlDocument(const wstr &path, Bstr *document);

// ---- metadata ----

// Copies one writer's metadata into a writer object. identityOnly (a restore session's
// gathering) keeps the name, IDs and types and leaves metadataLoaded false.
HRESULT BuildWriter(IVssExamineWriterMetadata *metadata, bool identityOnly, std::shared_ptr<CVssCrWriter> *out);

// After GatherWriterMetadata: every writer it found, built with BuildWriter and tied to
// the requester, appended to out. A non-empty writerName keeps only that writer (letter
// case ignored). The gathered metadata is freed before the call returns.
HRESULT GatherWriters(IVssBackupComponents *components, bool identityOnly, const wstr &writerName,
                      CVssCr *requester, CVssCrWriterList *out);

// One component listed in a backup-components document.
struct DocumentComponent {
    VSS_ID writerId = GUID_NULL;
    VSS_ID instanceId = GUID_NULL;
    VSS_COMPONENT_TYPE type = VSS_CT_UNDEFINED;
    VSS_RESTORE_TARGET restoreTarget = VSS_RT_UNDEFINED;  // as the writer set it, if it did
    wstr logicalPath;
    wstr name;
};
HRESULT ReadDocumentComponents(IVssBackupComponents *components, std::vector<DocumentComponent> *out);
// Marks the writer's components that the document lists, and the restore
// subcomponents below them.
void MarkDocumentComponents(CVssCrWriter &writer, const std::vector<DocumentComponent> &document);

} // namespace vsscr

// What a requester object keeps between calls.
struct CVssCr::Session {
    enum class Kind { None, Backup, Restore };
    Kind kind = Kind::None;
    vsscr::ComPtr<IVssBackupComponents> components;
    CVssCrWriterList writers;
    bool snapshotSetStarted = false;
    bool snapshotTaken = false;
    VSS_ID pendingSnapshotSetId = GUID_NULL;
    std::vector<vsscr::DocumentComponent> document;  // restore: what the saved document lists
};
