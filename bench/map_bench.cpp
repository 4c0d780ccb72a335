// The result window's map: reads a GPX once and times repaints of all its
// points, at the whole extent and zoomed in. Usage: map_bench FILE.gpx [REPAINTS]

#include "ui/map_view.h"
#include "formats/result_points.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: map_bench FILE.gpx [REPAINTS]\n");
        return 2;
    }
    const int repaints = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    QElapsedTimer clock;
    clock.start();
    auto points = std::make_shared<gnis::ResultPoints>(gnis::ReadGpxPoints(argv[1]));
    const double readMs = double(clock.nsecsElapsed()) / 1e6;
    if (!points->error.empty()) {
        std::fprintf(stderr, "%s\n", points->error.c_str());
        return 1;
    }
    gnis::MapView view;
    view.resize(1200, 800);
    view.setPoints(points);
    view.show();
    std::vector<double> whole, zoomed;
    for (int i = 0; i < repaints; ++i) {
        (void)view.grab();
        whole.push_back(view.lastPaintMs());
    }
    for (int i = 0; i < 6; ++i) { // into the middle, 1.25 times a notch
        QWheelEvent wheel(QPointF(600, 400), QPointF(600, 400), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &wheel);
    }
    for (int i = 0; i < repaints; ++i) {
        (void)view.grab();
        zoomed.push_back(view.lastPaintMs());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto worst = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
    std::printf("%zu points, read once in %.0f ms, %.1f MiB in memory\n", points->size(), readMs,
                double(points->size() * (2 * sizeof(float) + sizeof(std::uint16_t))) / (1 << 20));
    std::printf("repaint at 1200x800, whole extent: median %.1f ms, worst %.1f ms (target under 100)\n", median(whole), worst(whole));
    std::printf("repaint zoomed in 6 notches:       median %.1f ms, worst %.1f ms\n", median(zoomed), worst(zoomed));
    return worst(whole) < 100 && worst(zoomed) < 100 ? 0 : 1;
}
