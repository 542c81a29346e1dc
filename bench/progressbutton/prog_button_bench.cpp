// Times one full redraw of a 321 x 17 progress button, as the splash does it
// every 10 ms tick (setting Value rebuilds the whole picture), and the same
// redraw followed by painting the window. Prints medians in microseconds.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "progressbutton/prog_button.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <class Step> double medianMicroseconds(int rounds, Step step) {
    std::vector<double> samples;
    samples.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        step(i);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ProgButton bar;
    bar.resize(321, 17);
    bar.setColor(3);
    bar.setCaption(QString());
    bar.show();
    QApplication::processEvents();

    constexpr int rounds = 5000;
    // Warm-up: fonts, glyph caches, gradients.
    for (int i = 0; i < 200; ++i)
        bar.setValue(i % 101);

    const double redraw = medianMicroseconds(rounds, [&](int i) { bar.setValue(i % 101); });
    const double shown = medianMicroseconds(rounds, [&](int i) {
        bar.setValue(i % 101);
        bar.repaint();
    });

    std::printf("progress button 321 x 17, scheme 3, %d rounds (platform %s)\n", rounds,
                qPrintable(QGuiApplication::platformName()));
    std::printf("redraw (Value setter, whole picture):  median %8.1f us\n", redraw);
    std::printf("redraw and paint the window:           median %8.1f us\n", shown);
    std::printf("budget per splash tick:                       10000.0 us\n");
    return 0;
}
