#pragma once
// The option lists of the Setting panel's pop-ups: position i of a list is value i of its
// setting on the camera. Each list is built once, on first use, from the "CommonString" texts
// in force then; the fixed lists are not translated.
#include <QStringList>

namespace hvb::SettingOptions {

// "OFF", "ON"
const QStringList& microphoneOptions();
const QStringList& vibratorOptions();
const QStringList& buzzerOptions();
const QStringList& ledOptions();
const QStringList& stealthOptions();
const QStringList& videoStampOptions();
const QStringList& loopRecordingOptions();
const QStringList& bufferAudioOptions();
const QStringList& watermarkOptions();
const QStringList& eisOptions();

const QStringList& lightFrequencyOptions();
const QStringList& timeFormatOptions();
const QStringList& infraredOptions();
const QStringList& recordingModeOptions();
const QStringList& snapshotButtonOptions();
const QStringList& snapshotButtonWifiOptions();

const QStringList& dateFormatOptions();
const QStringList& sampleRateOptions();
const QStringList& syncTimeOptions();
const QStringList& videoLengthOptions();
const QStringList& bufferLengthOptions();
const QStringList& shortBufferLengthOptions();
const QStringList& teamSyncGroupOptions();

const QStringList& fileFormatOptions();
const QStringList& resolutionOptions();
const QStringList& resolutionOptions480();
const QStringList& resolutionFpsOptions();
const QStringList& resolutionFpsOptions480();
const QStringList& resolution1440FpsOptions();
const QStringList& resolution1440Options();
const QStringList& timeZoneOptions();

}  // namespace hvb::SettingOptions
