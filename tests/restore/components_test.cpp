// The restore session's writer questions and selections through the exported interface:
// what they answer from a backup's saved documents, and what they asked of VSS.
#include <restore/restoretest.h>

#include <winsim/vss.h>

#include <cstring>

namespace {

using namespace restoretest;
using nlohmann::json;

const char *const kSystem = "System Writer";
const std::u16string kAuthoritative = u"\"Authoritative\"=\"All\"";

// Pre-filled into outputs that must stay untouched.
const GUID kMarkerGuid = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
vsscr_filedesc *const kMarkerChain = reinterpret_cast<vsscr_filedesc *>(0x10);

int Count(const std::vector<winsim::VssRequest> &requests, const std::string &operation)
{
    int count = 0;
    for (const winsim::VssRequest &request : requests)
        count += request.operation == operation ? 1 : 0;
    return count;
}

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
            if (node->component != nullptr) {
                delete[] node->component->name;
                delete[] node->component->caption;
                delete[] node->component->logical_path;
            }
            delete node->component;
            delete node;
            node = next;
        }
        first_ = nullptr;
    }

    // A backup of the host given, its session opened on the documents. The System Writer
    // has one component restored to an alternate target and two alternate location mappings.
    void OpenSession(const std::string &host = "default", bool loadWriters = true)
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
        writers_.clear();
        metadata_.clear();
        open_.clear();
        Backup();
        Expect(loadWriters ? open_ : std::vector<Step>{open_[0]});
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
    vsscr_filedesc descriptor = {};
    vsscr_filedesc *chain = nullptr;
    GUID id = kMarkerGuid;
    const auto method_info = [&](const char *writer, VSS_RESTOREMETHOD_ENUM *m, char *s, unsigned int *flag) {
        return [=, &text, &writerRestore] {
            return vsscr_get_writer_restore_method_info(writer, m, sizeof text, s, sizeof text, text, &writerRestore,
                                                        flag);
        };
    };
    const std::string bad = ": Invalid Parameters.\n";
    const std::vector<Step> badArguments = {
        {"method NULL name", method_info(nullptr, &method, text, &number), 115355,
         "Unable to retrieve writer restore method information" + bad},
        {"method NULL method", method_info(kSystem, nullptr, text, &number), 115355, ""},
        {"method NULL service", method_info(kSystem, &method, nullptr, &number), 115355, ""},
        {"method NULL flag", method_info(kSystem, &method, text, nullptr), 115355, ""},
        {"usage NULL name", [&] { return vsscr_get_writer_usage_type(nullptr, &number); }, 115346,
         "Unable to retrieve VSS writer usage type" + bad},
        {"usage NULL out", [&] { return vsscr_get_writer_usage_type(kSystem, nullptr); }, 115356,
         "Unable to retrieve writer usage type" + bad},
        {"id NULL name", [&] { return vsscr_get_writer_id(nullptr, &id); }, 115344, "Unable to get writer ID" + bad},
        {"id NULL out", [&] { return vsscr_get_writer_id(kSystem, nullptr); }, 115344, ""},
        {"exclude NULL out", [&] { return vsscr_get_writer_exclude_list(0, kSystem, nullptr); }, 115343,
         "Unable to get writer exclude list" + bad},
        {"comp NULL count", [&] { return vsscr_get_comp_info(kSystem, nullptr, &head, &method); }, 115342,
         "Unable to get component information" + bad},
        {"comp NULL method", [&] { return vsscr_get_comp_info(kSystem, &number, &head, nullptr); }, 115342, ""},
        {"map NULL out", [&] { return vsscr_get_alternate_location_map(kSystem, nullptr); }, 115360,
         "Unable to retrieve alternate location mapping" + bad},
        {"add NULL record", [&] { return vsscr_add_snapcomponent_for_restore(kSystem, nullptr, 0, 1); }, 115340,
         "Unable to add component for restore" + bad},
        {"add NULL name", [&] { return vsscr_add_snapcomponent_for_restore(nullptr, &record, 1, 0); }, 115340, ""},
        {"alternate NULL descriptor", [&] { return vsscr_add_alternate_location(kSystem, &record, nullptr); }, 115339,
         "Unable to add alternate location for restore" + bad},
        {"alternate NULL record", [&] { return vsscr_add_alternate_location(kSystem, nullptr, &descriptor); }, 115339,
         ""},
        {"target", [] { return vsscr_get_writer_restore_target(nullptr, nullptr, nullptr); }, 0, ""},
        {"metadata flag", [] { return vsscr_get_comp_restore_metadata_flag(nullptr, nullptr, nullptr); }, 0, ""},
    };
    const char *const unknown = "No Such Writer";
    const std::string notFound = "Unable to find No Such Writer in the writer recovery list.\n";
    const std::vector<Step> unknownWriter = {
        {"method", method_info(unknown, &method, text, &number), 115354, notFound},
        {"usage", [&] { return vsscr_get_writer_usage_type(unknown, &number); }, 115354, notFound},
        {"comp", [&] { return vsscr_get_comp_info(unknown, &number, &head, &method); }, 115354, notFound},
        {"map", [&] { return vsscr_get_alternate_location_map(unknown, &chain); }, 115354, notFound},
        {"add whole", [&] { return vsscr_add_snapcomponent_for_restore(unknown, nullptr, 1, 1); }, 115354, notFound},
        {"add one", [&] { return vsscr_add_snapcomponent_for_restore(unknown, &record, 0, 0); }, 115354, notFound},
        {"alternate", [&] { return vsscr_add_alternate_location(unknown, &record, &descriptor); }, 115354, notFound},
        // These two report bad arguments only.
        {"id", [&] { return vsscr_get_writer_id(unknown, &id); }, 0, ""},
        {"exclude", [&] { return vsscr_get_writer_exclude_list(0, unknown, &chain); }, 0, ""},
    };
    Expect(badArguments);
    Expect(unknownWriter);  // no session ever
    OpenSession();
    Expect(badArguments);
    Expect(unknownWriter);
    EXPECT_EQ(0, std::memcmp(&id, &kMarkerGuid, sizeof id));
    EXPECT_EQ(nullptr, chain);
    EXPECT_TRUE(winsim::VssRequests().empty());
}

