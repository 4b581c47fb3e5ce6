#pragma once
// What a simulated camera of one model and firmware speaks: its command codes, written out by
// hand for each (model, firmware) independently of the application's tables, and the forms of
// its identity, label and clock replies.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hvb::sim {

// Which identity command answers the application's protocol probe.
enum class ProbeForm { uid, information, oldFirmware };
// Where the label is read.
enum class LabelForm { userLabel, unicode, utf8, personalStamp };
// How the clock is set.
enum class ClockForm { dateAndTime, dateTime, zoneAndString, stringOnly };

struct CameraProfile {
    std::string model;          // model code of the firmware ("HVBS2A")
    std::string firmware;       // version text ("1.13.0")
    std::string reportedModel;  // what the camera calls itself ("HVBS2P")
    std::string productName;    // USB product name
    std::string tableName;      // the table the application should pick ("HVBS2ACmd_6")
    ProbeForm probe = ProbeForm::uid;
    LabelForm label = LabelForm::utf8;
    ClockForm clock = ClockForm::zoneAndString;
    bool bvConfig = false;      // reads /SYSTEM/BVConfig.ini
    // The camera's commands: name -> code, as its firmware numbers them.
    std::vector<std::pair<std::string, uint8_t>> commands;

    std::optional<uint8_t> codeOf(const std::string& name) const;
    std::optional<std::string> nameOf(uint8_t code) const;
    bool has(const std::string& name) const { return codeOf(name).has_value(); }
};

const std::vector<CameraProfile>& cameraProfiles();
const CameraProfile* findCameraProfile(const std::string& model, const std::string& firmware);

}  // namespace hvb::sim
