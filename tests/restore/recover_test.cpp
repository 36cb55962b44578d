// The restore session through the exported interface: calls out of order, bad arguments
// and damaged documents, and the round trip from what a backup session of the default
// host saved. Each test runs in its own process.
#include <restore/restoretest.h>

namespace {

using namespace restoretest;

TEST_F(Recover, CallsOutOfOrderAndNullArgumentsGiveTheirMessage)
{
    Expect({Pre(113298), Post(115374), Status("System Writer", 115354),
         {"load before init", [] { return vsscr_load_writer_xml("C:\\w.xml"); }, 113658,
          "VSS common requester is not initialized.\n"},
         {"init NULL", [] { return vsscr_init_recover(nullptr); }, 115347,
          "Unable initialize VSS recovery: Invalid Parameters.\n"},
         {"load NULL", [] { return vsscr_load_writer_xml(nullptr); }, 115348,
          "Unable load writer XML: Invalid Parameters.\n"},
         {"status NULL", [] { return vsscr_post_restore_writer_status(nullptr); }, 115349,
          "Unable to get post restore writer status: Invalid Parameters.\n"},
         {"options", [] { return vsscr_set_restore_options("System Writer", nullptr, "x"); }, 0, ""},
         // An empty path is refused after the set-up: from then on the requester is known.
         Init("", 115351, "Backup components document path is not set.\n"), Init("C:\\none.xml", 115350, kInit),
         Load("C:\\none.xml", 115352), Pre(113298), kUninit, kUninit, Post(115374)});
}

// Damaged documents name the file and change nothing: the good ones still open the session.
TEST_F(Recover, DamagedDocumentsAreRefusedByName)
{
    Backup();
    const std::string metadata = tvtest::ReadWholeFile(metadata_[0]), document = tvtest::ReadWholeFile(document_);
    const std::string damaged = document_ + ".damaged.xml";
    ASSERT_TRUE(tvtest::WriteWholeFile(document_, document.substr(0, document.size() / 2)));
    Expect({Init(document_, 115350, kInit), Pre(113298)});
    ASSERT_TRUE(tvtest::WriteWholeFile(document_, document));
    for (const std::string &bytes : {std::string("not xml"), metadata.substr(0, metadata.size() / 2), std::string(),
                                     document}) {
        ASSERT_TRUE(tvtest::WriteWholeFile(damaged, bytes));
        Expect({open_[0], Load(damaged, 115352), open_[1], Load(damaged + ".missing", 115352)});
    }
    Expect({Pre(), Post()});
}

TEST_F(Recover, ABackupsDocumentsRestoreEveryWriterStable)
{
    Backup();
    std::vector<Step> steps = open_;
    steps.insert(steps.end(), {Pre(), Post(), Status("No Such Writer", 115354)});
    for (const std::string &writer : writers_)
        steps.push_back(Status(writer));
    // After the end nothing of the session is left; a second init replaces the path.
    steps.insert(steps.end(), {kUninit, Status(writers_[0], 115354), Pre(113298), open_[0],
                               Init(document_ + ".none", 115350, kInit), open_[0], open_[1], Pre(), Post()});
    Expect(steps);
}

// The events' failures: the event itself, or one writer in it (the others stay stable).
TEST_F(Recover, AFailedEventOrWriterGivesItsMessage)
{
    Backup();
    Expect(open_);
    winsim::InjectHresult("IVssBackupComponents::PreRestore", u"", VSS_E_UNEXPECTED_WRITER_ERROR);
    winsim::InjectHresult("IVssBackupComponents::PostRestore", u"System Writer", VSS_E_WRITERERROR_RETRYABLE);
    std::vector<Step> steps = {Pre(113298), Pre(), Post()};
    for (const std::string &writer : writers_)
        steps.push_back(Status(writer, writer == "System Writer" ? 115375 : 0));
    Expect(steps);
    winsim::InjectHresult("IVssBackupComponents::PostRestore", u"", VSS_E_UNEXPECTED_WRITER_ERROR);
    Expect({Post(115374)});
}

// Ending a restore unregisters the shadow-path tests, also those a backup relies on.
TEST_F(Recover, UninitRecoverUnregistersTheBackupsShadowPathTests)
{
    Backup(true);
    vsscr_vol_entry *volumes = nullptr;
    EXPECT_SUCCESS(vsscr_get_snapshot_volume_list(&volumes));
    ASSERT_TRUE(volumes != nullptr && volumes->shadow_path_utf8 != nullptr);
    const std::string inSnapshot = std::string(volumes->shadow_path_utf8) + "Windows";
    vsscr_free_vol_list(volumes);
    EXPECT_EQ(1, vo_is_snapshot_path(inSnapshot.c_str()));
    vsscr_uninit_recover();
    EXPECT_EQ(0, vo_is_snapshot_path(inSnapshot.c_str()));
}

} // namespace