TEST_F(Components, WriterQuestionsAnswerFromTheLoadedMetadata)
{
    OpenSession();
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    unsigned int reboot = 7, usage = 0;
    char service[4] = "old", procedure[4] = "old";
    EXPECT_SUCCESS(vsscr_get_writer_restore_method_info("system WRITER", &method, sizeof service, service,
                                                        sizeof procedure, procedure, &writerRestore, &reboot));
    EXPECT_EQ(VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE, method);
    EXPECT_EQ(VSS_WRE_NEVER, writerRestore);
    EXPECT_EQ(1u, reboot);
    EXPECT_STREQ("", service);
    EXPECT_STREQ("", procedure);
    EXPECT_SUCCESS(vsscr_get_writer_usage_type(kSystem, &usage));
    EXPECT_EQ(static_cast<unsigned int>(VSS_UT_BOOTABLESYSTEMSTATE), usage);
    GUID id = kMarkerGuid;
    EXPECT_SUCCESS(vsscr_get_writer_id(kSystem, &id));
    const GUID systemWriter = {0xe8132975, 0x6f93, 0x4464, {0xa5, 0x3e, 0x10, 0x50, 0x25, 0x3a, 0xe2, 0x20}};
    EXPECT_EQ(0, std::memcmp(&id, &systemWriter, sizeof id));

    // Exclude files: mode 0 lists them, any other mode leaves the output alone.
    vsscr_filedesc *excludes = kMarkerChain;
    EXPECT_SUCCESS(vsscr_get_writer_exclude_list(1, "Shadow Copy Optimization Writer", &excludes));
    EXPECT_EQ(kMarkerChain, excludes);
    EXPECT_SUCCESS(vsscr_get_writer_exclude_list(0, "Shadow Copy Optimization Writer", &excludes));
    EXPECT_NE(nullptr, excludes);
    vsscr_free_filedesc_struct(0, excludes);

    vsscr_filedesc *mappings = nullptr;
    EXPECT_SUCCESS(vsscr_get_alternate_location_map(kSystem, &mappings));
    ASSERT_TRUE(mappings != nullptr && mappings->next != nullptr);
    EXPECT_EQ(nullptr, mappings->next->next);
    vsscr_free_filedesc_struct(0, mappings);
}

