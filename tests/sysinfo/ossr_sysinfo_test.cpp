// The OSSR_Sysinfo.xml writer: where it writes, where a failure stops the document, what a
// property of the wrong type does, and the adapter address rules. Linux only (winsim hosts,
// faults and overrides).
#include "../../libwinclass/sysinfo/sysinfo_internal.h"

#include <libwinclass/hostinfo.h>
#include <liblocal/local.h>
#include <liblocal/testing.h>
#include <support/capture.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/wmi.h>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using nlohmann::json;
using winsim::WmiFaultPoint;

const char16_t kCimv2[] = u"\\\\.\\Root\\CIMV2";
const char16_t kStorage[] = u"\\\\.\\Root\\Microsoft\\Windows\\Storage";

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string Narrow(const std::u16string &text) { return std::string(text.begin(), text.end()); }

bool HasLine(const std::vector<std::string> &lines, const std::string &wanted)
{
    for (const std::string &line : lines)
        if (line.find(wanted) != std::string::npos)
            return true;
    return false;
}

class OssrSysinfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        Debug = 1;
        base_ = tvtest::UniqueDirectory("sysinfo");
        directory_ = get_unique_per_process_dir_path(base_.c_str());
        file_ = directory_ + "\\OSSR_Sysinfo.xml";
    }
    void TearDown() override { Debug = 0; }

    // The per-process directory with its parents (a new host starts with none of them).
    void MakeDirectory()
    {
        for (const std::string &path : {std::string("C:\\tvtest"), std::string("C:\\tvtest\\liblocal"), base_})
            CreateDirectoryW(tvtest::Wide(path).c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryW(tvtest::Wide(directory_).c_str(), nullptr));
    }
    std::vector<std::string> Document() const { return Lines(tvtest::ReadWholeFile(file_)); }
    static void UseHost(const std::function<void(json &)> &edit)
    {
        json host = json::parse(winsim::EmbeddedHostJson("default"));
        edit(host);
        winsim::ReplaceHost(winsim::ParseHost(host.dump()));
    }

    std::string base_;
    std::string directory_;
    std::string file_;
    tvtest::OutputCapture capture_;
};

TEST_F(OssrSysinfo, OlderSystemsGetNoFileAndResultOne)
{
    UseHost([](json &h) { h["os"] = {{"version", "6.1"}, {"build", 7601}, {"server", true}}; });
    MakeDirectory();
    EXPECT_EQ(write_ossr_sysinfo(), 1);
    EXPECT_EQ(tvtest::Attributes(file_), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(capture_.messages().empty());
}

TEST_F(OssrSysinfo, AMissingDirectoryIsACreateFailureWithTheSystemError)
{
    EXPECT_EQ(write_ossr_sysinfo(), 0);
    EXPECT_EQ(tvtest::Attributes(file_), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(capture_.messages().size(), 1u);
    const tvtest::CapturedMessage message = capture_.messages()[0];
    EXPECT_EQ(std::make_tuple(message.number, message.code, message.text),
              std::make_tuple(98426, 182000, std::string("Unable to create the OSSR_Sysinfo.xml, error: 3.\n")));
    EXPECT_TRUE(HasLine(capture_.debugLines(), "Unable to create the OSSR_Sysinfo.xml file, error: 3.\n"));
}

TEST(OssrSysinfoNoDirectory, NoPerProcessDirectoryIsACreateFailure)
{
    tvtest::OutputCapture capture;
    winsim::InjectError("UuidCreate", u"", RPC_S_UUID_NO_ADDRESS);
    EXPECT_EQ(write_ossr_sysinfo(), 0);
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0].text, "Unable to create the OSSR_Sysinfo.xml, error: 3.\n");
}

