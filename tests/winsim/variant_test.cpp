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

BSTR MakeBstr(const WCHAR *text) { return SysAllocString(text); }

TEST(Variant, InitMakesItEmpty)
{
    VARIANT v;
    V_VT(&v) = VT_I4;
    V_I4(&v) = 7;
    VariantInit(&v);
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_EMPTY));
}

TEST(Variant, ClearReleasesTheInterfaceAndEmpties)
{
    tvtest::CountingObject object;
    VARIANT v;
    V_VT(&v) = VT_UNKNOWN;
    V_UNKNOWN(&v) = &object;
    object.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object.references(), ULONG(1));
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_EMPTY));
}

TEST(Variant, ClearLeavesWhatAReferencePointsTo)
{
    BSTR text = MakeBstr(W("kept"));
    VARIANT v;
    V_VT(&v) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&v) = &text;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_EMPTY));
    EXPECT_EQ(wstr(text), W("kept"));
    SysFreeString(text);
}

TEST(Variant, ClearRefusesAnUnknownType)
{
    VARIANT v;
    V_VT(&v) = 15;  // between VT_DECIMAL and VT_I1: no type
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(V_VT(&v), VARTYPE(15));
    V_VT(&v) = VT_VECTOR | VT_I4;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(Variant, CopyDuplicatesAStringWithItsEmbeddedZeros)
{
    Variant source, copy;
    const WCHAR text[] = {'a', 0, 'b'};
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = SysAllocStringLen(text, 3);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(V_VT(&copy), VARTYPE(VT_BSTR));
    EXPECT_NE(V_BSTR(&copy), V_BSTR(&source));
    ASSERT_EQ(SysStringLen(V_BSTR(&copy)), UINT(3));
    EXPECT_EQ(wstr(V_BSTR(&copy), 3), wstr(text, 3));
}

TEST(Variant, CopyReplacesWhatTheDestinationHeld)
{
    Variant source, destination;
    V_VT(&destination) = VT_BSTR;
    V_BSTR(&destination) = MakeBstr(W("old"));
    V_VT(&source) = VT_I4;
    V_I4(&source) = 42;
    ASSERT_EQ(VariantCopy(&destination, &source), S_OK);
    EXPECT_EQ(V_VT(&destination), VARTYPE(VT_I4));
    EXPECT_EQ(V_I4(&destination), 42);
}

TEST(Variant, CopyAddsAReferenceToAnInterface)
{
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
}

TEST(Variant, CopyDuplicatesAnArray)
{
    Variant source, copy;
    V_VT(&source) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&source) = SafeArrayCreateVector(VT_BSTR, 0, 1);
    ASSERT_NE(V_ARRAY(&source), nullptr);
    LONG index = 0;
    BSTR text = MakeBstr(W("Volume{1}"));
    ASSERT_EQ(SafeArrayPutElement(V_ARRAY(&source), &index, text), S_OK);
    SysFreeString(text);

    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    ASSERT_NE(V_ARRAY(&copy), nullptr);
    EXPECT_NE(V_ARRAY(&copy), V_ARRAY(&source));
    BSTR element = NULL;
    ASSERT_EQ(SafeArrayGetElement(V_ARRAY(&copy), &index, &element), S_OK);
    EXPECT_EQ(wstr(element), W("Volume{1}"));
    SysFreeString(element);
}

