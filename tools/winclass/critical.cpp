// winclass critical-volumes: the volumes a disaster-recovery backup takes as critical,
// why each is there, and the volumes refused with their cause. The library's own
// computation answers, read back from its decision log; no snapshot is taken.
#include "commands.h"
#include "paths.h"
#include "session.h"

#include <libwinclass/backup.h>
#include <libwinclass/explain.h>
#include <liblocal/volists.h>

#include <memory>
#include <string>
#include <vector>

namespace winclass {

namespace {

struct ValueListFree {
    void operator()(vo_vallist *list) const { vallist_free(list); }
};

// The flag bits of a map entry, spelled out.
std::vector<std::string> FlagNames(uint32_t flags)
{
    const struct {
        uint32_t bit;
        const char *name;
    } names[] = {{0x1, "save path"},
                 {0x2, "critical"},
                 {0x4, "parent of mount point"},
                 {0x8, "dynamic pack"},
                 {0x20, "BCD"}};
    std::vector<std::string> spelled;
    for (const auto &name : names)
        if ((flags & name.bit) != 0)
            spelled.push_back(name.name);
    return spelled;
}

std::string Joined(const std::vector<std::string> &parts, const char *separator)
{
    std::string joined;
    for (const std::string &part : parts)
        joined += (joined.empty() ? "" : separator) + part;
    return joined;
}

// The disk numbers of a volume ("1,2"), or empty when its extents cannot be read.
std::string DisksOf(const VolumeInSet &volume)
{
    if (volume.guidName.empty())
        return std::string();
    std::vector<char> guid(volume.guidName.begin(), volume.guidName.end());
    guid.push_back(0);
    char disks[120] = {};
    return getDiskNumbersForVolume(guid.data(), volume.shown.c_str(), disks, sizeof disks) == 1 ? disks
                                                                                                : std::string();
}

std::string Origin(const Decision &decision)
{
    if (decision.writer.empty())
        return std::string();
    return " [" + decision.writer + (decision.component.empty() ? "" : ", " + decision.component) + "]";
}

} // namespace

int RunCriticalVolumes(Output &output)
{
    BackupSession session(output);
    if (!session.Open(1))
        return output.Finish(kExitStepFailed);
    vo_vallist *list = NULL;
    vsscr_get_dr_critical_volumes(&list);
    std::unique_ptr<vo_vallist, ValueListFree> critical(list);
    std::vector<VolumeInSet> volumes;
    if (!session.Volumes(&volumes))
        return output.Finish(kExitStepFailed);
    const std::vector<Decision> decisions = ReadDecisions(VSSCR_SUBJECT_VOLUME);

    nlohmann::json entered = nlohmann::json::array();
    for (const vo_vallist *item = critical.get(); item != NULL; item = item->next) {
        // The list gives a mount folder without its backslash; the map keeps it.
        std::string name = item->value;
        if (name.empty() || name.back() != '\\')
            name += '\\';
        const VolumeInSet *volume = NULL;
        for (const VolumeInSet &candidate : volumes)
            if (candidate.shown == name)
                volume = &candidate;
        const uint32_t flags = volume != NULL ? volume->flags : 0;
        const std::string disks = volume != NULL ? DisksOf(*volume) : std::string();
        nlohmann::json reasons = nlohmann::json::array();
        output.Line(name + "  (" + Joined(FlagNames(flags), ", ") + ")" +
                    (disks.empty() ? std::string() : "  disks " + disks));
        for (const Decision &decision : decisions) {
            if (!decision.taken || decision.volume != name)
                continue;
            output.Line("    " + decision.verdict + ": " + decision.reason + Origin(decision));
            reasons.push_back({{"verdict", decision.verdict},
                               {"writer", decision.writer},
                               {"component", decision.component},
                               {"reason", decision.reason}});
        }
        entered.push_back({{"volume", item->value},
                           {"flags", flags},
                           {"flagNames", FlagNames(flags)},
                           {"disks", disks},
                           {"reasons", reasons}});
    }
    if (entered.empty())
        output.Notice("no critical volume: the host's system-state writers name none that a recovery can restore");

    nlohmann::json refused = nlohmann::json::array();
    for (const Decision &decision : decisions) {
        if (decision.taken)
            continue;
        output.Line((decision.volume.empty() ? std::string("(no volume)") : decision.volume) + "  " +
                    decision.verdict + ": " + decision.reason + Origin(decision));
        refused.push_back({{"volume", decision.volume},
                           {"verdict", decision.verdict},
                           {"writer", decision.writer},
                           {"component", decision.component},
                           {"reason", decision.reason}});
    }
    output.Document()["criticalVolumes"] = entered;
    output.Document()["refused"] = refused;
    return output.Finish(kExitSuccess);
}

} // namespace winclass
