// The restore session's writer questions and selections through the exported interface:
// what they answer from a backup's saved documents, and what they asked of VSS.
#include <restore/restoretest.h>

#include <winsim/vss.h>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace {

using namespace restoretest;
using nlohmann::json;

const char *const kSystem = "System Writer";
const std::u16string kAuthoritative = u"\"Authoritative\"=\"All\"";

// Pre-filled into outputs that must stay untouched.
const GUID kMarkerGuid = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
vsscr_filedesc *const kMarkerChain = reinterpret_cast<vsscr_filedesc *>(0x10);

class Components : public Recover {
protected:
    void TearDown() override
    {
        FreeChain();
        Recover::TearDown();
    }
    void FreeChain()
    {
        for (vsscr_compinfo *node = first_; node != nullptr;) {
            vsscr_compinfo *next = node->next;
            for (vsscr_filedesc *chain : {node->files, node->database_files, node->database_log_files})
                vsscr_free_filedesc_struct(0, chain);
            for (WCHAR *text : {node->component->name, node->component->caption, node->component->logical_path})
                delete[] text;
            delete node->component;
            delete node;
            node = next;
        }
        first_ = nullptr;
    }

    // A backup of the host given, its session opened on the documents but for the metadata
    // of the writer unloaded. The System Writer restores its second component to an
    // alternate target and has two alternate location mappings.
    void OpenSession(const std::string &host = "default", const std::string &unloaded = "")
    {
        UseHost(host, [](json &h) {
            for (json &writer : h["writers"]) {
                if (writer["name"] != kSystem)
                    continue;
                writer["components"][1]["restoreTarget"] = "VSS_RT_ALTERNATE";
                writer["alternateLocations"] = json::array(
                    {{{"path", "C:\\Windows\\"}, {"filespec", "*.ini"}, {"recursive", true}, {"destination", "D:\\alt\\"}},
                     {{"path", "C:\\Temp\\"}, {"filespec", "x"}, {"destination", "D:\\other\\"}}});
            }
        });
        writers_.clear(), metadata_.clear(), open_.clear();
        Backup();
        std::vector<Step> steps = {open_[0]};
        for (size_t i = 0; i < writers_.size(); ++i)
            if (writers_[i] != unloaded)
                steps.push_back(open_[i + 1]);
        Expect(steps);
        winsim::ClearVssRequests();
    }

    // The components of a writer; the chain is kept for release.
    vo_msg *CompInfo(const char *writer, unsigned int *count, VSS_RESTOREMETHOD_ENUM *method)
    {
        vsscr_compinfo head = {reinterpret_cast<vsscr_writercomponent *>(0x10), kMarkerChain, kMarkerChain,
                               kMarkerChain, reinterpret_cast<vsscr_compinfo *>(0x10)};
        vo_msg *message = vsscr_get_comp_info(writer, count, &head, method);
        EXPECT_TRUE(head.files == nullptr && head.database_files == nullptr && head.next == nullptr) << writer;
        first_ = vsscr_compinfo_first(&head);
        return message;
    }

    vsscr_compinfo *first_ = nullptr;
};

// Every function's bad arguments, and an unknown writer before any session and during one.
TEST_F(Components, BadArgumentsAndUnknownWritersGiveTheirMessage)
{
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_CUSTOM;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_ALWAYS;
    unsigned int number = 0;
    char text[8] = {};
    vsscr_compinfo head = {};
    vsscr_writercomponent record = {};
    vsscr_filedesc descriptor = {}, *chain = nullptr;
    GUID id = kMarkerGuid;
    const auto methodInfo = [&](const char *writer, VSS_RESTOREMETHOD_ENUM *m, char *s, unsigned int *flag) {
        return [=, &text, &writerRestore] {
            return vsscr_get_writer_restore_method_info(writer, m, 8, s, 8, text, &writerRestore, flag);
        };
    };
    const std::string bad = ": Invalid Parameters.\n", none = "Unable to find None in the writer recovery list.\n";
    const std::vector<Step> badArguments = {
        {"method", methodInfo(nullptr, &method, text, &number), 115355,
         "Unable to retrieve writer restore method information" + bad},
        {"method NULL flag", methodInfo(kSystem, &method, text, nullptr), 115355, ""},
        {"usage", [&] { return vsscr_get_writer_usage_type(nullptr, &number); }, 115346,
         "Unable to retrieve VSS writer usage type" + bad},
        {"usage NULL out", [&] { return vsscr_get_writer_usage_type(kSystem, nullptr); }, 115356,
         "Unable to retrieve writer usage type" + bad},
        {"id", [&] { return vsscr_get_writer_id(kSystem, nullptr); }, 115344, "Unable to get writer ID" + bad},
        {"exclude", [&] { return vsscr_get_writer_exclude_list(0, kSystem, nullptr); }, 115343,
         "Unable to get writer exclude list" + bad},
        {"comp", [&] { return vsscr_get_comp_info(kSystem, &number, &head, nullptr); }, 115342,
         "Unable to get component information" + bad},
        {"map", [&] { return vsscr_get_alternate_location_map(kSystem, nullptr); }, 115360,
         "Unable to retrieve alternate location mapping" + bad},
        {"add NULL record", [&] { return vsscr_add_snapcomponent_for_restore(kSystem, nullptr, 0, 1); }, 115340,
         "Unable to add component for restore" + bad},
        {"alternate", [&] { return vsscr_add_alternate_location(kSystem, &record, nullptr); }, 115339,
         "Unable to add alternate location for restore" + bad},
        {"method None", methodInfo("None", &method, text, &number), 115354, none},
        {"usage None", [&] { return vsscr_get_writer_usage_type("None", &number); }, 115354, none},
        {"comp None", [&] { return vsscr_get_comp_info("None", &number, &head, &method); }, 115354, none},
        {"map None", [&] { return vsscr_get_alternate_location_map("None", &chain); }, 115354, none},
        {"whole None", [&] { return vsscr_add_snapcomponent_for_restore("None", nullptr, 1, 1); }, 115354, none},
        {"one None", [&] { return vsscr_add_snapcomponent_for_restore("None", &record, 0, 0); }, 115354, none},
        {"alternate None", [&] { return vsscr_add_alternate_location("None", &record, &descriptor); }, 115354, none},
        // These two report bad arguments only, and leave their output alone.
        {"id None", [&] { return vsscr_get_writer_id("None", &id); }, 0, ""},
        {"exclude None", [&] { return vsscr_get_writer_exclude_list(0, "None", &chain); }, 0, ""},
    };
    Expect(badArguments);  // no session ever
    OpenSession();
    Expect(badArguments);
    EXPECT_EQ(0, std::memcmp(&id, &kMarkerGuid, sizeof id));
    EXPECT_EQ(nullptr, chain);
    EXPECT_TRUE(winsim::VssRequests().empty());
}

