#include "output.h"

#include <platform/tvplatform.h>
#include <libwinclass/wmi.h>
#include <liblocal/messages.h>

#include <chrono>
#include <cstdio>

namespace winclass {

namespace {

// Severity with which the client's save program prints a failure it was handed.
const int kSeverityError = 2;

uint64_t NowMilliseconds()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

std::string Clock(double seconds)
{
    char text[32];
    unsigned long long whole = (unsigned long long)seconds;
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

// The names VSS gives its own codes; the system has no text for most of them.
struct VssCodeName {
    unsigned long code;
    const char *name;
};
const VssCodeName kVssCodes[] = {
    {0x80042301, "VSS_E_BAD_STATE: the call is not allowed in this state of the backup"},
    {0x80042302, "VSS_E_UNEXPECTED: an unexpected error in the shadow-copy service"},
    {0x80042303, "VSS_E_PROVIDER_ALREADY_REGISTERED"},
    {0x80042304, "VSS_E_PROVIDER_NOT_REGISTERED"},
    {0x80042306, "VSS_E_PROVIDER_VETO: the provider refused the shadow copy"},
    {0x80042307, "VSS_E_PROVIDER_IN_USE"},
    {0x80042308, "VSS_E_OBJECT_NOT_FOUND: no such object"},
    {0x8004230C, "VSS_E_VOLUME_NOT_SUPPORTED: shadow copies of this volume are not supported"},
    {0x8004230D, "VSS_E_OBJECT_ALREADY_EXISTS"},
    {0x8004230E, "VSS_E_VOLUME_NOT_SUPPORTED_BY_PROVIDER"},
    {0x8004230F, "VSS_E_UNEXPECTED_PROVIDER_ERROR: the provider failed"},
    {0x80042310, "VSS_E_CORRUPT_XML_DOCUMENT"},
    {0x80042311, "VSS_E_INVALID_XML_DOCUMENT"},
    {0x80042312, "VSS_E_MAXIMUM_NUMBER_OF_VOLUMES_REACHED"},
    {0x80042313, "VSS_E_FLUSH_WRITES_TIMEOUT: writes could not be flushed in time"},
    {0x80042314, "VSS_E_HOLD_WRITES_TIMEOUT: writes could not be held in time"},
    {0x80042316, "VSS_E_SNAPSHOT_SET_IN_PROGRESS: another shadow copy is being made"},
    {0x80042317, "VSS_E_MAXIMUM_NUMBER_OF_SNAPSHOTS_REACHED"},
    {0x8004231F, "VSS_E_INSUFFICIENT_STORAGE: not enough shadow-copy storage"},
    {0x800423F0, "VSS_E_WRITERERROR_INCONSISTENTSNAPSHOT: a writer's data is not consistent"},
    {0x800423F1, "VSS_E_WRITERERROR_OUTOFRESOURCES: a writer ran out of resources"},
    {0x800423F2, "VSS_E_WRITERERROR_TIMEOUT: a writer timed out"},
    {0x800423F3, "VSS_E_WRITERERROR_RETRYABLE: a writer failed; trying again may succeed"},
    {0x800423F4, "VSS_E_WRITERERROR_NONRETRYABLE: a writer failed"},
};

} // namespace

void Output::Line(const std::string &text) const
{
    if (!json_)
        std::printf("%s\n", text.c_str());
}

void Output::Error(const std::string &text)
{
    std::fprintf(stderr, "winclass: %s\n", text.c_str());
    document_["error"] = text;
}

void Output::Warning(const std::string &text)
{
    std::fprintf(stderr, "winclass: warning: %s\n", text.c_str());
    document_["warnings"].push_back(text);
}

void Output::Notice(const std::string &text)
{
    Line(text);
    document_["notices"].push_back(text);
}

void Output::LibraryMessage(struct vo_msg *message, const std::string &cause)
{
    if (message == NULL)
        return;
    msg_print_handle(message, kSeverityError);
    std::string text = msg_text(message);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!cause.empty()) {
        std::fprintf(stderr, "winclass: %s\n", cause.c_str());
        text += " " + cause;
    }
    document_["error"] = text;
    document_["messageNumber"] = msg_number(message);
    msg_free(message);
}

int Output::Finish(int exitCode)
{
    if (beforeFinish_) {
        std::function<void(Output &, int)> hook;
        hook.swap(beforeFinish_);
        hook(*this, exitCode);
    }
    if (json_) {
        document_["ok"] = exitCode == 0;
        document_["exitCode"] = exitCode;
        // Text that is not UTF-8 never ends the command: it shows as U+FFFD.
        std::printf("%s\n", document_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return exitCode;
}

Progress::Progress(const Output &output, bool terminal, uint64_t totalFiles, uint64_t totalBytes, const char *verb)
    : output_(output), terminal_(terminal && !output.Json()), verb_(verb), totalFiles_(totalFiles), totalBytes_(totalBytes),
      started_(NowMilliseconds())
{
}

double Progress::ElapsedSeconds() const { return double(NowMilliseconds() - started_) / 1000.0; }

void Progress::Bytes(uint64_t bytes)
{
    bytes_ += bytes;
    Draw(false);
}

void Progress::FileDone(const std::string &path, uint64_t bytes)
{
    ++files_;
    if (!terminal_) {
        output_.Line(std::string(verb_) + " " + path + " (" + std::to_string(bytes) + " bytes)");
        return;
    }
    Draw(files_ == totalFiles_);
}

void Progress::Draw(bool force)
{
    // A terminal is slow next to a small file: at most ten redraws a second.
    const uint64_t now = NowMilliseconds();
    if (!terminal_ || (!force && drawn_ && now - drawnAt_ < 100))
        return;
    drawn_ = true;
    drawnAt_ = now;
    uint64_t done = totalBytes_ ? bytes_ * 100 / totalBytes_ : files_ * 100 / (totalFiles_ ? totalFiles_ : 1);
    int percent = int(done > 100 ? 100 : done);
    const int width = 24;
    std::string bar(size_t(percent * width / 100), '#');
    bar.resize(width, '.');
    const double seconds = ElapsedSeconds();
    const std::string rate = seconds > 0 ? HumanSize(uint64_t(double(bytes_) / seconds)) + "/s" : std::string("-");
    std::printf("\r[%s] %3d%%  %llu/%llu files  %s of %s  %s  %s ", bar.c_str(), percent,
                (unsigned long long)files_, (unsigned long long)totalFiles_, HumanSize(bytes_).c_str(),
                HumanSize(totalBytes_).c_str(), rate.c_str(), Clock(seconds).c_str());
    std::fflush(stdout);
}

void Progress::Finish()
{
    if (terminal_ && drawn_) {
        Draw(true);
        std::printf("\n");
    }
}

std::string ErrorText(unsigned long code)
{
    char text[1024] = "";
    format_system_message_utf8(DWORD(code), text, int(sizeof text));
    std::string result(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result.empty() ? "error " + std::to_string(code) : result;
}

std::string WriterStateName(int state)
{
    static const char *const kNames[] = {"VSS_WS_UNKNOWN",
                                       "VSS_WS_STABLE",
                                       "VSS_WS_WAITING_FOR_FREEZE",
                                       "VSS_WS_WAITING_FOR_THAW",
                                       "VSS_WS_WAITING_FOR_POST_SNAPSHOT",
                                       "VSS_WS_WAITING_FOR_BACKUP_COMPLETE",
                                       "VSS_WS_FAILED_AT_IDENTIFY",
                                       "VSS_WS_FAILED_AT_PREPARE_BACKUP",
                                       "VSS_WS_FAILED_AT_PREPARE_SNAPSHOT",
                                       "VSS_WS_FAILED_AT_FREEZE",
                                       "VSS_WS_FAILED_AT_THAW",
                                       "VSS_WS_FAILED_AT_POST_SNAPSHOT",
                                       "VSS_WS_FAILED_AT_BACKUP_COMPLETE",
                                       "VSS_WS_FAILED_AT_PRE_RESTORE",
                                       "VSS_WS_FAILED_AT_POST_RESTORE",
                                       "VSS_WS_FAILED_AT_BACKUPSHUTDOWN"};
    return state >= 0 && size_t(state) < sizeof kNames / sizeof kNames[0] ? kNames[state]
                                                                       : "(" + std::to_string(state) + ")";
}

std::string HresultText(long hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", (unsigned long)(uint32_t)hr);
    for (const VssCodeName &known : kVssCodes)
        if (known.code == (unsigned long)(uint32_t)hr)
            return std::string(code) + " " + known.name;
    // A Win32 code wrapped as an HRESULT has the code's own text.
    const uint32_t value = uint32_t(hr);
    const unsigned long lookup = (value & 0xFFFF0000u) == 0x80070000u ? (value & 0xFFFFu) : value;
    std::string text = ErrorText(lookup);
    return text.rfind("error ", 0) == 0 ? std::string(code) : std::string(code) + " " + text;
}

std::string TimeText(const FILETIME &time)
{
    const uint64_t ticks = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const int64_t seconds = int64_t(ticks / 10000000) - 11644473600LL;
    int64_t days = seconds / 86400, secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    // Civil date of a day count from 1970-01-01 (proleptic Gregorian calendar).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", (long long)year, (long long)month,
                  (long long)day, (long long)(secondOfDay / 3600), (long long)(secondOfDay / 60 % 60),
                  (long long)(secondOfDay % 60));
    return text;
}

bool TimeFromText(const std::string &text, FILETIME *time)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (text.size() != 20 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute,
                                         &second, &zone) != 7 || zone != 'Z' || year < 1601 || month < 1 ||
        month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
        return false;
    // Days from 1970-01-01 of a civil date (proleptic Gregorian calendar), the inverse of
    // TimeText's.
    const int64_t y = year - (month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yearOfEra = y - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468;
    const uint64_t ticks = uint64_t(days * 86400 + hour * 3600 + minute * 60 + second + 11644473600LL) * 10000000u;
    time->dwLowDateTime = DWORD(ticks & 0xFFFFFFFFu);
    time->dwHighDateTime = DWORD(ticks >> 32);
    return true;
}

std::string HumanSize(uint64_t bytes)
{
    static const char *const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu bytes", (unsigned long long)bytes);
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

} // namespace winclass
