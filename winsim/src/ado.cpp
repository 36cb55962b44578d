// ADO (msado15) over the SQLOLEDB provider: the Recordset class, enough to read what a
// SQL Server instance of the host answers to SELECT @@VERSION. The instances come from the
// host's sqlServer section; winsim runs no other command and no other provider.
#include "internal.h"

#include <adoint_backcompat.h>
#include <ole2.h>
#include <oleauto.h>

#include "winsim/ado.h"
#include "winsim/hostmodel.h"

#include <atomic>
#include <initializer_list>
#include <vector>

namespace winsim {

namespace {

// {00000535-0000-0010-8000-00AA006D2EA4}
const CLSID kClsidRecordset = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};

// What ADO and SQLOLEDB return. ADO's own errors are FACILITY_CONTROL codes of
// ErrorValueEnum; the provider's come through unchanged.
constexpr HRESULT kInvalidArgument = HRESULT(0x800A0BB9);     // adErrInvalidArgument (3001)
constexpr HRESULT kNoCurrentRecord = HRESULT(0x800A0BCD);     // adErrNoCurrentRecord (3021)
constexpr HRESULT kItemNotFound = HRESULT(0x800A0CC1);        // adErrItemNotFound (3265)
constexpr HRESULT kObjectClosed = HRESULT(0x800A0E78);        // adErrObjectClosed (3704)
constexpr HRESULT kObjectOpen = HRESULT(0x800A0E79);          // adErrObjectOpen (3705)
constexpr HRESULT kProviderNotFound = HRESULT(0x800A0E7A);    // adErrProviderNotFound (3706)
constexpr HRESULT kInvalidConnection = HRESULT(0x800A0E7D);   // adErrInvalidConnection (3709)
// SQLOLEDB, no server of that name: "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does
// not exist or access denied." with E_FAIL.
constexpr HRESULT kServerNotFound = E_FAIL;
// SQLOLEDB, the server refuses the login ("Login failed for user ..."): DB_SEC_E_AUTH_FAILED.
constexpr HRESULT kLoginFailed = HRESULT(0x80040E4D);

std::atomic<size_t> g_liveObjects{0};

// A case the simulation does not cover: said on stderr, and E_NOTIMPL.
HRESULT Unsupported(const char *member, const char *what)
{
    LogNotImplemented(member, what);
    return E_NOTIMPL;
}

HRESULT NotImplemented(const char *member) { return Unsupported(member, "this member of the ADO object"); }

bool SameIid(REFIID a, REFIID b) { return IsEqualGUID(a, b); }

// IIDs of the ADO interfaces the objects answer, as adoint_backcompat.h numbers them.
GUID AdoIid(DWORD first)
{
    return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x6d, 0x2e, 0xa4}};
}

// What every ADO object here shares: its reference count, the count of live objects, the
// interfaces it answers (IUnknown, IDispatch and the ADO IIDs listed) and IDispatch, which
// is not simulated.
template <typename Interface>
class AdoObject : public Interface {
public:
    AdoObject(const char *kind, std::initializer_list<DWORD> iids) : kind_(kind), iids_(iids) { ++g_liveObjects; }
    virtual ~AdoObject() { --g_liveObjects; }
    AdoObject(const AdoObject &) = delete;
    AdoObject &operator=(const AdoObject &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **object) override
    {
        if (object == NULL)
            return E_POINTER;
        *object = NULL;
        bool known = SameIid(riid, IID_IUnknown) || SameIid(riid, IID_IDispatch);
        for (DWORD first : iids_)
            known = known || SameIid(riid, AdoIid(first));
        if (!known)
            return E_NOINTERFACE;
        *object = static_cast<Interface *>(this);
        this->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT *) override { return Unsupported(kind_, "IDispatch"); }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return Unsupported(kind_, "IDispatch"); }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return Unsupported(kind_, "IDispatch");
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return Unsupported(kind_, "IDispatch");
    }

private:
    const char *kind_;
    std::vector<DWORD> iids_;
    std::atomic<ULONG> references_{1};
};

// ---- connection strings ----

// One key=value pair of an OLE DB connection string. Keys are trimmed and compared without
// regard to case; a value may be quoted with " or ' (the quote doubled inside it stands for
// itself), else it runs to the next ';' and is trimmed.
struct ConnectionString {
    std::vector<std::pair<wstring16, wstring16>> pairs;
    bool Find(const wstring16 &key, wstring16 *value) const
    {
        for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) {  // the last one given wins
            if (EqualNoCase(it->first, key)) {
                *value = it->second;
                return true;
            }
        }
        return false;
    }
};

