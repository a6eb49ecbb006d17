// The least a Qt 6 program of our window's size does: the yardstick for our
// start-up and memory. With SONORA_REPORT_FIRST_PAINT set it reports its first
// paint exactly as our program does (steady clock, just after the paint) and ends.
// With --testo it also shows one line of text, to tell what text alone costs.

#include <QApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstring>

class Finestra : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!reported_ && qEnvironmentVariableIsSet("SONORA_REPORT_FIRST_PAINT"))
            QTimer::singleShot(0, this, [] {
                std::printf("first-paint %lld\n", static_cast<long long>(std::chrono::steady_clock::now().time_since_epoch().count()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        reported_ = true;
    }
    bool reported_ = false;
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Finestra w;
    w.resize(315, 312);
    if (argc > 1 && std::strcmp(argv[1], "--testo") == 0)
        (new QLabel(QStringLiteral("Sonoraccoltiera"), &w))->move(10, 10);
    QTimer timer;
    int ticks = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] { w.setWindowTitle(QString::number(++ticks)); });
    timer.start(150);
    w.show();
    return QApplication::exec();
}
