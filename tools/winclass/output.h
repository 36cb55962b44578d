// How the command reports: plain lines for a person, or one JSON document (--json) for a
// program. Failures are one line on standard error in both cases.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
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
    // A message the library returned: printed as the client's runtime prints messages,
    // recorded in the document, and freed. NULL does nothing.
    void LibraryMessage(struct vo_msg *message);
    // Prints the JSON document (in JSON mode) and gives back the exit code.
    int Finish(int exitCode);

private:
    bool json_;
    nlohmann::json document_ = nlohmann::json::object();
};

// Copy progress: a bar redrawn in place on a terminal, one line per file otherwise.
class Progress {
public:
    Progress(const Output &output, bool terminal, uint64_t totalFiles, uint64_t totalBytes);
    void FileDone(const std::string &path, uint64_t bytes);
    void Finish();

private:
    const Output &output_;
    bool terminal_;
    uint64_t totalFiles_, totalBytes_;
    uint64_t files_ = 0, bytes_ = 0;
    int drawnPercent_ = -1;
};

// The system's English text of a Win32 error code, without the line break.
std::string ErrorText(unsigned long code);
// 1536 -> "1.5 KiB".
std::string HumanSize(uint64_t bytes);

} // namespace winclass
