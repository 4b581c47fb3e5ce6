#include "common/CameraSelectorModel.h"

#include "camera/CameraLink.h"
#include "camera/CommandTables.h"
#include "platform/foundation/Log.h"

namespace hvb {

CameraSelectorModel::CameraSelectorModel(UnnamedCamera unnamed, QObject* parent)
    : QAbstractListModel(parent), unnamed_(unnamed) {}

std::vector<CameraSelectorItem> CameraSelectorModel::items(const CameraLink& link, UnnamedCamera unnamed) {
    std::vector<CameraSelectorItem> out;
    const int64_t count = link.plugInDeviceCount();
    const auto entries = link.deviceEntries();
    for (int64_t i = 0; i < count; ++i) {
        if (i >= static_cast<int64_t>(entries.size())) {
            // The Tool panel has always told of a count ahead of its list.
            if (unnamed == UnnamedCamera::blank) foundation::print("ERR2");
            continue;
        }
        const DeviceEntry& entry = entries[static_cast<size_t>(i)];
        const auto record = link.record(entry.key());
        if (!record) continue;
        const QString serial =
            unnamed == UnnamedCamera::serial ? QString::fromStdString(entry.serialNumber) : QString();
        if (record->isOldFirmware) {
            out.push_back({record->UserLabel ? QString::fromStdString(*record->UserLabel) : serial, i});
            continue;
        }
        if (!record->ModelName) continue;
        auto display = modelDisplayNames().find(*record->ModelName);
        if (display == modelDisplayNames().end()) continue;
        const std::string label = record->UserLabel.value_or("");
        if (!label.empty() && label != display->second) {
            out.push_back({QString::fromStdString(label), i});
        } else {
            out.push_back({(record->UID ? QString::fromStdString(*record->UID) : serial).toUpper(), i});
        }
    }
    return out;
}

int64_t CameraSelectorModel::clampedIndex(int64_t selected, int64_t count) {
    if (selected < 0) return 0;
    if (selected >= count) return count - 1;
    return selected;
}

bool CameraSelectorModel::actsOnSelection(int64_t count, int position) {
    return (count != 0 && position != -1) || (count == 0 && position == -1);
}

void CameraSelectorModel::reload(const CameraLink& link) {
    beginResetModel();
    items_ = items(link, unnamed_);
    endResetModel();
}

void CameraSelectorModel::clear() {
    beginResetModel();
    items_.clear();
    endResetModel();
}

int64_t CameraSelectorModel::entryIndexAt(int row) const {
    if (row < 0 || row >= static_cast<int>(items_.size())) return -1;
    return items_[static_cast<size_t>(row)].entryIndex;
}

int CameraSelectorModel::rowOfEntry(int64_t entryIndex) const {
    for (size_t row = 0; row < items_.size(); ++row)
        if (items_[row].entryIndex == entryIndex) return static_cast<int>(row);
    return -1;
}

int CameraSelectorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant CameraSelectorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(items_.size())) return {};
    const CameraSelectorItem& item = items_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) return item.title;
    if (role == Qt::UserRole) return QVariant::fromValue<qlonglong>(item.entryIndex);
    return {};
}

}  // namespace hvb
