// The winclass command on simulated hosts: what it copies must be what the volumes held
// when the snapshot was taken, its manifest must describe the copies, every failure must
// name its cause and leave no snapshot behind.
#include "commandtest.h"
#include "commands.h"
#include "output.h"
#include "paths.h"
#include "sha256.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <winsim/host.h>
#include <winsim/hostmodel.h>
#include <winsim/shadow.h>
#include <winsim/vss.h>

#include <vsserror.h>

#include <fnmatch.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using nlohmann::json;
using commandtest::Fresh;
using commandtest::ProgramRun;
using commandtest::ReadAll;
using commandtest::RunProgram;

namespace {

std::string Sha256Of(const std::string &bytes)
{
    winclass::Sha256 digest;
    digest.Update(bytes.data(), bytes.size());
    return digest.HexDigest();
}

// C:\Data\a.txt -> DEST/C/Data/a.txt, as the command lays copies out.
fs::path CopyOf(const fs::path &destination, const std::string &windowsPath)
{
    fs::path result = destination / windowsPath.substr(0, 1);
    std::stringstream rest(windowsPath.substr(3));
    std::string part;
    while (std::getline(rest, part, '\\'))
        result /= fs::u8path(part);
    return result;
}

// Each file the host description seeds under the folders must be copied whole under
// destination; answers how many there are.
size_t ExpectCopied(const json &host, const std::vector<std::string> &folders, const fs::path &destination)
{
    size_t files = 0;
    for (const std::string &folder : folders)
        for (const json &file : host.value("files", json::array())) {
            const std::string path = file.value("path", "");
            if (file.contains("content") && path.compare(0, folder.size() + 1, folder + "\\") == 0) {
                ++files;
                EXPECT_EQ(ReadAll(CopyOf(destination, path)), file["content"].get<std::string>()) << path;
            }
        }
    return files;
}

// The volumes of the snapshot set, as a backup's document or manifest lists them.
std::vector<std::string> VolumesOf(const json &document)
{
    std::vector<std::string> volumes;
    for (const json &volume : document["volumes"])
        volumes.push_back(volume["volume"]);
    return volumes;
}

// The default host with its folder-mounted volume under a non-ASCII folder, and a file
// whose name lies outside the Basic Multilingual Plane.
json UnicodeHost()
{
    std::string text = winsim::EmbeddedHostJson("default");
    for (size_t at; (at = text.find("D:\\\\Mount\\\\Archive")) != std::string::npos;)
        text.replace(at, 18, "D:\\\\Mounts\\\\Проект-数据");
    json host = json::parse(text);
    host["files"].push_back({{"path", "D:\\emoji\\🎉 party 🦄.txt"}, {"content", "confetti"}});
    return host;
}

// What the command said: its error and warnings, one text.
std::string Said(const json &document)
{
    std::string said = document.value("error", "");
    for (const json &warning : document.value("warnings", json::array()))
        said += " | " + warning.get<std::string>();
    return said;
}

int Backup(winclass::BackupOptions options, json *document)
{
    options.retryWaitSeconds = 0;
    winclass::Output output(true);
    int code = winclass::RunBackup(options, output);
    *document = output.Document();
    return code;
}

int Backup(const std::vector<std::string> &paths, const fs::path &destination, json *document, bool force = false,
           int retries = 3)
{
    winclass::BackupOptions options;
    options.paths = paths;
    options.destination = destination.string();
    options.force = force;
    options.retries = retries;
    return Backup(options, document);
}

winclass::BackupOptions WriterOptions(int saveType, const fs::path &destination, bool dryRun = false)
{
    winclass::BackupOptions options;
    options.saveType = saveType;
    options.destination = destination.string();
    options.dryRun = dryRun;
    return options;
}

// "writer|component" -> the (path, size) of its files, as a plan or a manifest lists them.
std::map<std::string, std::set<std::pair<std::string, uint64_t>>> TakenFiles(const json &writers)
{
    std::map<std::string, std::set<std::pair<std::string, uint64_t>>> taken;
    for (const json &writer : writers)
        for (const json &component : writer["components"]) {
            auto &files = taken[writer["name"].get<std::string>() + "|" + component["name"].get<std::string>()];
            for (const json &file : component["files"])
                files.emplace(file["path"].get<std::string>(), file["size"].get<uint64_t>());
        }
    return taken;
}

std::string Folded(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

// The described files a writer's file specification names, worked out from the host
// description alone: folder (or below it, recursive) and a wildcard name.
std::set<std::string> DescribedFilesOf(const json &host, const json &spec)
{
    std::string folder = Folded(spec["path"]), filespec = Folded(spec["filespec"]);
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    if (filespec == "*.*")
        filespec = "*";
    std::set<std::string> named;
    for (const json &file : host["files"]) {
        const std::string path = file["path"], folded = Folded(path);
        const size_t separator = folded.rfind('\\');
        const std::string in = folded.substr(0, separator);
        const bool under = in == folder || (spec.value("recursive", false) && in.rfind(folder + "\\", 0) == 0);
        if (!file.value("directory", false) && under && fnmatch(filespec.c_str(), folded.c_str() + separator + 1, 0) == 0)
            named.insert(path);
    }
    return named;
}

} // namespace

TEST(Sha256, KnownDigestsOnEachEngine)
{
    using Engine = winclass::Sha256::Engine;
    const std::string million(1000000, 'a');
    const struct {
        std::string message;
        const char *digest;
    } kKnown[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // Two blocks, and a length that puts the padding across a block boundary.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    for (Engine engine : {Engine::Portable, Engine::Fastest})
        for (const auto &known : kKnown) {
            // Whole, and in pieces that straddle the 64-byte blocks.
            winclass::Sha256 whole(engine), pieces(engine);
            whole.Update(known.message.data(), known.message.size());
            for (size_t at = 0; at < known.message.size(); at += 999)
                pieces.Update(known.message.data() + at, std::min<size_t>(999, known.message.size() - at));
            EXPECT_EQ(whole.HexDigest(), known.digest) << int(engine) << " " << known.message.size();
            EXPECT_EQ(pieces.HexDigest(), known.digest) << int(engine) << " " << known.message.size();
        }
    // A long random input, read in uneven pieces: the engines agree on every prefix length.
    std::mt19937 random(7);
    std::string bytes(3 << 20, '\0');
    for (char &c : bytes)
        c = char(random());
    for (size_t length : {size_t(55), size_t(64 * 1000 + 63), bytes.size()}) {
        winclass::Sha256 portable(Engine::Portable), fastest(Engine::Fastest);
        for (size_t at = 0, piece = 1; at < length; at += piece, piece = piece * 7 % 100003 + 1) {
            portable.Update(bytes.data() + at, std::min(piece, length - at));
            fastest.Update(bytes.data() + at, std::min(piece, length - at));
        }
        EXPECT_EQ(portable.HexDigest(), fastest.HexDigest()) << length;
    }
    if (!winclass::Sha256::HasShaInstructions())
        std::printf("note: no SHA instructions on this processor; both engines ran the portable code\n");
}

// Spellings a user types, and what the backup records (or why it refuses, before any
// snapshot exists).
TEST(WinclassPaths, CanonicalBeforeTheSnapshot)
{
    const struct {
        const char *given;
        const char *path;    // the canonical path, or
        const char *volume;  // its volume, or
        const char *error;   // a piece of the refusal
    } kCases[] = {
        {"Users\\Administrator", "C:\\Users\\Administrator", "C:\\", nullptr},
        {"\\\\?\\E:\\Projects", "E:\\Projects", "E:\\", nullptr},
        {"E:\\Projects\\..\\Projects", "E:\\Projects", "E:\\", nullptr},
        {"D:\\Mount\\\\Archive\\2025", "D:\\Mount\\Archive\\2025", "D:\\Mount\\Archive\\", nullptr},
        {"e:\\projects\\PLAN.TXT", "E:\\Projects\\plan.txt", "E:\\", nullptr},
        {"d:/shares//finance/", "D:\\Shares\\Finance", "D:\\", nullptr},
        {"\\\\?\\Volume{6f8b0d24-e507-4c93-9d4f-5b7c9e1a3f59}\\Projects", "E:\\Projects", "E:\\", nullptr},
        {"G:\\", nullptr, nullptr, "G:\\ is removable media"},
        {"Z:\\", nullptr, nullptr, "Z:\\ is an optical drive"},
        {"Q:\\Data", nullptr, nullptr, "Q:\\Data: no such volume Q:\\"},
        {"C:\\no\\such", nullptr, nullptr, "cannot find"},
        {"C:\\Users\\*", nullptr, nullptr, "are not allowed"},
        {"\\\\server\\share", nullptr, nullptr, "network path"},
        {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy1", nullptr, nullptr, "device"},
    };
    for (const auto &c : kCases) {
        winclass::SavePath savePath;
        std::string error;
        const bool ok = winclass::CanonicalSavePath(c.given, &savePath, &error);
        if (c.path) {
            ASSERT_TRUE(ok) << c.given << ": " << error;
            EXPECT_EQ(winclass::Shown(savePath.path), c.path) << c.given;
            EXPECT_EQ(winclass::Shown(savePath.volume), c.volume) << c.given;
        } else {
            EXPECT_FALSE(ok) << c.given;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.given << ": " << error;
        }
    }
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

TEST(WinclassBackup, CopiesTheDefaultHostsFoldersFromTheShadowCopies)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    // A file of three copy pieces, the last one short: hashed on a second thread a piece behind.
    const size_t kLarge = (8 << 20) + 1000;
    host["files"].push_back({{"path", "D:\\Shares\\disk.vhdx"}, {"size", kLarge}, {"seed", 5}});
    winsim::ReplaceHost(winsim::ParseHost(host.dump()));
    fs::path destination = Fresh("default");
    const std::vector<std::string> folders = {"C:\\Users\\Administrator\\Documents", "D:\\Shares",
                                              "D:\\Mount\\Archive"};
    json document;
    ASSERT_EQ(Backup(folders, destination, &document), 0) << document.dump(2);

    const size_t expected = ExpectCopied(host, folders, destination) + 1;
    ASSERT_GT(expected, 2u);
    std::string large(kLarge, '\0');
    winsim::GenerateFileBytes(5, 0, &large[0], kLarge);
    EXPECT_TRUE(ReadAll(CopyOf(destination, "D:\\Shares\\disk.vhdx")) == large);
    // The empty folder is there too.
    EXPECT_TRUE(fs::is_directory(destination / "D" / "Shares" / "Finance" / "old"));

    json manifest = json::parse(ReadAll(destination / "manifest.json"));
    EXPECT_EQ(manifest["formatVersion"], 3);
    EXPECT_EQ(manifest["snapshotSetId"], document["snapshotSetId"]);
    EXPECT_EQ(manifest["totals"]["files"], expected);
    size_t files = 0, bytes = 0;
    for (const json &entry : manifest["files"]) {
        EXPECT_TRUE(entry.contains("lastWriteTime") && entry.contains("attributes")) << entry.dump();
        if (entry["kind"] == "folder") {
            EXPECT_TRUE(fs::is_directory(fs::u8path(entry["copiedTo"].get<std::string>()))) << entry.dump();
            continue;
        }
        ++files;
        std::string copy = ReadAll(fs::u8path(entry["copiedTo"].get<std::string>()));
        bytes += copy.size();
        EXPECT_EQ(entry["size"].get<uint64_t>(), copy.size());
        EXPECT_EQ(entry["sha256"], Sha256Of(copy));
        const std::string shadowPath = entry["shadowPath"];
        EXPECT_EQ(shadowPath.rfind("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", 0), 0u) << shadowPath;
    }
    EXPECT_EQ(files, expected);
    EXPECT_EQ(manifest["totals"]["bytes"], bytes);
    // The mounted volume and the volume it is mounted in are both in the set.
    const std::vector<std::string> volumes = VolumesOf(manifest);
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), "D:\\Mount\\Archive\\"), volumes.end());
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), "D:\\"), volumes.end());
    // The document outlives the command's per-process folder.
    EXPECT_NE(ReadAll(destination / "backup-components.xml").find("<"), std::string::npos);
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty()) << "the snapshot set outlived the command";
}

