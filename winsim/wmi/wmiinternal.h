// winsim WMI internals: class definitions, object data, the provider of instances.
#pragma once

#include <wbemidl.h>

#include "winsim/wmi.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winsim {
namespace wmi {

using text = std::u16string;

bool SameName(const text &a, const text &b);  // case-insensitive (ASCII and Latin letters)
text Upper(const text &value);
std::string Narrow(const text &value);
text Widen(const std::string &value);

// A VARIANT that owns what it holds.
class Value {
public:
    Value() { VariantInit(&v_); }
    Value(const VARIANT &raw);
    Value(const Value &other);
    Value &operator=(const Value &other);
    ~Value() { VariantClear(&v_); }

    static Value Null();
    static Value String(const text &s);
    static Value UInt64(unsigned long long n);  // WMI hands 64-bit integers over as strings
    static Value Int32(LONG n);                 // sint32, uint32 and uint16 come as VT_I4
    static Value Int16(SHORT n);                // sint16 and char16 as VT_I2
    static Value Byte(BYTE n);
    static Value Bool(bool b);
    static Value Strings(const std::vector<text> &items);

    const VARIANT &raw() const { return v_; }
    VARIANT *get() { return &v_; }
    bool IsNull() const { return v_.vt == VT_NULL || v_.vt == VT_EMPTY; }
    // The text a WQL comparison or an object path sees ("TRUE", "42", the string).
    bool AsText(text *out) const;

private:
    VARIANT v_;
};

struct PropertyDef {
    text name;
    CIMTYPE type;
};

struct ObjectData;
// A method's work on the instance (NULL for a static call on the class); fills the
// output properties besides ReturnValue and returns ExecMethod's HRESULT.
using MethodBody = std::function<HRESULT(const ObjectData *instance, const ObjectData *in, LONG *returnValue)>;

struct MethodDef {
    text name;
    bool hasInput = false;
    std::vector<PropertyDef> in;
    std::vector<PropertyDef> out;  // ReturnValue is added
    MethodBody body;
};

struct ClassDef;
using InstanceSource = std::function<std::vector<ObjectData>(const ClassDef &)>;

struct ClassDef {
    text ns;  // upper case, e.g. ROOT\CIMV2
    text name;
    std::vector<text> keys;
    std::vector<PropertyDef> properties;
    std::vector<MethodDef> methods;
    InstanceSource instances;
    bool association = false;  // its reference properties link two objects
    bool hidden = false;       // only reachable through ASSOCIATORS OF

    const PropertyDef *FindProperty(const text &name) const;
    const MethodDef *FindMethod(const text &name) const;
};

struct Property {
    text name;
    CIMTYPE type;
    Value value;
};

// The data of one class object, instance or method signature.
struct ObjectData {
    text ns;
    text className;
    bool isClass = false;
    const ClassDef *def = nullptr;  // NULL for method signatures
    std::vector<Property> properties;
    std::vector<text> selected;     // a projection of SELECT (empty: all)

    Property *Find(const text &name);
    const Property *Find(const text &name) const;
    void Set(const text &name, const Value &value);
    text RelPath() const;  // Class.Key="value",... ; the class name for a class
    text Path() const;     // \\HOST\NAMESPACE:relpath
};

// The instance with the given property values (others VT_NULL).
ObjectData MakeInstance(const ClassDef &def, const std::vector<std::pair<text, Value>> &values);
ObjectData MakeClassObject(const ClassDef &def);

// The classes of every namespace, built once.
const std::vector<ClassDef> &Classes();
const ClassDef *FindClass(const text &ns, const text &name);
// Namespaces that exist on the current host, upper case, without server part.
bool NamespaceExists(const text &ns);

// The instances of a class with the test's overrides applied.
std::vector<ObjectData> InstancesOf(const ClassDef &def);

// An object path split in its parts; keys keep their unescaped values.
struct ObjectPath {
    text ns;  // empty when the path has none
    text className;
    std::vector<std::pair<text, text>> keys;
    bool singleton = false;
};
bool ParseObjectPath(const text &path, ObjectPath *parsed);
// A key value as it stands between double quotes in an object path.
text EscapeKey(const text &value);
bool PathMatches(const ObjectData &object, const ObjectPath &path);

// Fault injection: the HRESULT to answer, or S_OK to go on.
HRESULT CheckFault(WmiFaultPoint point, const std::vector<text> &subjects);

// Test overrides (service.cpp).
void ApplyOverrides(const ClassDef &def, std::vector<ObjectData> &instances);
bool MethodReturnOverride(const ClassDef &def, const text &method, Value *value);

// The simulated cluster (classes.cpp).
struct ClusterVolumeState {
    text name;
    text volumeGuid;
    text owner;
    DWORD faultState = 0;
};
// A node's State as MSCluster_Node gives it (CLUSTER_NODE_STATE): -1 unknown, 0 up,
// 1 down, 2 paused, 3 joining.
struct ClusterNodeState {
    text name;
    LONG state = 0;
};
struct ClusterState {
    bool present = false;
    text name;
    std::vector<ClusterNodeState> nodes;
    std::vector<ClusterVolumeState> volumes;
};
// Locked access to the cluster state, reloaded when the host's cluster section changes.
void WithCluster(const std::function<void(ClusterState &)> &work);
void ReloadCluster();

// COM objects.
HRESULT NewClassObject(ObjectData data, IWbemClassObject **object);
// The data behind a class object of this service (NULL for a foreign object).
const ObjectData *DataOf(IWbemClassObject *object);
HRESULT NewServices(const text &ns, IWbemServices **services);
void CountObject(int delta);

} // namespace wmi
} // namespace winsim
