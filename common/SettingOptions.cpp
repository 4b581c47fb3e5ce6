#include "common/SettingOptions.h"

#include "camera/Settings.h"
#include "common/LocalizedString.h"

namespace hvb::SettingOptions {

namespace {

QStringList localized(std::initializer_list<const char*> keys) {
    QStringList list;
    for (const char* key : keys) list << localizedCommonString(QString::fromUtf8(key));
    return list;
}

// Fixed number prefixes with the localized unit after them ("3 mins").
QStringList withUnit(std::initializer_list<const char*> numbers, const char* unitKey) {
    const QString unit = localizedCommonString(QString::fromUtf8(unitKey));
    QStringList list;
    for (const char* number : numbers) list << QString::fromUtf8(number) + unit;
    return list;
}

const QStringList& offOn() {
    static const QStringList list = localized({"OFF", "ON"});
    return list;
}

}  // namespace

const QStringList& microphoneOptions() { return offOn(); }
const QStringList& vibratorOptions() { return offOn(); }
const QStringList& buzzerOptions() { return offOn(); }
const QStringList& ledOptions() { return offOn(); }
const QStringList& stealthOptions() { return offOn(); }
const QStringList& videoStampOptions() { return offOn(); }
const QStringList& loopRecordingOptions() { return offOn(); }
const QStringList& bufferAudioOptions() { return offOn(); }
const QStringList& watermarkOptions() { return offOn(); }
const QStringList& eisOptions() { return offOn(); }

const QStringList& lightFrequencyOptions() {
    static const QStringList list = localized({"50 Hz", "60 Hz"});
    return list;
}

const QStringList& timeFormatOptions() {
    static const QStringList list = localized({"24HR", "AM/PM"});
    return list;
}

const QStringList& infraredOptions() {
    static const QStringList list = localized({"Manual", "Auto"});
    return list;
}

const QStringList& recordingModeOptions() {
    static const QStringList list = localized({"Buffering mode", "Recording mode"});
    return list;
}

const QStringList& snapshotButtonOptions() {
    static const QStringList list = localized({"Infrared LED", "Audio Recording"});
    return list;
}

const QStringList& snapshotButtonWifiOptions() {
    static const QStringList list = localized({"Wi-Fi function", "Audio Recording"});
    return list;
}

const QStringList& dateFormatOptions() {
    static const QStringList list = localized({"YYYY/MM/DD", "MM/DD/YYYY", "DD/MM/YYYY"});
    return list;
}

const QStringList& sampleRateOptions() {
    static const QStringList list = localized({"48000 Hz", "44100 Hz", "32000 Hz", "24000 Hz", "22050 Hz"});
    return list;
}

const QStringList& syncTimeOptions() {
    static const QStringList list = localized({"Set"});
    return list;
}

const QStringList& videoLengthOptions() {
    static const QStringList list = withUnit({"3 ", "5 ", "10 "}, "mins");
    return list;
}

const QStringList& bufferLengthOptions() {
    static const QStringList list = withUnit({"30 ", "60 ", "90 ", "120 "}, "Seconds");
    return list;
}

const QStringList& shortBufferLengthOptions() {
    static const QStringList list = withUnit({"30 ", "60 "}, "Seconds");
    return list;
}

const QStringList& teamSyncGroupOptions() {
    static const QStringList list = [] {
        QStringList l{localizedCommonString(QStringLiteral("OFF"))};
        for (int group = 1; group <= 10; ++group) l << QString::number(group);
        return l;
    }();
    return list;
}

const QStringList& fileFormatOptions() {
    static const QStringList list{"MOV", "MP4"};
    return list;
}

const QStringList& resolutionOptions() {
    static const QStringList list{"1080P", "720P"};
    return list;
}

const QStringList& resolutionOptions480() {
    static const QStringList list{"1080P", "720P", "480P"};
    return list;
}

const QStringList& resolutionFpsOptions() {
    static const QStringList list{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS"};
    return list;
}

const QStringList& resolutionFpsOptions480() {
    static const QStringList list{"1080P/60FPS", "1080P/30FPS", "720P/60FPS", "720P/30FPS", "480P/30FPS"};
    return list;
}

const QStringList& resolution1440FpsOptions() {
    static const QStringList list{"1440P/30FPS", "1080P/60FPS", "1080P/30FPS", "720P/30FPS", "480P/30FPS"};
    return list;
}

const QStringList& resolution1440Options() {
    static const QStringList list{"1440P", "1080P", "720P", "480P"};
    return list;
}

// In the order of the time-zone options the camera link writes, so a position is a zone.
const QStringList& timeZoneOptions() {
    static const QStringList list = [] {
        QStringList l;
        for (const auto& zone : timeZoneTable()) l << QString::fromLatin1(zone.optionText.data(), zone.optionText.size());
        return l;
    }();
    return list;
}

}  // namespace hvb::SettingOptions