TEST(WinclassBackup, OverlappingSavePathsCopyEachFileOnceUnderItsOwnName)
{
    fs::path destination = Fresh("overlap");
    json document;
    ASSERT_EQ(Backup({"E:\\Projects", "e:\\projects\\plan.txt", "E:\\Projects", "d:\\"}, destination, &document), 0)
        << document.dump(2);
    std::vector<std::string> paths;
    for (const json &entry : document["files"])
        paths.push_back(entry["path"]);
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "E:\\Projects\\plan.txt"), 1) << document["files"].dump(2);
    EXPECT_TRUE(fs::exists(destination / "E" / "Projects" / "plan.txt"));
    EXPECT_FALSE(fs::exists(destination / "e"));
    EXPECT_EQ(document["savePaths"], json({"D:\\", "E:\\Projects"}));
    // D:\ does not cross into the volume mounted in it, and says so.
    EXPECT_NE(document["notices"].dump().find("D:\\\\Mount\\\\Archive"), std::string::npos) << document.dump(2);
}

TEST(WinclassBackup, NamesOutsideTheBmpAndNonAsciiMountFoldersAreKeptWhole)
{
    const json host = UnicodeHost();
    winsim::ReplaceHost(winsim::ParseHost(host.dump()));
    fs::path destination = Fresh("unicode");
    json document;
    ASSERT_EQ(Backup({"D:\\", "D:\\Mounts\\Проект-数据"}, destination, &document), 0) << document.dump(2);
    EXPECT_EQ(ReadAll(destination / "D" / "emoji" / fs::u8path("🎉 party 🦄.txt")), "confetti");
    EXPECT_EQ(ReadAll(destination / "D" / fs::u8path("Mounts") / fs::u8path("Проект-数据") / "2025" / "q4.txt"),
              ReadAll(CopyOf(destination, "D:\\Mounts\\Проект-数据\\2025\\q4.txt")));
    json manifest = json::parse(ReadAll(destination / "manifest.json"));
    EXPECT_NE(manifest.dump().find("D:\\\\emoji\\\\🎉 party 🦄.txt"), std::string::npos);
    EXPECT_NE(manifest["volumes"].dump().find("\"D:\\\\Mounts\\\\Проект-数据\\\\\""), std::string::npos)
        << manifest["volumes"].dump();
    // The volumes command lists every volume once, the folder-mounted one with its folder.
    winclass::Output output(true);
    ASSERT_EQ(winclass::RunVolumes(output), 0);
    const json &volumes = output.Document()["volumes"];
    EXPECT_EQ(volumes.size(), host["volumes"].size());
    std::string mountPoints;
    for (const json &volume : volumes)
        mountPoints += volume["mountPoints"].dump();
    EXPECT_NE(mountPoints.find("\"D:\\\\Mounts\\\\Проект-数据\\\\\""), std::string::npos) << volumes.dump();
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

// The simulated file system keeps names as UTF-8, so a lone surrogate reaches the command
// only on Windows: its conversion is checked alone.
TEST(WinclassPaths, NamesConvertWholeOrNotAtAll)
{
    const struct {
        std::u16string wide;
        const char *utf8;  // nullptr: no UTF-8 form
        const char *shown;
    } kCases[] = {
        {u"\U0001F389 party \U0001F984.txt", "\xF0\x9F\x8E\x89 party \xF0\x9F\xA6\x84.txt", nullptr},
        {u"\u041F\u0440\u043E\u0435\u043A\u0442-\u6570\u636E",
         "\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82-\xE6\x95\xB0\xE6\x8D\xAE", nullptr},
        {u"half\xD83Cmoon", nullptr, "half\xEF\xBF\xBDmoon"},
        {u"tail\xDC00", nullptr, "tail\xEF\xBF\xBD"},
    };
    for (const auto &c : kCases) {
        std::string utf8;
        const bool converted = winclass::WideToUtf8(c.wide, &utf8);
        EXPECT_EQ(converted, c.utf8 != nullptr) << c.shown;
        EXPECT_EQ(winclass::Shown(c.wide), c.utf8 ? c.utf8 : c.shown);
        std::u16string back;
        if (converted) {
            EXPECT_TRUE(winclass::Utf8ToWide(utf8, &back));
            EXPECT_EQ(back, c.wide);
        }
    }
    std::u16string wide;
    EXPECT_FALSE(winclass::Utf8ToWide("bad \xC3(", &wide));
}

TEST(WinclassBackup, TheDestinationIsNewOrEmptyOrForcedAndMadeOnlyForSoundInput)
{
    fs::path destination = Fresh("destination");
    json document;
    // Bad input makes nothing.
    EXPECT_EQ(Backup({"D:\\Shares", "Q:\\Data"}, destination, &document), 2);
    EXPECT_FALSE(fs::exists(destination));
    // A folder that is not empty is refused, and left as it was; --force takes it.
    fs::create_directories(destination);
    std::ofstream(destination / "stale.txt") << "stale";
    EXPECT_EQ(Backup({"D:\\Shares"}, destination, &document), 2);
    EXPECT_NE(Said(document).find("not empty"), std::string::npos) << Said(document);
    EXPECT_FALSE(fs::exists(destination / "manifest.json"));
    EXPECT_EQ(Backup({"D:\\Shares"}, destination, &document, true), 0) << Said(document);
    EXPECT_TRUE(fs::exists(destination / "D" / "Shares" / "Finance" / "ledger.csv"));
    // A destination that is a file.
    EXPECT_EQ(Backup({"D:\\Shares"}, destination / "stale.txt", &document), 2);
    EXPECT_NE(Said(document).find("not a folder"), std::string::npos) << Said(document);
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

TEST(WinclassBackup, AFileThatCannotBeReadFromTheShadowCopyEndsTheBackup)
{
    // Copies are numbered from 1 in a fresh process; whichever device C: gets, its copy
    // of the document cannot be opened.
    for (int device = 1; device <= 8; ++device)
        winsim::InjectError("CreateFileW",
                            u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy" +
                                std::u16string(1, char16_t(u'0' + device)) +
                                u"\\Users\\Administrator\\Documents\\report.txt",
                            ERROR_SHARING_VIOLATION, false);
    fs::path destination = Fresh("unreadable");
    json document;
    EXPECT_EQ(Backup({"C:\\Users\\Administrator\\Documents"}, destination, &document), 1);
    std::string error = document["error"];
    EXPECT_NE(error.find("C:\\Users\\Administrator\\Documents\\report.txt"), std::string::npos) << error;
    EXPECT_NE(error.find("being used by another process"), std::string::npos) << error;
    EXPECT_EQ(document["failedStep"], "copy");
    EXPECT_FALSE(fs::exists(destination / "manifest.json"));
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    winsim::ClearFaults();
}

// A fault at each VSS step of a backup in turn: the failure names the step, the call and
// its HRESULT; nothing is written for a failed step, and no shadow copy is left. A failed
// completion or deletion is a warning beside a complete backup.
TEST(WinclassBackup, AFailureAtEachVssStepIsNamedWithItsHresult)
{
    const struct {
        const char *function;
        const char16_t *argument;
        HRESULT hresult;
        int exitCode;
        const char *said;  // also the HRESULT, always
    } kCases[] = {
        {"IVssBackupComponents::InitializeForBackup", u"", VSS_E_UNEXPECTED, 1, "InitializeForBackup failed"},
        {"IVssBackupComponents::GatherWriterMetadata", u"", E_ACCESSDENIED, 1, "InitializeForBackup failed"},
        {"IVssBackupComponents::StartSnapshotSet", u"", VSS_E_SNAPSHOT_SET_IN_PROGRESS, 1,
         "D:\\ could not join the snapshot set: AddVolToSnapset failed"},
        {"IVssBackupComponents::AddToSnapshotSet", u"E:\\", E_ACCESSDENIED, 1,
         "E:\\ could not join the snapshot set: AddVolToSnapset failed for E:\\"},
        {"GetVolumeNameForVolumeMountPointW", u"E:\\", HRESULT_FROM_WIN32(ERROR_NOT_READY), 1,
         "AddVolToSnapset failed for E:\\"},
        {"IVssBackupComponents::PrepareForBackup", u"", VSS_E_BAD_STATE, 1, "DoSnapshot failed"},
        {"IVssBackupComponents::DoSnapshotSet", u"", VSS_E_PROVIDER_VETO, 1, "DoSnapshot failed"},
        {"IVssBackupComponents::GetSnapshotProperties", u"", VSS_E_OBJECT_NOT_FOUND, 1, "DoSnapshot failed"},
        {"IVssBackupComponents::SaveAsXML", u"", E_OUTOFMEMORY, 1, "SaveBcdAsXML failed"},
        {"IVssBackupComponents::BackupComplete", u"", VSS_E_BAD_STATE, 4, "writers were not told"},
        {"IVssBackupComponents::DeleteSnapshots", u"", E_ACCESSDENIED, 4, "could not be deleted"},
    };
    int run = 0;
    for (const auto &c : kCases) {
        winsim::InjectHresult(c.function, c.argument, c.hresult);
        fs::path destination = Fresh("fault-" + std::to_string(++run));
        json document;
        EXPECT_EQ(Backup({"D:\\Shares", "E:\\Projects"}, destination, &document, false, 0), c.exitCode)
            << c.function;
        const std::string said = Said(document);
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", unsigned(c.hresult));
        EXPECT_NE(said.find(c.said), std::string::npos) << c.function << ": " << said;
        EXPECT_NE(said.find(code), std::string::npos) << c.function << ": " << said;
        EXPECT_EQ(fs::exists(destination / "manifest.json"), c.exitCode == 4) << c.function;
        const std::string step = c.said;
        const bool beforeSnapshot =
            step.find("DoSnapshot") == std::string::npos && step.find("SaveBcd") == std::string::npos;
        if (c.exitCode == 1 && beforeSnapshot) {
            EXPECT_FALSE(fs::exists(destination)) << c.function << ": made before the snapshot";
        }
        // Released backup components take their non-persistent shadow copies with them,
        // also when DeleteSnapshots failed.
        EXPECT_TRUE(winsim::ShadowCopyDevices().empty()) << c.function;
        winsim::ClearFaults();
    }
}

// A cause VSS calls transient is tried again from the snapshot set up, within the bound,
// each retry said with its reason; a lasting one is not tried again. A writer that failed
// the snapshot stops the backup: its copies would not be consistent.
TEST(WinclassBackup, ATransientFailureIsTriedAgainWithinTheBoundAndSaid)
{
    const struct {
        const char *function;
        const char16_t *argument;  // a writer's name: that writer fails
        HRESULT hresult;
        int times;       // the fault is met by this many tries in a row
        int saveType, retries;
        int exitCode;
        size_t retried;
        const char *said;  // the first retry's reason, or the error when none
    } kCases[] = {
        {"IVssBackupComponents::StartSnapshotSet", u"", VSS_E_SNAPSHOT_SET_IN_PROGRESS, 1, 3, 3, 0, 1,
         "AddVolToSnapset failed for D:\\: 0x80042316"},
        {"IVssBackupComponents::DoSnapshotSet", u"", VSS_E_FLUSH_WRITES_TIMEOUT, 2, 3, 3, 0, 2, "DoSnapshot failed: 0x80042313"},
        {"IVssBackupComponents::DoSnapshotSet", u"", VSS_E_SNAPSHOT_SET_IN_PROGRESS, 3, 3, 2, 1, 2, "0x80042316"},
        {"IVssBackupComponents::DoSnapshotSet", u"", VSS_E_HOLD_WRITES_TIMEOUT, 1, 3, 0, 1, 0, "0x80042314"},
        {"IVssBackupComponents::DoSnapshotSet", u"", VSS_E_PROVIDER_VETO, 1, 3, 3, 1, 0, "DoSnapshot failed: 0x80042306"},
        {"IVssBackupComponents::PrepareForBackup", u"Registry Writer", VSS_E_WRITERERROR_RETRYABLE, 1, 2, 3, 0, 1,
         "writer Registry Writer failed while the snapshot was made: VSS_WS_FAILED_AT_PREPARE_BACKUP, 0x800423F3"},
        {"IVssBackupComponents::DoSnapshotSet", u"System Writer", VSS_E_WRITERERROR_TIMEOUT, 4, 2, 3, 1, 3,
         "VSS_WS_FAILED_AT_FREEZE, 0x800423F2"},
        {"IVssBackupComponents::PrepareForBackup", u"Registry Writer", VSS_E_WRITERERROR_NONRETRYABLE, 1, 2, 3, 1, 0,
         "writer Registry Writer failed while the snapshot was made: VSS_WS_FAILED_AT_PREPARE_BACKUP, 0x800423F4"},
    };
    int run = 0;
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::string(c.function) + " " + std::to_string(run));
        for (int time = 0; time < c.times; ++time)
            winsim::InjectHresult(c.function, c.argument, c.hresult);
        winclass::BackupOptions options = WriterOptions(c.saveType, Fresh("retry-" + std::to_string(++run)));
        if (c.saveType == 3)
            options.paths = {"D:\\Shares"};
        options.retries = c.retries;
        json document;
        EXPECT_EQ(Backup(options, &document), c.exitCode) << Said(document);
        const json retries = document.value("retries", json::array());
        ASSERT_EQ(retries.size(), c.retried) << document.dump();
        const std::string said = c.retried ? retries[0]["reason"].get<std::string>() : Said(document);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        for (size_t at = 0; at < retries.size(); ++at) {
            EXPECT_EQ(retries[at]["retry"], at + 1);
            EXPECT_NE(retries[at]["error"].get<std::string>().find(c.said), std::string::npos) << retries[at];
        }
        EXPECT_EQ(document.contains("error"), c.exitCode != 0) << Said(document);
        EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
        winsim::ClearFaults();
    }
}

