// Writes the seeds of fuzz_streamrepair: every era file of the media tests,
// one frame or a few tens of milliseconds long, cut to 16 KiB (the header
// and at least one whole frame of our 64x48 pictures).
//   cmake --build build --target semi_streamrepair
//   build/tests/riproduttore/semi_streamrepair tests/fuzz/seeds/streamrepair

#include "support/MediaGen.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s CARTELLA\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir scratch;
    for (const sonora::test::EraCase& c : sonora::test::eraCases()) {
        QFile file(c.write(scratch.path(), 40));
        QFile seed(out.filePath(QString::fromUtf8(c.name).replace(QLatin1Char(' '), QLatin1Char('_')).remove(QLatin1Char('\''))));
        if (!file.open(QIODevice::ReadOnly) || !seed.open(QIODevice::WriteOnly) || seed.write(file.read(16 * 1024)) < 0)
            return 1;
    }
    return 0;
}
