// SAFEARRAY as oleaut32 documents it. Portable: runs on winsim and, unchanged, on
// Windows (Wine).
#include <platform/tvplatform.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include "comtest.h"
#include "support/wine.h"

#include <cstddef>

namespace {

static_assert(sizeof(SAFEARRAY) == 32 && offsetof(SAFEARRAY, pvData) == 16 && offsetof(SAFEARRAY, rgsabound) == 24,
              "SAFEARRAY is laid out as on x64 Windows");
static_assert(sizeof(SAFEARRAYBOUND) == 8, "SAFEARRAYBOUND is a count and a lower bound");

// Destroys an array at the end of a test.
class Array {
public:
    explicit Array(SAFEARRAY *psa) : psa_(psa) {}
    ~Array() { SafeArrayDestroy(psa_); }
    Array(const Array &) = delete;
    Array &operator=(const Array &) = delete;
    SAFEARRAY *get() const { return psa_; }

private:
    SAFEARRAY *psa_;
};

TEST(SafeArray, AVectorOfStringsDescribesItselfAndRefusesMissingDimensions)
{
    Array names(SafeArrayCreateVector(VT_BSTR, 0, 3));
    ASSERT_NE(names.get(), nullptr);
    EXPECT_EQ(SafeArrayGetDim(names.get()), UINT(1));
    EXPECT_EQ(SafeArrayGetElemsize(names.get()), UINT(sizeof(BSTR)));
    EXPECT_EQ(names.get()->fFeatures & (FADF_BSTR | FADF_HAVEVARTYPE), FADF_BSTR | FADF_HAVEVARTYPE);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(names.get(), &vt), S_OK);
    EXPECT_EQ(vt, VARTYPE(VT_BSTR));
    LONG lower = -99, upper = -99;
    ASSERT_EQ(SafeArrayGetLBound(names.get(), 1, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(names.get(), 1, &upper), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 2);
    EXPECT_EQ(SafeArrayGetLBound(names.get(), 0, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(names.get(), 2, &upper), DISP_E_BADINDEX);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 2);
}

TEST(SafeArray, ElementsGoInAndComeOutAsCopies)
{
    Array names(SafeArrayCreateVector(VT_BSTR, 0, 2));
    BSTR writer = SysAllocString(W("System Writer"));
    LONG index = 1;
    ASSERT_EQ(SafeArrayPutElement(names.get(), &index, writer), S_OK);

    BSTR *data = NULL;
    ASSERT_EQ(SafeArrayAccessData(names.get(), reinterpret_cast<void **>(&data)), S_OK);
    EXPECT_EQ(data[0], nullptr);
    ASSERT_NE(data[1], nullptr);
    EXPECT_NE(data[1], writer);  // the array keeps its own copy
    EXPECT_EQ(wstr(data[1]), W("System Writer"));
    ASSERT_EQ(SafeArrayUnaccessData(names.get()), S_OK);
    SysFreeString(writer);

    BSTR out = NULL;
    ASSERT_EQ(SafeArrayGetElement(names.get(), &index, &out), S_OK);
    EXPECT_EQ(wstr(out), W("System Writer"));
    SysFreeString(out);

    Array values(SafeArrayCreateVector(VT_VARIANT, 0, 1));
    VARIANT in;
    VariantInit(&in);
    V_VT(&in) = VT_BSTR;
    V_BSTR(&in) = SysAllocString(W("192.168.10.21"));
    index = 0;
    ASSERT_EQ(SafeArrayPutElement(values.get(), &index, &in), S_OK);
    VariantClear(&in);
    ASSERT_EQ(SafeArrayGetElement(values.get(), &index, &in), S_OK);
    EXPECT_EQ(V_VT(&in), VARTYPE(VT_BSTR));
    EXPECT_EQ(wstr(V_BSTR(&in)), W("192.168.10.21"));
    VariantClear(&in);

    // An interface element holds a reference.
    tvtest::CountingObject object;
    {
        Array objects(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
        ASSERT_EQ(SafeArrayPutElement(objects.get(), &index, static_cast<IUnknown *>(&object)), S_OK);
        EXPECT_EQ(object.references(), ULONG(2));
        IUnknown *unknown = NULL;
        ASSERT_EQ(SafeArrayGetElement(objects.get(), &index, &unknown), S_OK);
        EXPECT_EQ(unknown, static_cast<IUnknown *>(&object));
        EXPECT_EQ(object.references(), ULONG(3));
        unknown->Release();
    }
    EXPECT_EQ(object.references(), ULONG(1));
}

TEST(SafeArray, IndicesAndBoundsOfOneAndTwoDimensions)
{
    Array numbers(SafeArrayCreateVector(VT_I4, -2, 3));  // -2 .. 0
    LONG value = 5;
    LONG index = -2;
    EXPECT_EQ(SafeArrayPutElement(numbers.get(), &index, &value), S_OK);
    index = 1;
    EXPECT_EQ(SafeArrayPutElement(numbers.get(), &index, &value), DISP_E_BADINDEX);
    index = -3;
    LONG out = 0;
    EXPECT_EQ(SafeArrayGetElement(numbers.get(), &index, &out), DISP_E_BADINDEX);
    index = -2;
    ASSERT_EQ(SafeArrayGetElement(numbers.get(), &index, &out), S_OK);
    EXPECT_EQ(out, 5);
    {
        SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 10}};  // counts and lower bounds
        Array grid(SafeArrayCreate(VT_I4, 2, bounds));
        ASSERT_NE(grid.get(), nullptr);
        EXPECT_EQ(SafeArrayGetDim(grid.get()), UINT(2));
        LONG bound = 0;
        ASSERT_EQ(SafeArrayGetLBound(grid.get(), 2, &bound), S_OK);
        EXPECT_EQ(bound, 10);
        ASSERT_EQ(SafeArrayGetUBound(grid.get(), 2, &bound), S_OK);
        EXPECT_EQ(bound, 12);
        ASSERT_EQ(SafeArrayGetUBound(grid.get(), 1, &bound), S_OK);
        EXPECT_EQ(bound, 1);

        // The first index varies fastest.
        LONG at[2] = {1, 11};
        LONG value = 77;
        ASSERT_EQ(SafeArrayPutElement(grid.get(), at, &value), S_OK);
        EXPECT_EQ(static_cast<LONG *>(grid.get()->pvData)[3], 77);
        LONG *address = NULL;
        ASSERT_EQ(SafeArrayPtrOfIndex(grid.get(), at, reinterpret_cast<void **>(&address)), S_OK);
        EXPECT_EQ(*address, 77);
    }
}

