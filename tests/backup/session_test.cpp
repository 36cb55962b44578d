// The backup session on the default simulated host: set-up, the snapshot context, the
// failures that come back as messages, teardown and a new session after it. Every test
// runs in its own process, so each starts from a freshly loaded library.
#include <libwinclass/backup.h>

#include <liblocal/local.h>
#include <backup/messagecheck.h>
#include <support/capture.h>
#include <writers/installdir.h>

#include <winsim/host.h>
#include <winsim/vss.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using tvtest::ExpectMessage;
using tvtest::Logged;

class Session : public tvtest::InstallDirFixture {
protected:
    void SetUp() override
    {
        InstallDirFixture::SetUp();
        Debug = 5;
    }
    void TearDown() override
    {
        vsscr_uninit_backup();
        Debug = 0;
        InstallDirFixture::TearDown();
    }

    tvtest::OutputCapture capture_;
};

TEST_F(Session, InitSetsUpComSecurityTheRequesterAndItsLog)
{
    UseInstallDir();
    EXPECT_SUCCESS(vsscr_init_backup(2, 1));

    EXPECT_EQ(winsim::CurrentComApartment(), winsim::ComApartment::MultiThreaded);
    EXPECT_EQ(winsim::ComInitCount(), 1u);
    const winsim::ComSecurity security = winsim::ComProcessSecurity();
    EXPECT_TRUE(security.initialized);
    EXPECT_EQ(security.authnLevel, DWORD(RPC_C_AUTHN_LEVEL_CONNECT));
    EXPECT_EQ(security.impLevel, DWORD(RPC_C_IMP_LEVEL_IMPERSONATE));
    EXPECT_EQ(security.capabilities, DWORD(EOAC_STATIC_CLOAKING));

    EXPECT_TRUE(Logged(capture_, "VSS .. COM library initialized."));
    EXPECT_TRUE(Logged(capture_, "VSS .. CoInitializeSecurity succeeded .. "));
    EXPECT_TRUE(Logged(capture_, "CVssSysReqBackup::Init(): Successfully updated writer list."));
    EXPECT_TRUE(Logged(capture_, "VSS .. Setting context to VSS_CTX_BACKUP .. "));

    char *logPath = path_concat(vo_get_logsdir(), "vsscr.log");
    EXPECT_EQ(vo_stat(logPath, nullptr), 0) << logPath << " is the requester's log";
    free(logPath);
}

TEST_F(Session, SecondInitInOneSessionChangesNothing)
{
    UseInstallDir();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    capture_.clear();
    EXPECT_SUCCESS(vsscr_init_backup(0, 1));
    EXPECT_TRUE(capture_.debugLines().empty()) << "nothing is done again";
    EXPECT_EQ(winsim::ComInitCount(), 1u);
}

TEST_F(Session, BlockBasedBackupBeforeInitChoosesApplicationRollback)
{
    UseInstallDir();
    vsscr_set_bbb_backup();
    EXPECT_SUCCESS(vsscr_init_backup(1, 0));
    EXPECT_TRUE(Logged(capture_, "VSS .. Setting context to VSS_CTX_APP_ROLLBACK .. "));
    EXPECT_FALSE(Logged(capture_, "VSS_CTX_BACKUP"));
}

TEST_F(Session, BlockBasedBackupAfterInitLeavesTheSessionAlone)
{
    UseInstallDir();
    EXPECT_SUCCESS(vsscr_init_backup(1, 0));
    vsscr_set_bbb_backup();
    EXPECT_SUCCESS(vsscr_init_backup(1, 0));
    EXPECT_FALSE(Logged(capture_, "VSS_CTX_APP_ROLLBACK"));

    // A teardown clears the setting with the rest of the session.
    vsscr_uninit_backup();
    capture_.clear();
    EXPECT_SUCCESS(vsscr_init_backup(1, 0));
    EXPECT_TRUE(Logged(capture_, "VSS .. Setting context to VSS_CTX_BACKUP .. "));
}

TEST_F(Session, SecuritySetByTheHostProgramFirstIsKept)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY,
                                   nullptr, EOAC_NONE, nullptr),
              S_OK);
    UseInstallDir();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_EQ(winsim::ComInitCount(), 2u) << "the library's own CoInitializeEx, balanced at teardown";
    EXPECT_TRUE(Logged(capture_, "VSS .. CoInitializeSecurity succeeded .. ")) << "RPC_E_TOO_LATE is success";
    const winsim::ComSecurity security = winsim::ComProcessSecurity();
    EXPECT_EQ(security.authnLevel, DWORD(RPC_C_AUTHN_LEVEL_NONE));
    EXPECT_EQ(security.impLevel, DWORD(RPC_C_IMP_LEVEL_IDENTIFY));
    vsscr_uninit_backup();
    EXPECT_EQ(winsim::ComInitCount(), 1u);
    CoUninitialize();
}

