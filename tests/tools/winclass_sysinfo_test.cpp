// winclass sysinfo: every embedded host gives a complete inventory that reads back as its
// volumes; --to moves the document into the folder and leaves no scratch folder; a --to
// that cannot take it is one line and exit 2; values the library writes unescaped come
// back unchanged in --json.
#include "commandtest.h"
#include "commands.h"
#include "output.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

TEST(WinclassSysinfo, EveryEmbeddedHostGivesACompleteInventoryOfItsFixedVolumes)
{
    for (const char *name :
         {"default", "cluster-node", "cluster-three", "hyperv-host", "spaces-boot", "dynamic-pack"}) {
        SCOPED_TRACE(name);
        commandtest::UseHost(name);
        const json host = json::parse(winsim::EmbeddedHostJson(name));
        winclass::Output output(true);
        ASSERT_EQ(winclass::RunSysinfo({}, output), winclass::kExitSuccess) << output.Document().dump(1);
        EXPECT_TRUE(output.Document()["complete"].get<bool>());
        const json &inventory = output.Document()["inventory"];
        const std::string domain = host.value("domain", "");
        EXPECT_EQ(inventory["host"]["HostName"],
                  host["hostName"].get<std::string>() + (domain.empty() ? "" : "." + domain));
        std::set<std::string> fixed, listed;
        for (const json &volume : host["volumes"])
            if (volume.value("driveType", "fixed") == "fixed")
                fixed.insert("{" + Lower(volume["guid"]) + "}");
        for (const json &volume : inventory["volumes"])
            listed.insert(Lower(volume["Guid"]));
        EXPECT_EQ(listed, fixed);
        EXPECT_FALSE(inventory["disks"].empty() || inventory["adapters"].empty());
    }
}

// The program end to end, in a sandbox kept in its folder: where the document lands.
TEST(WinclassSysinfo, ToFolderTakesTheDocumentOrIsRefusedInOneLine)
{
    const struct {
        const char *to;
        int exitCode;
        const char *cause;  // in the one error line; none: the document is in D:\Keep
    } cases[] = {
        {"D:\\Keep", 0, nullptr},
        {"D:\\Keep\\", 0, nullptr},
        {"D:\\Missing", 2, "D:\\Missing: "},
        {"D:\\Keep.txt", 2, "D:\\Keep.txt: not a folder"},
    };
    const fs::path folder = commandtest::Fresh("to");
    const fs::path root = folder / "root";
    const std::string environment = "WINSIM_ROOT='" + root.string() + "'";
    // A volume root takes it too; this run also makes D:'s files in the sandbox.
    ASSERT_EQ(commandtest::RunProgram("--host default sysinfo --to 'D:\\'", folder, environment).exitCode, 0);
    EXPECT_TRUE(fs::is_regular_file(root / "D" / "OSSR_Sysinfo.xml"));
    fs::create_directories(root / "D" / "Keep");
    std::ofstream(root / "D" / "Keep.txt") << "a file";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.to);
        fs::remove(root / "D" / "Keep" / "OSSR_Sysinfo.xml");
        const commandtest::ProgramRun run =
            commandtest::RunProgram(std::string("--host default sysinfo --to '") + c.to + "'", folder, environment);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        if (c.cause != nullptr) {
            EXPECT_NE(run.err.find(c.cause), std::string::npos) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            continue;
        }
        EXPECT_NE(run.out.find("D:\\Keep\\OSSR_Sysinfo.xml"), std::string::npos) << run.out;
        const std::string text = commandtest::ReadAll(root / "D" / "Keep" / "OSSR_Sysinfo.xml");
        EXPECT_EQ(text.rfind("<?xml", 0), 0u);
        EXPECT_NE(text.find("</OSSR_SYSINFO>"), std::string::npos);
        // The scratch folder went with the move: the folder holds the document alone.
        EXPECT_EQ(std::distance(fs::directory_iterator(root / "D" / "Keep"), fs::directory_iterator()), 1);
    }
}

TEST(WinclassSysinfo, JsonGivesBackValuesWrittenUnescaped)
{
    const std::string label = "a \"b\" & <c/> 'd'>", product = "NIC \"x\" <y/> & z";
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    for (json &volume : host["volumes"])
        if (volume.value("driveLetter", "") == "D")
            volume["label"] = label;
    host["network"] = {{"adapters", json::array({{{"deviceId", 7},
                                                   {"adapterType", "Ethernet 802.3"},
                                                   {"macAddress", "00:15:5D:01:02:03"},
                                                   {"productName", product},
                                                   {"ipAddress", {"10.0.0.5"}},
                                                   {"ipSubnet", {"255.255.255.0"}}}})}};
    const fs::path folder = commandtest::Fresh("unescaped");
    fs::create_directories(folder);
    std::ofstream(folder / "host.json") << host.dump();
    const commandtest::ProgramRun run = commandtest::RunProgram("--host host.json sysinfo --json", folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json inventory = json::parse(run.out)["inventory"];
    std::set<std::string> labels;
    for (const json &volume : inventory["volumes"])
        labels.insert(volume["Label"]);
    EXPECT_EQ(labels.count(label), 1u) << inventory["volumes"].dump();
    ASSERT_EQ(inventory["adapters"].size(), 1u);
    EXPECT_EQ(inventory["adapters"][0]["ProductType"], product);
    EXPECT_EQ(inventory["adapters"][0]["IPv4"][0]["MACAddress"], "00:15:5D:01:02:03");
    EXPECT_EQ(inventory["adapters"][0]["IPv4"][0]["Subnet"], "255.255.255.0");
}

} // namespace
