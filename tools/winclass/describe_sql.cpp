// describe-host's question to a SQL Server instance, asked as the library's database
// policy asks it. A source of its own: MinGW's ADO header is taken only with -fpermissive.
#include "describe.h"
#include "paths.h"

#include <libwinclass/wmi/comref.h>

#include <comdef.h>
#include <ole2.h>
// ADO's Recordset with 64-bit counts, as the library's database policy uses it.
#include <adoint_backcompat.h>

namespace winclass {

namespace {

// ADO's Recordset class and its _Recordset interface (64-bit counts).
const CLSID kRecordsetClass = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
const IID kRecordsetInterface = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};

VARIANT BorrowedText(const _bstr_t &text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = static_cast<BSTR>(static_cast<WCHAR *>(text));
    return value;
}

} // namespace

HRESULT SqlInstanceVersion(const wstr &instance, std::string *version)
{
    ComRef<IUnknown> unknown;
    ComRef<_Recordset> recordset;
    HRESULT hr = CoCreateInstance(kRecordsetClass, NULL, CLSCTX_ALL, IID_IUnknown,
                                  reinterpret_cast<void **>(unknown.out()));
    if (SUCCEEDED(hr))
        hr = OleRun(unknown.get());
    if (SUCCEEDED(hr))
        hr = unknown->QueryInterface(kRecordsetInterface, reinterpret_cast<void **>(recordset.out()));
    if (FAILED(hr))
        return hr;
    const _bstr_t connection = _bstr_t(W("Provider=SQLOLEDB;Data source=\"")) + _bstr_t(instance.c_str()) +
                               _bstr_t(W("\";Trusted_Connection=yes;"));
    const _bstr_t query(W("SELECT @@VERSION"));
    hr = recordset->Open(BorrowedText(query), BorrowedText(connection), adOpenStatic, adLockReadOnly, adCmdText);
    if (FAILED(hr))
        return hr;
    VARIANT_BOOL atEnd = VARIANT_TRUE;
    hr = recordset->get_EOF(&atEnd);
    if (SUCCEEDED(hr) && atEnd == VARIANT_FALSE) {
        ComRef<ADOFields> fields;
        ComRef<ADOField> field;
        VARIANT first;
        VariantInit(&first);
        V_VT(&first) = VT_I2;
        V_I2(&first) = 0;
        ScopedVariant value, text;
        hr = recordset->get_Fields(fields.out());
        if (SUCCEEDED(hr))
            hr = fields->get_Item(first, field.out());
        if (SUCCEEDED(hr))
            hr = field->get_Value(value.get());
        if (SUCCEEDED(hr))
            hr = VariantChangeType(text.get(), value.get(), 0, VT_BSTR);
        if (SUCCEEDED(hr))
            *version = Shown(wstr(text.text()));
    }
    recordset->Close();
    return hr;
}

} // namespace winclass
