#include "common/BezierPathExtension.h"

namespace hvb {

QPainterPath cgPath(std::span<const PathElement> elements) {
    QPainterPath path;
    for (const PathElement& element : elements) {
        const auto& p = element.points;
        switch (element.type) {
            case PathElement::Type::moveTo: path.moveTo(p[0]); break;
            case PathElement::Type::lineTo: path.lineTo(p[0]); break;
            case PathElement::Type::curveTo: path.cubicTo(p[0], p[1], p[2]); break;
            case PathElement::Type::closePath: path.closeSubpath(); break;
        }
    }
    return path;
}

}  // namespace hvb
