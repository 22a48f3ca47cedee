// The timeline and the pictures of runs that the tests write: times across
// lost records, a spike of one record at every zoom, a loss as a gap, and a
// silence marked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <fstream>
#include <string>
#include <vector>

#include "overview.h"
#include "pty.h"
#include "run.h"
#include "run_chart.h"
#include "sampler.h"

using namespace tarvo;
using namespace tarvo::view;

namespace {

// A run folder: data.txt with these lines and a run.json describing them
// (1 channel; with the status byte, the digital lines and the counter, or
// none of them), with these events.
std::unique_ptr<recorded::Run> writeRun(const TempDir& dir, const std::string& lines, bool status,
                                        unsigned periodUs, const std::string& events = "")
{
    std::ofstream(dir.file("data.txt"), std::ios::binary) << lines;
    const char* flag = status ? "true" : "false";
    std::ofstream(dir.file("run.json"), std::ios::binary)
        << "{\"format\": \"tarvo-run 1\", \"settings\": {\"channels\": 1, \"status_byte\": " << flag
        << ", \"digital_lines\": " << flag << ", \"record_counter\": " << flag
        << ", \"file_format\": \"columns\", \"period_us\": " << periodUs
        << "}, \"start\": \"2026-12-07T10:00:00+01:00\", \"end\": \"2026-12-07T10:01:00+01:00\", \"records\": 0, "
           "\"events\": ["
        << events << "]}\n";
    std::string why;
    auto run = recorded::Run::open(dir.path(), {}, why);
    EXPECT_TRUE(run) << why;
    return run;
}

// Six records at 1000 µs; records were lost before the 4th (1) and the 6th (2).
const char kCounted[] =
    "10,0,0,0,0,1\n20,0,0,0,0,2\n30,0,0,0,0,3\n40,0,0,0,0,5\n50,0,0,0,0,6\n60,0,0,0,0,9\n";
const char kPlain[] = "10\n20\n30\n40\n50\n60\n";
const char kPlainLosses[] =
    "{\"type\": \"loss\", \"record\": 4, \"missing\": 1}, "
    "{\"type\": \"loss\", \"record\": 6, \"missing\": 2}";

}  // namespace

TEST(Timeline, TimesSkipTheLostRecordsByTheCounterOrTheRunsEvents)
{
    struct Case {
        const char* what;
        const char* lines;
        bool status;
        const char* events;
    } cases[] = {
        {"the counter's gaps", kCounted, true, ""},
        {"run.json's loss events, no counter", kPlain, false, kPlainLosses},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto run = writeRun(dir, c.lines, c.status, 1000, c.events);
        ASSERT_TRUE(run);
        const Timeline t(*run);
        const std::vector<double> times = {0, 1000, 2000, 4000, 5000, 8000};
        for (uint64_t i = 0; i < times.size(); i++) {
            EXPECT_EQ(t.timeUs(i), times[i]) << "record " << i;
            EXPECT_EQ(t.timeUs(i), double(run->timeUs(i))) << "record " << i;
        }
        EXPECT_EQ(t.endUs(), 9000);
        // The first record whose period begins at or after a time.
        const std::vector<std::pair<double, uint64_t>> at = {
            {0, 0}, {1, 1}, {2500, 3}, {4000, 3}, {4001, 4}, {5500, 5}, {8000, 5}, {8001, 6}};
        for (const auto& [us, want] : at) {
            EXPECT_EQ(t.recordAt(us), want) << us << " µs";
            EXPECT_EQ(t.recordAt(us), run->recordAt(uint64_t(us))) << us << " µs";
        }
        std::vector<Timeline::Piece> p;
        t.pieces(0, 6, 1, p);
        ASSERT_EQ(p.size(), 3u);
        EXPECT_EQ((std::vector<uint64_t>{p[0].a, p[0].b, p[0].lost, p[1].a, p[1].b, p[1].lost,
                                         p[2].a, p[2].b, p[2].lost}),
                  (std::vector<uint64_t>{0, 3, 0, 3, 5, 1, 5, 6, 3}));
    }
}

