#pragma once
// The string tables of a resources folder: "<resources>/<localisation>.lproj/<Table>.strings",
// searched in the user's order of localisations, then "en", then "Base". A table or key that
// no localisation has gives the key itself. Thread-safe; tables are read on first use.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace hvb {

// A parsed ".strings" file: `"key" = "value";` entries with /* */ and // comments and the
// escapes \" \\ \n \t \r \uXXXX (UTF-8 text). Parsing stops at the first malformed entry and
// keeps the entries read before it.
struct StringsTable {
    QHash<QString, QString> entries;
    bool complete = true;  // false when the text was malformed
    int errorLine = 0;     // 1-based line of the fault when not complete
};
StringsTable parseStrings(const QByteArray& utf8);

class StringCatalog {
public:
    // `preferredLanguages`: the user's languages, most wanted first ("zh-Hant-TW", "en-US").
    StringCatalog(std::filesystem::path resourcesDir, QStringList preferredLanguages);

    // The application's catalogue: its bundle's resources and the system's UI languages.
    static StringCatalog& main();

    // The text of `key` in `table`, or the key itself. `comment` is the translators' note and
    // does not take part in the lookup.
    QString localizedString(const QString& key, const QString& table,
                            const QString& comment = {}) const;

    // The localisations searched, in order, among those the folder has.
    QStringList searchOrder() const;
    // The search order for preferred languages and the localisations present; pure.
    static QStringList localizationOrder(const QStringList& preferredLanguages,
                                         const QStringList& available);

    // How many lookups were made, in all and for one key of one table.
    uint64_t lookupCount() const { return lookups_.load(); }
    uint64_t lookupCount(const QString& table, const QString& key) const;

private:
    const StringsTable* table(const QString& localisation, const QString& tableName) const;

    std::filesystem::path resourcesDir_;
    QStringList preferred_;
    mutable std::mutex mutex_;
    mutable std::optional<QStringList> order_;
    mutable std::map<std::pair<QString, QString>, std::optional<StringsTable>> tables_;
    mutable std::map<std::pair<QString, QString>, uint64_t> keyLookups_;
    mutable std::atomic<uint64_t> lookups_{0};
};

}  // namespace hvb
