// The shadow-path lookups on views of volume snapshot maps built here, without a session:
// equality and prefix tests, their cut at 259 bytes, letter case, the trailing backslash
// that keeps ShadowCopy1\ apart from ShadowCopy12\, the live and mount-point forms, and
// the buffers' bounds. A randomized comparison holds the lookups to a plain reading of the
// two tests over whole maps, which the views' case-folded index must not change.
#include <libwinclass/backup/shadowpaths.h>

#include <support/capture.h>
#include <support/wine.h>

#include <liblocal/local.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using winclass::GetMapping;
using winclass::GetShadowCopyRootPath;
using winclass::IsSnapshotMountpointRoot;
using winclass::IsSnapshotPath;
using winclass::IsSnapshotRoot;
using winclass::MakeVolSnapMapView;
using winclass::TranslateToPhysical;

const std::string kDevice = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";
const std::string S1 = kDevice + "1\\";
const std::string S2 = kDevice + "2\\";
const std::string S3 = kDevice + "3\\";
const std::string S12 = kDevice + "12\\";

tv_str Utf8(const std::string &text)
{
    tv_str result;
    result.set_utf8(text.c_str());
    return result;
}

std::shared_ptr<CVssVolSnapShotMap> Entry(const std::string &volume, const std::string &shadowPath,
                                          const std::string &driveRoot = "")
{
    auto entry = std::make_shared<CVssVolSnapShotMap>();
    entry->marked = true;
    entry->flags = 1;
    entry->volume = Utf8(volume);
    if (!shadowPath.empty())
        entry->shadowPath = Utf8(shadowPath);
    if (!driveRoot.empty())
        entry->driveRoot = Utf8(driveRoot);
    return entry;
}

wstr Wide(const std::string &ascii) { return wstr(ascii.begin(), ascii.end()); }

std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

// A buffer pre-filled with a marker, so a test sees whether anything was written.
struct Buffer {
    explicit Buffer(size_t size = 512) : bytes(size + 16, '#') {}
    char *data() { return &bytes[0]; }
    std::string text() const { return std::string(bytes.c_str()); }
    bool untouched() const { return bytes.find_first_not_of('#') == std::string::npos; }
    std::string bytes;
};

// What a lookup wrote into a 512-byte buffer, "#" for nothing; the roots prefix their answer.
std::string Translated(const VolSnapMapView &view, const std::string &path)
{
    Buffer buffer;
    TranslateToPhysical(view, path.c_str(), buffer.data(), 512);
    return buffer.untouched() ? "#" : buffer.text();
}

template <class Lookup>
std::string Answer(Lookup lookup, const VolSnapMapView &view, const std::string &path)
{
    Buffer buffer;
    const int answer = lookup(view, path.c_str(), buffer.data(), 512);
    return std::to_string(answer) + " " + (buffer.untouched() ? "#" : buffer.text());
}

std::string RootOf(const VolSnapMapView &view, const std::string &path)
{
    return Answer(IsSnapshotRoot, view, path);
}

std::string MountRootOf(const VolSnapMapView &view, const std::string &path)
{
    return Answer(IsSnapshotMountpointRoot, view, path);
}

