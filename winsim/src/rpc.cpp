// rpcrt4: UUID creation and text. Random UUIDs come from the kernel's random source.
#include "internal.h"

#include <rpc.h>

#include <cstdlib>
#include <random>
#include <sys/random.h>

namespace winsim {

namespace {

const char kLowerHex[] = "0123456789abcdef";

bool FillRandom(void *buffer, size_t size)
{
    char *out = static_cast<char *>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(out, size, 0);
        if (got <= 0)
            return false;
        out += got;
        size -= size_t(got);
    }
    return true;
}

int HexDigit(unsigned short c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

} // namespace winsim

using namespace winsim;

EXTERN_C RPC_STATUS RPC_ENTRY UuidCreate(UUID *Uuid)
{
    if (Uuid == NULL)
        return RPC_S_INVALID_ARG;
    // RPC_S_UUID_LOCAL_ONLY still gives a UUID, one only this computer may rely on; any
    // other status gives none.
    Fault fault;
    const bool faulted = TakeFault("UuidCreate", wstring16(), &fault);
    if (faulted && fault.error != RPC_S_UUID_LOCAL_ONLY)
        return RPC_STATUS(fault.error);
    if (!FillRandom(Uuid, sizeof *Uuid)) {
        std::random_device device;
        for (size_t i = 0; i < sizeof *Uuid; ++i)
            reinterpret_cast<unsigned char *>(Uuid)[i] = static_cast<unsigned char>(device());
    }
    Uuid->Data3 = static_cast<unsigned short>((Uuid->Data3 & 0x0FFF) | 0x4000);  // version 4
    Uuid->Data4[0] = static_cast<unsigned char>((Uuid->Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
    return faulted ? RPC_STATUS(RPC_S_UUID_LOCAL_ONLY) : RPC_S_OK;
}

EXTERN_C RPC_STATUS RPC_ENTRY UuidCreateNil(UUID *NilUuid)
{
    if (NilUuid == NULL)
        return RPC_S_INVALID_ARG;
    *NilUuid = GUID_NULL;
    return RPC_S_OK;
}

EXTERN_C RPC_STATUS RPC_ENTRY UuidToStringW(UUID *Uuid, RPC_WSTR *StringUuid)
{
    if (StringUuid == NULL)
        return RPC_S_INVALID_ARG;
    const UUID value = Uuid != NULL ? *Uuid : GUID_NULL;
    unsigned char bytes[16];
    // Data1..Data3 are written most significant digit first, Data4 byte by byte.
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value.Data1 >> (24 - 8 * i));
    bytes[4] = static_cast<unsigned char>(value.Data2 >> 8);
    bytes[5] = static_cast<unsigned char>(value.Data2);
    bytes[6] = static_cast<unsigned char>(value.Data3 >> 8);
    bytes[7] = static_cast<unsigned char>(value.Data3);
    for (int i = 0; i < 8; ++i)
        bytes[8 + i] = value.Data4[i];

    RPC_WSTR text = static_cast<RPC_WSTR>(malloc(37 * sizeof(unsigned short)));
    if (text == NULL)
        return RPC_S_OUT_OF_MEMORY;
    size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text[at++] = '-';
        text[at++] = static_cast<unsigned short>(kLowerHex[bytes[i] >> 4]);
        text[at++] = static_cast<unsigned short>(kLowerHex[bytes[i] & 0xF]);
    }
    text[at] = 0;
    *StringUuid = text;
    return RPC_S_OK;
}

EXTERN_C RPC_STATUS RPC_ENTRY UuidFromStringW(RPC_WSTR StringUuid, UUID *Uuid)
{
    if (Uuid == NULL)
        return RPC_S_INVALID_ARG;
    if (StringUuid == NULL) {
        *Uuid = GUID_NULL;
        return RPC_S_OK;
    }
    unsigned char bytes[16];
    size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            if (StringUuid[at++] != '-')
                return RPC_S_INVALID_STRING_UUID;
        }
        const int high = HexDigit(StringUuid[at]);
        const int low = high < 0 ? -1 : HexDigit(StringUuid[at + 1]);
        if (low < 0)
            return RPC_S_INVALID_STRING_UUID;
        bytes[i] = static_cast<unsigned char>((high << 4) | low);
        at += 2;
    }
    if (StringUuid[at] != 0)
        return RPC_S_INVALID_STRING_UUID;
    Uuid->Data1 = (unsigned(bytes[0]) << 24) | (unsigned(bytes[1]) << 16) | (unsigned(bytes[2]) << 8) | bytes[3];
    Uuid->Data2 = static_cast<unsigned short>((bytes[4] << 8) | bytes[5]);
    Uuid->Data3 = static_cast<unsigned short>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i)
        Uuid->Data4[i] = bytes[8 + i];
    return RPC_S_OK;
}

EXTERN_C RPC_STATUS RPC_ENTRY RpcStringFreeW(RPC_WSTR *String)
{
    if (String == NULL)
        return RPC_S_INVALID_ARG;
    free(*String);
    *String = NULL;
    return RPC_S_OK;
}
