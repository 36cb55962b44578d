#include "plan.h"

#include "commands.h"
#include "paths.h"

#include <libwinclass/explain.h>
#include <libwinclass/saveitems.h>
#include <liblocal/vofiles.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace winclass {

namespace {

// ExpandEnvironmentStringsW's limit, as the library's own expansions use it.
const DWORD kExpandUnits = 13312;

// The writer lists a writer backup reads: the system-state writers (their system-state
// components) and the user-data writers, whose components a promoted writer brings into
// the system state; only selected components are kept from either.
const int kWriterLists[] = {8, 3};

const char *const kSaveTypeNames[] = {"dr-system-state", "dr", "system-state", "filesystem", "replicated-folders"};

struct SaveItemRelease {
    void operator()(sow_save_item *items) const { sow_free_save_item(items, nullptr); }
};
using SaveItems = std::unique_ptr<sow_save_item, SaveItemRelease>;

WCHAR Upper(WCHAR c) { return c >= 'a' && c <= 'z' ? WCHAR(c - 'a' + 'A') : c; }

wstr UpperCase(wstr text)
{
    std::transform(text.begin(), text.end(), text.begin(), Upper);
    return text;
}

bool SameIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'a' && x <= 'z' ? x - 32 : x) == (y >= 'a' && y <= 'z' ? y - 32 : y);
           });
}

std::string Text(const char *text) { return text ? text : ""; }

bool IsGuidPath(const wstr &path) { return UpperCase(path.substr(0, 11)) == W("\\\\?\\VOLUME{"); }

wstr Expanded(const wstr &path)
{
    std::vector<WCHAR> buffer(kExpandUnits, 0);
    const DWORD length = ExpandEnvironmentStringsW(path.c_str(), buffer.data(), kExpandUnits);
    return length == 0 || length > kExpandUnits ? path : wstr(buffer.data());
}

