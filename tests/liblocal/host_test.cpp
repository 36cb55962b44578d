// The host's name and the comparison of host names.
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(HostNameComparison, ShortAndFullNamesOfOneHostMatchOthersAndMissingOnesDoNot)
{
    EXPECT_EQ(vo_inet_hostcmp("node1", "node1"), 0);
    EXPECT_EQ(vo_inet_hostcmp("NODE1", "node1"), 0);
    EXPECT_EQ(vo_inet_hostcmp("node1", "node1.corp.example.com"), 0);
    EXPECT_EQ(vo_inet_hostcmp("Node1.CORP.example.com", "NODE1"), 0);
    EXPECT_EQ(vo_inet_hostcmp("node1.corp.example.com.", "node1.corp.example.com"), 0) << "a trailing dot";
    EXPECT_EQ(vo_inet_hostcmp("node1.", "NODE1.corp"), 0);
    EXPECT_NE(vo_inet_hostcmp("node1", "node2"), 0);
    EXPECT_NE(vo_inet_hostcmp("node1", "node10.corp.example.com"), 0);
    EXPECT_NE(vo_inet_hostcmp("node1.corp.example.com", "node1.lab.example.com"), 0)
        << "two fully qualified names in different domains";
    EXPECT_NE(vo_inet_hostcmp("node1.corp", "node1x"), 0);
    EXPECT_NE(vo_inet_hostcmp("10", "10.0.0.1"), 0) << "address literals match exactly";
    EXPECT_EQ(vo_inet_hostcmp("10.0.0.1", "10.0.0.1"), 0);
    EXPECT_NE(vo_inet_hostcmp("fe80::1", "fe80::2"), 0);
    EXPECT_LT(vo_inet_hostcmp("alpha", "beta"), 0) << "the sign orders the names";
    EXPECT_GT(vo_inet_hostcmp("Beta", "alpha"), 0);
    EXPECT_NE(vo_inet_hostcmp(nullptr, "node1"), 0);
    EXPECT_NE(vo_inet_hostcmp("node1", nullptr), 0);
    EXPECT_NE(vo_inet_hostcmp(nullptr, nullptr), 0);
    EXPECT_NE(vo_inet_hostcmp("", ""), 0);
    EXPECT_NE(vo_inet_hostcmp("", "node1"), 0);
}

TEST(LocalHostName, ShortAndFullNamesAgreeAndUndersizedBuffersFail)
{
    char shortName[256];
    char fullName[256];
    ASSERT_EQ(vo_gethostname(shortName, sizeof shortName), 0);
    ASSERT_EQ(vo_getlocalhost(fullName, sizeof fullName), 0);
    EXPECT_GT(std::strlen(shortName), 0u);
    EXPECT_EQ(std::strchr(shortName, '.'), nullptr) << shortName;
    EXPECT_EQ(vo_inet_hostcmp(shortName, fullName), 0) << shortName << " / " << fullName;
    char tiny[2] = {'x', 'x'};
    EXPECT_EQ(vo_gethostname(tiny, sizeof tiny), -1);
    EXPECT_STREQ(tiny, "") << "a cut host name would be another host";
    EXPECT_EQ(vo_getlocalhost(tiny, 1), -1);
    EXPECT_EQ(vo_gethostname(nullptr, 256), -1);
    char untouched[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(vo_getlocalhost(untouched, 0), -1);
    EXPECT_EQ(untouched[0], 'x');
}

} // namespace
