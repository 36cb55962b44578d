// The promotion policies: which components of a promoted user-data writer join the system
// state.
#include <libwinclass/writers/promote.h>

#include <vssrequester/vsscr.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

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
        CPromoteUserHyperVWriter policy(kSomeWriter);
        EXPECT_TRUE(policy.SupportsComponent(Component(W("Initial Store"))));
        EXPECT_TRUE(policy.SupportsComponent(Component(W("Host Component"))));
        EXPECT_TRUE(policy.SupportsComponent(Component(W("host component")))) << "case is ignored";
        EXPECT_TRUE(policy.SupportsComponent(Component(W("INITIAL STORE"))));
        EXPECT_FALSE(policy.SupportsComponent(Component(W("Host Component 2")))) << "a longer name is another";
        EXPECT_FALSE(policy.SupportsComponent(Component(W("Host Componen"))));
        EXPECT_FALSE(policy.SupportsComponent(Component(W("Backup Using Saved State\\vm1"))));
        EXPECT_FALSE(policy.SupportsComponent(Component(W(""))));
        EXPECT_FALSE(policy.SupportsComponent(nullptr));
        EXPECT_FALSE(policy.PromotesAllComponents());
    }
    {
        CPromoteUserHyperVWriter policy(kSomeWriter);
        EXPECT_EQ(std::memcmp(&policy.writerId, &kSomeWriter, sizeof(GUID)), 0);
    }
}

} // namespace
