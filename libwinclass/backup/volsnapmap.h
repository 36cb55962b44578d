// The volume snapshot map: one entry per volume of the backup, and the immutable views of
// it that the shadow-path lookups read.
//
// The session thread alone changes the map. Lookups run on any thread without a lock, so
// the session publishes a view after every change and a lookup takes the current view
// once: an atomic load compared with the view named in the calling thread's own hazard
// slot (and a store there when the view changed), with no reference count, no list copy
// and no allocation per call. A view replaced by a later one is freed by a publication
// once no thread's slot names it; a slot names the view its thread read last. An entry
// that a published view holds is never changed again; a change replaces it with a
// changed copy.
#pragma once

#include <libwinclass/tv_str.h>

#include <platform/tvplatform.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <list>
#include <memory>
#include <string>
#include <vector>

// One volume of the backup in the volume snapshot map.
class CVssVolSnapShotMap {
public:
    bool marked = false;   // the caller's mark; never cleared once set
    uint32_t flags = 0;    // OR of the flags of every call that named the volume
    tv_str volume;         // root or mount folder, trailing backslash; the map's key
    tv_str volumeGuidName; // \\?\Volume{guid}\ ; empty when not looked up
    tv_str shadowPath;     // shadow-copy device path, trailing backslash; empty until known
    tv_str driveRoot;      // X:\ when the volume also has a drive letter; else empty
};

// Flag bits of a map entry.
enum : uint32_t {
    VOLSNAP_SAVE_PATH = 0x1,
    VOLSNAP_CRITICAL = 0x2,
    VOLSNAP_MOUNT_PARENT = 0x4,
    VOLSNAP_DYNAMIC_PACK = 0x8,
    VOLSNAP_BCD = 0x20,
};

// Ordered by decreasing length of volume; among equal lengths the newest comes last.
using VolSnapMapList = std::list<std::shared_ptr<CVssVolSnapShotMap>>;

// One entry of a view, with the UTF-8 forms of its texts ready for the lookups. The
// pointers refer to the entry's own UTF-8 mirrors, which live and stay unchanged as long
// as the view holds the entry.
struct VolSnapMapViewEntry {
    std::shared_ptr<const CVssVolSnapShotMap> entry;
    const char *volumeUtf8;
    size_t volumeBytes;
    const char *shadowPathUtf8;
    size_t shadowPathBytes;       // 0 when the entry has no shadow path yet
    std::string foldedShadowPath; // shadowPathUtf8 with A-Z folded to a-z
};

// The entries of a view whose shadow paths are, ignoring case, one text of `bytes` bytes:
// the first and the last of them in map order, and that text case-folded.
struct VolSnapMapShadowSlot {
    uint64_t key = 0;
    size_t bytes = 0;
    const char *original = nullptr; // the first entry's shadow path
    const char *folded = nullptr;   // the same, folded
    uint32_t first = kNone;
    uint32_t last = kNone;
    static constexpr uint32_t kNone = 0xffffffffu;
};

// The map as it stood when the view was made, in map order.
struct VolSnapMapView {
    std::vector<VolSnapMapViewEntry> entries;
    // The shadow paths by their case-folded text, in an open-addressed table of a power of
    // two slots (at most a quarter full), and the distinct lengths they have, shortest first:
    // finding the entries whose shadow path a path begins with probes one slot per length,
    // however many volumes the map holds.
    std::vector<VolSnapMapShadowSlot> shadowSlots;
    unsigned shadowSlotShift = 64; // a key's slot is key >> shadowSlotShift
    size_t shadowSlotMask = 0;     // the number of slots less one
    std::vector<size_t> shadowLengths;
    // How far into a path the lookups need to know its length: past the longest shadow
    // path (a longer path can equal none and lies inside any it begins with).
    size_t pathBytesNeeded = 0;
    // For each entry, the later entry that holds its volume's drive root with a shadow
    // path (its mount-point form), or VolSnapMapShadowSlot::kNone.
    std::vector<uint32_t> driveHolder;
};

namespace winclass {

// Letter case as the C runtime's _stricmp family folds it in the "C" locale: A-Z only.
inline unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// The first n bytes of a and b are equal ignoring ASCII case. Both must hold n bytes.
// Texts that agree byte for byte (the usual case for paths made from the same device
// name) are passed over eight bytes at a time.
inline bool EqualIgnoringCase(const char *a, const char *b, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        memcpy(&x, a + i, 8);
        memcpy(&y, b + i, 8);
        if (x != y)
            break;
    }
    for (; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y && FoldAscii(x) != FoldAscii(y))
            return false;
    }
    return true;
}

// Eight bytes with each of A-Z folded to a-z and every other byte (UTF-8 lead and trail
// bytes among them) left alone. Per byte: below 0x80, at least 'A' and not above 'Z'.
// No sum carries into the next byte, since each adds at most 0x3f to at most 0x7f.
inline uint64_t FoldAscii8(uint64_t x)
{
    const uint64_t high = 0x8080808080808080ull;
    const uint64_t low7 = x & ~high;
    const uint64_t atLeastA = low7 + 0x3f3f3f3f3f3f3f3full;  // 'A' + 0x3f = 0x80
    const uint64_t aboveZ = low7 + 0x2525252525252525ull;    // '[' + 0x25 = 0x80
    const uint64_t upper = atLeastA & ~aboveZ & ~x & high;
    return x | (upper >> 2);                                  // 0x80 >> 2 = 0x20
}

inline uint64_t LoadFolded8(const char *p)
{
    uint64_t x;
    memcpy(&x, p, 8);
    return FoldAscii8(x);
}

