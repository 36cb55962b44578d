// The restore session through the exported interface: calls out of order, bad arguments
// and damaged documents, and the round trip from what a backup session of the default
// host saved. Each test runs in its own process.
#include <libwinclass/backup.h>
#include <libwinclass/restore.h>
#include <libwinclass/saveitems.h>

#include <backup/messagecheck.h>
#include <liblocal/testing.h>
#include <liblocal/voshadow.h>
#include <writers/installdir.h>

#include <winsim/host.h>

#include <vss.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const char *const kPre = "Unable to generate VSS PreRestore event ";
const char *const kPost = "Unable to generate VSS Postrestore event ";
const char *const kInit = "Unable to set VSS restore options: ";

// The names and paths here are ASCII.
std::string Narrow(const WCHAR *text)
{
    return text == nullptr ? "" : std::string(text, text + std::char_traits<WCHAR>::length(text));
}
// One call and what it must answer: number 0 for success, else the message (code 53000)
// whose text starts with text (an error text, the runtime's wording, may follow).
struct Step {
    std::string what;
    std::function<vo_msg *()> call;
    int number;
    std::string text;
};

void Expect(const std::vector<Step> &steps)
{
    for (const Step &step : steps) {
        tvtest::Message message(step.call());
        const std::string text = msg_text(message.handle);
        EXPECT_EQ(step.number, msg_number(message.handle)) << step.what << ": " << text;
        EXPECT_EQ(step.number == 0 ? 0 : 53000, msg_code(message.handle)) << step.what;
        EXPECT_EQ(step.text, text.substr(0, step.text.size())) << step.what;
    }
}

Step Init(const std::string &path, int number = 0, const std::string &text = "")
{
    return {"init " + path, [path] { return vsscr_init_recover(path.c_str()); }, number, text};
}
Step Load(const std::string &path, int number = 0)
{
    return {"load " + path, [path] { return vsscr_load_writer_xml(path.c_str()); }, number,
            number == 0 ? "" : "Unable to load " + path + " writer xml file: "};
}
Step Status(const std::string &writer, int number = 0)
{
    const std::string text = number == 115354 ? "Unable to find " + writer + " in the writer recovery list.\n"
                             : number == 115375 ? writer + " is not in a stable state:" : "";
    return {"status " + writer, [writer] { return vsscr_post_restore_writer_status(writer.c_str()); }, number, text};
}
const Step kUninit = {"uninit", [] { return vsscr_uninit_recover(), static_cast<vo_msg *>(nullptr); }, 0, ""};
Step Pre(int number = 0) { return {"pre-restore", vsscr_pre_restore, number, number == 0 ? "" : kPre}; }
Step Post(int number = 0) { return {"post-restore", vsscr_post_restore, number, number == 0 ? "" : kPost}; }

class Recover : public tvtest::InstallDirFixture {
protected:
    void SetUp() override
    {
        InstallDirFixture::SetUp();
        UseInstallDir();
    }
    void TearDown() override
    {
        vsscr_uninit_recover();
        vsscr_uninit_backup();
        winsim::ClearFaults();
        InstallDirFixture::TearDown();
    }

    // A system-state backup as the save program makes it: the writers' metadata documents
    // (the writer list) and the backup components document (the snapshot).
    void Backup(bool keepSession = false)
    {
        EXPECT_SUCCESS(vsscr_init_backup(2, 0));
        EXPECT_SUCCESS(vsscr_add_savepath("C:\\"));  // the selection takes the set's volumes
        EXPECT_SUCCESS(vsscr_select_for_backup());
        sow_save_item *items = vsscr_get_writer_list(8);
        for (const sow_save_item *item = items; item != nullptr; item = item->next) {
            writers_.push_back(Narrow(item->writer_name));
            metadata_.push_back(item->metadata_path);
            open_.push_back(Load(item->metadata_path));
        }
        sow_free_save_item(items, nullptr);
        WCHAR document[1024] = {};
        EXPECT_SUCCESS(vsscr_process_snap(1024, document, nullptr));
        document_ = Narrow(document);
        open_.insert(open_.begin(), Init(document_));
        ASSERT_TRUE(!writers_.empty() && !tvtest::ReadWholeFile(document_).empty()) << document_;
        if (!keepSession)
            vsscr_uninit_backup();
    }

    std::vector<std::string> writers_, metadata_;
    std::vector<Step> open_;  // init on the document, then the load of each writer
    std::string document_;
};

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
