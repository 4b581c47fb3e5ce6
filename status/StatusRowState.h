#pragma once
// What a Status panel row shows of its camera, worked out from the camera's model object and
// status snapshot without touching a view, so the row's fill can be checked without pixels.
#include <cstdint>
#include <optional>
#include <string>

#include <QString>

#include "camera/HVBModel.h"
#include "camera/StatusModel.h"
#include "status/StatusTableViewCellDelegate.h"

namespace hvb {

// The record's UID in upper case, as the camera link's lookups take it; empty without a record
// or a UID.
std::string upperCaseUID(const DeviceRecord& record);

struct StatusRowState {
    // Webcam mode: the webcam line and the recover and webcam-test buttons instead of the image
    // buttons, the firmware and team-sync lines and the battery and storage views.
    bool webcamMode = false;
    bool cardErrorShown = false;
    bool formatShown = false;
    std::optional<std::string> imageName;
    QString deviceName;
    QString productName;
    QString uid;
    QString webcamName;

    // What only a camera with a status snapshot can say; without one those views keep what
    // they showed.
    struct Details {
        bool locked = false;  // the folder button shows the lock
        bool editShown = true;
        bool webcamButtonShown = false;
        bool folderShown = true;
        bool teamSyncShown = false;
        QString teamSyncText;
        QString firmwareText;
        bool firmwareCurrent = true;
        bool upgradeShown = false;
    };
    std::optional<Details> details;

    // `firmwareCurrent`: the firmware service's answer for the snapshot's model and version.
    static StatusRowState make(const HVBModel* model, const std::optional<StatusModel>& status,
                               bool firmwareCurrent);

    // HW7312 shows its webcam button from firmware 1.4 on: the display text as (major, minor)
    // integers above (1, 3).
    static bool firmwareAllowsWebcam(const QString& firmwareText);

    // The tick's texts: "n%", "Charging..." (high, medium, low), "Full", "EXHAUSTED".
    static QString batteryText(const BatteryReading& reading);
    // "<bytes> (<h m>)", or the bytes alone when the time has no text.
    static QString storageText(const StorageReading& reading);
    static QString durationText(double seconds);
};

}  // namespace hvb
