#pragma once
// The texts of the platform's own windows (the new-version offer, an alert's default button) come
// through Qt's tr(); this translator answers them from the application's tables, so they follow
// the user's language like every other text.
#include <QTranslator>

namespace hvb {

class StringTableTranslator : public QTranslator {
    Q_OBJECT
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
};

// Installs one translator on the application; more calls change nothing.
void installStringTableTranslator();

}  // namespace hvb
