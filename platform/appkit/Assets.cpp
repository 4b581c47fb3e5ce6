#include "platform/appkit/Assets.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <tuple>

#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QStyleHints>
#include <QSvgRenderer>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Strings.h"

namespace appkit {

namespace {

namespace fs = std::filesystem;

struct NamedColor {
    std::optional<QColor> light;
    std::optional<QColor> dark;
};

using ImageKey = std::tuple<std::string, int, int, qreal>;

struct Store {
    std::mutex mutex;
    bool aliasesRead = false;
    std::map<std::string, std::string> aliases;
    bool colorsRead = false;
    std::map<std::string, NamedColor> colors;
    std::map<ImageKey, QPixmap> images;
};

Store& store() {
    static Store* s = new Store();
    return *s;
}

fs::path resources() { return foundation::Bundle::main().resourcePath(); }

// A file stem stays inside the images folder.
bool isPlainStem(const std::string& stem) {
    return !stem.empty() && stem != "." && stem != ".." && stem.find('/') == std::string::npos &&
           stem.find('\0') == std::string::npos;
}

std::optional<QJsonObject> readJsonObject(const fs::path& file) {
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) return std::nullopt;
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(in.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    return document.object();
}

// "<resources>/images/aliases.json": {"name": "file stem"}; caller holds the lock.
const std::map<std::string, std::string>& aliases(Store& s) {
    if (s.aliasesRead) return s.aliases;
    s.aliasesRead = true;
    if (auto object = readJsonObject(resources() / "images" / "aliases.json")) {
        for (auto it = object->begin(); it != object->end(); ++it) {
            if (!it.value().isString()) continue;
            std::string stem = it.value().toString().toStdString();
            if (isPlainStem(stem)) s.aliases[it.key().toStdString()] = stem;
        }
    }
    return s.aliases;
}

// The file stem of an image name: the alias of the name (as given, then trimmed), else the
// trimmed name itself. The interface names some images with a stray trailing blank
// ("bg_machvb_proposal2 ") and no file is named like that.
std::optional<std::string> stemOf(Store& s, const std::string& name) {
    const auto& table = aliases(s);
    const std::string plain(foundation::trimmed(name));
    for (const std::string* key : {&name, &plain}) {
        auto it = table.find(*key);
        if (it != table.end()) return it->second;
    }
    if (!isPlainStem(plain)) return std::nullopt;
    return plain;
}

std::optional<fs::path> imageFile(Store& s, const std::string& name) {
    auto stem = stemOf(s, name);
    if (!stem) return std::nullopt;
    fs::path file = resources() / "images" / (*stem + ".svg");
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    return file;
}

std::optional<QColor> parseColor(const QJsonValue& value) {
    if (!value.isString()) return std::nullopt;
    const QString text = value.toString().trimmed();
    if (!text.startsWith(QLatin1Char('#'))) return std::nullopt;
    QColor color = QColor::fromString(text);
    if (!color.isValid()) return std::nullopt;
    return color;
}

// "<resources>/colors.json"; a malformed file gives no colours. Caller holds the lock.
const std::map<std::string, NamedColor>& namedColors(Store& s) {
    if (s.colorsRead) return s.colors;
    s.colorsRead = true;
    auto object = readJsonObject(resources() / "colors.json");
    if (!object) return s.colors;
    for (auto it = object->begin(); it != object->end(); ++it) {
        if (!it.value().isObject()) continue;
        const QJsonObject entry = it.value().toObject();
        NamedColor named{parseColor(entry.value(QStringLiteral("light"))),
                         parseColor(entry.value(QStringLiteral("dark")))};
        if (named.light || named.dark) s.colors[it.key().toStdString()] = named;
    }
    return s.colors;
}

qreal screenScale() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) return screen->devicePixelRatio();
    return 1.0;
}

}  // namespace

bool Assets::hasImage(const std::string& name) {
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return imageFile(s, name).has_value();
}

QPixmap Assets::image(const std::string& name, QSize size) {
    // Pixmaps need the GUI application.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return {};
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto stem = stemOf(s, name);
    if (!stem) return {};
    const qreal scale = screenScale();
    const ImageKey key{*stem, size.width(), size.height(), scale};
    if (auto it = s.images.find(key); it != s.images.end()) return it->second;

    auto file = imageFile(s, name);
    if (!file) return {};
    QSvgRenderer renderer(QString::fromStdString(file->string()));
    if (!renderer.isValid()) return {};
    const QSize logical = size.isEmpty() ? renderer.defaultSize() : size;
    if (logical.isEmpty()) return {};
    QPixmap pixmap(QSize(static_cast<int>(std::ceil(logical.width() * scale)),
                         static_cast<int>(std::ceil(logical.height() * scale))));
    if (pixmap.isNull()) return {};
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    pixmap.setDevicePixelRatio(scale);
    s.images.emplace(key, pixmap);
    return pixmap;
}

QIcon Assets::icon(const std::string& name) {
    fs::path file;
    {
        Store& s = store();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto found = imageFile(s, name);
        if (!found) return {};
        file = *found;
    }
    return QIcon(QString::fromStdString(file.string()));
}

std::optional<QColor> Assets::color(const std::string& name, Appearance appearance) {
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto& table = namedColors(s);
    auto it = table.find(name);
    if (it == table.end()) it = table.find(std::string(foundation::trimmed(name)));
    if (it == table.end()) return std::nullopt;
    // A colour given for one appearance only stands for both.
    const NamedColor& named = it->second;
    if (appearance == Appearance::dark) return named.dark ? named.dark : named.light;
    return named.light ? named.light : named.dark;
}

Appearance Assets::currentAppearance() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return Appearance::light;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Dark ? Appearance::dark
                                                                                 : Appearance::light;
#else
    // No colour scheme before Qt 6.5: a dark window background means a dark appearance.
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128 ? Appearance::dark
                                                                               : Appearance::light;
#endif
}

void Assets::reset() {
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.aliasesRead = false;
    s.aliases.clear();
    s.colorsRead = false;
    s.colors.clear();
    s.images.clear();
}

}  // namespace appkit
