// The environment and the client's own directories.
#include <liblocal/vofiles.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <mutex>
#include <new>
#include <set>

namespace {

// Texts handed out by vo_getenv and the directory functions stay valid for the life of
// the process: each distinct text is kept once, here, and never released.
std::mutex g_internMutex;

const char *Intern(const std::string &text)
{
    static std::set<std::string> *texts = new std::set<std::string>;
    std::lock_guard<std::mutex> lock(g_internMutex);
    return texts->insert(text).first->c_str();
}

// The value of a variable; false when it is not set.
bool ReadEnvironment(const char *name, std::string &value)
{
    const wstr wideName = vo::Widen(name);
    wstr buffer(256, WCHAR(0));
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), &buffer[0], DWORD(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return false;
            value.clear(); // set, and empty
            return true;
        }
        if (length < buffer.size()) {
            value = vo::Narrow(buffer.data(), length);
            return true;
        }
        buffer.assign(length, WCHAR(0)); // length counts the terminator when it does not fit
    }
}

// One of the client's directories, created when first handed out under that name.
const char *ClientDirectory(const char *overrideVariable, const char *leaf)
{
    std::string directory;
    if (!ReadEnvironment(overrideVariable, directory) || directory.empty()) {
        std::string programData;
        if (!ReadEnvironment("ProgramData", programData) || programData.empty())
            programData = "C:\\ProgramData";
        directory = programData + "\\Tolvane\\" + leaf;
    }
    static std::mutex creationMutex;
    static std::set<std::string> *created = new std::set<std::string>;
    {
        std::lock_guard<std::mutex> lock(creationMutex);
        if (created->count(directory) == 0 && vo_mkdirpath(directory.c_str(), 0777) == 1)
            created->insert(directory);
    }
    return Intern(directory);
}

} // namespace

const char *vo_getenv(const char *name)
{
    if (name == nullptr)
        return nullptr;
    vo::PreservedErrorState preserved;
    try {
        std::string value;
        return ReadEnvironment(name, value) ? Intern(value) : nullptr;
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

const char *vo_get_logsdir(void)
{
    vo::PreservedErrorState preserved;
    try {
        return ClientDirectory("TLV_LOGSDIR", "logs");
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}

const char *vo_get_tmpdir(void)
{
    vo::PreservedErrorState preserved;
    try {
        return ClientDirectory("TLV_TMPDIR", "tmp");
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}