// A writer known to the session whose metadata was not loaded: the reboot flag is still
// written, the texts are not.
TEST_F(Components, AWriterWithoutMetadataReportsAndKeepsTheTexts)
{
    OpenSession("default", false);
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_CUSTOM;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_ALWAYS;
    unsigned int reboot = 7;
    char service[4] = "old", procedure[4] = "old";
    vsscr_filedesc *mappings = kMarkerChain;
    Expect({{"method", [&] {
                 return vsscr_get_writer_restore_method_info(kSystem, &method, sizeof service, service,
                                                             sizeof procedure, procedure, &writerRestore, &reboot);
             }, 115353, "Unable to retrieve System Writer restore information:"},
            {"map", [&] { return vsscr_get_alternate_location_map(kSystem, &mappings); }, 115359,
             "System Writer metadata is not loaded.\n"}});
    EXPECT_EQ(0u, reboot);
    EXPECT_STREQ("old", service);
    EXPECT_STREQ("old", procedure);
    EXPECT_EQ(kMarkerChain, mappings);
}

// The method passed in changes only for a component restored to an alternate target.
TEST_F(Components, ComponentInfoCountsAndMarksTheAlternateTarget)
{
    OpenSession();
    struct Case {
        const char *writer;
        unsigned int count;
        VSS_RESTOREMETHOD_ENUM method;
    } const cases[] = {
        {"Registry Writer", 1, VSS_RME_CUSTOM},
        {"Shadow Copy Optimization Writer", 0, VSS_RME_CUSTOM},
        {kSystem, 2, VSS_RME_RESTORE_TO_ALTERNATE_LOCATION},
    };
    for (const Case &c : cases) {
        unsigned int count = 99;
        VSS_RESTOREMETHOD_ENUM method = VSS_RME_CUSTOM;
        EXPECT_SUCCESS(CompInfo(c.writer, &count, &method));
        EXPECT_EQ(c.count, count) << c.writer;
        EXPECT_EQ(c.method, method) << c.writer;
        unsigned int index = 0;
        for (const vsscr_compinfo *node = first_; node != nullptr; node = node->next) {
            ASSERT_NE(nullptr, node->component) << c.writer;
            EXPECT_EQ(++index, node->component->index) << c.writer;
        }
        EXPECT_EQ(c.count, index) << c.writer;
        FreeChain();
    }
}

// Whole writers: every component selected; authoritative by options text, or for the
// cluster database writer (any letter case) by SetAuthoritativeRestore, never both.
TEST_F(Components, WholeWriterSelectionAsksVssPerComponent)
{
    struct Case {
        const char *host, *writer;
        int authoritative, components, options, authoritativeCalls;
    } const cases[] = {
        {"default", kSystem, 0, 2, 0, 0},
        {"default", kSystem, 1, 2, 2, 0},
        {"cluster-node", "cluster database", 1, 1, 0, 1},
        {"cluster-node", "CLUSTER DATABASE", 0, 1, 0, 0},
    };
    for (const Case &c : cases) {
        OpenSession(c.host);
        EXPECT_SUCCESS(vsscr_add_snapcomponent_for_restore(c.writer, nullptr, 1, c.authoritative));
        const std::vector<winsim::VssRequest> requests = winsim::VssRequests();
        EXPECT_EQ(c.components, Count(requests, "SetSelectedForRestore")) << c.host << " " << c.authoritative;
        EXPECT_EQ(c.options, Count(requests, "SetRestoreOptions")) << c.host << " " << c.authoritative;
        EXPECT_EQ(c.authoritativeCalls, Count(requests, "SetAuthoritativeRestore")) << c.host;
        for (const winsim::VssRequest &request : requests) {
            if (request.operation == "SetRestoreOptions") {
                EXPECT_EQ(kAuthoritative, request.text);
            } else if (request.operation == "SetAuthoritativeRestore") {
                EXPECT_TRUE(request.flag && request.componentName == u"Cluster Database");
            }
        }
        vsscr_uninit_recover();
        vsscr_uninit_backup();
    }
}