TEST(ShadowPathTests, PathInsideAShadowCopyRootAndLiveVolume)
{
    const VolSnapMapList list = {Entry("C:\\", S1, "C:\\")};
    const auto view = MakeVolSnapMapView(list);
    EXPECT_EQ(1, IsSnapshotPath(*view, (S1 + "dir").c_str()));
    EXPECT_EQ(1, IsSnapshotPath(*view, S1.c_str()));
    EXPECT_EQ(1, IsSnapshotPath(*view, Lower(S1 + "Dir\\File.txt").c_str()));
    EXPECT_EQ(0, IsSnapshotPath(*view, S1.substr(0, S1.size() - 1).c_str())) << "without the trailing backslash";
    EXPECT_EQ(0, IsSnapshotPath(*view, "D:\\data\\file"));
    EXPECT_EQ(0, IsSnapshotPath(*view, "C:\\"));
    EXPECT_EQ(0, IsSnapshotPath(*view, ""));
    EXPECT_EQ(0, IsSnapshotPath(*view, NULL));
    const auto only12 = MakeVolSnapMapView({Entry("C:\\", S12)});
    EXPECT_EQ(0, IsSnapshotPath(*only12, (S1 + "dir").c_str()));
    EXPECT_EQ(1, IsSnapshotPath(*only12, (S12 + "dir").c_str()));
    const auto only1 = MakeVolSnapMapView({Entry("C:\\", S1)});
    EXPECT_EQ(0, IsSnapshotPath(*only1, (S12 + "dir").c_str()));
    EXPECT_EQ("#", Translated(*only1, S12 + "dir"));
    EXPECT_EQ("0 #", RootOf(*only1, S12));

    // With both in the map each path finds its own volume, whichever comes first.
    const auto both = MakeVolSnapMapView({Entry("E:\\", S1), Entry("F:\\", S12)});
    EXPECT_EQ("F:\\x", Translated(*both, S12 + "x"));
    EXPECT_EQ("E:\\x", Translated(*both, S1 + "x"));

    const auto empty = MakeVolSnapMapView({});
    EXPECT_EQ(0, IsSnapshotPath(*empty, S1.c_str()));
    EXPECT_EQ("0 #", RootOf(*empty, S1));
    EXPECT_EQ("0 #", MountRootOf(*empty, S1));
    EXPECT_EQ("#", Translated(*empty, S1 + "x"));
    // Before the snapshot the entries have no shadow path: an empty path must not match
    // them as an empty prefix would.
    const auto noShadow = MakeVolSnapMapView({Entry("D:\\Mount\\Archive\\", ""), Entry("C:\\", "")});
    EXPECT_EQ(0, IsSnapshotPath(*noShadow, ""));
    EXPECT_EQ(0, IsSnapshotPath(*noShadow, "C:\\dir"));
    EXPECT_EQ("0 #", RootOf(*noShadow, ""));
    EXPECT_EQ("#", Translated(*noShadow, "C:\\dir"));

    const auto three = MakeVolSnapMapView({Entry("D:\\Mount\\Archive\\", S3), Entry("C:\\", S1), Entry("D:\\", S2)});
    EXPECT_EQ("1 C:\\", RootOf(*three, S1));
    EXPECT_EQ("1 D:\\Mount\\Archive\\", RootOf(*three, Lower(S3)));
    EXPECT_EQ("0 #", RootOf(*three, S1 + "dir"));
    EXPECT_EQ("0 #", RootOf(*three, S1.substr(0, S1.size() - 1)));
    // No buffer, or no room: the answer alone.
    EXPECT_EQ(1, IsSnapshotRoot(*three, S2.c_str(), NULL, 512));
    Buffer noRoom;
    EXPECT_EQ(1, IsSnapshotRoot(*three, S2.c_str(), noRoom.data(), 0));
    EXPECT_TRUE(noRoom.untouched());
    Buffer small;
    EXPECT_EQ(1, IsSnapshotRoot(*three, S3.c_str(), small.data(), 6));
    EXPECT_EQ("D:\\Mo", small.text());
    EXPECT_EQ('#', small.bytes[6]);

    // Two volumes given the same shadow path by a caller: every entry is asked, and
    // translation takes the first hit.
    const auto twice = MakeVolSnapMapView({Entry("E:\\first\\", S1), Entry("C:\\", S2), Entry("F:\\", S1)});
    EXPECT_EQ("1 F:\\", RootOf(*twice, S1));
    EXPECT_EQ("E:\\first\\a", Translated(*twice, S1 + "a"));
}

