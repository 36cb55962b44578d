// Every exported function with bad arguments and in the wrong order: NULL pointers,
// empty texts, texts over 260 and over 32,767 units, invalid UTF-8, calls before the
// session and after it. One table per family; each row names the function, the variant,
// the value it must answer and the message number it must return or print (0: none).
// Rows run in order, so a table is also a call sequence.
#include <libwinclass/backup.h>
#include <libwinclass/conversions.h>
#include <libwinclass/csv.h>
#include <libwinclass/explain.h>
#include <libwinclass/hostinfo.h>
#include <libwinclass/restore.h>
#include <libwinclass/saveitems.h>
#include <libwinclass/stringlist.h>
#include <libwinclass/tv_str.h>
#include <libwinclass/wmi.h>

#include <liblocal/local.h>
#include <support/capture.h>
#include <writers/installdir.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/wmi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

// What a call answered: its value, and the number of the message it returned or, when it
// returned none, of the first message it printed.
struct Answer {
    long long value;
    int message;
};

struct Row {
    const char *function;
    const char *variant;
    std::function<Answer()> call;
    long long value;
    int message;
};

// A value that no row expects: the call wrote through an argument it should have left alone.
constexpr long long kTouched = -999;

Answer Msg(vo_msg *message)
{
    const int number = message != nullptr ? msg_number(message) : 0;
    msg_free(message);
    return {0, number};
}
Answer Val(long long value) { return {value, 0}; }
Answer None() { return {0, 0}; }
// The value, provided an argument the call had to leave alone is as it was.
Answer Kept(long long value, bool untouched) { return {untouched ? value : kTouched, 0}; }
Answer MsgKept(vo_msg *message, bool untouched)
{
    Answer answer = Msg(message);
    answer.value = untouched ? 0 : kTouched;
    return answer;
}

const std::string kNarrow300(300, 'a');
const std::string kNarrow33k(33000, 'a');
const char *const kBadUtf8 = "C:\\\xff\xfe\xc3(";
const wstr kWide300 = W("C:\\") + wstr(300, WCHAR('a'));
const wstr kWide33k = W("C:\\") + wstr(33000, WCHAR('a'));
const char *N300() { return kNarrow300.c_str(); }
const char *N33k() { return kNarrow33k.c_str(); }

void RunTable(const char *family, const std::vector<Row> &rows)
{
    tvtest::OutputCapture capture;
    for (const Row &row : rows) {
        capture.clear();
        Answer answer = row.call();
        if (answer.message == 0 && !capture.messages().empty())
            answer.message = capture.messages().front().number;
        EXPECT_EQ(row.value, answer.value) << family << ": " << row.function << " " << row.variant;
        EXPECT_EQ(row.message, answer.message) << family << ": " << row.function << " " << row.variant;
    }
}

class ArgumentMatrix : public tvtest::InstallDirFixture {
protected:
    void SetUp() override
    {
        InstallDirFixture::SetUp();
        winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson("cluster-node")));
        SetEnvironmentVariableW(W("TLV_INITIALIZE_DIRECTIVE"), nullptr);
        UseInstallDir();
    }
    void TearDown() override
    {
        vsscr_uninit_backup();
        vsscr_uninit_recover();
        InstallDirFixture::TearDown();
    }
};

// The state the backup rows share.
struct BackupState {
    WCHAR wide[300] = {};
    char narrow[300] = {};
    GUID setId = {};
    uint32_t present = 7;
    vsscr_vol_entry *volumes = nullptr;
    std::string guid300 = "\\\\?\\Volume{" + kNarrow300;
};

