#pragma once
// The desktop's opener (xdg-open) for documents and web pages. It may take its time (it can wait
// for the program it starts), so it runs off the GUI thread; when nothing opened, the user hears
// why and where the thing is, so it can still be opened by hand.
#include <string>

#include <QString>

#include "camera/Shell.h"

namespace hvb::desktopopener {

// xdg-open's exit status when it found no program for the target.
inline constexpr int kFoundNoProgram = 3;

// Why `result` opened nothing of `what`, in the user's language; empty when it opened.
QString failureText(const QString& what, const ShellResult& result);

// Opens `target` on a global queue; when nothing opened, an alert titled `title` gives the cause.
void open(const std::string& target, const QString& title);

}  // namespace hvb::desktopopener
