#include "common/DesktopOpener.h"

#include "common/LocalizedString.h"
#include "platform/appkit/Alert.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Strings.h"

namespace hvb::desktopopener {

using namespace LocalizedString;

QString failureText(const QString& what, const ShellResult& result) {
    if (result.status == 0) return {};
    if (result.status == kFoundNoProgram) return Msg::openNoProgram().arg(what);
    const std::string line = foundation::lastNonEmptyLine(result.output.value_or(""));
    return Msg::openFailed().arg(what, line.empty() ? Msg::openerEndedWithStatus().arg(result.status)
                                                     : QString::fromStdString(line));
}

void open(const std::string& target, const QString& title) {
    dispatch::globalQueue(dispatch::QoS::userInitiated).async([target, title] {
        const QString why = failureText(QString::fromStdString(target), Shell::shared().run({"xdg-open", target}));
        if (why.isEmpty()) return;
        dispatch::mainQueue().async([title, why] {
            appkit::Alert alert;
            alert.messageText = title;
            alert.informativeText = why;
            alert.addButtonWithTitle(Str::ok());
            alert.runModal();
        });
    });
}

}  // namespace hvb::desktopopener