TEST(ShadowPathTests, TranslationToTheLivePathWithAnyPrefixAndLength)
{
    const auto view = MakeVolSnapMapView({Entry("D:\\Mount\\Archive\\", S3), Entry("C:\\", S1)});
    EXPECT_EQ("C:\\dir\\file", Translated(*view, S1 + "dir\\file"));
    EXPECT_EQ("D:\\Mount\\Archive\\Logs\\a.log", Translated(*view, Lower(S3) + "Logs\\a.log"));
    EXPECT_EQ("C:\\", Translated(*view, S1));

    // Cut to the buffer, always terminated, never a byte past it.
    Buffer small;
    TranslateToPhysical(*view, (S1 + "dir\\file").c_str(), small.data(), 5);
    EXPECT_EQ("C:\\d", small.text());
    EXPECT_EQ('#', small.bytes[5]);

    Buffer untouched;
    TranslateToPhysical(*view, "C:\\dir\\file", untouched.data(), 512);
    TranslateToPhysical(*view, NULL, untouched.data(), 512);
    TranslateToPhysical(*view, (S1 + "x").c_str(), untouched.data(), 0);
    TranslateToPhysical(*view, (S1 + "x").c_str(), NULL, 512);
    EXPECT_TRUE(untouched.untouched());

    // 13312 bytes below the shadow root: inside, translated and cut to the buffer.
    const auto c = MakeVolSnapMapView({Entry("C:\\", S1)});
    const std::string deep = S1 + std::string(13312 - S1.size(), 'a');
    EXPECT_EQ(1, IsSnapshotPath(*c, deep.c_str()));
    Buffer buffer(260);
    TranslateToPhysical(*c, deep.c_str(), buffer.data(), 260);
    EXPECT_EQ("C:\\" + std::string(256, 'a'), buffer.text());
    EXPECT_EQ(0, IsSnapshotRoot(*c, deep.c_str(), buffer.data(), 260));

    // The equality test looks at 259 bytes: a shadow path of exactly 259 bytes equals a
    // longer path that begins with it, and one of 260 bytes equals nothing.
    const std::string at259 = kDevice + std::string(259 - kDevice.size() - 1, '7') + "\\";
    const std::string at260 = kDevice + std::string(260 - kDevice.size() - 1, '7') + "\\";
    ASSERT_EQ(259u, at259.size());
    const auto longShadows = MakeVolSnapMapView({Entry("X:\\", at259), Entry("Y:\\", at260)});
    EXPECT_EQ("1 X:\\tail", RootOf(*longShadows, at259 + "tail"));
    EXPECT_EQ(0, IsSnapshotRoot(*longShadows, at260.c_str(), NULL, 0));
    EXPECT_EQ(1, IsSnapshotPath(*longShadows, (at260 + "f").c_str()));
    EXPECT_EQ(0, IsSnapshotPath(*longShadows, at260.c_str())) << "no longer than the shadow path: equality, cut";

    // Shadow paths given by callers need not share the device prefix, nor its case.
    const auto mixed = MakeVolSnapMapView({Entry("G:\\", "\\\\?\\globalroot\\device\\harddiskvolumeshadowcopy9\\"),
                                           Entry("H:\\", ""), Entry("C:\\", "\\\\server\\share\\snap\\"),
                                           Entry("D:\\", S2)});
    EXPECT_EQ("D:\\f", Translated(*mixed, S2 + "f"));
    EXPECT_EQ("C:\\f", Translated(*mixed, "\\\\SERVER\\share\\SNAP\\f"));
    EXPECT_EQ("G:\\f", Translated(*mixed, kDevice + "9\\f"));
    EXPECT_EQ(0, IsSnapshotPath(*mixed, "\\\\?\\"));
    EXPECT_EQ(0, IsSnapshotPath(*mixed, "\\\\server\\share\\snapx"));
}

