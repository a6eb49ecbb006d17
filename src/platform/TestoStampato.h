#pragma once
// Text printed on a window's own surface: each line at the print position,
// in the window's font, starting at the top left corner, the position then
// moving down a line. The surface keeps no copy of it: once the window
// system has the window drawn afresh (uncovered, restored after being
// minimised, resized), the text is gone. So only the lines the window still
// shows are kept, never more than fit on it.

#include <QObject>
#include <QPointer>
#include <QStringList>

class QPainter;
class QWidget;
class QWindow;

namespace sonora {

class TestoStampato : public QObject {
public:
    explicit TestoStampato(QWidget* window);

    void print(const QString& text);
    // The lines on the window, top to bottom.
    const QStringList& lines() const { return lines_; }
    // Draws the lines; for the window's paintEvent.
    void paint(QPainter& painter) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int lineHeight() const;

    QWidget* window_;
    QPointer<QWindow> watched_; // the window system's side of it, once it has one
    QStringList lines_;
    int top_ = 0;      // of the first of them
    int position_ = 0; // where the next line goes
};

} // namespace sonora
