// Live paths to shadow-copy paths and back, from one view of the volume snapshot map.
//
// Two tests recur. A path equals an entry's shadow path when the entry has one and the
// path, cut to 259 bytes, is that shadow path (trailing backslash included) ignoring case.
// A path lies inside it when it is no longer than the shadow path and equal to it, or when
// it begins with the whole shadow path ignoring case. The trailing backslash keeps
// ...ShadowCopy1\ from matching below ...ShadowCopy12\.
#include <libwinclass/backup/shadowpaths.h>

#include <libwinclass/backup.h>

#include <liblocal/local.h>

#include <cstdint>
#include <cstring>

namespace winclass {

namespace {

// The longest path, in bytes, that the equality test looks at.
const size_t kEqualityBytes = 259;
// The smallest unit of memory protection on x86-64 Windows and Linux: a byte that can be
// read makes its whole page readable.
const size_t kPageBytes = 4096;
// A path's length before it is measured.
const size_t kUnmeasured = SIZE_MAX;
// Windows volume calls answer into buffers of this many characters.
const size_t kVolumePathChars = 260;

bool TraceMapping() { return Debug >= 5 || (VoTrace & 0x10) != 0; }

size_t WideLength(const WCHAR *text)
{
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

// _wcsnicmp in the "C" locale: A-Z fold, nothing else does.
bool WideEqualIgnoringCase(const WCHAR *a, const WCHAR *b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        WCHAR x = a[i], y = b[i];
        if (x == y)
            continue;
        if (x >= 'A' && x <= 'Z')
            x = WCHAR(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z')
            y = WCHAR(y + ('a' - 'A'));
        if (x != y)
            return false;
    }
    return true;
}

bool WideEqual(const WCHAR *a, const WCHAR *b, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// Whether the prefix tests may probe a path before its length is known. A probe for shadow
// paths of n bytes reads the path's first n bytes, and a path that is shorter holds a zero
// byte among them where no shadow path has one, so the answer is the same; those bytes
// must only be readable, which they are when they lie in the page of the path's first
// byte. The sanitizers would report the bytes read past a short path's end: under them
// every path is measured first.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TV_PROBE_UNMEASURED_PATHS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TV_PROBE_UNMEASURED_PATHS 0
#endif
#endif
#ifndef TV_PROBE_UNMEASURED_PATHS
#define TV_PROBE_UNMEASURED_PATHS 1
#endif

// A path's length is needed only up to the view's pathBytesNeeded: any longer path answers
// as that long one. The prefix tests skip even that when they can (see above). The
// matcher's parts are inlined into each lookup, which the client calls for every file.
class ShadowPathMatcher {
public:
    [[gnu::always_inline]] ShadowPathMatcher(const VolSnapMapView &view, const char *path)
        : view_(view), path_(path), pathBytes_(LengthForProbes(view, path))
    {
    }

    // The entries whose shadow path the path equals (cut to kEqualityBytes); NULL if none.
    [[gnu::always_inline]] const VolSnapMapShadowSlot *Equal() const
    {
        const size_t bytes = pathBytes_ != kUnmeasured ? pathBytes_ : strnlen(path_, view_.pathBytesNeeded);
        return Find(bytes < kEqualityBytes ? bytes : kEqualityBytes);
    }

    // The first entry in map order that the path lies inside, or kNone.
    [[gnu::always_inline]] uint32_t FirstInside() const
    {
        uint32_t first = VolSnapMapShadowSlot::kNone;
        for (const size_t bytes : view_.shadowLengths) {
            if (bytes > pathBytes_)
                break;
            if (!MayLieInside(bytes))
                continue;
            const VolSnapMapShadowSlot *slot = Find(bytes);
            if (slot != NULL && slot->first < first)
                first = slot->first;
        }
        return first;
    }

    // Whether the path lies inside any shadow path: FirstInside() != kNone, sooner.
    [[gnu::always_inline]] bool AnyInside() const
    {
        for (const size_t bytes : view_.shadowLengths) {
            if (bytes > pathBytes_)
                break;
            if (MayLieInside(bytes) && Find(bytes) != NULL)
                return true;
        }
        return false;
    }

private:
    // The path's length up to pathBytesNeeded, or kUnmeasured when the prefix tests may
    // probe it as it is: no shadow path is longer than the equality cut (so a path as long
    // as one may always equal it) and the bytes a probe reads lie in the path's first page.
    [[gnu::always_inline]] static size_t LengthForProbes(const VolSnapMapView &view, const char *path)
    {
#if TV_PROBE_UNMEASURED_PATHS
        const size_t longest = view.pathBytesNeeded - 1;
        if (longest <= kEqualityBytes && (reinterpret_cast<uintptr_t>(path) & (kPageBytes - 1)) + longest <= kPageBytes)
            return kUnmeasured;
#endif
        return strnlen(path, view.pathBytesNeeded);
    }

    // The path, no shorter than a shadow path of `bytes` bytes, may lie inside it: when
    // as long, only by being equal to it, which looks at kEqualityBytes at most.
    [[gnu::always_inline]] bool MayLieInside(size_t bytes) const
    {
        return bytes < pathBytes_ || bytes <= kEqualityBytes;
    }

    // The slot of the shadow paths that equal the path's first `bytes` bytes ignoring
    // case; NULL if none. The path holds at least `bytes` bytes when this is called, or,
    // unmeasured, its first `bytes` bytes can be read.
    [[gnu::always_inline]] const VolSnapMapShadowSlot *Find(size_t bytes) const
    {
        if (view_.shadowSlots.empty())
            return NULL;
        const size_t mask = view_.shadowSlotMask;
        const uint64_t key = ShadowKey(path_, bytes);
        for (size_t at = size_t(key >> view_.shadowSlotShift);; at = (at + 1) & mask) {
            const VolSnapMapShadowSlot &slot = view_.shadowSlots[at];
            if (slot.first == VolSnapMapShadowSlot::kNone)
                return NULL;
            if (slot.key == key && slot.bytes == bytes && EqualsShadowPath(path_, slot.original, slot.folded, bytes))
                return &slot;
        }
    }

    const VolSnapMapView &view_;
    const char *path_;
    size_t pathBytes_;
};

#if defined(__SSE2__)
[[gnu::always_inline]] inline void Copy16(char *to, const char *from)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm_loadu_si128(reinterpret_cast<const __m128i *>(from)));
}
#endif

// memcpy of a path's few dozen bytes, inline: up to 64 bytes as two or four blocks of
// sixteen, the second pair overlapping the first.
[[gnu::always_inline]] inline void CopyBytes(char *to, const char *from, size_t n)
{
#if defined(__SSE2__)
    if (n >= 16 && n <= 64) {
        if (n > 32) {
            Copy16(to + 16, from + 16);
            Copy16(to + n - 32, from + n - 32);
        }
        Copy16(to, from);
        Copy16(to + n - 16, from + n - 16);
        return;
    }
#endif
    memcpy(to, from, n);
}

// Copies the text at from into the room bytes at to (room >= 1), cut to fit, and ends it
// with a zero, as strlcpy would. Where paths are probed unmeasured, the first 64 bytes go
// without measuring the text first: sixteen at a time, each block stored unless it holds
// the zero, when they lie in one page and fit with the zero.
[[gnu::always_inline]] inline void CopyText(char *to, const char *from, size_t room)
{
#if defined(__SSE2__) && TV_PROBE_UNMEASURED_PATHS
    if (room > 64 && (reinterpret_cast<uintptr_t>(from) & (kPageBytes - 1)) <= kPageBytes - 64) {
        for (size_t done = 0; done < 64; done += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + done));
            const unsigned zeros = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128())));
            if (zeros != 0) {
                // The sixteen bytes that end with the zero, or the whole text when shorter.
                const size_t end = done + size_t(__builtin_ctz(zeros)) + 1;
                if (end >= 16)
                    Copy16(to + end - 16, from + end - 16);
                else
                    memcpy(to, from, end);
                return;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + done), block);
        }
        to += 64;
        from += 64;
        room -= 64;
    }