TEST(ShadowPathTests, MountPointFormAndShadowCopyRootPath)
{
    const auto view = MakeVolSnapMapView({Entry("D:\\Mount\\Archive\\", S3), Entry("E:\\Deep\\Dir\\", S12),
                                          Entry("C:\\", S1), Entry("D:\\", S2), Entry("E:\\", "")});
    // A mount folder whose drive has a shadow copy: the folder inside that copy; a drive
    // without one: the live mount folder; a drive root: its live root.
    EXPECT_EQ("1 " + S2 + "Mount\\Archive\\", MountRootOf(*view, S3));
    EXPECT_EQ("1 E:\\Deep\\Dir\\", MountRootOf(*view, Lower(S12)));
    EXPECT_EQ("1 C:\\", MountRootOf(*view, S1));
    EXPECT_EQ("0 #", MountRootOf(*view, S3 + "x"));

    Buffer none;
    EXPECT_EQ(0, IsSnapshotMountpointRoot(*view, NULL, none.data(), 512));
    EXPECT_EQ(1, IsSnapshotMountpointRoot(*view, S3.c_str(), NULL, 512));
    EXPECT_EQ(1, IsSnapshotMountpointRoot(*view, S3.c_str(), none.data(), 0));
    EXPECT_TRUE(none.untouched());
    Buffer small;
    EXPECT_EQ(1, IsSnapshotMountpointRoot(*view, S3.c_str(), small.data(), 8));
    EXPECT_EQ(S2.substr(0, 7), small.text());

    const auto roots = MakeVolSnapMapView({Entry("D:\\Mount\\Archive\\", S3), Entry("C:\\", S1)});
    WCHAR buffer[300];
    std::fill(std::begin(buffer), std::end(buffer), WCHAR('#'));
    EXPECT_EQ(1, GetShadowCopyRootPath(*roots, Wide(Lower(S1) + "dir\\f").c_str(), buffer, 300));
    EXPECT_EQ(Wide(S1.substr(0, S1.size() - 1)), wstr(buffer));
    EXPECT_EQ(1, GetShadowCopyRootPath(*roots, Wide(S3).c_str(), buffer, 300));
    EXPECT_EQ(Wide(S3.substr(0, S3.size() - 1)), wstr(buffer));
    // Cut to the buffer.
    std::fill(std::begin(buffer), std::end(buffer), WCHAR('#'));
    EXPECT_EQ(1, GetShadowCopyRootPath(*roots, Wide(S1).c_str(), buffer, 10));
    EXPECT_EQ(Wide(S1.substr(0, 9)), wstr(buffer));
    EXPECT_EQ(WCHAR('#'), buffer[10]);
    // No match: 0 and the buffer cleared. A path shorter than a shadow path is not in it.
    std::fill(std::begin(buffer), std::end(buffer), WCHAR('#'));
    EXPECT_EQ(0, GetShadowCopyRootPath(*roots, Wide("C:\\dir").c_str(), buffer, 300));
    EXPECT_EQ(0, buffer[0]);
    EXPECT_EQ(0, GetShadowCopyRootPath(*roots, Wide(S1.substr(0, S1.size() - 1)).c_str(), buffer, 300));
    EXPECT_EQ(0, GetShadowCopyRootPath(*roots, Wide(S12).c_str(), buffer, 300));
    // NULL path or no room: 0, nothing written.
    std::fill(std::begin(buffer), std::end(buffer), WCHAR('#'));
    EXPECT_EQ(0, GetShadowCopyRootPath(*roots, NULL, buffer, 300));
    EXPECT_EQ(0, GetShadowCopyRootPath(*roots, Wide(S1).c_str(), buffer, 0));
    EXPECT_EQ(WCHAR('#'), buffer[0]);
}

// ---- live path to its pieces ----

struct MappingBuffers {
    MappingBuffers() { Fill(); }
    void Fill()
    {
        std::fill(std::begin(volume), std::end(volume), WCHAR('#'));
        std::fill(std::begin(shadow), std::end(shadow), WCHAR('#'));
        std::fill(std::begin(driveRoot), std::end(driveRoot), WCHAR('#'));
    }
    int Map(const VolSnapMapView &view, const WCHAR *path, size_t volumeSize = 300, size_t shadowSize = 300,
            size_t driveRootSize = 8)
    {
        return GetMapping(view, path, volume, volumeSize, shadow, shadowSize, driveRoot, driveRootSize);
    }
    WCHAR volume[300];
    WCHAR shadow[300];
    WCHAR driveRoot[8];
};

class GetMappingTests : public ::testing::Test {
protected:
    void SetUp() override { SetEnvironmentVariableW(W("TLV_MAST"), NULL); }
    void TearDown() override
    {
        SetEnvironmentVariableW(W("TLV_MAST"), NULL);
        Debug = 0;
    }
};

