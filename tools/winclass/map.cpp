// winclass map PATH: where a live path reads from while a snapshot of its volume exists.
// It takes a snapshot of the path's volume to answer, and deletes it afterwards.
#include "commands.h"
#include "paths.h"
#include "platform.h"
#include "session.h"

#include <libwinclass/backup.h>

namespace winclass {

int RunMap(const std::string &path, Output &output)
{
    SavePath savePath;
    std::string error;
    if (!CanonicalSavePath(path, &savePath, &error)) {
        output.Error(error);
        return output.Finish(kExitBadInput);
    }
    BackupSession session(output);
    if (!session.Start(kFileSystemSaveType) || !session.AddSavePath(savePath.path, savePath.volume) ||
        !session.TakeSnapshot()) {
        session.End(false);
        return output.Finish(kExitStepFailed);
    }
    Mapping mapping;
    if (!session.Map(savePath.path, &mapping)) {
        output.Error(Shown(savePath.path) + ": its volume has no shadow copy in the snapshot set");
        session.End(false);
        return output.Finish(kExitStepFailed);
    }
    // The way back, as the client's runtime asks it while it reads.
    std::string shadowUtf8 = Shown(mapping.shadowPath);
    char live[13312] = "";
    vsscr_translate_to_physical(shadowUtf8.c_str(), live, sizeof live);
    bool inShadow = vsscr_is_snapshot_path(shadowUtf8.c_str()) == 1;

    const std::string livePath = Shown(savePath.path);
    output.Line("Live path     " + livePath);
    output.Line("Volume        " + Shown(mapping.volume));
    if (!mapping.driveRoot.empty())
        output.Line("Drive root    " + Shown(mapping.driveRoot));
    output.Line("Shadow copy   " + Shown(mapping.shadowRoot));
    output.Line("Shadow path   " + shadowUtf8);
    output.Line("Back to live  " + std::string(live));
    output.Line("Snapshot set  " + session.SnapshotSetId());
    nlohmann::json &document = output.Document();
    document["path"] = livePath;
    document["volume"] = Shown(mapping.volume);
    document["driveRoot"] = Shown(mapping.driveRoot);
    document["shadowRoot"] = Shown(mapping.shadowRoot);
    document["shadowPath"] = shadowUtf8;
    document["translatedBack"] = live;
    document["isSnapshotPath"] = inShadow;
    document["snapshotSetId"] = session.SnapshotSetId();
    return output.Finish(session.End(true) ? kExitSuccess : kExitWarnings);
}

} // namespace winclass
