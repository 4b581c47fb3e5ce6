#pragma once
// The camera selector of the Setting and Tool panels: which cameras it lists, how it names
// them, which camera it selects and when a selection counts. Each item keeps the device-list
// index of its camera (Qt::UserRole), so a camera that gets no item never shifts the others.
#include <cstdint>
#include <vector>

#include <QAbstractListModel>
#include <QString>

namespace hvb {

class CameraLink;

struct CameraSelectorItem {
    QString title;
    int64_t entryIndex = -1;  // the camera's position in the device entry list
    bool operator==(const CameraSelectorItem&) const = default;
};

// How a camera without a label or UID is named: by its serial number (Setting panel), or not
// at all (Tool panel).
enum class UnnamedCamera { serial, blank };

class CameraSelectorModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit CameraSelectorModel(UnnamedCamera unnamed, QObject* parent = nullptr);

    // One item per camera brought up that has a record (and, unless it runs the old firmware,
    // a model with a display name): its user label, or its UID in upper case when the label is
    // empty or just the model's name.
    static std::vector<CameraSelectorItem> items(const CameraLink& link, UnnamedCamera unnamed);
    // The camera to select: -1 becomes the first, past the end the last.
    static int64_t clampedIndex(int64_t selected, int64_t count);
    // Whether a selection change (selector position, or -1) is acted on.
    static bool actsOnSelection(int64_t count, int position);

    // Lists the cameras anew.
    void reload(const CameraLink& link);
    void clear();
    const std::vector<CameraSelectorItem>& currentItems() const { return items_; }
    // The device-list index of the item at a row; -1 for none.
    int64_t entryIndexAt(int row) const;
    // The row listing the camera at that device-list index; -1 for none.
    int rowOfEntry(int64_t entryIndex) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    UnnamedCamera unnamed_;
    std::vector<CameraSelectorItem> items_;
};

}  // namespace hvb
