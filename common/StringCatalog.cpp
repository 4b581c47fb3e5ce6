#include "common/StringCatalog.h"

#include <system_error>

#include <QFile>
#include <QLocale>

#include "platform/foundation/Bundle.h"

namespace hvb {

namespace {

// Reads one ".strings" text; stops at the first fault and remembers where it was.
class StringsParser {
public:
    explicit StringsParser(QString text) : s_(std::move(text)) {}

    StringsTable run() {
        StringsTable result;
        while (true) {
            if (!skipBlanks()) return fail(result);
            if (i_ >= s_.size()) return result;
            std::optional<QString> key = quoted();
            if (!key || !skipBlanks() || !consume(u'=') || !skipBlanks()) return fail(result);
            std::optional<QString> value = quoted();
            if (!value || !skipBlanks() || !consume(u';')) return fail(result);
            result.entries.insert(*key, *value);  // a repeated key: the last one counts
        }
    }

private:
    StringsTable& fail(StringsTable& result) {
        result.complete = false;
        result.errorLine = 1 + static_cast<int>(QStringView(s_).left(i_).count(u'\n'));
        return result;
    }

    bool consume(char16_t c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }

    // White space and comments; false for a comment that never ends.
    bool skipBlanks() {
        while (i_ < s_.size()) {
            QChar c = s_[i_];
            if (c.isSpace()) {
                ++i_;
            } else if (c == u'/' && i_ + 1 < s_.size() && s_[i_ + 1] == u'*') {
                qsizetype end = s_.indexOf(QStringLiteral("*/"), i_ + 2);
                if (end < 0) return false;
                i_ = end + 2;
            } else if (c == u'/' && i_ + 1 < s_.size() && s_[i_ + 1] == u'/') {
                qsizetype end = s_.indexOf(u'\n', i_ + 2);
                i_ = end < 0 ? s_.size() : end + 1;
            } else {
                return true;
            }
        }
        return true;
    }

    std::optional<char16_t> hex4() {
        if (i_ + 4 > s_.size()) return std::nullopt;
        bool ok = false;
        uint value = QStringView(s_).mid(i_, 4).toUInt(&ok, 16);
        for (qsizetype k = 0; k < 4; ++k) {
            if (!isHexDigit(s_[i_ + k])) ok = false;  // toUInt accepts a sign or blanks
        }
        if (!ok) return std::nullopt;
        i_ += 4;
        return static_cast<char16_t>(value);
    }

    static bool isHexDigit(QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    }

    // The low half of a surrogate pair as "\uXXXX" right at the cursor, consumed only then.
    std::optional<char16_t> followingLowSurrogate() {
        if (i_ + 1 < s_.size() && s_[i_] == u'\\' && (s_[i_ + 1] == u'u' || s_[i_ + 1] == u'U')) {
            qsizetype at = i_;
            i_ += 2;
            if (auto unit = hex4(); unit && QChar::isLowSurrogate(*unit)) return unit;
            i_ = at;
        }
        return std::nullopt;
    }

    std::optional<QString> quoted() {
        if (!consume(u'"')) return std::nullopt;
        QString out;
        while (i_ < s_.size()) {
            QChar c = s_[i_++];
            if (c == u'"') return out;
            if (c != u'\\') {
                out.append(c);
                continue;
            }
            if (i_ >= s_.size()) return std::nullopt;
            QChar e = s_[i_++];
            switch (e.unicode()) {
                case u'n': out.append(u'\n'); break;
                case u't': out.append(u'\t'); break;
                case u'r': out.append(u'\r'); break;
                case u'u':
                case u'U': {
                    std::optional<char16_t> unit = hex4();
                    if (!unit) return std::nullopt;
                    if (QChar::isHighSurrogate(*unit)) {
                        if (std::optional<char16_t> low = followingLowSurrogate()) {
                            out.append(QChar(*unit));
                            out.append(QChar(*low));
                        } else {
                            out.append(QChar(QChar::ReplacementCharacter));
                        }
                    } else if (QChar::isLowSurrogate(*unit)) {
                        out.append(QChar(QChar::ReplacementCharacter));
                    } else {
                        out.append(QChar(*unit));
                    }
                    break;
                }
                default: out.append(e); break;  // \" \\ and any other character stand for themselves
            }
        }
        return std::nullopt;
    }

