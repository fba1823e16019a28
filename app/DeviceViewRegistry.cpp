// The device list's registry rows: the registry's terminals listed, online
// or not, offline ones with how long, the region and tag boxes filled from
// it, and the long-offline count.
#include "DeviceView.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "DeviceViewParts.h"
#include "GbkCodec.h"
#include "RegistryKeeper.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "TitleBanner.h"
#include "platform/LocalTime.h"

namespace pelmora {

using namespace device_list;

void CDeviceView::SetRegistry(Registry registry) {
    registry_ = std::move(registry);
    synced_ = false;
    if (registry_.keeper) {
        registryTimer_.start(kRegistryPassMs);
    } else {
        registryTimer_.stop();
    }
}

void CDeviceView::ShowRegistry() {
    if (!registry_.keeper) return;
    {
        const DeviceTableChanges changes(*rows_);
        SyncRegistry();
        const std::int64_t now = registry_.now();
        for (int at = 0; at < rows_->Rows(); ++at) {
            if (!IsOnlineAt(at))
                SetIfChanged(at, kOnline, OfflineText(rows_->At(at).deviceId, now));
        }
        CountRegistry(now);
    }
    ShowCounts();
}

void CDeviceView::SyncRegistry() {
    const dispatch::RegistryKeeper& keeper = *registry_.keeper;
    if (!synced_ || syncedRevision_ != keeper.Revision()) {
        // Rows made before the change may be out of date: made again.
        pending_.clear();
        pendingAt_ = 0;
        staged_.clear();
        for (const auto& [id, t] : keeper.Terminals()) {
            const int at = SourceRowOf(id);
            if (at < 0) {
                if (!removed_.contains(id)) pending_.push_back(id);
                continue;
            }
            const bool name = SetIfChanged(at, kName, Utf8(t.name));
            const bool region = SetIfChanged(at, kRegion, Utf8(RegionShown(t)));
            const bool tags = SetIfChanged(at, kTags, Utf8(t.tags));
            if (name || region || tags) ApplyFilter(at);
        }
        // New rows come in the order of their IDs.
        std::sort(pending_.begin(), pending_.end());
        FillBoxes();
        syncedRevision_ = keeper.Revision();
        synced_ = true;
    }
    AddPendingRows();
}

void CDeviceView::AddPendingRows() {
    if (pendingAt_ >= pending_.size()) return;
    const auto& terminals = registry_.keeper->Terminals();
    const std::int64_t now = registry_.now();
    staged_.reserve(pending_.size());
    for (int made = 0; pendingAt_ < pending_.size() && made < kRowsPerPass; ++pendingAt_) {
        const std::uint32_t id = pending_[pendingAt_];
        const auto it = terminals.find(id);
        if (it == terminals.end()) continue;
        const store::Terminal& t = it->second;
        auto row = std::make_unique<Row>();
        row->deviceId = id;
        row->texts = {
            IdTextOf(id),
            QString(),
            t.lastSeen == 0 ? QString() : LocalTimeText(static_cast<std::uint32_t>(t.lastSeen)),
            Utf8(t.sim),
            Utf8(t.address),
            OfflineText(id, now),
            UnknownPowerWord(),
            Utf8(t.name),
            Utf8(RegionShown(t)),
            Utf8(t.tags)};
        staged_.push_back(std::move(row));
        ++made;
    }
    if (pendingAt_ < pending_.size()) {
        // The rest at the next passes of the event loop: the window paints
        // and answers in between.
        if (!addScheduled_) {
            addScheduled_ = true;
            QTimer::singleShot(0, this, [this] {
                addScheduled_ = false;
                if (!registry_.keeper) return;
                {
                    const DeviceTableChanges changes(*rows_);
                    AddPendingRows();
                }
                ShowCounts();
            });
        }
        return;
    }
    // All made: they join the list at once, with the filter as it is now,
    // but for terminals that came online or were removed meanwhile.
    std::vector<RowPtr> rows = std::move(staged_);
    staged_.clear();
    const auto gone = std::remove_if(rows.begin(), rows.end(), [this](const RowPtr& row) {
        return removed_.contains(row->deviceId) || SourceRowOf(row->deviceId) >= 0;
    });
    rows.erase(gone, rows.end());
    for (RowPtr& row : rows) row->shown = Matches(*row);
    AppendRows(std::move(rows));
    pending_.clear();
    pending_.shrink_to_fit();
    pendingAt_ = 0;
}

void CDeviceView::FillBoxes() {
    struct Shown {
        QString text;
        bool named = false;
    };
    std::map<std::string, Shown> regions;  // by key
    std::map<std::string, int> tags;
    for (const auto& [id, t] : registry_.keeper->Terminals()) {
        // A code is shown with a name when any of its terminals has one.
        const std::string& key = RegionKey(t);
        const bool both = !t.regionName.empty() && !t.regionCode.empty();
        const auto [entry, added] = regions.try_emplace(key);
        if (!key.empty() && (added || (both && !entry->second.named))) {
            entry->second = {
                both ? QStringLiteral("%1 (%2)").arg(Utf8(t.regionName), Utf8(t.regionCode))
                     : Utf8(key),
                both};
        }
        ForEachTag(t.tags, [&tags](std::string_view tag) {
            tags.emplace(std::string(tag), 0);
            return false;
        });
    }
    const auto fill = [](QComboBox* box, std::vector<std::pair<QString, QString>> entries,
                         const std::string& chosen) {
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return GbkOrder(a.first) < GbkOrder(b.first);
        });
        const QSignalBlocker quiet(box);
        while (box->count() > 1) box->removeItem(1);
        for (const auto& [text, key] : entries) box->addItem(text, key);
        const int at = box->findData(Utf8(chosen));
        box->setCurrentIndex(std::max(at, 0));
        return at >= 0;
    };
    std::vector<std::pair<QString, QString>> regionEntries;
    for (const auto& [key, shown] : regions) {
        if (!key.empty()) regionEntries.emplace_back(shown.text, Utf8(key));
    }
    std::vector<std::pair<QString, QString>> tagEntries;
    for (const auto& [tag, unused] : tags) tagEntries.emplace_back(Utf8(tag), Utf8(tag));
    // A chosen region or tag the registry no longer holds chooses every one.
    bool refilter = false;
    if (!fill(regionBox_, std::move(regionEntries), regionFilter_) && !regionFilter_.empty()) {
        regionFilter_.clear();
        refilter = true;
    }
    if (!fill(tagBox_, std::move(tagEntries), tagFilter_) && !tagFilter_.empty()) {
        tagFilter_.clear();
        refilter = true;
    }
    if (refilter) ApplyFilterToAll();
}

int CDeviceView::AlertMinutes() const {
    return registry_.alertMinutes ? registry_.alertMinutes() : kDefaultOfflineAlertMinutes;
}

void CDeviceView::CountRegistry(std::int64_t now) {
    const dispatch::OfflineCounts counts =
        registry_.keeper->CountOffline(now, static_cast<std::int64_t>(AlertMinutes()) * 60);
    longOffline_ = counts.longOffline;
    neverOnline_ = counts.neverOnline;
}

}  // namespace pelmora
