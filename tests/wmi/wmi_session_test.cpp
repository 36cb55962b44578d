// The WMI helpers and the host identity query against the platform's own WMI: winsim's on
// Linux, Wine's under Wine. Only what both must agree on is checked here.
#include <platform/tvplatform.h>

#include <libwinclass/hostinfo.h>
#include <libwinclass/wmi.h>
#include <liblocal/local.h>

#include <gtest/gtest.h>

#include <support/capture.h>

#include "wmitest.h"

using namespace tvtest;

namespace {

class WmiSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        Debug = 0;
        VoTrace = 0;
    }
    void TearDown() override
    {
        Debug = 0;
        VoTrace = 0;
    }
};

TEST_F(WmiSession, OpensAndClosesOnCimv2)
{
    IWbemServices *services = NULL;
    IWbemLocator *locator = NULL;
    const HRESULT hr = initialize_wbem(&services, &locator, W("\\\\.\\Root\\CIMV2"));
    ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    EXPECT_NE(services, nullptr);
    EXPECT_NE(locator, nullptr);

    // The session answers queries.
    std::vector<IWbemClassObject *> objects;
    EXPECT_TRUE(SUCCEEDED(Query(services, W("SELECT Manufacturer, Model FROM Win32_ComputerSystem"), &objects)));
    EXPECT_EQ(objects.size(), size_t(1));
    ReleaseAll(objects);

    cleanup_wbem(&services, &locator);
    EXPECT_EQ(services, nullptr);
    EXPECT_EQ(locator, nullptr);

    // Security is set once per process; a second session still opens.
    ASSERT_TRUE(SUCCEEDED(initialize_wbem(&services, &locator, W("ROOT\\CIMV2"))));
    cleanup_wbem(&services, &locator);
}

TEST_F(WmiSession, AMissingNamespaceGivesMessage94733AndNoSession)
{
    Debug = 3;
    OutputCapture capture;
    IWbemServices *services = NULL;
    IWbemLocator *locator = NULL;
    const HRESULT hr = initialize_wbem(&services, &locator, W("ROOT\\NoSuchNamespace"));
    EXPECT_EQ(hr, WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(services, nullptr);
    EXPECT_EQ(locator, nullptr);
    const auto lines = capture.debugLines();
    ASSERT_EQ(lines.size(), size_t(1));
    EXPECT_EQ(lines[0].rfind("WMI: Unable to create a connection to a WMI namespace (ROOT\\NoSuchNamespace), "
                             "error=0x8004100e: ",
                             0),
              size_t(0))
        << lines[0];

    // COM was uninitialised again: this thread can still enter a single-threaded apartment.
    const HRESULT sta = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(sta, S_OK);
    if (SUCCEEDED(sta))
        CoUninitialize();
}

TEST_F(WmiSession, TheHostIdentityIsTheOneWmiGives)
{
    tv_str manufacturer, model;
    vo_msg *failure = get_system_manufacturer_info(manufacturer, model);
    EXPECT_EQ(failure, nullptr) << msg_text(failure);
    msg_free(failure);
    EXPECT_GT(manufacturer.length_utf8(), 0);
    EXPECT_GT(model.length_utf8(), 0);

    // The same strings as a direct query of the platform's WMI.
    ComScope com;
    Ref<IWbemLocator> locator;
    Ref<IWbemServices> services;
    ASSERT_EQ(Connect(W("ROOT\\CIMV2"), locator, services), S_OK);
    std::vector<IWbemClassObject *> objects;
    ASSERT_TRUE(SUCCEEDED(Query(services.get(), W("SELECT * FROM Win32_ComputerSystem"), &objects)));
    ASSERT_EQ(objects.size(), size_t(1));
    Variant direct;
    ASSERT_EQ(objects[0]->Get(W("Manufacturer"), 0, &direct, NULL, NULL), S_OK);
    EXPECT_EQ(tv_str(direct.text().c_str()), manufacturer);
    Variant directModel;
    ASSERT_EQ(objects[0]->Get(W("Model"), 0, &directModel, NULL, NULL), S_OK);
    EXPECT_EQ(tv_str(directModel.text().c_str()), model);
    ReleaseAll(objects);
}

} // namespace
