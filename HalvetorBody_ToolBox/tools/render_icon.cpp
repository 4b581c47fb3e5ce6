// Build step: draws the application's SVG icon as a square PNG of the given size, for the icon
// theme folders of the installation (desktop shells want pixel sizes there).
//
//   render_icon SOURCE.svg OUTPUT.png SIZE
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SOURCE.svg OUTPUT.png SIZE\n", argv[0]);
        return 64;
    }
    const int size = std::atoi(argv[3]);
    if (size <= 0 || size > 1024) {
        std::fprintf(stderr, "render_icon: bad size %s\n", argv[3]);
        return 64;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render_icon: cannot read %s\n", argv[1]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "render_icon: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
