// What winsim's VARIANT and SAFEARRAY calls do not implement, and that they say so.
// Linux only.
#include <platform/tvplatform.h>

#include <oleauto.h>

#include <gtest/gtest.h>

namespace {

TEST(AutomationLimits, UnimplementedCallsFailLoudlyNullArgumentsAreInvalid)
{
    VARIANT source, target;
    VariantInit(&source);
    VariantInit(&target);
    V_VT(&source) = VT_I4;
    V_I4(&source) = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(VariantChangeType(&target, &source, 0, VT_R8), E_NOTIMPL);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("VariantChangeType"), std::string::npos);
    EXPECT_EQ(V_VT(&target), VARTYPE(VT_EMPTY));
    testing::internal::CaptureStderr();
    EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("records"), std::string::npos);
    EXPECT_EQ(VariantClear(NULL), E_INVALIDARG);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(VariantCopy(&v, NULL), E_INVALIDARG);
    EXPECT_EQ(SafeArrayLock(NULL), E_INVALIDARG);
    // The vartype sits before the descriptor: Windows keeps it there (FADF_HAVEVARTYPE); code that reads it directly must find it.
    SAFEARRAY *psa = SafeArrayCreateVector(VT_I2, 0, 1);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(reinterpret_cast<DWORD *>(psa)[-1], DWORD(VT_I2));
    SafeArrayDestroy(psa);
}

} // namespace