TEST_F(GetMappingTests, FillsVolumeShadowAndDriveRootOrLeavesThemAlone)
{
    const auto view = MakeVolSnapMapView({Entry("C:\\", S1, "C:\\")});
    MappingBuffers buffers;
    EXPECT_EQ(0, buffers.Map(*view, W("C:\\dir\\file")));
    EXPECT_EQ(wstr(W("C:\\")), wstr(buffers.volume));
    EXPECT_EQ(Wide(S1), wstr(buffers.shadow));
    EXPECT_EQ(wstr(W("C:\\")), wstr(buffers.driveRoot));

    // A drive-root size of 0 leaves that buffer alone.
    buffers.Fill();
    EXPECT_EQ(0, buffers.Map(*view, W("C:\\dir\\file"), 300, 300, 0));
    EXPECT_EQ(Wide(S1), wstr(buffers.shadow));
    EXPECT_EQ(WCHAR('#'), buffers.driveRoot[0]);
    EXPECT_EQ(0, GetMapping(*view, W("C:\\dir"), buffers.volume, 300, buffers.shadow, 300, NULL, 8));

    // Cut to small buffers.
    buffers.Fill();
    EXPECT_EQ(0, buffers.Map(*view, W("C:\\dir\\file"), 3, 5, 3));
    EXPECT_EQ(wstr(W("C:")), wstr(buffers.volume));
    EXPECT_EQ(Wide(S1.substr(0, 4)), wstr(buffers.shadow));
    EXPECT_EQ(WCHAR('#'), buffers.shadow[5]);
    EXPECT_EQ(wstr(W("C:")), wstr(buffers.driveRoot));

    // Nothing matches, or a buffer is missing: nothing written.
    buffers.Fill();
    const auto otherVolume = MakeVolSnapMapView({Entry("D:\\", S2, "D:\\")});
    EXPECT_EQ(0, buffers.Map(*otherVolume, W("C:\\dir\\file")));
    // Keys compare exactly: the letter case of a volume counts.
    const auto lowerKey = MakeVolSnapMapView({Entry("c:\\", S1, "C:\\")});
    EXPECT_EQ(0, buffers.Map(*lowerKey, W("C:\\dir\\file")));
    EXPECT_EQ(0, buffers.Map(*view, NULL));
    EXPECT_EQ(0, buffers.Map(*view, W("C:\\dir"), 0, 300, 8));
    EXPECT_EQ(0, buffers.Map(*view, W("C:\\dir"), 300, 0, 8));
    EXPECT_EQ(0, GetMapping(*view, W("C:\\dir"), NULL, 300, buffers.shadow, 300, buffers.driveRoot, 8));
    EXPECT_EQ(0, GetMapping(*view, W("C:\\dir"), buffers.volume, 300, NULL, 300, buffers.driveRoot, 8));
    const wstr untouched = wstr(300, WCHAR('#')) + wstr(300, WCHAR('#')) + wstr(8, WCHAR('#'));
    EXPECT_EQ(untouched, wstr(buffers.volume, 300) + wstr(buffers.shadow, 300) + wstr(buffers.driveRoot, 8));

    // Before the snapshot the entry has no shadow path: only the volume is known.
    const auto noShadow = MakeVolSnapMapView({Entry("C:\\", "", "C:\\")});
    EXPECT_EQ(0, buffers.Map(*noShadow, W("C:\\dir")));
    EXPECT_EQ(wstr(W("C:\\")), wstr(buffers.volume));
    EXPECT_EQ(WCHAR('#'), buffers.shadow[0]);
    EXPECT_EQ(WCHAR('#'), buffers.driveRoot[0]);

    wstr deep = W("C:\\");
    deep.append(13312 - 4, WCHAR('d'));
    buffers.Fill();
    EXPECT_EQ(0, buffers.Map(*view, deep.c_str()));
    EXPECT_EQ(wstr(W("C:\\")), wstr(buffers.volume));
    buffers.Fill();
    EXPECT_EQ(0, buffers.Map(*view, W("C:")));
    EXPECT_EQ(wstr(W("C:\\")), wstr(buffers.volume));
}