    QString s_;
    qsizetype i_ = 0;
};

QString normalizedTag(QString tag) {
    tag.replace(u'_', u'-');
    qsizetype cut = tag.indexOf(u'.');
    if (cut >= 0) tag.truncate(cut);
    cut = tag.indexOf(u'@');
    if (cut >= 0) tag.truncate(cut);
    return tag;
}

// Folders a preferred language may be found in, most specific first: the tag itself, the tag
// with the script the language is written in ("zh-TW" is "zh-Hant-TW"), then shorter tags.
QStringList candidateTags(const QString& preferred) {
    QStringList parts = normalizedTag(preferred).split(u'-', Qt::SkipEmptyParts);
    QStringList out;
    if (parts.isEmpty()) return out;
    auto add = [&out](const QString& tag) {
        if (!out.contains(tag, Qt::CaseInsensitive)) out.append(tag);
    };
    add(parts.join(u'-'));
    bool hasScript = parts.size() >= 2 && parts[1].size() == 4;
    if (!hasScript && parts.size() >= 2) {
        QLocale locale(parts.join(u'-'));
        if (locale.language() != QLocale::C && locale.script() != QLocale::AnyScript) {
            QString script = QLocale::scriptToCode(locale.script());
            QStringList withScript = parts;
            withScript.insert(1, script);
            for (qsizetype n = withScript.size(); n >= 2; --n) add(withScript.mid(0, n).join(u'-'));
        }
    }
    for (qsizetype n = parts.size() - 1; n >= 1; --n) add(parts.mid(0, n).join(u'-'));
    return out;
}

}  // namespace

StringsTable parseStrings(const QByteArray& utf8) {
    QByteArray bytes = utf8;
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    return StringsParser(QString::fromUtf8(bytes)).run();
}

StringCatalog::StringCatalog(std::filesystem::path resourcesDir, QStringList preferredLanguages)
    : resourcesDir_(std::move(resourcesDir)), preferred_(std::move(preferredLanguages)) {}

StringCatalog& StringCatalog::main() {
    static StringCatalog* catalog = new StringCatalog(foundation::Bundle::main().resourcePath(),
                                                      QLocale::system().uiLanguages());
    return *catalog;
}

QStringList StringCatalog::localizationOrder(const QStringList& preferredLanguages,
                                             const QStringList& available) {
    QStringList order;
    auto addAvailable = [&](const QString& tag) {
        for (const QString& have : available) {
            if (normalizedTag(have).compare(tag, Qt::CaseInsensitive) == 0) {
                if (!order.contains(have)) order.append(have);
                return true;
            }
        }
        return false;
    };
    for (const QString& preferred : preferredLanguages) {
        for (const QString& candidate : candidateTags(preferred)) {
            if (addAvailable(candidate)) break;
        }
    }
    addAvailable(QStringLiteral("en"));
    addAvailable(QStringLiteral("Base"));
    return order;
}

QStringList StringCatalog::searchOrder() const {
    std::lock_guard lock(mutex_);
    if (!order_) {
        QStringList available;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(resourcesDir_, ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::filesystem::path& p = it->path();
            if (p.extension() == ".lproj" && it->is_directory(ec)) {
                available.append(QString::fromStdString(p.stem().string()));
            }
        }
        available.sort();  // a stable order whatever the file system lists first
        order_ = localizationOrder(preferred_, available);
    }
    return *order_;
}

const StringsTable* StringCatalog::table(const QString& localisation,
                                         const QString& tableName) const {
    std::lock_guard lock(mutex_);
    auto [it, inserted] = tables_.try_emplace({localisation, tableName});
    if (inserted) {
        std::filesystem::path file = resourcesDir_ / (localisation.toStdString() + ".lproj") /
                                     (tableName.toStdString() + ".strings");
        QFile f(QString::fromStdString(file.string()));
        if (f.open(QIODevice::ReadOnly)) it->second = parseStrings(f.readAll());
    }
    return it->second ? &*it->second : nullptr;
}

QString StringCatalog::localizedString(const QString& key, const QString& table,
                                       const QString& comment) const {
    (void)comment;
    lookups_.fetch_add(1);
    {
        std::lock_guard lock(mutex_);
        ++keyLookups_[{table, key}];
    }
    for (const QString& localisation : searchOrder()) {
        if (const StringsTable* t = this->table(localisation, table)) {
            auto it = t->entries.constFind(key);
            if (it != t->entries.constEnd()) return *it;
        }
    }
    return key;
}

uint64_t StringCatalog::lookupCount(const QString& table, const QString& key) const {
    std::lock_guard lock(mutex_);
    auto it = keyLookups_.find({table, key});
    return it == keyLookups_.end() ? 0 : it->second;
}

}  // namespace hvb