TEST(WinclassMap, AnswersForTheCanonicalPath)
{
    const struct {
        const char *given;
        const char *path, *volume, *relative;
    } kCases[] = {
        {"D:\\Mount\\Archive\\2025\\q4.txt", "D:\\Mount\\Archive\\2025\\q4.txt", "D:\\Mount\\Archive\\",
         "2025\\q4.txt"},
        {"Users\\Administrator", "C:\\Users\\Administrator", "C:\\", "Users\\Administrator"},
    };
    for (const auto &c : kCases) {
        winclass::Output output(true);
        ASSERT_EQ(winclass::RunMap(c.given, output), 0) << output.Document().dump(2);
        const json &document = output.Document();
        EXPECT_EQ(document["path"], c.path);
        EXPECT_EQ(document["volume"], c.volume);
        EXPECT_EQ(document["shadowPath"], document["shadowRoot"].get<std::string>() + c.relative);
        EXPECT_EQ(document["translatedBack"], c.path);
        EXPECT_TRUE(document["isSnapshotPath"].get<bool>());
    }
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

TEST(WinclassWriters, ClassifiesEveryWriterAndPlansEachSaveTypeWithoutASnapshot)
{
    struct Case {
        int saveType;
        const char *taken;    // "writer|component" (or "writer") the plan selects; "" for none
        bool addsVolumes;
    } const cases[] = {{-1, "", false}, {2, "System Writer|System Files", true}, {1, "Registry Writer|Registry", true},
                       {4, "DFS Replication service writer", false}, {7, "", false}};
    const size_t writers = json::parse(winsim::EmbeddedHostJson("default"))["writers"].size();
    for (const Case &c : cases) {
        SCOPED_TRACE("save type " + std::to_string(c.saveType));
        winclass::Output output(true);
        ASSERT_EQ(winclass::RunWriters(winclass::WritersOptions{c.saveType}, output), 0) << Said(output.Document());
        const json &document = output.Document();
        EXPECT_EQ(document["writerCount"], writers);
        EXPECT_EQ(document["writers"].size(), writers) << "each writer once, with its classes";
        for (const json &writer : document["writers"])
            EXPECT_FALSE(writer["classes"].empty()) << writer["name"];
        EXPECT_EQ(document.contains("plan"), c.saveType >= 0);
        const json plan = document.value("plan", json::object());
        EXPECT_EQ(!plan.value("addedVolumes", json::array()).empty(), c.addsVolumes);
        std::set<std::string> taken;
        for (const json &d : plan.value("decisions", json::array()))
            if (d["taken"].get<bool>())
                taken.insert(d["writer"].get<std::string>() + (d.contains("component") ? "|" + d["component"].get<std::string>() : ""));
        EXPECT_EQ(taken.count(c.taken), *c.taken ? 1u : 0u);
        EXPECT_EQ(taken.empty(), *c.taken == 0);
        EXPECT_TRUE(winsim::VssSnapshots().empty());
    }
}

TEST(WinclassCriticalVolumes, EveryVolumeWithItsFlagsDisksAndReasonWithoutASnapshot)
{
    const struct {
        const char *volume;
        unsigned flags;
        const char *disks, *verdict, *writer;
    } expected[] = {
        {"\\\\?\\Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}", 34, "0", "BCD", "ASR Writer"},
        {"C:\\", 2, "0", "critical", "System Writer"},
        {"D:\\", 2, "1", "critical", "DFS Replication service writer"},
    };
    winclass::Output output(true);
    ASSERT_EQ(winclass::RunCriticalVolumes(output), 0);
    const json &volumes = output.Document()["criticalVolumes"];
    ASSERT_EQ(volumes.size(), std::size(expected)) << volumes.dump();
    for (size_t i = 0; i < volumes.size(); ++i) {
        EXPECT_EQ(volumes[i]["volume"], expected[i].volume);
        EXPECT_EQ(volumes[i]["flags"], expected[i].flags) << expected[i].volume;
        EXPECT_EQ(volumes[i]["disks"], expected[i].disks) << expected[i].volume;
        EXPECT_EQ(volumes[i]["reasons"][0]["verdict"], expected[i].verdict) << expected[i].volume;
        EXPECT_EQ(volumes[i]["reasons"][0]["writer"], expected[i].writer) << expected[i].volume;
    }
    EXPECT_EQ(output.Document()["refused"], json::array());
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

// A system-state backup of the default host: each selected component's files, as the
// host describes them, copied whole, a file two components name copied once, a file an
// exclude list names left out; the dry run plans exactly what the backup then takes. (The
// library promotes writers in the first session of a process only, so the plan is made by
// the program.)
TEST(WinclassWriterBackup, SystemStateCopiesEveryFileOfEverySelectedComponentAsPlanned)
{
    json host = json::parse(winsim::EmbeddedHostJson("default"));
    const std::string hosts = "C:\\Windows\\System32\\drivers\\etc\\hosts", excluded = "C:\\Windows\\System32\\ntdll.dll";
    for (json &writer : host["writers"]) {
        if (writer["name"] == "Registry Writer")
            writer["components"][0]["files"].push_back({{"path", "C:\\Windows\\System32\\drivers\\etc\\"}, {"filespec", "hosts"}});
        if (writer["name"] == "Shadow Copy Optimization Writer")
            writer["excludeFiles"].push_back({{"path", "C:\\Windows\\System32\\"}, {"filespec", "NTDLL.*"}});
    }
    fs::path destination = Fresh("system-state");
    fs::create_directories(destination.parent_path());
    std::ofstream(destination.string() + ".json") << host.dump();
    winsim::ReplaceHost(winsim::ParseHost(host.dump()));
    const ProgramRun dryRun = RunProgram("backup --save-type system-state --dry-run --json --host '" +
                                             destination.string() + ".json'",
                                         destination.parent_path() / "plan");
    ASSERT_EQ(dryRun.exitCode, 0) << dryRun.err;
    const json plan = json::parse(dryRun.out);
    EXPECT_FALSE(plan.contains("snapshotSetId"));
    json document;
    ASSERT_EQ(Backup(WriterOptions(2, destination), &document), 0) << Said(document);

    const json manifest = json::parse(ReadAll(destination / "manifest.json"));
    EXPECT_EQ(manifest["formatVersion"], 3);
    EXPECT_EQ(TakenFiles(plan["plan"]["writers"]), TakenFiles(manifest["writers"]));
    std::map<std::string, std::string> contents;
    for (const json &file : host["files"])
        contents[file["path"].get<std::string>()] = file.value("content", "");
    const auto taken = TakenFiles(manifest["writers"]);
    size_t files = 0;
    for (const json &writer : host["writers"])
        for (const json &component : writer.value("components", json::array())) {
            const std::string key = writer["name"].get<std::string>() + "|" + component["name"].get<std::string>();
            if (!taken.count(key))
                continue;
            std::set<std::string> expected, listed;
            for (const char *list : {"files", "databaseFiles", "logFiles"})
                for (const json &spec : component.value(list, json::array()))
                    for (const std::string &path : DescribedFilesOf(host, spec))
                        expected.insert(path);
            expected.erase(excluded);
            for (const auto &file : taken.at(key))
                listed.insert(file.first);
            EXPECT_EQ(listed, expected) << key;
            files += listed.size();
        }
    EXPECT_GE(files, 15u) << "the system-state writers' described files";
    EXPECT_EQ(manifest["excluded"],
              json::array({json{{"path", excluded}, {"excludedBy", "Shadow Copy Optimization Writer"}}}));
    EXPECT_EQ(std::count_if(manifest["files"].begin(), manifest["files"].end(),
                            [&](const json &file) { return file["path"] == hosts; }),
              1);
    EXPECT_TRUE(taken.at("Registry Writer|Registry").count({hosts, 21}) && taken.at("System Writer|System Files").count({hosts, 21}));
    for (const json &writer : manifest["writers"]) {
        if (!writer["taken"].get<bool>())
            continue;
        const std::string metadata = ReadAll(destination / fs::u8path(writer["metadata"].get<std::string>()));
        EXPECT_NE(metadata.find(writer["name"].get<std::string>()), std::string::npos) << writer["name"];
        for (const json &component : writer["components"])
            for (const json &file : component["files"]) {
                const std::string copy = ReadAll(fs::u8path(file["copiedTo"].get<std::string>()));
                EXPECT_EQ(copy, contents.at(file["path"].get<std::string>())) << file["path"];
                EXPECT_EQ(file["sha256"], Sha256Of(copy)) << file["path"];
            }
    }
    EXPECT_TRUE(taken.count("ASR Writer|BCD") == 0) << "save type 2 takes no recovery set";
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

// A recovery backup takes the ASR writer, which no writer list hands out, through the
// by-name lists; its boot store lies on the FAT32 system partition, which has no shadow
// copy, and is read live under its volume's GUID name.
TEST(WinclassWriterBackup, RecoveryTakesTheAsrWritersBootStoreFromTheLiveSystemPartition)
{
    const fs::path destination = Fresh("recovery");
    json document;
    ASSERT_EQ(Backup(WriterOptions(1, destination), &document), 0) << Said(document);
    const std::string bcd = "\\\\?\\Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}\\EFI\\Microsoft\\Boot\\BCD";
    const auto taken = TakenFiles(document["writers"]);
    EXPECT_EQ(taken.at("ASR Writer|BCD"), (std::set<std::pair<std::string, uint64_t>>{{bcd, 4}}));
    EXPECT_TRUE(taken.count("ASR Writer|ASR") && taken.count("ASR Writer|harddisk0"));
    EXPECT_EQ(ReadAll(destination / "Volume{7e1a3c5d-9f2b-4d4e-8c6a-0b2d4f6e8a15}" / "EFI" / "Microsoft" / "Boot" / "BCD"),
              "regf");
    EXPECT_NE(ReadAll(destination / "writers" / "ASR Writer.xml").find("ASR Writer"), std::string::npos);
    EXPECT_NE(document["plan"]["notices"].dump().find("read from the live volume"), std::string::npos);
    EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
}

// The selection marks the files of the transacted-database components it takes, and no
// other file, when asked to; the host's files start without the archive bit. One backup
// per process: the library promotes writers in a process's first session only.
class WinclassArchiveMark : public testing::TestWithParam<bool> {};

TEST_P(WinclassArchiveMark, SetsTheBitOnTheTakenTransactedDatabaseFilesAlone)
{
    const bool mark = GetParam();
    json host = json::parse(winsim::EmbeddedHostJson("hyperv-host"));
    for (json &file : host["files"])
        if (!file.value("directory", false))
            file["attributes"] = json::array();  // taken by the last backup: no archive bit
    winsim::ReplaceHost(winsim::ParseHost(host.dump()));
    winclass::BackupOptions options = WriterOptions(2, Fresh(mark ? "marked" : "unmarked"));
    options.archiveMark = mark;
    json document;
    ASSERT_EQ(Backup(options, &document), 0) << Said(document);

    std::set<std::string> transacted, expected, marked;
    for (const json &writer : host["writers"])
        if (writer.value("source", "") == "VSS_ST_TRANSACTEDDB")
            transacted.insert(writer["name"].get<std::string>());
    for (const json &writer : document["writers"])
        for (const json &component : writer["components"])
            for (const json &file : component["files"])
                if (transacted.count(writer["name"].get<std::string>()))
                    expected.insert(file["path"].get<std::string>());
    ASSERT_FALSE(expected.empty()) << "the Windows Internal Database's files are taken";
    for (const json &file : host["files"]) {
        std::u16string path;
        ASSERT_TRUE(winclass::Utf8ToWide(file["path"].get<std::string>(), &path));
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_ARCHIVE))
            marked.insert(file["path"].get<std::string>());
    }
    EXPECT_EQ(marked, mark ? expected : std::set<std::string>());
}

INSTANTIATE_TEST_SUITE_P(WithAndWithout, WinclassArchiveMark, testing::Bool());

// Input a writer backup cannot honour: one error naming what is wrong (the writer, its
// component and the path), nothing written, no snapshot left; a file pattern that matches
// nothing is only a notice.
TEST(WinclassWriterBackup, BadInputNamesWriterComponentAndPathAndLeavesNothing)
{
    const struct {
        int saveType;
        const char *writer;
        const char *folder, *filespec;  // added to the System Writer's "System Files"
        int exitCode;
        const char *said;
    } kCases[] = {
        {2, "No Such Writer", nullptr, nullptr, 2, "--writer No Such Writer: no writer of that name"},
        {3, "System Writer", nullptr, nullptr, 2, "--writer System Writer needs a writer save type"},
        {1, "", "F:\\VMs\\", "*.vhdx", 1,
         "writer System Writer, component System Files, F:\\VMs\\*.vhdx: its volume F:\\ is not in the snapshot set"},
        {2, "", "C:\\Windows\\Fonts\\", "*.ttf", 0, "System Writer | System Files: C:\\Windows\\Fonts\\*.ttf matches no file"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.said);
        json host = json::parse(winsim::EmbeddedHostJson("default"));
        if (c.folder)
            host["writers"][0]["components"][0]["files"].push_back({{"path", c.folder}, {"filespec", c.filespec}});
        winsim::ReplaceHost(winsim::ParseHost(host.dump()));
        const fs::path destination = Fresh("bad-writer-input");
        winclass::BackupOptions options = WriterOptions(c.saveType, destination);
        options.writer = c.writer;
        if (c.saveType == 3)
            options.paths = {"D:\\Shares"};
        json document;
        EXPECT_EQ(Backup(options, &document), c.exitCode);
        std::string said = Said(document);
        for (const json &notice : document.value("plan", json::object()).value("notices", json::array()))
            said += " | " + notice.get<std::string>();
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(fs::exists(destination / "manifest.json"), c.exitCode == 0);
        EXPECT_TRUE(winsim::ShadowCopyDevices().empty());
    }
}

// The built program, end to end.
TEST(WinclassProgram, BacksUpADescribedHost)
{
    fs::path folder = Fresh("program");
    std::string hostFile = std::string(TV_SOURCE_DIR) + "/tests/tools/hosts/desktop-with-client.json";
    ProgramRun run = RunProgram("backup 'C:\\Users\\Public' 'C:\\Media\\Spanned' --to out-folder --json --host '" +
                                    hostFile + "'",
                                folder);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    json document = json::parse(run.out);
    EXPECT_TRUE(document["ok"].get<bool>());

    EXPECT_EQ(document["totals"]["files"],
              ExpectCopied(json::parse(ReadAll(hostFile)), {"C:\\Users\\Public", "C:\\Media\\Spanned"}, folder / "out-folder"));
    // The folder-mounted volume and the volume that holds its mount folder.
    EXPECT_EQ(VolumesOf(document), (std::vector<std::string>{"C:\\Media\\Spanned\\", "C:\\"}));
}

TEST(WinclassProgram, CommandLineAndHostsAnswerWithOneLineAndTheDocumentedCode)
{
    fs::path folder = Fresh("program-lines");
    std::ofstream(folder.string() + ".json") << "{\"hostName\": ";
    const std::string broken = folder.string() + ".json";
    const struct {
        std::string arguments, environment;
        int exitCode;
        const char *out, *err;  // pieces each must hold
    } kCases[] = {
        {"--version", "", 0, "winclass 1.", ""},
        {"--help", "", 0, "WINSIM_ROOT", ""},
        {"--help", "", 0, "3  the host description", ""},
        {"map --help", "", 0, "takes a snapshot", ""},
        {"restore --help", "", 0, "--authoritative", ""},
        {"restore /no/such/backup --json", "", 2, "no such backup folder", ""},
        {"frobnicate", "", 2, "", "unknown subcommand 'frobnicate'"},
        {"frobnicate --json", "", 2, "\"error\": \"unknown subcommand", ""},
        {"backup 'D:\\Shares'", "", 2, "", "--to is required"},
        {"backup --json", "", 2, "\"exitCode\": 2", ""},
        {"volumes --json --host cluster-node", "", 0, "\"volumes\"", ""},
        {"volumes --host '" + broken + "'", "", 3, "", "does not load"},
        {"volumes", "WINSIM_HOST='" + broken + "'", 3, "", "WINSIM_HOST="},
        {"backup 'G:\\' --to x", "", 2, "", "G:\\ is removable media"},
        {"backup --save-type 9 --to x", "", 2, "", "'9' is not a save type"},
        {"backup --save-type system-state --writer 'No Such' --to x", "", 2, "", "--writer No Such: no writer"},
        {"backup --save-type dr-system-state --dry-run", "", 0, "The snapshot of a save type 0 backup", ""},
        // No installation directory: the library cannot make its writer list; the
        // command names the key.
        {"backup 'C:\\Users' --to x --host '" + std::string(TV_SOURCE_DIR) + "/tests/host/hosts/dynamic-mount.json'",
         "", 1, "", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvane\\Backup Client cannot be opened"},
    };
    for (const auto &c : kCases) {
        ProgramRun run = RunProgram(c.arguments, folder, c.environment);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
        EXPECT_NE(run.out.find(c.out), std::string::npos) << c.arguments << "\n" << run.out;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.arguments << "\n" << run.err;
        if (c.exitCode == 2 || c.exitCode == 3) {
            EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.arguments << "\n" << run.err;
            EXPECT_FALSE(fs::exists(folder / "x")) << c.arguments;
        }
    }
    // The library's messages of the last run outlive the sandbox.
    EXPECT_NE(ReadAll(folder / "state" / "winclass" / "logs" / "client.log").find("Unable to Populate"),
              std::string::npos);
}

// A sandbox that WINSIM_ROOT names is the same disk for every process: what one run found
// changed or deleted there stays so for the next, and files no one touched stay as made.
TEST(WinclassProgram, AKeptSandboxShowsTheNextRunWhatChanged)
{
    fs::path folder = Fresh("kept-sandbox");
    const std::string environment = "WINSIM_ROOT='" + (folder / "root").string() + "'";
    const std::string documents = "C:\\Users\\Administrator\\Documents";
    ASSERT_EQ(RunProgram("backup '" + documents + "' --to first", folder, environment).exitCode, 0);
    fs::path live = folder / "root" / "C" / "Users" / "Administrator" / "Documents";
    ASSERT_TRUE(fs::exists(live / "report.txt"));
    std::ofstream(live / "report.txt", std::ios::trunc) << "changed between runs";
    std::ofstream(live / "new.txt") << "added between runs";
    std::vector<fs::path> others;
    for (const auto &entry : fs::directory_iterator(live))
        if (entry.is_regular_file() && entry.path().filename() != "report.txt" && entry.path().filename() != "new.txt")
            others.push_back(entry.path().filename());

    ASSERT_EQ(RunProgram("backup '" + documents + "' --to second", folder, environment).exitCode, 0);
    fs::path copies = folder / "second" / "C" / "Users" / "Administrator" / "Documents";
    EXPECT_EQ(ReadAll(copies / "report.txt"), "changed between runs");
    EXPECT_EQ(ReadAll(copies / "new.txt"), "added between runs");
    for (const fs::path &name : others)
        EXPECT_EQ(ReadAll(copies / name), ReadAll(folder / "first" / "C" / "Users" / "Administrator" / "Documents" / name))
            << name;

    // A deleted file is not made again.
    fs::remove(live / "report.txt");
    ASSERT_EQ(RunProgram("backup '" + documents + "' --to third", folder, environment).exitCode, 0);
    EXPECT_FALSE(fs::exists(folder / "third" / "C" / "Users" / "Administrator" / "Documents" / "report.txt"));
    EXPECT_TRUE(fs::exists(folder / "third" / "C" / "Users" / "Administrator" / "Documents" / "new.txt"));
}
