// The live view on the real panel with the program's own callbacks, offscreen,
// in runs on the virtual board: the chart gets the records of every channel
// (in both file formats), the run status agrees with data.txt, the period
// hint is the record cost of the settings on the panel, and the port list is
// read again on a refresh.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "board_model.h"
#include "buildconf.h"
#include "chart.h"
#include "com_table.h"
#include "../panel/fresh_run.h"
#include "../panel/real_window.h"
#include "../panel/window_user.h"
#include "ctrlids.h"
#include "hint.h"
#include "live_feed.h"
#include "pixels.h"
#include "pty.h"
#include "reccost.h"
#include "run_status.h"
#include "runtime.h"
#include "serial_virtual.h"
#include "state.h"

using tarvo::rt::ChartColumn;
using tarvo::rt::ChartColumns;
using tarvo::rt::StripChart;

namespace {

constexpr int kBoardPort = 1;  // --com 1=virtual

struct Settings {
    unsigned num_ch = 6, baudr = 115200, di = 1, SampPer = 2000, digf = 1, rec_c = 1, wfile = 1;
};

template <typename T>
T* child(const char* name)
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == name)
            if (T* w = qobject_cast<T*>(top))
                return w;
        if (T* w = top->findChild<T*>(name))
            return w;
    }
    return nullptr;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t nl = text.find('\n', at);
        out.push_back(text.substr(at, nl - at));
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    return out;
}

class LiveView : public ::testing::Test {
protected:
    void open(std::vector<std::string> extra = {})
    {
        ASSERT_NO_FATAL_FAILURE(realwin::startRunTime(std::move(extra)));
        ASSERT_NO_FATAL_FAILURE(realwin::showWindow(panel));
    }

    void TearDown() override
    {
        if (panel > 0)
            DiscardPanel(panel);
        fresh();
        tarvo::rt::resetVirtualBoard(kBoardPort);
    }

    // What a new process starts with: one run per process, and these tests
    // make several.
    static void fresh() { freshRunState(); }

    void put(const Settings& s)
    {
        const std::pair<int, unsigned> values[] = {
            {PANEL_COMPORT, kBoardPort}, {PANEL_NUMCH, s.num_ch},   {PANEL_BAUD, s.baudr},
            {PANEL_STATUSBYTE, s.di},    {PANEL_PERIOD, s.SampPer}, {PANEL_DIGITAL, s.digf},
            {PANEL_COUNTER, s.rec_c},    {PANEL_FORMAT, s.wfile},
        };
        for (auto [id, v] : values)
            ASSERT_EQ(SetCtrlVal(panel, id, v), UIE_NO_ERROR) << id;
    }

    // A run as a user makes it: Start, `seconds` of recording, then the
    // button bound to `end` (quit or stop). `during` runs inside the event
    // loop `at` seconds into the recording. Returns data.txt.
    std::string run(const Settings& s, double seconds, const char* end = "quit",
                    std::function<void()> during = {}, double at = 0)
    {
        fresh();
        put(s);
        QPushButton* start = buttonFor("start");
        QPushButton* last = buttonFor(end);
        EXPECT_NE(start, nullptr);
        EXPECT_NE(last, nullptr);
        if (!start || !last)
            return {};
        const auto here = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        QTimer::singleShot(0, start, [=] {
            start->click();  // returns with the run going (the handshake takes about a second)
            if (during)
                QTimer::singleShot(int(at * 1000), start, during);
            QTimer::singleShot(int(seconds * 1000), last, [last] { last->click(); });
        });
        // Quit during a run asks first: quit without the report.
        QuitWithoutTheReport answer;
        // Against a hang: the run would end long before.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QuitUserInterface(-77); });
        guard.start(int(seconds * 1000) + 30000);
        EXPECT_EQ(RunUserInterface(), 0);
        CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
        std::filesystem::current_path(here);
        EXPECT_NE(functionId, 0) << "no run was started";
        EXPECT_EQ(fout, nullptr) << "the data file was left open";
        return readfile(dir.file("data.txt"));
    }

