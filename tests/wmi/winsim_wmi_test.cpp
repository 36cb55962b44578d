// The simulated WMI service: namespaces, WQL, VARIANT types, paths, methods, the cluster,
// and the faults and raw values tests set up. Linux only.
#include <platform/tvplatform.h>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/wmi.h>

#include <libwinclass/conversions.h>

#include <gtest/gtest.h>

#include "wmitest.h"

using namespace tvtest;

namespace {

class SimulatedWmi : public ::testing::Test {
protected:
    void SetUp() override
    {
        winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(hostName())));
        winsim::ResetWmi();
        ASSERT_EQ(com_.result(), S_OK);
    }
    void TearDown() override
    {
        ReleaseAll(objects_);
        services_.reset();
        locator_.reset();
        winsim::ResetWmi();
        EXPECT_EQ(winsim::LiveWmiObjects(), size_t(0));
    }
    virtual const char *hostName() const { return "default"; }

    void Open(const WCHAR *ns) { ASSERT_EQ(Connect(ns, locator_, services_), S_OK); }
    HRESULT Run(const WCHAR *wql)
    {
        ReleaseAll(objects_);
        return Query(services_.get(), wql, &objects_);
    }
    wstr Text(size_t index, const WCHAR *property)
    {
        Variant value;
        EXPECT_EQ(objects_.at(index)->Get(property, 0, &value, NULL, NULL), S_OK);
        EXPECT_EQ(value.vt(), VT_BSTR) << "property type";
        return value.text();
    }

    ComScope com_;
    Ref<IWbemLocator> locator_;
    Ref<IWbemServices> services_;
    std::vector<IWbemClassObject *> objects_;
};

// Points a variant at a new copy of the text (freed with the variant).
void SetText(Variant &variant, const WCHAR *text)
{
    VariantClear(variant.get());
    variant.get()->vt = VT_BSTR;
    variant.get()->bstrVal = SysAllocString(text);
}

class SimulatedClusterWmi : public SimulatedWmi {
    const char *hostName() const override { return "cluster-node"; }
};

TEST_F(SimulatedWmi, NamespacesAreFoundAsWindowsSpellsThem)
{
    for (const WCHAR *ns : {W("\\\\.\\Root\\CIMV2"), W("ROOT\\CIMV2"), W("root\\cimv2"), W("//./root/cimv2"),
                            W("\\\\.\\Root\\Microsoft\\Windows\\Storage")}) {
        Ref<IWbemLocator> locator;
        Ref<IWbemServices> services;
        EXPECT_EQ(Connect(ns, locator, services), S_OK);
        EXPECT_TRUE(services);
    }
    Ref<IWbemLocator> locator;
    Ref<IWbemServices> services;
    EXPECT_EQ(Connect(W("ROOT\\NoSuchNamespace"), locator, services), WBEM_E_INVALID_NAMESPACE);
    EXPECT_FALSE(services);
    // The cluster namespace exists only on a cluster node.
    EXPECT_EQ(Connect(W("ROOT\\MSCLUSTER"), locator, services), WBEM_E_INVALID_NAMESPACE);
}

TEST_F(SimulatedWmi, QueriesAnswerOneObjectAtATimeWithTheirVariantTypes)
{
    Open(W("\\\\.\\Root\\CIMV2"));
    ASSERT_EQ(Run(W("SELECT Manufacturer, Model FROM Win32_ComputerSystem")), WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(1));
    EXPECT_EQ(Text(0, W("Manufacturer")), wstr(W("Winsim Systems")));
    EXPECT_EQ(Text(0, W("model")), wstr(W("Simulated Server")));
    Variant missing;
    EXPECT_EQ(objects_[0]->Get(W("PartOfDomain"), 0, &missing, NULL, NULL), WBEM_E_NOT_FOUND) << "not selected";
    const wstr host = winsim::CurrentHost().hostName;
    EXPECT_EQ(Text(0, W("__PATH")), W("\\\\") + host + W("\\ROOT\\CIMV2:Win32_ComputerSystem.Name=\"") + host + W("\""));

    Open(W("ROOT\\Microsoft\\Windows\\Storage"));
    ASSERT_EQ(Run(W("SELECT Number, BusType, Size FROM MSFT_Disk")), WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), winsim::CurrentHost().disks.size());
    Variant number, bus;
    CIMTYPE type = 0;
    ASSERT_EQ(objects_[0]->Get(W("Number"), 0, &number, &type, NULL), S_OK);
    EXPECT_EQ(number.vt(), VT_I4);
    EXPECT_EQ(type, CIM_UINT32);
    ASSERT_EQ(objects_[0]->Get(W("BusType"), 0, &bus, NULL, NULL), S_OK);
    EXPECT_EQ(bus.vt(), VT_I4) << "uint16 comes as VT_I4";
    EXPECT_EQ(bus.get()->lVal, winsim::CurrentHost().disks[0].busType);
    const std::string size = std::to_string(winsim::CurrentHost().disks[0].size);
    EXPECT_EQ(Text(0, W("Size")), wstr(size.begin(), size.end())) << "uint64 comes as a decimal string";
}