TEST(Variant, CopyRefusesAnUnknownSourceTypeAndLeavesTheDestination)
{
    Variant destination;
    V_VT(&destination) = VT_I4;
    V_I4(&destination) = 9;
    VARIANT bad;
    V_VT(&bad) = 15;
    EXPECT_EQ(VariantCopy(&destination, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(V_VT(&destination), VARTYPE(VT_I4));
    EXPECT_EQ(V_I4(&destination), 9);
}

TEST(Variant, ChangeTypeTurnsIntegersIntoText)
{
    Variant source, text;
    V_VT(&source) = VT_I4;
    V_I4(&source) = -42;
    ASSERT_EQ(VariantChangeType(&text, &source, 0, VT_BSTR), S_OK);
    EXPECT_EQ(V_VT(&text), VARTYPE(VT_BSTR));
    EXPECT_EQ(wstr(V_BSTR(&text)), W("-42"));

    V_VT(&source) = VT_UI8;
    V_UI8(&source) = 18446744073709551615ULL;
    ASSERT_EQ(VariantChangeType(&text, &source, 0, VT_BSTR), S_OK);
    EXPECT_EQ(wstr(V_BSTR(&text)), W("18446744073709551615"));
}

TEST(Variant, ChangeTypeParsesTextIntoIntegers)
{
    Variant source, number;
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = MakeBstr(W("123"));
    ASSERT_EQ(VariantChangeType(&number, &source, 0, VT_I4), S_OK);
    EXPECT_EQ(V_VT(&number), VARTYPE(VT_I4));
    EXPECT_EQ(V_I4(&number), 123);

    SysFreeString(V_BSTR(&source));
    V_BSTR(&source) = MakeBstr(W("-7"));
    ASSERT_EQ(VariantChangeType(&number, &source, 0, VT_I8), S_OK);
    EXPECT_EQ(V_I8(&number), -7);
}

TEST(Variant, ChangeTypeReportsOverflowAndMismatch)
{
    Variant source, target;
    V_VT(&target) = VT_I4;
    V_I4(&target) = 5;
    V_VT(&source) = VT_BSTR;
    V_BSTR(&source) = MakeBstr(W("70000"));
    EXPECT_EQ(VariantChangeType(&target, &source, 0, VT_I2), DISP_E_OVERFLOW);
    EXPECT_EQ(V_VT(&target), VARTYPE(VT_I4));  // a failed conversion leaves the destination
    EXPECT_EQ(V_I4(&target), 5);

    SysFreeString(V_BSTR(&source));
    V_BSTR(&source) = MakeBstr(W("not a number"));
    EXPECT_EQ(VariantChangeType(&target, &source, 0, VT_I4), DISP_E_TYPEMISMATCH);

    Variant wide;
    V_VT(&wide) = VT_I4;
    V_I4(&wide) = 300;
    EXPECT_EQ(VariantChangeType(&target, &wide, 0, VT_UI1), DISP_E_OVERFLOW);
    V_I4(&wide) = -1;
    EXPECT_EQ(VariantChangeType(&target, &wide, 0, VT_UI2), DISP_E_OVERFLOW);

    Variant null;
    V_VT(&null) = VT_NULL;
    EXPECT_EQ(VariantChangeType(&target, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(Variant, ChangeTypeBetweenBooleansAndIntegers)
{
    Variant source, target;
    V_VT(&source) = VT_BOOL;
    V_BOOL(&source) = VARIANT_TRUE;
    ASSERT_EQ(VariantChangeType(&target, &source, 0, VT_I4), S_OK);
    EXPECT_EQ(V_I4(&target), -1);

    V_VT(&source) = VT_UI2;
    V_UI2(&source) = 5;
    ASSERT_EQ(VariantChangeType(&target, &source, 0, VT_BOOL), S_OK);
    EXPECT_EQ(V_VT(&target), VARTYPE(VT_BOOL));
    EXPECT_EQ(V_BOOL(&target), VARIANT_TRUE);
}

TEST(Variant, ChangeTypeOfAnEmptyVariantGivesZero)
{
    Variant empty, target;
    ASSERT_EQ(VariantChangeType(&target, &empty, 0, VT_UI4), S_OK);
    EXPECT_EQ(V_VT(&target), VARTYPE(VT_UI4));
    EXPECT_EQ(V_UI4(&target), ULONG(0));
    ASSERT_EQ(VariantChangeType(&target, &empty, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(V_BSTR(&target)), UINT(0));
}

TEST(Variant, ChangeTypeInPlace)
{
    Variant v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = MakeBstr(W("4096"));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_UI4), S_OK);
    EXPECT_EQ(V_VT(&v), VARTYPE(VT_UI4));
    EXPECT_EQ(V_UI4(&v), ULONG(4096));
}

} // namespace
