// describe-host --redact: what names the customer's machine and network is replaced, in the
// captured document, by placeholders that tell nothing of it, and what the library's answers
// depend on is kept.
//
// Each value gets its placeholder in the order it first appears in the document (HOST01,
// NODE01, 10.0.0.1, ...), and the same value (names without regard to case) always the same
// one, wherever it stands: a CSV's owner still names a node of the cluster, the host's name in
// a writer's logical path or in a path is the host's placeholder, an adapter's addresses stay
// with its configuration. A placeholder that already stands in the document is passed over,
// so that two names never become one.
#include "describe.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace winclass {

namespace {

using Document = nlohmann::ordered_json;

enum class Kind { Host, DnsDomain, Domain, Cluster, Node, User, Instance, Adapter, Address, SqlServer };

// Where the names stand, by their place in the document ('*': any array index).
struct Rule {
    const char *path;
    Kind kind;
};
const Rule kRules[] = {
    {"/hostName", Kind::Host},
    {"/domain", Kind::DnsDomain},
    {"/environment/COMPUTERNAME", Kind::Host},
    {"/environment/LOGONSERVER", Kind::Host},
    {"/environment/USERDOMAIN", Kind::Domain},
    {"/environment/USERDNSDOMAIN", Kind::DnsDomain},
    {"/environment/USERNAME", Kind::User},
    {"/network/adapters/*/macAddress", Kind::Address},
    {"/network/adapters/*/ipAddress/*", Kind::Address},
    {"/network/adapters/*/defaultIPGateway/*", Kind::Address},
    {"/network/adapters/*/dhcpServer", Kind::Address},
    {"/cluster/name", Kind::Cluster},
    {"/cluster/nodes/*", Kind::Node},
    {"/cluster/nodes/*/name", Kind::Node},
    {"/cluster/sharedVolumes/*/owner", Kind::Node},
    {"/writers/*/components/*/logicalPath", Kind::SqlServer},  // the database writer's only
    {"/sqlServer/instances/*/name", Kind::SqlServer},
};

// An adapter's product name, replaced where it stands as the adapter's name only: it is
// made of common words (Ethernet, Adapter) that other texts use.
const char kAdapterName[] = "/network/adapters/*/productName";

// What the library's answers depend on by name: never changed.
const char *const kKeptPaths[] = {"/writers/*/name", "/writers/*/components/*/name"};

// Names and addresses that come with Windows or SQL Server and tell nothing of the customer.
const char *const kWellKnown[] = {
    // accounts and profile folders
    "system", "administrator", "guest", "public", "default", "default user", "all users", "local service",
    "network service", "localservice", "networkservice", "nt authority",
    // domains and computers
    "workgroup", "localhost", ".", "(local)",
    // SQL Server instances
    "mssqlserver", "sqlexpress", "microsoft##wid", "microsoft##ssee",
    // addresses
    "0.0.0.0", "127.0.0.1", "::", "::1",
};

// The database writer, whose logical paths name its instances (HOST or HOST\INSTANCE).
const char kDatabaseWriterId[] = "a65faa63-5ea8-4ebc-9dbd-a0c4db26912a";

// The registry value that names writers, which keep their names.
const char kDisabledWriters[] = "DisabledWriters";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), Lower);
    return text;
}

// A character that continues a name: a name stands in a text only between two others.
bool NameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           (unsigned char)c >= 0x80;
}

// Six bytes in hex, as WMI writes a MAC address (00:15:5D:0A:0B:0C), or with hyphens.
bool IsMac(const std::string &text)
{
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (i % 3 == 2 ? text[i] != ':' && text[i] != '-' : !std::isxdigit((unsigned char)text[i]))
            return false;
    return true;
}

// Whether a name stands in a text (both in lower case) as a whole name.
bool StandsIn(const std::string &text, const std::string &name)
{
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || !NameCharacter(text[at - 1])) && (end == text.size() || !NameCharacter(text[end])))
            return true;
    }
    return false;
}

bool WellKnown(const std::string &name)
{
    const std::string lowered = Lowered(name);
    return std::find(std::begin(kWellKnown), std::end(kWellKnown), lowered) != std::end(kWellKnown);
}

