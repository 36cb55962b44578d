// Promotion policies.
#include <libwinclass/writers/promote.h>

#include <libwinclass/tv_str.h>
#include <libwinclass/wmi/comref.h>

#include <liblocal/local.h>
#include <vssrequester/vsscr.h>

#include <comdef.h>
#include <ole2.h>
// The Recordset interfaces of the IIDs below, whose counts are ADO_LONGPTR (64 bits on x64);
// adoint.h declares other IIDs with 32-bit counts.
#include <adoint_backcompat.h>

using winclass::ComRef;
using winclass::ScopedVariant;

namespace {

// ADO's Recordset class {00000535-0000-0010-8000-00AA006D2EA4} and its _Recordset
// interface {00000556-0000-0010-8000-00AA006D2EA4}.
const CLSID kRecordsetClass = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
const IID kRecordsetInterface = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
// In-process server and handler, local and remote server.
const DWORD kAnyServer = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

bool TracePolicy() { return Debug >= 5 || (VoTrace & 0x10) != 0; }
bool TraceFailures() { return Debug >= 3 || (VoTrace & 0x4) != 0; }

void ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        _com_issue_error(hr);
}

// A VARIANT that lends a BSTR owned elsewhere (an argument passed by value).
VARIANT BorrowedText(const _bstr_t &text)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = static_cast<BSTR>(static_cast<WCHAR *>(text));
    return value;
}

// The recordset as _com_ptr_t::CreateInstance makes it: an instance asked for IUnknown, run,
// then asked for the interface. E_NOINTERFACE leaves no recordset and is not an error.
void CreateRecordset(ComRef<_Recordset> &recordset)
{
    ComRef<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(kRecordsetClass, NULL, kAnyServer, IID_IUnknown,
                                  reinterpret_cast<void **>(unknown.out()));
    if (SUCCEEDED(hr))
        hr = OleRun(unknown.get());
    if (SUCCEEDED(hr))
        hr = unknown->QueryInterface(kRecordsetInterface, reinterpret_cast<void **>(recordset.out()));
    if (FAILED(hr) && hr != E_NOINTERFACE)
        _com_issue_error(hr);
}

// Case-insensitive equality of two wide texts, ASCII letters folded (the names compared
// here are ASCII).
bool EqualNoCase(const wstr &a, const WCHAR *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        WCHAR x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<WCHAR>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<WCHAR>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == 0;
}

} // namespace

bool CPromoteDefaultUserDataWriter::SupportsComponent(const std::shared_ptr<CVssWriterComp> &) { return true; }

bool CPromoteDefaultUserDataWriter::PromotesAllComponents() { return true; }

bool CPromoteUserHyperVWriter::SupportsComponent(const std::shared_ptr<CVssWriterComp> &component)
{
    if (!component)
        return false;
    const wstr &name = component->GetName();
    return EqualNoCase(name, W("Initial Store")) || EqualNoCase(name, W("Host Component"));
}

bool CPromoteUserHyperVWriter::PromotesAllComponents() { return false; }

// The component's logical path names the SQL Server instance; the instance says what it is
// in its version text. Any COM error ends the question with the answer found so far.
bool CPromoteUserSQLWriter::SupportsComponent(const std::shared_ptr<CVssWriterComp> &component)
{
    if (!component)
        return false;
    bool supported = false;
    try {
        ComRef<_Recordset> recordset;
        CreateRecordset(recordset);
        const _bstr_t connection = _bstr_t(W("Provider=SQLOLEDB;Data source=\"")) +
                                   _bstr_t(component->GetLogicalPath().c_str()) +
                                   _bstr_t(W("\";Trusted_Connection=yes;"));
        if (!recordset)
            return false;
        const _bstr_t query(W("SELECT @@VERSION"));
        ThrowIfFailed(recordset->Open(BorrowedText(query), BorrowedText(connection), adOpenStatic, adLockReadOnly,
                                      adCmdText));
        VARIANT_BOOL atEnd = VARIANT_TRUE;
        ThrowIfFailed(recordset->get_EOF(&atEnd));
        ADO_LONGPTR records = 0;
        if (atEnd == VARIANT_FALSE)
            ThrowIfFailed(recordset->get_RecordCount(&records));
        if (atEnd == VARIANT_FALSE && records > 0) {
            ComRef<ADOFields> fields;
            ThrowIfFailed(recordset->get_Fields(fields.out()));
            VARIANT first;
            VariantInit(&first);
            V_VT(&first) = VT_I2;
            V_I2(&first) = 0;
            ComRef<ADOField> field;
            ThrowIfFailed(fields->get_Item(first, field.out()));
            ScopedVariant value;
            ThrowIfFailed(field->get_Value(value.get()));
            ScopedVariant text;
            ThrowIfFailed(VariantChangeType(text.get(), value.get(), 0, VT_BSTR));
            const tv_str version(text.text());  // compared in its narrow, system code page form
            if (version.contains("Windows Internal Database", true)) {
                if (TracePolicy())
                    debugprintf("%s SQL component will be added to backup because it is an internal database\n",
                                tv_str(component->GetName().c_str()).get_utf8());
                supported = true;
            }
        }
        ThrowIfFailed(recordset->Close());
    } catch (const _com_error &) {
        if (TraceFailures())
            debugprintf("Exception raised when trying to determine the SQL component type\n");
    }
    return supported;
}

bool CPromoteUserSQLWriter::PromotesAllComponents() { return false; }
