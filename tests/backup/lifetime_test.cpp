// What the runtime and the shadow-copy service see of a backup session over its life: the
// shadow-path tests the library registered when it was loaded, the snapshot context it
// chose, and what the two teardowns take away.
#include <libwinclass/backup.h>

#include <liblocal/local.h>
#include <backup/messagecheck.h>
#include <support/capture.h>
#include <writers/installdir.h>

#include <winsim/host.h>
#include <winsim/vss.h>
#include <vss.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const WCHAR kShadowDevice[] = W("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy77\\");
const char kShadowFile[] = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy77\\Windows\\win.ini";

class Lifetime : public tvtest::InstallDirFixture {
protected:
    void SetUp() override
    {
        InstallDirFixture::SetUp();
        UseInstallDir();
    }
    void TearDown() override
    {
        vsscr_uninit_backup();
        InstallDirFixture::TearDown();
    }

    // Puts C:\ into the volume snapshot map with a shadow device of the test's choosing.
    void MapSystemVolume()
    {
        uint32_t alreadyPresent = tvtest::kMarker;
        EXPECT_SUCCESS(vsscr_add_to_volume_table_EX(W("C:\\"), 1, nullptr, &alreadyPresent, 1, kShadowDevice));
    }

    // Snapshots the system volume and answers the context the service recorded for it.
    LONG SnapshotContext()
    {
        EXPECT_SUCCESS(vsscr_add_savepath("C:\\Windows"));
        WCHAR document[1024] = {};
        GUID snapshotSetId = {};
        EXPECT_SUCCESS(vsscr_process_snap(1024, document, &snapshotSetId));
        const std::vector<winsim::VssSnapshotInfo> snapshots = winsim::VssSnapshots();
        if (snapshots.empty())
            return -1;
        return snapshots.back().context;
    }
};

TEST_F(Lifetime, RuntimeAsksTheLibraryFromLoadUntilTheSnapshotSetIsDestroyed)
{
    EXPECT_EQ(vo_is_snapshot_path(kShadowFile), 0) << "nothing mapped yet";
    EXPECT_SUCCESS(vsscr_init_backup(1, 0));
    MapSystemVolume();
    EXPECT_EQ(vo_is_snapshot_path(kShadowFile), 1) << "the library's test, registered at load, answers";
    char live[512] = {};
    EXPECT_EQ(vo_snapshot_to_live(kShadowFile, live, sizeof live), 1);
    EXPECT_STREQ(live, "C:\\Windows\\win.ini");

    vsscr_destroy_snapshot_set();
    EXPECT_EQ(vo_is_snapshot_path(kShadowFile), 0);

    // Not registered again by a new session: only a new load would.
    EXPECT_SUCCESS(vsscr_init_backup(1, 0));
    MapSystemVolume();
    EXPECT_EQ(vo_is_snapshot_path(kShadowFile), 0);
}

TEST_F(Lifetime, BlockBasedBackupTakesApplicationRollbackSnapshots)
{
    vsscr_set_bbb_backup();
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    EXPECT_EQ(SnapshotContext(), LONG(VSS_CTX_APP_ROLLBACK));
}

// A block-based backup asked for after the set-up does not change the session's context.
TEST_F(Lifetime, SnapshotsAreTakenInTheSessionsBackupContextAndDestroyDeletesTheSet)
{
    EXPECT_SUCCESS(vsscr_init_backup(3, 0));
    vsscr_set_bbb_backup();
    ASSERT_EQ(SnapshotContext(), LONG(VSS_CTX_BACKUP));
    const size_t before = winsim::VssSnapshots().size();
    ASSERT_GT(before, 0u);
    EXPECT_SUCCESS(vsscr_backup_complete());
    vsscr_destroy_snapshot_set();
    EXPECT_LT(winsim::VssSnapshots().size(), before);
}

} // namespace