std::vector<Row> BackupRows(BackupState &s)
{
    static const WCHAR *const c = W("C:\\");
    return {
        {"vsscr_add_savepath", "before init", [&] { return Msg(vsscr_add_savepath("C:\\")); }, 0, 113658},
        {"vsscr_add_volume_EX", "before init", [&] { return Msg(vsscr_add_volume_EX(c, 1)); }, 0, 113658},
        {"vsscr_add_to_volume_table_EX", "before init", [&] { const auto r = vsscr_add_to_volume_table_EX(c, 1, nullptr, &s.present, 1, W("")); return MsgKept(r, s.present == 7); }, 0, 113658},
        {"vsscr_process_snap", "before init", [&] { return Msg(vsscr_process_snap(300, s.wide, &s.setId)); }, 0, 113658},
        {"vsscr_backup_complete", "before init", [&] { return Msg(vsscr_backup_complete()); }, 0, 0},
        {"vsscr_get_mapping", "before init", [&] { return Val(vsscr_get_mapping(c, s.wide, 300, s.wide, 300, s.wide, 4)); }, 0, 0},
        {"vsscr_get_mapping", "NULL path", [&] { return Val(vsscr_get_mapping(nullptr, s.wide, 300, s.wide, 300, s.wide, 4)); }, 0, 0},
        {"vsscr_get_mapping", "zero sizes", [&] { return Val(vsscr_get_mapping(c, s.wide, 0, s.wide, 0, s.wide, 0)); }, 0, 0},
        {"vsscr_get_shadowcopy_rootpath", "NULL path", [&] { return Val(vsscr_get_shadowcopy_rootpath(nullptr, s.wide, 300)); }, 0, 0},
        {"vsscr_get_shadowcopy_rootpath", "zero size", [&] { return Val(vsscr_get_shadowcopy_rootpath(c, s.wide, 0)); }, 0, 0},
        {"vsscr_is_snapshot_path", "NULL", [&] { return Val(vsscr_is_snapshot_path(nullptr)); }, 0, 0},
        {"vsscr_is_snapshot_root", "NULL path", [&] { return Val(vsscr_is_snapshot_root(nullptr, s.narrow, 300)); }, 0, 0},
        {"vsscr_is_snapshot_mountpoint_root", "NULL path", [&] { return Val(vsscr_is_snapshot_mountpoint_root(nullptr, s.narrow, 300)); }, 0, 0},
        {"vsscr_translate_to_physical", "NULL path", [&] { s.narrow[0] = '#'; vsscr_translate_to_physical(nullptr, s.narrow, 300); return Kept(0, s.narrow[0] == '#'); }, 0, 0},
        {"vsscr_get_last_failure", "NULL buffers", [&] { return Val(vsscr_get_last_failure(nullptr, 0, nullptr, 0)); }, 0, 0},
        {"vsscr_free_vol_list", "NULL", [&] { vsscr_free_vol_list(nullptr); return None(); }, 0, 0},
        {"vsscr_free_writercomponent_struct", "NULL", [&] { vsscr_free_writercomponent_struct(nullptr); return None(); }, 0, 0},
        {"vsscr_get_decisions", "NULL callback", [&] { vsscr_get_decisions(nullptr, nullptr); return None(); }, 0, 0},
        {"vsscr_classify_writers", "before init", [&] { return Val(vsscr_classify_writers()); }, -1, 0},
        {"vsscr_get_last_failure", "buffers of one unit", [&] { return Val(vsscr_get_last_failure(s.narrow, 1, s.wide, 1) * 10 + s.narrow[0] + s.wide[0]); }, 0, 0},
        {"vsscr_select_for_backup", "before init: opens the session", [&] { return Msg(vsscr_select_for_backup()); }, 0, 0},
        {"vsscr_init_backup", "in a session, save type 99", [&] { return Msg(vsscr_init_backup(99, 0)); }, 0, 0},
        {"vsscr_uninit_backup", "ends the session the selection opened", [&] { vsscr_uninit_backup(); return None(); }, 0, 0},
        {"vsscr_init_backup", "save type 99", [&] { return Msg(vsscr_init_backup(99, 0)); }, 0, 0},
        {"vsscr_init_backup", "second init, save type -1", [&] { return Msg(vsscr_init_backup(-1, 1)); }, 0, 0},
        {"vsscr_select_for_backup", "save type 99 selects nothing", [&] { return Msg(vsscr_select_for_backup()); }, 0, 0},
        {"vsscr_select_for_backup", "save type -1 selects nothing", [&] { vsscr_set_snapshot_save_type(-1); return Msg(vsscr_select_for_backup()); }, 0, 0},
        {"vsscr_is_save_supported", "save type 99 needs no writer", [&] { return Val(vsscr_is_save_supported(99)); }, 1, 0},
        {"vsscr_is_save_supported", "save type -1 needs no writer", [&] { return Val(vsscr_is_save_supported(-1)); }, 1, 0},
        {"vsscr_get_snapshot_volume_list", "NULL out", [&] { return Msg(vsscr_get_snapshot_volume_list(nullptr)); }, 0, 134870},
        {"vsscr_add_savepath", "NULL", [&] { return Msg(vsscr_add_savepath(nullptr)); }, 0, 0},
        {"vsscr_add_savepath", "empty", [&] { return Msg(vsscr_add_savepath("")); }, 0, 0},
        {"vsscr_add_savepath", "invalid UTF-8", [&] { return Msg(vsscr_add_savepath(kBadUtf8)); }, 0, 0},
        {"vsscr_add_savepath", "over 260", [&] { return Msg(vsscr_add_savepath(("C:\\" + kNarrow300).c_str())); }, 0, 0},
        {"vsscr_add_savepath", "over 32,767", [&] { return Msg(vsscr_add_savepath(("C:\\" + kNarrow33k).c_str())); }, 0, 0},
        {"vsscr_add_volume_EX", "NULL", [&] { return Msg(vsscr_add_volume_EX(nullptr, 1)); }, 0, 0},
        {"vsscr_add_volume_EX", "empty", [&] { return Msg(vsscr_add_volume_EX(W(""), 1)); }, 0, 0},
        {"vsscr_add_volume_EX", "over 260", [&] { return Msg(vsscr_add_volume_EX(kWide300.c_str(), 1)); }, 0, 134867},
        {"vsscr_add_volume_EX", "over 32,767", [&] { return Msg(vsscr_add_volume_EX(kWide33k.c_str(), 1)); }, 0, 134867},
        {"vsscr_add_to_volume_table_EX", "NULL volume", [&] { const auto r = vsscr_add_to_volume_table_EX(nullptr, 1, nullptr, &s.present, 1, W("")); return MsgKept(r, s.present == 7); }, 0, 0},
        {"vsscr_add_to_volume_table_EX", "NULL indicator", [&] { return Msg(vsscr_add_to_volume_table_EX(c, 1, nullptr, nullptr, 1, W(""))); }, 0, 0},
        {"vsscr_add_to_volume_table_EX", "NULL shadow path", [&] { const auto r = vsscr_add_to_volume_table_EX(c, 1, nullptr, &s.present, 1, nullptr); return MsgKept(r, s.present == 7); }, 0, 0},
        {"vsscr_add_to_volume_table_EX", "shadow path over 32,767", [&] { return Msg(vsscr_add_to_volume_table_EX(c, 1, nullptr, &s.present, 1, kWide33k.c_str())); }, 0, 0},
        {"vsscr_add_to_volume_table_EX", "empty volume", [&] { return Msg(vsscr_add_to_volume_table_EX(W(""), 1, nullptr, &s.present, 1, W(""))); }, 0, 0},
        {"vsscr_process_snap", "NULL document buffer", [&] { return Msg(vsscr_process_snap(300, nullptr, &s.setId)); }, 0, 159674},
        {"vsscr_process_snap", "buffer of 0 units", [&] { return Msg(vsscr_process_snap(0, s.wide, &s.setId)); }, 0, 159674},
        {"vsscr_process_snap", "buffer of 1 unit", [&] { return Msg(vsscr_process_snap(1, s.wide, &s.setId)); }, 0, 159674},
        {"vsscr_process_snap", "NULL set ID", [&] { return Msg(vsscr_process_snap(300, s.wide, nullptr)); }, 0, 159673},
        {"vsscr_get_snapshot_volume_list", "before the snapshot", [&] { vo_msg *m = vsscr_get_snapshot_volume_list(&s.volumes); vsscr_free_vol_list(s.volumes); return Msg(m); }, 0, 0},
        {"vsscr_is_snapshot_path", "empty", [&] { return Val(vsscr_is_snapshot_path("")); }, 0, 0},
        {"vsscr_is_snapshot_path", "invalid UTF-8", [&] { return Val(vsscr_is_snapshot_path(kBadUtf8)); }, 0, 0},
        {"vsscr_is_snapshot_path", "over 32,767", [&] { return Val(vsscr_is_snapshot_path(N33k())); }, 0, 0},
        {"vsscr_is_snapshot_root", "NULL buffer", [&] { return Val(vsscr_is_snapshot_root(N300(), nullptr, 300)); }, 0, 0},
        {"vsscr_translate_to_physical", "NULL buffer", [&] { vsscr_translate_to_physical(N300(), nullptr, 300); return None(); }, 0, 0},
        {"getDiskNumbersForVolume", "NULL GUID path", [&] { return Val(getDiskNumbersForVolume(nullptr, nullptr, s.narrow, 120)); }, 0, 90513},
        {"getDiskNumbersForVolume", "empty GUID path", [&] { s.narrow[0] = 0; return Val(getDiskNumbersForVolume(s.narrow, nullptr, s.narrow + 1, 120)); }, 0, 90513},
        {"getDiskNumbersForVolume", "NULL buffer", [&] { return Val(getDiskNumbersForVolume(&s.guid300[0], nullptr, nullptr, 120)); }, 0, 90514},
        {"getDiskNumbersForVolume", "GUID path over 260", [&] { return Val(getDiskNumbersForVolume(&s.guid300[0], N300(), s.narrow, 120)); }, 0, 0},
        {"is_volume_allowed_as_critical", "NULL path", [&] { return Val(is_volume_allowed_as_critical(nullptr, nullptr)); }, 0, 0},
        {"is_volume_allowed_as_critical", "empty path", [&] { return Val(is_volume_allowed_as_critical("", "")); }, 1, 0},
        {"is_volume_allowed_as_critical", "path over 32,767", [&] { return Val(is_volume_allowed_as_critical(N33k(), nullptr)); }, 1, 0},
        {"is_bcd_partition", "NULL", [&] { return Val(is_bcd_partition(nullptr)); }, 0, 0},
        {"is_bcd_partition", "empty", [&] { return Val(is_bcd_partition("")); }, 0, 0},
        {"is_bcd_partition", "over 260", [&] { return Val(is_bcd_partition(s.guid300.c_str())); }, 1, 0},
        {"vsscr_get_dr_critical_volumes", "NULL list", [&] { return Val(vsscr_get_dr_critical_volumes(nullptr)); }, 1, 0},
        {"vsscr_uninit_backup", "ends the session", [&] { vsscr_uninit_backup(); return None(); }, 0, 0},
        {"vsscr_add_savepath", "after uninit", [&] { return Msg(vsscr_add_savepath("C:\\")); }, 0, 113658},
        {"vsscr_add_volume_EX", "after uninit", [&] { return Msg(vsscr_add_volume_EX(c, 1)); }, 0, 113658},
        {"vsscr_process_snap", "after uninit", [&] { return Msg(vsscr_process_snap(300, s.wide, &s.setId)); }, 0, 113658},
        {"vsscr_backup_complete", "after uninit", [&] { return Msg(vsscr_backup_complete()); }, 0, 0},
        {"vsscr_uninit_backup", "twice", [&] { vsscr_uninit_backup(); return None(); }, 0, 0},
        {"vsscr_classify_writers", "after uninit", [&] { return Val(vsscr_classify_writers()); }, -1, 0},
        {"vsscr_destroy_snapshot_set", "after uninit", [&] { vsscr_destroy_snapshot_set(); return None(); }, 0, 0},
    };
}

