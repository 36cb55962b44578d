// The supported writer list.
#include <libwinclass/writers/supported.h>

#include <libwinclass/backup/trace.h>

#include <liblocal/local.h>
#include <libtlv/settings.h>

#include <platform/tvplatform.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace winclass {

const char *const kBuiltInSupportedWriters[kBuiltInSupportedWriterCount] = {
    "{dd846aaa-a1b6-42a8-aaf8-03dcb6114bfd}", "{4969d978-be47-48b0-b100-f328f07ac1e0}",
    "{6f5b15b5-da24-4d88-b737-63063e3a1f86}", "{41e12264-35d8-479b-8e5c-9b23d1dad37e}",
    "{542da469-d3e1-473c-9f4f-7847f01fc64f}", "{be9ac81e-3619-421f-920f-4c6fea9e93ad}",
    "{eee8c692-67ed-4250-8d86-390603070d00}", "{d76f5a28-3092-4589-ba48-2958fb88ce29}",
    "{59b1f0cf-90ef-465f-9609-6ca8b2938366}", "{f8544ac1-0611-4fa5-b04b-f7ee00b03277}",
    "{b2014c9e-8711-4c5c-a5a9-3cf384484757}", "{afbab4a2-367d-4d15-a586-71dbb18f8485}",
    "{b959d2c3-18bb-4607-b0ca-688cd0d41a50}", "{5d3c3e01-0297-445b-aa81-a48d7151e235}",
    "{e8132975-6f93-4464-a53e-1050253ae220}", "{5382579c-98df-47a7-ac6c-98a6d7106e09}",
    "{f08c1483-8407-4a26-8c26-6c267a629741}", "{a6ad56c2-b509-4e6c-bb19-49d8f43532f0}",
    "{4dc3bdd4-ab48-4d07-adb0-3bee2926fd7f}", "{cd3f2362-8bef-46c7-9181-d62844cdc0b2}",
    "{12ce4370-5bb7-4c58-a76a-e5d5097e3674}", "{2707761b-2324-473d-88eb-eb007a359533}",
    "{2a40fd15-dfca-4aa8-a654-1f8c654603f6}", "{368753ec-572e-4fc7-b4b9-ccd9bdc624cb}",
    "{35e81631-13e1-48db-97fc-d5bc721bb18a}", "{a65faa63-5ea8-4ebc-9dbd-a0c4db26912a}",
    "{d61d61c8-d73a-4eee-8cdd-f6f9786b7124}", "{0bada1de-01a9-4625-8278-69e735f39dd2}",
    "{75DFB225-E2E4-4d39-9AC9-FFAFF65DDF06}", "{66841cd4-6ded-4f4b-8f17-fd23f8ddc3de}",
    "{8d5194e1-e455-434a-b2e5-51296cce67df}", "{41db4dbf-6046-470e-8ad5-d5081dfb1b70}",
    "{1072ae1c-e5a7-4ea1-9e4a-6f7964656570}", "{82cb5521-68db-4626-83a4-7fc6f88853e9}",
    "{772c45f8-ae01-4f94-940c-94961864acad}", "{7e47b561-971a-46e6-96b9-696eeaa53b2a}",
    "{886c43b1-d455-4428-a37f-4d6b9e43f50f}",
};

namespace {

const char kUserListName[] = "bin\\writerlist.txt";

SupportedListSource lastSource = SupportedListSource::None;

// Logs the entry and the exit of one writer-list operation.
class CallTrace {
public:
    explicit CallTrace(const char *operation) : operation_(operation)
    {
        if (TraceWriterListCalls())
            debugprintf("%s() Enter.\n", operation_);
    }
    ~CallTrace()
    {
        if (TraceWriterListCalls())
            debugprintf("%s() Exit.\n", operation_);
    }
    CallTrace(const CallTrace &) = delete;
    CallTrace &operator=(const CallTrace &) = delete;

private:
    const char *operation_;
};

// One element: a zero-filled buffer of entry-max + 1 bytes, the same pointer as key and
// value, released by the list with free.
void AppendEntry(vo_list *list, const char *text)
{
    char *entry = static_cast<char *>(xcalloc(kSupportedWriterEntryMax + 1, 1));
    vo_strlcpy(entry, text, kSupportedWriterEntryMax + 1);
    if (vo_list_append(list, entry, entry) != 0)
        free(entry);
}

struct FileCloser {
    void operator()(FILE *file) const { vo_fclose(file); }
};

struct MallocFree {
    void operator()(void *block) const { free(block); }
};

} // namespace

