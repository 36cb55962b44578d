// How the command reports: plain lines for a person, or one JSON document (--json) for a
// program. Failures are one line on standard error in both cases.
#pragma once

#include <platform/tvplatform.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <string>

struct vo_msg;

namespace winclass {

class Output {
public:
    explicit Output(bool json) : json_(json) {}

    bool Json() const { return json_; }
    // A line for a person; nothing in JSON mode.
    void Line(const std::string &text) const;
    // What the command found, printed as one document at the end in JSON mode.
    nlohmann::json &Document() { return document_; }
    // A failure of the command itself: "winclass: <text>" on standard error.
    void Error(const std::string &text);
    // Something the user must know although the command goes on: on standard error, and
    // in the document's "warnings".
    void Warning(const std::string &text);
    // Something the command chose not to do: a line, and in the document's "notices".
    void Notice(const std::string &text);
    // A message the library returned: printed as the client's runtime prints messages,
    // recorded in the document, and freed; cause (when given) is printed after it on its
    // own line and joins the document's error. NULL does nothing.
    void LibraryMessage(struct vo_msg *message, const std::string &cause = std::string());
    // Prints the JSON document (in JSON mode) and gives back the exit code; the hook set
    // last runs first.
    int Finish(int exitCode);
    void BeforeFinish(std::function<void(Output &, int exitCode)> hook) { beforeFinish_ = std::move(hook); }

private:
    std::function<void(Output &, int)> beforeFinish_;
    bool json_;
    nlohmann::json document_ = nlohmann::json::object();
};

// Copy progress: on a terminal a line redrawn in place (bytes also within a large file,
// rate, elapsed time); otherwise one line per file, "<verb> <path> (<n> bytes)".
class Progress {
public:
    Progress(const Output &output, bool terminal, uint64_t totalFiles, uint64_t totalBytes,
             const char *verb = "copied");
    void Bytes(uint64_t bytes);
    void FileDone(const std::string &path, uint64_t bytes);
    void Finish();
    double ElapsedSeconds() const;

private:
    void Draw(bool force);

    const Output &output_;
    bool terminal_;
    const char *verb_;
    uint64_t totalFiles_, totalBytes_;
    uint64_t files_ = 0, bytes_ = 0;
    uint64_t started_ = 0, drawnAt_ = 0;  // milliseconds of the system clock
    bool drawn_ = false;
};

// The system's English text of a Win32 error code, without the line break.
std::string ErrorText(unsigned long code);
// 0x80042301 VSS_E_BAD_STATE: the text, for an HRESULT.
std::string HresultText(long hr);
// VSS_WS_STABLE: the name of a writer state (a VSS_WRITER_STATE value).
std::string WriterStateName(int state);
// 2025-03-01T12:00:00Z: a FILETIME (100 ns since 1601, UTC) as ISO 8601, whole seconds;
// TimeFromText reads it back (false for any other text).
std::string TimeText(const FILETIME &time);
bool TimeFromText(const std::string &text, FILETIME *time);
// 1536 -> "1.5 KiB".
std::string HumanSize(uint64_t bytes);

} // namespace winclass
