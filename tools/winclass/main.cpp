// winclass: libwinclass driven from the command line, as the client's save program
// drives it.
//
//   winclass backup [PATH...] --to DIR [--save-type N] [--writer NAME] [--archive-mark] [--dry-run]
//                  [--retries N] [--retry-wait SECONDS]
//                                      snapshot (tried again for a transient cause), copy from the
//                                      shadow copies, manifest
//   winclass restore BACKUPDIR [--component WRITER\COMPONENT]... [--authoritative] [--to DIR] [--dry-run]
//                                      select, pre-restore, write back, post-restore, writer states
//   winclass map PATH                  where a live path reads from during a snapshot
//   winclass volumes                   the volumes of the host and their mount points
//   winclass critical-volumes          the critical volumes of a disaster recovery, and why
//   winclass writers [--save-type N]   the writers, their lists, and what a save type takes
//   winclass csv list|move NAME NODE|maintenance NAME on|off|check NAME
//                                      the Cluster Shared Volumes of this cluster node
//   winclass sysinfo [--to DIR]        the inventory a bare-metal recovery rebuilds the host from
//   winclass describe-host [--to FILE] [--files DIR...] [--redact]
//                                      the host description of this machine, for winsim
//
// --json prints one JSON document instead of lines. --host (simulated platform) works on
// a described host.
#include "commands.h"
#include "plan.h"
#include "platform.h"

#include <libwinclass/version.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>

namespace {

using namespace winclass;

const char kProgram[] = "winclass";
// The version is the build's (libwinclass/version.h); the manifest format is the one that
// backup writes and restore reads.
const char kVersion[] = "winclass " WINCLASS_VERSION_STRING " (libwinclass, manifest format 3)";
const char *const kSubcommands[] = {"backup",  "restore", "map",    "volumes", "critical-volumes",
                                    "writers", "csv",     "sysinfo", "describe-host"};

std::string Footer()
{
    return "Exit codes:\n"
           "  0  success\n"
           "  1  a step failed (VSS, reading a shadow copy, writing the copies, a writer's file on a volume\n"
           "     not in the snapshot set); the snapshot set is deleted. restore: VSS, writing a file back,\n"
           "     or a restored writer that is not stable afterwards (the writer is named). csv: a move or\n"
           "     maintenance change failed, or check found that a restore must run on the owning node.\n"
           "     sysinfo: the library's scratch folder could not be made, or the inventory is incomplete\n"
           "     (the library's messages say why)\n"
           "  2  bad input: the command line, a save path, the destination, a --writer that takes no part;\n"
           "     restore: a backup folder that is missing, truncated, damaged (a copy whose SHA-256 differs,\n"
           "     a metadata document that does not load or is not this backup's) or of another host, an\n"
           "     unknown writer or component, an unusable --to; no live file is changed. csv: a name no\n"
           "     CSV has, an empty node, a host that is not a cluster node. sysinfo: a --to folder that\n"
           "     does not exist or cannot be written\n"
           "     describe-host: a --to file that cannot be written\n"
           "  3  the host description (--host or WINSIM_HOST) does not load\n"
           "  4  the backup is complete, but the writers were not told, the snapshot set was not deleted\n"
           "     or a Cluster Shared Volume the backup moved here could not be returned to its coordinator.\n"
           "     describe-host: the description is written, but a call failed and its section is left\n"
           "     out (the document's captureNotes and the warnings say which)\n"
           "\n"
           "Environment:\n"
           "  WINSIM_HOST   (simulated platform) a host description file, or an embedded host:\n"
           "                default, cluster-node, cluster-three, hyperv-host, spaces-boot,\n"
           "                dynamic-pack; --host wins over it\n"
           "  WINSIM_ROOT   (simulated platform) where the host's sandbox is made; by default a\n"
           "                folder under $TMPDIR or /tmp, removed when the command ends; a\n"
           "                WINSIM_ROOT keeps the host's files from one command to the next\n"
           "  TLV_LOGSDIR   where the client's logs go\n"
           "\n"
           "Logs (client.log, vsscr.log, debug.log): " +
           LogFolderDescription() +
           ".\n"
           "A backup also keeps a copy of the backup components document in DIR/backup-components.xml,\n"
           "and with a writer save type each selected writer's metadata document in DIR/writers/NAME.xml.\n"
           "\n"
           "Save types (backup --save-type, by number or name):\n"
           "  0 dr-system-state     disaster recovery, then the system-state pass at the snapshot\n"
           "  1 dr                  disaster recovery: system-state writers, the ASR writer, critical volumes\n"
           "  2 system-state        the system-state writers' components on the critical volumes\n"
           "  3 filesystem          the paths given, no writer (the default)\n"
           "  4 replicated-folders  the DFS Replication (or FRS) writer whole\n"
           "\n"
           "Examples: winclass backup --save-type system-state --to backup-tvsrv01 --dry-run\n"
           "          winclass restore backup-tvsrv01 --component 'Registry Writer\\Registry' --dry-run\n";
}

// The first word that is not an option or an option's value: what the user meant as the
// subcommand.
std::string SubcommandWord(const std::vector<std::string> &arguments)
{
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string &word = arguments[i];
        if (word == "--host") {
            ++i;
            continue;
        }
        if (!word.empty() && word[0] == '-')
            continue;
        return word;
    }
    return std::string();
}