    StripChart* chart() { return child<StripChart>("liveChart"); }

    // The chart's picture, as the window would show it.
    QImage picture()
    {
        StripChart* c = chart();
        return c ? c->grab().toImage() : QImage();
    }

    int panel = 0;
    TempDir dir;
};

const QColor kCh1(0x1f, 0x77, 0xb4), kCh6(0x8c, 0x56, 0x4b), kCh7(0xe3, 0x77, 0xc2);

// The records the runs handed to the chart's feed since `before`, and those
// the feed had no room for (so the chart never saw them).
struct Handed {
    std::uint64_t offered = 0, dropped = 0;
    bool operator==(const Handed&) const = default;
};

Handed handedSince(const Handed& before = {})
{
    const tarvo::rt::ChartFeed& feed = tarvo::rt::chartFeed();
    return {feed.offered() - before.offered, feed.dropped() - before.dropped};
}

// The chart's newest column ends with the board's record: the values and the
// status byte (0 without one) the board model sends for that record number.
void expectTheBoardsLastRecord(const ChartColumns& chart, unsigned channels, bool status)
{
    const ChartColumn* newest = chart.column(chart.latest());
    ASSERT_NE(newest, nullptr);
    const std::uint32_t n = chart.lastIndex();
    for (unsigned ch = 0; ch < channels; ++ch)
        EXPECT_EQ(newest->last[ch], tarvo::board::sampleValue(ch, n)) << "channel " << ch + 1;
    EXPECT_EQ(newest->linesLast, status ? tarvo::board::statusByte(n) : 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// The chart

TEST_F(LiveView, TheChartDrawsTheBoardsRecordsAndAResizeKeepsThem)
{
    open();
    ASSERT_NE(chart(), nullptr);
    ChartColumns midway;
    QImage image, wider;
    run(
        {}, 1.6, "quit",
        [&] {
            midway = chart()->columns();
            image = picture();
            // A resize keeps what the chart has shown.
            QWidget* window = chart()->window();
            window->resize(window->width() + 300, window->height() + 100);
            QApplication::sendPostedEvents();
            wider = picture();
        },
        1.2);

    // Midway through the run the chart has records, and they are the board's
    // (the records of the whole run: the table of the next test).
    ASSERT_GT(midway.lastIndex(), 100u);  // about 600 by then
    expectTheBoardsLastRecord(midway, 6, true);
    // Drawn: the first and the sixth trace (a slow ramp) are on the picture,
    // a seventh is not.
    EXPECT_GT(pixelsOf(image, kCh1), 200);
    EXPECT_GT(pixelsOf(image, kCh6), 50);
    EXPECT_LT(pixelsOf(image, kCh7), 10);
    EXPECT_GT(wider.width(), image.width());
    EXPECT_GT(pixelsOf(wider, kCh1), pixelsOf(image, kCh1) / 2);
    EXPECT_GT(pixelsOf(wider, kCh6), 50);
}

// Pause during a run on the virtual board: the picture holds while the run
// records on, into data.txt and into the chart's columns, so Resume shows now.
TEST_F(LiveView, PauseHoldsThePictureWhileTheRunRecordsOn)
{
    open();
    ASSERT_NE(chart(), nullptr);
    QImage held, later;
    std::uint32_t pausedAt = 0, takenLater = 0;
    bool resumedShowsNow = false;
    const std::string data = run(
        {}, 3.0, "quit",
        [&] {
            QTest::mouseClick(chart()->findChild<QToolButton*>("chartPause"), Qt::LeftButton);
            pausedAt = chart()->columns().lastIndex();
            held = picture();
            QTimer::singleShot(1000, chart(), [&] {
                later = picture();
                chart()->drain();
                takenLater = chart()->columns().lastIndex();
                QTest::keyClick(chart(), Qt::Key_P);  // resume
                QTimer::singleShot(300, chart(), [&] {
                    resumedShowsNow = !chart()->paused() && picture() != held;
                });
            });
        },
        1.2);
    ASSERT_FALSE(held.isNull());
    EXPECT_EQ(later, held) << "the paused picture holds";
    EXPECT_GT(takenLater, pausedAt + 250) << "a second of records (about 500) taken while paused";
    EXPECT_TRUE(resumedShowsNow);
    // Every record is in the file, those of the pause too.
    EXPECT_EQ(lines(data).size(), tot_data.load());
    EXPECT_GE(tot_data.load(), takenLater);
}

// At up to 1000 records a second the chart takes every record, in both file
// formats, with the digital lines where the file holds them.
TEST_F(LiveView, EveryRecordIsChartedInEitherFormatWithOrWithoutDigitalLines)
{
    open();
    ASSERT_NE(chart(), nullptr);
    struct Case {
        Settings s;
        bool digital;  // the lines are charted where the file holds them
    };
    const Case cases[] = {
        {{}, true},                              // 6 channels in columns with the lines
        {{3, 57600, 1, 2000, 0, 0, 0}, true},    // raw bytes: the status byte is in the file
        {{3, 115200, 1, 2000, 0, 1, 1}, false},  // columns without the lines
        {{1, 115200, 0, 1000, 1, 1, 1}, false},  // no status byte at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s.num_ch << " ch, status " << c.s.di << ", format "
                                        << c.s.wfile << ", lines " << c.s.digf);
        const Handed before = handedSince();
        const std::string data = run(c.s, 0.8);
        chart()->drain();
        const ChartColumns& got = chart()->columns();
        EXPECT_EQ(got.layout().channels, int(c.s.num_ch));
        EXPECT_EQ(got.layout().digital, c.digital);
        EXPECT_EQ(got.layout().periodUs, c.s.SampPer);
        ASSERT_GT(got.lastIndex(), 50u);
        EXPECT_EQ(got.lastIndex(), tot_data.load());
        EXPECT_EQ(handedSince(before), (Handed{tot_data.load(), 0}));
        expectTheBoardsLastRecord(got, c.s.num_ch, c.s.di != 0);
        EXPECT_EQ(tarvo::rt::chartFeed().skip(), 0);
        if (c.s.wfile == 0)
            EXPECT_EQ(data.size(), tot_data.load() * reclen(c.s.num_ch, c.s.di));
        else
            EXPECT_EQ(lines(data).size(), tot_data.load());
        tarvo::rt::resetVirtualBoard(kBoardPort);
    }
}

TEST_F(LiveView, AFloodIsThinnedForTheChartNeverForTheFile)
{
    open();
    ASSERT_NE(chart(), nullptr);
    tarvo::board::Faults flood;
    flood.flood = true;
    tarvo::rt::resetVirtualBoard(kBoardPort, flood);
    int ticks = 0;
    int thinned = 0;  // the most records passed over, seen while the flood lasts
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&ticks, &thinned] {
        ++ticks;
        thinned = std::max(thinned, tarvo::rt::chartFeed().skip());
    });
    beat.start(50);
    const Handed before = handedSince();
    const std::string data = run({1, 115200, 0, 2000, 0, 0, 1}, 1.2);
    beat.stop();
    chart()->drain();

    const unsigned records = tot_data.load();
    ASSERT_GT(records, 200000u) << "the virtual board did not flood";
    EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), long(records));
    // (Once the flood has ended the chart may take every record again.)
    EXPECT_GT(thinned, 0);
    const Handed got = handedSince(before);
    EXPECT_GT(got.offered - got.dropped, 100u);
    // A frame takes at most a ring's worth, however fast the board floods:
    // a few hundred thousand records in this run's frames, against millions.
    EXPECT_LT(got.offered - got.dropped, records / 4);
    // The window stayed responsive (a bound against a stall, not a timing).
    EXPECT_GE(ticks, 6);
}

