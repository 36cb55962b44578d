// The debug log, the log files and the output hook.
#include <liblocal/debuglog.h>
#include <liblocal/output.h>
#include <liblocal/vofiles.h>
#include <liblocal/xalloc.h>

#include "internal.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>

int Debug = 0;
unsigned int VoTrace = 0;

namespace {

struct OutputHook {
    vo_output_hook hook = nullptr;
    void *context = nullptr;
};

std::mutex g_hookMutex;
OutputHook g_outputHook;

// Gregorian date of a count of days since 1970-01-01 (H. Hinnant's civil_from_days).
void CivilFromDays(long long days, int &year, unsigned &month, unsigned &day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<int>(yearOfEra + era * 400) + (month <= 2);
}

} // namespace

namespace vo {

std::string UtcTimestamp()
{
    using namespace std::chrono;
    const long long millis =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const long long seconds = millis / 1000;
    long long days = seconds / 86400;
    long long secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    int year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", year, month, day,
                  int(secondOfDay / 3600), int(secondOfDay / 60 % 60), int(secondOfDay % 60),
                  int(((millis % 1000) + 1000) % 1000));
    return text;
}

void AppendToLog(const char *fileName, const std::string &line)
{
    const wstr path = Widen(vo_get_logsdir()) + W("\\") + Widen(fileName);
    // FILE_APPEND_DATA alone makes every write land at the end, also when several
    // processes of the client share the log.
    FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void NotifyHook(int kind, int number, int code, int severity, const std::string &text)
{
    OutputHook current;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        current = g_outputHook;
    }
    if (current.hook != nullptr)
        current.hook(current.context, kind, number, code, severity, text.c_str());
}

} // namespace vo

void vo_set_output_hook(vo_output_hook hook, void *context)
{
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_outputHook.hook = hook;
    g_outputHook.context = hook ? context : nullptr;
}

void debugprintf(const char *format, ...)
{
    if (format == nullptr)
        return;
    vo::PreservedErrorState preserved;
    try {
        va_list args;
        va_start(args, format);
        const std::string text = vo::FormatV(format, args);
        va_end(args);

        std::string line = vo::UtcTimestamp() + " " + text;
        if (line.back() != '\n')
            line += '\n';
        vo::AppendToLog(VO_DEBUG_LOG_NAME, line);
        vo::NotifyHook(VO_OUTPUT_DEBUG, 0, 0, 0, text);
    } catch (const std::bad_alloc &) {
        vo_out_of_memory(0);
    }
}
