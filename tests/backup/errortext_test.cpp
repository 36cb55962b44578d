// The error text that every requester message carries.
#include <libwinclass/backup/errortext.h>

#include <liblocal/local.h>
#include <support/capture.h>
#include <support/wine.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using winclass::FormatErrorText;

class ErrorText : public ::testing::Test {
protected:
    void SetUp() override
    {
        Debug = 3;
        std::memset(buffer_, '#', sizeof buffer_);
        buffer_[sizeof buffer_ - 1] = '\0';
    }
    void TearDown() override { Debug = 0; }

    bool Untouched() const
    {
        for (size_t i = 0; i + 1 < sizeof buffer_; ++i)
            if (buffer_[i] != '#')
                return false;
        return true;
    }

    char buffer_[2048];
    tvtest::OutputCapture capture_;
};

TEST_F(ErrorText, WindowsCodeGivesTheSystemText)
{
    FormatErrorText(ERROR_FILE_NOT_FOUND, 1024, buffer_);
    const std::string text = buffer_;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find("Unknown error"), std::string::npos) << text;
    EXPECT_EQ(text.find("Error code"), std::string::npos) << text;
    TV_SKIP_UNDER_WINE("its system texts are worded differently");
    EXPECT_EQ(text, "The system cannot find the file specified.");
}

TEST_F(ErrorText, CodeWithoutATextNamesItselfInHexAndItsKindFollowsTheFacilityBits)
{
    FormatErrorText(0x20001234, 1024, buffer_);
    EXPECT_STREQ(buffer_, "Unknown error (Error code 0x20001234)");
    FormatErrorText(0x2000000A, 1024, buffer_);
    EXPECT_STREQ(buffer_, "Unknown error (Error code 0x2000000a)") << "lower case, no leading zeros";
    struct Case {
        uint32_t code;
        int kind;
    };
    const std::vector<Case> cases = {
        {0x80042301, VO_ERR_HRESULT},  // a VSS code: interface facility
        {0x00040005, VO_ERR_HRESULT},  // the facility alone decides, not the severity
        {0xE0040001, VO_ERR_HRESULT},  // bits above the facility field are not looked at
        {0x80070005, VO_ERR_WIN32},    // an HRESULT of another facility
        {0x80140000, VO_ERR_WIN32},
        {5, VO_ERR_WIN32},
    };
    for (const Case &c : cases) {
        FormatErrorText(c.code, 1024, buffer_);
        EXPECT_EQ(static_cast<uint32_t>(vo_error_get_last()), c.code);
        EXPECT_EQ(vo_error_get_last_kind(), c.kind) << std::hex << c.code;
    }
}

TEST_F(ErrorText, SmallBufferIsLeftAsItWas)
{
    vo_error_set_last(7, VO_ERR_ERRNO);
    FormatErrorText(ERROR_ACCESS_DENIED, 1023, buffer_);
    EXPECT_TRUE(Untouched());
    EXPECT_EQ(vo_error_get_last(), 7) << "a refusal records nothing";
    const std::vector<std::string> lines = capture_.debugLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Buffer size for error message is too small"), std::string::npos);
}

TEST_F(ErrorText, NullBufferIsRefusedWithALogLine)
{
    FormatErrorText(ERROR_ACCESS_DENIED, 1024, nullptr);
    const std::vector<std::string> lines = capture_.debugLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Invalid input argument found while processing error codes for error strings."),
              std::string::npos);
}

TEST_F(ErrorText, RefusalsAreQuietBelowTheSetupLevel)
{
    Debug = 2;
    FormatErrorText(ERROR_ACCESS_DENIED, 10, buffer_);
    FormatErrorText(ERROR_ACCESS_DENIED, 1024, nullptr);
    EXPECT_TRUE(capture_.debugLines().empty());
    VoTrace = 0x4;
    FormatErrorText(ERROR_ACCESS_DENIED, 10, buffer_);
    VoTrace = 0;
    EXPECT_EQ(capture_.debugLines().size(), 1u) << "the set-up trace bit is enough";
}

} // namespace
