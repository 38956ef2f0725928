// One frame of the ringing band at several screen widths, while the text is
// still fading (text pictures re-printed every frame) and after (text only
// laid over), composed off screen alone and with the copy to the screen.
// Each result carries the allocations per frame (malloc, calloc and realloc
// calls, operator new's included) made by the window thread.

#include "AllocationCounter.h"
#include "Screen.h"
#include "Visual.h"

#include <QApplication>
#include <QTimer>
#include <benchmark/benchmark.h>

namespace {

constexpr qint32 kWhite = 0xffffff;

enum Phase
{
    Fading = 0,
    Steady = 1
};
enum Copy
{
    OffScreen = 0,
    ToScreen = 1
};

// Everything Timer1_Timer does except the copy to the screen.
void composeFrame(Visual& visual)
{
    visual.ClearBuffer();
    visual.PuStarsToBuffer();
    visual.PutTextToBuffer();
    visual.MoveStars();
}

void frame(benchmark::State& state)
{
    const int widthPixels = static_cast<int>(state.range(0));
    const auto phase = static_cast<Phase>(state.range(1));
    const auto copy = static_cast<Copy>(state.range(2));

    // A loaded band of the given width, its timer stopped: the benchmark
    // drives the frames.
    Visual visual({}, {});
    visual.setScreenWidthTwips(static_cast<int>(widthPixels * Runtime::TwipsPerPixelX()));
    visual.Load();
    visual.Timer1->stop();
    if (copy == ToScreen) {
        // Visible, so the copy really paints (Show's raise only makes the
        // offscreen platform complain).
        visual.show();
        QCoreApplication::processEvents();
    }
    if (phase == Steady) {
        while (visual.textColour() != kWhite)
            composeFrame(visual);
    }

    std::uint64_t allocations = 0;
    for (auto _ : state) {
        if (phase == Fading && visual.textColour() == kWhite) {
            // Start the fade again, untimed.
            state.PauseTiming();
            visual.SetupText();
            state.ResumeTiming();
        }
        const std::uint64_t before = AllocationCounter::count();
        if (copy == ToScreen)
            visual.Timer1_Timer();
        else
            composeFrame(visual);
        allocations += AllocationCounter::count() - before;
    }
    state.counters["allocs/frame"]
        = benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
    state.SetLabel(visual.picBuffer.width() == widthPixels ? "" : "width mismatch");
}

} // namespace

BENCHMARK(frame)
    ->ArgNames({ "width", "steady", "toScreen" })
    ->ArgsProduct({ { 1366, 1920, 3840 }, { Fading, Steady }, { OffScreen, ToScreen } })
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A zero below must mean no allocation, not a counter that sees none.
    const std::uint64_t before = AllocationCounter::count();
    const QImage probe(64, 64, QImage::Format_RGB32);
    if (probe.isNull() || AllocationCounter::count() == before) {
        qCritical("The allocation counter does not see allocations.");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