// The 16 bytes at text equal those at original, or equal those at folded once A-Z in them
// are folded to a-z (folded is original folded). Text that comes from the shadow path it
// is compared with agrees byte for byte, which is tested first.
[[gnu::always_inline]] inline bool EqualsIgnoringCase16(const char *text, const char *original, const char *folded)
{
#if defined(__SSE2__)
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_loadu_si128(reinterpret_cast<const __m128i *>(original)))) == 0xffff)
        return true;
    const __m128i offset = _mm_sub_epi8(x, _mm_set1_epi8('A'));
    const __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8('Z' - 'A')), offset);
    const __m128i lower = _mm_or_si128(x, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(lower, _mm_loadu_si128(reinterpret_cast<const __m128i *>(folded)))) ==
           0xffff;
#else
    (void)original;
    uint64_t y, z;
    memcpy(&y, folded, 8);
    memcpy(&z, folded + 8, 8);
    return LoadFolded8(text) == y && LoadFolded8(text + 8) == z;
#endif
}

// The first n bytes of text equal original ignoring case (folded is original folded).
// All three must hold n bytes. Sixteen (or eight) at a time, the last block overlapping
// what came before.
[[gnu::always_inline]] inline bool EqualsShadowPath(const char *text, const char *original, const char *folded, size_t n)
{
#if defined(__SSE2__)
    // Byte for byte first, the usual case, in two or four blocks that overlap as needed.
    if (n >= 16 && n <= 64) {
        const auto same = [&](size_t at) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(original + at)));
        };
        __m128i all = _mm_and_si128(same(0), same(n - 16));
        if (n > 32)
            all = _mm_and_si128(all, _mm_and_si128(same(16), same(n - 32)));
        if (_mm_movemask_epi8(all) == 0xffff)
            return true;
    }
#endif
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16)
            if (!EqualsIgnoringCase16(text + i, original + i, folded + i))
                return false;
        return EqualsIgnoringCase16(text + n - 16, original + n - 16, folded + n - 16);
    }
    if (n >= 8) {
        uint64_t y, z;
        memcpy(&y, folded, 8);
        memcpy(&z, folded + n - 8, 8);
        return LoadFolded8(text) == y && LoadFolded8(text + n - 8) == z;
    }
    for (size_t i = 0; i < n; ++i)
        if (FoldAscii(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(folded[i]))
            return false;
    return true;
}

// The index key of a text's first `bytes` bytes ignoring case: their length and their
// last eight bytes (where shadow-copy device names differ: the number at their end), each
// with its 0x20 bit set, which makes A-Z and a-z one (and a few other pairs, which only
// cost a longer probe), multiplied so that every bit reaches the key's high bits, which
// pick the slot.
inline uint64_t ShadowKey(const char *text, size_t bytes)
{
    uint64_t last = 0;
    if (bytes >= 8)
        memcpy(&last, text + bytes - 8, 8);
    else
        memcpy(&last, text, bytes);
    return ((last | 0x2020202020202020ull) ^ bytes) * 0x9e3779b97f4a7c15ull;
}

// A view of the list as it stands now. The caller must not change the entries afterwards.
std::shared_ptr<const VolSnapMapView> MakeVolSnapMapView(const VolSnapMapList &list);

// Makes view the one that lookups take (NULL publishes an empty map). The view replaced
// is freed once no reader holds it. Called by one thread at a time.
void PublishVolSnapMapView(std::shared_ptr<const VolSnapMapView> view);

// A thread's hazard slot: the view the thread read last. It stays named after the read
// ends, so that the next read of the same view needs no store: a thread keeps at most
// one old view alive.
struct VolSnapMapHazardSlot {
    alignas(64) std::atomic<const VolSnapMapView *> hazard{nullptr};
    int readers = 0;   // the thread's readers now living; the thread's own
    bool inUse = true; // guarded by the publisher's mutex
    VolSnapMapHazardSlot *next = nullptr;
};

// The view lookups take: NULL until the first publication, which reads as an empty map.
extern std::atomic<const VolSnapMapView *> publishedVolSnapMapView;

// The calling thread's slot, NULL until its first reader registers it.
inline VolSnapMapHazardSlot *&ThreadHazardSlot()
{
    static thread_local TV_TLS_HOT VolSnapMapHazardSlot *slot = nullptr;
    return slot;
}

// The out-of-line parts of a read: a thread's first, a view that changed, an empty map.
VolSnapMapHazardSlot *RegisterVolSnapMapReaderThread();
const VolSnapMapView *HoldPublishedVolSnapMapView(VolSnapMapHazardSlot *slot, const VolSnapMapView *current);
const VolSnapMapView &EmptyVolSnapMapView();

// Holds the view last published while it lives; one per thread at a time (a reader made
// while another lives on the same thread reads the same view). Inline: the shadow-path
// callbacks make one for every path the client asks about.
class VolSnapMapReader {
public:
    VolSnapMapReader()
    {
        slot_ = ThreadHazardSlot();
        if (slot_ == nullptr)
            slot_ = RegisterVolSnapMapReaderThread();
        const VolSnapMapView *view = slot_->hazard.load(std::memory_order_relaxed);
        if (slot_->readers++ == 0) {
            const VolSnapMapView *current = publishedVolSnapMapView.load(std::memory_order_acquire);
            if (current != view)
                view = HoldPublishedVolSnapMapView(slot_, current);
        }
        view_ = view != nullptr ? view : &EmptyVolSnapMapView();
    }
    ~VolSnapMapReader() { --slot_->readers; }
    VolSnapMapReader(const VolSnapMapReader &) = delete;
    VolSnapMapReader &operator=(const VolSnapMapReader &) = delete;

    const VolSnapMapView &view() const { return *view_; }

private:
    VolSnapMapHazardSlot *slot_;
    const VolSnapMapView *view_;
};

} // namespace winclass
