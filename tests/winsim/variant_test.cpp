// VARIANT ownership and conversion as oleaut32 documents them. Portable: runs on winsim
// and, unchanged, on Windows (Wine).
#include <platform/tvplatform.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include "comtest.h"
#include "support/wine.h"

#include <cstddef>

namespace {

static_assert(sizeof(VARIANT) == 24, "VARIANT is 24 bytes on x64");
static_assert(offsetof(VARIANT, vt) == 0 && offsetof(VARIANT, lVal) == 8 && offsetof(VARIANT, bstrVal) == 8,
              "the value follows vt and three reserved words");
static_assert(sizeof(VARIANT_BOOL) == 2 && VARIANT_TRUE == -1, "VARIANT_BOOL is a short, true is -1");

// Owns a VARIANT for the length of a test.
struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    ~Variant() { VariantClear(this); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
};

TEST(Variant, InitAndClear)
{
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = 7;
    VariantInit(&v);
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_EMPTY));

    // An interface is released.
    tvtest::CountingObject object;
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = &object;
    object.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object.references(), ULONG(1));
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_EMPTY));

    // What a reference points to is left alone.
    BSTR text = SysAllocString(W("kept"));
    V_VT(&v) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&v) = &text;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_EMPTY));
    EXPECT_EQ(wstr(text), W("kept"));
    SysFreeString(text);

    // No type is refused.
    V_VT(&v) = 15;  // between VT_DECIMAL and VT_I1: no type
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(V_VT(&v), VARTYPE(15));
    V_VT(&v) = VT_VECTOR | VT_I4;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyDuplicatesStringsArraysAndInterfaces)
{
    {
        Variant source, copy;
        const WCHAR text[] = {'a', 0, 'b'};
        V_VT(&source) = VT_BSTR;
        V_BSTR(&source) = SysAllocStringLen(text, 3);
        ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
        EXPECT_EQ(V_VT(&copy), VARTYPE(VT_BSTR));
        EXPECT_NE(V_BSTR(&copy), V_BSTR(&source));
        ASSERT_EQ(SysStringLen(V_BSTR(&copy)), UINT(3)) << "embedded zeros are kept";
        EXPECT_EQ(wstr(V_BSTR(&copy), 3), wstr(text, 3));

        // Over what the destination held, which is freed.
        VariantClear(&source);
        V_VT(&source) = VT_I4;
        V_I4(&source) = 42;
        ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
        EXPECT_EQ(V_VT(&copy), VARTYPE(VT_I4));
        EXPECT_EQ(V_I4(&copy), 42);
    }
    tvtest::CountingObject object;
    {
        Variant source, copy;
        V_VT(&source) = VT_UNKNOWN;
        V_UNKNOWN(&source) = &object;
        object.AddRef();
        ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
        EXPECT_EQ(object.references(), ULONG(3));
        EXPECT_EQ(V_UNKNOWN(&copy), static_cast<IUnknown *>(&object));
    }
    EXPECT_EQ(object.references(), ULONG(1));

    Variant source, copy;
    V_VT(&source) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&source) = SafeArrayCreateVector(VT_BSTR, 0, 1);
    ASSERT_NE(V_ARRAY(&source), nullptr);
    LONG index = 0;
    BSTR text = SysAllocString(W("Volume{1}"));
    ASSERT_EQ(SafeArrayPutElement(V_ARRAY(&source), &index, text), S_OK);
    SysFreeString(text);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    ASSERT_NE(V_ARRAY(&copy), nullptr);
    EXPECT_NE(V_ARRAY(&copy), V_ARRAY(&source));
    BSTR element = NULL;
    ASSERT_EQ(SafeArrayGetElement(V_ARRAY(&copy), &index, &element), S_OK);
    EXPECT_EQ(wstr(element), W("Volume{1}"));
    SysFreeString(element);

    // An unknown source type is refused and the destination kept.
    VARIANT bad;
    V_VT(&bad) = 15;
    VariantClear(&copy);
    V_VT(&copy) = VT_I4;
    V_I4(&copy) = 9;
    EXPECT_EQ(VariantCopy(&copy, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(V_VT(&copy), VARTYPE(VT_I4));
    EXPECT_EQ(V_I4(&copy), 9);
}

// The value of the integer and boolean types the table below uses.
LONGLONG Number(const VARIANT &v)
{
    switch (V_VT(&v)) {
    case VT_I2: return V_I2(&v);
    case VT_UI1: return V_UI1(&v);
    case VT_UI2: return V_UI2(&v);
    case VT_I4: return V_I4(&v);
    case VT_UI4: return V_UI4(&v);
    case VT_I8: return V_I8(&v);
    case VT_UI8: return LONGLONG(V_UI8(&v));
    case VT_BOOL: return V_BOOL(&v);
    default: return -12345;
    }
}

TEST(Variant, ChangeTypeConvertsOrFailsLeavingTheDestination)
{
    const struct {
        VARTYPE from;
        ULONGLONG number;      // the source for integer and boolean types
        const WCHAR *text;     // the source for VT_BSTR, and the answer when converting to it
        VARTYPE to;
        HRESULT result;
        LONGLONG answer;
    } cases[] = {
        {VT_I4, ULONGLONG(-42), W("-42"), VT_BSTR, S_OK, 0},
        {VT_UI8, 18446744073709551615ULL, W("18446744073709551615"), VT_BSTR, S_OK, 0},
        {VT_BSTR, 0, W("123"), VT_I4, S_OK, 123},
        {VT_BSTR, 0, W("-7"), VT_I8, S_OK, -7},
        {VT_BSTR, 0, W("70000"), VT_I2, DISP_E_OVERFLOW, 0},
        {VT_BSTR, 0, W("not a number"), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {VT_I4, 300, NULL, VT_UI1, DISP_E_OVERFLOW, 0},
        {VT_I4, ULONGLONG(-1), NULL, VT_UI2, DISP_E_OVERFLOW, 0},
        {VT_NULL, 0, NULL, VT_I4, DISP_E_TYPEMISMATCH, 0},
        {VT_BOOL, ULONGLONG(VARIANT_TRUE), NULL, VT_I4, S_OK, -1},
        {VT_UI2, 5, NULL, VT_BOOL, S_OK, VARIANT_TRUE},
        {VT_EMPTY, 0, NULL, VT_UI4, S_OK, 0},
        {VT_EMPTY, 0, W(""), VT_BSTR, S_OK, 0},
    };
    for (const auto &c : cases) {
        Variant source, target;
        V_VT(&source) = c.from;
        if (c.from == VT_BSTR)
            V_BSTR(&source) = SysAllocString(c.text);
        else if (c.from != VT_EMPTY && c.from != VT_NULL)
            V_UI8(&source) = c.number;  // the low bytes are the value on a little-endian machine
        SCOPED_TRACE(testing::Message() << "from " << c.from << " (" << Number(source) << ") to " << c.to);
        V_VT(&target) = VT_I4;
        V_I4(&target) = 5;
        ASSERT_EQ(VariantChangeType(&target, &source, 0, c.to), c.result);
        if (FAILED(c.result)) {
            EXPECT_EQ(V_VT(&target), VARTYPE(VT_I4));
            EXPECT_EQ(V_I4(&target), 5);
        } else if (c.to == VT_BSTR) {
            EXPECT_EQ(V_VT(&target), VARTYPE(VT_BSTR));
            EXPECT_EQ(wstr(V_BSTR(&target), SysStringLen(V_BSTR(&target))), wstr(c.text));
        } else {
            EXPECT_EQ(V_VT(&target), c.to);
            EXPECT_EQ(Number(target), c.answer);
        }
    }

    // In place.
    Variant v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(W("4096"));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_UI4), S_OK);
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_UI4));
    EXPECT_EQ(V_UI4(&v), ULONG(4096));
}

} // namespace