TEST_F(SimulatedWmi, SizesAreDecimalStringsAndPartitionsCarryTheirAccessPaths)
{
    Open(W("ROOT\\Microsoft\\Windows\\Storage"));
    ASSERT_EQ(Run(W("SELECT * FROM MSFT_Partition WHERE DiskNumber = 0")), WBEM_S_FALSE);
    const winsim::Disk &disk = winsim::CurrentHost().disks[0];
    ASSERT_EQ(objects_.size(), disk.partitions.size());
    bool sawDriveC = false;
    for (size_t i = 0; i < objects_.size(); ++i) {
        const std::string size = std::to_string(disk.partitions[i].length);
        const wstr expected(size.begin(), size.end());
        EXPECT_EQ(Text(i, W("Size")), expected);
        Variant paths, gpt;
        ASSERT_EQ(objects_[i]->Get(W("AccessPaths"), 0, &paths, NULL, NULL), S_OK);
        ASSERT_EQ(objects_[i]->Get(W("GptType"), 0, &gpt, NULL, NULL), S_OK);
        EXPECT_EQ(gpt.vt(), VT_BSTR);
        EXPECT_EQ(gpt.text().size(), size_t(38));
        if (paths.vt() == VT_NULL)
            continue;
        ASSERT_EQ(paths.vt(), VT_ARRAY | VT_BSTR);
        const auto list = paths.strings();
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(list.back().compare(0, 11, W("\\\\?\\Volume{")), 0);
        if (list.front() == W("C:\\"))
            sawDriveC = true;
    }
    EXPECT_TRUE(sawDriveC);

    // An MBR disk has no GPT type: VT_NULL.
    ASSERT_EQ(Run(W("SELECT * FROM MSFT_Partition WHERE DiskNumber = 5")), WBEM_S_FALSE);
    ASSERT_FALSE(objects_.empty());
    Variant gpt;
    ASSERT_EQ(objects_[0]->Get(W("GptType"), 0, &gpt, NULL, NULL), S_OK);
    EXPECT_EQ(gpt.vt(), VT_NULL);
}