#endif
    const size_t bytes = strnlen(from, room - 1);
    memcpy(to, from, bytes);
    to[bytes] = 0;
}

// The live form of a path that lies inside the entry's shadow path: the entry's volume
// followed by what comes after the shadow path, cut to fit (as a copy and an append into
// size bytes would).
[[gnu::always_inline]] inline void WriteLivePath(const VolSnapMapViewEntry &entry, const char *path, char *buffer,
                                                 size_t size)
{
    if (entry.volumeBytes == 0 || entry.shadowPathBytes == 0 || buffer == NULL || size == 0 || path == NULL)
        return;
    const size_t volumeBytes = entry.volumeBytes;
    if (volumeBytes >= size) {
        CopyBytes(buffer, entry.volumeUtf8, size - 1);
        buffer[size - 1] = 0;
        return;
    }
    CopyBytes(buffer, entry.volumeUtf8, volumeBytes);
    CopyText(buffer + volumeBytes, path + entry.shadowPathBytes, size - volumeBytes);
}

} // namespace

int GetMapping(const VolSnapMapView &view, const WCHAR *path, WCHAR *volume, size_t volumeSize, WCHAR *shadow,
               size_t shadowSize, WCHAR *driveRoot, size_t driveRootSize)
{
    if (path == NULL || volume == NULL || volumeSize == 0 || shadow == NULL || shadowSize == 0)
        return 0;

    WCHAR root[kVolumePathChars] = {};
    GetVolumePathNameW(path, root, DWORD(kVolumePathChars));

    // A junction or symbolic link can lead a path on one drive onto another volume, whose
    // root Windows then answers. The backup reads the path through the drive it names,
    // unless the client says it follows such links (TLV_MAST).
    if (vo_getenv("TLV_MAST") == NULL && path[0] != 0 && path[1] == ':' && path[0] != root[0]) {
        vo_wcslcpy(root, path, kVolumePathChars);
        for (size_t i = 0; root[i] != 0; ++i) {
            if (root[i] == '\\') {
                root[i + 1] = 0;
                break;
            }
        }
        if (TraceMapping()) {
            char rootUtf8[kVolumePathChars * 3];
            vo_wcs_to_utf8s(rootUtf8, root, sizeof rootUtf8, 0);
            debugprintf("Detected symlink/junction crossing volume boundary. Using '%s' volume for mapping to "
                        "the shadow path.\n",
                        rootUtf8);
        }
    }

    WCHAR key[kVolumePathChars] = {};
    GetVolumePathNameW(root, key, DWORD(kVolumePathChars));
    size_t keyLength = WideLength(key);
    if (keyLength > 0 && key[keyLength - 1] != '\\' && keyLength + 1 < kVolumePathChars) {
        key[keyLength++] = '\\';
        key[keyLength] = 0;
    }

    for (const VolSnapMapViewEntry &viewEntry : view.entries) {
        const CVssVolSnapShotMap &entry = *viewEntry.entry;
        const size_t entryLength = size_t(entry.volume.length());
        if (entryLength < keyLength)
            break;
        if (entryLength != keyLength || !WideEqual(entry.volume, key, keyLength))
            continue;
        vo_wcslcpy(volume, entry.volume, volumeSize);
        if (!entry.shadowPath.is_empty()) {
            vo_wcslcpy(shadow, entry.shadowPath, shadowSize);
            if (!entry.driveRoot.is_empty() && driveRoot != NULL && driveRootSize != 0)
                vo_wcslcpy(driveRoot, entry.driveRoot, driveRootSize);
        }
        break;
    }
    return 0;
}

