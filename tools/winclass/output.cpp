#include "output.h"

#include <platform/tvplatform.h>
#include <libwinclass/wmi.h>
#include <liblocal/messages.h>

#include <cstdio>

namespace winclass {

namespace {

// Severity with which the client's save program prints a failure it was handed.
const int kSeverityError = 2;

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

void Output::LibraryMessage(struct vo_msg *message)
{
    if (message == NULL)
        return;
    msg_print_handle(message, kSeverityError);
    std::string text = msg_text(message);
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    document_["error"] = text;
    document_["messageNumber"] = msg_number(message);
    msg_free(message);
}

int Output::Finish(int exitCode)
{
    if (json_) {
        document_["ok"] = exitCode == 0;
        std::printf("%s\n", document_.dump(2).c_str());
    }
    std::fflush(stdout);
    return exitCode;
}

Progress::Progress(const Output &output, bool terminal, uint64_t totalFiles, uint64_t totalBytes)
    : output_(output), terminal_(terminal && !output.Json()), totalFiles_(totalFiles), totalBytes_(totalBytes)
{
}

void Progress::FileDone(const std::string &path, uint64_t bytes)
{
    ++files_;
    bytes_ += bytes;
    if (!terminal_) {
        output_.Line("copied " + path + " (" + std::to_string(bytes) + " bytes)");
        return;
    }
    // Redraw only when the bar moves: a terminal is slow next to a small file.
    uint64_t done = totalBytes_ ? bytes_ * 100 / totalBytes_ : files_ * 100 / (totalFiles_ ? totalFiles_ : 1);
    int percent = int(done > 100 ? 100 : done);
    if (percent == drawnPercent_ && files_ != totalFiles_)
        return;
    drawnPercent_ = percent;
    const int width = 30;
    std::string bar(size_t(percent * width / 100), '#');
    bar.resize(width, '.');
    std::printf("\r[%s] %3d%%  %llu/%llu files  %s", bar.c_str(), percent, (unsigned long long)files_,
                (unsigned long long)totalFiles_, HumanSize(bytes_).c_str());
    std::fflush(stdout);
}

void Progress::Finish()
{
    if (terminal_ && drawnPercent_ >= 0)
        std::printf("\n");
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