TEST(Picture, ARecordLostLeavesAGapOnceRecordsArePointsApart)
{
    TempDir dir;
    auto run = writeRun(dir, kCounted, true, 1000);
    ASSERT_TRUE(run);
    const Timeline t(*run);
    // 100 µs a column: each record a point, 10 columns after the one before
    // it, 20 or 30 where records were lost.
    const Picture pic = sample(*run, t, {0, 1}, {0, 9000}, 90);
    ASSERT_EQ(pic.kind, Picture::Kind::Points);
    std::vector<double> x;
    std::vector<bool> afterLoss;
    for (const auto& p : pic.points) {
        x.push_back(p.x);
        afterLoss.push_back(p.afterLoss);
    }
    EXPECT_EQ(x, (std::vector<double>{0, 10, 20, 40, 50, 80}));
    EXPECT_EQ(afterLoss, (std::vector<bool>{false, false, false, true, false, true}));
    EXPECT_EQ(pic.values[0], (std::vector<uint16_t>{10, 20, 30, 40, 50, 60}));
}

TEST(Picture, ASpikeOfOneRecordShowsAtEveryZoom)
{
    // 100000 records at 1000 µs: channel 1 near 1000 but 4000 at record
    // 54321; d1 high at record 77777 alone.
    std::string lines;
    for (unsigned i = 0; i < 100000; i++)
        lines += std::to_string(i == 54321 ? 4000 : 1000 + i % 7) + (i == 77777 ? ",1" : ",0") +
                 ",0,0,0," + std::to_string((i + 1) % 16) + "\n";
    TempDir dir;
    auto run = writeRun(dir, lines, true, 1000);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->count(), 100000u);
    const Timeline t(*run);
    // The columns where a channel reaches a value.
    auto columnsAt = [](const std::vector<recorded::Extent>& cols, uint16_t v) {
        std::vector<unsigned> out;
        for (unsigned x = 0; x < cols.size(); x++)
            if (!cols[x].empty() && cols[x].hi >= v)
                out.push_back(x);
        return out;
    };

    // The whole run, 200 records a column (the pyramid): the spike in its
    // column, or with the column beside it where the pyramid's blocks
    // straddle the two; d1 likewise.
    Picture pic = sample(*run, t, {0, 1}, {0, 100e6}, 500);
    ASSERT_EQ(pic.kind, Picture::Kind::Columns);
    for (const auto& [channel, value, column] : std::vector<std::tuple<int, uint16_t, unsigned>>{
             {0, 4000, 54321 / 200}, {1, 1, 77777 / 200}}) {
        const std::vector<unsigned> at = columnsAt(pic.columns[size_t(channel)], value);
        ASSERT_FALSE(at.empty()) << "channel " << channel;
        EXPECT_LE(at.size(), 2u);
        for (unsigned x : at)
            EXPECT_LE(std::abs(int(x) - int(column)), 1) << "channel " << channel;
    }
    for (const recorded::Extent& e : pic.columns[0])
        EXPECT_FALSE(e.empty());  // no gap where nothing was lost

    // 10000 records from record 50000, 20 a column: each block of 32
    // records in the columns it falls in, the spike's (54304-54335) in 215
    // and 216.
    pic = sample(*run, t, {0}, {50000e3, 60000e3}, 500);
    ASSERT_EQ(pic.kind, Picture::Kind::Columns);
    EXPECT_EQ(columnsAt(pic.columns[0], 4000), (std::vector<unsigned>{215, 216}));
    for (const recorded::Extent& e : pic.columns[0])
        EXPECT_FALSE(e.empty());

    // 5000 records from record 50000, 10 a column (read one by one): the
    // spike in column 432 alone.
    pic = sample(*run, t, {0}, {50000e3, 55000e3}, 500);
    ASSERT_EQ(pic.kind, Picture::Kind::Columns);
    EXPECT_EQ(columnsAt(pic.columns[0], 4000), (std::vector<unsigned>{432}));

    // 300 records from 54200 over 600 columns: the spike is the point 2
    // columns a record from the start.
    pic = sample(*run, t, {0}, {54200e3, 54500e3}, 600);
    ASSERT_EQ(pic.kind, Picture::Kind::Points);
    size_t spikes = 0;
    for (size_t i = 0; i < pic.points.size(); i++)
        if (pic.values[0][i] == 4000) {
            spikes++;
            EXPECT_EQ(pic.points[i].index, 54321u);
            EXPECT_EQ(pic.points[i].x, 242);
        }
    EXPECT_EQ(spikes, 1u);
}