// A place in the document against a rule's path; keys without regard to case, as Windows
// names environment variables.
bool Matches(const std::vector<std::string> &place, const char *pattern)
{
    std::vector<std::string> parts;
    for (const char *p = pattern; *p == '/';) {
        const char *end = std::strchr(p + 1, '/');
        parts.emplace_back(p + 1, end ? end : p + std::strlen(p));
        p = end ? end : p + std::strlen(p);
    }
    if (parts.size() != place.size())
        return false;
    for (size_t i = 0; i < parts.size(); ++i)
        if (parts[i] != "*" ? Lowered(parts[i]) != Lowered(place[i])
                            : place[i].empty() || place[i].find_first_not_of("0123456789") != std::string::npos)
            return false;
    return true;
}

class Redactor {
public:
    explicit Redactor(const Document &doc)
        : original_(Lowered(doc.dump(-1, ' ', false, Document::error_handler_t::replace)))
    {
    }

    void Collect(const Document &doc, const Document &node, std::vector<std::string> &place);
    void Replace(const Document &doc, Document &node, std::vector<std::string> &place) const;
    void RenumberSerials(Document &doc);

private:
    void Add(Kind kind, const std::string &value);
    void AddUsersInPath(const std::string &text);
    std::string Placeholder(Kind kind, const std::string &value);
    std::string Substituted(const std::string &text) const;

    std::string original_;  // the whole document in lower case
    std::vector<std::pair<std::string, std::string>> names_;  // original (lower case), placeholder
    std::vector<std::pair<std::string, std::string>> adapters_;  // product name (as written), placeholder
    unsigned counters_[int(Kind::SqlServer) + 1] = {};
    unsigned ipv4_ = 0, ipv6_ = 0, mac_ = 0;
};

