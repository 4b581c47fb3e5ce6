#pragma once
// One row of a model's release history, as the release-notes window shows it.
#include <string>

namespace hvb {

struct ReleaseNote {
    std::string version;  // the localized word "Version", a blank and the release's version
    std::string date;     // as published
    std::string notes;    // "1. line", "2. line", ... joined with line feeds
};

}  // namespace hvb
