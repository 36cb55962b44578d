// The volume snapshot map: one entry per volume of the backup, and the immutable views of
// it that the shadow-path lookups read.
//
// The session thread alone changes the map. Lookups run on any thread without a lock, so
// the session publishes a view after every change and a lookup takes the current view
// once, with one atomic load: no list copy and no allocation per call. An entry that a
// published view holds is never changed again; a change replaces it with a changed copy.
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

// The map as it stood when the view was made, in map order.
struct VolSnapMapView {
    std::vector<VolSnapMapViewEntry> entries;
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

// A view of the list as it stands now. The caller must not change the entries afterwards.
std::shared_ptr<const VolSnapMapView> MakeVolSnapMapView(const VolSnapMapList &list);

// Makes view the one that lookups take (NULL publishes an empty map).
void PublishVolSnapMapView(std::shared_ptr<const VolSnapMapView> view);

// The view last published; never NULL.
std::shared_ptr<const VolSnapMapView> CurrentVolSnapMapView();

} // namespace winclass
