// winclass writers: every VSS writer of the host with the list it lands in and why, and,
// for a save type, the writers and components that backup would take or leave out, as
// the library decided them. The session goes as far as the selection; no snapshot is
// taken.
#include "commands.h"
#include "paths.h"
#include "plan.h"
#include "session.h"

#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <liblocal/local.h>

#include <platform/tvplatform.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winclass {

namespace {

nlohmann::json ToJson(const Decision &d)
{
    nlohmann::json entry = {{"writer", d.writer}, {"verdict", d.verdict}, {"taken", d.taken}, {"reason", d.reason}};
    if (!d.component.empty())
        entry["component"] = d.component;
    if (!d.volume.empty())
        entry["volume"] = d.volume;
    return entry;
}

// Ends the session without a snapshot, whatever happened.
struct SessionGuard {
    ~SessionGuard() { vsscr_uninit_backup(); }
};

void ShowDecision(Output &output, const Decision &d)
{
    std::string what = d.component.empty() ? d.writer : d.writer + " | " + d.component;
    if (!d.volume.empty())
        what += " (" + d.volume + ")";
    output.Line("  " + d.verdict + std::string(d.verdict.size() < 12 ? 12 - d.verdict.size() : 1, ' ') + what);
    output.Line("              " + d.reason);
}

} // namespace

int RunWriters(const WritersOptions &options, Output &output)
{
    const bool planned = options.saveType >= 0;
    SessionGuard guard;
    if (struct vo_msg *failure = vsscr_init_backup(planned ? options.saveType : kFileSystemSaveType, 0)) {
        output.LibraryMessage(failure, "starting the backup session");
        return output.Finish(kExitStepFailed);
    }
    const int count = vsscr_classify_writers();
    if (count < 0) {
        output.Error("the host's writers could not be listed");
        return output.Finish(kExitStepFailed);
    }
    const size_t classified = ReadDecisions().size();

    std::vector<std::pair<std::string, std::string>> added;
    struct vo_msg *selectionFailure = nullptr;
    if (planned) {
        if (options.saveType <= 2) {
            for (const auto &volume : SystemStateVolumes()) {
                if (struct vo_msg *failure = vsscr_add_savepath(volume.first.c_str())) {
                    output.LibraryMessage(failure, "adding " + volume.first + " to the snapshot set");
                    return output.Finish(kExitStepFailed);
                }
                added.push_back(volume);
            }
        }
        selectionFailure = vsscr_select_for_backup();
    }

    const std::vector<Decision> decisions = ReadDecisions();
    // Each writer's classes, in the order the writers were first noted.
    std::vector<std::string> order;
    std::map<std::string, std::vector<const Decision *>> classes;
    for (size_t i = 0; i < classified && i < decisions.size(); ++i) {
        if (decisions[i].subject != VSSCR_SUBJECT_WRITER)
            continue;
        if (classes[decisions[i].writer].empty())
            order.push_back(decisions[i].writer);
        classes[decisions[i].writer].push_back(&decisions[i]);
    }
    output.Line("Writers (" + std::to_string(count) + "):");
    nlohmann::json writers = nlohmann::json::array();
    for (const std::string &name : order) {
        output.Line("  " + name);
        nlohmann::json entry = {{"name", name}, {"classes", nlohmann::json::array()}};
        for (const Decision *d : classes[name]) {
            output.Line("      " + d->verdict + ": " + d->reason);
            entry["classes"].push_back({{"class", d->verdict}, {"taken", d->taken}, {"reason", d->reason}});
        }
        writers.push_back(entry);
    }
    output.Document()["writerCount"] = count;
    output.Document()["writers"] = writers;

    if (planned) {
        nlohmann::json plan = {{"saveType", options.saveType}, {"saveTypeName", SaveTypeName(options.saveType)}};
        output.Line("");
        output.Line("Plan for save type " + std::to_string(options.saveType) + " (" + SaveTypeName(options.saveType) +
                    "); no snapshot is taken:");
        plan["addedVolumes"] = nlohmann::json::array();
        for (const auto &volume : added) {
            output.Line("  volume added to the snapshot set for the plan: " + volume.first + " (" + volume.second + ")");
            plan["addedVolumes"].push_back({{"volume", volume.first}, {"why", volume.second}});
        }
        plan["decisions"] = nlohmann::json::array();
        for (size_t i = classified; i < decisions.size(); ++i) {
            ShowDecision(output, decisions[i]);
            nlohmann::json entry = ToJson(decisions[i]);
            entry["subject"] = decisions[i].subject == VSSCR_SUBJECT_WRITER      ? "writer"
                               : decisions[i].subject == VSSCR_SUBJECT_COMPONENT ? "component"
                                                                                 : "volume";
            plan["decisions"].push_back(entry);
        }
        if (decisions.size() == classified)
            output.Line("  (this save type selects no writer or component)");
        if (options.saveType == 0)
            output.Notice("The snapshot of a save type 0 backup runs the system-state pass once more, over the "
                          "volumes then in the set; no snapshot is taken here, so that pass is not shown.");
        output.Document()["plan"] = plan;
    }
    if (selectionFailure != nullptr) {
        output.LibraryMessage(selectionFailure, "selecting the writers for save type " + std::to_string(options.saveType));
        return output.Finish(kExitStepFailed);
    }
    return output.Finish(kExitSuccess);
}

} // namespace winclass