bool PopulateUserSupportedWriters(vo_list *list, const char *path)
{
    CallTrace trace("PopulateUserSupportedWriterList");
    if (path == nullptr) {
        if (TraceSetup())
            debugprintf("Writer list filename is empty.\n");
        return false;
    }
    std::unique_ptr<FILE, FileCloser> file(vo_fopen(path, "r", 0));
    if (!file) {
        if (TraceSetup())
            debugprintf("Unable to get open file %s\n", path);
        return false;
    }
    const long long size = vo_lseek(file.get(), 0, SEEK_END);
    // fgets counts its buffer in an int: a file of 2 GiB or more has no usable end.
    if (size < 0 || size >= INT_MAX) {
        if (TraceSetup())
            debugprintf("Unable to read the end of file, %s\n", path);
        return false;
    }
    vo_lseek(file.get(), 0, SEEK_SET);

    std::unique_ptr<char, MallocFree> line(static_cast<char *>(xcalloc(static_cast<size_t>(size) + 1, 1)));
    if (vo_fgets(line.get(), static_cast<int>(size) + 1, file.get()) == nullptr) {
        if (TraceSetup())
            debugprintf("Unable to read contents of file, %s\n", path);
        return false;
    }
    // Every piece between commas is an entry, empty ones too; the text ends at its first
    // NUL, so binary bytes after one are never looked at.
    char *piece = line.get();
    for (;;) {
        char *comma = std::strchr(piece, ',');
        if (comma != nullptr)
            *comma = '\0';
        AppendEntry(list, piece);
        if (comma == nullptr)
            break;
        piece = comma + 1;
    }
    return true;
}

void PopulateDefaultSupportedWriters(vo_list *list)
{
    CallTrace trace("PopulateDefaultSupportedWriterList");
    for (const char *writerId : kBuiltInSupportedWriters)
        AppendEntry(list, writerId);
}

bool PopulateSupportedWriters(vo_list **list)
{
    CallTrace trace("PopulateSupportedWriterList");
    if (*list != nullptr) {
        if (TraceDetail())
            debugprintf("Supported writer list is already populated.\n");
        return true;
    }
    *list = vo_list_new(free, nullptr, _stricmp, nullptr, 0);
    if (*list == nullptr) {
        if (TraceSetup())
            debugprintf("Unable to find create supported writer list.\n");
        return false;
    }
    std::unique_ptr<char, MallocFree> installDir(find_tlvdir_from_install_key_in_registry());
    if (!installDir) {
        if (TraceSetup())
            debugprintf("Unable to find Tolvane install directory.\n");
        return false;
    }
    std::unique_ptr<char, MallocFree> userList(path_concat(installDir.get(), kUserListName));
    if (vo_stat(userList.get(), nullptr) == 0) {
        lastSource = SupportedListSource::UserFile;
        return PopulateUserSupportedWriters(*list, userList.get());
    }
    lastSource = SupportedListSource::BuiltIn;
    PopulateDefaultSupportedWriters(*list);
    return true;
}

SupportedListSource LastSupportedListSource() { return lastSource; }

bool IsWriterInSupportedList(const vo_list *list, const char *writerId)
{
    CallTrace trace("IsWriterSupported");
    if (list == nullptr || vo_list_size(list) == 0 || writerId == nullptr)
        return false;
    void *found = nullptr;
    if (vo_list_find(list, writerId, &found) == 0) {
        if (TraceDetail())
            debugprintf("VSS Writer %s is supported\n", writerId);
        return true;
    }
    if (TraceDetail())
        debugprintf("VSS Writer %s is not supported\n", writerId);
    return false;
}

} // namespace winclass
