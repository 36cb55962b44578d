// The WMI session and method helpers and the host identity query on simulated hosts:
// every message of their tables, COM kept balanced, faults met at each step. Linux only.
#include <platform/tvplatform.h>

#include <libwinclass/hostinfo.h>
#include <libwinclass/wmi.h>
#include <liblocal/local.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/wmi.h>

#include <gtest/gtest.h>

#include <support/capture.h>

#include "wmitest.h"

#include <functional>
#include <thread>

using namespace tvtest;

namespace {

class WmiHelpers : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(hostName())));
        winsim::ResetWmi();
        winsim::ResetComSecurity();
        Debug = 0;
        VoTrace = 0;
    }
    void TearDown() override
    {
        Debug = 0;
        VoTrace = 0;
        winsim::ResetWmi();
        EXPECT_EQ(winsim::ComInitCount(), ULONG(0)) << "COM left initialised";
        EXPECT_EQ(winsim::LiveWmiObjects(), size_t(0)) << "WMI objects leaked";
    }
    virtual const char *hostName() const { return "default"; }

    // The session the helpers open, closed at the end of the test if still open.
    struct Session {
        ~Session()
        {
            if (services != NULL || locator != NULL)
                cleanup_wbem(&services, &locator);
        }
        IWbemServices *services = NULL;
        IWbemLocator *locator = NULL;
    };

    static bool HasLine(const OutputCapture &capture, const std::string &line)
    {
        for (const auto &l : capture.debugLines())
            if (l == line)
                return true;
        return false;
    }
};

class WmiHelpersOnClusterNode : public WmiHelpers {
    const char *hostName() const override { return "cluster-node"; }
};

TEST_F(WmiHelpers, BadArgumentsFailWithoutTouchingComLoggedAtDebugThreeOrTraceBitFour)
{
    Debug = 3;
    OutputCapture capture;
    IWbemServices *services = NULL;
    IWbemLocator *locator = reinterpret_cast<IWbemLocator *>(&capture);  // never called
    EXPECT_EQ(initialize_wbem(&services, &locator, W("ROOT\\CIMV2")), E_FAIL);
    EXPECT_EQ(locator, reinterpret_cast<IWbemLocator *>(&capture));
    EXPECT_EQ(services, nullptr);
    EXPECT_TRUE(HasLine(capture,
                        "WMI: Incorrect parameters to initialize WMI. Output variables are not NULL.\n\n"));

    locator = NULL;
    EXPECT_EQ(initialize_wbem(&services, &locator, NULL), E_FAIL);
    EXPECT_TRUE(HasLine(capture, "WMI: Incorrect parameters to initialize WMI. Namespace value is NULL.\n\n"));
    EXPECT_EQ(initialize_wbem(NULL, &locator, W("ROOT\\CIMV2")), E_FAIL);
    EXPECT_EQ(winsim::ComInitCount(), ULONG(0));
    EXPECT_TRUE(capture.messages().empty()) << "initialize_wbem prints nothing";
    // Failures are logged only at level three or with trace bit four.
    capture.clear();
    Debug = 0;
    EXPECT_EQ(initialize_wbem(&services, &locator, NULL), E_FAIL);
    Debug = 2;
    EXPECT_EQ(initialize_wbem(&services, &locator, NULL), E_FAIL);
    EXPECT_TRUE(capture.debugLines().empty());
    Debug = 0;
    VoTrace = 0x4;
    EXPECT_EQ(initialize_wbem(&services, &locator, NULL), E_FAIL);
    EXPECT_EQ(capture.debugLines().size(), size_t(1));
}

TEST_F(WmiHelpers, ASessionOpensWithItsBlanketAndClosesBalanced)
{
    Session session;
    const HRESULT hr = initialize_wbem(&session.services, &session.locator, W("\\\\.\\Root\\CIMV2"));
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(session.services, nullptr);
    ASSERT_NE(session.locator, nullptr);
    EXPECT_EQ(winsim::ComInitCount(), ULONG(1));
    EXPECT_EQ(winsim::CurrentComApartment(), winsim::ComApartment::MultiThreaded);
    winsim::ProxyBlanket blanket{};
    ASSERT_TRUE(winsim::ProxyBlanketOf(session.services, &blanket));
    EXPECT_EQ(blanket.authnSvc, DWORD(10));
    EXPECT_EQ(blanket.authzSvc, DWORD(0));
    EXPECT_EQ(blanket.authnLevel, DWORD(3));
    EXPECT_EQ(blanket.impLevel, DWORD(3));
    const winsim::ComSecurity security = winsim::ComProcessSecurity();
    EXPECT_TRUE(security.initialized);
    EXPECT_EQ(security.impLevel, DWORD(3));

    // A second session in the same process meets RPC_E_TOO_LATE and accepts it.
    Session second;
    EXPECT_EQ(initialize_wbem(&second.services, &second.locator, W("ROOT\\Microsoft\\Windows\\Storage")), S_OK);
    EXPECT_EQ(winsim::ComInitCount(), ULONG(2));
    cleanup_wbem(&second.services, &second.locator);
    cleanup_wbem(&session.services, &session.locator);
    EXPECT_EQ(session.services, nullptr);
    EXPECT_EQ(session.locator, nullptr);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_FALSE);
    IWbemServices *services = NULL;
    IWbemLocator *locator = NULL;
    cleanup_wbem(&services, &locator);
    EXPECT_EQ(winsim::ComInitCount(), ULONG(1));
    CoUninitialize();
}

