// The least a Qt 6 program of our window's size does: the yardstick for our
// start-up and memory. With --primo-disegno it reports its first paint as the
// program's start-up is timed (PrimoDisegno.h) and ends. With --testo it
// also shows one line of text, to tell what text alone costs.

#include "PrimoDisegno.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    QWidget w;
    w.resize(315, 312);
    if (args.contains(QStringLiteral("--testo")))
        (new QLabel(QStringLiteral("Sonoraccoltiera"), &w))->move(10, 10);
    if (args.contains(QStringLiteral("--primo-disegno")))
        sonora::bench::riferisciPrimoDisegno(&w);
    QTimer timer;
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] { w.setWindowTitle(QString::number(++ticks)); });
    timer.start(150);
    w.show();
    return QApplication::exec();
}
