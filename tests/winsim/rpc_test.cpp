// UUID creation and text of rpcrt4, as Windows documents them. Portable.
#include <platform/tvplatform.h>

#include <rpc.h>

#include <gtest/gtest.h>

#include "support/wine.h"

namespace {

wstr Text(const UUID &uuid)
{
    UUID copy = uuid;
    RPC_WSTR text = NULL;
    if (UuidToStringW(&copy, &text) != RPC_S_OK)
        return W("<failed>");
    const wstr result(reinterpret_cast<const WCHAR *>(text));
    RpcStringFreeW(&text);
    return result;
}

TEST(Uuid, CreateMakesRandomVersionFourUuids)
{
    UUID first, second;
    ASSERT_EQ(UuidCreate(&first), RPC_S_OK);
    ASSERT_EQ(UuidCreate(&second), RPC_S_OK);
    EXPECT_FALSE(IsEqualGUID(first, second));
    EXPECT_EQ(first.Data3 >> 12, 4);
    EXPECT_EQ(first.Data4[0] & 0xC0, 0x80);
}

TEST(Uuid, TextIsLowerCaseWithoutBraces)
{
    const UUID asr = {0xbe000cbe, 0x11fe, 0x4426, {0x9c, 0x58, 0x53, 0x1a, 0xa6, 0x35, 0x5f, 0xc4}};
    const wstr text = Text(asr);
    EXPECT_EQ(text, W("be000cbe-11fe-4426-9c58-531aa6355fc4"));
    EXPECT_EQ(text.size(), size_t(36));
}

TEST(Uuid, TheStringIsFreedWithRpcStringFree)
{
    UUID uuid;
    ASSERT_EQ(UuidCreate(&uuid), RPC_S_OK);
    RPC_WSTR text = NULL;
    ASSERT_EQ(UuidToStringW(&uuid, &text), RPC_S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(RpcStringFreeW(&text), RPC_S_OK);
}

TEST(Uuid, TextParsesBackToTheSameUuid)
{
    UUID original;
    ASSERT_EQ(UuidCreate(&original), RPC_S_OK);
    wstr text = Text(original);
    UUID parsed;
    ASSERT_EQ(UuidFromStringW(reinterpret_cast<RPC_WSTR>(&text[0]), &parsed), RPC_S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, original));

    wstr upper = W("BE000CBE-11FE-4426-9C58-531AA6355FC4");
    ASSERT_EQ(UuidFromStringW(reinterpret_cast<RPC_WSTR>(&upper[0]), &parsed), RPC_S_OK);
    EXPECT_EQ(parsed.Data1, 0xbe000cbeu);
    EXPECT_EQ(parsed.Data4[7], 0xc4);
}

TEST(Uuid, MalformedTextIsAnInvalidStringUuid)
{
    UUID parsed;
    wstr braced = W("{be000cbe-11fe-4426-9c58-531aa6355fc4}");
    EXPECT_EQ(UuidFromStringW(reinterpret_cast<RPC_WSTR>(&braced[0]), &parsed), RPC_S_INVALID_STRING_UUID);
    wstr shortened = W("be000cbe-11fe-4426-9c58-531aa6355fc");
    EXPECT_EQ(UuidFromStringW(reinterpret_cast<RPC_WSTR>(&shortened[0]), &parsed), RPC_S_INVALID_STRING_UUID);
    wstr letters = W("be000cbe-11fe-4426-9c58-531aa6355fgx");
    EXPECT_EQ(UuidFromStringW(reinterpret_cast<RPC_WSTR>(&letters[0]), &parsed), RPC_S_INVALID_STRING_UUID);
}

TEST(Uuid, NoUuidIsTheNilUuid)
{
    RPC_WSTR text = NULL;
    ASSERT_EQ(UuidToStringW(NULL, &text), RPC_S_OK);
    EXPECT_EQ(wstr(reinterpret_cast<const WCHAR *>(text)), W("00000000-0000-0000-0000-000000000000"));
    RpcStringFreeW(&text);
    UUID parsed;
    parsed.Data1 = 1;
    ASSERT_EQ(UuidFromStringW(NULL, &parsed), RPC_S_OK);
    const UUID nil = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_TRUE(IsEqualGUID(parsed, nil));
}

} // namespace