TEST_F(WmiHelpers, EachFailingStepHasItsMessage)
{
    Debug = 3;
    OutputCapture capture;
    Session session;
    EXPECT_EQ(initialize_wbem(&session.services, &session.locator, W("ROOT\\MSCLUSTER")), WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(session.services, nullptr);
    EXPECT_EQ(session.locator, nullptr);
    EXPECT_EQ(winsim::ComInitCount(), ULONG(0)) << "COM uninitialised again";
    // WBEM codes have no system text.
    EXPECT_TRUE(HasLine(capture, "WMI: Unable to create a connection to a WMI namespace (ROOT\\MSCLUSTER), "
                                 "error=0x8004100e: .\n\n"));
    winsim::UnregisterComClass(CLSID_WbemLocator);
    EXPECT_EQ(initialize_wbem(&session.services, &session.locator, W("ROOT\\CIMV2")), REGDB_E_CLASSNOTREG);
    winsim::RegisterWmiLocator();
    EXPECT_TRUE(HasLine(capture, "WMI: Unable to create an instance of the object class, error=0x80040154: "
                                 "Class not registered\r\n.\n\n"));
    EXPECT_EQ(winsim::ComInitCount(), ULONG(0));

    std::thread apartmentThread([] {
        ASSERT_EQ(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED), S_OK);
        IWbemServices *services = NULL;
        IWbemLocator *locator = NULL;
        EXPECT_EQ(initialize_wbem(&services, &locator, W("ROOT\\CIMV2")), RPC_E_CHANGED_MODE);
        EXPECT_EQ(winsim::ComInitCount(), ULONG(1)) << "the thread's own apartment stays";
        CoUninitialize();
    });
    apartmentThread.join();
    EXPECT_TRUE(HasLine(capture, "WMI: Unable to initialize COM library, error=0x80010106: "
                                 "Cannot change thread mode after it is set.\r\n.\n\n"));
}

TEST_F(WmiHelpersOnClusterNode, MethodInputParametersAreSpawnedOrTheFailurePrinted)
{
    Session session;
    ASSERT_EQ(initialize_wbem(&session.services, &session.locator, W("ROOT\\MSCLUSTER")), S_OK);
    OutputCapture capture;

    IWbemClassObject *params = NULL;
    ASSERT_EQ(get_method_input_params(&session.services, W("MSCluster_ClusterSharedVolume"), W("MoveToNewHost"),
                                      &params),
              S_OK);
    ASSERT_NE(params, nullptr);
    Variant host;
    host.get()->vt = VT_BSTR;
    host.get()->bstrVal = SysAllocString(W("TVNODE1"));
    EXPECT_EQ(params->Put(W("HostName"), 0, host.get(), 0), S_OK);
    params->Release();

    // No input signature: success, and the out variable as it was.
    IWbemClassObject *untouched = reinterpret_cast<IWbemClassObject *>(&capture);
    EXPECT_EQ(get_method_input_params(&session.services, W("MSCluster_ClusterSharedVolume"),
                                      W("TurnOnMaintenance"), &untouched),
              S_OK);
    EXPECT_EQ(untouched, reinterpret_cast<IWbemClassObject *>(&capture));
    EXPECT_TRUE(capture.messages().empty());
    Debug = 1;
    params = NULL;
    EXPECT_EQ(get_method_input_params(NULL, W("MSCluster_ClusterSharedVolume"), W("MoveToNewHost"), &params), E_FAIL);
    EXPECT_EQ(get_method_input_params(&session.services, NULL, W("MoveToNewHost"), &params), E_FAIL);
    EXPECT_TRUE(HasLine(capture, "Invalid input. Cannot get a message params object.\n"));

    EXPECT_EQ(get_method_input_params(&session.services, W("MSCluster_NoSuchClass"), W("MoveToNewHost"), &params),
              E_FAIL);
    EXPECT_EQ(get_method_input_params(&session.services, W("MSCluster_ClusterSharedVolume"), W("NoSuchMethod"),
                                      &params),
              E_FAIL);
    winsim::InjectWmiFault({winsim::WmiFaultPoint::SpawnInstance, u"", E_OUTOFMEMORY});
    EXPECT_EQ(get_method_input_params(&session.services, W("MSCluster_ClusterSharedVolume"), W("MoveToNewHost"),
                                      &params),
              E_OUTOFMEMORY);
    EXPECT_EQ(params, nullptr);

    const auto messages = capture.messages();
    ASSERT_EQ(messages.size(), size_t(3));
    EXPECT_EQ(messages[0].number, 95439);
    EXPECT_EQ(messages[0].code, 55000);
    EXPECT_EQ(messages[0].text, "WMI: Unable to create class object.\n");
    EXPECT_EQ(messages[1].number, 95440);
    EXPECT_EQ(messages[1].text, "WMI: Unable to create method input paramaters. Error: .\n");
    EXPECT_EQ(messages[2].number, 95441);
    EXPECT_EQ(messages[2].text, "WMI: Unable to spawn instance of method input parameters object. Error: Not enough "
                                "memory resources are available to complete this operation.\r\n.\n");
}

