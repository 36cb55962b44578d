// OSSR_Sysinfo.xml of each embedded host, byte for byte against the document written out
// by hand from the host's description in tests/sysinfo/golden, then read back as XML.
#include <libwinclass/hostinfo.h>

#include <liblocal/local.h>

#include "liblocal/testing.h"

#include <winsim/hostmodel.h>

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const kHosts[] = {"default", "cluster-node", "hyperv-host", "spaces-boot", "dynamic-pack"};

std::string Golden(const std::string &host)
{
    std::ifstream in(std::string(TV_SOURCE_DIR) + "/tests/sysinfo/golden/" + host + ".xml", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "line N: expected ... produced ..." for the first line that differs.
std::string FirstDifference(const std::string &expected, const std::string &produced)
{
    std::istringstream want(expected), got(produced);
    for (int n = 1;; ++n) {
        std::string a, b;
        const bool moreA = bool(std::getline(want, a)), moreB = bool(std::getline(got, b));
        if (!moreA && !moreB)
            return "same lines, different line ends";
        if (!moreA || !moreB || a != b)
            return "line " + std::to_string(n) + ":\n  expected: " + (moreA ? a : "<end of document>") +
                   "\n  produced: " + (moreB ? b : "<end of document>");
    }
}

std::vector<std::string> ChildNames(const pugi::xml_node &node)
{
    std::vector<std::string> names;
    for (const pugi::xml_node &child : node.children())
        names.push_back(child.name());
    return names;
}

class SysinfoGolden : public testing::TestWithParam<const char *> {};

TEST_P(SysinfoGolden, DocumentIsTheHandWrittenOneAndParses)
{
    const std::string host = GetParam();
    winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(host)));
    const char *dir = get_unique_per_process_dir_path(nullptr);
    ASSERT_NE(dir, nullptr);
    ASSERT_EQ(vo_mkdirpath(dir, 0700), 1) << dir;  // the writer expects the directory to exist

    ASSERT_EQ(write_ossr_sysinfo(), 1);
    const std::string produced = tvtest::ReadWholeFile(std::string(dir) + "\\OSSR_Sysinfo.xml");
    const std::string expected = Golden(host);
    ASSERT_FALSE(expected.empty()) << "no golden document for " << host;
    EXPECT_TRUE(produced == expected) << host << ", " << FirstDifference(expected, produced);

    // No value of these hosts holds '&', '<' or '"', so the document is well-formed XML.
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(produced.data(), produced.size());
    ASSERT_TRUE(parsed) << host << ": " << parsed.description() << " at byte " << parsed.offset;
    const pugi::xml_node root = doc.document_element();
    EXPECT_STREQ(root.name(), "OSSR_SYSINFO");
    EXPECT_STREQ(root.attribute("Version").value(), "1.0");
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"Host", "NetWork", "Storage"}));
    EXPECT_EQ(ChildNames(root.child("Storage")), (std::vector<std::string>{"Disks", "Volumes", "StorageSpaces"}));
    std::vector<std::string> hostAttributes;
    for (const pugi::xml_attribute &a : root.child("Host").attributes())
        hostAttributes.push_back(a.name());
    EXPECT_EQ(hostAttributes, (std::vector<std::string>{"Model", "Manufacturer", "FirmwareType", "HostName",
                                                        "SystemDrive", "SystemRoot"}));
}

INSTANTIATE_TEST_SUITE_P(EmbeddedHosts, SysinfoGolden, testing::ValuesIn(kHosts),
                         [](const testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             for (char &c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

} // namespace
