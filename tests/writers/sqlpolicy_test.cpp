// The database writer's promotion policy: a component joins the system state when the SQL
// Server instance its logical path names says it is a Windows Internal Database. The
// instances are the simulated host's.
#include <libwinclass/writers/promote.h>

#include <liblocal/local.h>
#include <vssrequester/vsscr.h>
#include <winsim/ado.h>
#include <winsim/host.h>
#include <winsim/hostmodel.h>

#include <gtest/gtest.h>

#include <support/capture.h>

#include "../winsim/comtest.h"

#include <functional>
#include <memory>

namespace {

const GUID kSqlWriter = {0xa65faa63, 0x5ea8, 0x4ebc, {0x9d, 0xbd, 0xa0, 0xc4, 0xdb, 0x26, 0x91, 0x2a}};
const CLSID kRecordsetClass = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
const char kPromoted[] = "SQL component will be added to backup because it is an internal database\n";
const char kException[] = "Exception raised when trying to determine the SQL component type\n";

TEST(SqlPromotionPolicy, AsksTheInstanceNamedByTheLogicalPath)
{
    ASSERT_EQ(CoInitializeEx(NULL, COINIT_MULTITHREADED), S_OK);
    winsim::Host host = winsim::ParseHost(winsim::EmbeddedHostJson("default"));
    host.sqlServerInstances = {
        {u"HV01\\MICROSOFT##WID", u"Microsoft SQL Server 2017 (RTM) - 14.0.1000.169 (X64) Windows Internal Database (64-bit)", true},
        {u"SQL01", u"Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) Standard Edition (64-bit)", true},
        {u"SQL02", u"Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) windows internal database", true},
        {u"SQL01\\DOWN", u"Microsoft SQL Server 2019 Windows Internal Database", false},
    };
    winsim::ReplaceHost(host);
    tvtest::CountingObject notARecordset;
    const struct {
        const char *what;
        const WCHAR *logicalPath;
        std::function<void()> arrange;
        bool promoted;
        const char *line;
    } cases[] = {
        {"internal database", W("HV01\\MICROSOFT##WID"), [] {}, true, kPromoted},
        {"instance named in another case", W("hv01\\Microsoft##Wid"), [] {}, true, kPromoted},
        {"plain SQL Server", W("SQL01"), [] {}, false, nullptr},
        {"the words in another case", W("SQL02"), [] {}, false, nullptr},
        {"login refused", W("SQL01\\DOWN"), [] {}, false, kException},
        {"instance not described", W("HV01\\SQLEXPRESS"), [] {}, false, kException},
        {"Open fails", W("HV01\\MICROSOFT##WID"),
         [] { winsim::InjectHresult("Recordset::Open", u"HV01\\MICROSOFT##WID", E_OUTOFMEMORY); }, false, kException},
        {"ADO not registered", W("HV01\\MICROSOFT##WID"), [] { winsim::UnregisterComClass(kRecordsetClass); }, false,
         kException},
        {"a class without _Recordset", W("HV01\\MICROSOFT##WID"),
         [&notARecordset] {
             winsim::RegisterComClass(kRecordsetClass, [&notARecordset](IUnknown *, REFIID riid, void **object) {
                 return notARecordset.QueryInterface(riid, object);
             });
         },
         false, nullptr},
    };
    Debug = 5;
    CPromoteUserSQLWriter policy(kSqlWriter);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto component = std::make_shared<CVssWriterComp>();
        component->name = W("MICROSOFT##WID");
        component->logicalPath = c.logicalPath;
        c.arrange();
        tvtest::OutputCapture capture;
        EXPECT_EQ(policy.SupportsComponent(component), c.promoted);
        const std::vector<std::string> lines = capture.debugLines();
        if (c.line == nullptr) {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(c.line), std::string::npos) << lines[0];
            if (c.promoted) {
                EXPECT_EQ(lines[0].rfind("MICROSOFT##WID ", 0), 0u) << "the line names the component";
            }
        }
        EXPECT_EQ(winsim::LiveAdoObjects(), size_t(0)) << "every ADO object is released";
        winsim::ClearFaults();
        winsim::RegisterAdoRecordset();
    }
    EXPECT_EQ(notARecordset.references(), ULONG(1)) << "the IUnknown of a class without _Recordset is released";
    EXPECT_FALSE(policy.SupportsComponent(nullptr));
    EXPECT_FALSE(policy.PromotesAllComponents());
    Debug = 0;
    CoUninitialize();
}

} // namespace
