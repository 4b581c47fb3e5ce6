#pragma once
// A horizontal level bar: a blue part `progress` × the bar's width wide on a light grey bar
// with a black border. The width is worked out on the main queue, whichever thread wrote
// `progress`; the fraction is used as it comes (callers give 0 to 1).
#include <optional>

#include <QWidget>

namespace hvb {

class VolumeProgressView : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kProgressColorHex = "#007aff";

    explicit VolumeProgressView(QWidget* parent = nullptr);

    double progress() const { return progress_; }
    void setProgress(double progress);

    QWidget* progressView() const { return progressView_; }
    // The blue part's width as last worked out; none before setup.
    std::optional<double> widthConstraint() const { return widthConstraint_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setupSubviews();
    void updateProgress();
    void layoutProgress();

    double progress_ = 0.0;
    QWidget* progressView_ = nullptr;
    QWidget* border_ = nullptr;
    std::optional<double> widthConstraint_;
};

}  // namespace hvb