int GetShadowCopyRootPath(const VolSnapMapView &view, const WCHAR *path, WCHAR *buffer, size_t size)
{
    if (path == NULL || buffer == NULL || size == 0)
        return 0;
    // The first size bytes: no more can be known to lie inside the buffer whichever unit
    // the caller counted in.
    memset(buffer, 0, size);

    const size_t pathLength = WideLength(path);
    for (const VolSnapMapViewEntry &viewEntry : view.entries) {
        const tv_str &shadowPath = viewEntry.entry->shadowPath;
        const size_t shadowLength = size_t(shadowPath.length());
        if (shadowLength == 0 || shadowLength > pathLength)
            continue;
        if (!WideEqualIgnoringCase(path, shadowPath, shadowLength))
            continue;
        // The root is the device itself, without the shadow path's trailing backslash.
        size_t copied = shadowLength - 1;
        if (copied > size - 1)
            copied = size - 1;
        memcpy(buffer, static_cast<const WCHAR *>(shadowPath), copied * sizeof(WCHAR));
        buffer[copied] = 0;
        return 1;
    }
    return 0;
}

namespace {

// The two callbacks called for every file, inlined into both their exported and their
// internal forms.
[[gnu::always_inline]] inline int SnapshotPathTest(const VolSnapMapView &view, const char *path)
{
    if (path == NULL)
        return 0;
    return ShadowPathMatcher(view, path).AnyInside() ? 1 : 0;
}

[[gnu::always_inline]] inline void Translation(const VolSnapMapView &view, const char *path, char *buffer, size_t size)
{
    if (path == NULL)
        return;
    const ShadowPathMatcher matcher(view, path);
    const uint32_t index = matcher.FirstInside();
    if (index != VolSnapMapShadowSlot::kNone)
        WriteLivePath(view.entries[index], path, buffer, size);
}

} // namespace