// A command line that does not parse: one line (or a JSON error) and exit code 2.
int CommandLineError(bool json, const std::string &text)
{
    Output output(json);
    output.Error(text + " (" + kProgram + " --help lists the subcommands and options)");
    return output.Finish(kExitBadInput);
}

int Run(int argc, char **argv)
{
    CLI::App app{"winclass: the Tolvane backup client's Windows class library, from the command line", kProgram};
    app.require_subcommand(1);
    app.set_version_flag("--version", kVersion);
    // Options of the whole command are taken after the subcommand too.
    app.fallthrough();
    app.footer(Footer());
    bool json = false;
    std::string host;
    app.add_flag("--json", json, "print one JSON document instead of lines");
    app.add_option("--host", host,
                   "the host to work on (simulated platform): a description file, or an embedded host as "
                   "WINSIM_HOST names it (default, cluster-node, cluster-three, hyperv-host, spaces-boot, "
                   "dynamic-pack)");

    BackupOptions backup;
    CLI::App *backupCommand = app.add_subcommand(
        "backup", "back up folders and files, or the files of the writers a save type selects, from a snapshot");
    backupCommand->add_option("paths", backup.paths,
                              "folders or files to save, such as C:\\Data; relative paths are taken against the "
                              "current directory (required with save type 3)");
    backupCommand->add_option("--to", backup.destination,
                              "new or empty folder that receives the copies, the manifest, the backup components "
                              "document and the writers' metadata documents (required unless --dry-run)");
    std::string saveType = "3";
    backupCommand->add_option("--save-type", saveType,
                              "0 dr-system-state, 1 dr, 2 system-state, 3 filesystem (the default), "
                              "4 replicated-folders")
        ->check(CLI::Validator(
            [](std::string &text) {
                return SaveTypeFromText(text) >= 0
                           ? std::string()
                           : "'" + text + "' is not a save type (0 dr-system-state, 1 dr, 2 system-state, 3 "
                                          "filesystem, 4 replicated-folders)";
            },
            "N|NAME"));
    backupCommand->add_option("--writer", backup.writer,
                              "back up this writer's save item alone (with save type 0, 1, 2 or 4)");
    backupCommand->add_flag("--archive-mark", backup.archiveMark,
                            "the selection gives the files of the transacted-database components it takes the "
                            "archive attribute");
    backupCommand->add_flag("--dry-run", backup.dryRun,
                            "print the plan (writers, components, files, bytes, and why) without taking a snapshot "
                            "or writing anything");
    backupCommand->add_flag("--force", backup.force,
                            "write into a destination folder that is not empty (files of the same name are "
                            "replaced)");
    backupCommand
        ->add_option("--retries", backup.retries,
                     "how many times a snapshot that failed for a transient cause is tried again: another "
                     "snapshot set being made, writes that could not be flushed or held, a writer's retryable, "
                     "time-out or out-of-resources error (0: never)")
        ->check(CLI::Range(0, 10))
        ->capture_default_str();
    backupCommand
        ->add_option("--retry-wait", backup.retryWaitSeconds,
                     "seconds between the tries (VSS advises ten minutes for a writer's transient error)")
        ->check(CLI::Range(0, 86400))
        ->capture_default_str();

    RestoreOptions restore;
    CLI::App *restoreCommand = app.add_subcommand(
        "restore", "put back what winclass backup wrote: the writers' components through a VSS restore (select, "
                   "pre-restore, the files, post-restore, each writer's state) and the saved paths");
    restoreCommand->add_option("backupdir", restore.folder, "the folder winclass backup --to wrote")->required();
    restoreCommand->add_option("--component", restore.components,
                               "restore this component alone, as WRITER\\COMPONENT (repeatable); without it every "
                               "writer the backup holds is restored whole, with the saved paths");
    restoreCommand->add_flag("--authoritative", restore.authoritative,
                             "an authoritative restore of the selected writers (the cluster database through "
                             "VSS's authoritative restore, other writers through their restore options)");
    restoreCommand->add_option("--to", restore.target,
                               "a folder of the host (X:\\Folder) that receives the files, laid out as "
                               "DIR\\<drive letter>\\<path>, as the writers' alternate location");
    restoreCommand->add_flag("--dry-run", restore.dryRun,
                             "print the plan (writers, components, restore method and target, alternate locations, "
                             "exclusions, each file's destination) without changing anything");

    std::string mapPath;
    CLI::App *mapCommand = app.add_subcommand(
        "map", "show where a live path reads from during a snapshot (takes a snapshot of its volume, then deletes it)");
    mapCommand->add_option("path", mapPath, "a folder or file, such as C:\\Data\\report.txt")->required();

    CLI::App *volumesCommand = app.add_subcommand("volumes", "list the volumes and their mount points");
    CLI::App *criticalCommand = app.add_subcommand(
        "critical-volumes",
        "list the critical volumes of a disaster-recovery backup with the reason for each, and the volumes refused "
        "(takes no snapshot)");

    WritersOptions writers;
    CLI::App *writersCommand = app.add_subcommand(
        "writers", "list the VSS writers with the list each lands in and why; with --save-type, the writers and "
                   "components that save type takes or leaves out (no snapshot is taken)");
    writersCommand->add_option("--save-type", writers.saveType,
                               "0 or 1 disaster recovery, 2 system state, 3 file system, 4 replicated folders")
        ->check(CLI::Validator(
            [](std::string &text) {
                const bool digits = !text.empty() && text.size() <= 4 &&
                                    std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
                return digits ? std::string() : "'" + text + "' is not a save type (a number: 0, 1, 2, 3 or 4)";
            },
            "N"));

    CsvOptions csv;
    CLI::App *csvCommand = app.add_subcommand(
        "csv", "the Cluster Shared Volumes of this cluster node: list them, move one to a node, turn its maintenance "
               "mode on or off, or check whether a restore of it may run here");
    csvCommand->require_subcommand(1);
    CLI::App *csvList =
        csvCommand->add_subcommand("list", "each CSV with its coordinator node, fault state and maintenance mode");
    CLI::App *csvMove = csvCommand->add_subcommand("move", "move a CSV to a node of the cluster");
    csvMove->add_option("name", csv.name, "the CSV, by its path (C:\\ClusterStorage\\Volume1)")->required();
    csvMove->add_option("node", csv.node, "the node to move it to")->required();
    CLI::App *csvMaintenance = csvCommand->add_subcommand("maintenance", "turn a CSV's maintenance mode on or off");
    csvMaintenance->add_option("name", csv.name, "the CSV, by its path")->required();
    csvMaintenance->add_option("mode", csv.mode, "on or off")->required();
    CLI::App *csvCheck = csvCommand->add_subcommand(
        "check", "what a restore of the save set would be told here: held back when the CSV is in maintenance mode "
                 "and another node owns it");
    csvCheck->add_option("name", csv.name, "the save set, such as C:\\ClusterStorage\\Volume1")->required();

    SysinfoOptions sysinfo;
    CLI::App *sysinfoCommand = app.add_subcommand(
        "sysinfo",
        "write the inventory a bare-metal recovery rebuilds the host from (OSSR_Sysinfo.xml: the host, network "
        "adapters and their addresses, disks and partitions, fixed volumes with their layout and mount points, "
        "Storage Spaces pools) and say where it is; with --json print it too, read back from the document line by "
        "line: each element's attributes are known in order and split on their ' Name=\"' separators, since the "
        "values are written unescaped (a value holding the separator of a later attribute is cut there)");
    sysinfoCommand->add_option("--to", sysinfo.to,
                               "an existing folder of the host that receives OSSR_Sysinfo.xml (written in a scratch "
                               "folder made inside it, then moved); without it the document stays in the library's "
                               "scratch folder under the client's temporary folder");

    DescribeOptions describe;
    CLI::App *describeCommand = app.add_subcommand(
        "describe-host",
        "write the host description of this machine (the JSON document winsim loads: Windows version, firmware, "
        "names, code page, the environment and registry values the library reads, disks with their partitions, "
        "volumes with their extents and mount folders, network adapters, storage pools, the cluster, the VSS "
        "writers, the SQL Server instances the database policy asks), read through the calls the library makes; "
        "a section whose call failed is left out and listed in captureNotes (exit 4); no file's content is read. "
        "The output is JSON whether or not --json is given");
    describeCommand->add_option("--to", describe.to,
                                "a file of the machine running the command that receives the description "
                                "(replaced when it exists); without it, standard output");
    describeCommand->add_option("--files", describe.files,
                                "host folders (such as C:\\ or D:\\Shares) whose listings below are described: "
                                "each file's name, attributes and size, with generated bytes of that size; no file "
                                "is read, and mount folders and junctions are not entered");
    describeCommand->add_flag("--redact", describe.redact,
                              "replace the host, domain, cluster, node, user, SQL Server instance and network "
                              "adapter names, the addresses and the volumes' serial numbers with placeholders "
                              "(HOST01, NODE01, 10.0.0.1...), the same value always with the same one, so that "
                              "the description can be sent; volume GUIDs, disks, sizes, file systems, labels, "
                              "writers and components are kept, and so are file names beyond the user names "
                              "and host names in their paths");

    std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    const bool jsonAsked = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
    const std::string word = SubcommandWord(arguments);
    if (!word.empty() && std::find(std::begin(kSubcommands), std::end(kSubcommands), word) == std::end(kSubcommands))
        return CommandLineError(jsonAsked,
                                "unknown subcommand '" + word +
                                    "'; the subcommands are backup, restore, map, volumes, critical-volumes, "
                                    "writers, csv, sysinfo, describe-host");
    std::reverse(arguments.begin(), arguments.end());
    arguments.pop_back();  // the program name
    try {
        app.parse(arguments);
    } catch (const CLI::CallForHelp &request) {
        return app.exit(request);
    } catch (const CLI::CallForAllHelp &request) {
        return app.exit(request);
    } catch (const CLI::CallForVersion &request) {
        return app.exit(request);
    } catch (const CLI::ParseError &failure) {
        return CommandLineError(jsonAsked, failure.what());
    }

    // describe-host writes its own JSON document; its failures stay plain lines.
    Output output(json && !*describeCommand);
    std::string error;
    if (!host.empty() ? !UseDescribedHost(host, &error) : !UseHostFromEnvironment(&error)) {
        output.Error((host.empty() ? std::string() : host + ": ") + "the host description does not load: " + error);
        return output.Finish(kExitHostNotLoaded);
    }
    PrepareLogs();
    output.BeforeFinish([](Output &out, int exitCode) {
        std::string folder, failure;
        if (!KeepLogs(&folder, &failure))
            out.Warning(failure);
        else if (!folder.empty())
            out.Document()["logFolder"] = folder;
        // Bad input is the command line's fault: its one line says all there is.
        if (exitCode != kExitSuccess && exitCode != kExitBadInput && !folder.empty() && !out.Json())
            std::fprintf(stderr, "winclass: the client's logs are in %s\n", folder.c_str());
    });
    if (*backupCommand) {
        backup.saveType = SaveTypeFromText(saveType);
        return RunBackup(backup, output);
    }
    if (*restoreCommand)
        return RunRestore(restore, output);
    if (*mapCommand)
        return RunMap(mapPath, output);
    if (*volumesCommand)
        return RunVolumes(output);
    if (*criticalCommand)
        return RunCriticalVolumes(output);
    if (*writersCommand)
        return RunWriters(writers, output);
    if (*sysinfoCommand)
        return RunSysinfo(sysinfo, output);
    if (*describeCommand)
        return RunDescribeHost(describe, output);
    if (*csvCommand) {
        csv.action = *csvList ? "list" : *csvMove ? "move" : *csvMaintenance ? "maintenance" : "check";
        return RunCsv(csv, output);
    }
    return output.Finish(kExitBadInput);
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing a command does ends in an uncaught exception: a failure is one line and an
    // exit code.
    try {
        return Run(argc, argv);
    } catch (const std::exception &failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "winclass: internal error: %s\n", failure.what());
    } catch (...) {
        std::fflush(stdout);
        std::fprintf(stderr, "winclass: internal error\n");
    }
    std::fflush(stderr);
    return kExitStepFailed;
}
