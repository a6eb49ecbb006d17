#pragma once
// ProgressBar1: a progress bar whose maximum and value are single-precision
// numbers, as the media control reports song lengths and positions. A
// maximum of 0 (a song without length) shows an empty bar rather than Qt's
// busy animation, and values beyond the range show as a full or empty bar.

#include <QProgressBar>

namespace sonora {

class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    void setMax(float max) { max_ = max; refresh(); }
    float max() const { return max_; }
    void setVal(float value) { value_ = value; refresh(); }
    float val() const { return value_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    float max_ = 100;
    float value_ = 0;
};

} // namespace sonora
