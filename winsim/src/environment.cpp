// kernel32: the process environment. winsim keeps its own block, seeded on first use from
// the real process environment and completed with the variables every Windows process
// has; names compare without regard to case, as on Windows.
#include "internal.h"
#include "winsim/hostmodel.h"

#include <map>
#include <mutex>

extern char **environ;

namespace winsim {

namespace {

struct Variable {
    wstring16 name;  // as first set
    wstring16 value;
};

struct Environment {
    std::mutex lock;
    bool seeded = false;
    unsigned generation = 0;  // of the host whose variables were put in
    std::map<wstring16, Variable> byFoldedName;
};

Environment &TheEnvironment()
{
    static Environment *environment = new Environment;  // outlives every static destructor
    return *environment;
}

const char16_t *const kWindowsDefaults[][2] = {
    {u"SystemDrive", u"C:"},
    {u"SystemRoot", u"C:\\Windows"},
    {u"windir", u"C:\\Windows"},
    {u"ProgramData", u"C:\\ProgramData"},
    {u"ProgramFiles", u"C:\\Program Files"},
    {u"TEMP", u"C:\\Windows\\Temp"},
    {u"TMP", u"C:\\Windows\\Temp"},
    {u"COMPUTERNAME", u"WINSIM-HOST"},
    {u"USERNAME", u"SYSTEM"},
};

void Put(Environment &env, const wstring16 &name, const wstring16 &value, bool replace)
{
    const wstring16 key = FoldUpper(name);
    auto found = env.byFoldedName.find(key);
    if (found == env.byFoldedName.end())
        env.byFoldedName.emplace(key, Variable{name, value});
    else if (replace)
        found->second.value = value;
}

// Called with the lock held.
void SeedOnce(Environment &env)
{
    const Host &host = CurrentHost();
    const unsigned generation = HostGeneration();
    if (env.seeded && env.generation == generation)
        return;
    const bool replaced = env.seeded;
    env.seeded = true;
    env.generation = generation;
    // The host's variables win over the Linux process's; another host made current
    // starts again from its own variables and the defaults.
    if (replaced)
        env.byFoldedName.clear();
    for (const auto &variable : host.environment)
        Put(env, variable.first, variable.second, true);
    if (replaced) {
        for (const auto &pair : kWindowsDefaults)
            Put(env, pair[0], pair[1], false);
        return;
    }
    for (char **entry = environ; entry != NULL && *entry != NULL; ++entry) {
        const char *text = *entry;
        const char *equals = strchr(text, '=');
        if (equals == NULL || equals == text)
            continue;
        Put(env, FromUtf8(std::string(text, equals)), FromUtf8(equals + 1), false);
    }
    for (const auto &pair : kWindowsDefaults)
        Put(env, pair[0], pair[1], false);
}

bool ValidName(const WCHAR *name)
{
    // A name holds no '=' after its first character ("=C:" is a valid Windows name).
    if (name == NULL || name[0] == 0)
        return false;
    for (const WCHAR *c = name + 1; *c != 0; ++c) {
        if (*c == u'=')
            return false;
    }
    return true;
}

} // namespace

bool LookupEnvironmentVariable(const wstring16 &name, wstring16 &value)
{
    Environment &env = TheEnvironment();
    std::lock_guard<std::mutex> guard(env.lock);
    SeedOnce(env);
    auto found = env.byFoldedName.find(FoldUpper(name));
    if (found == env.byFoldedName.end())
        return false;
    value = found->second.value;
    return true;
}

wstring16 ExpandEnvironmentText(const wstring16 &source)
{
    // A %name% of a defined variable is replaced; anything else, an unknown name or a lone
    // '%', stays as written.
    wstring16 out;
    size_t at = 0;
    while (at < source.size()) {
        if (source[at] != u'%') {
            const size_t next = source.find(u'%', at);
            const size_t end = next == wstring16::npos ? source.size() : next;
            out.append(source, at, end - at);
            at = end;
            continue;
        }
        const size_t close = source.find(u'%', at + 1);
        if (close == wstring16::npos) {
            out.append(source, at, wstring16::npos);
            break;
        }
        wstring16 value;
        const wstring16 name = source.substr(at + 1, close - at - 1);
        if (!name.empty() && LookupEnvironmentVariable(name, value))
            out += value;
        else
            out.append(source, at, close - at + 1);
        at = close + 1;
    }
    return out;
}

void ResetEnvironment(bool seedFromProcess)
{
    Environment &env = TheEnvironment();
    std::lock_guard<std::mutex> guard(env.lock);
    env.byFoldedName.clear();
    env.seeded = false;
    if (!seedFromProcess) {
        env.seeded = true;
        CurrentHost();
        env.generation = HostGeneration();
        for (const auto &pair : kWindowsDefaults)
            Put(env, pair[0], pair[1], false);
    }
}

std::vector<std::pair<std::u16string, std::u16string>> EnvironmentVariables()
{
    Environment &env = TheEnvironment();
    std::lock_guard<std::mutex> guard(env.lock);
    SeedOnce(env);
    std::vector<std::pair<std::u16string, std::u16string>> all;
    for (const auto &entry : env.byFoldedName)
        all.emplace_back(entry.second.name, entry.second.value);
    return all;
}

namespace {

DWORD SetVariable(const WCHAR *name, const WCHAR *value)
{
    if (!ValidName(name))
        return ERROR_INVALID_PARAMETER;
    Environment &env = TheEnvironment();
    std::lock_guard<std::mutex> guard(env.lock);
    SeedOnce(env);
    if (value == NULL)
        env.byFoldedName.erase(FoldUpper(wstring16(name)));  // deleting a missing name succeeds
    else
        Put(env, name, value, true);
    return ERROR_SUCCESS;
}

} // namespace

} // namespace winsim

using namespace winsim;

EXTERN_C DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize)
{
    wstring16 value;
    if (lpName == NULL || lpName[0] == 0 || !LookupEnvironmentVariable(lpName, value))
        return Fail(ERROR_ENVVAR_NOT_FOUND, DWORD(0));
    if (lpBuffer == NULL || value.size() + 1 > nSize)
        return DWORD(value.size() + 1);  // the size needed, terminator included; buffer untouched
    value.copy(lpBuffer, value.size());
    lpBuffer[value.size()] = 0;
    return DWORD(value.size());  // an empty value answers 0 without touching the last error
}

EXTERN_C BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue)
{
    const DWORD error = SetVariable(lpName, lpValue);
    return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
}

EXTERN_C DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize)
{
    Fault fault;
    if (TakeFault("ExpandEnvironmentStringsW", lpSrc == NULL ? wstring16() : wstring16(lpSrc), &fault))
        return Fail(fault.error, DWORD(0));
    if (lpSrc == NULL)
        return Fail(ERROR_INVALID_PARAMETER, DWORD(0));
    const wstring16 expanded = ExpandEnvironmentText(lpSrc);
    const DWORD needed = DWORD(expanded.size() + 1);
    if (lpDst == NULL || needed > nSize)
        return needed;
    expanded.copy(lpDst, expanded.size());
    lpDst[expanded.size()] = 0;
    return needed;
}