TEST_F(GetMappingTests, AnotherDriveLetterThanTheRootIsAVolumeCrossing)
{
    // Windows answers the volume root in its own letter case for a path typed in lower
    // case: the letters differ, which the lookup takes for a link to another volume and
    // answers from the path's own drive instead, unless TLV_MAST says links are followed.
    WCHAR root[260] = {};
    ASSERT_TRUE(GetVolumePathNameW(W("c:\\dir\\file"), root, 260));
    if (root[0] != 'C')
        TV_SKIP_UNDER_WINE("GetVolumePathNameW keeps the letter case of the path it is given");
    ASSERT_EQ(WCHAR('C'), root[0]);

    const auto view = MakeVolSnapMapView({Entry("C:\\", S1, "C:\\")});
    Debug = 5;
    tvtest::OutputCapture capture;
    MappingBuffers buffers;
    EXPECT_EQ(0, buffers.Map(*view, W("c:\\dir\\file")));
    EXPECT_EQ(Wide(S1), wstr(buffers.shadow));
    const auto lines = capture.debugLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("crossing volume boundary. Using 'c:\\' volume"));
    SetEnvironmentVariableW(W("TLV_MAST"), W("1"));
    capture.clear();
    buffers.Fill();
    EXPECT_EQ(0, buffers.Map(*view, W("c:\\dir\\file")));
    EXPECT_EQ(Wide(S1), wstr(buffers.shadow));
    EXPECT_TRUE(capture.debugLines().empty());
}

// ---- the randomized comparison ----

// The two tests as plainly stated, over one entry's UTF-8 shadow path.
bool PlainEqualIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && Lower(a) == Lower(b);
}

bool PlainEqualToShadow(const std::string &path, const std::string &shadow)
{
    return !shadow.empty() && PlainEqualIgnoringCase(path.substr(0, 259), shadow);
}

bool PlainInsideShadow(const std::string &path, const std::string &shadow)
{
    if (shadow.empty())
        return false;
    if (path.size() <= shadow.size())
        return PlainEqualToShadow(path, shadow);
    return PlainEqualIgnoringCase(path.substr(0, shadow.size()), shadow);
}

// Holds each lookup's answer for text (which reads as path) to the plain tests over the
// map's entries in order.
void ExpectPlainAnswers(const VolSnapMapView &view, const std::vector<std::string> &volumes,
                        const std::vector<std::string> &shadows, const std::string &path, const char *text)
{
    const size_t count = volumes.size();
    int inside = 0, equal = 0, lastEqual = -1, firstInside = -1;
    for (size_t i = 0; i < count; ++i) {
        if (PlainInsideShadow(path, shadows[i])) {
            inside = 1;
            if (firstInside < 0)
                firstInside = int(i);
        }
        if (PlainEqualToShadow(path, shadows[i])) {
            equal = 1;
            lastEqual = int(i);
        }
    }
    EXPECT_EQ(inside, IsSnapshotPath(view, text));
    Buffer root;
    EXPECT_EQ(equal, IsSnapshotRoot(view, text, root.data(), 512));
    if (equal) {
        EXPECT_EQ(volumes[size_t(lastEqual)] + path.substr(shadows[size_t(lastEqual)].size()), root.text());
    }
    Buffer translated;
    TranslateToPhysical(view, text, translated.data(), 512);
    if (inside) {
        EXPECT_EQ(volumes[size_t(firstInside)] + path.substr(shadows[size_t(firstInside)].size()),
                  translated.text());
    } else {
        EXPECT_TRUE(translated.untouched());
    }
    EXPECT_EQ(equal, IsSnapshotMountpointRoot(view, text, NULL, 0));
}

TEST(ShadowPathTests, LookupsAgreeWithThePlainTestsOnRandomMaps)
{
    std::mt19937 random(20261205);
    auto pick = [&](size_t n) { return size_t(random() % n); };
    auto randomCase = [&](std::string text) {
        for (char &c : text)
            if (pick(3) == 0)
                c = char(c >= 'a' && c <= 'z' ? c - 32 : (c >= 'A' && c <= 'Z' ? c + 32 : c));
        return text;
    };
    // Besides the device names: the bytes either side of A-Z ('@', '[', '`', '{') and UTF-8
    // bytes, which no case folding may touch, and short paths.
    const std::vector<std::string> prefixes = {kDevice, Lower(kDevice), "\\\\?\\GLOBALROOT\\Device\\Other",
                                               "\\\\s\\", "\\\\?\\@[Z`{z\\\xc3\x89t\xc3\xa9\\"};

    for (int round = 0; round < 400; ++round) {
        VolSnapMapList list;
        std::vector<std::string> volumes, shadows;
        const size_t count = 1 + pick(8);
        for (size_t i = 0; i < count; ++i) {
            std::string shadow;
            if (pick(5) != 0)
                shadow = prefixes[pick(prefixes.size())] + std::to_string(pick(30)) + (pick(8) ? "\\" : "");
            const std::string volume = std::string(1, char('C' + i)) + ":\\";
            volumes.push_back(volume);
            shadows.push_back(shadow);
            list.push_back(Entry(volume, shadow));
        }
        const auto view = MakeVolSnapMapView(list);
        for (int probe = 0; probe < 20; ++probe) {
            std::string path;
            switch (pick(4)) {
            case 0: path = shadows[pick(count)]; break;
            case 1: path = shadows[pick(count)] + "dir\\f"; break;
            case 2: path = shadows[pick(count)]; path = path.substr(0, pick(path.size() + 1)); break;
            default: path = prefixes[pick(prefixes.size())] + std::to_string(pick(40)) + "\\x"; break;
            }
            path = randomCase(path);

            SCOPED_TRACE("path " + path);
            ExpectPlainAnswers(*view, volumes, shadows, path, path.c_str());
        }
    }
}

