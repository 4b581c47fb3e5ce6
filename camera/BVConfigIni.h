#pragma once
// The configuration file some cameras read at start: "/SYSTEM/BVConfig.ini" on their volume,
// one line of four settings.
#include <optional>
#include <string>

#include "camera/DiskDriver_Parameter.h"

namespace hvb {

// "<STEALTH><LED><BUZZERSWITCH><VIBRATOR>" as signed decimals without separators.
std::string bvConfigLine(const sDeviceParam& settings);
// True for the models that read the file (HW7333, HW7334, HW7360).
bool modelUsesBVConfig(const std::string& model);
// Rewrites the file for a record of such a model with settings and a UID whose volume is found;
// does nothing otherwise. The line is written from here, never through a shell line.
void writeBVConfigIni(const DeviceRecord& record);

}  // namespace hvb