TEST_F(LiveView, WithNoChartTheRunHandsNothingToTheWindow)
{
    open({"--no-chart"});
    EXPECT_EQ(chart(), nullptr);
    QLabel* off = child<QLabel>("liveChartOff");
    ASSERT_NE(off, nullptr);
    EXPECT_TRUE(off->text().contains("--no-chart"));
    const auto offered = tarvo::rt::chartFeed().offered();
    const std::string data = run({}, 0.8);
    EXPECT_GT(lines(data).size(), 200u);
    EXPECT_EQ(lines(data).size(), tot_data.load());
    EXPECT_EQ(tarvo::rt::chartFeed().offered(), offered);
}

// ---------------------------------------------------------------------------
// The run status

TEST_F(LiveView, TheStatusAgreesWithTheDataFileAndTheReportAtTheEnd)
{
    open();
    QLabel* records = child<QLabel>("statusRecords");
    QLabel* rate = child<QLabel>("statusRate");
    QLabel* elapsed = child<QLabel>("statusElapsed");
    QLabel* lost = child<QLabel>("statusLost");
    QLabel* file = child<QLabel>("statusFile");
    ASSERT_TRUE(records && rate && elapsed && lost && file);

    std::vector<qulonglong> seen;  // the records label, sampled during the run
    std::function<void()> sample = [&] {
        seen.push_back(records->property("value").toULongLong());
        if (seen.size() < 4)
            QTimer::singleShot(300, records, sample);
    };
    const std::string data = run({}, 1.8, "stop", sample, 0.5);
    QTest::qWait(3 * tarvo::rt::RunStatusView::kPollMs);  // the final reading

    // Updated during the run, several times a second.
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_GT(seen[0], 0u);
    EXPECT_LT(seen[0], seen[1]);
    EXPECT_LT(seen[1], seen[2]);
    EXPECT_LT(seen[2], seen[3]);

    const auto rows = lines(data);
    const qulonglong n = rows.size();
    EXPECT_EQ(records->property("value").toULongLong(), n);
    EXPECT_EQ(n, tot_data.load());
    EXPECT_EQ(records->text(), QLocale(QLocale::English).toString(n) + " records");
    EXPECT_EQ(lost->property("value").toULongLong(), 0u);
    EXPECT_EQ(lost->text(), "0 lost");
    EXPECT_EQ(file->property("value").toLongLong(), qlonglong(data.size()));
    EXPECT_TRUE(file->text().startsWith("data.txt ")) << file->text().toStdString();
    const double seconds = elapsed->property("value").toDouble();
    EXPECT_GT(seconds, 1.5);
    EXPECT_LT(seconds, 30);
    EXPECT_EQ(elapsed->text(), "0:00:0" + QString::number(int(seconds)));
    EXPECT_NEAR(rate->property("value").toDouble(), n / seconds, 1e-6 * n);
    EXPECT_NEAR(rate->property("value").toDouble(), 500, 60);  // one record every 2000 us

    // The report counts what the status showed.
    const auto report = lines(readfile(dir.file("config.txt")));
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back(), "The number of samples for every channel is:  " + std::to_string(n));
}

