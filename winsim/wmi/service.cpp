// winsim WMI: the locator, the services of a namespace, query enumerators, WQL, and the
// test controls of winsim/wmi.h.
#include "wmiinternal.h"

#include "winsim/host.h"
#include "winsim/hostmodel.h"

#include <atomic>
#include <mutex>

// The WMI GUIDs that wbemcli.h declares, defined once.
EXTERN_C const GUID CLSID_WbemLocator = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
EXTERN_C const GUID IID_IWbemClassObject = {0xdc12a681, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
EXTERN_C const GUID IID_IWbemQualifierSet = {0xdc12a680, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
EXTERN_C const GUID IID_IWbemLocator = {0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
EXTERN_C const GUID IID_IWbemObjectSink = {0x7c857801, 0x7381, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
EXTERN_C const GUID IID_IEnumWbemClassObject = {0x027947e1, 0xd731, 0x11ce, {0xa3, 0x57, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}};
EXTERN_C const GUID IID_IWbemContext = {0x44aca674, 0xe8fc, 0x11d0, {0xa0, 0x7c, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20}};
EXTERN_C const GUID IID_IWbemCallResult = {0x44aca675, 0xe8fc, 0x11d0, {0xa0, 0x7c, 0x00, 0xc0, 0x4f, 0xb6, 0x88, 0x20}};
EXTERN_C const GUID IID_IWbemServices = {0x9556dc99, 0x828c, 0x11cf, {0xa3, 0x7e, 0x00, 0xaa, 0x00, 0x32, 0x40, 0xc7}};

namespace winsim {
namespace wmi {

namespace {

// ---- test controls ----

struct PropertyOverride {
    text ns, className, property;
    Value value;
};
struct AddedInstance {
    text ns, className;
    std::vector<std::pair<text, Value>> values;
};
struct ReturnOverride {
    text ns, className, method;
    Value value;
};

struct Controls {
    std::mutex lock;
    std::vector<WmiFault> faults;
    std::vector<PropertyOverride> overrides;
    std::vector<std::pair<text, text>> hidden;
    std::vector<AddedInstance> added;
    std::vector<ReturnOverride> returns;
};

Controls &TheControls()
{
    static Controls *controls = new Controls;
    return *controls;
}

// ---- namespaces ----

// "\\.\Root\CIMV2", "//./root/cimv2", "ROOT\CIMV2" -> ROOT\CIMV2; false for another server.
bool NormalizeNamespace(const text &given, text *ns)
{
    text path = given;
    for (auto &c : path)
        if (c == u'/')
            c = u'\\';
    if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\') {
        const size_t slash = path.find(u'\\', 2);
        const text server = path.substr(2, slash == text::npos ? text::npos : slash - 2);
        if (server != u"." && !SameName(server, u"localhost") && !SameName(server, CurrentHost().hostName))
            return false;
        path = slash == text::npos ? text() : path.substr(slash + 1);
    }
    while (!path.empty() && path.back() == u'\\')
        path.pop_back();
    *ns = Upper(path);
    return true;
}

text Namespaced(const text &given)
{
    text ns;
    return NormalizeNamespace(given, &ns) ? ns : Upper(given);
}

// ---- COM plumbing ----

template <typename Interface>
class ComObject : public Interface {
public:
    ComObject() { CountObject(1); }
    virtual ~ComObject() { CountObject(-1); }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface))) {
            *ppv = static_cast<Interface *>(this);
            this->AddRef();
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

private:
    std::atomic<ULONG> refs_{1};
};

text FromBstr(const BSTR value) { return value ? text(value, SysStringLen(value)) : text(); }

// ---- enumerator ----

class Enumerator : public ComObject<IEnumWbemClassObject> {
public:
    Enumerator(text className, std::vector<ObjectData> objects)
        : className_(std::move(className)), objects_(std::move(objects))
    {
    }

    STDMETHODIMP Reset() override
    {
        next_ = 0;
        return WBEM_S_NO_ERROR;
    }

    STDMETHODIMP Next(LONG timeout, ULONG count, IWbemClassObject **objects, ULONG *returned) override
    {
        (void)timeout;
        if (objects == nullptr || returned == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *returned = 0;
        if (count == 0)
            return WBEM_S_FALSE;
        const HRESULT fault = CheckFault(WmiFaultPoint::Next, {className_});
        if (fault != S_OK)
            return fault;
        while (*returned < count && next_ < objects_.size()) {
            NewClassObject(objects_[next_++], &objects[*returned]);
            ++*returned;
        }
        return *returned == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

    STDMETHODIMP NextAsync(ULONG, IWbemObjectSink *) override { return WBEM_E_NOT_SUPPORTED; }

    STDMETHODIMP Clone(IEnumWbemClassObject **copy) override
    {
        if (copy == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *copy = nullptr;
        return WBEM_E_INVALID_OPERATION;  // forward-only enumerators cannot be cloned
    }

    STDMETHODIMP Skip(LONG, ULONG count) override
    {
        const size_t left = objects_.size() - next_;
        next_ += count < left ? count : left;
        return count <= left ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

private:
    text className_;
    std::vector<ObjectData> objects_;
    size_t next_ = 0;
};

// ---- WQL ----

class Tokens {
public:
    explicit Tokens(const text &source) : s_(source) {}

    void SkipSpace()
    {
        while (pos_ < s_.size() && (s_[pos_] == u' ' || s_[pos_] == u'\t' || s_[pos_] == u'\r' || s_[pos_] == u'\n'))
            ++pos_;
    }
    bool AtEnd()
    {
        SkipSpace();
        return pos_ >= s_.size();
    }
    // A name: letters, digits, underscore.
    bool Word(text *word)
    {
        SkipSpace();
        const size_t start = pos_;
        while (pos_ < s_.size() && (IsNameChar(s_[pos_])))
            ++pos_;
        *word = s_.substr(start, pos_ - start);
        return !word->empty();
    }
    bool Keyword(const char16_t *keyword)
    {
        const size_t saved = pos_;
        text word;
        if (Word(&word) && SameName(word, keyword))
            return true;
        pos_ = saved;
        return false;
    }
    bool Symbol(char16_t c)
    {
        SkipSpace();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    // 'text', "text", a number or TRUE/FALSE, as the text a comparison sees.
    bool Literal(text *value)
    {
        SkipSpace();
        if (pos_ < s_.size() && (s_[pos_] == u'\'' || s_[pos_] == u'"')) {
            const char16_t quote = s_[pos_++];
            value->clear();
            while (pos_ < s_.size() && s_[pos_] != quote) {
                if (s_[pos_] == u'\\' && pos_ + 1 < s_.size())
                    ++pos_;
                *value += s_[pos_++];
            }
            if (pos_ >= s_.size())
                return false;
            ++pos_;
            return true;
        }
        const size_t start = pos_;
        if (pos_ < s_.size() && s_[pos_] == u'-')
            ++pos_;
        while (pos_ < s_.size() && IsNameChar(s_[pos_]))
            ++pos_;
        *value = s_.substr(start, pos_ - start);
        return !value->empty();
    }
    // Everything up to the closing brace of an ASSOCIATORS OF source.
    bool Braced(text *inside)
    {
        if (!Symbol(u'{'))
            return false;
        const size_t close = s_.find(u'}', pos_);
        if (close == text::npos)
            return false;
        *inside = s_.substr(pos_, close - pos_);
        pos_ = close + 1;
        return true;
    }

private:
    static bool IsNameChar(char16_t c)
    {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
    }
    const text &s_;
    size_t pos_ = 0;
};

struct Condition {
    text property;
    text value;
    bool notEqual = false;
};

bool Satisfies(const ObjectData &object, const std::vector<Condition> &conditions)
{
    for (const auto &condition : conditions) {
        const Property *p = object.Find(condition.property);
        text value;
        const bool known = p != nullptr && p->value.AsText(&value);
        if (!known)
            return false;  // NULL compares with nothing
        if (SameName(value, condition.value) == condition.notEqual)
            return false;
    }
    return true;
}

// The objects ASSOCIATORS OF {source} WHERE ResultClass = resultClass yields.
HRESULT Associators(const text &ns, const text &sourcePath, const text &resultClass, std::vector<ObjectData> *out)
{
    ObjectPath source;
    if (!ParseObjectPath(sourcePath, &source))
        return WBEM_E_INVALID_OBJECT_PATH;
    const ClassDef *sourceClass = FindClass(ns, source.className);
    if (sourceClass == nullptr)
        return WBEM_E_INVALID_CLASS;
    if (!resultClass.empty() && FindClass(ns, resultClass) == nullptr)
        return WBEM_E_INVALID_CLASS;
    bool sourceFound = false;
    for (const auto &candidate : InstancesOf(*sourceClass))
        if (PathMatches(candidate, source))
            sourceFound = true;
    if (!sourceFound)
        return WBEM_E_NOT_FOUND;
    for (const auto &def : Classes()) {
        if (!def.association || !SameName(def.ns, ns))
            continue;
        for (const auto &link : InstancesOf(def)) {
            // An association links its reference properties; the ones that are not the
            // source are its associators.
            bool linked = false;
            std::vector<ObjectPath> others;
            for (const auto &p : link.properties) {
                if (p.type != CIM_REFERENCE)
                    continue;
                text refText;
                ObjectPath ref;
                if (!p.value.AsText(&refText) || !ParseObjectPath(refText, &ref))
                    continue;
                ObjectPath plain = source;
                if (SameName(ref.className, source.className) && ref.keys.size() == source.keys.size()) {
                    bool same = true;
                    for (size_t i = 0; i < ref.keys.size(); ++i)
                        same = same && SameName(ref.keys[i].first, plain.keys[i].first) &&
                               SameName(ref.keys[i].second, plain.keys[i].second);
                    if (same) {
                        linked = true;
                        continue;
                    }
                }
                others.push_back(ref);
            }
            if (!linked)
                continue;
            for (const auto &other : others) {
                if (!resultClass.empty() && !SameName(other.className, resultClass))
                    continue;
                const ClassDef *otherClass = FindClass(ns, other.className);
                if (otherClass == nullptr)
                    continue;
                for (const auto &candidate : InstancesOf(*otherClass))
                    if (PathMatches(candidate, other))
                        out->push_back(candidate);
            }
        }
    }
    return WBEM_S_NO_ERROR;
}

HRESULT RunQuery(const text &ns, const text &query, text *className, std::vector<ObjectData> *out)
{
    Tokens tokens(query);
    if (tokens.Keyword(u"ASSOCIATORS")) {
        text source, keyword, resultClass;
        if (!tokens.Keyword(u"OF") || !tokens.Braced(&source))
            return WBEM_E_INVALID_QUERY;
        if (tokens.Keyword(u"WHERE")) {
            if (!tokens.Keyword(u"ResultClass") || !tokens.Symbol(u'=') || !tokens.Word(&resultClass))
                return WBEM_E_INVALID_QUERY;
        }
        if (!tokens.AtEnd())
            return WBEM_E_INVALID_QUERY;
        ObjectPath parsed;
        *className = ParseObjectPath(source, &parsed) ? parsed.className : text();
        const HRESULT fault = CheckFault(WmiFaultPoint::Query, {*className, resultClass});
        if (fault != S_OK)
            return fault;
        if (!resultClass.empty())
            *className = resultClass;
        return Associators(ns, source, resultClass, out);
    }
    if (!tokens.Keyword(u"SELECT"))
        return WBEM_E_INVALID_QUERY;
    std::vector<text> selected;
    if (!tokens.Symbol(u'*')) {
        do {
            text name;
            if (!tokens.Word(&name))
                return WBEM_E_INVALID_QUERY;
            selected.push_back(name);
        } while (tokens.Symbol(u','));
    }
    if (!tokens.Keyword(u"FROM") || !tokens.Word(className))
        return WBEM_E_INVALID_QUERY;
    std::vector<Condition> conditions;
    if (tokens.Keyword(u"WHERE")) {
        do {
            Condition condition;
            if (!tokens.Word(&condition.property))
                return WBEM_E_INVALID_QUERY;
            if (tokens.Symbol(u'<')) {
                if (!tokens.Symbol(u'>'))
                    return WBEM_E_INVALID_QUERY;
                condition.notEqual = true;
            } else if (tokens.Symbol(u'!')) {
                if (!tokens.Symbol(u'='))
                    return WBEM_E_INVALID_QUERY;
                condition.notEqual = true;
            } else if (!tokens.Symbol(u'=')) {
                return WBEM_E_INVALID_QUERY;
            }
            if (!tokens.Literal(&condition.value))
                return WBEM_E_INVALID_QUERY;
            conditions.push_back(condition);
        } while (tokens.Keyword(u"AND"));
    }
    if (!tokens.AtEnd())
        return WBEM_E_INVALID_QUERY;
    const ClassDef *def = FindClass(ns, *className);
    if (def == nullptr || def->hidden)
        return WBEM_E_INVALID_CLASS;
    for (const auto &name : selected)
        if (def->FindProperty(name) == nullptr)
            return WBEM_E_INVALID_QUERY;
    for (const auto &condition : conditions)
        if (def->FindProperty(condition.property) == nullptr)
            return WBEM_E_INVALID_QUERY;
    const HRESULT fault = CheckFault(WmiFaultPoint::Query, {def->name});
    if (fault != S_OK)
        return fault;
    for (auto &object : InstancesOf(*def)) {
        if (!Satisfies(object, conditions))
            continue;
        if (!selected.empty()) {
            // A projection keeps the selected properties and the keys (so that __PATH stays).
            object.selected = selected;
            for (const auto &key : def->keys)
                object.selected.push_back(key);
        }
        out->push_back(std::move(object));
    }
    return WBEM_S_NO_ERROR;
}

// ---- services ----

class Services : public ComObject<IWbemServices> {
public:
    explicit Services(text ns) : ns_(std::move(ns)) {}

    STDMETHODIMP OpenNamespace(const BSTR name, LONG, IWbemContext *, IWbemServices **working,
                               IWbemCallResult **result) override
    {
        if (result != nullptr)
            *result = nullptr;
        if (name == nullptr || working == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *working = nullptr;
        const text child = ns_ + u"\\" + Upper(FromBstr(name));
        if (!NamespaceExists(child))
            return WBEM_E_INVALID_NAMESPACE;
        return NewServices(child, working);
    }
    STDMETHODIMP CancelAsyncCall(IWbemObjectSink *) override { return WBEM_E_NOT_SUPPORTED; }
    STDMETHODIMP QueryObjectSink(LONG, IWbemObjectSink **sink) override
    {
        if (sink != nullptr)
            *sink = nullptr;
        return WBEM_E_NOT_SUPPORTED;
    }

    STDMETHODIMP GetObject(const BSTR path, LONG flags, IWbemContext *, IWbemClassObject **object,
                           IWbemCallResult **result) override
    {
        (void)flags;
        if (result != nullptr)
            *result = nullptr;
        if (object == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *object = nullptr;
        const text given = FromBstr(path);
        ObjectPath parsed;
        if (given.empty() || !ParseObjectPath(given, &parsed))
            return WBEM_E_INVALID_OBJECT_PATH;
        const HRESULT fault = CheckFault(WmiFaultPoint::GetObject, {parsed.className});
        if (fault != S_OK)
            return fault;
        const text ns = parsed.ns.empty() ? ns_ : parsed.ns;
        const ClassDef *def = FindClass(ns, parsed.className);
        if (def == nullptr)
            return WBEM_E_INVALID_CLASS;
        if (parsed.keys.empty() && !parsed.singleton)
            return NewClassObject(MakeClassObject(*def), object);
        for (auto &candidate : InstancesOf(*def))
            if (PathMatches(candidate, parsed))
                return NewClassObject(std::move(candidate), object);
        return WBEM_E_NOT_FOUND;
    }
    STDMETHODIMP GetObjectAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutClass(IWbemClassObject *, LONG, IWbemContext *, IWbemCallResult **) override
    {
        return WBEM_E_ACCESS_DENIED;
    }
    STDMETHODIMP PutClassAsync(IWbemClassObject *, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteClass(const BSTR, LONG, IWbemContext *, IWbemCallResult **) override
    {
        return WBEM_E_ACCESS_DENIED;
    }
    STDMETHODIMP DeleteClassAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateClassEnum(const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **e) override
    {
        if (e != nullptr)
            *e = nullptr;
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateClassEnumAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP PutInstance(IWbemClassObject *, LONG, IWbemContext *, IWbemCallResult **) override
    {
        return WBEM_E_PROVIDER_NOT_CAPABLE;
    }
    STDMETHODIMP PutInstanceAsync(IWbemClassObject *, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP DeleteInstance(const BSTR, LONG, IWbemContext *, IWbemCallResult **) override
    {
        return WBEM_E_PROVIDER_NOT_CAPABLE;
    }
    STDMETHODIMP DeleteInstanceAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP CreateInstanceEnum(const BSTR filter, LONG flags, IWbemContext *context,
                                    IEnumWbemClassObject **e) override
    {
        if (e == nullptr || filter == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        const text query = u"SELECT * FROM " + FromBstr(filter);
        BSTR language = SysAllocString(u"WQL");
        BSTR queryText = SysAllocString(query.c_str());
        const HRESULT hr = ExecQuery(language, queryText, flags, context, e);
        SysFreeString(language);
        SysFreeString(queryText);
        return hr;
    }
    STDMETHODIMP CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }

    STDMETHODIMP ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext *,
                           IEnumWbemClassObject **e) override
    {
        (void)flags;
        if (e == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *e = nullptr;
        if (language == nullptr || query == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        if (!SameName(FromBstr(language), u"WQL"))
            return WBEM_E_INVALID_QUERY_TYPE;
        text className;
        std::vector<ObjectData> objects;
        const HRESULT hr = RunQuery(ns_, FromBstr(query), &className, &objects);
        if (FAILED(hr))
            return hr;
        *e = new Enumerator(className, std::move(objects));
        return WBEM_S_NO_ERROR;
    }
    STDMETHODIMP ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext *, IEnumWbemClassObject **e) override
    {
        if (e != nullptr)
            *e = nullptr;
        return WBEM_E_NOT_SUPPORTED;
    }
    STDMETHODIMP ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }

    STDMETHODIMP ExecMethod(const BSTR path, const BSTR methodName, LONG flags, IWbemContext *,
                            IWbemClassObject *inParams, IWbemClassObject **outParams,
                            IWbemCallResult **result) override
    {
        (void)flags;
        if (result != nullptr)
            *result = nullptr;
        if (outParams != nullptr)
            *outParams = nullptr;
        const text given = FromBstr(path);
        const text name = FromBstr(methodName);
        ObjectPath parsed;
        if (given.empty() || !ParseObjectPath(given, &parsed))
            return WBEM_E_INVALID_OBJECT_PATH;
        if (name.empty())
            return WBEM_E_INVALID_PARAMETER;
        const HRESULT fault = CheckFault(WmiFaultPoint::ExecMethod, {parsed.className + u"." + name, name});
        if (fault != S_OK)
            return fault;
        const text ns = parsed.ns.empty() ? ns_ : parsed.ns;
        const ClassDef *def = FindClass(ns, parsed.className);
        if (def == nullptr)
            return WBEM_E_INVALID_CLASS;
        const MethodDef *method = def->FindMethod(name);
        if (method == nullptr)
            return WBEM_E_INVALID_METHOD;
        std::vector<ObjectData> instances;
        const ObjectData *instance = nullptr;
        if (!parsed.keys.empty() || parsed.singleton) {
            instances = InstancesOf(*def);
            for (const auto &candidate : instances)
                if (PathMatches(candidate, parsed))
                    instance = &candidate;
            if (instance == nullptr)
                return WBEM_E_NOT_FOUND;
        }
        const ObjectData *in = inParams ? DataOf(inParams) : nullptr;
        if (inParams != nullptr && in == nullptr)
            return WBEM_E_INVALID_METHOD_PARAMETERS;
        LONG returnValue = 0;
        const HRESULT hr = method->body ? method->body(instance, in, &returnValue) : WBEM_E_METHOD_NOT_IMPLEMENTED;
        if (FAILED(hr))
            return hr;
        if (outParams != nullptr) {
            ObjectData out;
            out.className = u"__PARAMETERS";
            for (const auto &p : method->out)
                out.properties.push_back(Property{p.name, p.type, Value::Null()});
            Value value = Value::Int32(returnValue);
            MethodReturnOverride(*def, name, &value);
            out.properties.push_back(Property{u"ReturnValue", CIM_UINT32, value});
            NewClassObject(std::move(out), outParams);
        }
        return hr;
    }
    STDMETHODIMP ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext *, IWbemClassObject *,
                                 IWbemObjectSink *) override
    {
        return WBEM_E_NOT_SUPPORTED;
    }

private:
    text ns_;
};

// ---- locator ----

class Locator : public ComObject<IWbemLocator> {
public:
    STDMETHODIMP ConnectServer(const BSTR resource, const BSTR user, const BSTR password, const BSTR locale,
                               LONG securityFlags, const BSTR authority, IWbemContext *context,
                               IWbemServices **services) override
    {
        (void)user;
        (void)password;
        (void)locale;
        (void)authority;
        (void)context;
        if (services == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *services = nullptr;
        if (resource == nullptr || (securityFlags & ~LONG(WBEM_FLAG_CONNECT_USE_MAX_WAIT)) != 0)
            return WBEM_E_INVALID_PARAMETER;
        text ns;
        if (!NormalizeNamespace(FromBstr(resource), &ns))
            return HRESULT_FROM_WIN32(1722);  // RPC_S_SERVER_UNAVAILABLE: remote hosts are not simulated
        const HRESULT fault = CheckFault(WmiFaultPoint::Connect, {ns});
        if (fault != S_OK)
            return fault;
        if (!NamespaceExists(ns))
            return WBEM_E_INVALID_NAMESPACE;
        return NewServices(ns, services);
    }
};

struct LocatorRegistration {
    LocatorRegistration() { RegisterWmiLocator(); }
} g_registerLocator;

} // namespace

HRESULT NewServices(const text &ns, IWbemServices **services)
{
    *services = new Services(ns);
    return WBEM_S_NO_ERROR;
}

HRESULT CheckFault(WmiFaultPoint point, const std::vector<text> &subjects)
{
    static const char *const kCallNames[] = {
        "IWbemLocator::ConnectServer",    "IWbemServices::ExecQuery",   "IEnumWbemClassObject::Next",
        "IWbemClassObject::Get",          "IWbemClassObject::Put",      "IWbemServices::GetObject",
        "IWbemClassObject::GetMethod",    "IWbemClassObject::SpawnInstance", "IWbemServices::ExecMethod",
    };
    Fault swept;
    if (TakeFault(kCallNames[int(point)], subjects.empty() ? text() : subjects.front(), &swept))
        return swept.hresult;
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    for (auto &fault : controls.faults) {
        if (fault.point != point || fault.times == 0)
            continue;
        bool matches = fault.match.empty();
        const text wanted = point == WmiFaultPoint::Connect ? Namespaced(fault.match) : fault.match;
        for (const auto &subject : subjects)
            matches = matches || SameName(subject, wanted);
        if (!matches)
            continue;
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        if (fault.times > 0)
            --fault.times;
        return fault.result;
    }
    return S_OK;
}

void ApplyOverrides(const ClassDef &def, std::vector<ObjectData> &instances)
{
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    for (const auto &hidden : controls.hidden)
        if (SameName(hidden.first, def.ns) && SameName(hidden.second, def.name))
            instances.clear();
    for (const auto &added : controls.added)
        if (SameName(added.ns, def.ns) && SameName(added.className, def.name))
            instances.push_back(MakeInstance(def, added.values));
    for (const auto &o : controls.overrides) {
        if (!SameName(o.ns, def.ns) || !SameName(o.className, def.name))
            continue;
        for (auto &instance : instances)
            instance.Set(o.property, o.value);
    }
}

bool MethodReturnOverride(const ClassDef &def, const text &method, Value *value)
{
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    for (const auto &r : controls.returns)
        if (SameName(r.ns, def.ns) && SameName(r.className, def.name) && SameName(r.method, method)) {
            *value = r.value;
            return true;
        }
    return false;
}

} // namespace wmi

using namespace wmi;

void InjectWmiFault(const WmiFault &fault)
{
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    controls.faults.push_back(fault);
}

void OverrideWmiProperty(const std::u16string &wmiNamespace, const std::u16string &className,
                         const std::u16string &property, const VARIANT &value)
{
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    controls.overrides.push_back(PropertyOverride{Namespaced(wmiNamespace), className, property, Value(value)});
}

void HideWmiInstances(const std::u16string &wmiNamespace, const std::u16string &className)
{
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    controls.hidden.emplace_back(Namespaced(wmiNamespace), className);
}

void AddWmiInstance(const std::u16string &wmiNamespace, const std::u16string &className,
                    const std::vector<std::pair<std::u16string, VARIANT>> &properties)
{
    AddedInstance added{Namespaced(wmiNamespace), className, {}};
    for (const auto &p : properties)
        added.values.emplace_back(p.first, Value(p.second));
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    controls.added.push_back(std::move(added));
}

void SetWmiMethodReturnValue(const std::u16string &wmiNamespace, const std::u16string &className,
                             const std::u16string &method, const VARIANT &value)
{
    Controls &controls = TheControls();
    std::lock_guard<std::mutex> guard(controls.lock);
    controls.returns.push_back(ReturnOverride{Namespaced(wmiNamespace), className, method, Value(value)});
}

void ResetWmi()
{
    {
        Controls &controls = TheControls();
        std::lock_guard<std::mutex> guard(controls.lock);
        controls.faults.clear();
        controls.overrides.clear();
        controls.hidden.clear();
        controls.added.clear();
        controls.returns.clear();
    }
    ReloadCluster();
}

void RegisterWmiLocator()
{
    RegisterComClass(CLSID_WbemLocator, [](IUnknown *outer, REFIID riid, void **object) -> HRESULT {
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        Locator *locator = new Locator;
        const HRESULT hr = locator->QueryInterface(riid, object);
        locator->Release();
        return hr;
    }, CLSCTX_INPROC_SERVER);
}

} // namespace winsim
