// Collects what liblocal prints (messages and debug lines) while an OutputCapture lives,
// through the runtime's output hook.
#pragma once

#include <liblocal/output.h>

#include <mutex>
#include <string>
#include <vector>

namespace tvtest {

struct CapturedMessage {
    int number;
    int code;
    int severity;
    std::string text;
};

class OutputCapture {
public:
    OutputCapture() { vo_set_output_hook(&OutputCapture::Receive, this); }
    ~OutputCapture() { vo_set_output_hook(nullptr, nullptr); }
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    std::vector<CapturedMessage> messages() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

    std::vector<std::string> debugLines() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return debugLines_;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
        debugLines_.clear();
    }

private:
    static void Receive(void *context, int kind, int number, int code, int severity, const char *text)
    {
        OutputCapture *self = static_cast<OutputCapture *>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (kind == VO_OUTPUT_MESSAGE)
            self->messages_.push_back(CapturedMessage{number, code, severity, text});
        else if (kind == VO_OUTPUT_DEBUG)
            self->debugLines_.push_back(text);
    }

    mutable std::mutex mutex_;
    std::vector<CapturedMessage> messages_;
    std::vector<std::string> debugLines_;
};

} // namespace tvtest
