// tarvo-view on runs recorded by the real tarvo from tarvo-board, which
// leaves out every 300th record and falls silent after its 700th: the
// screenshot shows the traces and a mark at each loss, the wheel, drags,
// keys and a box move the view as computed, the readout gives the record
// under the pointer, the legend hides and shows traces, and a run still
// being written is followed. The recorder's run.json tells of the silence.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "recorder.h"
#include "run.h"
#include "run_chart.h"
#include "viewer_window.h"

using namespace tarvo;
using namespace tarvo::view;

namespace {

constexpr double kPeriod = 2000;    // µs
constexpr uint64_t kRecords = 698;  // 700 sent, the 300th and 600th lost
constexpr double kEnd = 1400000;    // the 700th record's period ends there

// The time of record k (from 0) of the file: the board numbers its records
// from 1 and never sent the multiples of 300.
double timeOf(uint64_t k)
{
    const uint64_t n = k + 1 + k / 299;
    return double(n - 1) * kPeriod;
}

struct Recorded {
    Recording rec;
    Panel panel;
    std::vector<std::string> sent;  // the board's records as lines of integer columns
};

void record(Recorded& r, unsigned wfile)
{
    r.panel.wfile = wfile;
    r.rec.startBoard({"--lose-record-every", "300", "--silence-after", "700"});
    const ProcResult res = r.rec.run(r.panel.lines() + "press start\nwait 3\npress stop\n");
    ASSERT_EQ(res.status, 0) << res.err;
    r.rec.stopBoard();
    r.sent = decode(r.rec.boardDump(), r.panel);
    ASSERT_EQ(r.sent.size(), kRecords);
}

std::unique_ptr<recorded::Run> openRun(const std::string& path)
{
    std::string why;
    auto run = recorded::Run::open(path, {}, why);
    EXPECT_TRUE(run) << why;
    return run;
}

std::vector<int> numbers(const std::string& line)
{
    std::vector<int> v;
    std::stringstream s(line);
    for (std::string f; std::getline(s, f, ',');)
        v.push_back(std::stoi(f));
    return v;
}

// Lets the event loop run until `pred` holds, up to `seconds`.
template <class Pred>
bool waitFor(Pred pred, double seconds)
{
    return waitUntil(pred, seconds, [] {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
}

void openWindow(ViewerWindow& w, const std::string& path)
{
    w.resize(ViewerWindow::kShotWidth, ViewerWindow::kShotHeight);
    w.show();
    w.open(QString::fromStdString(path));
    ASSERT_TRUE(waitFor([&] { return !w.opening(); }, 30));
    ASSERT_TRUE(w.run()) << w.error().toStdString();
    QApplication::processEvents();
}

// Pixels of about this colour (a smoothed line's own pixels included).
int pixelsLike(const QImage& image, const QRect& area, const QColor& c, int slack = 40)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); y++)
        for (int x = r.left(); x <= r.right(); x++) {
            const QColor p = image.pixelColor(x, y);
            if (std::abs(p.red() - c.red()) <= slack && std::abs(p.green() - c.green()) <= slack &&
                std::abs(p.blue() - c.blue()) <= slack)
                n++;
        }
    return n;
}

QImage rendered(RunChart& chart)
{
    QImage image(chart.size(), QImage::Format_RGB32);
    QPainter p(&image);
    chart.render(p);
    return image;
}

void mouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
           Qt::KeyboardModifiers mods = {})
{
    QMouseEvent e(type, QPointF(at), w.mapToGlobal(QPointF(at)), button, held, mods);
    QApplication::sendEvent(&w, &e);
}

void drag(QWidget& w, QPoint from, QPoint to, Qt::MouseButton button)
{
    mouse(w, QEvent::MouseButtonPress, from, button, button);
    mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button);
    mouse(w, QEvent::MouseMove, to, Qt::NoButton, button);
    mouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton);
}

void wheel(QWidget& w, QPoint at, int notches)
{
    QWheelEvent e(QPointF(at), w.mapToGlobal(QPointF(at)), QPoint(), QPoint(0, 120 * notches),
                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &e);
}

