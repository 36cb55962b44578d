// ADO's Recordset over SQLOLEDB as the simulated host answers it: connection strings, the
// host's SQL Server instances, the errors of ADO and the provider, and the sqlServer section
// of a host description. Linux only.
#include <platform/tvplatform.h>

#include <adoint_backcompat.h>
#include <ole2.h>
#include <winsim/ado.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "comtest.h"

#include <functional>

namespace {

const CLSID kRecordsetClass = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
const IID kRecordset = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
const IID kRecordsetWithLongCounts = {0x00001556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
const HRESULT kObjectClosed = HRESULT(0x800A0E78), kObjectOpen = HRESULT(0x800A0E79),
              kProviderNotFound = HRESULT(0x800A0E7A), kItemNotFound = HRESULT(0x800A0CC1),
              kLoginFailed = HRESULT(0x80040E4D), kBadInitString = HRESULT(0x80040E73);
const char16_t kWid[] = u"Microsoft SQL Server 2017 (RTM) - 14.0.1000.169 (X64) Windows Internal Database (64-bit)";
const char16_t kPlain[] = u"Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) Standard Edition (64-bit)";

VARIANT Text(const char16_t *text)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

VARIANT Short(SHORT n)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = n;
    return v;
}

class Ado : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
        winsim::Host host = winsim::ParseHost(winsim::EmbeddedHostJson("default"));
        host.hostName = u"HV01";
        host.sqlServerInstances = {{u"HV01\\MICROSOFT##WID", kWid, true},
                                   {u"SQL01", kPlain, true},
                                   {u"SQL01\\DOWN", kPlain, false}};
        winsim::ReplaceHost(host);
    }
    void TearDown() override
    {
        winsim::ClearFaults();
        EXPECT_EQ(winsim::LiveAdoObjects(), size_t(0)) << "an ADO object was not released";
        CoUninitialize();
    }

    // The recordset as a client makes it: class context 23, IUnknown, OleRun, _Recordset.
    _Recordset *NewRecordset()
    {
        IUnknown *unknown = NULL;
        EXPECT_EQ(CoCreateInstance(kRecordsetClass, NULL, 23, IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
        EXPECT_EQ(OleRun(unknown), S_OK);
        _Recordset *recordset = NULL;
        EXPECT_EQ(unknown->QueryInterface(kRecordset, reinterpret_cast<void **>(&recordset)), S_OK);
        unknown->Release();
        return recordset;
    }

    HRESULT Open(_Recordset *recordset, const char16_t *connection, const char16_t *command = u"SELECT @@VERSION",
                 CursorTypeEnum cursor = adOpenStatic)
    {
        VARIANT source = Text(command), active = Text(connection);
        const HRESULT hr = recordset->Open(source, active, cursor, adLockReadOnly, adCmdText);
        VariantClear(&source);
        VariantClear(&active);
        return hr;
    }
};

TEST_F(Ado, OpenAnswersFromTheDescribedInstancesAsTheProviderDoes)
{
    struct Case {
        const char *what;
        const char16_t *connection;
        const char16_t *command;
        HRESULT expected;
        const char16_t *version;
    } cases[] = {
        {"internal database", u"Provider=SQLOLEDB;Data source=\"HV01\\MICROSOFT##WID\";Trusted_Connection=yes;",
         u"SELECT @@VERSION", S_OK, kWid},
        {"name in another case", u"Provider=SQLOLEDB;Data source=\"hv01\\microsoft##wid\";Trusted_Connection=yes;",
         u"SELECT @@VERSION", S_OK, kWid},
        {"keys in any case, single quotes, spaces", u" provider = sqloledb.1 ; DATA SOURCE = 'SQL01' ;integrated security=SSPI",
         u"select @@version;", S_OK, kPlain},
        {"this host as '.'", u"Provider=SQLOLEDB;Data Source=.\\MICROSOFT##WID;Trusted_Connection=yes", u"SELECT @@VERSION",
         S_OK, kWid},
        {"another provider", u"Provider=MSOLEDBSQL;Data source=SQL01;Trusted_Connection=yes;", u"SELECT @@VERSION",
         kProviderNotFound, nullptr},
        {"no such instance", u"Provider=SQLOLEDB;Data source=\"SQL01\\NONE\";Trusted_Connection=yes;", u"SELECT @@VERSION",
         E_FAIL, nullptr},
        {"login refused", u"Provider=SQLOLEDB;Data source=\"SQL01\\DOWN\";Trusted_Connection=yes;", u"SELECT @@VERSION",
         kLoginFailed, nullptr},
        {"no Windows login", u"Provider=SQLOLEDB;Data source=SQL01;", u"SELECT @@VERSION", kLoginFailed, nullptr},
        {"unclosed quote", u"Provider=SQLOLEDB;Data source=\"SQL01;Trusted_Connection=yes;", u"SELECT @@VERSION",
         kBadInitString, nullptr},
        {"pair without '='", u"Provider=SQLOLEDB;SQL01;Trusted_Connection=yes;", u"SELECT @@VERSION", kBadInitString,
         nullptr},
        {"another command", u"Provider=SQLOLEDB;Data source=SQL01;Trusted_Connection=yes;", u"SELECT name FROM sys.databases",
         E_NOTIMPL, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        _Recordset *recordset = NewRecordset();
        ASSERT_NE(recordset, nullptr);
        ASSERT_EQ(Open(recordset, c.connection, c.command), c.expected);
        LONG state = -1;
        EXPECT_EQ(recordset->get_State(&state), S_OK);
        EXPECT_EQ(state, c.version != nullptr ? LONG(adStateOpen) : LONG(adStateClosed));
        VARIANT_BOOL atEnd = VARIANT_TRUE;
        ADO_LONGPTR count = -7;
        if (c.version == nullptr) {
            EXPECT_EQ(recordset->get_EOF(&atEnd), kObjectClosed);
            EXPECT_EQ(recordset->Close(), kObjectClosed);
            recordset->Release();
            continue;
        }
        EXPECT_EQ(recordset->get_EOF(&atEnd), S_OK);
        EXPECT_EQ(atEnd, VARIANT_FALSE);
        EXPECT_EQ(recordset->get_RecordCount(&count), S_OK);
        EXPECT_EQ(count, 1);
        ADOFields *fields = NULL;
        ASSERT_EQ(recordset->get_Fields(&fields), S_OK);
        ADOField *field = NULL;
        ASSERT_EQ(fields->get_Item(Short(0), &field), S_OK);
        VARIANT value;
        VariantInit(&value);
        ASSERT_EQ(field->get_Value(&value), S_OK);
        ASSERT_EQ(V_VT(&value), VT_BSTR);
        EXPECT_EQ(std::u16string(V_BSTR(&value)), std::u16string(c.version));
        VariantClear(&value);
        EXPECT_EQ(recordset->Close(), S_OK);
        EXPECT_EQ(field->get_Value(&value), kObjectClosed) << "a field does not outlive its recordset's Close";
        EXPECT_EQ(recordset->Close(), kObjectClosed);
        field->Release();
        fields->Release();
        recordset->Release();
    }
}

TEST_F(Ado, RecordsetRulesAndTheMembersNotSimulated)
{
    const char16_t *wid = u"Provider=SQLOLEDB;Data source=HV01\\MICROSOFT##WID;Trusted_Connection=yes";
    _Recordset *recordset = NewRecordset();
    ASSERT_EQ(Open(recordset, wid, u"SELECT @@VERSION", adOpenForwardOnly), S_OK);
    EXPECT_EQ(Open(recordset, wid), kObjectOpen);
    ADO_LONGPTR count = 0;
    EXPECT_EQ(recordset->get_RecordCount(&count), S_OK);
    EXPECT_EQ(count, -1) << "a forward-only cursor does not know its count";
    ADOFields *fields = NULL;
    ASSERT_EQ(recordset->get_Fields(&fields), S_OK);
    LONG columns = 0;
    EXPECT_EQ(fields->get_Count(&columns), S_OK);
    EXPECT_EQ(columns, 1);
    ADOField *field = NULL;
    EXPECT_EQ(fields->get_Item(Short(1), &field), kItemNotFound);
    EXPECT_EQ(field, nullptr);
    EXPECT_EQ(recordset->MoveNext(), E_NOTIMPL);
    fields->Release();
    void *other = NULL;
    EXPECT_EQ(recordset->QueryInterface(kRecordsetWithLongCounts, &other), E_NOINTERFACE);
    recordset->Release();

    tvtest::CountingObject outer;
    EXPECT_EQ(CoCreateInstance(kRecordsetClass, &outer, 23, IID_IUnknown, &other),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(OleRun(NULL), E_INVALIDARG);
}

TEST_F(Ado, AnInjectedFaultFailsOpenForItsInstanceOnce)
{
    winsim::InjectHresult("Recordset::Open", u"hv01\\microsoft##wid", E_ACCESSDENIED);
    const char16_t *plain = u"Provider=SQLOLEDB;Data source=SQL01;Trusted_Connection=yes";
    const char16_t *wid = u"Provider=SQLOLEDB;Data source=HV01\\MICROSOFT##WID;Trusted_Connection=yes";
    for (auto [connection, expected] : {std::pair{plain, S_OK}, {wid, E_ACCESSDENIED}, {wid, S_OK}}) {
        _Recordset *recordset = NewRecordset();
        EXPECT_EQ(Open(recordset, connection), expected);
        recordset->Release();
    }
}

TEST(AdoHostSection, SqlServerInstancesLoadOrNameTheFieldAtFault)
{
    const auto load = [](const nlohmann::json &section) -> std::string {
        nlohmann::json doc = nlohmann::json::parse(winsim::EmbeddedHostJson("default"));
        doc["sqlServer"] = section;
        try {
            const winsim::Host host = winsim::ParseHost(doc.dump());
            return host.sqlServerInstances.size() == 2 && host.sqlServerInstances[1].name == u"HV01\\MICROSOFT##WID" &&
                           !host.sqlServerInstances[1].reachable && host.sqlServerInstances[0].reachable
                       ? ""
                       : "loaded other than described";
        } catch (const winsim::HostError &e) {
            return e.what();
        }
    };
    const nlohmann::json good = {{"instances",
                                  {{{"name", "SQL01"}, {"version", "v"}},
                                   {{"name", "HV01\\MICROSOFT##WID"}, {"version", "w"}, {"reachable", false}}}}};
    const struct {
        const char *what;
        std::function<void(nlohmann::json &)> change;
        const char *error;
    } cases[] = {
        {"as described", [](nlohmann::json &) {}, ""},
        {"no instances", [](nlohmann::json &s) { s.erase("instances"); }, "sqlServer.instances: missing"},
        {"unknown field", [](nlohmann::json &s) { s["instance"] = 1; }, "sqlServer.instance: unknown field"},
        {"instances not a list", [](nlohmann::json &s) { s["instances"] = "SQL01"; },
         "sqlServer.instances: expected an array"},
        {"no version", [](nlohmann::json &s) { s["instances"][0].erase("version"); },
         "sqlServer.instances[0].version: missing"},
        {"two backslashes", [](nlohmann::json &s) { s["instances"][0]["name"] = "A\\B\\C"; },
         "sqlServer.instances[0].name: expected HOST or HOST\\INSTANCE"},
        {"empty instance part", [](nlohmann::json &s) { s["instances"][0]["name"] = "SQL01\\"; },
         "sqlServer.instances[0].name: expected HOST or HOST\\INSTANCE"},
        {"a quote in the name", [](nlohmann::json &s) { s["instances"][0]["name"] = "SQL\"01"; },
         "sqlServer.instances[0].name: expected HOST or HOST\\INSTANCE"},
        {"twice in another case", [](nlohmann::json &s) { s["instances"][1]["name"] = "sql01"; },
         "sqlServer.instances[1].name: the instance is described twice"},
        {"reachable as text", [](nlohmann::json &s) { s["instances"][1]["reachable"] = "no"; },
         "sqlServer.instances[1].reachable: expected true or false"},
    };
    for (const auto &c : cases) {
        nlohmann::json section = good;
        c.change(section);
        const std::string error = load(section);
        if (*c.error == '\0')
            EXPECT_EQ(error, "") << c.what;
        else
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.what << ": " << error;
    }
}

} // namespace
