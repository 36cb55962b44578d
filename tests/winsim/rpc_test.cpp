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

TEST(Uuid, TextIsLowerCaseWithoutBracesFreedWithRpcStringFreeAndParsesBack)
{
    const UUID asr = {0xbe000cbe, 0x11fe, 0x4426, {0x9c, 0x58, 0x53, 0x1a, 0xa6, 0x35, 0x5f, 0xc4}};
    EXPECT_EQ(Text(asr), W("be000cbe-11fe-4426-9c58-531aa6355fc4"));

    UUID original;
    ASSERT_EQ(UuidCreate(&original), RPC_S_OK);
    RPC_WSTR text = NULL;
    ASSERT_EQ(UuidToStringW(&original, &text), RPC_S_OK);
    ASSERT_NE(text, nullptr);
    UUID parsed;
    ASSERT_EQ(UuidFromStringW(text, &parsed), RPC_S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, original));
    EXPECT_EQ(RpcStringFreeW(&text), RPC_S_OK);

    wstr upper = W("BE000CBE-11FE-4426-9C58-531AA6355FC4");
    ASSERT_EQ(UuidFromStringW(reinterpret_cast<RPC_WSTR>(&upper[0]), &parsed), RPC_S_OK);
    EXPECT_EQ(parsed.Data1, 0xbe000cbeu);
    EXPECT_EQ(parsed.Data4[7], 0xc4);
}

TEST(Uuid, MalformedTextIsAnInvalidStringUuidAndNoUuidTheNilUuid)
{
    UUID parsed;
    for (wstr text : {wstr(W("{be000cbe-11fe-4426-9c58-531aa6355fc4}")), wstr(W("be000cbe-11fe-4426-9c58-531aa6355fc")),
                      wstr(W("be000cbe-11fe-4426-9c58-531aa6355fgx"))})
        EXPECT_EQ(UuidFromStringW(reinterpret_cast<RPC_WSTR>(&text[0]), &parsed), RPC_S_INVALID_STRING_UUID);
    const UUID nil = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    RPC_WSTR text = NULL;
    ASSERT_EQ(UuidToStringW(NULL, &text), RPC_S_OK);
    EXPECT_EQ(wstr(reinterpret_cast<const WCHAR *>(text)), W("00000000-0000-0000-0000-000000000000"));
    RpcStringFreeW(&text);
    parsed.Data1 = 1;
    ASSERT_EQ(UuidFromStringW(NULL, &parsed), RPC_S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, nil));
}

} // namespace