// Lookups read no byte past a path's end that its page does not hold: paths cut at every
// length are asked about where the bytes after their end continue a shadow path, and where
// their end is the last byte of a page followed by one that cannot be read.
TEST(ShadowPathTests, PathsOfEveryLengthAtTheEndOfAReadablePage)
{
    const std::vector<std::string> volumes = {"C:\\", "D:\\", "E:\\"};
    const std::vector<std::string> shadows = {S1, S12, Lower(kDevice) + "7\\"};
    VolSnapMapList list;
    for (size_t i = 0; i < volumes.size(); ++i)
        list.push_back(Entry(volumes[i], shadows[i]));
    const auto view = MakeVolSnapMapView(list);

    const size_t page = 4096;
    char *pages = static_cast<char *>(VirtualAlloc(NULL, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD was = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &was));
    EXPECT_EQ(DWORD(PAGE_READWRITE), was);

    for (const std::string &whole : {S12 + "dir\\file.txt", S1 + "x", Lower(kDevice) + "7\\" + std::string(80, 'y')}) {
        for (size_t cut = 0; cut <= whole.size(); ++cut) {
            const std::string path = whole.substr(0, cut);
            SCOPED_TRACE("path " + path);
            std::string continued = whole;
            continued[cut] = 0;
            ExpectPlainAnswers(*view, volumes, shadows, path, continued.c_str());
            char *atPageEnd = pages + page - (cut + 1);
            memcpy(atPageEnd, path.c_str(), cut + 1);
            ExpectPlainAnswers(*view, volumes, shadows, path, atPageEnd);
        }
    }
    EXPECT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
}

} // namespace

namespace {

// A published view lives while a reader holds it, however many views are published
// meanwhile, and is freed by the first publication after every thread that read it has
// read a later one or ended.
TEST(ShadowPathTests, ReplacedViewLivesUntilItsReadersEnd)
{
    std::shared_ptr<const VolSnapMapView> first = MakeVolSnapMapView({Entry("C:\\", S1)});
    const std::weak_ptr<const VolSnapMapView> watch = first;
    winclass::PublishVolSnapMapView(std::move(first));
    {
        const winclass::VolSnapMapReader reader;
        std::thread([] { winclass::VolSnapMapReader other; }).join();
        for (int i = 0; i < 3; ++i)
            winclass::PublishVolSnapMapView(MakeVolSnapMapView({Entry("D:\\", S2)}));
        ASSERT_FALSE(watch.expired());
        EXPECT_EQ(&reader.view(), watch.lock().get());
        EXPECT_EQ("C:\\f", Translated(reader.view(), S1 + "f"));
        const winclass::VolSnapMapReader nested; // the same view, not the one published now
        EXPECT_EQ(&reader.view(), &nested.view());
    }
    winclass::PublishVolSnapMapView(nullptr);
    EXPECT_FALSE(watch.expired()) << "this thread read nothing later";
    EXPECT_TRUE(winclass::VolSnapMapReader().view().entries.empty());
    winclass::PublishVolSnapMapView(nullptr);
    EXPECT_TRUE(watch.expired());
}

} // namespace