// The state the restore rows share.
struct RestoreState {
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    unsigned int number = 0;
    char text[64] = {};
    GUID id = {};
    vsscr_filedesc *files = reinterpret_cast<vsscr_filedesc *>(&number);
    vsscr_compinfo head = {};
    vsscr_writercomponent component = {};
    vsscr_filedesc descriptor = {};
};

std::vector<Row> RestoreRows(RestoreState &s)
{
    static const char *const w = "System Writer";
    return {
        {"vsscr_pre_restore", "before init", [&] { return Msg(vsscr_pre_restore()); }, 0, 113298},
        {"vsscr_post_restore", "before init", [&] { return Msg(vsscr_post_restore()); }, 0, 115374},
        {"vsscr_load_writer_xml", "before init", [&] { return Msg(vsscr_load_writer_xml("C:\\w.xml")); }, 0, 113658},
        {"vsscr_load_writer_xml", "NULL", [&] { return Msg(vsscr_load_writer_xml(nullptr)); }, 0, 115348},
        {"vsscr_post_restore_writer_status", "NULL", [&] { return Msg(vsscr_post_restore_writer_status(nullptr)); }, 0, 115349},
        {"vsscr_post_restore_writer_status", "before init", [&] { return Msg(vsscr_post_restore_writer_status(w)); }, 0, 115354},
        {"vsscr_set_restore_options", "all NULL", [&] { return Msg(vsscr_set_restore_options(nullptr, nullptr, nullptr)); }, 0, 0},
        {"vsscr_init_recover", "NULL", [&] { return Msg(vsscr_init_recover(nullptr)); }, 0, 115347},
        {"vsscr_init_recover", "empty", [&] { return Msg(vsscr_init_recover("")); }, 0, 115351},
        {"vsscr_init_recover", "invalid UTF-8", [&] { return Msg(vsscr_init_recover(kBadUtf8)); }, 0, 115350},
        {"vsscr_init_recover", "over 260", [&] { return Msg(vsscr_init_recover(N300())); }, 0, 115350},
        {"vsscr_init_recover", "over 32,767", [&] { return Msg(vsscr_init_recover(N33k())); }, 0, 115350},
        {"vsscr_load_writer_xml", "empty", [&] { return Msg(vsscr_load_writer_xml("")); }, 0, 115352},
        {"vsscr_load_writer_xml", "over 32,767", [&] { return Msg(vsscr_load_writer_xml(N33k())); }, 0, 115352},
        {"vsscr_get_writer_restore_method_info", "NULL name", [&] { return Msg(vsscr_get_writer_restore_method_info(nullptr, &s.method, 64, s.text, 64, s.text, &s.writerRestore, &s.number)); }, 0, 115355},
        {"vsscr_get_writer_restore_method_info", "NULL method", [&] { return Msg(vsscr_get_writer_restore_method_info(w, nullptr, 64, s.text, 64, s.text, &s.writerRestore, &s.number)); }, 0, 115355},
        {"vsscr_get_writer_restore_method_info", "NULL service", [&] { return Msg(vsscr_get_writer_restore_method_info(w, &s.method, 64, nullptr, 64, s.text, &s.writerRestore, &s.number)); }, 0, 115355},
        {"vsscr_get_writer_restore_method_info", "NULL user procedure", [&] { return Msg(vsscr_get_writer_restore_method_info(w, &s.method, 64, s.text, 64, nullptr, &s.writerRestore, &s.number)); }, 0, 115355},
        {"vsscr_get_writer_restore_method_info", "NULL writer restore", [&] { return Msg(vsscr_get_writer_restore_method_info(w, &s.method, 64, s.text, 64, s.text, nullptr, &s.number)); }, 0, 115355},
        {"vsscr_get_writer_restore_method_info", "NULL reboot flag", [&] { return Msg(vsscr_get_writer_restore_method_info(w, &s.method, 64, s.text, 64, s.text, &s.writerRestore, nullptr)); }, 0, 115355},
        {"vsscr_get_writer_restore_method_info", "unknown writer", [&] { return Msg(vsscr_get_writer_restore_method_info(N300(), &s.method, 64, s.text, 64, s.text, &s.writerRestore, &s.number)); }, 0, 115354},
        {"vsscr_get_writer_usage_type", "NULL name", [&] { return Msg(vsscr_get_writer_usage_type(nullptr, &s.number)); }, 0, 115346},
        {"vsscr_get_writer_usage_type", "NULL out", [&] { return Msg(vsscr_get_writer_usage_type(w, nullptr)); }, 0, 115356},
        {"vsscr_get_writer_usage_type", "unknown writer, invalid UTF-8", [&] { return Msg(vsscr_get_writer_usage_type(kBadUtf8, &s.number)); }, 0, 115354},
        {"vsscr_get_writer_id", "NULL name", [&] { return Msg(vsscr_get_writer_id(nullptr, &s.id)); }, 0, 115344},
        {"vsscr_get_writer_id", "NULL out", [&] { return Msg(vsscr_get_writer_id(w, nullptr)); }, 0, 115344},
        {"vsscr_get_writer_id", "unknown writer over 32,767", [&] { const auto r = vsscr_get_writer_id(N33k(), &s.id); return MsgKept(r, s.id.Data1 == 0); }, 0, 0},
        {"vsscr_get_writer_exclude_list", "NULL name", [&] { return Msg(vsscr_get_writer_exclude_list(0, nullptr, &s.files)); }, 0, 115343},
        {"vsscr_get_writer_exclude_list", "NULL out", [&] { return Msg(vsscr_get_writer_exclude_list(0, w, nullptr)); }, 0, 115343},
        {"vsscr_get_writer_exclude_list", "mode 1 does nothing", [&] { vsscr_filedesc *const before = s.files; const auto r = vsscr_get_writer_exclude_list(1, w, &s.files); return MsgKept(r, s.files == before); }, 0, 0},
        {"vsscr_get_comp_info", "NULL name", [&] { return Msg(vsscr_get_comp_info(nullptr, &s.number, &s.head, &s.method)); }, 0, 115342},
        {"vsscr_get_comp_info", "NULL count", [&] { return Msg(vsscr_get_comp_info(w, nullptr, &s.head, &s.method)); }, 0, 115342},
        {"vsscr_get_comp_info", "NULL head", [&] { return Msg(vsscr_get_comp_info(w, &s.number, nullptr, &s.method)); }, 0, 115342},
        {"vsscr_get_comp_info", "NULL method", [&] { return Msg(vsscr_get_comp_info(w, &s.number, &s.head, nullptr)); }, 0, 115342},
        {"vsscr_get_alternate_location_map", "NULL name", [&] { return Msg(vsscr_get_alternate_location_map(nullptr, &s.files)); }, 0, 115360},
        {"vsscr_get_alternate_location_map", "NULL out", [&] { return Msg(vsscr_get_alternate_location_map(w, nullptr)); }, 0, 115360},
        {"vsscr_add_snapcomponent_for_restore", "NULL name", [&] { return Msg(vsscr_add_snapcomponent_for_restore(nullptr, &s.component, 1, 0)); }, 0, 115340},
        {"vsscr_add_snapcomponent_for_restore", "one component, NULL record", [&] { return Msg(vsscr_add_snapcomponent_for_restore(w, nullptr, 0, 0)); }, 0, 115340},
        {"vsscr_add_alternate_location", "NULL name", [&] { return Msg(vsscr_add_alternate_location(nullptr, &s.component, &s.descriptor)); }, 0, 115339},
        {"vsscr_add_alternate_location", "NULL component", [&] { return Msg(vsscr_add_alternate_location(w, nullptr, &s.descriptor)); }, 0, 115339},
        {"vsscr_add_alternate_location", "NULL descriptor", [&] { return Msg(vsscr_add_alternate_location(w, &s.component, nullptr)); }, 0, 115339},
        {"vsscr_get_writer_restore_target", "all NULL", [&] { return Msg(vsscr_get_writer_restore_target(nullptr, nullptr, nullptr)); }, 0, 0},
        {"vsscr_get_comp_restore_metadata_flag", "all NULL", [&] { return Msg(vsscr_get_comp_restore_metadata_flag(nullptr, nullptr, nullptr)); }, 0, 0},
        {"vsscr_uninit_recover", "ends the session", [&] { vsscr_uninit_recover(); return None(); }, 0, 0},
        {"vsscr_uninit_recover", "twice", [&] { vsscr_uninit_recover(); return None(); }, 0, 0},
        {"vsscr_post_restore_writer_status", "after uninit", [&] { return Msg(vsscr_post_restore_writer_status(w)); }, 0, 115354},
        {"vsscr_pre_restore", "after uninit", [&] { return Msg(vsscr_pre_restore()); }, 0, 113298},
        {"vsscr_load_writer_xml", "after uninit, invalid UTF-8", [&] { return Msg(vsscr_load_writer_xml(kBadUtf8)); }, 0, 115352},
    };
}

