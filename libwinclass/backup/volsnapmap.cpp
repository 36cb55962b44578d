// The published views of the volume snapshot map.
//
// A reader names the view it takes in its thread's hazard slot and then checks that the
// view is still the published one (a view the slot already names needs neither); the
// publisher replaces the view first and then frees only the replaced views that no slot
// names. Both sides use sequentially consistent operations, so either the reader sees the
// replacement and takes the new view, or the publisher sees the reader's slot and keeps
// the old one for a later publication.
#include <libwinclass/backup/volsnapmap.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace winclass {

std::atomic<const VolSnapMapView *> publishedVolSnapMapView{nullptr};

namespace {

using HazardSlot = VolSnapMapHazardSlot;

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

// Gives the thread's slot back for another thread when the thread ends.
struct SlotRelease {
    // The thread's slot, kept here too: the thread-local variable that names it may be
    // gone before this runs (where thread-local storage is emulated, as in the DLL).
    HazardSlot *slot = nullptr;
    ~SlotRelease()
    {
        if (slot == nullptr)
            return;
        ThreadHazardSlot() = nullptr;
        slot->hazard.store(nullptr, std::memory_order_seq_cst);
        std::lock_guard<std::mutex> lock(ThePublisher().mutex);
        slot->inUse = false;
        slot = nullptr;
    }
};
thread_local SlotRelease threadSlotRelease;

} // namespace

const VolSnapMapView &EmptyVolSnapMapView()
{
    static const VolSnapMapView *empty = new VolSnapMapView;
    return *empty;
}

HazardSlot *RegisterVolSnapMapReaderThread()
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
    threadSlotRelease.slot = slot; // the thread's end gives the slot back
    ThreadHazardSlot() = slot;
    return slot;
}

// Names current in the slot and then checks that it is still the published view: either
// the publisher sees the slot and keeps the view, or this sees its replacement.
const VolSnapMapView *HoldPublishedVolSnapMapView(HazardSlot *slot, const VolSnapMapView *current)
{
    const VolSnapMapView *view = nullptr;
    while (current != view) {
        view = current;
        slot->hazard.store(view, std::memory_order_seq_cst);
        current = publishedVolSnapMapView.load(std::memory_order_seq_cst);
    }
    return view;
}

namespace {

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
    // At most a quarter full, so that a probe seldom passes an occupied slot.
    size_t slots = 4;
    view.shadowSlotShift = 62;
    while (slots < distinct * 4) {
        slots *= 2;
        --view.shadowSlotShift;
    }
    view.shadowSlots.resize(slots);
    view.shadowSlotMask = slots - 1;
    for (size_t index = 0; index < view.entries.size(); ++index) {
        const VolSnapMapViewEntry &entry = view.entries[index];
        const size_t bytes = entry.shadowPathBytes;
        if (bytes == 0)
            continue;
        const char *folded = entry.foldedShadowPath.c_str();
        const uint64_t key = ShadowKey(folded, bytes);
        for (size_t at = size_t(key >> view.shadowSlotShift);; at = (at + 1) & view.shadowSlotMask) {
            VolSnapMapShadowSlot &slot = view.shadowSlots[at];
            if (slot.first == VolSnapMapShadowSlot::kNone) {
                slot.key = key;
                slot.bytes = bytes;
                slot.original = entry.shadowPathUtf8;
                slot.folded = folded;
                slot.first = slot.last = uint32_t(index);
                view.shadowLengths.push_back(bytes);
                break;
            }
            if (slot.key == key && slot.bytes == bytes && memcmp(folded, slot.folded, bytes) == 0) {
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
        viewEntry.foldedShadowPath.assign(viewEntry.shadowPathUtf8, viewEntry.shadowPathBytes);
        for (char &c : viewEntry.foldedShadowPath)
            c = char(FoldAscii(static_cast<unsigned char>(c)));
        view->entries.push_back(std::move(viewEntry));
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
    publishedVolSnapMapView.store(publisher.current.get(), std::memory_order_seq_cst);

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

} // namespace winclass
