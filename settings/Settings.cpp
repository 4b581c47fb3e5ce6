#include "settings/Settings.h"

namespace hvb {

Settings Settings::separator() { return Settings{QString(), QStringList{QStringLiteral("separator")}, 0, QString()}; }

}  // namespace hvb
