// Checks of what the exported requester functions answer: a message handle, NULL for
// success, freed once it has been checked; and the debug lines a capture collected.
#pragma once

#include <liblocal/local.h>
#include <support/capture.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tvtest {

// A message handle, freed when the check is done.
struct Message {
    explicit Message(vo_msg *handle) : handle(handle) {}
    ~Message() { msg_free(handle); }
    Message(const Message &) = delete;
    Message &operator=(const Message &) = delete;
    vo_msg *handle;
};

inline void ExpectMessage(vo_msg *handle, int number, int code, const std::string &text)
{
    Message message(handle);
    ASSERT_NE(nullptr, message.handle) << "expected message " << number;
    EXPECT_EQ(number, msg_number(message.handle));
    EXPECT_EQ(code, msg_code(message.handle));
    EXPECT_EQ(text, msg_text(message.handle));
}

// True when a debug line holds that text.
inline bool Logged(const OutputCapture &capture, const std::string &text)
{
    const std::vector<std::string> lines = capture.debugLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string &line) { return line.find(text) != std::string::npos; });
}

} // namespace tvtest

// A macro, so that a failure names the line of the call that failed.
#define EXPECT_SUCCESS(call)                                                      \
    do {                                                                          \
        tvtest::Message message_(call);                                           \
        EXPECT_EQ(nullptr, message_.handle) << msg_text(message_.handle);         \
    } while (0)