TEST_F(SimulatedWmi, BadQueriesFailAsWmiDoesAndWhereComparesBooleansWithTheirText)
{
    Open(W("ROOT\\CIMV2"));
    EXPECT_EQ(Run(W("SELECT * FROM Win32_NoSuchClass")), WBEM_E_INVALID_CLASS);
    EXPECT_EQ(Run(W("SELECT FROM Win32_ComputerSystem")), WBEM_E_INVALID_QUERY);
    EXPECT_EQ(Run(W("SELECT * FROM Win32_ComputerSystem WHERE")), WBEM_E_INVALID_QUERY);
    EXPECT_EQ(Run(W("SELECT NoSuchProperty FROM Win32_ComputerSystem")), WBEM_E_INVALID_QUERY);
    EXPECT_EQ(Run(W("DELETE FROM Win32_ComputerSystem")), WBEM_E_INVALID_QUERY);
    // MSFT_Disk lives in the storage namespace only.
    EXPECT_EQ(Run(W("SELECT * FROM MSFT_Disk")), WBEM_E_INVALID_CLASS);

    Bstr language(W("SQL")), query(W("SELECT * FROM Win32_ComputerSystem"));
    Ref<IEnumWbemClassObject> enumerator;
    EXPECT_EQ(services_->ExecQuery(language, query, 48, NULL, enumerator.out()), WBEM_E_INVALID_QUERY_TYPE);
    Open(W("ROOT\\CIMV2"));
    ASSERT_EQ(Run(W("SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter='TRUE'")), WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(1));
    EXPECT_EQ(Text(0, W("AdapterType")), wstr(W("Ethernet 802.3")));
    ASSERT_EQ(Run(W("SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter='FALSE'")), WBEM_S_FALSE);
    EXPECT_TRUE(objects_.empty());
    ASSERT_EQ(Run(W("SELECT * FROM Win32_NetworkAdapterConfiguration")), WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(1));
    Variant dhcpServer, addresses;
    ASSERT_EQ(objects_[0]->Get(W("DHCPServer"), 0, &dhcpServer, NULL, NULL), S_OK);
    EXPECT_EQ(dhcpServer.vt(), VT_NULL);
    ASSERT_EQ(objects_[0]->Get(W("IPAddress"), 0, &addresses, NULL, NULL), S_OK);
    EXPECT_EQ(addresses.strings().size(), size_t(2));
}

TEST_F(SimulatedWmi, ClassObjectsGiveMethodSignaturesAndSpawnInstances)
{
    Open(W("ROOT\\CIMV2"));
    Bstr className(W("Win32_ComputerSystem"));
    Ref<IWbemClassObject> definition;
    ASSERT_EQ(services_->GetObject(className, 0, NULL, definition.out(), NULL), S_OK);
    Ref<IWbemClassObject> signature, params;
    ASSERT_EQ(definition->GetMethod(W("Rename"), 0, signature.out(), NULL), S_OK);
    ASSERT_TRUE(signature);
    ASSERT_EQ(signature->SpawnInstance(0, params.out()), S_OK);
    Variant name;
    SetText(name, W("NEWNAME"));
    EXPECT_EQ(params->Put(W("Name"), 0, name.get(), 0), S_OK);
    EXPECT_EQ(params->Put(W("NoSuchParameter"), 0, name.get(), 0), WBEM_E_NOT_FOUND);
    Ref<IWbemClassObject> unknown;
    EXPECT_EQ(definition->GetMethod(W("NoSuchMethod"), 0, unknown.out(), NULL), WBEM_E_NOT_FOUND);

    const wstr thisHost = W("Win32_ComputerSystem.Name=\"") + winsim::CurrentHost().hostName + W("\"");
    Bstr path(thisHost.c_str()), method(W("Rename"));
    Ref<IWbemClassObject> out;
    ASSERT_EQ(services_->ExecMethod(path, method, 0, NULL, params.get(), out.out(), NULL), S_OK);
    Variant result;
    ASSERT_EQ(out->Get(W("ReturnValue"), 0, &result, NULL, NULL), S_OK);
    EXPECT_EQ(result.vt(), VT_I4);
    EXPECT_EQ(result.get()->lVal, 0);

    Bstr otherHost(W("Win32_ComputerSystem.Name=\"ELSEWHERE\""));
    EXPECT_EQ(services_->ExecMethod(otherHost, method, 0, NULL, params.get(), out.out(), NULL), WBEM_E_NOT_FOUND);
    EXPECT_FALSE(out);
}

