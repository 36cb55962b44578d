// What winsim's FormatMessageW refuses, and how loudly. Linux only.
#include <platform/tvplatform.h>

#include <winsim/host.h>

#include <gtest/gtest.h>

namespace {

TEST(FormatMessageLimits, StringsModulesAndOtherLanguagesAreRefusedAndBuffersAreLocalBlocks)
{
    WCHAR buffer[64];
    testing::internal::CaptureStderr();
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, W("%1"), 0, 0, buffer, 64, NULL), DWORD(0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("FormatMessageW"), std::string::npos);
    {
        WCHAR buffer[64];
        SetLastError(0);
        EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, NULL, ERROR_ACCESS_DENIED, MAKELANGID(0x07, 0x01), buffer,
                                 64, NULL),
                  DWORD(0));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_LANG_NOT_FOUND));
    }
    const size_t before = winsim::LiveLocalAllocations();
    LPWSTR text = NULL;
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, NULL, ERROR_ACCESS_DENIED,
                             0, reinterpret_cast<LPWSTR>(&text), 200, NULL),
              DWORD(0));
    EXPECT_EQ(winsim::LiveLocalAllocations(), before + 1);
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(winsim::LiveLocalAllocations(), before);
}

} // namespace
