#pragma once
// Pictures of widgets for people to look at: ${build}/screenshots/<name>.png.
#include <QDir>
#include <QLayout>
#include <QString>
#include <QWidget>

namespace hvbtest {

inline QString saveScreenshot(QWidget* widget, const QString& name) {
    QDir dir(QStringLiteral(HVB_TEST_BUILD_DIR "/screenshots"));
    dir.mkpath(QStringLiteral("."));
    widget->ensurePolished();
    if (widget->layout()) widget->layout()->activate();
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    return widget->grab().save(path) ? path : QString();
}

}  // namespace hvbtest
