// The restore tests' shared frame: a call and the message it must answer, and the
// fixture that makes a system-state backup of the current host whose documents a restore
// session then opens.
#pragma once

#include <libwinclass/backup.h>
#include <libwinclass/restore.h>
#include <libwinclass/saveitems.h>

#include <backup/messagecheck.h>
#include <liblocal/testing.h>
#include <liblocal/voshadow.h>
#include <writers/installdir.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <nlohmann/json.hpp>

#include <vss.h>

#include <functional>
#include <string>
#include <vector>

namespace restoretest {

inline const char *const kPre = "Unable to generate VSS PreRestore event ";
inline const char *const kPost = "Unable to generate VSS Postrestore event ";
inline const char *const kInit = "Unable to set VSS restore options: ";

// The names and paths here are ASCII.
inline std::string Narrow(const WCHAR *text)
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

inline void Expect(const std::vector<Step> &steps)
{
    for (const Step &step : steps) {
        tvtest::Message message(step.call());
        const std::string text = msg_text(message.handle);
        EXPECT_EQ(step.number, msg_number(message.handle)) << step.what << ": " << text;
        EXPECT_EQ(step.number == 0 ? 0 : 53000, msg_code(message.handle)) << step.what;
        EXPECT_EQ(step.text, text.substr(0, step.text.size())) << step.what;
    }
}

inline Step Init(const std::string &path, int number = 0, const std::string &text = "")
{
    return {"init " + path, [path] { return vsscr_init_recover(path.c_str()); }, number, text};
}
inline Step Load(const std::string &path, int number = 0)
{
    return {"load " + path, [path] { return vsscr_load_writer_xml(path.c_str()); }, number,
            number == 0 ? "" : "Unable to load " + path + " writer xml file: "};
}
inline Step Status(const std::string &writer, int number = 0)
{
    const std::string text = number == 115354 ? "Unable to find " + writer + " in the writer recovery list.\n"
                             : number == 115375 ? writer + " is not in a stable state:" : "";
    return {"status " + writer, [writer] { return vsscr_post_restore_writer_status(writer.c_str()); }, number, text};
}
inline const Step kUninit = {"uninit", [] { return vsscr_uninit_recover(), static_cast<vo_msg *>(nullptr); }, 0, ""};
inline Step Pre(int number = 0) { return {"pre-restore", vsscr_pre_restore, number, number == 0 ? "" : kPre}; }
inline Step Post(int number = 0) { return {"post-restore", vsscr_post_restore, number, number == 0 ? "" : kPost}; }

class Recover : public tvtest::InstallDirFixture {
protected:
    // The embedded host of that name, changed by edit, in place of the current one.
    void UseHost(const std::string &name, const std::function<void(nlohmann::json &)> &edit = nullptr)
    {
        nlohmann::json host = nlohmann::json::parse(winsim::EmbeddedHostJson(name));
        if (edit)
            edit(host);
        InstallDirFixture::TearDown();
        winsim::ReplaceHost(winsim::ParseHost(host.dump()));
        InstallDirFixture::SetUp();
        UseInstallDir();
    }

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
        GUID setId;
        EXPECT_SUCCESS(vsscr_process_snap(1024, document, &setId));
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

} // namespace restoretest
