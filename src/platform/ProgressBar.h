#pragma once
// ProgressBar1: a progress bar whose maximum and value are the song's length
// and position in milliseconds, as the media control reports them; they are
// what Qt's maximum() and value() return and what screen readers read. The
// sequencer sets them as single-precision numbers. A maximum of 0 (a song
// without length) shows an empty bar rather than Qt's busy animation, and
// values beyond the range show as a full or empty bar.

#include <QProgressBar>

namespace sonora {

class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    void setMax(float max);
    void setVal(float value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int drawnLength() const;
    int drawn_ = -1; // the bar's length in pixels when it was last painted
};

} // namespace sonora