TEST(Chart, ASilenceFromTheRunDescriptionIsMarkedAndReadOut)
{
    // 2000 records at 500 µs; the board fell silent after the 1200th.
    std::string lines;
    for (unsigned i = 0; i < 2000; i++)
        lines += std::to_string(2048 + int(1000 * std::sin(i / 50.0))) + "\n";
    TempDir dir;
    auto run = writeRun(
        dir, lines, false, 500,
        "{\"type\": \"silence\", \"record\": 1200, \"start\": \"2026-12-07T10:00:01+01:00\", "
        "\"end\": \"2026-12-07T10:00:04+01:00\"}");
    ASSERT_TRUE(run);
    RunChart chart;
    chart.resize(900, 420);
    chart.show();
    chart.setRun(run.get());
    ASSERT_EQ(chart.marks().size(), 1u);
    EXPECT_EQ(chart.marks()[0].toUs, 600000);  // the end of the 1200th record's period

    QImage image(chart.size(), QImage::Format_RGB32);
    {
        QPainter p(&image);
        chart.render(p);
    }
    const int x = int(chart.xOf(600000));
    const int y = chart.marksRect().center().y();
    EXPECT_EQ(image.pixelColor(x, y), chart.silenceColour());
    EXPECT_NE(image.pixelColor(x - 40, y), chart.silenceColour());
    const RunChart::Readout r = chart.readoutAt(QPoint(x, chart.plotRect().center().y()));
    ASSERT_TRUE(r.valid);
    EXPECT_TRUE(r.mark.startsWith("silence after record 1200")) << r.mark.toStdString();
}

TEST(Chart, ADarkPaletteDrawsLightTracesAndMarksOnADarkGround)
{
    TempDir dir;
    auto run = writeRun(dir, kCounted, true, 1000);
    ASSERT_TRUE(run);
    RunChart chart;
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Text, QColor(225, 225, 225));
    chart.setPalette(dark);
    chart.resize(800, 400);
    chart.show();
    chart.setRun(run.get());
    QImage image(chart.size(), QImage::Format_RGB32);
    {
        QPainter p(&image);
        chart.render(p);
    }
    const QColor ground = image.pixelColor(chart.plotRect().topLeft() + QPoint(3, 3));
    EXPECT_LT(ground.lightness(), 50);
    for (int t = 0; t < chart.traces(); t++)
        EXPECT_GT(chart.traceColour(t).lightness(), ground.lightness() + 90)
            << chart.traceName(t).toStdString();
    EXPECT_GT(chart.lossColour().lightness(), ground.lightness() + 90);
    EXPECT_GT(chart.silenceColour().lightness(), ground.lightness() + 90);
    // The loss before the 4th record (its gap 3000-4000 µs) marked under it.
    const int y = chart.marksRect().center().y();
    EXPECT_EQ(image.pixelColor(int(chart.xOf(3500)), y), chart.lossColour());
}

