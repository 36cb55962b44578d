// OSSR_Sysinfo.xml: the NetWork section, the physical adapters with their addresses.
#include "sysinfo_internal.h"

#include <liblocal/local.h>

#include <comdef.h>

#include <cstdlib>
#include <string>

using winclass::ScopedVariant;

namespace {

const WCHAR kCimv2[] = W("\\\\.\\Root\\CIMV2");

int adapter_compare(const void *a, const void *b)
{
    const int first = static_cast<const sysinfo_adapter *>(a)->index;
    const int second = static_cast<const sysinfo_adapter *>(b)->index;
    return first < second ? -1 : first > second ? 1 : 0;
}

sysinfo_adapter *adapter_find_by_index(vo_cell *list, int index)
{
    if (list == NULL) {
        if (sysinfo_log_failures())
            debugprintf("%s: NULL pointer passed to %s()\n", SYSINFO_SOURCE_NAME, "adapter_find_by_index");
        return NULL;
    }
    for (; list != NULL; list = list->next) {
        sysinfo_adapter *adapter = static_cast<sysinfo_adapter *>(list->data);
        if (adapter->index == index)
            return adapter;
    }
    return NULL;
}

// Reads one adapter; false after a reported failure.
bool sysinfo_read_adapter(IWbemClassObject *object, sysinfo_adapter &adapter)
{
    tv_str deviceId;
    if (!sysinfo_get_string(object, W("DeviceID"), deviceId, __LINE__))
        return false;
    adapter.index = atoi(deviceId.get_utf8());
    return sysinfo_get_string(object, W("AdapterType"), adapter.adapter_type, __LINE__) &&
           sysinfo_get_string(object, W("MACAddress"), adapter.mac_address, __LINE__) &&
           sysinfo_get_string(object, W("ProductName"), adapter.product_name, __LINE__);
}

int sysinfo_query_adapters(sysinfo_ctx *ctx)
{
    sysinfo_query query;
    if (!query.open(kCimv2, __LINE__) ||
        !query.run(W("SELECT * FROM Win32_NetworkAdapter WHERE PhysicalAdapter='TRUE'"), __LINE__))
        return 0;
    sysinfo_batch adapters(&ctx->adapters, adapter_compare, adapter_free_list);
    bool failed = false;
    while (query.next(__LINE__, &failed)) {
        std::unique_ptr<sysinfo_adapter> adapter(new sysinfo_adapter());
        if (!sysinfo_read_adapter(query.row(), *adapter)) {
            break;
        }
        adapters.add(std::move(adapter));
    }
    return 1;
}

// A string-array property replaces the vector; another type leaves it as it was.
bool sysinfo_read_strings(IWbemClassObject *object, const WCHAR *name, std::vector<tv_str> &out, int sourceLine)
{
    ScopedVariant value;
    if (!sysinfo_get(object, name, value, sourceLine))
        return false;
    if (value.get()->vt == (VT_ARRAY | VT_BSTR)) {
        try {
            out = sysinfo_string_array(*value.get());
        } catch (const _com_error &error) {
            sysinfo_report_wmi_error(sourceLine, error.Error());
            return false;
        }
    }
    return true;
}

// Completes one adapter from its configuration; false after a reported failure.
bool sysinfo_read_adapter_config(IWbemClassObject *object, sysinfo_adapter &adapter)
{
    if (!sysinfo_read_strings(object, W("DefaultIPGateway"), adapter.gateways, __LINE__))
        return false;
    ScopedVariant value;
    if (!sysinfo_get(object, W("DHCPEnabled"), value, __LINE__))
        return false;
    adapter.dhcp_enabled = value.get()->boolVal;
    if (!sysinfo_read_strings(object, W("IPAddress"), adapter.addresses, __LINE__) ||
        !sysinfo_read_strings(object, W("IPSubnet"), adapter.subnets, __LINE__) ||
        !sysinfo_get(object, W("DHCPServer"), value, __LINE__))
        return false;
    if (value.get()->vt == VT_BSTR)
        adapter.dhcp_server = value.text();
    return true;
}

int sysinfo_query_adapter_configs(sysinfo_ctx *ctx)
{
    sysinfo_query query;
    if (!query.open(kCimv2, __LINE__) || !query.run(W("SELECT * FROM Win32_NetworkAdapterConfiguration"), __LINE__))
        return 0;
    bool failed = false;
    while (query.next(__LINE__, &failed)) {
        int index = 0;
        if (!sysinfo_get_int(query.row(), W("Index"), index, __LINE__))
            break;
        sysinfo_adapter *adapter = adapter_find_by_index(ctx->adapters, index);
        if (adapter != NULL && !sysinfo_read_adapter_config(query.row(), *adapter))
            break;
    }
    return 1;
}

// The first entry that is (or, for IPv6, is not) an IPv4 text; NULL without one.
const tv_str *sysinfo_first_of_family(const std::vector<tv_str> &entries, bool ipv4)
{
    for (const tv_str &entry : entries)
        if (entry.has_char('.') == ipv4)
            return &entry;
    return NULL;
}

// Appends name="value", the value unescaped.
void sysinfo_append(std::string &line, const char *name, const tv_str &value)
{
    line.append(" ").append(name).append("=\"").append(value.get_utf8()).append("\"");
}

int sysinfo_write_adapter_addresses(sysinfo_ctx *ctx, sysinfo_adapter *adapter)
{
    bool dhcpPending = true;
    for (int pass = 0; pass < 2; ++pass) {
        const bool ipv4 = pass == 0;
        bool subnetPending = true;
        bool gatewayPending = true;
        for (const tv_str &address : adapter->addresses) {
            if (!address.has_char(ipv4 ? '.' : ':'))
                continue;
            std::string line = std::string(sysinfo_indentation()) + "<" + (ipv4 ? "IPv4" : "IPv6");
            sysinfo_append(line, "Address", address);
            if (subnetPending) {
                if (const tv_str *subnet = sysinfo_first_of_family(adapter->subnets, ipv4)) {
                    sysinfo_append(line, "Subnet", *subnet);
                    subnetPending = false;
                }
            }
            if (gatewayPending) {
                if (const tv_str *gateway = sysinfo_first_of_family(adapter->gateways, ipv4)) {
                    sysinfo_append(line, "Gateway", *gateway);
                    gatewayPending = false;
                }
            }
            if (dhcpPending) {
                dhcpPending = false;
                if (adapter->dhcp_enabled != 0) {
                    line += " DHCPEnabled=\"Yes\"";
                    sysinfo_append(line, "DHCPServer", adapter->dhcp_server);
                } else {
                    line += " DHCPEnabled=\"No\"";
                }
            }
            if (ipv4)
                sysinfo_append(line, "MACAddress", adapter->mac_address);
            line += "/>\n";
            if (!sysinfo_write_line(ctx, __LINE__, "%s", line.c_str()))
                return 0;
        }
    }
    return 1;
}

int sysinfo_write_adapters(sysinfo_ctx *ctx)
{
    for (vo_cell *cell = ctx->adapters; cell != NULL; cell = cell->next) {
        sysinfo_adapter *adapter = static_cast<sysinfo_adapter *>(cell->data);
        if (!sysinfo_write_line(ctx, __LINE__, "%s<%s Type=\"%s\" ProductType=\"%s\">\n", sysinfo_indentation(),
                                "Adapter", adapter->adapter_type.get_utf8(), adapter->product_name.get_utf8()))
            return 0;
        sysinfo_indent_push();
        const int written = sysinfo_write_adapter_addresses(ctx, adapter);
        sysinfo_indent_pop();
        if (!written || !sysinfo_write_end(ctx, __LINE__, "Adapter"))
            return 0;
    }
    return 1;
}

} // namespace

int sysinfo_write_network(sysinfo_ctx *ctx)
{
    if (!sysinfo_write_start(ctx, __LINE__, "NetWork"))
        return 0;
    int result = sysinfo_query_adapters(ctx);
    if (result == 1)
        result = sysinfo_query_adapter_configs(ctx);
    if (result == 1) {
        sysinfo_indent_push();
        result = sysinfo_write_adapters(ctx);
        sysinfo_indent_pop();
    }
    if (!sysinfo_write_end(ctx, __LINE__, "NetWork"))
        result = 0;
    return result;
}