TEST_F(SimulatedWmi, PoolsAndTheirDisksAreLinkedByReferences)
{
    Open(W("\\\\.\\Root\\Microsoft\\Windows\\Storage"));
    ASSERT_EQ(Run(W("SELECT ObjectID, IsPrimordial, FriendlyName, Size FROM MSFT_StoragePool")), WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(2)) << "the primordial pool and Pool01 on the default host";
    const wstr poolId = Text(0, W("ObjectID"));
    ASSERT_EQ(Run(W("SELECT * FROM MSFT_StoragePoolToPhysicalDisk")), WBEM_S_FALSE);
    ASSERT_FALSE(objects_.empty());
    const wstr poolRef = Text(0, W("StoragePool"));
    const wstr diskRef = Text(0, W("PhysicalDisk"));
    Ref<IWbemClassObject> pool, disk;
    Bstr poolPath(poolRef.c_str()), diskPath(diskRef.c_str());
    ASSERT_EQ(services_->GetObject(poolPath, 0, NULL, pool.out(), NULL), S_OK);
    Variant id;
    ASSERT_EQ(pool->Get(W("ObjectID"), 0, &id, NULL, NULL), S_OK);
    EXPECT_EQ(id.text(), poolId);
    ASSERT_EQ(services_->GetObject(diskPath, 0, NULL, disk.out(), NULL), S_OK);
    Variant device;
    ASSERT_EQ(disk->Get(W("DeviceID"), 0, &device, NULL, NULL), S_OK);
    EXPECT_EQ(device.text(), wstr(W("0")));

    // Pool01's SAS disks are physical disks of the pool only: Windows lists them as no disk.
    ASSERT_EQ(Run(W("SELECT DeviceID, BusType, FriendlyName FROM MSFT_PhysicalDisk WHERE DeviceID = '7'")),
              WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(1));
    Variant bus;
    ASSERT_EQ(objects_[0]->Get(W("BusType"), 0, &bus, NULL, NULL), S_OK);
    EXPECT_EQ(bus.get()->lVal, 10) << "SAS";
    EXPECT_EQ(Text(0, W("FriendlyName")), wstr(W("SAS HDD 7")));
    ASSERT_EQ(Run(W("SELECT Number FROM MSFT_Disk WHERE Number = 7")), WBEM_S_FALSE);
    EXPECT_TRUE(objects_.empty());
}

TEST_F(SimulatedWmi, TestsOverrideValuesAndInjectFaults)
{
    const VARIANT number = I4(7);
    winsim::OverrideWmiProperty(u"\\\\.\\Root\\CIMV2", u"Win32_ComputerSystem", u"Manufacturer", number);
    Open(W("ROOT\\CIMV2"));
    ASSERT_EQ(Run(W("SELECT Manufacturer, Model FROM Win32_ComputerSystem")), WBEM_S_FALSE);
    Variant value;
    ASSERT_EQ(objects_.at(0)->Get(W("Manufacturer"), 0, &value, NULL, NULL), S_OK);
    EXPECT_EQ(value.vt(), VT_I4);

    winsim::InjectWmiFault({winsim::WmiFaultPoint::Get, u"Win32_ComputerSystem.Model", WBEM_E_FAILED, 0, 1});
    Variant model;
    EXPECT_EQ(objects_[0]->Get(W("Model"), 0, &model, NULL, NULL), WBEM_E_FAILED);
    EXPECT_EQ(objects_[0]->Get(W("Model"), 0, &model, NULL, NULL), S_OK) << "the fault fires once";

    winsim::InjectWmiFault({winsim::WmiFaultPoint::Next, u"Win32_NetworkAdapter", WBEM_E_PROVIDER_FAILURE, 0, -1});
    EXPECT_EQ(Run(W("SELECT * FROM Win32_NetworkAdapter")), WBEM_E_PROVIDER_FAILURE);
    EXPECT_TRUE(objects_.empty());
    winsim::InjectWmiFault({winsim::WmiFaultPoint::Query, u"Win32_NetworkAdapterConfiguration", WBEM_E_ACCESS_DENIED});
    EXPECT_EQ(Run(W("SELECT * FROM Win32_NetworkAdapterConfiguration")), WBEM_E_ACCESS_DENIED);

    winsim::HideWmiInstances(u"ROOT\\CIMV2", u"Win32_ComputerSystem");
    EXPECT_EQ(Run(W("SELECT Manufacturer, Model FROM Win32_ComputerSystem")), WBEM_S_FALSE);
    EXPECT_TRUE(objects_.empty());

    winsim::InjectWmiFault({winsim::WmiFaultPoint::Connect, u"root\\cimv2", WBEM_E_ACCESS_DENIED});
    Ref<IWbemLocator> locator;
    Ref<IWbemServices> services;
    EXPECT_EQ(Connect(W("\\\\.\\Root\\CIMV2"), locator, services), WBEM_E_ACCESS_DENIED);
}