TEST_F(Session, ThreadInAnotherApartmentFailsThenInitCanBeRepeated)
{
    UseInstallDir();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    // The set-up's own failure stays inside: the caller learns that there is no requester.
    ExpectMessage(vsscr_init_backup(2, 0), 113658, 53000, "VSS common requester is not initialized.\n");
    EXPECT_FALSE(winsim::ComProcessSecurity().initialized) << "security comes after COM";
    EXPECT_EQ(winsim::ComInitCount(), 1u) << "only the test's own apartment";
    CoUninitialize();

    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_EQ(winsim::CurrentComApartment(), winsim::ComApartment::MultiThreaded);
}

TEST_F(Session, MissingInstallDirFailsThenTheEmptyListStands)
{
    ExpectMessage(vsscr_init_backup(2, 0), 153921, 53000, "Unable to Populate Windows VSS supported writer list\n");
    EXPECT_TRUE(Logged(capture_, "Unable to find Tolvane install directory."));

    UseInstallDir();
    capture_.clear();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_TRUE(Logged(capture_, "Supported writer list is already populated."));
    EXPECT_FALSE(Logged(capture_, "VSS .. COM library initialized.")) << "COM was set up by the first call";
}

TEST_F(Session, RequesterRefusingTheBackupFailsAndInitCanBeRepeated)
{
    UseInstallDir();
    winsim::InjectHresult("IVssBackupComponents::InitializeForBackup", u"", E_ACCESSDENIED);
    ExpectMessage(vsscr_init_backup(2, 0), 113655, 53000, "Unable to initialize VSS common requester for backup.\n");
    capture_.clear();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_TRUE(Logged(capture_, "VSS .. Setting context to VSS_CTX_BACKUP .. ")) << "the session was not open";
}

TEST_F(Session, UninitThenInitSkipsComSetUp)
{
    UseInstallDir();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    vsscr_uninit_backup();
    EXPECT_EQ(winsim::ComInitCount(), 0u) << "COM released with the session";

    capture_.clear();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_FALSE(Logged(capture_, "VSS .. COM library initialized."));
    EXPECT_FALSE(Logged(capture_, "CoInitializeSecurity"));
    EXPECT_EQ(winsim::ComInitCount(), 0u) << "no new CoInitializeEx";
    EXPECT_TRUE(Logged(capture_, "Supported writer list is already populated."));
}

TEST_F(Session, DestroyReleasesComAndAllowsANewSession)
{
    UseInstallDir();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_SUCCESS(vsscr_backup_complete());
    vsscr_destroy_snapshot_set();
    EXPECT_EQ(winsim::ComInitCount(), 0u);
    capture_.clear();
    EXPECT_SUCCESS(vsscr_init_backup(2, 0));
    EXPECT_TRUE(Logged(capture_, "VSS .. Setting context to VSS_CTX_BACKUP .. ")) << "a new session opened";
}

TEST_F(Session, TeardownBeforeAnySessionIsHarmless)
{
    EXPECT_SUCCESS(vsscr_backup_complete());
    EXPECT_SUCCESS(vsscr_select_for_backup());
    vsscr_destroy_snapshot_set();
    vsscr_uninit_backup();
    vsscr_free_writercomponent_struct(nullptr);
    EXPECT_EQ(winsim::ComInitCount(), 0u) << "nothing set COM up";
    EXPECT_FALSE(winsim::ComProcessSecurity().initialized);
    EXPECT_EQ(winsim::LiveVssObjects(), 0u);
}

TEST_F(Session, ShadowPathTestsAreClearedByEitherTeardown)
{
    // Stand-ins registered over the library's, to see the teardown take them away.
    auto answerYes = [](const char *) { return 1; };
    auto rootYes = [](const char *, char *, size_t) { return 1; };
    set_shadow_callbacks(answerYes, rootYes, rootYes);
    ASSERT_EQ(vo_is_snapshot_path("C:\\x"), 1);
    vsscr_uninit_backup();
    EXPECT_EQ(vo_is_snapshot_path("C:\\x"), 0);

    set_shadow_callbacks(answerYes, rootYes, rootYes);
    vsscr_destroy_snapshot_set();
    EXPECT_EQ(vo_is_snapshot_path("C:\\x"), 0);
    EXPECT_EQ(vo_is_snapshot_root("C:\\", nullptr, 0), 0);
}

} // namespace