TEST(Chart, ItsPartsFollowItsSizeAndItsFont)
{
    TempDir dir;
    auto run = writeRun(dir, kCounted, true, 1000);  // Ch 1 and D1-D4
    ASSERT_TRUE(run);
    RunChart chart;
    chart.resize(800, 400);
    chart.show();
    chart.setRun(run.get());
    ASSERT_EQ(chart.traces(), 5);
    // Under each other: the plot, 8 pixels apart the four lanes, the row of
    // marks 2 pixels under them, 11 high, and the axis; 18 pixels right of
    // the plot.
    auto expectStacked = [&](int width) {
        const QRect plot = chart.plotRect(), lanes = chart.lanesRect(), marks = chart.marksRect();
        EXPECT_EQ(plot.right(), width - 19);
        EXPECT_EQ(lanes.top(), plot.bottom() + 1 + 8);
        EXPECT_EQ(lanes.height(), 4 * chart.laneHeight());
        EXPECT_EQ(marks.top(), lanes.bottom() + 1 + 2);
        EXPECT_EQ(marks.height(), 11);
        EXPECT_EQ(chart.axisRect().top(), marks.bottom() + 1);
        for (const QRect& r : {lanes, marks, chart.axisRect()}) {
            EXPECT_EQ(r.left(), plot.left());
            EXPECT_EQ(r.width(), plot.width());
        }
    };
    expectStacked(800);
    const QRect before = chart.plotRect();
    const int laneHeight = chart.laneHeight();

    // Narrower: the plot follows.
    chart.resize(600, 400);
    expectStacked(600);
    EXPECT_EQ(chart.plotRect().left(), before.left());

    // A font twice as large: wider labels move the plot right, the lanes
    // grow, and the legend's entries widen.
    const int legendWidth = chart.legendRect(0).width();
    QFont large = chart.font();
    large.setPointSizeF(large.pointSizeF() * 2);
    chart.setFont(large);
    expectStacked(600);
    EXPECT_GT(chart.plotRect().left(), before.left());
    EXPECT_GT(chart.laneHeight(), laneHeight);
    EXPECT_GT(chart.legendRect(0).width(), legendWidth);
}

TEST(Overview, AClickPutsTheViewThereAndADragMovesIt)
{
    // 2000 records at 500 µs: a run of one second.
    std::string lines;
    for (unsigned i = 0; i < 2000; i++)
        lines += std::to_string(i * 2) + "\n";
    TempDir dir;
    auto run = writeRun(dir, lines, false, 500);
    ASSERT_TRUE(run);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* chart = new RunChart(&window);
    auto* overview = new Overview(*chart, &window);
    layout->addWidget(chart, 1);
    layout->addWidget(overview);
    window.resize(900, 500);
    window.show();
    QApplication::processEvents();
    chart->setRun(run.get());
    chart->setSpan({0, 100000});

    // The strip lies under the plot, the view framed at its start.
    const QRect track = overview->track();
    EXPECT_EQ(overview->mapToGlobal(track.topLeft()).x(),
              chart->mapToGlobal(chart->plotRect().topLeft()).x());
    EXPECT_NEAR(overview->shown().left(), track.left(), 1e-9);
    EXPECT_NEAR(overview->shown().width(), track.width() / 10.0, 1e-9);

    auto mouse = [&](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent e(type, at, overview->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(overview, &e);
    };
    // A click at the middle of the strip: the view about the run's middle.
    const double y = track.center().y();
    mouse(QEvent::MouseButtonPress, QPointF(track.left() + track.width() / 2.0, y), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, QPointF(track.left() + track.width() / 2.0, y), Qt::NoButton);
    EXPECT_NEAR(chart->span().from, 450000, 1e-6);
    EXPECT_NEAR(chart->span().to, 550000, 1e-6);
    // A drag of a fifth of the strip from there: a fifth of the run later.
    mouse(QEvent::MouseButtonPress, QPointF(track.left() + track.width() / 2.0, y), Qt::LeftButton);
    mouse(QEvent::MouseMove, QPointF(track.left() + track.width() * 0.7, y), Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, QPointF(track.left() + track.width() * 0.7, y), Qt::NoButton);
    EXPECT_NEAR(chart->span().from, 650000, 1e-6);
    EXPECT_NEAR(chart->span().to, 750000, 1e-6);
}