std::string Redactor::Placeholder(Kind kind, const std::string &value)
{
    static const char *const kFormats[] = {"HOST%02u", "domain%02u.example", "DOMAIN%02u", "CLUSTER%02u", "NODE%02u",
                                           "user%02u", "INSTANCE%02u",       "adapter%02u"};
    char text[64];
    for (;;) {
        if (kind != Kind::Address) {
            std::snprintf(text, sizeof text, kFormats[int(kind)], ++counters_[int(kind)]);
        } else if (value.find(':') == std::string::npos) {
            const unsigned n = ipv4_++;  // 10.0.0.1 to 10.0.0.254, then 10.0.1.1...
            std::snprintf(text, sizeof text, "10.%u.%u.%u", (n / 254 / 256) % 256, (n / 254) % 256, n % 254 + 1);
        } else if (IsMac(value)) {
            const unsigned n = ++mac_;
            std::snprintf(text, sizeof text, "02:00:00:%02X:%02X:%02X", (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
        } else {
            // A link-local address stays link-local; any other becomes one of the documentation prefix.
            std::snprintf(text, sizeof text, Lowered(value).rfind("fe80:", 0) == 0 ? "fe80::%x" : "2001:db8::%x",
                          ++ipv6_);
        }
        if (!StandsIn(original_, Lowered(text)))
            return text;
    }
}

void Redactor::Add(Kind kind, const std::string &value)
{
    if (kind == Kind::SqlServer) {
        // HOST or HOST\INSTANCE, as a client names the server.
        const size_t slash = value.find('\\');
        Add(Kind::Host, value.substr(0, slash));
        if (slash != std::string::npos)
            Add(Kind::Instance, value.substr(slash + 1));
        return;
    }
    std::string name = value;
    if (kind == Kind::Host)
        name.erase(0, name.find_first_not_of('\\'));  // LOGONSERVER: \\NAME
    if (kind == Kind::User && !name.empty() && name.back() == '$') {
        // A machine account: the host's name.
        name.pop_back();
        kind = Kind::Host;
    }
    if (name.empty() || WellKnown(name))
        return;
    const std::string lowered = Lowered(name);
    for (const auto &known : names_)
        if (known.first == lowered)
            return;
    names_.emplace_back(lowered, Placeholder(kind, name));
}

// A profile folder names its user: ...\Users\NAME\... (and the older Documents and Settings).
void Redactor::AddUsersInPath(const std::string &text)
{
    const std::string lowered = Lowered(text);
    for (const char *parent : {"\\users\\", "\\documents and settings\\"}) {
        for (size_t at = lowered.find(parent); at != std::string::npos; at = lowered.find(parent, at + 1)) {
            const size_t start = at + std::strlen(parent), end = text.find('\\', start);
            Add(Kind::User, text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        }
    }
}

void Redactor::Collect(const Document &doc, const Document &node, std::vector<std::string> &place)
{
    if (node.is_object() || node.is_array()) {
        size_t index = 0;
        for (auto item = node.begin(); item != node.end(); ++item, ++index) {
            place.push_back(node.is_object() ? item.key() : std::to_string(index));
            Collect(doc, *item, place);
            place.pop_back();
        }
        return;
    }
    if (!node.is_string())
        return;
    const std::string text = node.get<std::string>();
    if (Matches(place, kAdapterName) &&
        std::none_of(adapters_.begin(), adapters_.end(), [&](const auto &a) { return a.first == text; }))
        adapters_.emplace_back(text, Placeholder(Kind::Adapter, text));
    for (const Rule &rule : kRules) {
        if (!Matches(place, rule.path))
            continue;
        if (rule.kind == Kind::SqlServer && place[0] == "writers" &&
            doc["writers"][std::stoul(place[1])].value("id", std::string()) != kDatabaseWriterId)
            continue;
        Add(rule.kind, text);
    }
    AddUsersInPath(text);
}

// The text with every name replaced where it stands as a whole name, the longest first. A
// one-letter name before a colon is a drive letter, and stays.
std::string Redactor::Substituted(const std::string &text) const
{
    std::string result;
    const std::string lowered = Lowered(text);
    for (size_t at = 0; at < text.size();) {
        const std::pair<std::string, std::string> *found = nullptr;
        if (at == 0 || !NameCharacter(text[at - 1])) {
            for (const auto &name : names_) {
                const size_t end = at + name.first.size();
                if (lowered.compare(at, name.first.size(), name.first) != 0 ||
                    (end < text.size() && NameCharacter(text[end])) ||
                    (name.first.size() == 1 && end < text.size() && text[end] == ':'))
                    continue;
                if (found == nullptr || name.first.size() > found->first.size())
                    found = &name;
            }
        }
        if (found != nullptr) {
            result += found->second;
            at += found->first.size();
        } else {
            result += text[at++];
        }
    }
    return result;
}

void Redactor::Replace(const Document &doc, Document &node, std::vector<std::string> &place) const
{
    if (node.is_object() || node.is_array()) {
        size_t index = 0;
        for (auto item = node.begin(); item != node.end(); ++item, ++index) {
            place.push_back(node.is_object() ? item.key() : std::to_string(index));
            Replace(doc, *item, place);
            place.pop_back();
        }
        return;
    }
    if (!node.is_string())
        return;
    for (const char *kept : kKeptPaths)
        if (Matches(place, kept))
            return;
    if (place.size() >= 3 && place[0] == "registry" && place[2] == "value" &&
        doc["registry"][std::stoul(place[1])].value("name", std::string()) == kDisabledWriters)
        return;
    if (Matches(place, kAdapterName)) {
        for (const auto &adapter : adapters_)
            if (adapter.first == node.get<std::string>())
                node = adapter.second;
        return;
    }
    node = Substituted(node.get<std::string>());
}

// A volume's serial number becomes 1, 2, ... in the volumes' order; two volumes that had
// the same one still share it.
void Redactor::RenumberSerials(Document &doc)
{
    if (!doc.contains("volumes") || !doc["volumes"].is_array())
        return;
    std::set<unsigned long long> originals;
    for (const Document &volume : doc["volumes"])
        if (volume.contains("serialNumber") && volume["serialNumber"].is_number_unsigned())
            originals.insert(volume["serialNumber"].get<unsigned long long>());
    std::vector<std::pair<unsigned long long, unsigned long long>> serials;
    unsigned long long next = 0;
    for (Document &volume : doc["volumes"]) {
        if (!volume.contains("serialNumber") || !volume["serialNumber"].is_number_unsigned())
            continue;
        const unsigned long long serial = volume["serialNumber"].get<unsigned long long>();
        auto found = std::find_if(serials.begin(), serials.end(), [&](const auto &s) { return s.first == serial; });
        if (found == serials.end()) {
            do
                ++next;
            while (originals.count(next) != 0);
            serials.emplace_back(serial, next);
            found = serials.end() - 1;
        }
        volume["serialNumber"] = found->second;
    }
}

} // namespace

void RedactHostDescription(nlohmann::ordered_json &doc)
{
    Redactor redactor(doc);
    std::vector<std::string> place;
    redactor.Collect(doc, doc, place);
    const Document original = doc;
    redactor.Replace(original, doc, place);
    redactor.RenumberSerials(doc);
}

} // namespace winclass
