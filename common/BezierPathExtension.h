#pragma once
// A vector path as a list of elements, and its conversion into a QPainterPath for drawing.
#include <array>
#include <span>

#include <QPainterPath>
#include <QPointF>

namespace hvb {

struct PathElement {
    enum class Type { moveTo, lineTo, curveTo, closePath };
    Type type;
    // moveTo and lineTo use points[0]; curveTo goes to points[2] with the control points
    // points[0] and points[1]; closePath uses none.
    std::array<QPointF, 3> points{};
};

// The drawable path of the elements, in order (an empty path for no elements).
QPainterPath cgPath(std::span<const PathElement> elements);

}  // namespace hvb