// The state the save-item rows share.
struct SaveItemState {
    vsscr_filedesc *out = reinterpret_cast<vsscr_filedesc *>(&marker);
    int marker = 0;
    sow_component component = {};
    vsscr_filedesc **Fresh()
    {
        out = reinterpret_cast<vsscr_filedesc *>(&marker);
        return &out;
    }
    bool Untouched() const { return out == reinterpret_cast<const vsscr_filedesc *>(&marker); }
};

std::vector<Row> SaveItemRows(SaveItemState &s)
{
    static const WCHAR *const w = W("System Writer");
    return {
        {"vsscr_get_writer_list", "list type 5", [&] { return Val(vsscr_get_writer_list(5) != nullptr); }, 0, 0},
        {"vsscr_get_writer_list", "list type -1", [&] { return Val(vsscr_get_writer_list(-1) != nullptr); }, 0, 0},
        {"vsscr_get_comp_file_group_list", "NULL writer", [&] { const auto r = vsscr_get_comp_file_group_list(nullptr, &s.component, s.Fresh()); return Kept(r, s.Untouched()); }, 0, 0},
        {"vsscr_get_comp_file_group_list", "NULL component", [&] { return Val(vsscr_get_comp_file_group_list(w, nullptr, &s.out)); }, 0, 0},
        {"vsscr_get_comp_file_group_list", "NULL out", [&] { return Val(vsscr_get_comp_file_group_list(w, &s.component, nullptr)); }, 0, 0},
        {"vsscr_get_comp_database_list", "NULL writer", [&] { const auto r = vsscr_get_comp_database_list(nullptr, &s.component, s.Fresh()); return Kept(r, s.Untouched()); }, 0, 0},
        {"vsscr_get_comp_database_list", "component without a name", [&] { const auto r = vsscr_get_comp_database_list(w, &s.component, s.Fresh()); return Kept(r, s.Untouched()); }, 0, 0},
        {"vsscr_get_comp_db_logfile_group_list", "NULL out", [&] { return Val(vsscr_get_comp_db_logfile_group_list(w, &s.component, nullptr)); }, 0, 0},
        {"vsscr_get_exclude_list", "NULL writer", [&] { const auto r = vsscr_get_exclude_list(nullptr, s.Fresh()); return Kept(r, s.Untouched()); }, 0, 0},
        {"vsscr_get_exclude_list", "NULL out", [&] { return Val(vsscr_get_exclude_list(w, nullptr)); }, 0, 0},
        {"vsscr_get_exclude_list", "unknown writer over 32,767", [&] { const auto r = vsscr_get_exclude_list(kWide33k.c_str(), s.Fresh()); return Kept(r, s.out == nullptr); }, 0, 0},
        {"vsscr_save_writer_to_xml", "all NULL", [&] { return Val(vsscr_save_writer_to_xml(nullptr, nullptr, nullptr)); }, 0, 0},
        {"vsscr_save_writer_to_xml", "path over 32,767", [&] { return Val(vsscr_save_writer_to_xml(w, nullptr, kWide33k.c_str())); }, 0, 0},
        {"sow_free_save_item", "NULL", [&] { return Val(sow_free_save_item(nullptr, nullptr)); }, 0, 0},
        {"sow_free_save_components", "NULL", [&] { return Val(sow_free_save_components(nullptr, nullptr)); }, 0, 0},
        {"vsscr_free_filedesc_struct", "NULL", [&] { vsscr_free_filedesc_struct(0, nullptr); return None(); }, 0, 0},
        {"FreeFileDescList", "NULL", [&] { FreeFileDescList(nullptr); return None(); }, 0, 0},
        {"sow_init_walker_item", "released at once", [&] { return Val(sow_free_save_item(sow_init_walker_item(), nullptr)); }, 0, 0},
        {"sow_init_component", "released at once", [&] { return Val(sow_free_save_components(sow_init_component(), nullptr)); }, 0, 0},
    };
}

