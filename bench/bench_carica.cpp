// How long "Apri" takes on the largest compilation: 32767 songs read from
// disk into Canzoni and the real song list.
//   cmake --build build --target bench_carica && QT_QPA_PLATFORM=offscreen build/bench/bench_carica

#include "support/FinestraDiProva.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QListWidget>
#include <benchmark/benchmark.h>

using namespace sonora;
using namespace sonora::test;

static void BM_ApriCompilationMassima(benchmark::State& state)
{
    TempDir dir;
    QByteArray bytes = dir.path().toUtf8() + "\r\n";
    for (int i = 0; i < 32767; ++i)
        bytes += "Canzone numero " + QByteArray::number(i) + " - Interprete.wav\r\n";
    const QString path = dir.write("massima.cmp", bytes);

    FinestraDiProva w;
    w.form->show();
    for (auto _ : state) {
        w.dialog->pick({path});
        w->cmdCompilation->click();
        if (w->List1->count() != 32767 || !w.messages->shown.isEmpty())
            state.SkipWithError("the compilation did not load");
    }
    state.counters["songs"] = w->List1->count();
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ApriCompilationMassima)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
