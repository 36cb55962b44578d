// The published views of the volume snapshot map.
//
// A reader names the view it takes in its thread's hazard slot and then checks that the
// view is still the published one (a view the slot already names needs neither); the publisher replaces the view first and then frees
// only the replaced views that no slot names. Both sides use sequentially consistent
// operations, so either the reader sees the replacement and takes the new view, or the
// publisher sees the reader's slot and keeps the old one for a later publication.
#include <libwinclass/backup/volsnapmap.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace winclass {

struct VolSnapMapReader::HazardSlot {
    // The view the thread read last. It stays named after the read ends, so that the next
    // read of the same view needs no store: a thread keeps at most one old view alive.
    alignas(64) std::atomic<const VolSnapMapView *> hazard{nullptr};
    int readers = 0;   // the thread's readers now living; the thread's own
    bool inUse = true; // guarded by the publisher's mutex
    HazardSlot *next = nullptr;
};

namespace {

using HazardSlot = VolSnapMapReader::HazardSlot;

// Constant-initialised: before the first publication the map reads as empty.
std::atomic<const VolSnapMapView *> publishedView{nullptr};
thread_local HazardSlot *threadSlot = nullptr;

// What the publisher and the slot registration share. Made once and never freed, since
// readers may run while the process unloads.
struct Publisher {
    std::mutex mutex;
    std::shared_ptr<const VolSnapMapView> current;
    std::vector<std::shared_ptr<const VolSnapMapView>> retired;
    HazardSlot *slots = nullptr;
};

Publisher &ThePublisher()
{
    static Publisher *publisher = new Publisher;
    return *publisher;
}

const VolSnapMapView &EmptyView()
{
    static const VolSnapMapView *empty = new VolSnapMapView;
    return *empty;
}

// Gives the thread's slot back for another thread when the thread ends.
struct SlotRelease {
    ~SlotRelease()
    {
        HazardSlot *slot = threadSlot;
        if (slot == nullptr)
            return;
        threadSlot = nullptr;
        slot->hazard.store(nullptr, std::memory_order_seq_cst);
        std::lock_guard<std::mutex> lock(ThePublisher().mutex);
        slot->inUse = false;
    }
};
thread_local SlotRelease threadSlotRelease;

HazardSlot *RegisterThread()
{
    Publisher &publisher = ThePublisher();
    HazardSlot *slot = nullptr;
    {
        std::lock_guard<std::mutex> lock(publisher.mutex);
        for (HazardSlot *free = publisher.slots; free != nullptr && slot == nullptr; free = free->next)
            if (!free->inUse)
                slot = free;
        if (slot == nullptr) {
            slot = new HazardSlot;
            slot->next = publisher.slots;
            publisher.slots = slot;
        }
        slot->inUse = true;
    }
    (void)&threadSlotRelease; // made now, so that the thread's end gives the slot back
    threadSlot = slot;
    return slot;
}

// The bytes at which the first n bytes of a and b first differ ignoring case; n if none.
size_t CommonBytes(const char *a, const char *b, size_t n)
{
    size_t common = 0;
    while (common < n && FoldAscii(static_cast<unsigned char>(a[common])) ==
                             FoldAscii(static_cast<unsigned char>(b[common])))
        ++common;
    return common;
}

void IndexShadowPaths(VolSnapMapView &view)
{
    size_t distinct = 0, longest = 0;
    for (const VolSnapMapViewEntry &entry : view.entries) {
        distinct += entry.shadowPathBytes != 0 ? 1 : 0;
        longest = std::max(longest, entry.shadowPathBytes);
    }
    view.pathBytesNeeded = longest + 1;
    if (distinct == 0)
        return;
    size_t slots = 4;
    while (slots < distinct * 2)
        slots *= 2;
    view.shadowSlots.resize(slots);
    const size_t prefix = view.shadowPathCommonPrefixBytes;
    for (size_t index = 0; index < view.entries.size(); ++index) {
        const VolSnapMapViewEntry &entry = view.entries[index];
        if (entry.shadowPathBytes == 0)
            continue;
        const size_t bytes = entry.shadowPathBytes;
        const uint64_t hash = HashShadowTail(entry.shadowPathUtf8 + prefix, bytes - prefix, bytes);
        for (size_t at = size_t(hash) & (slots - 1);; at = (at + 1) & (slots - 1)) {
            VolSnapMapShadowSlot &slot = view.shadowSlots[at];
            if (slot.first == VolSnapMapShadowSlot::kNone) {
                slot.hash = hash;
                slot.bytes = bytes;
                slot.first = slot.last = uint32_t(index);
                view.shadowLengths.push_back(bytes);
                break;
            }
            if (slot.hash == hash && slot.bytes == bytes &&
                EqualIgnoringCase(entry.shadowPathUtf8, view.entries[slot.first].shadowPathUtf8, bytes)) {
                slot.last = uint32_t(index);
                break;
            }
        }
    }
    std::sort(view.shadowLengths.begin(), view.shadowLengths.end());
    view.shadowLengths.erase(std::unique(view.shadowLengths.begin(), view.shadowLengths.end()),
                             view.shadowLengths.end());
}

// A drive root is matched byte for byte: its first (up to) three bytes and its length.
uint32_t DriveRootKey(const VolSnapMapViewEntry &entry, size_t bytes)
{
    uint32_t key = uint32_t(bytes) << 24;
    for (size_t i = 0; i < bytes; ++i)
        key |= uint32_t(static_cast<unsigned char>(entry.volumeUtf8[i])) << (8 * i);
    return key;
}

// From the last entry back, so that each finds the nearest later holder of its drive.
void FindDriveHolders(VolSnapMapView &view)
{
    view.driveHolder.assign(view.entries.size(), VolSnapMapShadowSlot::kNone);
    std::unordered_map<uint32_t, uint32_t> nearest;
    for (size_t index = view.entries.size(); index-- > 0;) {
        const VolSnapMapViewEntry &entry = view.entries[index];
        const size_t driveBytes = std::min(entry.volumeBytes, size_t(3));
        const auto found = nearest.find(DriveRootKey(entry, driveBytes));
        if (found != nearest.end())
            view.driveHolder[index] = found->second;
        if (entry.shadowPathBytes != 0 && entry.volumeBytes <= 3)
            nearest[DriveRootKey(entry, entry.volumeBytes)] = uint32_t(index);
    }
}

} // namespace