// The state the CSV rows share: a cleared context and one opened on a name no CSV has.
struct CsvState {
    CSVContext cleared = {};
    CSVContext unknown = {};
    char *node = nullptr;
    unsigned int number = 0;
};

std::vector<Row> CsvRows(CsvState &s)
{
    static const char *const v = "C:\\ClusterStorage\\Volume1";
    return {
        {"InitCSV", "NULL context", [&] { return Val(InitCSV(nullptr, v)); }, 0, 0},
        {"InitCSV", "NULL name", [&] { return Val(InitCSV(&s.cleared, nullptr)); }, 0, 0},
        {"InitCSV", "name over 32,767", [&] { return Val(InitCSV(&s.unknown, N33k()) * 10 + s.unknown.found); }, 10, 0},
        {"Cleanup", "NULL context", [&] { Cleanup(nullptr); return None(); }, 0, 0},
        {"Cleanup", "cleared context", [&] { Cleanup(&s.cleared); return None(); }, 0, 0},
        {"GetCSVCoordinatorNode", "NULL context", [&] { return Val(GetCSVCoordinatorNode(nullptr, v, &s.node)); }, 0, 0},
        {"GetCSVCoordinatorNode", "NULL name", [&] { return Val(GetCSVCoordinatorNode(&s.unknown, nullptr, &s.node)); }, 0, 0},
        {"GetCSVCoordinatorNode", "NULL out", [&] { return Val(GetCSVCoordinatorNode(&s.unknown, v, nullptr)); }, 0, 0},
        {"GetCSVCoordinatorNode", "cleared context", [&] { return Val(GetCSVCoordinatorNode(&s.cleared, v, &s.node)); }, 0, 0},
        {"GetCSVFaultState", "NULL context", [&] { return Val(GetCSVFaultState(nullptr, v, &s.number)); }, 0, 103497},
        {"GetCSVFaultState", "NULL out", [&] { return Val(GetCSVFaultState(&s.unknown, v, nullptr)); }, 0, 103497},
        {"GetCSVFaultState", "CSV not found", [&] { return Val(GetCSVFaultState(&s.unknown, v, &s.number)); }, 0, 103497},
        {"MoveCSVToLocalNode", "NULL context", [&] { return Val(MoveCSVToLocalNode(nullptr, v, nullptr)); }, 0, 103494},
        {"MoveCSVToLocalNode", "CSV not found", [&] { return Val(MoveCSVToLocalNode(&s.unknown, v, nullptr)); }, 0, 103494},
        {"MoveCSVToSpecifiedNode", "NULL context", [&] { return Val(MoveCSVToSpecifiedNode(nullptr, v, "TVNODE1")); }, 0, 103492},
        {"MoveCSVToSpecifiedNode", "CSV not found", [&] { return Val(MoveCSVToSpecifiedNode(&s.unknown, v, "TVNODE1")); }, 0, 103492},
        {"ToggleCSVMaintModeState", "NULL context", [&] { return Val(ToggleCSVMaintModeState(nullptr, v, 1)); }, 0, 103489},
        {"ToggleCSVMaintModeState", "CSV not found", [&] { return Val(ToggleCSVMaintModeState(&s.unknown, v, 1)); }, 0, 103489},
        {"Cleanup", "twice", [&] { Cleanup(&s.unknown); Cleanup(&s.unknown); return None(); }, 0, 0},
        {"is_csv", "NULL volume", [&] { return Val(is_csv(nullptr, &s.number)); }, 0, 108265},
        {"is_csv", "NULL out", [&] { return Val(is_csv(v, nullptr)); }, 0, 0},
        {"is_csv", "invalid UTF-8", [&] { return Val(is_csv(kBadUtf8, &s.number) * 10 + s.number); }, 10, 0},
        {"is_csv_mountpoint_dir", "NULL", [&] { return Val(is_csv_mountpoint_dir(nullptr)); }, 0, 0},
        {"is_csv_mountpoint_dir", "over 32,767", [&] { return Val(is_csv_mountpoint_dir(N33k())); }, 0, 0},
        {"is_online_csv", "NULL", [&] { return Val(is_online_csv(nullptr)); }, 0, 0},
        {"is_online_csv", "over 260", [&] { return Val(is_online_csv(N300())); }, 0, 0},
        {"check_for_CSV_type_and_state", "NULL", [&] { return Msg(check_for_CSV_type_and_state(nullptr)); }, 0, 0},
        {"check_for_CSV_type_and_state", "over 32,767", [&] { return Msg(check_for_CSV_type_and_state(N33k())); }, 0, 0},
        {"move_csv_to_backup_cluster_node", "NULL CSV", [&] { return Val(move_csv_to_backup_cluster_node(nullptr, "TVNODE1", &s.node)); }, 0, 108258},
        {"move_csv_to_backup_cluster_node", "NULL target", [&] { return Val(move_csv_to_backup_cluster_node(v, nullptr, &s.node)); }, 0, 108257},
        {"move_csv_to_backup_cluster_node", "empty target", [&] { return Val(move_csv_to_backup_cluster_node(v, "", &s.node)); }, 0, 108257},
        {"move_csv_to_backup_cluster_node", "NULL saved coordinator", [&] { return Val(move_csv_to_backup_cluster_node(v, "TVNODE1", nullptr)); }, 0, 108259},
        {"return_csv_to_saved_coordinator_node", "NULL CSV", [&] { return Val(return_csv_to_saved_coordinator_node(nullptr, "TVNODE1")); }, 0, 108262},
        {"return_csv_to_saved_coordinator_node", "NULL coordinator: no move", [&] { return Val(return_csv_to_saved_coordinator_node(v, nullptr)); }, 0, 108264},
    };
}

