// winsim WMI: property values, object data and paths, and IWbemClassObject.
#include "wmiinternal.h"

#include "winsim/hostmodel.h"

#include <atomic>
#include <cstdio>

namespace winsim {
namespace wmi {

namespace {
std::atomic<long> g_liveObjects{0};

char16_t FoldChar(char16_t c)
{
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return char16_t(c - 32);
    return c;
}
} // namespace

void CountObject(int delta) { g_liveObjects += delta; }

bool SameName(const text &a, const text &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i]))
            return false;
    return true;
}

text Upper(const text &value)
{
    text out = value;
    for (auto &c : out)
        c = FoldChar(c);
    return out;
}

std::string Narrow(const text &value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        unsigned long c = value[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < value.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (value[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

text Widen(const std::string &value)
{
    text out;
    for (size_t i = 0; i < value.size();) {
        const unsigned char b = (unsigned char)value[i];
        unsigned long c = b;
        int extra = 0;
        if (b >= 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else if (b >= 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if (b >= 0xC0) {
            c = b & 0x1F;
            extra = 1;
        }
        ++i;
        for (int k = 0; k < extra && i < value.size(); ++k, ++i)
            c = (c << 6) | ((unsigned char)value[i] & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
    }
    return out;
}

// ---- Value ----

Value::Value(const VARIANT &raw)
{
    VariantInit(&v_);
    VariantCopy(&v_, const_cast<VARIANT *>(&raw));
}

Value::Value(const Value &other) : Value(other.v_) {}

Value &Value::operator=(const Value &other)
{
    if (this != &other) {
        VariantClear(&v_);
        VariantCopy(&v_, const_cast<VARIANT *>(&other.v_));
    }
    return *this;
}

Value Value::Null()
{
    Value v;
    v.v_.vt = VT_NULL;
    return v;
}

Value Value::String(const text &s)
{
    Value v;
    v.v_.vt = VT_BSTR;
    V_BSTR(&v.v_) = SysAllocStringLen(s.data(), UINT(s.size()));
    return v;
}

Value Value::UInt64(unsigned long long n)
{
    char digits[32];
    snprintf(digits, sizeof digits, "%llu", n);
    return String(Widen(digits));
}

Value Value::Int32(LONG n)
{
    Value v;
    v.v_.vt = VT_I4;
    V_I4(&v.v_) = n;
    return v;
}

Value Value::Int16(SHORT n)
{
    Value v;
    v.v_.vt = VT_I2;
    V_I2(&v.v_) = n;
    return v;
}

Value Value::Byte(BYTE n)
{
    Value v;
    v.v_.vt = VT_UI1;
    V_UI1(&v.v_) = n;
    return v;
}

Value Value::Bool(bool b)
{
    Value v;
    v.v_.vt = VT_BOOL;
    V_BOOL(&v.v_) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Value Value::Strings(const std::vector<text> &items)
{
    Value v;
    SAFEARRAY *array = SafeArrayCreateVector(VT_BSTR, 0, ULONG(items.size()));
    for (LONG i = 0; i < LONG(items.size()); ++i) {
        BSTR item = SysAllocStringLen(items[i].data(), UINT(items[i].size()));
        SafeArrayPutElement(array, &i, item);  // copies the string
        SysFreeString(item);
    }
    v.v_.vt = VT_ARRAY | VT_BSTR;
    V_ARRAY(&v.v_) = array;
    return v;
}

bool Value::AsText(text *out) const
{
    char digits[32];
    switch (v_.vt) {
    case VT_BSTR:
        *out = V_BSTR(&v_) ? text(V_BSTR(&v_), SysStringLen(V_BSTR(&v_))) : text();
        return true;
    case VT_BOOL:
        *out = V_BOOL(&v_) ? u"TRUE" : u"FALSE";
        return true;
    case VT_I4:
        snprintf(digits, sizeof digits, "%d", int(V_I4(&v_)));
        break;
    case VT_I2:
        snprintf(digits, sizeof digits, "%d", int(V_I2(&v_)));
        break;
    case VT_UI1:
        snprintf(digits, sizeof digits, "%u", unsigned(V_UI1(&v_)));
        break;
    default:
        return false;
    }
    *out = Widen(digits);
    return true;
}

// ---- class definitions and object data ----

const PropertyDef *ClassDef::FindProperty(const text &wanted) const
{
    for (const auto &p : properties)
        if (SameName(p.name, wanted))
            return &p;
    return nullptr;
}

const MethodDef *ClassDef::FindMethod(const text &wanted) const
{
    for (const auto &m : methods)
        if (SameName(m.name, wanted))
            return &m;
    return nullptr;
}

Property *ObjectData::Find(const text &wanted)
{
    for (auto &p : properties)
        if (SameName(p.name, wanted))
            return &p;
    return nullptr;
}

const Property *ObjectData::Find(const text &wanted) const
{
    return const_cast<ObjectData *>(this)->Find(wanted);
}

void ObjectData::Set(const text &name, const Value &value)
{
    if (Property *p = Find(name))
        p->value = value;
    else
        properties.push_back(Property{name, CIM_STRING, value});
}

text EscapeKey(const text &value)
{
    text out;
    for (char16_t c : value) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    return out;
}

text ObjectData::RelPath() const
{
    if (isClass || def == nullptr)
        return className;
    if (def->keys.empty())
        return className + u"=@";
    text path = className + u".";
    bool first = true;
    for (const auto &key : def->keys) {
        const Property *p = Find(key);
        text value;
        if (p == nullptr || !p->value.AsText(&value))
            return text();  // an instance without its key has no path
        if (!first)
            path += u",";
        first = false;
        if (p->value.raw().vt == VT_BSTR)
            path += key + u"=\"" + EscapeKey(value) + u"\"";
        else
            path += key + u"=" + value;
    }
    return path;
}

text ObjectData::Path() const
{
    const text rel = RelPath();
    if (rel.empty())
        return rel;
    return u"\\\\" + CurrentHost().hostName + u"\\" + ns + u":" + rel;
}

ObjectData MakeInstance(const ClassDef &def, const std::vector<std::pair<text, Value>> &values)
{
    ObjectData data;
    data.ns = def.ns;
    data.className = def.name;
    data.def = &def;
    for (const auto &p : def.properties)
        data.properties.push_back(Property{p.name, p.type, Value::Null()});
    for (const auto &v : values)
        data.Set(v.first, v.second);
    return data;
}

ObjectData MakeClassObject(const ClassDef &def)
{
    ObjectData data = MakeInstance(def, {});
    data.isClass = true;
    return data;
}

// ---- object paths ----

bool ParseObjectPath(const text &path, ObjectPath *parsed)
{
    ObjectPath result;
    text rest = path;
    // The namespace ends at the first colon before any quoted key value ("C:\\..." is not one).
    const size_t colon = rest.find(u':');
    if (colon != text::npos && colon < rest.find_first_of(u"\"'")) {
        text ns = rest.substr(0, colon);
        if (ns.size() > 2 && ns[0] == u'\\' && ns[1] == u'\\') {
            const size_t slash = ns.find(u'\\', 2);
            if (slash == text::npos)
                return false;
            ns = ns.substr(slash + 1);
        }
        result.ns = Upper(ns);
        rest = rest.substr(colon + 1);
    }
    size_t i = 0;
    while (i < rest.size() && rest[i] != u'.' && rest[i] != u'=')
        ++i;
    result.className = rest.substr(0, i);
    if (result.className.empty())
        return false;
    if (i == rest.size()) {
        *parsed = result;
        return true;
    }
    if (rest.compare(i, text::npos, u"=@") == 0) {
        result.singleton = true;
        *parsed = result;
        return true;
    }
    if (rest[i] != u'.')
        return false;
    ++i;
    while (i < rest.size()) {
        const size_t eq = rest.find(u'=', i);
        if (eq == text::npos)
            return false;
        text name = rest.substr(i, eq - i);
        i = eq + 1;
        text value;
        if (i < rest.size() && (rest[i] == u'"' || rest[i] == u'\'')) {
            const char16_t quote = rest[i++];
            bool closed = false;
            while (i < rest.size()) {
                char16_t c = rest[i++];
                if (c == u'\\' && quote == u'"' && i < rest.size()) {
                    value += rest[i++];
                } else if (c == quote) {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed)
                return false;
        } else {
            while (i < rest.size() && rest[i] != u',')
                value += rest[i++];
        }
        if (name.empty())
            return false;
        result.keys.emplace_back(name, value);
        if (i < rest.size()) {
            if (rest[i] != u',')
                return false;
            ++i;
        }
    }
    *parsed = result;
    return true;
}

bool PathMatches(const ObjectData &object, const ObjectPath &path)
{
    if (!SameName(object.className, path.className))
        return false;
    if (path.singleton)
        return true;
    if (path.keys.empty())
        return false;
    for (const auto &key : path.keys) {
        const Property *p = object.Find(key.first);
        text value;
        if (p == nullptr || !p->value.AsText(&value) || !SameName(value, key.second))
            return false;
    }
    return true;
}

// ---- IWbemClassObject ----

namespace {

class ClassObject : public IWbemClassObject {
public:
    explicit ClassObject(ObjectData data) : data_(std::move(data)) { CountObject(1); }
    virtual ~ClassObject() { CountObject(-1); }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemClassObject)) {
            *ppv = static_cast<IWbemClassObject *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    STDMETHODIMP GetQualifierSet(IWbemQualifierSet **q) override { return NotSupported(q); }

    STDMETHODIMP Get(LPCWSTR name, LONG flags, VARIANT *value, CIMTYPE *type, LONG *flavor) override
    {
        if (name == nullptr || flags != 0)
            return WBEM_E_INVALID_PARAMETER;
        const text wanted(name);
        const HRESULT fault = CheckFault(WmiFaultPoint::Get, {data_.className + u"." + wanted, wanted});
        if (fault != S_OK)
            return fault;
        Value found;
        CIMTYPE cim = CIM_STRING;
        LONG origin = WBEM_FLAVOR_ORIGIN_SYSTEM;
        if (!SystemProperty(wanted, &found, &cim)) {
            const Property *p = data_.Find(wanted);
            if (p == nullptr || !IsSelected(wanted))
                return WBEM_E_NOT_FOUND;
            found = p->value;
            cim = p->type;
            origin = WBEM_FLAVOR_ORIGIN_LOCAL;
        }
        if (value != nullptr) {
            VariantInit(value);
            VariantCopy(value, found.get());
        }
        if (type != nullptr)
            *type = cim;
        if (flavor != nullptr)
            *flavor = origin;
        return WBEM_S_NO_ERROR;
    }

    STDMETHODIMP Put(LPCWSTR name, LONG flags, VARIANT *value, CIMTYPE type) override
    {
        if (name == nullptr || flags != 0 || name[0] == u'_')
            return WBEM_E_INVALID_PARAMETER;
        const text wanted(name);
        const HRESULT fault = CheckFault(WmiFaultPoint::Put, {data_.className + u"." + wanted, wanted});
        if (fault != S_OK)
            return fault;
        Property *p = data_.Find(wanted);
        if (p == nullptr) {
            // Instances and signatures take only the properties of their class.
            if (!data_.isClass)
                return WBEM_E_NOT_FOUND;
            data_.properties.push_back(Property{wanted, type ? type : CIM_STRING, Value::Null()});
            p = &data_.properties.back();
        }
        if (value == nullptr)
            p->value = Value::Null();
        else
            p->value = Value(*value);
        return WBEM_S_NO_ERROR;
    }

    STDMETHODIMP Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }

    STDMETHODIMP GetNames(LPCWSTR qualifier, LONG flags, VARIANT *qualifierValue, SAFEARRAY **names) override
    {
        (void)flags;
        if (qualifier != nullptr || qualifierValue != nullptr || names == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        std::vector<text> list;
        for (const auto &p : data_.properties)
            if (IsSelected(p.name))
                list.push_back(p.name);
        Value array = Value::Strings(list);
        *names = nullptr;
        return SafeArrayCopy(V_ARRAY(array.get()), names);
    }

    STDMETHODIMP BeginEnumeration(LONG) override
    {
        cursor_ = 0;
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP Next(LONG, BSTR *name, VARIANT *value, CIMTYPE *type, LONG *flavor) override
    {
        while (cursor_ < data_.properties.size() && !IsSelected(data_.properties[cursor_].name))
            ++cursor_;
        if (cursor_ >= data_.properties.size())
            return WBEM_S_NO_MORE_DATA;
        const Property &p = data_.properties[cursor_++];
        if (name != nullptr)
            *name = SysAllocStringLen(p.name.data(), UINT(p.name.size()));
        if (value != nullptr) {
            VariantInit(value);
            VariantCopy(value, const_cast<VARIANT *>(&p.value.raw()));
        }
        if (type != nullptr)
            *type = p.type;
        if (flavor != nullptr)
            *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP EndEnumeration() override { return WBEM_S_NO_ERROR; }
    STDMETHODIMP GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet **q) override { return NotSupported(q); }

    STDMETHODIMP Clone(IWbemClassObject **copy) override
    {
        if (copy == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        return NewClassObject(data_, copy);
    }

    STDMETHODIMP GetObjectText(LONG, BSTR *out) override
    {
        if (out == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        text result = (data_.isClass ? u"class " : u"instance of ") + data_.className + u"\n{\n";
        for (const auto &p : data_.properties) {
            text value;
            if (IsSelected(p.name) && p.value.AsText(&value))
                result += u"\t" + p.name + u" = \"" + value + u"\";\n";
        }
        result += u"};\n";
        *out = SysAllocStringLen(result.data(), UINT(result.size()));
        return WBEM_S_NO_ERROR;
    }

    STDMETHODIMP SpawnDerivedClass(LONG, IWbemClassObject **c) override { return NotSupported(c); }

    STDMETHODIMP SpawnInstance(LONG flags, IWbemClassObject **instance) override
    {
        if (instance == nullptr || flags != 0)
            return WBEM_E_INVALID_PARAMETER;
        const HRESULT fault = CheckFault(WmiFaultPoint::SpawnInstance, {data_.className});
        if (fault != S_OK)
            return fault;
        if (!data_.isClass)
            return WBEM_E_INCOMPLETE_CLASS;
        ObjectData spawned = data_;
        spawned.isClass = false;
        for (auto &p : spawned.properties)
            p.value = Value::Null();
        return NewClassObject(std::move(spawned), instance);
    }

    STDMETHODIMP CompareTo(LONG, IWbemClassObject *other) override
    {
        return other == this ? WBEM_S_SAME : WBEM_S_DIFFERENT;
    }
    STDMETHODIMP GetPropertyOrigin(LPCWSTR name, BSTR *className) override
    {
        if (name == nullptr || className == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        if (data_.Find(name) == nullptr)
            return WBEM_E_NOT_FOUND;
        *className = SysAllocStringLen(data_.className.data(), UINT(data_.className.size()));
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP InheritsFrom(LPCWSTR) override { return WBEM_S_FALSE; }

    STDMETHODIMP GetMethod(LPCWSTR name, LONG flags, IWbemClassObject **in, IWbemClassObject **out) override
    {
        if (name == nullptr || flags != 0)
            return WBEM_E_INVALID_PARAMETER;
        if (in != nullptr)
            *in = nullptr;
        if (out != nullptr)
            *out = nullptr;
        const text wanted(name);
        const HRESULT fault = CheckFault(WmiFaultPoint::GetMethod, {data_.className + u"." + wanted, wanted});
        if (fault != S_OK)
            return fault;
        // Methods belong to class definitions; instances answer as WMI does for them.
        const MethodDef *method = data_.def ? data_.def->FindMethod(wanted) : nullptr;
        if (!data_.isClass || method == nullptr)
            return WBEM_E_NOT_FOUND;
        if (in != nullptr && method->hasInput) {
            ObjectData signature = Signature(u"__PARAMETERS", method->in);
            HRESULT hr = NewClassObject(std::move(signature), in);
            if (FAILED(hr))
                return hr;
        }
        if (out != nullptr) {
            std::vector<PropertyDef> outs = method->out;
            outs.push_back(PropertyDef{u"ReturnValue", CIM_UINT32});
            HRESULT hr = NewClassObject(Signature(u"__PARAMETERS", outs), out);
            if (FAILED(hr)) {
                if (in != nullptr && *in != nullptr) {
                    (*in)->Release();
                    *in = nullptr;
                }
                return hr;
            }
        }
        return WBEM_S_NO_ERROR;
    }

    STDMETHODIMP PutMethod(LPCWSTR, LONG, IWbemClassObject *, IWbemClassObject *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP NextMethod(LONG, BSTR *, IWbemClassObject **, IWbemClassObject **) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet **q) override { return NotSupported(q); }
    STDMETHODIMP GetMethodOrigin(LPCWSTR, BSTR *) override { return WBEM_E_NOT_SUPPORTED; }

    const ObjectData &data() const { return data_; }

private:
    template <typename T>
    static HRESULT NotSupported(T **out)
    {
        if (out != nullptr)
            *out = nullptr;
        return WBEM_E_NOT_SUPPORTED;
    }

    static ObjectData Signature(const text &name, const std::vector<PropertyDef> &params)
    {
        ObjectData signature;
        signature.className = name;
        signature.isClass = true;  // a signature spawns the instance the caller fills
        for (const auto &p : params)
            signature.properties.push_back(Property{p.name, p.type, Value::Null()});
        return signature;
    }

    bool IsSelected(const text &name) const
    {
        if (data_.selected.empty())
            return true;
        for (const auto &s : data_.selected)
            if (SameName(s, name))
                return true;
        return false;
    }

    bool SystemProperty(const text &name, Value *value, CIMTYPE *type) const
    {
        if (name.size() < 2 || name[0] != u'_' || name[1] != u'_')
            return false;
        *type = CIM_STRING;
        const text upper = Upper(name);
        auto stringOrNull = [](const text &s) { return s.empty() ? Value::Null() : Value::String(s); };
        if (upper == u"__CLASS")
            *value = Value::String(data_.className);
        else if (upper == u"__PATH")
            *value = data_.def ? stringOrNull(data_.Path()) : Value::Null();
        else if (upper == u"__RELPATH")
            *value = data_.def ? stringOrNull(data_.RelPath()) : Value::Null();
        else if (upper == u"__NAMESPACE")
            *value = stringOrNull(data_.ns);
        else if (upper == u"__SERVER")
            *value = data_.def ? Value::String(CurrentHost().hostName) : Value::Null();
        else if (upper == u"__GENUS") {
            *value = Value::Int32(data_.isClass ? WBEM_GENUS_CLASS : WBEM_GENUS_INSTANCE);
            *type = CIM_SINT32;
        } else
            return false;
        return true;
    }

    std::atomic<ULONG> refs_{1};
    ObjectData data_;
    size_t cursor_ = 0;
};

} // namespace

HRESULT NewClassObject(ObjectData data, IWbemClassObject **object)
{
    *object = new ClassObject(std::move(data));
    return WBEM_S_NO_ERROR;
}

const ObjectData *DataOf(IWbemClassObject *object)
{
    ClassObject *ours = dynamic_cast<ClassObject *>(object);
    return ours ? &ours->data() : nullptr;
}

} // namespace wmi

size_t LiveWmiObjects() { return size_t(wmi::g_liveObjects.load()); }

} // namespace winsim
