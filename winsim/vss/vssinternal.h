// winsim shadow-copy service internals: COM object plumbing, text helpers, writer
// metadata documents, and the process-wide records (requests, snapshots).
#pragma once

#include <vsbackup.h>

#include "winsim/hostmodel.h"
#include "winsim/vss.h"

#include <pugixml.hpp>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace winsim {
namespace vss {

using text = std::u16string;

std::string Narrow(const text &value);  // UTF-8
text Widen(const std::string &value);   // from UTF-8
text GuidText(const GUID &id);          // lower case, no braces
bool ParseGuid(const text &value, GUID *id);  // with or without braces
bool SameText(const text &a, const text &b);  // without regard to case

// A BSTR copy for an out-parameter; E_OUTOFMEMORY when it cannot be made.
HRESULT PutBstr(const text &value, BSTR *out);
// CoTaskMemAlloc'd copy (VSS_PWSZ out-parameters and snapshot properties).
WCHAR *TaskMemCopy(const text &value);

// Every backup-components and metadata object counts itself, so tests see leaks.
std::atomic<long> &LiveObjectCount();

// Reference counting shared by the service's objects.
class RefCounted {
public:
    RefCounted() { ++LiveObjectCount(); }
    virtual ~RefCounted() { --LiveObjectCount(); }
    ULONG AddRefImpl() { return ++refs_; }
    ULONG ReleaseImpl()
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

// The QueryInterface of an object that answers IUnknown and the interfaces listed.
template <class Self>
HRESULT AnswerInterface(Self *self, REFIID riid, void **object, std::initializer_list<const IID *> known)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    bool answered = IsEqualIID(riid, IID_IUnknown);
    for (const IID *iid : known)
        answered = answered || IsEqualIID(riid, *iid);
    if (!answered)
        return E_NOINTERFACE;
    self->AddRef();
    *object = static_cast<IUnknown *>(self);
    return S_OK;
}

// The writers of the current host, read again after another host became current. False
// (and none) when the host's writers section does not parse.
bool CurrentWriters(std::vector<VssWriterModel> *writers);

// A volume as AddToSnapshotSet accepts it: its GUID path, drive root or mount folder, each
// with the trailing backslash; null for anything else.
const Volume *FindVolumeRoot(const text &name);
// The system provider copies fixed NTFS, ReFS and CSVFS volumes only.
bool ShadowCopiesSupported(const Volume &volume);

// ---- faults ----
// The fault for an operation as a whole (argument empty) or for one subject of it.
bool OperationFault(const char *method, HRESULT *hr);
bool SubjectFault(const char *method, const text &subject, HRESULT *hr);

// ---- writer metadata documents ----
// A writer as the attributes and children of `root` (also inside the backup document).
void PutWriter(pugi::xml_node root, const VssWriterModel &writer);
bool GetWriter(pugi::xml_node root, VssWriterModel *writer);
std::string WriterToXml(const VssWriterModel &writer);
// A document holds one element at its top; text after it is a damaged document.
bool SingleRoot(const pugi::xml_document &document);
// False when the text is not a writer metadata document.
bool WriterFromXml(const std::string &xml, VssWriterModel *writer);

// IVssExamineWriterMetadataEx2 over a copy of the writer.
IVssExamineWriterMetadataEx2 *NewExamineWriterMetadata(const VssWriterModel &writer);

// IVssWMFiledesc over a copy of the file specification.
IVssWMFiledesc *NewFileDescription(const VssFileSpec &file);

// IVssAsync of an operation that has already run to its end with `result`.
IVssAsync *NewFinishedAsync(HRESULT result);

// ---- records ----
void RecordRequest(const VssRequest &request);
void AddSnapshot(const VssSnapshotInfo &snapshot);
bool FindSnapshot(const GUID &snapshotId, VssSnapshotInfo *snapshot);
// Removes the snapshots of a set (or the one snapshot) and their devices; the count gone.
LONG RemoveSnapshots(const GUID &id, bool wholeSet);

} // namespace vss
} // namespace winsim