// The state the WMI rows share: one open session.
struct WmiState {
    IWbemServices *services = nullptr;
    IWbemLocator *locator = nullptr;
    IWbemServices *noServices = nullptr;
    IWbemLocator *noLocator = nullptr;
    IWbemClassObject *params = nullptr;
    tv_str text = tv_str(W("kept"));
    char buffer[16] = "kept";
};

std::vector<Row> WmiRows(WmiState &s)
{
    static const WCHAR *const ns = W("ROOT\\MSCLUSTER");
    static const WCHAR *const cls = W("MSCluster_ClusterSharedVolume");
    static const WCHAR *const m = W("MoveToNewHost");
    return {
        {"initialize_wbem", "NULL services address", [&] { return Val(initialize_wbem(nullptr, &s.noLocator, ns)); }, E_FAIL, 0},
        {"initialize_wbem", "NULL locator address", [&] { return Val(initialize_wbem(&s.noServices, nullptr, ns)); }, E_FAIL, 0},
        {"initialize_wbem", "NULL namespace", [&] { return Val(initialize_wbem(&s.noServices, &s.noLocator, nullptr)); }, E_FAIL, 0},
        {"initialize_wbem", "empty namespace", [&] { return Val(initialize_wbem(&s.noServices, &s.noLocator, W(""))); }, WBEM_E_INVALID_NAMESPACE, 0},
        {"initialize_wbem", "namespace over 32,767", [&] { return Val(initialize_wbem(&s.noServices, &s.noLocator, kWide33k.c_str())); }, WBEM_E_INVALID_NAMESPACE, 0},
        {"initialize_wbem", "opens the session", [&] { return Val(initialize_wbem(&s.services, &s.locator, ns)); }, S_OK, 0},
        {"initialize_wbem", "second init into an open session", [&] { return Val(initialize_wbem(&s.services, &s.locator, ns)); }, E_FAIL, 0},
        {"get_method_input_params", "NULL services address", [&] { return Val(get_method_input_params(nullptr, cls, m, &s.params)); }, E_FAIL, 0},
        {"get_method_input_params", "no session", [&] { return Val(get_method_input_params(&s.noServices, cls, m, &s.params)); }, E_FAIL, 0},
        {"get_method_input_params", "NULL class", [&] { return Val(get_method_input_params(&s.services, nullptr, m, &s.params)); }, E_FAIL, 0},
        {"get_method_input_params", "NULL method", [&] { return Val(get_method_input_params(&s.services, cls, nullptr, &s.params)); }, E_FAIL, 0},
        {"get_method_input_params", "NULL out", [&] { return Val(get_method_input_params(&s.services, cls, m, nullptr)); }, WBEM_E_INVALID_PARAMETER, 95441},
        {"get_method_input_params", "empty class", [&] { return Val(get_method_input_params(&s.services, W(""), m, &s.params)); }, E_FAIL, 95439},
        {"get_method_input_params", "class over 32,767", [&] { return Val(get_method_input_params(&s.services, kWide33k.c_str(), m, &s.params)); }, E_FAIL, 95439},
        {"execute_method", "NULL services address", [&] { return Val(execute_method(nullptr, cls, m, nullptr, nullptr)); }, E_FAIL, 0},
        {"execute_method", "no session", [&] { return Val(execute_method(&s.noServices, cls, m, nullptr, nullptr)); }, E_FAIL, 0},
        {"execute_method", "NULL object path", [&] { return Val(execute_method(&s.services, nullptr, m, nullptr, nullptr)); }, E_FAIL, 0},
        {"execute_method", "NULL method", [&] { return Val(execute_method(&s.services, cls, nullptr, nullptr, nullptr)); }, E_FAIL, 0},
        {"execute_method", "empty object path", [&] { return Val(execute_method(&s.services, W(""), m, nullptr, nullptr)); }, WBEM_E_INVALID_OBJECT_PATH, 0},
        {"format_system_message", "NULL text", [&] { format_system_message(5, nullptr); return None(); }, 0, 0},
        {"format_system_message", "code without text", [&] { format_system_message(0xDEADBEEF, &s.text); return Kept(0, s.text == tv_str(W("kept"))); }, 0, 0},
        {"format_system_message_utf8", "NULL buffer", [&] { format_system_message_utf8(5, nullptr, 16); return None(); }, 0, 0},
        {"format_system_message_utf8", "size 0", [&] { format_system_message_utf8(5, s.buffer, 0); return Kept(0, std::strcmp(s.buffer, "kept") == 0); }, 0, 0},
        {"format_system_message_utf8", "negative size", [&] { format_system_message_utf8(5, s.buffer, -1); return Kept(0, std::strcmp(s.buffer, "kept") == 0); }, 0, 0},
        {"format_system_message_utf8", "code without text", [&] { format_system_message_utf8(0xDEADBEEF, s.buffer, 16); return Val(std::strlen(s.buffer)); }, 0, 0},
        {"cleanup_wbem", "NULL addresses", [&] { cleanup_wbem(nullptr, nullptr); return None(); }, 0, 0},
        {"cleanup_wbem", "closes the session", [&] { cleanup_wbem(&s.services, &s.locator); return Val(s.services != nullptr || s.locator != nullptr); }, 0, 0},
        {"execute_method", "after cleanup", [&] { return Val(execute_method(&s.services, cls, m, nullptr, nullptr)); }, E_FAIL, 0},
    };
}