TEST_F(LiveView, TheStatusCountsTheRecordsTheBoardLost)
{
    open();
    tarvo::board::Faults faults;
    faults.loseRecordEvery = 40;
    tarvo::rt::resetVirtualBoard(kBoardPort, faults);
    const std::string data = run({4, 115200, 1, 1200, 1, 1, 1}, 1.2);
    QTest::qWait(3 * tarvo::rt::RunStatusView::kPollMs);

    // Records 40, 80, ... never came: the last record received, read from its
    // counter column and the count of records, tells how many are missing.
    const auto rows = lines(data);
    const unsigned received = rows.size();
    ASSERT_GT(received, 400u);
    unsigned last = received;
    while (last - last / 40 != received || last % 40 == 0)
        ++last;
    EXPECT_EQ(std::stoul(rows.back().substr(rows.back().rfind(',') + 1)), last % 16);
    const unsigned missing = last / 40;
    EXPECT_EQ(lost_data.load(), missing);
    EXPECT_EQ(child<QLabel>("statusLost")->property("value").toULongLong(), missing);
    EXPECT_EQ(child<QLabel>("statusRecords")->property("value").toULongLong(), received);
    QLineEdit* message = child<QLineEdit>("message");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), " WARNING: data loss...Sampling continue!");
}

// ---------------------------------------------------------------------------
// The period hint