wstr WithoutTrailingSeparators(wstr path)
{
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

struct FileChainRelease {
    void operator()(vsscr_filedesc *chain) const { FreeFileDescList(chain); }
};
using FileChain = std::unique_ptr<vsscr_filedesc, FileChainRelease>;

struct Selection {
    std::set<std::string> wholeWriters;                    // selected by name, every component
    std::map<std::string, std::pair<bool, std::string>> components;  // writer|label: taken, why
    std::map<std::string, std::string> writerWhy;
    // The writers with a selected component, and their components' labels, in decision order.
    std::vector<std::pair<std::string, std::vector<std::string>>> taken;
};

Selection ReadSelection()
{
    Selection selection;
    for (const Decision &d : ReadDecisions()) {
        if (d.subject == VSSCR_SUBJECT_WRITER) {
            if (d.taken && d.verdict == "selected")
                selection.wholeWriters.insert(d.writer);
            // The selection's word, else the class the writer was sorted into.
            if (d.verdict == "selected" || !selection.writerWhy.count(d.writer))
                selection.writerWhy[d.writer] = d.verdict + ": " + d.reason;
        } else if (d.subject == VSSCR_SUBJECT_COMPONENT) {
            auto &entry = selection.components[d.writer + "|" + d.component];
            // A component selected once stays selected (the ASR writer's volumes are
            // selected once per critical volume).
            if (entry.first)
                continue;
            entry = {d.taken, d.reason};
            if (!d.taken)
                continue;
            auto writer = std::find_if(selection.taken.begin(), selection.taken.end(),
                                       [&](const auto &w) { return w.first == d.writer; });
            if (writer == selection.taken.end())
                writer = selection.taken.insert(selection.taken.end(), {d.writer, {}});
            writer->second.push_back(d.component);
        }
    }
    return selection;
}

class PlanBuilder {
public:
    PlanBuilder(const FolderReader &reader, WriterPlan *plan) : reader_(reader), plan_(*plan) {}

    bool AddItem(const sow_save_item &item, const Selection &selection, std::string *error);
    // A writer whose components were selected although no writer list hands out its save
    // item (the ASR writer): its files through the by-name lists.
    bool AddByName(const std::string &name, const std::vector<std::string> &labels, const Selection &selection,
                   std::string *error);

private:
    bool AddSpecs(const std::string &writer, PlannedComponent *component, const vsscr_filedesc *first,
                  std::string *error);
    bool Walk(const wstr &liveFolder, const wstr &readFolder, const vsscr_filedesc &spec, PlannedComponent *component,
              size_t *matched, std::string *error);
    void AddFile(const wstr &livePath, const wstr &readPath, const WIN32_FIND_DATAW &found,
                 PlannedComponent *component);

    const FolderReader &reader_;
    WriterPlan &plan_;
    std::map<wstr, size_t> byPath_;  // upper-case live path -> index into plan_.files
};

bool PlanBuilder::AddByName(const std::string &name, const std::vector<std::string> &labels,
                            const Selection &selection, std::string *error)
{
    PlannedWriter writer;
    writer.name = name;
    writer.byName = true;
    writer.taken = true;
    const auto why = selection.writerWhy.find(name);
    writer.why = why != selection.writerWhy.end()
                     ? why->second
                     : "The selection took its components; no writer list hands out its save item.";
    wstr wideName;
    Utf8ToWide(name, &wideName);
    for (const std::string &label : labels) {
        PlannedComponent component;
        const size_t separator = label.find_last_of('\\');
        component.name = separator == std::string::npos ? label : label.substr(separator + 1);
        component.logicalPath = separator == std::string::npos ? std::string() : label.substr(0, separator);
        component.caption = component.name;
        component.label = label;
        component.taken = true;
        component.why = selection.components.at(name + "|" + label).second;
        // The by-name lists read the component record's name alone.
        sow_component key = {};
        key.name = const_cast<char *>(component.name.c_str());
        using ListFunction = int (*)(const WCHAR *, sow_component *, vsscr_filedesc **);
        for (ListFunction list : {ListFunction(vsscr_get_comp_file_group_list), ListFunction(vsscr_get_comp_database_list),
                                  ListFunction(vsscr_get_comp_db_logfile_group_list)}) {
            vsscr_filedesc *first = nullptr;
            list(wideName.c_str(), &key, &first);
            FileChain chain(first);
            if (!AddSpecs(name, &component, chain.get(), error))
                return false;
        }
        writer.components.push_back(std::move(component));
    }
    plan_.writers.push_back(std::move(writer));
    return true;
}

bool PlanBuilder::AddItem(const sow_save_item &item, const Selection &selection, std::string *error)
{
    // A promoted writer is on the system-state list (without its data components) and on
    // the user-data list (with them): one writer, its components from both.
    auto known = std::find_if(plan_.writers.begin(), plan_.writers.end(),
                              [&](const PlannedWriter &w) { return w.name == Text(item.name); });
    PlannedWriter fresh;
    PlannedWriter &writer = known != plan_.writers.end() ? *known : fresh;
    writer.name = Text(item.name);
    if (writer.metadataPath.empty())
        writer.metadataPath = Text(item.metadata_path);
    const bool whole = selection.wholeWriters.count(writer.name) != 0;
    for (const sow_component *source = item.components; source; source = source->next) {
        PlannedComponent component;
        component.name = Text(source->name);
        component.logicalPath = Text(source->logical_path);
        component.caption = Text(source->caption);
        component.label = component.logicalPath.empty() ? component.name : component.logicalPath + "\\" + component.name;
        const auto decided = selection.components.find(writer.name + "|" + component.label);
        if (whole) {
            component.taken = true;
            component.why = "The save type takes the writer whole.";
        } else if (decided != selection.components.end()) {
            component.taken = decided->second.first;
            component.why = decided->second.second;
        } else {
            component.why = "No selection of this save type looked at it.";
        }
        if (component.taken) {
            writer.taken = true;
            if (!AddSpecs(writer.name, &component, source->files, error) ||
                !AddSpecs(writer.name, &component, source->database_files, error) ||
                !AddSpecs(writer.name, &component, source->database_log_files, error))
                return false;
        }
        writer.components.push_back(std::move(component));
    }
    const auto why = selection.writerWhy.find(writer.name);
    writer.why = std::string(writer.taken ? "" : "no component of it is selected; ") +
                 (why != selection.writerWhy.end() ? why->second : std::string());
    if (&writer == &fresh)
        plan_.writers.push_back(std::move(fresh));
    return true;
}

bool PlanBuilder::AddSpecs(const std::string &writer, PlannedComponent *component, const vsscr_filedesc *first,
                           std::string *error)
{
    for (const vsscr_filedesc *spec = first; spec; spec = spec->next) {
        if (spec->path == nullptr || spec->filespec == nullptr)
            continue;
        const wstr liveFolder = WithoutTrailingSeparators(Expanded(spec->path));
        const std::string shown = writer + " | " + component->label + ": " + Shown(liveFolder) + "\\" +
                                  Shown(spec->filespec) + (spec->recursive ? " (and below)" : "");
        const bool onVolume = IsGuidPath(liveFolder) || (liveFolder.size() >= 2 && liveFolder[1] == ':');
        if (!onVolume) {
            plan_.notices.push_back(shown + " is on no volume by drive letter or GUID; left out");
            continue;
        }
        wstr readFolder;
        std::string why;
        if (!reader_(liveFolder, VolumeOfPath(liveFolder), &readFolder, &why)) {
            *error = "writer " + writer + ", component " + component->label + ", " + Shown(liveFolder) + "\\" +
                     Shown(spec->filespec) + ": " + why;
            return false;
        }
        size_t matched = 0;
        if (!Walk(liveFolder, WithoutTrailingSeparators(readFolder), *spec, component, &matched, error))
            return false;
        if (matched == 0)
            plan_.notices.push_back(shown + " matches no file");
    }
    return true;
}

bool PlanBuilder::Walk(const wstr &liveFolder, const wstr &readFolder, const vsscr_filedesc &spec,
                       PlannedComponent *component, size_t *matched, std::string *error)
{
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW((readFolder + W("\\*")).c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) {
        search.release();
        const DWORD code = GetLastError();
        // A folder that is not there holds no file the pattern could match.
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_NO_MORE_FILES)
            return true;
        *error = Shown(liveFolder) + ": cannot list the folder (" + Shown(readFolder) + "): " + ErrorText(code);
        return false;
    }
    std::vector<wstr> folders;
    do {
        const wstr name = found.cFileName;
        if (name == W(".") || name == W(".."))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // A mount folder or junction leads to another volume or folder: not crossed.
            if (spec.recursive && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                folders.push_back(name);
            continue;
        }
        if (!SpecMatches(spec.filespec, name))
            continue;
        ++*matched;
        AddFile(liveFolder + W("\\") + name, readFolder + W("\\") + name, found, component);
    } while (FindNextFileW(search.get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        *error = Shown(liveFolder) + ": listing the folder stopped: " + ErrorText(GetLastError());
        return false;
    }
    for (const wstr &name : folders)
        if (!Walk(liveFolder + W("\\") + name, readFolder + W("\\") + name, spec, component, matched, error))
            return false;
    return true;
}

void PlanBuilder::AddFile(const wstr &livePath, const wstr &readPath, const WIN32_FIND_DATAW &found,
                          PlannedComponent *component)
{
    const std::string excludedBy = plan_.ExcludedBy(livePath);
    if (!excludedBy.empty()) {
        plan_.excluded.emplace_back(Shown(livePath), excludedBy);
        return;
    }
    const wstr key = UpperCase(livePath);
    auto known = byPath_.find(key);
    if (known == byPath_.end()) {
        PlannedFile file;
        file.livePath = livePath;
        file.readPath = readPath;
        file.size = (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        file.attributes = found.dwFileAttributes;
        file.lastWrite = found.ftLastWriteTime;
        plan_.bytes += file.size;
        known = byPath_.emplace(key, plan_.files.size()).first;
        plan_.files.push_back(std::move(file));
    }
    // Named twice by one component (two overlapping specifications): listed once.
    if (std::find(component->files.begin(), component->files.end(), known->second) == component->files.end())
        component->files.push_back(known->second);
}

nlohmann::json FileJson(const PlannedFile &file)
{
    return {{"path", Shown(file.livePath)}, {"size", file.size}};
}

} // namespace

bool SpecMatches(const wstr &filespec, const wstr &name)
{
    std::string spec, utf8;
    if (!WideToUtf8(filespec == W("*.*") ? wstr(W("*")) : filespec, &spec) || !WideToUtf8(name, &utf8))
        return false;
    return fmatch(spec.c_str(), utf8.c_str()) == 1;
}


int SaveTypeFromText(const std::string &text)
{
    for (int type = 0; type < 5; ++type)
        if (text == kSaveTypeNames[type] || text == std::to_string(type))
            return type;
    return -1;
}

const char *SaveTypeName(int saveType)
{
    return saveType >= 0 && saveType < 5 ? kSaveTypeNames[saveType] : "none";
}

std::string WriterPlan::ExcludedBy(const wstr &livePath) const
{
    const size_t separator = livePath.find_last_of('\\');
    if (separator == wstr::npos)
        return std::string();
    const wstr folder = UpperCase(livePath.substr(0, separator)), name = livePath.substr(separator + 1);
    for (const ExcludeSpec &spec : excludes) {
        const bool inFolder = folder == spec.folder ||
                              (spec.recursive && folder.compare(0, spec.folder.size() + 1, spec.folder + W("\\")) == 0);
        if (inFolder && SpecMatches(spec.filespec, name))
            return spec.writer;
    }
    return std::string();
}

wstr VolumeOfPath(const wstr &path)
{
    if (IsGuidPath(path)) {
        const size_t close = path.find('}');
        return close == wstr::npos ? path : path.substr(0, close + 1) + W("\\");
    }
    // The deepest existing folder answers: a folder that is not there has no volume of its own.
    wstr probe = WithoutTrailingSeparators(path) + W("\\");
    std::vector<WCHAR> root(probe.size() + MAX_PATH + 2, 0);
    while (probe.size() > 3) {
        if (GetVolumePathNameW(probe.c_str(), root.data(), DWORD(root.size())))
            return root.data();
        probe = probe.substr(0, probe.find_last_of('\\', probe.size() - 2) + 1);
    }
    return path.substr(0, 2) + W("\\");
}

const VolumeInSet *FindVolume(const std::vector<VolumeInSet> &volumes, const wstr &volume)
{
    const wstr wanted = UpperCase(volume);
    for (const VolumeInSet &member : volumes) {
        wstr guidName;
        Utf8ToWide(member.guidName, &guidName);
        if (UpperCase(member.volume) == wanted || (!guidName.empty() && UpperCase(guidName) == wanted))
            return &member;
    }
    return nullptr;
}

int BuildWriterPlan(const std::string &onlyWriter, const FolderReader &reader, WriterPlan *plan, std::string *error)
{
    *plan = WriterPlan();
    const Selection selection = ReadSelection();
    std::vector<SaveItems> lists;
    std::vector<const sow_save_item *> items;
    for (int list : kWriterLists) {
        lists.emplace_back(vsscr_get_writer_list(list));
        for (const sow_save_item *item = lists.back().get(); item; item = item->next)
            if (onlyWriter.empty() || SameIgnoringCase(Text(item->name), onlyWriter))
                items.push_back(item);
    }
    const bool byName = std::any_of(selection.taken.begin(), selection.taken.end(),
                                    [&](const auto &w) { return SameIgnoringCase(w.first, onlyWriter); });
    if (!onlyWriter.empty() && items.empty() && !byName) {
        std::set<std::string> names;
        for (const SaveItems &list : lists)
            for (const sow_save_item *item = list.get(); item; item = item->next)
                names.insert(Text(item->name));
        for (const auto &writer : selection.taken)
            names.insert(writer.first);
        std::string known;
        for (const std::string &name : names)
            known += (known.empty() ? "" : ", ") + name;
        *error = "--writer " + onlyWriter + ": no writer of that name takes part in this backup (the writers are: " +
                 (known.empty() ? std::string("none") : known) + ")";
        return kExitBadInput;
    }
    // Every exclude list applies to every writer's files, as VSS asks of a requester.
    for (const SaveItems &list : lists)
        for (const sow_save_item *item = list.get(); item; item = item->next)
            for (const vsscr_filedesc *spec = item->exclude_list; spec; spec = spec->next)
                if (spec->path != nullptr && spec->filespec != nullptr)
                    plan->excludes.push_back({Text(item->name), UpperCase(WithoutTrailingSeparators(Expanded(spec->path))),
                                              spec->filespec, spec->recursive != 0});
    PlanBuilder builder(reader, plan);
    for (const sow_save_item *item : items)
        if (!builder.AddItem(*item, selection, error))
            return kExitStepFailed;
    for (const auto &writer : selection.taken) {
        const bool listed = std::any_of(plan->writers.begin(), plan->writers.end(),
                                        [&](const PlannedWriter &w) { return w.name == writer.first; });
        if (!listed && (onlyWriter.empty() || SameIgnoringCase(writer.first, onlyWriter)) &&
            !builder.AddByName(writer.first, writer.second, selection, error))
            return kExitStepFailed;
    }
    return kExitSuccess;
}

nlohmann::json WritersJson(const WriterPlan &plan, const nlohmann::json *records)
{
    nlohmann::json writers = nlohmann::json::array();
    for (const PlannedWriter &writer : plan.writers) {
        nlohmann::json components = nlohmann::json::array(), leftOut = nlohmann::json::array();
        for (const PlannedComponent &component : writer.components) {
            if (!component.taken) {
                leftOut.push_back({{"component", component.label}, {"why", component.why}});
                continue;
            }
            nlohmann::json files = nlohmann::json::array();
            for (size_t index : component.files)
                files.push_back(records ? (*records)[index] : FileJson(plan.files[index]));
            components.push_back({{"name", component.name},
                                  {"logicalPath", component.logicalPath},
                                  {"caption", component.caption},
                                  {"why", component.why},
                                  {"files", files}});
        }
        writers.push_back({{"name", writer.name},
                           {"taken", writer.taken},
                           {"why", writer.why},
                           {"components", components},
                           {"leftOut", leftOut}});
    }
    return writers;
}

void ShowPlan(Output &output, const WriterPlan &plan)
{
    for (const PlannedWriter &writer : plan.writers) {
        output.Line(std::string(writer.taken ? "  writer   " : "  left out ") + writer.name + " (" + writer.why + ")");
        for (const PlannedComponent &component : writer.components) {
            output.Line(std::string(component.taken ? "    component " : "    left out  ") + component.label + ": " +
                        component.why);
            for (size_t index : component.files)
                output.Line("      " + Shown(plan.files[index].livePath) + "  " + HumanSize(plan.files[index].size));
        }
    }
    for (const auto &excluded : plan.excluded)
        output.Line("  excluded " + excluded.first + " (the exclude list of " + excluded.second + ")");
    for (const std::string &notice : plan.notices)
        output.Line("  notice: " + notice);
}

} // namespace winclass