TEST_F(Components, WriterQuestionsComponentsAndAlternateLocations)
{
    OpenSession("default", "Registry Writer");
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    unsigned int reboot = 7, usage = 0;
    char service[4] = "old", procedure[4] = "old";
    const auto methodInfo = [&](const char *writer) {
        return vsscr_get_writer_restore_method_info(writer, &method, 4, service, 4, procedure, &writerRestore, &reboot);
    };
    EXPECT_SUCCESS(methodInfo("system WRITER"));
    EXPECT_TRUE(method == VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE && writerRestore == VSS_WRE_NEVER);
    EXPECT_EQ(1u, reboot);
    EXPECT_EQ("", std::string(service) + procedure);
    EXPECT_SUCCESS(vsscr_get_writer_usage_type(kSystem, &usage));
    EXPECT_EQ(static_cast<unsigned int>(VSS_UT_BOOTABLESYSTEMSTATE), usage);
    GUID id = kMarkerGuid;
    EXPECT_SUCCESS(vsscr_get_writer_id(kSystem, &id));
    const GUID systemWriter = {0xe8132975, 0x6f93, 0x4464, {0xa5, 0x3e, 0x10, 0x50, 0x25, 0x3a, 0xe2, 0x20}};
    EXPECT_EQ(0, std::memcmp(&id, &systemWriter, sizeof id));
    vsscr_filedesc *chain = kMarkerChain;
    EXPECT_SUCCESS(vsscr_get_writer_exclude_list(1, "Shadow Copy Optimization Writer", &chain));
    EXPECT_EQ(kMarkerChain, chain);
    EXPECT_SUCCESS(vsscr_get_writer_exclude_list(0, "Shadow Copy Optimization Writer", &chain));
    EXPECT_NE(nullptr, chain);
    vsscr_free_filedesc_struct(0, chain);

    // Components: the method passed in changes only for one restored to an alternate target.
    struct Case {
        const char *writer;
        unsigned int count;
        VSS_RESTOREMETHOD_ENUM method;
    } const cases[] = {{"COM+ REGDB Writer", 1, VSS_RME_CUSTOM},
                       {"Shadow Copy Optimization Writer", 0, VSS_RME_CUSTOM},
                       {kSystem, 2, VSS_RME_RESTORE_TO_ALTERNATE_LOCATION}};
    for (const Case &c : cases) {
        FreeChain();
        unsigned int count = 99, index = 0;
        method = VSS_RME_CUSTOM;
        EXPECT_SUCCESS(CompInfo(c.writer, &count, &method));
        EXPECT_TRUE(count == c.count && method == c.method) << c.writer << " " << count << " " << method;
        for (const vsscr_compinfo *node = first_; node != nullptr; node = node->next)
            EXPECT_TRUE(node->component != nullptr && node->component->index == ++index) << c.writer;
        EXPECT_EQ(c.count, index) << c.writer;
    }

    // Alternate locations: of a chain of two, only the first descriptor is mapped.
    EXPECT_SUCCESS(vsscr_get_alternate_location_map(kSystem, &chain));
    ASSERT_TRUE(chain != nullptr && chain->next != nullptr && chain->next->next == nullptr);
    ASSERT_TRUE(first_ != nullptr && first_->next != nullptr);
    EXPECT_SUCCESS(vsscr_add_alternate_location(kSystem, first_->next->component, chain));
    winsim::InjectHresult("IVssBackupComponents::AddAlternativeLocationMapping", u"", E_UNEXPECTED);
    Expect({{"fault", [&] { return vsscr_add_alternate_location(kSystem, first_->component, chain); }, 115376,
             "Unable to add alternate location map for System Writer:"}});
    const std::vector<winsim::VssRequest> requests = winsim::VssRequests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(std::make_tuple(std::string("AddAlternativeLocationMapping"), std::u16string(u"Win32 Services Files"),
                              std::u16string(chain->path), std::u16string(u"*.ini"),
                              std::u16string(chain->alternate_path), true),
              std::make_tuple(requests[0].operation, requests[0].componentName, requests[0].text, requests[0].text2,
                              requests[0].text3, requests[0].flag));
    vsscr_free_filedesc_struct(0, chain);

    // The session knows this writer, but the backup saved no metadata of it: the reboot
    // flag is written all the same, the texts are not.
    chain = kMarkerChain;
    std::strcpy(service, "old");
    std::strcpy(procedure, "old");
    Expect({{"method", [&] { return methodInfo("Registry Writer"); }, 115353,
             "Unable to retrieve Registry Writer restore information:"},
            {"map", [&] { return vsscr_get_alternate_location_map("Registry Writer", &chain); }, 115359,
             "Registry Writer metadata is not loaded.\n"}});
    EXPECT_EQ(0u, reboot);
    EXPECT_EQ("oldold", std::string(service) + procedure);
    EXPECT_EQ(kMarkerChain, chain);
}