namespace {

// The hint's range and verdict; where the line is slower than the board's
// table, a note on the line follows them (the period-hint table of the
// controls tests has its texts).
std::string hintFor(unsigned cost, unsigned period)
{
    std::string verdict;
    if (period < cost)
        verdict = ": too short";
    else if ((period - cost) / 10 > 0xFFFFFF)
        verdict = ": too long";
    // 2^24 steps of 10 us past the cost, and the last step's 9 us.
    char longest[32];
    std::snprintf(longest, sizeof longest, "%.1f s", (cost + 167772159.0) / 1e6);
    return std::to_string(cost) + " \xC2\xB5s to " + longest + verdict;
}

// The hint's text without the line's note.
std::string withoutLineNote(const QLabel* hint)
{
    const std::string text = hint->text().toStdString();
    return text.substr(0, text.find("; at "));
}

}  // namespace

TEST_F(LiveView, TheHintIsTheRecordCostOfTheSettingsAndSaysWhatStartWillSayOfThePeriod)
{
    open();
    QLabel* hint = child<QLabel>("periodHint");
    ASSERT_NE(hint, nullptr);
    struct Case {
        unsigned ch, baud, di, period, cost;
        int verdict;  // Start's own check of the same settings
    };
    std::vector<Case> cases = {
        // The table's extremes and the fastest rows of each rate.
        {1, 115200, 0, 2000, 311, 0},
        {8, 9600, 1, 2000, 4441, -1},
        {8, 115200, 1, 2000, 1958, 0},
        {8, 57600, 1, 2000, 3219, -1},
        {6, 115200, 1, 2000, 1505, 0},
        {2, 57600, 0, 2000, 779, 0},
        {7, 38400, 0, 2000, 3771, -1},
        {5, 250000, 1, 2000, 3047, -1},
        // About the shortest and longest period: 2^24 steps of 10 us past the cost.
        {8, 115200, 1, 1957, 1958, -1},
        {8, 115200, 1, 1958, 1958, 0},
        {8, 115200, 1, 1967, 1958, 0},
        {8, 115200, 1, 1958 + 167772159, 1958, 0},
        {8, 115200, 1, 1958 + 167772160, 1958, -2},
        {8, 115200, 1, 4294967295u, 1958, -2},
    };
    // And every setting of the panel's rates.
    for (unsigned baud : {115200u, 57600u, 38400u, 19200u, 9600u})
        for (unsigned ch = 1; ch <= 8; ++ch)
            for (unsigned di = 0; di <= 1; ++di)
                cases.push_back({ch, baud, di, 2000, reccost(ch, di, baud),
                                 reccost(ch, di, baud) > 2000 ? -1 : 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.ch << "/" << c.baud << "/" << c.di << " at " << c.period);
        ASSERT_EQ(reccost(c.ch, c.di, c.baud), c.cost);
        SetCtrlVal(panel, PANEL_NUMCH, c.ch);
        SetCtrlVal(panel, PANEL_BAUD, c.baud);
        SetCtrlVal(panel, PANEL_STATUSBYTE, c.di);
        SetCtrlVal(panel, PANEL_PERIOD, c.period);
        const std::string text = hint->text().toStdString();
        EXPECT_EQ(withoutLineNote(hint), hintFor(c.cost, c.period));
        EXPECT_EQ(buildconf(), c.verdict);
        EXPECT_EQ(text.find("too short") != std::string::npos, c.verdict == -1);
        EXPECT_EQ(text.find("too long") != std::string::npos, c.verdict == -2);
    }
}

