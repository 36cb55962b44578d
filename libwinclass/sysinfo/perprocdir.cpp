// The per-process scratch directory.
#include <libwinclass/hostinfo.h>

#include <liblocal/local.h>

#include <rpc.h>

namespace {

constexpr size_t kPerProcessDirSize = 260;

// Kept for the life of the process; unguarded, as the first call must not race anyway.
char perProcessDir[kPerProcessDirSize];
RPC_STATUS perProcessDirStatus = RPC_S_OK;

// A string from UuidToStringW, freed when it goes.
class RpcWideString {
public:
    RpcWideString() = default;
    ~RpcWideString()
    {
        if (text_ != nullptr)
            RpcStringFreeW(&text_);
    }
    RpcWideString(const RpcWideString &) = delete;
    RpcWideString &operator=(const RpcWideString &) = delete;
    RPC_WSTR *put() { return &text_; }
    const WCHAR *get() const { return reinterpret_cast<const WCHAR *>(text_); }

private:
    RPC_WSTR text_ = nullptr;
};

bool MakePerProcessDir(const char *baseDir)
{
    UUID uuid = {};
    perProcessDirStatus = UuidCreate(&uuid);
    if (perProcessDirStatus != RPC_S_OK)  // RPC_S_UUID_LOCAL_ONLY too: not unique enough
        return false;
    char uuidText[kPerProcessDirSize] = {};
    {
        RpcWideString wideText;
        perProcessDirStatus = UuidToStringW(&uuid, wideText.put());
        if (perProcessDirStatus != RPC_S_OK)
            return false;
        vo_wcs_to_utf8s(uuidText, wideText.get(), sizeof uuidText, 0);
    }
    if (baseDir == nullptr)
        baseDir = vo_get_tmpdir();
    if (baseDir == nullptr)
        baseDir = "";
    // A path cut short would lose part of the UUID, and with it the uniqueness: a base that
    // leaves no room for the separator, the whole UUID and the terminator gives no path.
    const size_t baseLength = vo_strlen(baseDir);
    const bool endsInSeparator = baseLength > 0 && (baseDir[baseLength - 1] == '\\' || baseDir[baseLength - 1] == '/');
    const size_t separator = baseLength > 0 && !endsInSeparator ? 1 : 0;
    if (baseLength + separator + vo_strlen(uuidText) + 1 > sizeof perProcessDir)
        return false;
    vo_strlcpy(perProcessDir, baseDir, sizeof perProcessDir);
    adddirsep(perProcessDir, '\\');
    vo_strlcat(perProcessDir, uuidText, sizeof perProcessDir);
    return true;
}

} // namespace

extern "C" const char *get_unique_per_process_dir_path(const char *baseDir)
{
    if (perProcessDir[0] == '\0')
        MakePerProcessDir(baseDir);
    return perProcessDirStatus == RPC_S_OK && perProcessDir[0] != '\0' ? perProcessDir : nullptr;
}