// Whole writers and single components, what each asked of VSS, and the failures that end
// a selection. Authoritative goes by options text on every component, or for the cluster
// database writer (any letter case) by SetAuthoritativeRestore, never both; a single
// component's options are set but not judged.
TEST_F(Components, SelectionAsksVssPerComponent)
{
    WCHAR servicesName[] = W("Win32 Services Files"), missingName[] = W("No Such Component");
    vsscr_writercomponent services = {}, missing = {};
    services.name = servicesName;
    missing.name = missingName;
    struct Case {
        const char *host, *writer;
        vsscr_writercomponent *record;
        int authoritative;
        const char *fault;
        int number;
        std::string text;
        int selected, options, authoritativeCalls;  // -1: not counted
    } const cases[] = {
        {"default", kSystem, nullptr, 0, "", 0, "", 2, 0, 0},
        {"default", kSystem, nullptr, 1, "", 0, "", 2, 2, 0},
        {"default", kSystem, &services, 1, "SetRestoreOptions", 0, "", 1, -1, 0},
        {"default", kSystem, &missing, 1, "", 115373, "Unable to get component No Such Component for System Writer:",
         0, 0, 0},
        {"default", kSystem, nullptr, 0, "SetSelectedForRestore", 115994,
         "Unable to select System Files component from System Writer for restore:", -1, 0, 0},
        {"default", kSystem, nullptr, 1, "SetRestoreOptions", 115996,
         "Unable to set component restore options for System Writer:", 1, -1, 0},
        {"cluster-node", "cluster database", nullptr, 1, "", 0, "", 1, 0, 1},
        {"cluster-node", "CLUSTER DATABASE", nullptr, 1, "SetAuthoritativeRestore", 115995,
         "Unable to set authoritative restore for components of Cluster Database:", 1, 0, -1},
    };
    for (const Case &c : cases) {
        const std::string what = std::string(c.writer) + " " + c.fault + " " + std::to_string(c.authoritative);
        OpenSession(c.host);
        if (*c.fault != 0)
            winsim::InjectHresult(std::string("IVssBackupComponents::") + c.fault, u"", E_UNEXPECTED);
        Expect({{what, [&] {
                     return vsscr_add_snapcomponent_for_restore(c.writer, c.record, c.record == nullptr, c.authoritative);
                 }, c.number, c.text}});
        const std::vector<winsim::VssRequest> requests = winsim::VssRequests();
        for (const auto &[operation, expected] : {std::pair<const char *, int>{"SetSelectedForRestore", c.selected},
                                                  {"SetRestoreOptions", c.options},
                                                  {"SetAuthoritativeRestore", c.authoritativeCalls}})
            EXPECT_TRUE(expected < 0 || expected == std::count_if(requests.begin(), requests.end(), [&](const auto &r) {
                            return r.operation == operation;
                        })) << what << ": " << operation;
        for (const winsim::VssRequest &r : requests)
            EXPECT_TRUE((r.operation != "SetRestoreOptions" || r.text == kAuthoritative) &&
                        (r.operation != "SetAuthoritativeRestore" || (r.flag && r.componentName == u"Cluster Database")))
                << what;
        winsim::ClearFaults();
        vsscr_uninit_recover();
    }
}

} // namespace