// Failures of VSS end a selection with their message; a single component's options are
// set but not judged.
TEST_F(Components, SelectionFailuresGiveTheirMessage)
{
    OpenSession();
    vsscr_writercomponent services = {};
    WCHAR servicesName[] = W("Win32 Services Files"), noSuchName[] = W("No Such Component");
    services.name = servicesName;
    vsscr_writercomponent missing = services;
    missing.name = noSuchName;
    struct Case {
        const char *fault;
        vsscr_writercomponent *record;
        int authoritative, number;
        std::string text;
    } const cases[] = {
        {"SetSelectedForRestore", nullptr, 0, 115994,
         "Unable to select System Files component from System Writer for restore:"},
        {"SetRestoreOptions", nullptr, 1, 115996, "Unable to set component restore options for System Writer:"},
        {"SetRestoreOptions", &services, 1, 0, ""},
        {"", &missing, 0, 115373, "Unable to get component No Such Component for System Writer:"},
    };
    for (const Case &c : cases) {
        winsim::ClearVssRequests();
        if (*c.fault != 0)
            winsim::InjectHresult(std::string("IVssBackupComponents::") + c.fault, u"", E_UNEXPECTED);
        Expect({{c.fault, [&] { return vsscr_add_snapcomponent_for_restore(kSystem, c.record, c.record == nullptr,
                                                                            c.authoritative); },
                 c.number, c.text}});
        winsim::ClearFaults();
        if (c.number == 0) {  // the writer is selected all the same
            EXPECT_EQ(1, Count(winsim::VssRequests(), "SetSelectedForRestore"));
        }
    }
}

TEST_F(Components, ClusterAuthoritativeFailureGivesItsMessage)
{
    OpenSession("cluster-node");
    winsim::InjectHresult("IVssBackupComponents::SetAuthoritativeRestore", u"", E_UNEXPECTED);
    Expect({{"authoritative", [] { return vsscr_add_snapcomponent_for_restore("Cluster Database", nullptr, 1, 1); },
             115995, "Unable to set authoritative restore for components of Cluster Database:"}});
}

// Only the first descriptor of a chain is mapped, for the component the record names.
TEST_F(Components, AlternateLocationMapsTheFirstDescriptorOnly)
{
    OpenSession();
    unsigned int count = 0;
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_CUSTOM;
    EXPECT_SUCCESS(CompInfo(kSystem, &count, &method));
    ASSERT_TRUE(first_ != nullptr && first_->next != nullptr);
    vsscr_filedesc *mappings = nullptr;
    EXPECT_SUCCESS(vsscr_get_alternate_location_map(kSystem, &mappings));
    ASSERT_TRUE(mappings != nullptr && mappings->next != nullptr);
    EXPECT_SUCCESS(vsscr_add_alternate_location(kSystem, first_->next->component, mappings));
    winsim::InjectHresult("IVssBackupComponents::AddAlternativeLocationMapping", u"", E_UNEXPECTED);
    Expect({{"fault", [&] { return vsscr_add_alternate_location(kSystem, first_->component, mappings); }, 115376,
             "Unable to add alternate location map for System Writer:"}});
    const std::u16string path = mappings->path, alternate = mappings->alternate_path;
    vsscr_free_filedesc_struct(0, mappings);
    const std::vector<winsim::VssRequest> requests = winsim::VssRequests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("AddAlternativeLocationMapping", requests[0].operation);
    EXPECT_EQ(u"Win32 Services Files", requests[0].componentName);
    EXPECT_EQ(path, requests[0].text);
    EXPECT_EQ(u"*.ini", requests[0].text2);
    EXPECT_EQ(alternate, requests[0].text3);
    EXPECT_TRUE(requests[0].flag);
}

} // namespace
