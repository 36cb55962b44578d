// The volume snapshot map: one entry per volume of the backup, and the immutable views of
// it that the shadow-path lookups read.
//
// The session thread alone changes the map. Lookups run on any thread without a lock, so
// the session publishes a view after every change and a lookup takes the current view
// once: an atomic load compared with the view named in the calling thread's own hazard
// slot (and a store there when the view changed), with no reference count, no list copy
// and no allocation per call. A view replaced by a later one is freed by a publication
// once no thread's slot names it; a slot names the view its thread read last. An entry that a published view holds is
// never changed again; a change replaces it with a changed copy.
#pragma once

#include <libwinclass/tv_str.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <memory>
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
    size_t shadowPathBytes; // 0 when the entry has no shadow path yet
};

// The entries of a view whose shadow paths are, ignoring case, one text of `bytes` bytes:
// the first and the last of them in map order.
struct VolSnapMapShadowSlot {
    uint64_t hash = 0;
    size_t bytes = 0;
    uint32_t first = kNone;
    uint32_t last = kNone;
    static constexpr uint32_t kNone = 0xffffffffu;
};

// The map as it stood when the view was made, in map order.
struct VolSnapMapView {
    std::vector<VolSnapMapViewEntry> entries;
    // The shadow paths by their case-folded text, in an open-addressed table of a power of
    // two slots (at most half full), and the distinct lengths they have, shortest first:
    // finding the entries whose shadow path a path begins with probes one slot per length,
    // however many volumes the map holds.
    std::vector<VolSnapMapShadowSlot> shadowSlots;
    std::vector<size_t> shadowLengths;
    // How far into a path the lookups need to know its length: past the longest shadow
    // path (a longer path can equal none and lies inside any it begins with).
    size_t pathBytesNeeded = 0;
    // For each entry, the later entry that holds its volume's drive root with a shadow
    // path (its mount-point form), or VolSnapMapShadowSlot::kNone.
    std::vector<uint32_t> driveHolder;
    // What every non-empty UTF-8 shadow path begins with, ignoring ASCII case (the device
    // prefix they share): a path that does not begin with it lies in no shadow copy, and
    // one that does need only have the rest of each shadow path compared.
    const char *shadowPathCommonPrefix = "";
    size_t shadowPathCommonPrefixBytes = 0;
    bool anyShadowPath = false;
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

// The hash of a shadow-path slot: the length and the case-folded bytes that follow the
// common prefix.
inline uint64_t HashShadowTail(const char *tail, size_t tailBytes, size_t bytes)
{
    uint64_t hash = 1469598103934665603ull ^ bytes;
    for (size_t i = 0; i < tailBytes; ++i)
        hash = (hash ^ FoldAscii(static_cast<unsigned char>(tail[i]))) * 1099511628211ull;
    return hash;
}

// A view of the list as it stands now. The caller must not change the entries afterwards.
std::shared_ptr<const VolSnapMapView> MakeVolSnapMapView(const VolSnapMapList &list);

// Makes view the one that lookups take (NULL publishes an empty map). The view replaced
// is freed once no reader holds it. Called by one thread at a time.
void PublishVolSnapMapView(std::shared_ptr<const VolSnapMapView> view);

// Holds the view last published while it lives; one per thread at a time (a reader made
// while another lives on the same thread reads the same view).
class VolSnapMapReader {
public:
    VolSnapMapReader();
    ~VolSnapMapReader();
    VolSnapMapReader(const VolSnapMapReader &) = delete;
    VolSnapMapReader &operator=(const VolSnapMapReader &) = delete;

    const VolSnapMapView &view() const { return *view_; }

    struct HazardSlot;

private:
    HazardSlot *slot_;
    const VolSnapMapView *view_;
};

} // namespace winclass