// The state the sysinfo and host rows share.
struct HostState {
    const char *first = nullptr;
    tv_str manufacturer;
    tv_str model;
};

std::vector<Row> HostRows(HostState &s)
{
    return {
        {"get_unique_per_process_dir_path", "base over 260: no path rather than a cut one", [&] { return Val(get_unique_per_process_dir_path(N300()) != nullptr); }, 0, 0},
        {"get_unique_per_process_dir_path", "NULL base", [&] { s.first = get_unique_per_process_dir_path(nullptr); return Val(s.first != nullptr && std::strlen(s.first) < 260); }, 1, 0},
        {"get_unique_per_process_dir_path", "base over 32,767: the first path", [&] { return Val(get_unique_per_process_dir_path(N33k()) == s.first); }, 1, 0},
        {"get_unique_per_process_dir_path", "invalid UTF-8: the first path", [&] { return Val(get_unique_per_process_dir_path(kBadUtf8) == s.first); }, 1, 0},
        {"get_unique_per_process_dir_path", "empty: the first path", [&] { return Val(get_unique_per_process_dir_path("") == s.first); }, 1, 0},
        {"get_system_manufacturer_info", "before any WMI session", [&] { return Msg(get_system_manufacturer_info(s.manufacturer, s.model)); }, 0, 0},
        {"write_ossr_sysinfo", "before its directory exists", [&] { return Val(write_ossr_sysinfo()); }, 0, 98426},
        {"write_ossr_sysinfo", "twice, once its directory exists", [&] { vo_mkdirpath(s.first, 1023); write_ossr_sysinfo(); return Val(write_ossr_sysinfo()); }, 1, 0},
    };
}

// The state the string rows share.
struct StringState {
    WCHAR wide[8] = {};
    char narrow[8] = {};
    bool failed = false;
    stringlist list;
    tv_str text = tv_str(W("abc"));
};

