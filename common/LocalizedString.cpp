#include "common/LocalizedString.h"

#include <mutex>

#include <QHash>

#include "common/StringCatalog.h"

namespace hvb {

namespace {

QString lookUp(const char* table, const char* key, const char* comment) {
    return StringCatalog::main().localizedString(QString::fromUtf8(key), QString::fromLatin1(table),
                                                 QString::fromUtf8(comment));
}

using Accessor = const QString& (*)();

// Key → holder accessor of one table, so a lookup by key reads the holder's stored text.
QHash<QString, Accessor> accessorsOf(std::initializer_list<std::pair<const char*, Accessor>> list) {
    QHash<QString, Accessor> map;
    for (const auto& [key, accessor] : list) map.insert(QString::fromUtf8(key), accessor);
    return map;
}

// Keys that no holder has are still looked up only once.
QString textOf(const char* table, const QString& key, const QHash<QString, Accessor>& holders) {
    if (auto it = holders.constFind(key); it != holders.constEnd()) return (*it)();
    static std::mutex mutex;
    static QHash<QString, QHash<QString, QString>> others;
    std::lock_guard lock(mutex);
    QHash<QString, QString>& ofTable = others[QString::fromLatin1(table)];
    auto found = ofTable.constFind(key);
    if (found != ofTable.constEnd()) return *found;
    QString text = StringCatalog::main().localizedString(key, QString::fromLatin1(table), key);
    ofTable.insert(key, text);
    return text;
}

}  // namespace

// Each accessor's function-local static is initialised once, whichever thread reads it first.
#define HVB_DEFINE_LOCALIZED_TEXT(holder, table, name, key, comment) \
    const QString& holder::name() {                                  \
        static const QString text = lookUp(table, key, comment);     \
        return text;                                                 \
    }

namespace LocalizedString {

#define HVB_STR(name, key, comment) HVB_DEFINE_LOCALIZED_TEXT(Str, kCommonStringTable, name, key, comment)
#define HVB_MSG(name, key, comment) HVB_DEFINE_LOCALIZED_TEXT(Msg, kMessageTable, name, key, comment)
#define HVB_WEBCAM_BTN(name, key, comment) \
    HVB_DEFINE_LOCALIZED_TEXT(Webcam::Btn, kWebcamStringTable, name, key, comment)
#define HVB_WEBCAM_TITLE(name, key, comment) \
    HVB_DEFINE_LOCALIZED_TEXT(Webcam::Title, kWebcamStringTable, name, key, comment)
#define HVB_WEBCAM_MSG(name, key, comment) \
    HVB_DEFINE_LOCALIZED_TEXT(Webcam::Msg, kWebcamStringTable, name, key, comment)
#define HVB_COPYRIGHT(name, key, comment) \
    HVB_DEFINE_LOCALIZED_TEXT(Copyright, kCopyrightTable, name, key, comment)

HVB_COMMON_STRINGS(HVB_STR)
HVB_MESSAGE_STRINGS(HVB_MSG)
HVB_WEBCAM_BTN_STRINGS(HVB_WEBCAM_BTN)
HVB_WEBCAM_TITLE_STRINGS(HVB_WEBCAM_TITLE)
HVB_WEBCAM_MSG_STRINGS(HVB_WEBCAM_MSG)
HVB_COPYRIGHT_STRINGS(HVB_COPYRIGHT)

std::span<const Entry> entries() {
#define HVB_ENTRY_STR(name, key, comment) Entry{kCommonStringTable, key, comment},
#define HVB_ENTRY_MSG(name, key, comment) Entry{kMessageTable, key, comment},
#define HVB_ENTRY_WEBCAM(name, key, comment) Entry{kWebcamStringTable, key, comment},
#define HVB_ENTRY_COPYRIGHT(name, key, comment) Entry{kCopyrightTable, key, comment},
    static const Entry all[] = {
        HVB_COMMON_STRINGS(HVB_ENTRY_STR)
        HVB_MESSAGE_STRINGS(HVB_ENTRY_MSG)
        HVB_WEBCAM_BTN_STRINGS(HVB_ENTRY_WEBCAM)
        HVB_WEBCAM_TITLE_STRINGS(HVB_ENTRY_WEBCAM)
        HVB_WEBCAM_MSG_STRINGS(HVB_ENTRY_WEBCAM)
        HVB_COPYRIGHT_STRINGS(HVB_ENTRY_COPYRIGHT)
    };
    return all;
}

}  // namespace LocalizedString

QString localizedCommonString(const QString& key) {
#define HVB_ACCESSOR_STR(name, key, comment) {key, &LocalizedString::Str::name},
    static const QHash<QString, Accessor> holders = accessorsOf({HVB_COMMON_STRINGS(HVB_ACCESSOR_STR)});
    return textOf(LocalizedString::kCommonStringTable, key, holders);
}

QString localizedMessage(const QString& key) {
#define HVB_ACCESSOR_MSG(name, key, comment) {key, &LocalizedString::Msg::name},
    static const QHash<QString, Accessor> holders = accessorsOf({HVB_MESSAGE_STRINGS(HVB_ACCESSOR_MSG)});
    return textOf(LocalizedString::kMessageTable, key, holders);
}

}  // namespace hvb