void key(QWidget& w, int k)
{
    QKeyEvent e(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

// A chart 1000 x 500 of a run recorded in integer columns.
struct ChartOfARun {
    Recorded r;
    std::unique_ptr<recorded::Run> run;
    RunChart chart;
};

void open(ChartOfARun& c)
{
    ASSERT_NO_FATAL_FAILURE(record(c.r, 1));
    c.run = openRun(c.r.rec.work());
    ASSERT_TRUE(c.run);
    c.chart.resize(1000, 500);
    c.chart.show();
    c.chart.setRun(c.run.get());
}

}  // namespace

TEST(Screenshot, ShowsTheTracesAndAMarkAtEachLossInBothFormats)
{
    for (unsigned wfile : {1u, 0u}) {
        SCOPED_TRACE(wfile ? "integer columns" : "raw bytes");
        Recorded r;
        ASSERT_NO_FATAL_FAILURE(record(r, wfile));
        const std::string png = r.rec.dir.file("shot.png");
        const ProcResult res =
            Proc({binpath("tarvo-view"), r.rec.work(), "--screenshot", png}).wait(60);
        ASSERT_EQ(res.status, 0) << res.err;
        const QImage shot(QString::fromStdString(png));
        ASSERT_EQ(shot.size(), QSize(ViewerWindow::kShotWidth, ViewerWindow::kShotHeight));

        // Where the chart puts things: the same window in this process.
        ViewerWindow w;
        ASSERT_NO_FATAL_FAILURE(openWindow(w, r.rec.work()));
        RunChart& c = w.chart();
        ASSERT_EQ(w.run()->count(), kRecords);
        auto inShot = [&](QPoint p) { return c.mapTo(&w, p); };
        const QRect plot(inShot(c.plotRect().topLeft()), c.plotRect().size());
        for (int t = 0; t < 6; t++)
            EXPECT_GT(pixelsLike(shot, plot, c.traceColour(t)), 200) << "Ch " << t + 1;

        // The row of marks: the loss's colour under each gap (598-600 ms and
        // 1198-1200 ms), and nowhere else.
        const int y = inShot(c.marksRect().center()).y();
        std::vector<int> expected;
        for (double gap : {599000.0, 1199000.0})
            expected.push_back(inShot(QPoint(int(std::floor(c.xOf(gap))), 0)).x());
        for (int x : expected)
            EXPECT_EQ(shot.pixelColor(x, y), c.lossColour()) << "x " << x;
        // The silence that run.json tells of, at the end of the last record.
        EXPECT_EQ(shot.pixelColor(inShot(QPoint(int(std::floor(c.xOf(kEnd))), 0)).x(), y),
                  c.silenceColour());
        for (int x = plot.left(); x <= plot.right(); x++) {
            if (shot.pixelColor(x, y) == c.lossColour()) {
                EXPECT_TRUE(std::abs(x - expected[0]) <= 6 || std::abs(x - expected[1]) <= 6)
                    << "x " << x;
            }
        }
    }
}

TEST(Screenshot, UnreadableInputGetsAMessageAndAFailingStatus)
{
    TempDir dir;
    std::filesystem::create_directories(dir.file("empty"));
    std::filesystem::create_directories(dir.file("bad"));
    std::ofstream(dir.file("bad/data.txt")) << "1,2,3\n4,x,6\n";
    struct Case {
        const char* what;
        std::string path, says;
    } cases[] = {
        {"a path that does not exist", dir.file("missing"), dir.file("missing")},
        {"a folder without a data file", dir.file("empty"), dir.file("empty")},
        {"a line that is not a record", dir.file("bad"), "line 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string png = dir.file("shot.png");
        const ProcResult res = Proc({binpath("tarvo-view"), c.path, "--screenshot", png}).wait(60);
        EXPECT_NE(res.status, 0);
        EXPECT_EQ(res.err.rfind("tarvo-view: ", 0), 0u) << res.err;
        EXPECT_NE(res.err.find(c.says), std::string::npos) << res.err;
        EXPECT_FALSE(std::filesystem::exists(png));
    }
}

TEST(Chart, WheelDragKeysAndABoxMoveTheViewAsComputed)
{
    ChartOfARun run;
    ASSERT_NO_FATAL_FAILURE(open(run));
    RunChart& chart = run.chart;
    EXPECT_EQ(chart.span(), (Span{0, kEnd}));
    const QRect plot = chart.plotRect();

    // One notch in at a quarter of the plot: 0.8 of the width, the time under
    // the pointer where it was.
    const QPoint quarter(plot.left() + plot.width() / 4, plot.center().y());
    const double t = chart.timeAt(quarter.x());
    wheel(chart, quarter, 1);
    const double w = 0.8 * kEnd;
    const double from = t - t / kEnd * w;
    EXPECT_NEAR(chart.span().from, from, 1e-6);
    EXPECT_NEAR(chart.span().to, from + w, 1e-6);
    EXPECT_NEAR(chart.timeAt(quarter.x()), t, 1e-6);

    // A drag 100 pixels to the left shows 100 pixels' worth later.
    const double step = 100 * w / plot.width();
    drag(chart, plot.center(), plot.center() - QPoint(100, 0), Qt::LeftButton);
    EXPECT_NEAR(chart.span().from, from + step, 1e-6);
    EXPECT_NEAR(chart.span().width(), w, 1e-6);

    // Keys: a tenth of the view, a whole view (stopping at the end), the
    // whole run.
    key(chart, Qt::Key_Left);
    EXPECT_NEAR(chart.span().from, from + step - w / 10, 1e-6);
    key(chart, Qt::Key_PageDown);
    EXPECT_EQ(chart.span(), (Span{kEnd - w, kEnd}));
    key(chart, Qt::Key_Home);
    EXPECT_EQ(chart.span(), (Span{0, kEnd}));
    EXPECT_TRUE(chart.showsWholeRun());

    // A box drawn with the right button: its times, and where it is tall
    // enough, its values.
    const QPoint a(plot.left() + 200, plot.top() + 100), b(plot.left() + 500, plot.top() + 300);
    const double t0 = chart.timeAt(a.x()), t1 = chart.timeAt(b.x() + 1);
    auto valueAt = [&](int y) { return 4095.0 * (plot.bottom() - y) / (plot.height() - 1); };
    const double v0 = valueAt(b.y()), v1 = valueAt(a.y());
    drag(chart, a, b, Qt::RightButton);
    EXPECT_NEAR(chart.span().from, t0, 1e-6);
    EXPECT_NEAR(chart.span().to, t1, 1e-6);
    EXPECT_NEAR(chart.valueFrom(), v0, 1e-6);
    EXPECT_NEAR(chart.valueTo(), v1, 1e-6);
    // A flat box (Ctrl and the left button) zooms the times alone.
    const QPoint c(plot.left() + 10, plot.top() + 20), d(plot.left() + 90, plot.top() + 23);
    const double u0 = chart.timeAt(c.x()), u1 = chart.timeAt(d.x() + 1);
    ASSERT_GT(u1 - u0, 8 * kPeriod);  // wider than the narrowest view
    mouse(chart, QEvent::MouseButtonPress, c, Qt::LeftButton, Qt::LeftButton, Qt::ControlModifier);
    mouse(chart, QEvent::MouseMove, d, Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
    mouse(chart, QEvent::MouseButtonRelease, d, Qt::LeftButton, Qt::NoButton);
    EXPECT_NEAR(chart.span().from, u0, 1e-6);
    EXPECT_NEAR(chart.span().to, u1, 1e-6);
    EXPECT_NEAR(chart.valueFrom(), v0, 1e-6);

    // Down to single records: no narrower than 8 periods, then End.
    wheel(chart, plot.center(), 60);
    EXPECT_NEAR(chart.span().width(), 8 * kPeriod, 1e-6);
    key(chart, Qt::Key_End);
    EXPECT_EQ(chart.span(), (Span{kEnd - 8 * kPeriod, kEnd}));
    // A double click: the whole run, all its values.
    mouse(chart, QEvent::MouseButtonDblClick, plot.center(), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(chart.span(), (Span{0, kEnd}));
    EXPECT_EQ(chart.valueTo() - chart.valueFrom(), 4095);
}

TEST(Chart, TheReadoutGivesTheRecordItsTimeAndValuesUnderThePointer)
{
    ChartOfARun run;
    ASSERT_NO_FATAL_FAILURE(open(run));
    RunChart& chart = run.chart;
    const Recorded& r = run.r;
    ASSERT_GT(chart.plotRect().width(), 850);
    ASSERT_LT(chart.plotRect().width(), 1000);
    const int y = chart.plotRect().center().y();
    // Before, at and after each loss, the first and the last: the view 100
    // records wide about the record (9 pixels a record), the pointer in the
    // middle of its period; a loss or silence within 5 pixels is told too
    // (the board fell silent after the last record, and the run ended so).
    const struct {
        uint64_t k;
        double us;
        std::string mark;
    } cases[] = {
        {0, 0, ""},
        {150, 300000, ""},
        {298, 596000, "1 record lost before record 300"},
        {299, 600000, "1 record lost before record 300"},
        {598, 1200000, "1 record lost before record 599"},
        {697, 1398000, "silence after record 698, from 20"},
    };
    for (const auto& [k, us, mark] : cases) {
        SCOPED_TRACE("record " + std::to_string(k));
        ASSERT_EQ(timeOf(k), us);
        chart.setSpan({us - 50 * kPeriod, us + 50 * kPeriod});
        const RunChart::Readout got = chart.readoutAt(QPoint(int(chart.xOf(us + kPeriod / 2)), y));
        ASSERT_TRUE(got.valid);
        EXPECT_EQ(got.record, k);
        EXPECT_EQ(got.timeUs, uint64_t(us));
        const std::vector<int> want = numbers(r.sent[k]);  // 6 channels, d1..d4, counter
        ASSERT_EQ(want.size(), 11u);
        for (int ch = 0; ch < 6; ch++)
            EXPECT_EQ(got.values.ch[ch], want[size_t(ch)]) << "Ch " << ch + 1;
        for (unsigned d = 0; d < 4; d++)
            EXPECT_EQ(int(got.values.line(d)), want[6 + d]) << "D" << d + 1;
        EXPECT_EQ(got.values.counter, want[10]);
        if (mark.empty())
            EXPECT_EQ(got.mark.toStdString(), "");
        else
            EXPECT_TRUE(got.mark.startsWith(QString::fromStdString(mark)))
                << got.mark.toStdString();
        EXPECT_NE(chart.readoutText(got).indexOf(QString("record %1").arg(k + 1)), -1);
    }
    // The silence: from when run.json says it began to the end of the run.
    chart.setSpan({kEnd - 100 * kPeriod, kEnd});
    const RunChart::Readout last = chart.readoutAt(QPoint(int(chart.xOf(kEnd - kPeriod / 2)), y));
    EXPECT_TRUE(last.mark.endsWith("to the end of the run")) << last.mark.toStdString();
    // In the gap of a loss: the loss, with the record after it.
    chart.setSpan({550000, 650000});
    const RunChart::Readout gap = chart.readoutAt(QPoint(int(chart.xOf(599000)), y));
    EXPECT_EQ(gap.mark.toStdString(), "1 record lost before record 300");
    // Outside the plot: nothing.
    EXPECT_FALSE(chart.readoutAt(QPoint(chart.plotRect().left() - 5, y)).valid);
}

TEST(Chart, AClickOnTheLegendHidesATraceAndAnotherShowsIt)
{
    ChartOfARun run;
    ASSERT_NO_FATAL_FAILURE(open(run));
    RunChart& chart = run.chart;
    ASSERT_EQ(chart.traces(), 10);  // Ch 1-6, D1-D4
    const QRect plot = chart.plotRect();
    const QRect d1(chart.lanesRect().left(), chart.lanesRect().top(), chart.lanesRect().width(),
                   chart.lanesRect().height() / 4);
    const QColor ch3 = chart.traceColour(2), lines = chart.traceColour(6);
    ASSERT_GT(pixelsLike(rendered(chart), plot, ch3), 200);
    ASSERT_GT(pixelsLike(rendered(chart), d1, lines, 10), 200);

    auto click = [&](int t) {
        mouse(chart, QEvent::MouseButtonPress, chart.legendRect(t).center(), Qt::LeftButton,
              Qt::LeftButton);
        mouse(chart, QEvent::MouseButtonRelease, chart.legendRect(t).center(), Qt::LeftButton,
              Qt::NoButton);
    };
    click(2);
    EXPECT_FALSE(chart.traceVisible(2));
    EXPECT_EQ(pixelsLike(rendered(chart), plot, ch3), 0);
    click(6);
    EXPECT_FALSE(chart.traceVisible(6));
    EXPECT_EQ(pixelsLike(rendered(chart), d1, lines, 10), 0);
    EXPECT_GT(pixelsLike(rendered(chart), plot, chart.traceColour(0)), 200);  // the others stay

    click(2);
    EXPECT_TRUE(chart.traceVisible(2));
    EXPECT_GT(pixelsLike(rendered(chart), plot, ch3), 200);
}

TEST(Window, FollowsARunThatIsStillBeingWritten)
{
    Recorded r;
    ASSERT_NO_FATAL_FAILURE(record(r, 1));
    const std::vector<std::string> lines = splitlines(r.rec.data());
    ASSERT_EQ(lines.size(), kRecords);
    // A copy of the run with its first 200 records, as a run in progress.
    TempDir dir;
    std::filesystem::copy_file(r.rec.work() + "/config.txt", dir.file("config.txt"));
    auto append = [&](size_t from, size_t to, const std::string& tail = "") {
        std::ofstream out(dir.file("data.txt"), std::ios::binary | std::ios::app);
        for (size_t i = from; i < to; i++)
            out << lines[i] << "\n";
        out << tail;
    };
    append(0, 200);

    ViewerWindow w;
    ASSERT_NO_FATAL_FAILURE(openWindow(w, dir.path()));
    RunChart& c = w.chart();
    EXPECT_EQ(w.run()->count(), 200u);
    EXPECT_EQ(c.span(), (Span{0, timeOf(199) + kPeriod}));

    // Records come: within the follow's look once a second, the count and
    // the axis grow, and the whole run stays in view with its loss.
    append(200, 500);
    ASSERT_TRUE(waitFor([&] { return w.run()->count() == 500; }, 30));
    EXPECT_EQ(c.span(), (Span{0, 1002000}));
    ASSERT_EQ(c.marks().size(), 1u);
    EXPECT_EQ(c.marks()[0].toUs, 600000);
    EXPECT_NE(w.summary().text().indexOf("500 records"), -1) << w.summary().text().toStdString();

    // A view at the end stays at the end; half a line is not a record yet.
    c.setSpan({1002000 - 100 * kPeriod, 1002000});
    append(500, 600, lines[600].substr(0, 5));
    w.refresh();
    EXPECT_EQ(w.run()->count(), 600u);
    EXPECT_EQ(c.span(), (Span{timeOf(599) + kPeriod - 100 * kPeriod, timeOf(599) + kPeriod}));
    EXPECT_FALSE(c.showsWholeRun());
    {
        std::ofstream out(dir.file("data.txt"), std::ios::binary | std::ios::app);
        out << lines[600].substr(5) << "\n";
    }
    w.refresh();
    EXPECT_EQ(w.run()->count(), 601u);
    EXPECT_EQ(c.span().to, timeOf(600) + kPeriod);
    ASSERT_EQ(c.marks().size(), 2u);
    EXPECT_EQ(c.marks()[1].toUs, 1200000);
}