int IsSnapshotPath(const VolSnapMapView &view, const char *path) { return SnapshotPathTest(view, path); }

int IsSnapshotRoot(const VolSnapMapView &view, const char *path, char *buffer, size_t size)
{
    if (path == NULL)
        return 0;
    const ShadowPathMatcher matcher(view, path);
    const VolSnapMapShadowSlot *equal = matcher.Equal();
    if (equal == NULL)
        return 0;
    // With several entries of that shadow path the last one's live form stands.
    WriteLivePath(view.entries[equal->last], path, buffer, size);
    return 1;
}

int IsSnapshotMountpointRoot(const VolSnapMapView &view, const char *path, char *buffer, size_t size)
{
    if (path == NULL)
        return 0;
    const ShadowPathMatcher matcher(view, path);
    if (matcher.Equal() == NULL)
        return 0;
    if (buffer == NULL || size == 0)
        return 1;

    // The mount-point form: where the volume's mount folder lies inside the shadow copy of
    // the drive that holds it (that drive's shadow path and the folder below the drive
    // root), or the live mount folder when that drive has no shadow copy in the map. A
    // drive root has no drive holding it, so it answers its live root.
    const uint32_t index = matcher.FirstInside();
    if (index == VolSnapMapShadowSlot::kNone || view.entries[index].volumeBytes == 0)
        return 1;
    const VolSnapMapViewEntry &mounted = view.entries[index];
    const size_t driveRootBytes = mounted.volumeBytes < 3 ? mounted.volumeBytes : 3;
    const uint32_t holder = view.driveHolder[index];
    if (holder != VolSnapMapShadowSlot::kNone) {
        vo_strlcpy(buffer, view.entries[holder].shadowPathUtf8, size);
        vo_strlcat(buffer, mounted.volumeUtf8 + driveRootBytes, size);
    } else {
        vo_strlcpy(buffer, mounted.volumeUtf8, size);
    }
    return 1;
}

void TranslateToPhysical(const VolSnapMapView &view, const char *path, char *buffer, size_t size)
{
    Translation(view, path, buffer, size);
}

} // namespace winclass

// The exported lookups. Each call holds the current view of the volume snapshot map while
// it runs and answers from it alone, so a change made meanwhile by the session's thread is
// never seen half done. The vsscr_is_snapshot_* tests and the translation are the callbacks
// the host runtime calls for every path it meets, on any thread; they are defined here,
// beside the lookups, so that each compiles into one function.
extern "C" {

WINCLASS_API int vsscr_get_mapping(const WCHAR *path, WCHAR *volume, size_t volumeSize, WCHAR *shadow,
                                   size_t shadowSize, WCHAR *driveRoot, size_t driveRootSize)
{
    const winclass::VolSnapMapReader reader;
    return winclass::GetMapping(reader.view(), path, volume, volumeSize, shadow, shadowSize, driveRoot, driveRootSize);
}

WINCLASS_API int vsscr_get_shadowcopy_rootpath(const WCHAR *path, WCHAR *buffer, size_t size)
{
    const winclass::VolSnapMapReader reader;
    return winclass::GetShadowCopyRootPath(reader.view(), path, buffer, size);
}

WINCLASS_API int vsscr_is_snapshot_path(const char *path)
{
    const winclass::VolSnapMapReader reader;
    return winclass::SnapshotPathTest(reader.view(), path);
}

WINCLASS_API int vsscr_is_snapshot_root(const char *path, char *buffer, size_t size)
{
    const winclass::VolSnapMapReader reader;
    return winclass::IsSnapshotRoot(reader.view(), path, buffer, size);
}

WINCLASS_API int vsscr_is_snapshot_mountpoint_root(const char *path, char *buffer, size_t size)
{
    const winclass::VolSnapMapReader reader;
    return winclass::IsSnapshotMountpointRoot(reader.view(), path, buffer, size);
}

WINCLASS_API void vsscr_translate_to_physical(const char *path, char *buffer, size_t size)
{
    const winclass::VolSnapMapReader reader;
    winclass::Translation(reader.view(), path, buffer, size);
}

} // extern "C"