TEST_F(LiveView, TheHintFollowsTheUserAndLeavesTheSettingsToStart)
{
    open();
    num_ch = baudr = di = SampPer = 0;  // as before any Start
    QLabel* hint = child<QLabel>("periodHint");
    auto* channels = child<QSpinBox>("channels");
    auto* baud = child<QComboBox>("baudRate");
    auto* status = child<QCheckBox>("statusByte");
    ASSERT_TRUE(hint && channels && baud && status);
    EXPECT_EQ(hint->text().toStdString(),
              hintFor(1505, 2000));  // the panel's defaults: 6, 115200, status

    channels->setFocus();
    QTest::keyClick(channels, Qt::Key_Up);
    QTest::keyClick(channels, Qt::Key_Up);
    EXPECT_EQ(hint->text().toStdString(), hintFor(1958, 2000));
    QTest::mouseClick(status, Qt::LeftButton, {}, QPoint(5, status->height() / 2));
    EXPECT_FALSE(status->isChecked());
    EXPECT_EQ(hint->text().toStdString(), hintFor(1847, 2000));
    // A typed rate counts as it is typed, before Enter.
    baud->lineEdit()->selectAll();
    QTest::keyClicks(baud->lineEdit(), "9600");
    EXPECT_EQ(withoutLineNote(hint), hintFor(reccost(8, 0, 9600), 2000));
    QTest::keyClick(baud->lineEdit(), Qt::Key_Backspace);  // "960": any other rate
    EXPECT_EQ(withoutLineNote(hint), hintFor(reccost(8, 0, 960), 2000));
    // 12 bytes of 11 bit times at 960 bit/s: 132 / 960 s.
    EXPECT_EQ(hint->text().toStdString().substr(withoutLineNote(hint).size()),
              "; at 960 bit/s the line needs 137.5 ms");

    // The settings controls' callbacks stayed inert: the program's settings
    // are still those before any Start.
    EXPECT_EQ((std::vector<unsigned>{num_ch, baudr, di, SampPer}),
              (std::vector<unsigned>{0, 0, 0, 0}));
}

TEST_F(LiveView, AHintGoesOnlyOnATextControlOfTheLoadedPanel)
{
    auto fixedHint = [](int, char* text, int size) {
        std::snprintf(text, size, "%s",
                      "a very long hint that is cut at the size the runtime gives");
        return 0;
    };
    auto noHint = [](int, char*, int) { return -1; };
    open();
    EXPECT_EQ(InstallHintFunction(panel + 100, PANEL_PERIODHINT, periodhint), UIE_BAD_PANEL);
    EXPECT_EQ(InstallHintFunction(panel, 999, periodhint), UIE_BAD_CONTROL);
    EXPECT_EQ(InstallHintFunction(panel, PANEL_NUMCH, periodhint), UIE_BAD_TYPE);
    QLabel* hint = child<QLabel>("periodHint");
    EXPECT_EQ(InstallHintFunction(panel, PANEL_PERIODHINT, fixedHint), UIE_NO_ERROR);
    EXPECT_TRUE(hint->text().startsWith("a very long hint"));
    EXPECT_EQ(InstallHintFunction(panel, PANEL_PERIODHINT, noHint), UIE_NO_ERROR);
    EXPECT_EQ(hint->text(), "");
    EXPECT_EQ(InstallHintFunction(panel, PANEL_PERIODHINT, periodhint), UIE_NO_ERROR);
    EXPECT_FALSE(hint->text().isEmpty());
    EXPECT_EQ(InstallHintFunction(panel, PANEL_PERIODHINT, nullptr), UIE_NO_ERROR);
    SetCtrlVal(panel, PANEL_NUMCH, 1);
    EXPECT_EQ(hint->text(), "");  // removed: nothing computes it any more
}

// ---------------------------------------------------------------------------
// The port list

