#include "plot_cache.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "chart_decor.h"
#include "run_chart.h"
#include "trace_drawing.h"

namespace tarvo::view {

void PlotCache::clear()
{
    pic_ = {};
    picKey_ = {};
}

const Picture& PlotCache::picture(const RunChart& chart, uint64_t count)
{
    Key key{chart.span(), int(std::lround(chart.plotRect().width() * dpr_)), count,
            chart.shownChannels()};
    if (!(key == picKey_)) {
        const recorded::Run* run = chart.run();
        pic_ = run ? sample(*run, chart.timeline(), key.channels, key.span,
                            unsigned(std::max(0, key.width)))
                   : Picture{};
        picKey_ = std::move(key);
        // The pages of the data file that the picture read are handed back:
        // however much of a large file one looks at, it does not stay in
        // this process's memory (the system keeps it in its cache).
        if (run)
            run->records().releasePages();
    }
    return pic_;
}

// The analog plot in device pixels: its ground, grid, marks and traces. Made
// again only when what it shows changed (not when only the pointer moved).
const QImage& PlotCache::image(const RunChart& chart, uint64_t count, double dpr)
{
    if (dpr != dpr_) {
        dpr_ = dpr;
        picKey_ = {};
    }
    const QSize size(std::max(1, int(std::lround(chart.plotRect().width() * dpr))),
                     std::max(1, int(std::lround(chart.plotRect().height() * dpr))));
    const Picture& pic = picture(chart, count);
    PlotKey key{picKey_, chart.valueFrom(),          chart.valueTo(),
                size,    chart.palette().cacheKey(), chart.marks().size()};
    if (key == plotKey_ && !plot_.isNull())
        return plot_;
    plotKey_ = key;
    if (plot_.size() != size)
        plot_ = QImage(size, QImage::Format_RGB32);
    plot_.setDevicePixelRatio(dpr);
    plot_.fill(chart.palette().color(QPalette::Base));
    {
        QPainter ip(&plot_);
        ip.translate(-chart.plotRect().left(), -chart.plotRect().top());
        drawGrid(ip, chart);
        if (chart.run() && chart.run()->count() > 0)
            drawMarks(ip, chart, true);
    }
    if (!chart.run() || chart.run()->count() == 0)
        return plot_;
    const std::vector<unsigned>& channels = picKey_.channels;
    if (pic.kind == Picture::Kind::Columns) {
        rasterColumns(plot_, chart, pic, channels);
    } else if (pic.kind == Picture::Kind::Points) {
        QPainter ip(&plot_);
        ip.translate(-chart.plotRect().left(), -chart.plotRect().top());
        drawTraces(ip, chart, pic, channels);
    }
    return plot_;
}

}  // namespace tarvo::view
