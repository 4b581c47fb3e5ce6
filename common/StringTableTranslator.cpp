#include "common/StringTableTranslator.h"

#include <cstring>

#include <QCoreApplication>

#include "common/LocalizedString.h"

namespace hvb {

namespace {

// Only the windows whose texts the table holds; Qt's own texts stay with Qt.
constexpr const char* kContexts[] = {"services::UpdateOfferDialog"};

}  // namespace

QString StringTableTranslator::translate(const char* context, const char* sourceText, const char*, int) const {
    if (!context || !sourceText) return {};
    // An alert given no button shows one "OK", a word of the common table.
    if (std::strcmp(context, "appkit::Alert") == 0) return localizedCommonString(QString::fromUtf8(sourceText));
    for (const char* known : kContexts) {
        if (std::strcmp(context, known) == 0) return localizedMessage(QString::fromUtf8(sourceText));
    }
    return {};
}

void installStringTableTranslator() {
    auto* application = QCoreApplication::instance();
    if (!application || application->findChild<StringTableTranslator*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    QCoreApplication::installTranslator(new StringTableTranslator(application));
}

}  // namespace hvb