// A complete document replaces an older, longer file; its elements nest with three spaces
// a level, every end tag at the indentation of its start tag.
TEST_F(OssrSysinfo, AnExistingFileIsReplacedByANestedDocument)
{
    MakeDirectory();
    ASSERT_TRUE(tvtest::WriteWholeFile(file_, std::string(200000, 'x')));
    ASSERT_EQ(write_ossr_sysinfo(), 1);
    const std::vector<std::string> lines = Document();
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0], "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    EXPECT_EQ(lines[1], "<OSSR_SYSINFO Version=\"1.0\">");
    EXPECT_EQ(lines[2].rfind("<Host Model=\"Simulated Server\" Manufacturer=\"Winsim Systems\" "
                             "FirmwareType=\"UEFI\" HostName=\"",
                             0),
              0u)
        << lines[2];
    EXPECT_EQ(lines[3], "   <NetWork>");
    EXPECT_EQ(lines.back(), "</OSSR_SYSINFO>");
    std::vector<std::string> open;
    for (size_t i = 3; i + 1 < lines.size(); ++i) {
        const std::string &line = lines[i];
        const size_t indent = line.find('<');
        const bool end = line[indent + 1] == '/';
        ASSERT_EQ(indent, 3 * (open.size() + (end ? 0 : 1))) << i << ": " << line;
        const size_t nameEnd = line.find_first_of(" />", indent + 2);
        if (end) {
            ASSERT_FALSE(open.empty()) << line;
            EXPECT_EQ(line.substr(indent + 2, nameEnd - indent - 2), open.back()) << line;
            open.pop_back();
        } else if (line.compare(line.size() - 2, 2, "/>") != 0) {
            open.push_back(line.substr(indent + 1, nameEnd - indent - 1));
        }
    }
    EXPECT_TRUE(open.empty());
    EXPECT_TRUE(HasLine(lines, "<VirtualVolume GUID=\"{")) << "the pool's virtual disk finds its disk";
    EXPECT_TRUE(capture_.messages().empty());
}

