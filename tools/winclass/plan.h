// The writer part of a backup: the save items the library hands out for the session's
// writer lists, cut down to the components the selection took, and each component's file
// specifications expanded into files. The same plan is made from the live volumes (for
// --dry-run, and before the snapshot) and from the shadow copies (what is copied), so the
// two agree on a quiet host.
#pragma once

#include "output.h"
#include "session.h"

#include <platform/tvplatform.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace winclass {

// The save types by name, as --save-type takes them; -1 for a text that is neither a name
// nor a number from 0 to 4.
int SaveTypeFromText(const std::string &text);
const char *SaveTypeName(int saveType);
// The save types whose backup is made of writers' save items.
inline bool IsWriterSaveType(int saveType) { return saveType >= 0 && saveType <= 4 && saveType != 3; }

// Where a writer's folder is read from. Answers false with *error when the folder's volume
// is not in the snapshot set; *readFolder is the live folder itself before the snapshot.
using FolderReader = std::function<bool(const wstr &liveFolder, const wstr &volume, wstr *readFolder,
                                        std::string *error)>;

struct PlannedFile {
    wstr livePath;
    wstr readPath;  // where it is read: its shadow copy, or the live file for a plan
    uint64_t size = 0;
    DWORD attributes = 0;
    FILETIME lastWrite = {};
};

struct PlannedComponent {
    std::string name, logicalPath, caption, label;  // label: "logical path\name", as decisions name it
    bool taken = false;
    std::string why;
    std::vector<size_t> files;  // into WriterPlan::files, in the order the specifications give them
};

struct PlannedWriter {
    std::string name;
    bool taken = false;  // at least one component was selected
    std::string why;
    std::string metadataPath;  // the library's copy of the writer's metadata document (host path)
    bool byName = false;       // no writer list hands out its item; its document is saved on request
    std::vector<PlannedComponent> components;
};

// One exclude specification of a writer, expanded.
struct ExcludeSpec {
    std::string writer;
    wstr folder;  // without a trailing backslash, upper case
    wstr filespec;
    bool recursive = false;
};

struct WriterPlan {
    std::vector<PlannedWriter> writers;
    std::vector<PlannedFile> files;  // each file once, in the order components first name it
    std::vector<ExcludeSpec> excludes;
    std::vector<std::pair<std::string, std::string>> excluded;  // path, the writer whose exclude list names it
    std::vector<std::string> notices;  // specifications that match nothing
    uint64_t bytes = 0;

    // The writer whose exclude list names a live file; empty when none does.
    std::string ExcludedBy(const wstr &livePath) const;
};

// Reads the save items of the user-data and system-state lists after the selection and
// keeps the components the decisions show selected; onlyWriter, when not empty, keeps that
// writer alone. On failure *error says why and the answer is the exit code (non-zero).
int BuildWriterPlan(const std::string &onlyWriter, const FolderReader &reader, WriterPlan *plan, std::string *error);

// The plan as the manifest and --json record it; records[i] (when given) stands for
// plan.files[i], else the file's path and size do.
nlohmann::json WritersJson(const WriterPlan &plan, const nlohmann::json *records);
// The plan as lines for a person.
void ShowPlan(Output &output, const WriterPlan &plan);

// A file name against a writer's file specification: '*' and '?' without regard to case,
// and "*.*" for every name, as Windows reads it.
bool SpecMatches(const wstr &filespec, const wstr &name);

// The volume that holds a live path: a drive root, mount folder or \\?\Volume{guid}\.
wstr VolumeOfPath(const wstr &path);
// The member of the snapshot set that is that volume, or nullptr.
const VolumeInSet *FindVolume(const std::vector<VolumeInSet> &volumes, const wstr &volume);

} // namespace winclass