TEST_F(SimulatedClusterWmi, SharedVolumesMoveAndEnterMaintenance)
{
    Open(W("ROOT\\MSCLUSTER"));
    ASSERT_EQ(Run(W("SELECT * FROM MSCluster_ClusterSharedVolume")), WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(1));
    EXPECT_EQ(Text(0, W("Name")), wstr(W("C:\\ClusterStorage\\Volume1")));
    const wstr csvPath = Text(0, W("__PATH"));

    ASSERT_EQ(Run(W("ASSOCIATORS OF {MSCluster_ClusterSharedVolume.Name='C:\\ClusterStorage\\Volume1'} WHERE ResultClass = "
                    "MSCluster_Node")),
              WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(1));
    EXPECT_EQ(Text(0, W("Name")), wstr(W("TVNODE2")));

    Bstr className(W("MSCluster_ClusterSharedVolume")), moveName(W("MoveToNewHost"));
    Ref<IWbemClassObject> definition, signature, params, out;
    ASSERT_EQ(services_->GetObject(className, 0, NULL, definition.out(), NULL), S_OK);
    ASSERT_EQ(definition->GetMethod(W("TurnOnMaintenance"), 0, signature.out(), NULL), S_OK);
    EXPECT_FALSE(signature) << "no input signature";
    ASSERT_EQ(definition->GetMethod(W("MoveToNewHost"), 0, signature.out(), NULL), S_OK);
    ASSERT_EQ(signature->SpawnInstance(0, params.out()), S_OK);
    Variant host;
    SetText(host, W("tvnode1"));
    ASSERT_EQ(params->Put(W("HostName"), 0, host.get(), 0), S_OK);
    Bstr path(csvPath.c_str());
    ASSERT_EQ(services_->ExecMethod(path, moveName, 0, NULL, params.get(), out.out(), NULL), S_OK);
    ASSERT_EQ(winsim::WmiSharedVolumes().at(0).owner, u"TVNODE1");

    SetText(host, W("TVNODE9"));
    ASSERT_EQ(params->Put(W("HostName"), 0, host.get(), 0), S_OK);
    EXPECT_LT(services_->ExecMethod(path, moveName, 0, NULL, params.get(), out.out(), NULL), 0);
    EXPECT_EQ(winsim::WmiSharedVolumes().at(0).owner, u"TVNODE1");

    Bstr on(W("TurnOnMaintenance")), off(W("TurnOffMaintenance"));
    ASSERT_EQ(services_->ExecMethod(path, on, 0, NULL, NULL, NULL, NULL), S_OK);
    EXPECT_EQ(winsim::WmiSharedVolumes().at(0).faultState, DWORD(4));
    ASSERT_EQ(Run(W("SELECT * FROM MSCluster_ClusterSharedVolume")), WBEM_S_FALSE);
    Variant fault;
    ASSERT_EQ(objects_.at(0)->Get(W("FaultState"), 0, &fault, NULL, NULL), S_OK);
    EXPECT_EQ(fault.get()->lVal, 4);
    ASSERT_EQ(services_->ExecMethod(path, off, 0, NULL, NULL, NULL, NULL), S_OK);
    EXPECT_EQ(winsim::WmiSharedVolumes().at(0).faultState, DWORD(0));
}

