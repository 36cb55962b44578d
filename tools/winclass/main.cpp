// winclass: libwinclass driven from the command line, as the client's save program
// drives it.
//
//   winclass backup PATH... --to DIR   snapshot, copy from the shadow copies, manifest
//   winclass map PATH                  where a live path reads from during a snapshot
//   winclass volumes                   the volumes of the host and their mount points
//
// --json prints one JSON document instead of lines. --host FILE (simulated platform)
// works on a described host.
#include "commands.h"
#include "platform.h"

#include <CLI/CLI.hpp>

#include <algorithm>

int main(int argc, char **argv)
{
    using namespace winclass;

    CLI::App app{"winclass: the Tolvane backup client's Windows class library, from the command line"};
    app.require_subcommand(1);
    bool json = false;
    std::string hostFile;
    app.add_flag("--json", json, "print one JSON document instead of lines");
    app.add_option("--host", hostFile, "JSON description of the simulated host to work on");

    BackupOptions backup;
    CLI::App *backupCommand = app.add_subcommand("backup", "back up folders and files from a snapshot");
    backupCommand->add_option("paths", backup.paths, "folders or files to save, such as C:\\Data")->required();
    backupCommand->add_option("--to", backup.destination, "folder that receives the copies and the manifest")
        ->required();

    std::string mapPath;
    CLI::App *mapCommand = app.add_subcommand("map", "show where a live path reads from during a snapshot");
    mapCommand->add_option("path", mapPath, "a folder or file, such as C:\\Data\\report.txt")->required();

    CLI::App *volumesCommand = app.add_subcommand("volumes", "list the volumes and their mount points");

    std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    std::reverse(arguments.begin(), arguments.end());
    arguments.pop_back();  // the program name
    try {
        app.parse(arguments);
    } catch (const CLI::ParseError &failure) {
        return app.exit(failure);
    }

    Output output(json);
    if (!hostFile.empty()) {
        std::string error;
        if (!UseDescribedHost(hostFile, &error)) {
            output.Error(hostFile + ": " + error);
            return output.Finish(2);
        }
    }
    if (*backupCommand)
        return RunBackup(backup, output);
    if (*mapCommand)
        return RunMap(mapPath, output);
    if (*volumesCommand)
        return RunVolumes(output);
    return 2;
}
