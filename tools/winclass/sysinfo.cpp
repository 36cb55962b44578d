// winclass sysinfo: the inventory a bare-metal recovery rebuilds the machine from, written
// by the library into its scratch folder, and with --to moved into a folder of the user's.
// The document is read back to count (and with --json print) what it holds.
#include "commands.h"
#include "paths.h"

#include <libwinclass/hostinfo.h>
#include <liblocal/output.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace winclass {

namespace {

const char kDocumentName[] = "OSSR_Sysinfo.xml";

// The messages the library prints while it writes (they reach standard error on their
// own), kept for the JSON document.
class MessageRecorder {
public:
    MessageRecorder() { vo_set_output_hook(&MessageRecorder::Receive, this); }
    ~MessageRecorder() { vo_set_output_hook(nullptr, nullptr); }
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;
    const std::vector<std::string> &Texts() const { return texts_; }

private:
    static void Receive(void *context, int kind, int, int, int, const char *text)
    {
        if (kind != VO_OUTPUT_MESSAGE || text == nullptr)
            return;
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        static_cast<MessageRecorder *>(context)->texts_.push_back(line);
    }
    std::vector<std::string> texts_;
};

// Makes folder and the parents it lacks; false with the Win32 error of the one that could
// not be made.
bool MakeFolders(const wstr &folder, DWORD *error)
{
    if (CreateDirectoryW(folder.c_str(), NULL))
        return true;
    *error = GetLastError();
    if (*error == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    const size_t cut = folder.find_last_of(W("\\/"));
    if (*error != ERROR_PATH_NOT_FOUND || cut == wstr::npos || cut == 0)
        return false;
    if (!MakeFolders(folder.substr(0, cut), error))
        return false;
    if (CreateDirectoryW(folder.c_str(), NULL))
        return true;
    *error = GetLastError();
    return false;
}

bool ReadWhole(const wstr &path, std::string *bytes, DWORD *error)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, NULL));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        *error = GetLastError();
        return false;
    }
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, NULL)) {
        if (got == 0)
            return true;
        bytes->append(buffer, got);
    }
    *error = GetLastError();
    return false;
}

bool WriteWhole(const wstr &path, const std::string &bytes, DWORD *error)
{
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        *error = GetLastError();
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, NULL) || written != bytes.size()) {
        *error = GetLastError();
        return false;
    }
    return true;
}

// The elements of the document, where each one sits and its attributes in the order the
// library writes them. An element with a list is an item appended to list of the nearest
// item above it; one with a key stores its attributes there (its one value when it has
// one), or, having none, makes there the empty list its children go into.
struct Shape {
    const char *name, *parent;
    std::vector<const char *> attributes;
    const char *list, *key;
};

const Shape kShapes[] = {
    {"OSSR_SYSINFO", "", {"Version"}, nullptr, "version"},
    {"Host", "OSSR_SYSINFO", {"Model", "Manufacturer", "FirmwareType", "HostName", "SystemDrive", "SystemRoot"},
     nullptr, "host"},
    {"NetWork", "OSSR_SYSINFO", {}, nullptr, "adapters"},
    {"Adapter", "NetWork", {"Type", "ProductType"}, "adapters", nullptr},
    {"IPv4", "Adapter", {"Address", "Subnet", "Gateway", "DHCPEnabled", "DHCPServer", "MACAddress"}, "IPv4", nullptr},
    {"IPv6", "Adapter", {"Address", "Subnet", "Gateway", "DHCPEnabled", "DHCPServer"}, "IPv6", nullptr},
    {"Storage", "OSSR_SYSINFO", {}, nullptr, nullptr},
    {"Disks", "Storage", {}, nullptr, "disks"},
    {"Disk", "Disks", {"BusType", "Capacity", "Index"}, "disks", nullptr},
    {"Partitions", "Disk", {"Type"}, nullptr, "partitionStyle"},
    {"Partition", "Partitions", {"Number", "Capacity"}, "partitions", nullptr},
    {"Volumes", "Storage", {}, nullptr, "volumes"},
    {"Volume", "Volumes", {"Label", "DriveLetter", "Guid", "Capacity"}, "volumes", nullptr},
    {"DiskLayout", "Volume", {}, nullptr, "layout"},
    {"Disk", "DiskLayout", {"Index", "Partition"}, "layout", nullptr},
    {"Mountpoints", "Volume", {}, nullptr, "mountPoints"},
    {"Mountpoint", "Mountpoints", {"Path"}, "mountPoints", nullptr},
    {"StorageSpaces", "Storage", {}, nullptr, "pools"},
    {"StoragePool", "StorageSpaces", {"Capacity", "Name"}, "pools", nullptr},
    {"PhysicalDisks", "StoragePool", {}, nullptr, "physicalDisks"},
    {"PhysicalDisk", "PhysicalDisks", {"Index"}, "physicalDisks", nullptr},
    {"VirtualDisk", "StoragePool", {"Capacity", "Provisioning", "Layout", "Name"}, "virtualDisks", nullptr},
    {"VirtualVolume", "VirtualDisk", {"GUID"}, "volumes", nullptr},
};