TEST_F(WmiHelpersOnClusterNode, ExecuteMethodAnswersANegativeReturnValueAndReportsFailures)
{
    Session session;
    ASSERT_EQ(initialize_wbem(&session.services, &session.locator, W("ROOT\\MSCLUSTER")), S_OK);
    Debug = 1;
    OutputCapture capture;
    const WCHAR *csv = W("MSCluster_ClusterSharedVolume.Name=\"C:\\\\ClusterStorage\\\\Volume1\"");

    EXPECT_EQ(execute_method(&session.services, csv, W("TurnOnMaintenance"), NULL, NULL), S_OK);
    EXPECT_EQ(winsim::WmiSharedVolumes().at(0).faultState, DWORD(4));

    const VARIANT failure = I4(LONG(0x80070005));
    winsim::SetWmiMethodReturnValue(u"ROOT\\MSCLUSTER", u"MSCluster_ClusterSharedVolume", u"TurnOffMaintenance",
                                    failure);
    EXPECT_EQ(execute_method(&session.services, csv, W("TurnOffMaintenance"), NULL, NULL), HRESULT(0x80070005));
    EXPECT_TRUE(HasLine(capture, "WMI: Method execution returned error in output_params.\n"));

    const VARIANT positive = I4(5);
    winsim::SetWmiMethodReturnValue(u"ROOT\\MSCLUSTER", u"MSCluster_ClusterSharedVolume", u"TurnOnMaintenance",
                                    positive);
    EXPECT_EQ(execute_method(&session.services, csv, W("TurnOnMaintenance"), NULL, NULL), S_OK);
    EXPECT_TRUE(capture.messages().empty());
    // Bad input and failed steps.
    EXPECT_EQ(execute_method(&session.services, NULL, W("TurnOnMaintenance"), NULL, NULL), E_FAIL);
    EXPECT_EQ(execute_method(NULL, csv, W("TurnOnMaintenance"), NULL, NULL), E_FAIL);
    EXPECT_TRUE(HasLine(capture, "Invalid input. Cannot execute method.\n"));

    EXPECT_EQ(execute_method(&session.services, csv, W("NoSuchMethod"), NULL, NULL), WBEM_E_INVALID_METHOD);
    EXPECT_TRUE(HasLine(capture, "Failed to execute method.\n"));

    winsim::InjectWmiFault({winsim::WmiFaultPoint::Get, u"ReturnValue", WBEM_E_NOT_FOUND});
    EXPECT_EQ(execute_method(&session.services, csv, W("TurnOnMaintenance"), NULL, NULL), S_OK);
    const auto messages = capture.messages();
    ASSERT_EQ(messages.size(), size_t(1));
    EXPECT_EQ(messages[0].number, 95442);
    EXPECT_EQ(messages[0].text,
              "WMI: Could not read output parameters return value from method execution. Error = 2147749890.\n");
}