TEST(SafeArray, LocksKeepItAlive)
{
    SAFEARRAY *psa = SafeArrayCreateVector(VT_UI1, 0, 4);
    ASSERT_NE(psa, nullptr);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    EXPECT_EQ(psa->cLocks, ULONG(1));
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    // AccessData locks until unaccessed.
    Array bytes(SafeArrayCreateVector(VT_UI1, 0, 4));
    BYTE *data = NULL;
    ASSERT_EQ(SafeArrayAccessData(bytes.get(), reinterpret_cast<void **>(&data)), S_OK);
    EXPECT_EQ(static_cast<void *>(data), bytes.get()->pvData);
    EXPECT_EQ(SafeArrayDestroy(bytes.get()), DISP_E_ARRAYISLOCKED);
    data[3] = 0x7F;
    ASSERT_EQ(SafeArrayUnaccessData(bytes.get()), S_OK);
    LONG index = 3;
    BYTE out = 0;
    ASSERT_EQ(SafeArrayGetElement(bytes.get(), &index, &out), S_OK);
    EXPECT_EQ(out, 0x7F);
}

TEST(SafeArray, CopyIsDeepAndMissingArraysAndBadArgumentsAreHandled)
{
    Array original(SafeArrayCreateVector(VT_BSTR, 0, 1));
    LONG index = 0;
    BSTR text = SysAllocString(W("C:\\"));
    ASSERT_EQ(SafeArrayPutElement(original.get(), &index, text), S_OK);
    SysFreeString(text);

    SAFEARRAY *raw = NULL;
    ASSERT_EQ(SafeArrayCopy(original.get(), &raw), S_OK);
    Array copy(raw);
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_NE(copy.get()->pvData, original.get()->pvData);
    EXPECT_NE(static_cast<BSTR *>(copy.get()->pvData)[0], static_cast<BSTR *>(original.get()->pvData)[0]);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(copy.get(), &vt), S_OK);
    EXPECT_EQ(vt, VARTYPE(VT_BSTR));

    BSTR replacement = SysAllocString(W("D:\\"));
    ASSERT_EQ(SafeArrayPutElement(copy.get(), &index, replacement), S_OK);
    SysFreeString(replacement);
    BSTR out = NULL;
    ASSERT_EQ(SafeArrayGetElement(original.get(), &index, &out), S_OK);
    EXPECT_EQ(wstr(out), W("C:\\"));
    SysFreeString(out);
    {
        EXPECT_EQ(SafeArrayDestroy(NULL), S_OK);
        EXPECT_EQ(SafeArrayGetDim(NULL), UINT(0));
        LONG bound = 0;
        EXPECT_EQ(SafeArrayGetLBound(NULL, 1, &bound), E_INVALIDARG);
        SAFEARRAY *copy = reinterpret_cast<SAFEARRAY *>(0x1);
        EXPECT_EQ(SafeArrayCopy(NULL, &copy), S_OK);
        EXPECT_EQ(copy, nullptr);
        EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
        SAFEARRAYBOUND none = {1, 0};
        EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &none), nullptr);
    }
}

} // namespace
