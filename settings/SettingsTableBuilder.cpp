#include "settings/SettingsTableBuilder.h"

#include <algorithm>

#include "common/LocalizedString.h"
#include "common/SettingOptions.h"

namespace hvb {

namespace {

using Options = const QStringList& (*)();

enum class Table { device, video, stamp };

// How a row finds its options and its selected index.
enum class Kind {
    plain,          // the field's value in the options
    separator,
    syncTime,       // the clock button, always shown
    snapshotGroup,  // the snapshot button and what it governs
    resolution,     // options by model
    recordingMode,  // the default-record-status form when the table has it
    bufferLength,   // the short list at some resolutions
};

struct RowPlan {
    Table table;
    Kind kind;
    const char* identifier;
    const char* title;
    Options options;
    EnumSettings field;
};

using enum EnumSettings;
namespace O = SettingOptions;

// Rows 1 to 27 of the three tables, in the order they are appended.
const std::vector<RowPlan>& rowPlans() {
    static const std::vector<RowPlan> plans = {
        {Table::device, Kind::plain, "HVB_TIME_ZONE", "Time Zone", O::timeZoneOptions, TIME_ZONE},
        {Table::device, Kind::syncTime, "HVB_SYNCTIME", "Sync time with PC", O::syncTimeOptions, TIME_ZONE},
        {Table::device, Kind::separator, "", "", nullptr, TIME_ZONE},
        {Table::device, Kind::plain, "HVB_STEALTH", "Stealth Mode", O::stealthOptions, STEALTH},
        {Table::device, Kind::plain, "HVB_LED", "LED Indicator", O::ledOptions, LED},
        {Table::device, Kind::plain, "HVB_BUZZERSWITCH", "Buzzer", O::buzzerOptions, BUZZERSWITCH},
        {Table::device, Kind::plain, "HVB_VIBRATOR", "Vibrator", O::vibratorOptions, VIBRATOR},
        {Table::device, Kind::separator, "", "", nullptr, TIME_ZONE},
        {Table::device, Kind::snapshotGroup, "HVB_VOICE_RECORDING", "Snapshot Button", nullptr, VOICE_RECORDING},
        {Table::video, Kind::resolution, "HVB_RESOLUTION", "Resolution", nullptr, RESOLUTION},
        {Table::video, Kind::plain, "HVB_FILEFORMAT", "Video Format", O::fileFormatOptions, FILEFORMAT},
        {Table::video, Kind::plain, "HVB_VIDEOLOOPRECORD", "Loop Recording", O::loopRecordingOptions, VIDEOLOOPRECORD},
        {Table::video, Kind::plain, "HVB_VIDEOLENGTH", "Video Length", O::videoLengthOptions, VIDEOLENGTH},
        {Table::video, Kind::separator, "", "", nullptr, TIME_ZONE},
        {Table::video, Kind::plain, "HVB_LIGHTFREQ", "Light Frequency", O::lightFrequencyOptions, LIGHTFREQ},
        {Table::video, Kind::plain, "HVB_EIS", "Image Stabilization", O::eisOptions, EIS},
        {Table::video, Kind::separator, "", "", nullptr, TIME_ZONE},
        {Table::video, Kind::plain, "HVB_MICROPHONE", "Microphone", O::microphoneOptions, MICROPHONE},
        {Table::video, Kind::recordingMode, "HVB_RECORDINGMODE", "Default Recording Mode", O::recordingModeOptions,
         RECORDINGMODE},
        {Table::video, Kind::bufferLength, "HVB_BUFFERLENGTH", "Buffered Video Length", nullptr, BUFFERLENGTH},
        {Table::video, Kind::plain, "HVB_BUFFERAUDIO", "Buffering Recording Audio", O::bufferAudioOptions, BUFFERAUDIO},
        {Table::stamp, Kind::plain, "HVB_VIDEOSTAMP", "Video Stamp", O::videoStampOptions, VIDEOSTAMP},
        {Table::stamp, Kind::plain, "HVB_DATEFORMAT", "Date Format", O::dateFormatOptions, DATEFORMAT},
        {Table::stamp, Kind::plain, "HVB_TIMEFORMAT", "Time Format", O::timeFormatOptions, TIMEFORMAT},
        {Table::stamp, Kind::plain, "HVB_WATERMARK", "Watermark", O::watermarkOptions, WATERMARK},
    };
    return plans;
}

QString title(const char* key) { return localizedCommonString(QString::fromUtf8(key)) + QStringLiteral(" :"); }

// Appends the row only when its selected index is a position of its options.
void append(std::vector<Settings>& rows, const char* key, const QStringList& options, int64_t selected,
            const char* identifier) {
    if (selected < 0 || selected >= options.size()) return;
    rows.push_back(Settings{title(key), options, selected, QString::fromUtf8(identifier)});
}

bool isOneOf(const std::string& model, std::initializer_list<const char*> models) {
    return std::any_of(models.begin(), models.end(), [&](const char* m) { return model == m; });
}

}  // namespace

const QStringList& SettingsTableBuilder::resolutionOptions(const std::string& model) {
    if (isOneOf(model, {"HVBS2A", "HVBT3A", "HW7351", "HW7352"})) return O::resolutionOptions480();
    if (isOneOf(model, {"HW7312", "HW7313"})) return O::resolutionFpsOptions();
    if (isOneOf(model, {"HW7331", "HW7332"})) return O::resolutionFpsOptions480();
    if (isOneOf(model, {"HW7333", "HW7334"})) return O::resolution1440FpsOptions();
    if (model == "HW7360") return O::resolution1440Options();
    return O::resolutionOptions();
}

bool SettingsTableBuilder::usesShortBufferList(const std::string& model, int64_t resolution) {
    if (isOneOf(model, {"HW7333", "HW7334"})) return resolution == 0 || resolution == 4;
    if (model == "HW7360") return resolution == 0 || resolution == 3;
    return false;
}

SettingsBuild SettingsTableBuilder::build(const DiskDriver_Parameter& record,
                                          const std::optional<CommandDictionary>& table) {
    SettingsBuild b;
    if (record.isOldFirmware) {
        b.oldFirmware = true;
        return b;
    }
    b.curUID = QString::fromStdString(record.UID.value_or(""));
    b.lockFlag = record.isLockStatus.value_or(false);
    b.cmdDic = table.value_or(CommandDictionary{});
    if (record.isDeviceEncryption.value_or(false))
        b.lockButton = b.lockFlag ? SettingsBuild::LockButton::locked : SettingsBuild::LockButton::unlocked;
    b.radiosEnabled = !b.lockFlag;

    const sDeviceParam settings = record.DeviceParam ? *record.DeviceParam : sDeviceParam();
    const std::string model = record.ModelName.value_or("");

    for (const RowPlan& plan : rowPlans()) {
        auto& rows = plan.table == Table::device ? b.deviceRows : plan.table == Table::video ? b.videoRows : b.stampRows;
        const int64_t value = settings.get(plan.field);
        switch (plan.kind) {
            case Kind::separator: rows.push_back(Settings::separator()); break;
            case Kind::syncTime: append(rows, plan.title, plan.options(), 0, plan.identifier); break;
            case Kind::plain: append(rows, plan.title, plan.options(), value, plan.identifier); break;
            case Kind::resolution: append(rows, plan.title, resolutionOptions(model), value, plan.identifier); break;
            case Kind::snapshotGroup: {
                const int64_t rate = settings.VOICE_SAMPLERATE();
                if (isOneOf(model, {"HVBR7", "HVBS8"})) {
                    append(rows, plan.title, O::snapshotButtonWifiOptions(), value, plan.identifier);
                    if (value != 0) append(rows, "Audio Sample Rate", O::sampleRateOptions(), rate, "HVB_VOICE_SAMPLERATE");
                    break;
                }
                append(rows, plan.title, O::snapshotButtonOptions(), value, plan.identifier);
                if (value != 1) append(rows, "Infrared LED", O::infraredOptions(), settings.IRSWITCH(), "HVB_IRSWITCH");
                if (value != 0) append(rows, "Audio Sample Rate", O::sampleRateOptions(), rate, "HVB_VOICE_SAMPLERATE");
                break;
            }
            case Kind::recordingMode:
                if (b.cmdDic.count("HVB_DEFAULT_RECORD_STATUS")) {
                    const int64_t status = settings.DEFAULT_RECORD_STATUS();
                    b.rules.defaultRecordingModeIndex = status;
                    append(rows, plan.title, plan.options(), status, "HVB_DEFAULT_RECORD_STATUS");
                } else {
                    append(rows, plan.title, plan.options(), value, plan.identifier);
                }
                break;
            case Kind::bufferLength:
                // The short list shows a longer stored length as its longest; the record keeps
                // the camera's value.
                if (usesShortBufferList(model, settings.RESOLUTION()))
                    append(rows, plan.title, O::shortBufferLengthOptions(), value >= 2 ? 1 : value, plan.identifier);
                else
                    append(rows, plan.title, O::bufferLengthOptions(), value, plan.identifier);
                break;
        }
    }

    const int64_t hwKey = settings.HWKEY_RESET();
    b.showsHWKeyReset = hwKey >= 0;
    b.hwKeyReset = hwKey;

    b.deviceCells = SettingsCellRules::cells(b.deviceRows, b.lockFlag, b.rules);
    b.videoCells = SettingsCellRules::cells(b.videoRows, b.lockFlag, b.rules);
    b.stampCells = SettingsCellRules::cells(b.stampRows, b.lockFlag, b.rules);
    return b;
}

void SettingsTableBuilder::growWidth(double& width, const std::vector<Settings>& rows,
                                     const std::function<double(const QString&)>& textWidth, double minimum) {
    for (const Settings& row : rows) {
        if (row.selectedIndex < 0 || row.selectedIndex >= row.comboxBoxValue.size()) continue;
        width = std::max(width, textWidth(row.comboxBoxValue[static_cast<int>(row.selectedIndex)]) + kPopUpTextMargin);
    }
    width = std::max(width, minimum);
}

}  // namespace hvb
