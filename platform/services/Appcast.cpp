#include "platform/services/Appcast.h"
#include "platform/foundation/Strings.h"

#include <pugixml.hpp>

#include <cctype>
#include <cstring>

namespace services::appcast {
namespace {

// Feeds put their version data in their own XML namespace under whatever prefix they declare,
// so names are matched by their local part.
std::string_view localName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

bool hasPrefix(const char* name) { return std::strchr(name, ':') != nullptr; }

std::string trimmed(std::string_view s) { return std::string(foundation::trimmed(s)); }

// A namespaced child element by local name ("version" must not match a plain RSS element).
std::optional<std::string> namespacedChildText(const pugi::xml_node& node, std::string_view local) {
    for (const auto& child : node.children()) {
        if (child.type() == pugi::node_element && hasPrefix(child.name()) && localName(child.name()) == local) {
            std::string text = trimmed(child.text().get());
            if (!text.empty()) return text;
        }
    }
    return std::nullopt;
}

std::optional<std::string> namespacedAttribute(const pugi::xml_node& node, std::string_view local) {
    if (!node) return std::nullopt;
    for (const auto& attr : node.attributes()) {
        if (hasPrefix(attr.name()) && localName(attr.name()) == local) {
            std::string text = trimmed(attr.value());
            if (!text.empty()) return text;
        }
    }
    return std::nullopt;
}

std::string childText(const pugi::xml_node& node, const char* name) { return trimmed(node.child(name).text().get()); }

// The digits a part starts with, without leading zeros ("" for zero or none).
std::string_view numberOf(std::string_view part) {
    size_t end = 0;
    while (end < part.size() && std::isdigit(static_cast<unsigned char>(part[end]))) ++end;
    std::string_view digits = part.substr(0, end);
    while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    return digits;
}

}  // namespace

std::vector<AppcastItem> parse(std::string_view xml) {
    std::vector<AppcastItem> items;
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8)) return items;
    const pugi::xml_node channel = doc.child("rss").child("channel");
    for (const auto& node : channel.children("item")) {
        const pugi::xml_node enclosure = node.child("enclosure");
        AppcastItem item;
        item.title = childText(node, "title");
        auto version = namespacedChildText(node, "version");
        if (!version) version = namespacedAttribute(enclosure, "version");
        if (!version) continue;
        item.versionString = *version;
        item.displayVersionString = namespacedChildText(node, "shortVersionString");
        if (!item.displayVersionString) item.displayVersionString = namespacedAttribute(enclosure, "shortVersionString");
        item.enclosureURL = trimmed(enclosure.attribute("url").value());
        item.link = childText(node, "link");
        if (item.link.empty()) item.link = item.enclosureURL;
        items.push_back(std::move(item));
    }
    return items;
}

int compareVersions(std::string_view a, std::string_view b) {
    while (!a.empty() || !b.empty()) {
        const size_t da = a.find('.'), db = b.find('.');
        const std::string_view pa = a.substr(0, da), pb = b.substr(0, db);
        a = da == std::string_view::npos ? std::string_view() : a.substr(da + 1);
        b = db == std::string_view::npos ? std::string_view() : b.substr(db + 1);
        // Compared as digit strings so that no length of number overflows.
        const std::string_view na = numberOf(pa), nb = numberOf(pb);
        if (na.size() != nb.size()) return na.size() < nb.size() ? -1 : 1;
        if (const int c = na.compare(nb); c != 0) return c < 0 ? -1 : 1;
    }
    return 0;
}

std::optional<AppcastItem> newestItem(const std::vector<AppcastItem>& items) {
    const AppcastItem* best = nullptr;
    for (const auto& item : items)
        if (!best || compareVersions(item.versionString, best->versionString) > 0) best = &item;
    if (!best) return std::nullopt;
    return *best;
}

}  // namespace services::appcast
