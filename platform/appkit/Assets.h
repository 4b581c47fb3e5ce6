#pragma once
// The application's images and named colours, read from its resources: images are SVG files
// "<resources>/images/<name>.svg" (a name may map to another file stem through the alias table
// "<resources>/images/aliases.json": {"name": "stem"}), colours are "<resources>/colors.json":
// {"Name": {"light": "#rrggbb", "dark": "#rrggbb"}}. Names are matched without surrounding
// blanks. A missing name gives a null image or no colour, never a failure. Images are drawn
// for the primary screen's pixel ratio and kept per name and size.
#include <optional>
#include <string>

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>

namespace appkit {

enum class Appearance { light, dark };

class Assets {
public:
    // True when an image of that name exists.
    static bool hasImage(const std::string& name);
    // The image drawn at `size` (device-independent pixels; the SVG's own size when empty).
    static QPixmap image(const std::string& name, QSize size = {});
    static QIcon icon(const std::string& name);
    // A named colour for an appearance, or none.
    static std::optional<QColor> color(const std::string& name, Appearance appearance);
    // The appearance in force (dark when the platform says so).
    static Appearance currentAppearance();
    // Tests: forget what was read (after the resources folder changes).
    static void reset();
};

// Fixed colours of the platform.
namespace colors {
inline QColor lightGray() { return QColor::fromRgbF(170 / 255.0, 170 / 255.0, 170 / 255.0); }
inline QColor darkGray() { return QColor::fromRgbF(85 / 255.0, 85 / 255.0, 85 / 255.0); }
inline QColor gray() { return QColor::fromRgbF(128 / 255.0, 128 / 255.0, 128 / 255.0); }
inline QColor systemRed() { return QColor(255, 59, 48); }
inline QColor linkBlue() { return QColor(0, 122, 255); }
inline QColor grey(int component) { return QColor(component, component, component); }
}  // namespace colors

}  // namespace appkit