// Each WMI step of each query failing: the result, the last line written, a line that must
// be missing, and the next document of the process complete again from column 0.
TEST_F(OssrSysinfo, AFailedWmiCallStopsTheDocumentWhereItsSectionSays)
{
    MakeDirectory();
    ASSERT_EQ(write_ossr_sysinfo(), 1);
    const std::vector<std::string> complete = Document();
    struct Case {
        WmiFaultPoint point;
        std::u16string match;
        int skip;
        int result;
        const char *last;     // the last line of the file
        const char *missing;  // a text no line holds
    } const cases[] = {
        {WmiFaultPoint::Connect, kCimv2, 1, 0, "   </NetWork>", "<Storage>"},
        {WmiFaultPoint::Query, u"Win32_NetworkAdapter", 0, 0, "   </NetWork>", "<Adapter"},
        {WmiFaultPoint::Connect, kCimv2, 2, 0, "   </NetWork>", "<Adapter"},
        {WmiFaultPoint::Query, u"Win32_NetworkAdapterConfiguration", 0, 0, "   </NetWork>", "<Adapter"},
        {WmiFaultPoint::Next, u"Win32_NetworkAdapter", 0, 1, "</OSSR_SYSINFO>", "<Adapter"},
        {WmiFaultPoint::Next, u"Win32_NetworkAdapterConfiguration", 0, 1, "</OSSR_SYSINFO>", "<IPv4"},
        {WmiFaultPoint::Connect, kStorage, 0, 0, "   </Storage>", "<Disk "},
        {WmiFaultPoint::Query, u"MSFT_Disk", 0, 0, "   </Storage>", "<Volumes>"},
        {WmiFaultPoint::Next, u"MSFT_Disk", 0, 0, "   </Storage>", "<Disk "},
        {WmiFaultPoint::Query, u"MSFT_PhysicalDisk", 0, 0, "   </Storage>", "<Disk "},
        {WmiFaultPoint::Next, u"MSFT_PhysicalDisk", 0, 0, "   </Storage>", "<Disk "},
        {WmiFaultPoint::Connect, kStorage, 2, 1, "</OSSR_SYSINFO>", "<Disk BusType"},
        {WmiFaultPoint::Connect, kStorage, 4, 0, "   </Storage>", "</StorageSpaces>"},
        {WmiFaultPoint::Connect, kStorage, 5, 1, "</OSSR_SYSINFO>", "<PhysicalDisk "},
        {WmiFaultPoint::Query, u"MSFT_Partition", 0, 1, "</OSSR_SYSINFO>", "<Disk BusType"},
        {WmiFaultPoint::Next, u"MSFT_Partition", 0, 1, "</OSSR_SYSINFO>", "<Disk BusType"},
        {WmiFaultPoint::Connect, kStorage, 3, 0, "   </Storage>", "</Volumes>"},
        {WmiFaultPoint::Query, u"MSFT_Volume", 0, 0, "   </Storage>", "</Volumes>"},
        {WmiFaultPoint::Next, u"MSFT_Volume", 0, 1, "</OSSR_SYSINFO>", "<Volume "},
        {WmiFaultPoint::Query, u"MSFT_StoragePool", 0, 0, "   </Storage>", "</StorageSpaces>"},
        {WmiFaultPoint::Next, u"MSFT_StoragePool", 0, 0, "   </Storage>", "<StoragePool "},
        {WmiFaultPoint::Query, u"MSFT_StoragePoolToPhysicalDisk", 0, 1, "</OSSR_SYSINFO>", "<PhysicalDisk "},
        {WmiFaultPoint::Next, u"MSFT_StoragePoolToVirtualDisk", 0, 1, "</OSSR_SYSINFO>", "<VirtualDisk "},
        {WmiFaultPoint::GetObject, u"MSFT_StoragePool", 0, 1, "</OSSR_SYSINFO>", "<PhysicalDisk "},
        {WmiFaultPoint::GetObject, u"MSFT_PhysicalDisk", 0, 1, "</OSSR_SYSINFO>", "<PhysicalDisk "},
        {WmiFaultPoint::GetObject, u"MSFT_VirtualDisk", 0, 1, "</OSSR_SYSINFO>", "<VirtualVolume "},
    };
    for (const Case &c : cases) {
        const std::string label = Narrow(c.match) + " point " + std::to_string(int(c.point));
        winsim::ResetWmi();
        capture_.clear();
        winsim::InjectWmiFault({c.point, c.match, HRESULT(0x80041001), c.skip, 1});
        EXPECT_EQ(write_ossr_sysinfo(), c.result) << label;
        const std::vector<std::string> lines = Document();
        ASSERT_FALSE(lines.empty()) << label;
        EXPECT_EQ(lines.back(), c.last) << label;
        EXPECT_FALSE(HasLine(lines, c.missing)) << label;
        ASSERT_FALSE(capture_.messages().empty()) << label;
        EXPECT_EQ(capture_.messages()[0].number, 98424) << label;
        EXPECT_EQ(capture_.messages()[0].text.rfind("Unable to retrieve WMI data for OSSR_Sysinfo.xml, error=0x80041001: ", 0),
                  0u)
            << label;
        EXPECT_TRUE(HasLine(capture_.debugLines(), "libwinclass/ossr_sysinfo_xml:")) << label;
        EXPECT_EQ(winsim::LiveWmiObjects(), 0u) << label;
        EXPECT_EQ(write_ossr_sysinfo(), 1) << label;
        EXPECT_EQ(Document(), complete) << label;
    }
}