TEST_F(LiveView, ThePortListShowsWhatTheMachineHasAndIsReadAgainOnRefresh)
{
    open();
    auto* box = child<QComboBox>("comPort");
    QToolButton* refresh = child<QToolButton>("refreshPorts");
    ASSERT_TRUE(box && refresh);

    // Every port of the list, with its number and its device or description.
    auto check = [box] {
        const auto ports = tarvo::rt::listPorts();
        ASSERT_EQ(box->count(), int(ports.size()));
        for (int i = 0; i < box->count(); ++i) {
            const auto& p = ports[i];
            EXPECT_EQ(box->itemData(i).toInt(), p.number);
            const QString text = box->itemText(i);
            EXPECT_TRUE(text.startsWith(QString("COM%1  ").arg(p.number))) << text.toStdString();
            if (p.device != "virtual") {
                EXPECT_TRUE(text.contains(QString::fromStdString(p.device))) << text.toStdString();
            }
            if (!p.description.empty()) {
                EXPECT_TRUE(text.contains(QString::fromStdString(p.description)))
                    << text.toStdString();
            }
        }
    };
    check();
    EXPECT_EQ(box->currentData().toInt(), kBoardPort);
    EXPECT_EQ(box->itemText(box->currentIndex()), "COM1  virtual board");

    // A port that appears is listed after a refresh; the choice stays.
    Pty adapter;
    tarvo::rt::setComDevice(23, adapter.slavePath());
    EXPECT_EQ(box->findData(23), -1);
    QTest::mouseClick(refresh, Qt::LeftButton);
    check();
    ASSERT_GE(box->findData(23), 0);
    EXPECT_TRUE(box->itemText(box->findData(23))
                    .startsWith(QString::fromStdString("COM23  " + adapter.slavePath())));
    unsigned value = 0;
    ASSERT_EQ(GetCtrlVal(panel, PANEL_COMPORT, &value), UIE_NO_ERROR);
    EXPECT_EQ(value, unsigned(kBoardPort));

    // The chosen port goes away: the choice falls back to a listed one.
    ASSERT_EQ(SetCtrlVal(panel, PANEL_COMPORT, 23), UIE_NO_ERROR);
    tarvo::rt::clearComDevices();
    tarvo::rt::setComDevice(kBoardPort, "virtual");
    QTest::mouseClick(refresh, Qt::LeftButton);
    check();
    EXPECT_EQ(box->findData(23), -1);
    ASSERT_EQ(GetCtrlVal(panel, PANEL_COMPORT, &value), UIE_NO_ERROR);
    EXPECT_GE(box->findData(int(value)), 0);
}

TEST_F(LiveView, AMinimizedWindowsStatusWaitsAndShowsTheWholeRunWhenRestored)
{
    open();
    QWidget* window = child<QWidget>("tarvoPanel");
    QLabel* records = child<QLabel>("statusRecords");
    QLabel* elapsed = child<QLabel>("statusElapsed");
    ASSERT_TRUE(window && records && elapsed);

    qulonglong atMinimize = 0;
    QString elapsedAtMinimize;
    const std::string data = run(
        {}, 1.8, "stop",
        [&] {
            atMinimize = records->property("value").toULongLong();
            elapsedAtMinimize = elapsed->text();
            window->showMinimized();
        },
        0.3);
    QTest::qWait(3 * tarvo::rt::RunStatusView::kPollMs);

    // Records came and went to the data file while the labels stood still.
    const qulonglong n = lines(data).size();
    ASSERT_GT(n, 200u);
    EXPECT_TRUE(window->isMinimized());
    EXPECT_EQ(records->property("value").toULongLong(), atMinimize);
    EXPECT_EQ(elapsed->text(), elapsedAtMinimize);

    // Shown again: the ended run, as a window never minimized shows it.
    window->showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::qWait(3 * tarvo::rt::RunStatusView::kPollMs);
    EXPECT_EQ(records->property("value").toULongLong(), n);
    EXPECT_EQ(records->text(), QLocale(QLocale::English).toString(n) + " records");
    EXPECT_NE(elapsed->text(), elapsedAtMinimize);
}