std::vector<Row> StringRows(StringState &s)
{
    static const WCHAR *const noWide = nullptr;
    static const char *const noNarrow = nullptr;
    return {
        {"tv_str(const WCHAR*)", "NULL", [&] { tv_str t(noWide); return Val(t.is_empty() && !t && *t.get_utf8() == 0); }, 1, 0},
        {"tv_str(const char*)", "NULL", [&] { tv_str t(noNarrow); return Val(t.is_empty() && !t); }, 1, 0},
        {"tv_str(const char*)", "over 32,767", [&] { return Val(tv_str(N33k()).length()); }, 33000, 0},
        {"tv_str::set_utf8", "NULL", [&] { tv_str t(W("x")); t.set_utf8(nullptr); return Val(t.length()); }, 0, 0},
        {"tv_str::set_utf8", "invalid UTF-8 keeps a unit per bad byte", [&] { tv_str t; t.set_utf8("\xff\xfe"); return Val(t.length()); }, 2, 0},
        {"tv_str::operator=", "NULL", [&] { tv_str t(W("x")); t = noWide; return Val(t.is_empty()); }, 1, 0},
        {"tv_str::operator+=", "NULL", [&] { tv_str t(W("x")); t += noWide; return Val(t.length()); }, 1, 0},
        {"tv_str::contains", "NULL wide needle", [&] { return Val(s.text.contains(noWide, true)); }, 0, 0},
        {"tv_str::contains", "NULL narrow needle", [&] { return Val(s.text.contains(noNarrow, false)); }, 0, 0},
        {"tv_str::contains_utf8", "NULL", [&] { return Val(s.text.contains_utf8(nullptr, true)); }, 0, 0},
        {"tv_str::starts_with", "NULL", [&] { return Val(s.text.starts_with(noWide, true)); }, 0, 0},
        {"tv_str::starts_with", "empty", [&] { return Val(s.text.starts_with(W(""), true)); }, 1, 0},
        {"tv_str::starts_with_utf8", "NULL", [&] { return Val(s.text.starts_with_utf8(nullptr, true)); }, 0, 0},
        {"tv_str::starts_with", "NULL narrow", [&] { return Val(s.text.starts_with(noNarrow, false)); }, 0, 0},
        {"tv_str::starts_with", "empty object", [&] { return Val(tv_str().starts_with(W(""), true)); }, 0, 0},
        {"tv_str::ends_with", "NULL", [&] { return Val(s.text.ends_with(noNarrow, true)); }, 0, 0},
        {"tv_str::ends_with", "empty", [&] { return Val(s.text.ends_with(W(""), true)); }, 0, 0},
        {"tv_str::ends_with", "NULL wide", [&] { return Val(s.text.ends_with(noWide, false)); }, 0, 0},
        {"tv_str::contains", "needle without text", [&] { return Val(s.text.contains(tv_str(), true)); }, 0, 0},
        {"tv_str::ffind", "wide, start past the end", [&] { return Val(s.text.ffind(WCHAR('a'), 300)); }, -1, 0},
        {"tv_str::trim", "empty set", [&] { tv_str t(W(" a ")); return Val(t.trim(TV_STR_TRIM(TV_STR_TRIM_START | TV_STR_TRIM_END), tv_str()).length()); }, 3, 0},
        {"tv_str::split", "no text", [&] { tv_str a(W("x")), b(W("y")); tv_str().split(a, b, true, '\\'); return Val(a.length() + b.length()); }, 0, 0},
        {"tv_str::replace", "empty pattern", [&] { return Val(s.text.replace(tv_str(), tv_str(W("x"))).length()); }, 3, 0},
        {"tv_str::ends_with_utf8", "over 32,767", [&] { return Val(s.text.ends_with_utf8(N33k(), true)); }, 0, 0},
        {"tv_str::ffind", "negative start", [&] { return Val(s.text.ffind('a', -1)); }, -1, 0},
        {"tv_str::ffind_n", "n of 0", [&] { return Val(s.text.ffind_n('a', 0, 0)); }, -1, 0},
        {"tv_str::rfind", "past the start", [&] { return Val(s.text.rfind('a', 300)); }, -1, 0},
        {"tv_str::substr", "start past the end", [&] { return Val(s.text.substr(300, 1).length()); }, 0, 0},
        {"tv_str::byteindex", "negative", [&] { return Val(s.text.byteindex(-1)); }, 0, 0},
        {"tv_str::byteindex", "past the end", [&] { return Val(s.text.byteindex(300)); }, 0, 0},
        {"tv_str::truncate", "more than the length", [&] { tv_str t(W("abc")); return Val(t.truncate(300) * 10 + int(t.length())); }, 3, 0},
        {"tv_str::truncate", "negative", [&] { tv_str t(W("abc")); return Val(t.truncate(-1) * 10 + int(t.length())); }, 3, 0},
        {"tv_str::toint", "base 7", [&] { return Val(tv_str(W("12")).toint(7)); }, 0, 0},
        {"tv_str::format", "NULL format", [&] { tv_str t(W("x")); return Val(t.format(nullptr) * 10 + int(t.length())); }, 1221, 0},
        {"tv_str::format", "over 65,535 units", [&] { tv_str t(W("x")); return Val(t.format(W("%s%s"), kWide33k.c_str(), kWide33k.c_str()) * 10 + int(t.length())); }, 1221, 0},
        {"tv_str::format_utf8", "NULL format", [&] { tv_str t(W("x")); return Val(t.format_utf8(nullptr) * 10 + int(t.length())); }, 1221, 0},
        {"tv_str::utf8_to_wcs", "NULL", [&] { return Val(tv_str::utf8_to_wcs(nullptr) != nullptr); }, 0, 0},
        {"tv_str::utf8_to_wcs", "NULL buffer", [&] { return Val(tv_str::utf8_to_wcs(nullptr, 8, "abc")); }, 0, 0},
        {"tv_str::utf8_to_wcs", "buffer too small", [&] { return Val(tv_str::utf8_to_wcs(s.wide, 3, "abc")); }, 0, 0},
        {"tv_str::utf8_to_wcs", "NULL text", [&] { return Val(tv_str::utf8_to_wcs(s.wide, 8, nullptr)); }, 0, 0},
        {"tv_str::utf8_to_wcs_len", "NULL", [&] { return Val(tv_str::utf8_to_wcs_len(nullptr)); }, 0, 0},
        {"tv_str::wcs_to_utf8", "NULL", [&] { return Val(tv_str::wcs_to_utf8(nullptr) != nullptr); }, 0, 0},
        {"tv_str::wcs_to_utf8", "buffer too small", [&] { return Val(tv_str::wcs_to_utf8(s.narrow, 3, W("abc"))); }, 0, 0},
        {"tv_str::wcs_to_utf8", "NULL buffer", [&] { return Val(tv_str::wcs_to_utf8(nullptr, 8, W("abc"))); }, 0, 0},
        {"tv_str::wcs_to_utf8_len", "NULL", [&] { return Val(tv_str::wcs_to_utf8_len(nullptr)); }, 0, 0},
        {"from_utf8", "invalid UTF-8", [&] { return Val(from_utf8(kBadUtf8).size()); }, 0, 0},
        {"from_utf8", "cut short", [&] { return Val(from_utf8("ab\xe2\x82").size()); }, 0, 0},
        {"from_utf8", "over 32,767", [&] { return Val(from_utf8(kNarrow33k).size()); }, 33000, 0},
        {"to_utf8", "over 32,767", [&] { return Val(to_utf8(kWide33k).size()); }, 33003, 0},
        {"str2guid", "empty", [&] { const GUID g = str2guid(wstr(), &s.failed); return Val(s.failed && g == GUID_NULL); }, 1, 0},
        {"str2guid", "over 260", [&] { const GUID g = str2guid(kWide300, &s.failed); return Val(s.failed && g == GUID_NULL); }, 1, 0},
        {"str2guid", "not hexadecimal, NULL flag", [&] { return Val(str2guid(W("zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz")) == GUID_NULL); }, 1, 0},
        {"stringlist::operator[]", "no elements", [&] { return Val(s.list[5].length()); }, 0, 0},
        {"stringlist::front", "no elements", [&] { return Val(s.list.front().length()); }, 0, 0},
        {"stringlist::image", "no elements", [&] { return Val(s.list.image(',').length()); }, 0, 0},
        {"stringlist::icontains", "no elements", [&] { tv_str t(W("a")); return Val(s.list.icontains(t)); }, 0, 0},
        {"stringlist::pop_back", "no elements", [&] { stringlist l; l.push_back(tv_str(W("a"))); l.pop_back(); l.pop_back(); return Val(l.size()); }, 0, 0},
        {"stringlist::insert", "past the end", [&] { stringlist l; l.insert(5, tv_str(W("a"))); return Val(l.size()); }, 0, 0},
        {"stringlist::back", "elements cleared", [&] { stringlist l; l.push_back(tv_str(W("a"))); l.clear(); return Val(l.back().length()); }, 0, 0},
    };
}

// A table on fresh state.
template <class State> void RunFresh(const char *family, std::vector<Row> (*table)(State &))
{
    State state;
    RunTable(family, table(state));
}

// The rows of a table, after checking that none names its case twice (a row copied
// without changing its variant).
template <class State> size_t Count(std::vector<Row> (*table)(State &))
{
    State state;
    const std::vector<Row> rows = table(state);
    std::set<std::string> names;
    for (const Row &row : rows)
        EXPECT_TRUE(names.insert(std::string(row.function) + " / " + row.variant).second)
            << row.function << " " << row.variant << " twice";
    return rows.size();
}

TEST_F(ArgumentMatrix, Backup) { RunFresh("backup", BackupRows); }
TEST_F(ArgumentMatrix, Restore) { RunFresh("restore", RestoreRows); }
TEST_F(ArgumentMatrix, SaveItems) { RunFresh("save items", SaveItemRows); }
TEST_F(ArgumentMatrix, Csv) { RunFresh("CSV", CsvRows); }
TEST_F(ArgumentMatrix, WmiHelpers) { RunFresh("WMI helpers", WmiRows); }
TEST_F(ArgumentMatrix, SysinfoAndHost) { RunFresh("sysinfo and host", HostRows); }
TEST_F(ArgumentMatrix, StringsAndConversions) { RunFresh("strings and conversions", StringRows); }

// The number of cases, for the documentation.
TEST(ArgumentMatrixCount, EveryCaseOnceAndTheirNumber)
{
    const size_t count = Count(BackupRows) + Count(RestoreRows) + Count(SaveItemRows) + Count(CsvRows) +
                         Count(WmiRows) + Count(HostRows) + Count(StringRows);
    std::printf("argument matrix: %zu cases\n", count);
}

} // namespace
