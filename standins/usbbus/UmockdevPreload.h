#pragma once
// umockdev's emulation works only in processes that run under its preload library: the one
// that builds the testbed and those that see it. A program of this kind starts itself again
// under the library when it is not yet there.
#include <optional>
#include <string>

namespace hvb::sim {

// Whether umockdev's preload library is loaded in this process.
bool underUmockdevPreload();
// The preload library's path, when it is installed.
std::optional<std::string> umockdevPreloadLibrary();
// LD_PRELOAD for a process under the emulation: the sanitizer runtime this process carries
// first (ASan insists on coming first in the library list, and TSan's interceptors must stay
// outermost so that they see umockdev's redirected calls as ordinary ones), then umockdev's
// library, then what LD_PRELOAD held before.
std::string umockdevPreloadList(const std::string& library);
// Runs this program again (/proc/self/exe with its own arguments) under the preload library,
// once; returns (false) only when it cannot, and the program then runs without the emulation.
bool restartUnderUmockdev();

}  // namespace hvb::sim
