// winclass map PATH: where a live path reads from while a snapshot of its volume exists.
#include "commands.h"
#include "platform.h"
#include "session.h"

#include <libwinclass/backup.h>
#include <libwinclass/conversions.h>

namespace winclass {

int RunMap(const std::string &path, Output &output)
{
    wstr livePath = WindowsPath(path);
    if (GetFileAttributesW(livePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        output.Error(path + ": " + ErrorText(GetLastError()));
        return output.Finish(2);
    }
    BackupSession session(output);
    if (!session.Start(kFileSystemSaveType) || !session.AddSavePath(path) || !session.TakeSnapshot())
        return output.Finish(1);
    Mapping mapping;
    if (!session.Map(livePath, &mapping)) {
        output.Error(path + ": its volume has no shadow copy in the snapshot set");
        return output.Finish(1);
    }
    // The way back, as the client's runtime asks it while it reads.
    std::string shadowUtf8 = to_utf8(mapping.shadowPath);
    char live[13312] = "";
    vsscr_translate_to_physical(shadowUtf8.c_str(), live, sizeof live);
    bool inShadow = vsscr_is_snapshot_path(shadowUtf8.c_str()) == 1;

    output.Line("Live path     " + to_utf8(livePath));
    output.Line("Volume        " + to_utf8(mapping.volume));
    if (!mapping.driveRoot.empty())
        output.Line("Drive root    " + to_utf8(mapping.driveRoot));
    output.Line("Shadow copy   " + to_utf8(mapping.shadowRoot));
    output.Line("Shadow path   " + shadowUtf8);
    output.Line("Back to live  " + std::string(live));
    output.Line("Snapshot set  " + session.SnapshotSetId());
    nlohmann::json &document = output.Document();
    document["path"] = to_utf8(livePath);
    document["volume"] = to_utf8(mapping.volume);
    document["driveRoot"] = to_utf8(mapping.driveRoot);
    document["shadowRoot"] = to_utf8(mapping.shadowRoot);
    document["shadowPath"] = shadowUtf8;
    document["translatedBack"] = live;
    document["isSnapshotPath"] = inShadow;
    document["snapshotSetId"] = session.SnapshotSetId();
    session.Complete();
    return output.Finish(0);
}

} // namespace winclass
