// Where printed messages and debug lines go: the output hook, standard error and the
// log files in the logs directory.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include "support/capture.h"
#include "testing.h"

#include <cerrno>
#include <string>
#include <tuple>
#include <utility>

namespace {

// A message the hook received, as one value: number, code, severity, text.
std::tuple<int, int, int, std::string> Parts(const tvtest::CapturedMessage &m)
{
    return std::make_tuple(m.number, m.code, m.severity, m.text);
}

// Points the logs directory at a fresh directory for the test.
class LogOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        logsDir_ = tvtest::UniqueDirectory("logs");
        tvtest::SetEnvironment("TLV_LOGSDIR", logsDir_.c_str());
        ASSERT_STREQ(vo_get_logsdir(), logsDir_.c_str());
    }
    void TearDown() override { tvtest::SetEnvironment("TLV_LOGSDIR", nullptr); }

    std::string LogFile(const char *name) const { return logsDir_ + "\\" + name; }

    std::string logsDir_;
};

TEST_F(LogOutput, PrintedOrCreatedMessageReachesTheHookWithAllItsParts)
{
    tvtest::OutputCapture capture;
    const int length = msg_print(94740, 55000, 2, "Storage Spaces: error=0x%x: %s.\n", VO_ARG_INT,
                                 inttostr(-2147024882), VO_ARG_TEXT, "Not enough memory");
    const std::string expected = "Storage Spaces: error=0x8007000e: Not enough memory.\n";
    EXPECT_EQ(length, int(expected.size()));
    const auto messages = capture.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(Parts(messages[0]), std::make_tuple(94740, 55000, 2, expected));
    EXPECT_TRUE(capture.debugLines().empty());
    {
        tvtest::OutputCapture capture;
        vo_msg *message = msg_create(108256, 55000, "CSV '%s' is in maintenance mode.\n", VO_ARG_NAME, "Volume1");
        ASSERT_NE(message, nullptr);
        EXPECT_TRUE(capture.messages().empty()) << "creating does not print";
        EXPECT_EQ(msg_print_handle(message, VO_SEV_ERROR), int(std::string(msg_text(message)).size()));
        msg_free(message);
        const auto messages = capture.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(Parts(messages[0]),
                  std::make_tuple(108256, 55000, int(VO_SEV_ERROR), std::string("CSV 'Volume1' is in maintenance mode.\n")));
    }
}

TEST_F(LogOutput, PrintedMessageGoesToStandardErrorAndTheMessageLog)
{
    ::testing::internal::CaptureStderr();
    msg_print(0, 2, 1, "no line end %s", VO_ARG_TEXT, "here");
    msg_print(0, 2, 1, "with line end\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no line end here\nwith line end\n");
    msg_print(108257, 55000, VO_SEV_ERROR, "Target cluster node was not specified for '%s'.\n", VO_ARG_TEXT, "CSV1");
    msg_print(94035, 52000, 18, "first warning\n");
    msg_print(1, 51000, VO_SEV_INFO, "moved");
    const std::string log = tvtest::ReadWholeFile(LogFile(VO_MESSAGE_LOG_NAME));
    EXPECT_NE(log.find(" error 108257 55000: Target cluster node was not specified for 'CSV1'.\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find(" warning 94035 52000: first warning\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" info 1 51000: moved\n"), std::string::npos) << log;
    EXPECT_LT(log.find("108257"), log.find("94035")) << "appended in order";
}

TEST_F(LogOutput, DebugLinesGoToTheHookAndTheDebugLogUnlessTheFormatIsNull)
{
    tvtest::OutputCapture capture;
    const char *noFormat = nullptr;
    debugprintf(noFormat);
    EXPECT_TRUE(capture.debugLines().empty());
    EXPECT_EQ(tvtest::Attributes(LogFile(VO_DEBUG_LOG_NAME)), INVALID_FILE_ATTRIBUTES);
    debugprintf("VSS Writer %s is %s\n", "{e8132975-6f93-4464-a53e-1050253ae220}", "supported");
    debugprintf("count=%d size=%llu", 3, 8589934592ULL);
    const auto lines = capture.debugLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "VSS Writer {e8132975-6f93-4464-a53e-1050253ae220} is supported\n");
    EXPECT_EQ(lines[1], "count=3 size=8589934592");
    EXPECT_TRUE(capture.messages().empty());

    const std::string log = tvtest::ReadWholeFile(LogFile(VO_DEBUG_LOG_NAME));
    EXPECT_NE(log.find("Z VSS Writer {e8132975-6f93-4464-a53e-1050253ae220} is supported\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Z count=3 size=8589934592\n"), std::string::npos) << "a line end is added: " << log;
    EXPECT_TRUE(tvtest::ReadWholeFile(LogFile(VO_MESSAGE_LOG_NAME)).empty()) << "debug lines stay out of it";
}

TEST_F(LogOutput, PrintingKeepsTheCallersErrorStateAndAClearedHookSeesNothing)
{
    SetLastError(ERROR_SHARING_VIOLATION);
    errno = ERANGE;
    vo_error_set_last(0x80042301, VO_ERR_HRESULT);
    msg_print(1, 2, 2, "%s", VO_ARG_TEXT, "message");
    debugprintf("line\n");
    const DWORD error = GetLastError();
    const int errnoValue = errno;
    EXPECT_EQ(std::make_pair(error, errnoValue), std::make_pair(DWORD(ERROR_SHARING_VIOLATION), int(ERANGE)));
    EXPECT_EQ(vo_error_get_last(), int(0x80042301));
    EXPECT_EQ(vo_error_get_last_kind(), VO_ERR_HRESULT);
    std::vector<tvtest::CapturedMessage> seen;
    {
        tvtest::OutputCapture capture;
        msg_print(1, 2, 2, "inside\n");
        seen = capture.messages();
    }
    ASSERT_EQ(seen.size(), 1u);
    tvtest::OutputCapture later;
    vo_set_output_hook(nullptr, nullptr);
    msg_print(2, 2, 2, "after clearing\n");
    debugprintf("after clearing\n");
    EXPECT_TRUE(later.messages().empty());
    EXPECT_TRUE(later.debugLines().empty());
}

TEST(LogsDirectory, UnwritableLogsDirectoryDoesNotStopPrinting)
{
    // A logs directory below a file cannot be created; printing still reaches the hook.
    const std::string blocker = tvtest::UniqueDirectory("blocker");
    ASSERT_EQ(vo_mkdirpath("C:\\tvtest\\liblocal", 1023), 1);
    ASSERT_TRUE(tvtest::WriteWholeFile(blocker, "a file, not a directory"));
    tvtest::SetEnvironment("TLV_LOGSDIR", (blocker + "\\logs").c_str());
    tvtest::OutputCapture capture;
    EXPECT_EQ(msg_print(7, 2, 2, "still shown\n"), 12);
    debugprintf("still written\n");
    EXPECT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.debugLines().size(), 1u);
    EXPECT_FALSE(tvtest::IsDirectory(blocker + "\\logs"));
}

} // namespace