TEST(SystemMessages, TextsOfCodesAsTheSystemGivesThem)
{
    format_system_message_utf8(5, NULL, WMI_SYSTEM_TEXT_SIZE);  // nothing to do, no crash
    char buffer[WMI_SYSTEM_TEXT_SIZE] = "stale";
    format_system_message_utf8(0x8004100E, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
    format_system_message_utf8(5, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Access is denied.\r\n");
    char small[8];
    format_system_message_utf8(5, small, sizeof small);
    EXPECT_STREQ(small, "Access ");

    tv_str text(W("kept"));
    format_system_message(0x8004100E, &text);
    EXPECT_STREQ(text.get_utf8(), "kept");
    format_system_message(0x80004005, &text);
    EXPECT_STREQ(text.get_utf8(), "Unspecified error\r\n");
}

class HostIdentity : public WmiHelpers {};

TEST_F(HostIdentity, AnswersTheMakerAndModelOfTheHostOrOfItsDescription)
{
    Debug = 5;
    OutputCapture capture;
    tv_str manufacturer, model;
    vo_msg *failure = get_system_manufacturer_info(manufacturer, model);
    EXPECT_EQ(failure, nullptr) << msg_text(failure);
    msg_free(failure);
    EXPECT_STREQ(manufacturer.get_utf8(), "Winsim Systems");
    EXPECT_STREQ(model.get_utf8(), "Simulated Server");
    const auto lines = capture.debugLines();
    ASSERT_GE(lines.size(), size_t(2));
    EXPECT_EQ(lines.front(), "get_system_manufacturer_info(): Enter\n");
    EXPECT_EQ(lines.back(), "get_system_manufacturer_info(): Exit\n");
    {
        // A manufacturer that is not a string becomes empty.
        const VARIANT number = I4(12);
        winsim::OverrideWmiProperty(u"ROOT\\CIMV2", u"Win32_ComputerSystem", u"Manufacturer", number);
        tv_str manufacturer(W("before")), model;
        EXPECT_EQ(get_system_manufacturer_info(manufacturer, model), nullptr);
        EXPECT_STREQ(manufacturer.get_utf8(), "");
        EXPECT_STREQ(model.get_utf8(), "Simulated Server");
    }
    {
        // A described host names its own maker and model.
        std::string json = winsim::EmbeddedHostJson("default");
        json.insert(json.find('{') + 1,
                    "\"wmi\": {\"computerSystem\": {\"manufacturer\": \"Ülm Rechner\", \"model\": \"R-7\"}},");
        winsim::ReplaceHost(winsim::ParseHost(json));
        winsim::ResetWmi();
        tv_str manufacturer, model;
        EXPECT_EQ(get_system_manufacturer_info(manufacturer, model), nullptr);
        EXPECT_STREQ(manufacturer.get_utf8(), "Ülm Rechner");
        EXPECT_STREQ(model.get_utf8(), "R-7");
    }
}

TEST_F(HostIdentity, EachFailingStepHasItsDescriptionAndTheOutputsStay)
{
    struct Case {
        std::function<void()> fault;
        const char *text;
        bool manufacturerSet;
    };
    auto inject = [](winsim::WmiFaultPoint point, const char16_t *match, HRESULT hr) {
        return [=] { winsim::InjectWmiFault({point, match, hr}); };
    };
    const Case cases[] = {
        {inject(winsim::WmiFaultPoint::Connect, u"\\\\.\\Root\\CIMV2", E_ACCESSDENIED),
         "Could not initialize WMI to get system manufacturer information, error=0x80070005: Access is "
         "denied.\r\n.\n",
         false},
        {inject(winsim::WmiFaultPoint::Query, u"Win32_ComputerSystem", WBEM_E_ACCESS_DENIED),
         "Unable to query Win32_ComputerSystem WMI class, error=0x80041003: .\n", false},
        {[] { winsim::HideWmiInstances(u"ROOT\\CIMV2", u"Win32_ComputerSystem"); },
         "Could not find Win32_ComputerSystem WMI object instance, error=0x80004005: Unspecified error\r\n.\n",
         false},
        {inject(winsim::WmiFaultPoint::Next, u"Win32_ComputerSystem", WBEM_E_ACCESS_DENIED),
         "Unable to get the WMI object, error=0x80041003: .\n", false},
        {inject(winsim::WmiFaultPoint::Get, u"Manufacturer", WBEM_E_ACCESS_DENIED),
         "Unable to read the 'Manufacturer' property, error=0x80041003: .\n", false},
        {inject(winsim::WmiFaultPoint::Get, u"Model", WBEM_E_ACCESS_DENIED),
         "Unable to read the 'Model' property, error=0x80041003: .\n", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson("default")));
        winsim::ResetWmi();
        c.fault();
        tv_str manufacturer(W("before")), model(W("before"));
        vo_msg *failure = get_system_manufacturer_info(manufacturer, model);
        ASSERT_NE(failure, nullptr);
        EXPECT_EQ(msg_number(failure), 101575);
        EXPECT_EQ(msg_code(failure), 52000);
        EXPECT_STREQ(msg_text(failure), c.text);
        msg_free(failure);
        EXPECT_STREQ(manufacturer.get_utf8(), c.manufacturerSet ? "Winsim Systems" : "before");
        EXPECT_STREQ(model.get_utf8(), "before");
        EXPECT_EQ(winsim::ComInitCount(), ULONG(0)) << "the session is closed";
    }
}

} // namespace
