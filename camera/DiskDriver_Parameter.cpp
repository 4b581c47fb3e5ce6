#include "camera/DiskDriver_Parameter.h"

#include "camera/CommandTables.h"

namespace hvb {

std::string DiskDriver_Parameter::commandTableName() const {
    if (!ModelName) return {};
    return hvb::commandTableName(*ModelName, static_cast<int>(cut));
}

}  // namespace hvb