// A property of the wrong type, NULL, or with markup and non-ASCII text, on every object of
// its class: the result, a text some line must hold, one no line may hold, and whether the
// CIM_STRING line was logged.
TEST_F(OssrSysinfo, PropertyValuesAreCheckedByTypeAndWrittenUnchanged)
{
    MakeDirectory();
    auto number = [](LONG n) { VARIANT v; VariantInit(&v); v.vt = VT_I4; v.lVal = n; return v; };
    auto text = [](const char16_t *t) { VARIANT v; VariantInit(&v); v.vt = VT_BSTR; v.bstrVal = SysAllocString(t); return v; };
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    struct Case {
        const char16_t *ns, *className, *property;
        VARIANT value;
        int result;
        const char *present, *missing;
        bool notString;
    } const cases[] = {
        {kCimv2, u"Win32_NetworkAdapter", u"AdapterType", number(7), 1, "   </NetWork>", "<Adapter", true},
        {kCimv2, u"Win32_NetworkAdapterConfiguration", u"IPAddress", null, 1, "<Adapter ", "<IPv4", false},
        {kStorage, u"MSFT_Volume", u"FileSystemLabel", null, 1, "<Volumes>", "<Volume ", true},
        {kStorage, u"MSFT_Disk", u"FriendlyName", number(1), 0, "      </Disks>", "<Disk ", true},
        {kStorage, u"MSFT_Disk", u"BusType", number(17), 1, "BusType=\"Unknown\"", "BusType=\"SATA\"", false},
        {kStorage, u"MSFT_Partition", u"GptType", null, 1, "<Partitions Type=\"MBR\">", "\"GPT\"", false},
        {kStorage, u"MSFT_Partition", u"AccessPaths", null, 1, "<DiskLayout>", "<Disk Index=", false},
        {kStorage, u"MSFT_Volume", u"FileSystemLabel", text(u"A<&\"\u00fc\u20ac"), 1, "Label=\"A<&\"\u00fc\u20ac\"", "&amp;",
         false},
        {kStorage, u"MSFT_VirtualDisk", u"FriendlyName", text(u"P&\"\u00f6"), 1, "Name=\"P&\"\u00f6\">", "&quot;", false},
        {kCimv2, u"Win32_ComputerSystem", u"Model", text(u"M<\u00e9>"), 1, "<Host Model=\"M<\u00e9>\"", "&lt;", false},
    };
    for (const Case &c : cases) {
        const std::string label = Narrow(c.className) + "." + Narrow(c.property);
        winsim::ResetWmi();
        capture_.clear();
        winsim::OverrideWmiProperty(c.ns, c.className, c.property, c.value);
        EXPECT_EQ(write_ossr_sysinfo(), c.result) << label;
        const std::vector<std::string> lines = Document();
        EXPECT_TRUE(HasLine(lines, c.present)) << label << " " << c.present;
        EXPECT_FALSE(HasLine(lines, c.missing)) << label << " " << c.missing;
        EXPECT_EQ(HasLine(capture_.debugLines(), "libwinclass/ossr_sysinfo_xml: CIM_STRING was not returned at "),
                  c.notString)
            << label;
    }
    for (const Case &c : cases)
        VariantClear(const_cast<VARIANT *>(&c.value));
}

TEST_F(OssrSysinfo, AFailedHostIdentityLeavesModelAndManufacturerEmpty)
{
    MakeDirectory();
    winsim::InjectWmiFault({WmiFaultPoint::Query, u"Win32_ComputerSystem", HRESULT(0x80041001), 0, 1});
    EXPECT_EQ(write_ossr_sysinfo(), 1);
    const std::vector<std::string> lines = Document();
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(lines[2].rfind("<Host Model=\"\" Manufacturer=\"\" FirmwareType=\"UEFI\"", 0), 0u) << lines[2];
    ASSERT_EQ(capture_.messages().size(), 1u);
    EXPECT_EQ(std::make_pair(capture_.messages()[0].number, capture_.messages()[0].code), std::make_pair(0, 2));
    EXPECT_EQ(capture_.messages()[0].text.rfind("Could not get the Host's manufacturer and model while writing the "
                                                "OSSR_sysinfo XML file: error Unable to query",
                                                0),
              0u)
        << capture_.messages()[0].text;
}

