// OSSR_Sysinfo.xml: the values it derives from WMI's answers (volume GUIDs, capacity texts,
// string arrays).
#include "sysinfo_internal.h"

#include <liblocal/local.h>

#include <comdef.h>

#include <vector>

void sysinfo_guid_key(tv_str &text)
{
    const WCHAR *units = text;
    if (units == NULL)
        return;
    int open = -1;
    int close = -1;
    int length = 0;
    for (; units[length] != 0; ++length) {
        if (units[length] == WCHAR('{'))
            open = length;
        else if (units[length] == WCHAR('}'))
            close = length;
    }
    // A braced GUID has 36 characters between its braces.
    if (open < 0 || close < 0 || close - open - 1 < 36)
        return;
    std::vector<WCHAR> key(units + open, units + close + 1);
    key.push_back(0);
    text = key.data();
}

tv_str sysinfo_format_capacity(__int64 size)
{
    static const char *const kUnits[] = {"Bytes", "KBytes", "MBytes", "GBytes", "TBytes", "PBytes", "EBytes"};
    const int kLastUnit = int(sizeof kUnits / sizeof kUnits[0]) - 1;
    double value = double(static_cast<unsigned long long>(size));
    int unit = 0;
    while (value > 1024.0 && unit < kLastUnit) {
        value *= 0.0009765625;
        ++unit;
    }
    char text[32];
    vo_sprintf(text, "%.2f %s", value, kUnits[unit]);
    tv_str capacity;
    capacity.set_utf8(text);
    return capacity;
}

namespace {

// A SAFEARRAY copy destroyed when it goes.
class ArrayCopy {
public:
    explicit ArrayCopy(SAFEARRAY *source)
    {
        const HRESULT hr = SafeArrayCopy(source, &array_);
        if (FAILED(hr))
            _com_issue_error(hr == E_OUTOFMEMORY ? E_OUTOFMEMORY : E_INVALIDARG);
    }
    ~ArrayCopy()
    {
        if (locked_)
            SafeArrayUnlock(array_);
        SafeArrayDestroy(array_);
    }
    ArrayCopy(const ArrayCopy &) = delete;
    ArrayCopy &operator=(const ArrayCopy &) = delete;
    SAFEARRAY *get() const { return array_; }
    void lock()
    {
        if (FAILED(SafeArrayLock(array_)))
            _com_issue_error(E_INVALIDARG);
        locked_ = true;
    }

private:
    SAFEARRAY *array_ = NULL;
    bool locked_ = false;
};

} // namespace

std::vector<tv_str> sysinfo_string_array(const VARIANT &value)
{
    if ((value.vt & VT_ARRAY) == 0 || value.parray == NULL)
        _com_issue_error(E_INVALIDARG);
    ArrayCopy copy(value.parray);
    VARTYPE type = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(copy.get(), &type)) || type != VT_BSTR || SafeArrayGetDim(copy.get()) != 1)
        _com_issue_error(E_INVALIDARG);
    copy.lock();
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(copy.get(), 1, &lower);
    SafeArrayGetUBound(copy.get(), 1, &upper);
    std::vector<tv_str> strings;
    for (LONG index = lower; index <= upper; ++index) {
        void *element = NULL;
        if (FAILED(SafeArrayPtrOfIndex(copy.get(), &index, &element)))
            _com_issue_error(E_INVALIDARG);
        strings.push_back(tv_str(*static_cast<BSTR *>(element)));
    }
    return strings;
}