TEST_F(SimulatedWmi, EveryQueryOfTheLibraryIsAnsweredAndStorageSpacesDisksFoundByBusType)
{
    Open(W("\\\\.\\Root\\Microsoft\\Windows\\Storage"));
    ASSERT_EQ(Run(W("SELECT Number, BusType FROM MSFT_Disk")), WBEM_S_FALSE);
    std::vector<LONG> spaces;
    for (auto *object : objects_) {
        Variant bus, number;
        ASSERT_EQ(object->Get(W("BusType"), 0, &bus, NULL, NULL), S_OK);
        ASSERT_EQ(object->Get(W("Number"), 0, &number, NULL, NULL), S_OK);
        if (bus.get()->lVal == 16)
            spaces.push_back(number.get()->lVal);
    }
    std::vector<LONG> expected;
    for (const auto &disk : winsim::CurrentHost().disks)
        if (disk.busType == winsim::BusSpaces)
            expected.push_back(LONG(disk.number));
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(spaces, expected);
    // Every query the library runs, on the host it is meant for: all must succeed and find objects.
    const WCHAR *storage = W("\\\\.\\Root\\Microsoft\\Windows\\Storage"), *cimv2 = W("\\\\.\\Root\\CIMV2");
    const struct {
        const char *host;
        const WCHAR *ns, *wql;
    } queries[] = {
        {"default", storage, W("SELECT Number, BusType FROM MSFT_Disk")},
        {"default", storage, W("SELECT BusType, FriendlyName, Number, ObjectID, PartitionStyle, Size FROM MSFT_Disk")},
        {"default", storage, W("SELECT BusType, DeviceID, FriendlyName, ObjectID, Size FROM MSFT_PhysicalDisk")},
        {"default", storage, W("SELECT * FROM MSFT_Partition")},
        {"default", storage, W("SELECT * FROM MSFT_Volume")},
        {"default", storage, W("SELECT ObjectID, IsPrimordial, FriendlyName, Size FROM MSFT_StoragePool")},
        {"default", storage, W("SELECT * FROM MSFT_StoragePoolToPhysicalDisk")},
        {"default", storage, W("SELECT * FROM MSFT_StoragePoolToVirtualDisk")},
        {"default", cimv2, W("SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter='TRUE'")},
        {"default", cimv2, W("SELECT * FROM Win32_NetworkAdapterConfiguration")},
        {"default", cimv2, W("SELECT Manufacturer, Model FROM Win32_ComputerSystem")},
        {"cluster-node", W("ROOT\\MSCLUSTER"), W("SELECT * FROM MSCluster_ClusterSharedVolume")},
        {"cluster-node", W("ROOT\\MSCLUSTER"),
         W("ASSOCIATORS OF {MSCluster_ClusterSharedVolume.Name='C:\\ClusterStorage\\Volume1'} WHERE ResultClass = MSCluster_Node")},
    };
    for (const auto &q : queries) {
        winsim::ReplaceHost(winsim::ParseHost(winsim::EmbeddedHostJson(q.host)));
        Open(q.ns);
        EXPECT_EQ(Run(q.wql), WBEM_S_FALSE) << to_utf8(q.wql);
        EXPECT_FALSE(objects_.empty()) << to_utf8(q.wql);
        ReleaseAll(objects_);
    }
}

TEST_F(SimulatedWmi, AHostDescriptionAddsInstancesAndRawValues)
{
    std::string json = winsim::EmbeddedHostJson("default");
    json.insert(json.find('{') + 1, R"("wmi": {
        "instances": [{"namespace": "\\\\.\\Root\\CIMV2", "class": "Win32_NetworkAdapter",
                       "properties": {"DeviceID": "9", "PhysicalAdapter": true, "AdapterType": 42}}],
        "overrides": [{"namespace": "root/cimv2", "class": "Win32_ComputerSystem", "property": "Model",
                       "value": null}]},)");
    winsim::ReplaceHost(winsim::ParseHost(json));
    Open(W("ROOT\\CIMV2"));
    ASSERT_EQ(Run(W("SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter='TRUE'")), WBEM_S_FALSE);
    ASSERT_EQ(objects_.size(), size_t(2));
    EXPECT_EQ(Text(1, W("DeviceID")), wstr(W("9")));
    Variant adapterType;
    ASSERT_EQ(objects_[1]->Get(W("AdapterType"), 0, &adapterType, NULL, NULL), S_OK);
    EXPECT_EQ(adapterType.vt(), VT_I4) << "a raw value keeps the type the host gave it";

    ASSERT_EQ(Run(W("SELECT Manufacturer, Model FROM Win32_ComputerSystem")), WBEM_S_FALSE);
    Variant model;
    ASSERT_EQ(objects_.at(0)->Get(W("Model"), 0, &model, NULL, NULL), S_OK);
    EXPECT_EQ(model.vt(), VT_NULL);
}

} // namespace