// The attributes of one tag, body being the text between the element name and the closing
// ">" or "/>". Values are written unescaped and may hold quotes, '<' or '>', so the text
// is split on the known ` Name="` separators, searched in the written order; attributes
// the library leaves out (an address's subnet, say) are simply not found.
bool ReadAttributes(const std::string &body, const Shape &shape, nlohmann::json *object)
{
    struct Found {
        size_t at, valueAt;
        const char *name;
    };
    std::vector<Found> found;
    size_t from = 0;
    for (const char *name : shape.attributes) {
        const std::string separator = std::string(" ") + name + "=\"";
        const size_t at = body.find(separator, from);
        if (at == std::string::npos)
            continue;
        found.push_back({at, at + separator.size(), name});
        from = at + separator.size();
    }
    if (found.empty())
        return body.empty();
    if (found[0].at != 0)
        return false;
    for (size_t i = 0; i < found.size(); ++i) {
        const size_t end = (i + 1 < found.size() ? found[i + 1].at : body.size()) - 1;  // the closing quote
        if (end < found[i].valueAt || body[end] != '"')
            return false;
        (*object)[found[i].name] = body.substr(found[i].valueAt, end - found[i].valueAt);
    }
    return true;
}

// Reads the document back into the inventory, line by line; false with where and why on
// the first line it cannot place. A line that does not end a tag goes on into the next
// (a value holding a line break).
bool ReadInventory(const std::string &text, nlohmann::json *inventory, std::string *error)
{
    struct Open {
        const char *name;
        nlohmann::json *holder;  // the item the children's lists and keys go into
    };
    *inventory = nlohmann::json::object();
    std::vector<Open> open{{"", inventory}};
    std::string record;
    size_t lineNumber = 0, recordLine = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        ++lineNumber;
        if (record.empty())
            recordLine = lineNumber;
        record += (record.empty() ? "" : "\n") + text.substr(at, end - at);
        at = end + 1;
        if (!record.empty() && record.back() == '\r')
            record.pop_back();
        if (record.empty() || (record.back() != '>' && at < text.size()))
            continue;
        std::string tag = record.substr(std::min(record.find_first_not_of(' '), record.size()));
        record.clear();
        auto fail = [&](const std::string &why) {
            *error = "line " + std::to_string(recordLine) + ": " + why;
            return false;
        };
        if (tag.compare(0, 2, "<?") == 0)
            continue;
        if (tag.compare(0, 2, "</") == 0) {
            if (tag != "</" + std::string(open.back().name) + ">")
                return fail("'" + tag + "' does not close <" + open.back().name + ">");
            open.pop_back();
            continue;
        }
        const size_t nameEnd = tag.find_first_of(" />");
        if (tag.empty() || tag[0] != '<' || nameEnd == std::string::npos || tag.back() != '>')
            return fail("not a tag: '" + tag + "'");
        const std::string name = tag.substr(1, nameEnd - 1);
        const Shape *shape = nullptr;
        for (const Shape &candidate : kShapes)
            if (name == candidate.name && std::strcmp(candidate.parent, open.back().name) == 0)
                shape = &candidate;
        if (shape == nullptr)
            return fail("<" + name + "> is not expected in <" + open.back().name + ">");
        const bool empty = tag.size() >= 2 && tag[tag.size() - 2] == '/';
        nlohmann::json attributes = nlohmann::json::object();
        if (!ReadAttributes(tag.substr(nameEnd, tag.size() - nameEnd - (empty ? 2 : 1)), *shape, &attributes))
            return fail("the attributes of <" + name + "> do not read: '" + tag + "'");
        nlohmann::json *holder = open.back().holder;
        if (shape->list != nullptr) {
            nlohmann::json &list = (*holder)[shape->list];
            if (list.is_null())
                list = nlohmann::json::array();
            list.push_back(attributes);
            holder = &list.back();
        } else if (shape->key != nullptr && shape->attributes.empty()) {
            if ((*holder)[shape->key].is_null())
                (*holder)[shape->key] = nlohmann::json::array();
        } else if (shape->key != nullptr) {
            (*holder)[shape->key] = attributes.size() == 1 ? attributes.begin().value() : attributes;
        }
        if (!empty)
            open.push_back({shape->name, holder});
    }
    if (open.size() > 1)
        *error = "the document ends inside <" + std::string(open.back().name) + ">";
    return open.size() == 1;
}

