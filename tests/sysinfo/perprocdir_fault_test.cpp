// The per-process directory when no UUID can be made: no path, and the next call tries
// again. Linux only (faults are injected through winsim).
#include <libwinclass/hostinfo.h>

#include <platform/tvplatform.h>
#include <winsim/host.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PerProcessDirFaults, AUuidThatIsNotUniqueEnoughGivesNoPathUntilOneIs)
{
    const DWORD statuses[] = {RPC_S_UUID_LOCAL_ONLY, RPC_S_UUID_NO_ADDRESS};
    for (const DWORD status : statuses) {
        winsim::InjectError("UuidCreate", u"", status);
        EXPECT_EQ(get_unique_per_process_dir_path("C:\\scratch"), nullptr) << status;
    }
    const char *path = get_unique_per_process_dir_path("C:\\scratch");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path).size(), std::string("C:\\scratch\\").size() + 36) << path;
}

} // namespace
