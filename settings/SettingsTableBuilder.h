#pragma once
// The Setting panel's decisions for one camera, from its record and its command table alone:
// the rows of the device, video and video-stamp tables (which settings, in which order, with
// which options and which selected), how each row is shown, the lock button, the
// hardware-key-reset group and the identity later writes use. No widget and no global state.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QString>

#include "camera/CommandTables.h"
#include "camera/DiskDriver_Parameter.h"
#include "settings/Settings.h"
#include "settings/SettingsCellRules.h"

namespace hvb {

struct SettingsBuild {
    enum class LockButton { hidden, locked, unlocked };

    // An old-firmware camera shows no settings; the identity below is then not the camera's
    // and the panel keeps the one it has.
    bool oldFirmware = false;
    QString curUID;
    bool lockFlag = false;
    CommandDictionary cmdDic;

    LockButton lockButton = LockButton::hidden;
    bool radiosEnabled = false;
    // The hardware-key-reset group: shown with the camera's value (0 off, 1 on, other values
    // select neither radio), or hidden.
    bool showsHWKeyReset = false;
    int64_t hwKeyReset = -1;

    std::vector<Settings> deviceRows, videoRows, stampRows;
    std::vector<SettingsCell> deviceCells, videoCells, stampCells;
    SettingsRuleState rules;
};

class SettingsTableBuilder {
public:
    static constexpr double kMinimumPopUpWidth = 160;
    static constexpr double kPopUpTextMargin = 30;

    // The camera's build; `table` is its command table (none when it has none).
    static SettingsBuild build(const DiskDriver_Parameter& record, const std::optional<CommandDictionary>& table);

    // The resolution options of a model.
    static const QStringList& resolutionOptions(const std::string& model);
    // True when the model, at that resolution, only offers the two short buffer lengths.
    static bool usesShortBufferList(const std::string& model, int64_t resolution);

    // Raises `width` to each row's selected text width plus the margin, then to the minimum;
    // it never lowers it.
    static void growWidth(double& width, const std::vector<Settings>& rows,
                          const std::function<double(const QString&)>& textWidth,
                          double minimum = kMinimumPopUpWidth);
};

}  // namespace hvb