// Adapters in index order; Subnet and Gateway on the first address of each family, DHCP on
// the adapter's first address, the MAC address on IPv4 only; virtual adapters left out.
TEST_F(OssrSysinfo, AdapterAddressesFollowTheFamilyRules)
{
    UseHost([](json &h) {
        auto nic = [](int id, const char *name, bool dhcp, json addresses, json subnets, json gateways) {
            json a = {{"deviceId", id}, {"productName", name}, {"adapterType", "Ethernet 802.3"}, {"macAddress", "00:15:5D:00:00:0" + std::to_string(id)},
                      {"dhcpEnabled", dhcp}};
            if (dhcp)
                a["dhcpServer"] = "10.0.0.1";
            if (!addresses.empty())
                a["ipAddress"] = addresses;
            a["ipSubnet"] = subnets;
            a["defaultIPGateway"] = gateways;
            return a;
        };
        json virt = nic(3, "Virtual", true, {"10.9.9.9"}, {"255.0.0.0"}, json::array());
        virt["physical"] = false;
        h["network"]["adapters"] = {
            nic(7, "NIC A", true, {"10.0.0.5", "fe80::1", "bogus", "10.0.0.6", "::ffff:10.0.0.9"},
                {"255.255.255.0", "64", "255.255.0.0"}, {"fe80::fe", "10.0.0.254"}),
            nic(2, "NIC B", false, {"2001:db8::5", "2001:db8::6"}, {"64", "48"}, json::array()), virt,
            nic(5, "NIC C", false, json::array(), json::array(), json::array())};
    });
    MakeDirectory();
    ASSERT_EQ(write_ossr_sysinfo(), 1);
    const std::vector<std::string> lines = Document();
    const std::vector<std::string> expected = {
        "   <NetWork>",
        "      <Adapter Type=\"Ethernet 802.3\" ProductType=\"NIC B\">",
        "         <IPv6 Address=\"2001:db8::5\" Subnet=\"64\" DHCPEnabled=\"No\"/>",
        "         <IPv6 Address=\"2001:db8::6\"/>",
        "      </Adapter>",
        "      <Adapter Type=\"Ethernet 802.3\" ProductType=\"NIC C\">",
        "      </Adapter>",
        "      <Adapter Type=\"Ethernet 802.3\" ProductType=\"NIC A\">",
        "         <IPv4 Address=\"10.0.0.5\" Subnet=\"255.255.255.0\" Gateway=\"10.0.0.254\" DHCPEnabled=\"Yes\" "
        "DHCPServer=\"10.0.0.1\" MACAddress=\"00:15:5D:00:00:07\"/>",
        "         <IPv4 Address=\"10.0.0.6\" MACAddress=\"00:15:5D:00:00:07\"/>",
        "         <IPv4 Address=\"::ffff:10.0.0.9\" MACAddress=\"00:15:5D:00:00:07\"/>",
        "         <IPv6 Address=\"fe80::1\" Subnet=\"64\" Gateway=\"fe80::fe\"/>",
        "         <IPv6 Address=\"::ffff:10.0.0.9\"/>",
        "      </Adapter>",
        "   </NetWork>"};
    ASSERT_GT(lines.size(), 3 + expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.begin() + 3 + long(expected.size())), expected);
}

TEST(SysinfoValues, CapacityTextsAndGuidKeys)
{
    const struct {
        __int64 size;
        const char *text;
    } capacities[] = {{0, "0.00 Bytes"},          {1024, "1024.00 Bytes"},       {1025, "1.00 KBytes"},
                      {1536, "1.50 KBytes"},      {1048576, "1024.00 KBytes"},   {500LL << 30, "500.00 GBytes"},
                      {-1, "16.00 EBytes"},       {1LL << 62, "4.00 EBytes"}};
    for (const auto &c : capacities)
        EXPECT_STREQ(sysinfo_format_capacity(c.size).get_utf8(), c.text) << c.size;

    const char guid[] = "{0a1b2c3d-0000-1111-2222-333344445555}";
    const struct {
        std::string in, out;
    } keys[] = {{std::string("\\\\?\\Volume") + guid + "\\", guid},
                {std::string("{1}\\\\?\\scsi#disk#") + guid, guid},
                {std::string("{x") + guid + "}", std::string(guid) + "}"},
                {"{0a1b2c3d-0000-1111-2222-33334444555}", "{0a1b2c3d-0000-1111-2222-33334444555}"},
                {"}0a1b2c3d-0000-1111-2222-333344445555{", "}0a1b2c3d-0000-1111-2222-333344445555{"},
                {"no braces", "no braces"},
                {"", ""}};
    for (const auto &k : keys) {
        tv_str key;
        key.set_utf8(k.in.c_str());
        sysinfo_guid_key(key);
        EXPECT_EQ(std::string(key.get_utf8()), k.out) << k.in;
    }

    SAFEARRAY *numbers = SafeArrayCreateVector(VT_I4, 0, 2);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_ARRAY | VT_I4;
    value.parray = numbers;
    try {
        sysinfo_string_array(value);
        ADD_FAILURE() << "an array of numbers is not a string array";
    } catch (const _com_error &error) {
        EXPECT_EQ(error.Error(), E_INVALIDARG);
    }
    VariantClear(&value);
}

} // namespace
