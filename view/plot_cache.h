// A run chart's picture of its span (sampler.h) and the plot's image drawn
// from it, each made again only when what it was made of changed: a pointer
// that moves redraws neither.
#pragma once

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

#include "sampler.h"
#include "view_range.h"

namespace tarvo::view {

class RunChart;

class PlotCache {
public:
    // Forgets the picture (another run).
    void clear();
    // Device pixels to a pixel of the plot, as last drawn.
    double pixelRatio() const { return dpr_; }
    // The picture of the chart's span and shown traces, a column a device
    // pixel, of the first `count` records.
    const Picture& picture(const RunChart& chart, uint64_t count);
    // The analog plot at `dpr` device pixels to a pixel: its ground, grid,
    // marks and traces.
    const QImage& image(const RunChart& chart, uint64_t count, double dpr);

private:
    Picture pic_;
    struct Key {
        Span span;
        int width = -1;
        uint64_t count = 0;
        std::vector<unsigned> channels;
        bool operator==(const Key&) const = default;
    } picKey_;
    double dpr_ = 1;
    QImage plot_;
    struct PlotKey {
        Key picture;
        double vFrom = 0, vTo = 0;
        QSize size;
        qint64 palette = 0;
        size_t marks = 0;
        bool operator==(const PlotKey&) const = default;
    } plotKey_;
};

}  // namespace tarvo::view