wstring16 Trimmed(const wstring16 &text)
{
    const size_t first = text.find_first_not_of(u" \t");
    if (first == wstring16::npos)
        return wstring16();
    return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

// False for a text the provider would refuse: a pair without '=', or an unclosed quote.
bool ParseConnectionString(const wstring16 &text, ConnectionString *parsed)
{
    size_t at = 0;
    while (at < text.size()) {
        const size_t equals = text.find(u'=', at);
        const size_t semicolon = text.find(u';', at);
        if (equals == wstring16::npos || (semicolon != wstring16::npos && semicolon < equals)) {
            if (!Trimmed(text.substr(at, semicolon == wstring16::npos ? wstring16::npos : semicolon - at)).empty())
                return false;
            if (semicolon == wstring16::npos)
                break;
            at = semicolon + 1;
            continue;
        }
        const wstring16 key = Trimmed(text.substr(at, equals - at));
        size_t pos = text.find_first_not_of(u" \t", equals + 1);
        wstring16 value;
        if (pos != wstring16::npos && (text[pos] == u'"' || text[pos] == u'\'')) {
            const WCHAR quote = text[pos++];
            for (;; ++pos) {
                if (pos >= text.size())
                    return false;
                if (text[pos] == quote) {
                    if (pos + 1 < text.size() && text[pos + 1] == quote) {
                        value += quote;
                        ++pos;
                        continue;
                    }
                    break;
                }
                value += text[pos];
            }
            const size_t next = text.find_first_not_of(u" \t", pos + 1);
            if (next != wstring16::npos && text[next] != u';')
                return false;
            at = next == wstring16::npos ? text.size() : next + 1;
        } else {
            const size_t end = text.find(u';', equals + 1);
            value = Trimmed(text.substr(equals + 1, end == wstring16::npos ? wstring16::npos : end - equals - 1));
            at = end == wstring16::npos ? text.size() : end + 1;
        }
        if (key.empty())
            return false;
        parsed->pairs.emplace_back(key, value);
    }
    return true;
}

bool IsYes(const wstring16 &value)
{
    return EqualNoCase(value, u"yes") || EqualNoCase(value, u"true") || EqualNoCase(value, u"sspi");
}

// ---- the objects ----

class Recordset;

class FieldObject final : public AdoObject<ADOField> {
public:
    FieldObject(Recordset *owner, size_t column);
    ~FieldObject() override;

    STDMETHODIMP get_Name(BSTR *pbstr) override;
    STDMETHODIMP get_Type(DataTypeEnum *pDataType) override;
    STDMETHODIMP get_Value(VARIANT *pvar) override;
    STDMETHODIMP get_Properties(ADOProperties **) override { return NotImplemented("Field::get_Properties"); }
    STDMETHODIMP get_ActualSize(ADO_LONGPTR *) override { return NotImplemented("Field::get_ActualSize"); }
    STDMETHODIMP get_Attributes(LONG *) override { return NotImplemented("Field::get_Attributes"); }
    STDMETHODIMP get_DefinedSize(ADO_LONGPTR *) override { return NotImplemented("Field::get_DefinedSize"); }
    STDMETHODIMP put_Value(VARIANT) override { return NotImplemented("Field::put_Value"); }
    STDMETHODIMP get_Precision(BYTE *) override { return NotImplemented("Field::get_Precision"); }
    STDMETHODIMP get_NumericScale(BYTE *) override { return NotImplemented("Field::get_NumericScale"); }
    STDMETHODIMP AppendChunk(VARIANT) override { return NotImplemented("Field::AppendChunk"); }
    STDMETHODIMP GetChunk(LONG, VARIANT *) override { return NotImplemented("Field::GetChunk"); }
    STDMETHODIMP get_OriginalValue(VARIANT *) override { return NotImplemented("Field::get_OriginalValue"); }
    STDMETHODIMP get_UnderlyingValue(VARIANT *) override { return NotImplemented("Field::get_UnderlyingValue"); }
    STDMETHODIMP get_DataFormat(IUnknown **) override { return NotImplemented("Field::get_DataFormat"); }
    STDMETHODIMP putref_DataFormat(IUnknown *) override { return NotImplemented("Field::putref_DataFormat"); }
    STDMETHODIMP put_Precision(BYTE) override { return NotImplemented("Field::put_Precision"); }
    STDMETHODIMP put_NumericScale(BYTE) override { return NotImplemented("Field::put_NumericScale"); }
    STDMETHODIMP put_Type(DataTypeEnum) override { return NotImplemented("Field::put_Type"); }
    STDMETHODIMP put_DefinedSize(ADO_LONGPTR) override { return NotImplemented("Field::put_DefinedSize"); }
    STDMETHODIMP put_Attributes(LONG) override { return NotImplemented("Field::put_Attributes"); }
    STDMETHODIMP get_Status(LONG *) override { return NotImplemented("Field::get_Status"); }

private:
    Recordset *owner_;
    size_t column_;
};

class FieldCollection final : public AdoObject<ADOFields> {
public:
    explicit FieldCollection(Recordset *owner);
    ~FieldCollection() override;

    STDMETHODIMP get_Count(LONG *c) override;
    STDMETHODIMP get_Item(VARIANT Index, ADOField **ppvObject) override;
    STDMETHODIMP _NewEnum(IUnknown **) override { return NotImplemented("Fields::_NewEnum"); }
    STDMETHODIMP Refresh() override { return NotImplemented("Fields::Refresh"); }
    STDMETHODIMP _Append(BSTR, DataTypeEnum, ADO_LONGPTR, FieldAttributeEnum) override
    { return NotImplemented("Fields::_Append"); }
    STDMETHODIMP Delete(VARIANT) override { return NotImplemented("Fields::Delete"); }
    STDMETHODIMP Append(BSTR, DataTypeEnum, ADO_LONGPTR, FieldAttributeEnum, VARIANT) override
    { return NotImplemented("Fields::Append"); }
    STDMETHODIMP Update() override { return NotImplemented("Fields::Update"); }
    STDMETHODIMP Resync(ResyncEnum) override { return NotImplemented("Fields::Resync"); }
    STDMETHODIMP CancelUpdate() override { return NotImplemented("Fields::CancelUpdate"); }

private:
    Recordset *owner_;
};

class Recordset final : public AdoObject<_ADORecordset> {
public:
    Recordset() : AdoObject("Recordset", {0x534, 0x50E, 0x54F, 0x555, 0x556}) {}
    STDMETHODIMP QueryInterface(REFIID riid, void **object) override;
    STDMETHODIMP get_CursorType(CursorTypeEnum *plCursorType) override;
    STDMETHODIMP get_EOF(VARIANT_BOOL *pb) override;
    STDMETHODIMP get_Fields(ADOFields **ppvObject) override;
    STDMETHODIMP get_LockType(LockTypeEnum *plLockType) override;
    STDMETHODIMP get_RecordCount(ADO_LONGPTR *pl) override;
    STDMETHODIMP Close() override;
    STDMETHODIMP Open(VARIANT Source, VARIANT ActiveConnection, CursorTypeEnum CursorType, LockTypeEnum LockType,
                      LONG Options) override;
    STDMETHODIMP get_State(LONG *plObjState) override;
    STDMETHODIMP get_Properties(ADOProperties **) override { return NotImplemented("Recordset::get_Properties"); }
    STDMETHODIMP get_AbsolutePosition(PositionEnum_Param *) override
    { return NotImplemented("Recordset::get_AbsolutePosition"); }
    STDMETHODIMP put_AbsolutePosition(PositionEnum_Param) override
    { return NotImplemented("Recordset::put_AbsolutePosition"); }
    STDMETHODIMP putref_ActiveConnection(IDispatch *) override
    { return NotImplemented("Recordset::putref_ActiveConnection"); }
    STDMETHODIMP put_ActiveConnection(VARIANT) override { return NotImplemented("Recordset::put_ActiveConnection"); }
    STDMETHODIMP get_ActiveConnection(VARIANT *) override { return NotImplemented("Recordset::get_ActiveConnection"); }
    STDMETHODIMP get_BOF(VARIANT_BOOL *) override { return NotImplemented("Recordset::get_BOF"); }
    STDMETHODIMP get_Bookmark(VARIANT *) override { return NotImplemented("Recordset::get_Bookmark"); }
    STDMETHODIMP put_Bookmark(VARIANT) override { return NotImplemented("Recordset::put_Bookmark"); }
    STDMETHODIMP get_CacheSize(LONG *) override { return NotImplemented("Recordset::get_CacheSize"); }
    STDMETHODIMP put_CacheSize(LONG) override { return NotImplemented("Recordset::put_CacheSize"); }
    STDMETHODIMP put_CursorType(CursorTypeEnum) override { return NotImplemented("Recordset::put_CursorType"); }
    STDMETHODIMP put_LockType(LockTypeEnum) override { return NotImplemented("Recordset::put_LockType"); }
    STDMETHODIMP get_MaxRecords(ADO_LONGPTR *) override { return NotImplemented("Recordset::get_MaxRecords"); }
    STDMETHODIMP put_MaxRecords(ADO_LONGPTR) override { return NotImplemented("Recordset::put_MaxRecords"); }
    STDMETHODIMP putref_Source(IDispatch *) override { return NotImplemented("Recordset::putref_Source"); }
    STDMETHODIMP put_Source(BSTR) override { return NotImplemented("Recordset::put_Source"); }
    STDMETHODIMP get_Source(VARIANT *) override { return NotImplemented("Recordset::get_Source"); }
    STDMETHODIMP AddNew(VARIANT, VARIANT) override { return NotImplemented("Recordset::AddNew"); }
    STDMETHODIMP CancelUpdate() override { return NotImplemented("Recordset::CancelUpdate"); }
    STDMETHODIMP Delete(AffectEnum) override { return NotImplemented("Recordset::Delete"); }
    STDMETHODIMP GetRows(LONG, VARIANT, VARIANT, VARIANT *) override { return NotImplemented("Recordset::GetRows"); }
    STDMETHODIMP Move(ADO_LONGPTR, VARIANT) override { return NotImplemented("Recordset::Move"); }
    STDMETHODIMP MoveNext() override { return NotImplemented("Recordset::MoveNext"); }
    STDMETHODIMP MovePrevious() override { return NotImplemented("Recordset::MovePrevious"); }
    STDMETHODIMP MoveFirst() override { return NotImplemented("Recordset::MoveFirst"); }
    STDMETHODIMP MoveLast() override { return NotImplemented("Recordset::MoveLast"); }
    STDMETHODIMP Requery(LONG) override { return NotImplemented("Recordset::Requery"); }
    STDMETHODIMP _xResync(AffectEnum) override { return NotImplemented("Recordset::_xResync"); }
    STDMETHODIMP Update(VARIANT, VARIANT) override { return NotImplemented("Recordset::Update"); }
    STDMETHODIMP get_AbsolutePage(PositionEnum_Param *) override
    { return NotImplemented("Recordset::get_AbsolutePage"); }
    STDMETHODIMP put_AbsolutePage(PositionEnum_Param) override { return NotImplemented("Recordset::put_AbsolutePage"); }
    STDMETHODIMP get_EditMode(EditModeEnum *) override { return NotImplemented("Recordset::get_EditMode"); }
    STDMETHODIMP get_Filter(VARIANT *) override { return NotImplemented("Recordset::get_Filter"); }
    STDMETHODIMP put_Filter(VARIANT) override { return NotImplemented("Recordset::put_Filter"); }
    STDMETHODIMP get_PageCount(ADO_LONGPTR *) override { return NotImplemented("Recordset::get_PageCount"); }
    STDMETHODIMP get_PageSize(LONG *) override { return NotImplemented("Recordset::get_PageSize"); }
    STDMETHODIMP put_PageSize(LONG) override { return NotImplemented("Recordset::put_PageSize"); }
    STDMETHODIMP get_Sort(BSTR *) override { return NotImplemented("Recordset::get_Sort"); }
    STDMETHODIMP put_Sort(BSTR) override { return NotImplemented("Recordset::put_Sort"); }
    STDMETHODIMP get_Status(LONG *) override { return NotImplemented("Recordset::get_Status"); }
    STDMETHODIMP _xClone(_ADORecordset **) override { return NotImplemented("Recordset::_xClone"); }
    STDMETHODIMP UpdateBatch(AffectEnum) override { return NotImplemented("Recordset::UpdateBatch"); }
    STDMETHODIMP CancelBatch(AffectEnum) override { return NotImplemented("Recordset::CancelBatch"); }
    STDMETHODIMP get_CursorLocation(CursorLocationEnum *) override
    { return NotImplemented("Recordset::get_CursorLocation"); }
    STDMETHODIMP put_CursorLocation(CursorLocationEnum) override
    { return NotImplemented("Recordset::put_CursorLocation"); }
    STDMETHODIMP NextRecordset(VARIANT *, _ADORecordset **) override
    { return NotImplemented("Recordset::NextRecordset"); }
    STDMETHODIMP Supports(CursorOptionEnum, VARIANT_BOOL *) override { return NotImplemented("Recordset::Supports"); }
    STDMETHODIMP get_Collect(VARIANT, VARIANT *) override { return NotImplemented("Recordset::get_Collect"); }
    STDMETHODIMP put_Collect(VARIANT, VARIANT) override { return NotImplemented("Recordset::put_Collect"); }
    STDMETHODIMP get_MarshalOptions(MarshalOptionsEnum *) override
    { return NotImplemented("Recordset::get_MarshalOptions"); }
    STDMETHODIMP put_MarshalOptions(MarshalOptionsEnum) override
    { return NotImplemented("Recordset::put_MarshalOptions"); }
    STDMETHODIMP Find(BSTR, ADO_LONGPTR, SearchDirectionEnum, VARIANT) override
    { return NotImplemented("Recordset::Find"); }
    STDMETHODIMP Cancel() override { return NotImplemented("Recordset::Cancel"); }
    STDMETHODIMP get_DataSource(IUnknown **) override { return NotImplemented("Recordset::get_DataSource"); }
    STDMETHODIMP putref_DataSource(IUnknown *) override { return NotImplemented("Recordset::putref_DataSource"); }
    STDMETHODIMP _xSave(BSTR, PersistFormatEnum) override { return NotImplemented("Recordset::_xSave"); }
    STDMETHODIMP get_ActiveCommand(IDispatch **) override { return NotImplemented("Recordset::get_ActiveCommand"); }
    STDMETHODIMP put_StayInSync(VARIANT_BOOL) override { return NotImplemented("Recordset::put_StayInSync"); }
    STDMETHODIMP get_StayInSync(VARIANT_BOOL *) override { return NotImplemented("Recordset::get_StayInSync"); }
    STDMETHODIMP GetString(StringFormatEnum, LONG, BSTR, BSTR, BSTR, BSTR *) override
    { return NotImplemented("Recordset::GetString"); }
    STDMETHODIMP get_DataMember(BSTR *) override { return NotImplemented("Recordset::get_DataMember"); }
    STDMETHODIMP put_DataMember(BSTR) override { return NotImplemented("Recordset::put_DataMember"); }
    STDMETHODIMP CompareBookmarks(VARIANT, VARIANT, CompareEnum *) override
    { return NotImplemented("Recordset::CompareBookmarks"); }
    STDMETHODIMP Clone(LockTypeEnum, _ADORecordset **) override { return NotImplemented("Recordset::Clone"); }
    STDMETHODIMP Resync(AffectEnum, ResyncEnum) override { return NotImplemented("Recordset::Resync"); }
    STDMETHODIMP Seek(VARIANT, SeekEnum) override { return NotImplemented("Recordset::Seek"); }
    STDMETHODIMP put_Index(BSTR) override { return NotImplemented("Recordset::put_Index"); }
    STDMETHODIMP get_Index(BSTR *) override { return NotImplemented("Recordset::get_Index"); }
    STDMETHODIMP Save(VARIANT, PersistFormatEnum) override { return NotImplemented("Recordset::Save"); }

    // The result set: one column, no name, one row per record; the cursor on row `current`.
    bool open = false;
    CursorTypeEnum cursorType = adOpenForwardOnly;
    LockTypeEnum lockType = adLockReadOnly;
    std::vector<wstring16> rows;
    size_t current = 0;

private:
    HRESULT Connect(const wstring16 &connection, const wstring16 &command, std::vector<wstring16> *result);
};

// ---- Recordset ----

HRESULT Recordset::QueryInterface(REFIID riid, void **object)
{
    const HRESULT hr = AdoObject::QueryInterface(riid, object);
    // ADO also answers the 0x15xx IIDs of adoint.h, whose counts are 32-bit: not made here.
    if (hr == E_NOINTERFACE && (SameIid(riid, AdoIid(0x150E)) || SameIid(riid, AdoIid(0x154F)) ||
                                SameIid(riid, AdoIid(0x1555)) || SameIid(riid, AdoIid(0x1556))))
        LogNotImplemented("Recordset::QueryInterface", "the Recordset interfaces with 32-bit counts");
    return hr;
}

HRESULT Recordset::get_CursorType(CursorTypeEnum *plCursorType)
{
    if (plCursorType == NULL)
        return E_POINTER;
    *plCursorType = cursorType;
    return S_OK;
}

HRESULT Recordset::get_LockType(LockTypeEnum *plLockType)
{
    if (plLockType == NULL)
        return E_POINTER;
    *plLockType = lockType;
    return S_OK;
}

HRESULT Recordset::get_State(LONG *plObjState)
{
    if (plObjState == NULL)
        return E_POINTER;
    *plObjState = open ? adStateOpen : adStateClosed;
    return S_OK;
}

HRESULT Recordset::get_EOF(VARIANT_BOOL *pb)
{
    if (pb == NULL)
        return E_POINTER;
    if (!open)
        return kObjectClosed;
    *pb = current >= rows.size() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT Recordset::get_RecordCount(ADO_LONGPTR *pl)
{
    if (pl == NULL)
        return E_POINTER;
    if (!open)
        return kObjectClosed;
    // A forward-only or dynamic cursor does not know its count.
    *pl = (cursorType == adOpenForwardOnly || cursorType == adOpenDynamic) ? -1 : ADO_LONGPTR(rows.size());
    return S_OK;
}

HRESULT Recordset::get_Fields(ADOFields **ppvObject)
{
    if (ppvObject == NULL)
        return E_POINTER;
    *ppvObject = new FieldCollection(this);
    return S_OK;
}

HRESULT Recordset::Close()
{
    if (!open)
        return kObjectClosed;
    open = false;
    rows.clear();
    current = 0;
    return S_OK;
}

HRESULT Recordset::Open(VARIANT Source, VARIANT ActiveConnection, CursorTypeEnum CursorType, LockTypeEnum LockType,
                        LONG Options)
{
    if (open)
        return kObjectOpen;
    if (V_VT(&Source) == VT_DISPATCH || V_VT(&ActiveConnection) == VT_DISPATCH)
        return Unsupported("Recordset::Open", "Command or Connection objects");
    if (V_VT(&ActiveConnection) == VT_EMPTY || V_VT(&ActiveConnection) == VT_ERROR)
        return kInvalidConnection;
    if (V_VT(&Source) != VT_BSTR || V_VT(&ActiveConnection) != VT_BSTR)
        return kInvalidArgument;
    if (Options != adCmdText && Options != adCmdUnspecified && Options != adCmdUnknown)
        return Unsupported("Recordset::Open", "command types other than text");
    std::vector<wstring16> result;
    const auto text = [](BSTR b) { return b == NULL ? wstring16() : wstring16(b, SysStringLen(b)); };
    const HRESULT hr = Connect(text(V_BSTR(&ActiveConnection)), text(V_BSTR(&Source)), &result);
    if (FAILED(hr))
        return hr;
    open = true;
    cursorType = CursorType == adOpenUnspecified ? adOpenForwardOnly : CursorType;
    lockType = LockType == adLockUnspecified ? adLockReadOnly : LockType;
    rows = std::move(result);
    current = 0;
    return S_OK;
}

// What SQLOLEDB does with the connection string, and what the instance answers.
HRESULT Recordset::Connect(const wstring16 &connection, const wstring16 &command, std::vector<wstring16> *result)
{
    ConnectionString parsed;
    if (!ParseConnectionString(connection, &parsed))
        return HRESULT(0x80040E73);  // "Format of the initialization string does not conform to the OLE DB specification."
    wstring16 provider;
    if (!parsed.Find(u"Provider", &provider))
        return Unsupported("Recordset::Open", "connection strings without a Provider (ODBC)");
    if (!EqualNoCase(provider, u"SQLOLEDB") && !EqualNoCase(provider, u"SQLOLEDB.1"))
        return kProviderNotFound;

    // No Data Source, ".", "(local)" or "localhost" name this host.
    wstring16 server;
    parsed.Find(u"Data Source", &server);
    const size_t slash = server.find(u'\\');
    const wstring16 machine = server.substr(0, slash);
    if (machine.empty() || machine == u"." || EqualNoCase(machine, u"(local)") || EqualNoCase(machine, u"localhost"))
        server = CurrentHost().hostName + (slash == wstring16::npos ? wstring16() : server.substr(slash));

    Fault fault;
    if (TakeFault("Recordset::Open", server, &fault))
        return fault.hresult;
    const SqlServerInstance *instance = NULL;
    for (const SqlServerInstance &candidate : CurrentHost().sqlServerInstances) {
        if (EqualNoCase(candidate.name, server))
            instance = &candidate;
    }
    if (instance == NULL)
        return kServerNotFound;
    // The host describes no SQL Server logins: only a Windows-authenticated login can succeed.
    wstring16 trusted;
    const bool windowsLogin = (parsed.Find(u"Trusted_Connection", &trusted) && IsYes(trusted)) ||
                              (parsed.Find(u"Integrated Security", &trusted) && IsYes(trusted));
    if (!windowsLogin || !instance->reachable)
        return kLoginFailed;

    wstring16 statement = Trimmed(command);
    if (!statement.empty() && statement.back() == u';')
        statement = Trimmed(statement.substr(0, statement.size() - 1));
    if (!EqualNoCase(statement, u"SELECT @@VERSION"))
        return Unsupported("Recordset::Open", "commands other than SELECT @@VERSION");
    result->assign(1, instance->version);
    return S_OK;
}

// ---- Fields ----

FieldCollection::FieldCollection(Recordset *owner)
    : AdoObject("Fields", {0x512, 0x506, 0x54D, 0x564}), owner_(owner) { owner_->AddRef(); }

FieldCollection::~FieldCollection() { owner_->Release(); }

HRESULT FieldCollection::get_Count(LONG *c)
{
    if (c == NULL)
        return E_POINTER;
    *c = owner_->open ? 1 : 0;
    return S_OK;
}

// The column by position (any integer VARIANT) or by name.
HRESULT FieldCollection::get_Item(VARIANT Index, ADOField **ppvObject)
{
    if (ppvObject == NULL)
        return E_POINTER;
    *ppvObject = NULL;
    const LONG columns = owner_->open ? 1 : 0;
    LONG column = -1;
    if (V_VT(&Index) == VT_BSTR) {
        // The one column of SELECT @@VERSION has no name.
        column = SysStringLen(V_BSTR(&Index)) == 0 ? 0 : -1;
    } else {
        VARIANT number;
        VariantInit(&number);
        if (V_VT(&Index) == VT_EMPTY || V_VT(&Index) == VT_NULL ||
            FAILED(VariantChangeType(&number, &Index, 0, VT_I4)))
            return kInvalidArgument;
        column = V_I4(&number);
    }
    if (column < 0 || column >= columns)
        return kItemNotFound;
    *ppvObject = new FieldObject(owner_, size_t(column));
    return S_OK;
}

// ---- Field ----

FieldObject::FieldObject(Recordset *owner, size_t column)
    : AdoObject("Field", {0x534, 0x54C, 0x569}), owner_(owner), column_(column) { owner_->AddRef(); }

FieldObject::~FieldObject() { owner_->Release(); }

HRESULT FieldObject::get_Name(BSTR *pbstr)
{
    if (pbstr == NULL)
        return E_POINTER;
    *pbstr = SysAllocString(u"");
    return *pbstr == NULL ? E_OUTOFMEMORY : S_OK;
}

HRESULT FieldObject::get_Type(DataTypeEnum *pDataType)
{
    if (pDataType == NULL)
        return E_POINTER;
    *pDataType = adVarWChar;  // @@VERSION is nvarchar
    return S_OK;
}

HRESULT FieldObject::get_Value(VARIANT *pvar)
{
    if (pvar == NULL)
        return E_POINTER;
    if (!owner_->open)
        return kObjectClosed;
    if (owner_->current >= owner_->rows.size() || column_ != 0)
        return kNoCurrentRecord;
    const wstring16 &value = owner_->rows[owner_->current];
    BSTR copy = SysAllocStringLen(value.data(), UINT(value.size()));
    if (copy == NULL)
        return E_OUTOFMEMORY;
    V_VT(pvar) = VT_BSTR;
    V_BSTR(pvar) = copy;
    return S_OK;
}

struct RecordsetRegistration {
    RecordsetRegistration() { RegisterAdoRecordset(); }
} g_registerRecordset;

} // namespace

size_t LiveAdoObjects() { return g_liveObjects.load(); }

void RegisterAdoRecordset()
{
    RegisterComClass(kClsidRecordset, [](IUnknown *outer, REFIID riid, void **object) -> HRESULT {
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        Recordset *recordset = new Recordset;
        const HRESULT hr = recordset->QueryInterface(riid, object);
        recordset->Release();
        return hr;
    }, CLSCTX_INPROC_SERVER);
}

} // namespace winsim
