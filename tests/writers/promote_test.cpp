// The promotion policies: which components of a promoted user-data writer join the system
// state.
#include <libwinclass/writers/promote.h>

#include <vssrequester/vsscr.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const GUID kSomeWriter = {0x66841cd4, 0x6ded, 0x4f4b, {0x8f, 0x17, 0xfd, 0x23, 0xf8, 0xdd, 0xc3, 0xde}};

std::shared_ptr<CVssWriterComp> Component(const WCHAR *name)
{
    auto component = std::make_shared<CVssWriterComp>();
    component->name = name;
    return component;
}

TEST(PromotionPolicy, DefaultPromotesEveryComponentVirtualizationHostOnlyItsHostComponents)
{
    CPromoteDefaultUserDataWriter policy(kSomeWriter);
    EXPECT_TRUE(policy.SupportsComponent(Component(W("anything"))));
    EXPECT_TRUE(policy.PromotesAllComponents());
    {
        // Its own two components in any letter case; a longer or shorter name is another.
        CPromoteUserHyperVWriter policy(kSomeWriter);
        const struct {
            const WCHAR *name;
            bool promoted;
        } kNames[] = {{W("Initial Store"), true},   {W("Host Component"), true}, {W("host component"), true},
                      {W("INITIAL STORE"), true},   {W("Host Component 2"), false}, {W("Host Componen"), false},
                      {W("Backup Using Saved State\\vm1"), false}, {W(""), false}};
        for (const auto &n : kNames)
            EXPECT_EQ(policy.SupportsComponent(Component(n.name)), n.promoted) << std::string(n.name, n.name + wstr(n.name).size());
        EXPECT_FALSE(policy.SupportsComponent(nullptr));
        EXPECT_FALSE(policy.PromotesAllComponents());
    }
}

} // namespace