std::shared_ptr<const VolSnapMapView> MakeVolSnapMapView(const VolSnapMapList &list)
{
    auto view = std::make_shared<VolSnapMapView>();
    view->entries.reserve(list.size());
    for (const std::shared_ptr<CVssVolSnapShotMap> &entry : list) {
        VolSnapMapViewEntry viewEntry;
        viewEntry.entry = entry;
        viewEntry.volumeUtf8 = entry->volume.get_utf8();
        viewEntry.volumeBytes = strlen(viewEntry.volumeUtf8);
        viewEntry.shadowPathUtf8 = entry->shadowPath.get_utf8();
        viewEntry.shadowPathBytes = strlen(viewEntry.shadowPathUtf8);
        view->entries.push_back(std::move(viewEntry));
    }
    // The shared prefix of the shadow paths, cut where any two differ ignoring case.
    for (const VolSnapMapViewEntry &viewEntry : view->entries) {
        if (viewEntry.shadowPathBytes == 0)
            continue;
        if (!view->anyShadowPath) {
            view->anyShadowPath = true;
            view->shadowPathCommonPrefix = viewEntry.shadowPathUtf8;
            view->shadowPathCommonPrefixBytes = viewEntry.shadowPathBytes;
            continue;
        }
        view->shadowPathCommonPrefixBytes =
            CommonBytes(view->shadowPathCommonPrefix, viewEntry.shadowPathUtf8,
                        std::min(view->shadowPathCommonPrefixBytes, viewEntry.shadowPathBytes));
    }
    IndexShadowPaths(*view);
    FindDriveHolders(*view);
    return view;
}

void PublishVolSnapMapView(std::shared_ptr<const VolSnapMapView> view)
{
    if (!view)
        view = std::make_shared<VolSnapMapView>();
    Publisher &publisher = ThePublisher();
    std::lock_guard<std::mutex> lock(publisher.mutex);
    if (publisher.current)
        publisher.retired.push_back(std::move(publisher.current));
    publisher.current = std::move(view);
    publishedView.store(publisher.current.get(), std::memory_order_seq_cst);

    std::vector<const VolSnapMapView *> held;
    for (const HazardSlot *slot = publisher.slots; slot != nullptr; slot = slot->next)
        if (const VolSnapMapView *named = slot->hazard.load(std::memory_order_seq_cst))
            held.push_back(named);
    auto &retired = publisher.retired;
    retired.erase(std::remove_if(retired.begin(), retired.end(),
                                 [&held](const std::shared_ptr<const VolSnapMapView> &old) {
                                     return std::find(held.begin(), held.end(), old.get()) == held.end();
                                 }),
                  retired.end());
}

VolSnapMapReader::VolSnapMapReader()
{
    slot_ = threadSlot;
    if (slot_ == nullptr)
        slot_ = RegisterThread();
    const VolSnapMapView *view = slot_->hazard.load(std::memory_order_relaxed);
    if (slot_->readers++ == 0) {
        const VolSnapMapView *current = publishedView.load(std::memory_order_acquire);
        while (current != view) {
            view = current;
            slot_->hazard.store(view, std::memory_order_seq_cst);
            current = publishedView.load(std::memory_order_seq_cst);
        }
    }
    view_ = view != nullptr ? view : &EmptyView();
}

VolSnapMapReader::~VolSnapMapReader() { --slot_->readers; }

} // namespace winclass