// "3 adapters, 6 disks, ..." for the line that says where the document is.
std::string Counts(const nlohmann::json &inventory)
{
    std::string counted;
    for (const char *list : {"adapters", "disks", "volumes", "pools"}) {
        const size_t count = inventory.contains(list) ? inventory[list].size() : 0;
        counted += (counted.empty() ? "" : ", ") + std::to_string(count) + " " +
                   (count == 1 ? std::string(list, std::strlen(list) - 1) : std::string(list));
    }
    return counted;
}

} // namespace

int RunSysinfo(const SysinfoOptions &options, Output &output)
{
    // The scratch folder is fixed by the first call in the process, so the base goes in
    // before anything else can ask for it.
    const char *scratchText = get_unique_per_process_dir_path(options.to.empty() ? nullptr : options.to.c_str());
    const int badPlace = options.to.empty() ? kExitStepFailed : kExitBadInput;
    if (scratchText == nullptr) {
        output.Error((options.to.empty() ? std::string("the client's temporary folder") : options.to) +
                     ": no scratch folder can be named in it (a path too long, or no UUID could be made)");
        return output.Finish(badPlace);
    }
    wstr scratch, target;
    if (!Utf8ToWide(scratchText, &scratch) || (!options.to.empty() && !Utf8ToWide(options.to, &target))) {
        output.Error(options.to + ": not valid UTF-8 text");
        return output.Finish(kExitBadInput);
    }
    DWORD error = 0;
    if (!options.to.empty()) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            output.Error(options.to + ": " + ErrorText(GetLastError()));
            return output.Finish(kExitBadInput);
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            output.Error(options.to + ": not a folder");
            return output.Finish(kExitBadInput);
        }
        if (!CreateDirectoryW(scratch.c_str(), NULL)) {
            output.Error(options.to + ": cannot be written: " + ErrorText(GetLastError()));
            return output.Finish(kExitBadInput);
        }
    } else if (!MakeFolders(scratch, &error)) {
        output.Error(std::string(scratchText) + ": cannot be made: " + ErrorText(error));
        return output.Finish(kExitStepFailed);
    }

    int written = 0;
    std::vector<std::string> messages;
    {
        MessageRecorder recorder;
        written = write_ossr_sysinfo();
        messages = recorder.Texts();
    }
    if (!messages.empty())
        output.Document()["messages"] = messages;

    const wstr scratchFile = scratch + W("\\") + wstr(kDocumentName, kDocumentName + std::strlen(kDocumentName));
    std::string document;
    if (!ReadWhole(scratchFile, &document, &error)) {
        if (written == 1 && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            // The library writes nothing, successfully, on Windows before 8 / Server 2012.
            if (!options.to.empty())
                RemoveDirectoryW(scratch.c_str());
            output.Notice("no inventory: this Windows is older than Windows 8 / Server 2012, which the library "
                          "writes none for");
            return output.Finish(kExitSuccess);
        }
        output.Error(Shown(scratchFile) + ": " + (written == 1 ? "cannot be read: " + ErrorText(error)
                                                                : "was not written (the library's messages say why)"));
        return output.Finish(kExitStepFailed);
    }

    wstr placed = scratchFile;
    if (!options.to.empty()) {
        // Written out and the scratch copy removed rather than renamed: the simulated
        // platform has no MoveFileExW, and the text is in memory for --json anyway.
        const wstr destination = target + (target.back() == '\\' || target.back() == '/' ? W("") : W("\\")) +
                                 wstr(kDocumentName, kDocumentName + std::strlen(kDocumentName));
        if (!WriteWhole(destination, document, &error)) {
            output.Error(Shown(destination) + ": cannot be written: " + ErrorText(error) + "; the inventory stays in " +
                         Shown(scratchFile));
            return output.Finish(kExitStepFailed);
        }
        if (!DeleteFileW(scratchFile.c_str()) || !RemoveDirectoryW(scratch.c_str()))
            output.Warning(Shown(scratch) + ": the scratch folder is left behind: " + ErrorText(GetLastError()));
        placed = destination;
    }

    nlohmann::json inventory;
    std::string unreadable;
    const bool read = ReadInventory(document, &inventory, &unreadable);
    output.Document()["file"] = Shown(placed);
    output.Document()["complete"] = written == 1;
    output.Document()["inventory"] = inventory;
    if (written != 1) {
        output.Error(Shown(placed) + ": the inventory is incomplete (the library's messages above say why)" +
                     "; it holds " + Counts(inventory));
        return output.Finish(kExitStepFailed);
    }
    if (!read) {
        output.Error(Shown(placed) + ": the document does not read back: " + unreadable);
        return output.Finish(kExitStepFailed);
    }
    output.Line("the inventory (" + Counts(inventory) + ") is in " + Shown(placed));
    return output.Finish(kExitSuccess);
}

} // namespace winclass
