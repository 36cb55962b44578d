// The published views of the volume snapshot map.
#include <libwinclass/backup/volsnapmap.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace winclass {

namespace {

// Zero-initialised at load: before the first publication the map reads as empty.
std::shared_ptr<const VolSnapMapView> publishedView;

const std::shared_ptr<const VolSnapMapView> &EmptyView()
{
    static const std::shared_ptr<const VolSnapMapView> empty = std::make_shared<VolSnapMapView>();
    return empty;
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
        size_t common = 0;
        const size_t limit = std::min(view->shadowPathCommonPrefixBytes, viewEntry.shadowPathBytes);
        while (common < limit &&
               FoldAscii(static_cast<unsigned char>(view->shadowPathCommonPrefix[common])) ==
                   FoldAscii(static_cast<unsigned char>(viewEntry.shadowPathUtf8[common])))
            ++common;
        view->shadowPathCommonPrefixBytes = common;
    }
    return view;
}

void PublishVolSnapMapView(std::shared_ptr<const VolSnapMapView> view)
{
    if (!view)
        view = EmptyView();
    std::atomic_store(&publishedView, std::move(view));
}

std::shared_ptr<const VolSnapMapView> CurrentVolSnapMapView()
{
    std::shared_ptr<const VolSnapMapView> view = std::atomic_load(&publishedView);
    return view ? view : EmptyView();
}

} // namespace winclass
