// The live chart as a user works it, offscreen: the real widget on a feed of
// its own, fed the board model's records as the sampling thread would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QTest>
#include <QToolButton>

#include <cmath>
#include <memory>

#include "board_model.h"
#include "chart.h"
#include "live_feed.h"
#include "pixels.h"
#include "proc.h"
#include "trace_colours.h"

using tarvo::rt::ChartFeed;
using tarvo::rt::StripChart;

namespace {

constexpr int kChannels = 4;

class ChartWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        chart = std::make_unique<StripChart>(feed);
        chart->resize(900, 480);
        chart->show();
        chart->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(chart.get()));
    }

    // A run of `channels` channels (with the digital lines) at `periodUs`,
    // its records 1..`records` taken.
    void run(unsigned periodUs, unsigned records, int channels = kChannels)
    {
        feed.begin(channels, 1, periodUs);
        channels_ = channels;
        send(1, records);
    }

    // Records first..last as the board makes them, then waits for the chart
    // to have taken them.
    void send(unsigned first, unsigned last)
    {
        for (unsigned n = first; n <= last; ++n) {
            unsigned short v[tarvo::rt::kChartChannels] = {};
            for (int ch = 0; ch < channels_; ++ch)
                v[ch] = tarvo::board::sampleValue(unsigned(ch), n);
            feed.record(n, v, tarvo::board::statusByte(n));
        }
        ASSERT_TRUE(settle([&] { return chart->columns().lastIndex() == last; }));
    }

    // Runs the event loop until `pred` holds (30 s at most).
    template <class Pred>
    static bool settle(Pred pred)
    {
        return waitUntil(pred, 30, [] { QTest::qWait(20); });
    }

    // The picture once a frame newer than now has been drawn.
    QImage picture()
    {
        QApplication::processEvents();
        return chart->grab().toImage();
    }

    QColor colourOf(int ch) const
    {
        return tarvo::traceColour(chart->palette(), ch, tarvo::rt::kChartChannels);
    }
    // A legend entry's colour: a channel's, or the digital lines'.
    QColor entryColour(int entry) const
    {
        return entry < tarvo::rt::kChartChannels ? colourOf(entry)
                                                 : tarvo::traceColour(chart->palette(), entry, 0);
    }
    QRect plot() const { return chart->parts().plot; }
    QRect legend() const { return QRect(0, 0, chart->width(), plot().top() - 4); }

    // Where the legend shows trace `ch`'s swatch (a channel's colour in the
    // legend's band); for the digital lines, the left end of their name.
    QPoint swatchOf(int ch)
    {
        const QImage image = picture();
        const QColor c = entryColour(ch);
        const QRect band = legend();
        for (int y = band.top(); y <= band.bottom(); ++y)
            for (int x = band.left(); x < band.right() / 2; ++x)
                if (alike(image.pixelColor(x, y), c))
                    return {x + 3, y};
        return {-1, -1};
    }

    ChartFeed feed;  // the chart's own: the process's feed stays out of it
    std::unique_ptr<StripChart> chart;
    int channels_ = kChannels;
};

}  // namespace

TEST_F(ChartWindow, PauseAndTheKeyFreezeThePictureWhileTheRecordsGoOn)
{
    run(2000, 1000);  // 2 s of run
    QToolButton* pause = chart->findChild<QToolButton*>("chartPause");
    ASSERT_NE(pause, nullptr);
    EXPECT_EQ(pause->text(), "Pause");

    struct Step {
        const char* what;
        bool byKey;  // P, else a click on the button
        bool paused;
        const char* text;
    };
    const Step steps[] = {
        {"a click pauses", false, true, "Resume"},
        {"a click resumes", false, false, "Pause"},
        {"P pauses", true, true, "Resume"},
        {"P resumes", true, false, "Pause"},
    };
    unsigned sent = 1000;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.byKey)
            QTest::keyClick(chart.get(), Qt::Key_P);
        else
            QTest::mouseClick(pause, Qt::LeftButton);
        // The key presses the button, which shows it a moment first.
        ASSERT_TRUE(settle([&] { return chart->paused() == s.paused; }));
        EXPECT_EQ(pause->text(), s.text);
        const QImage before = picture();
        const std::int64_t edge = chart->rightEdge();
        send(sent + 1, sent + 500);  // one more second of records
        sent += 500;
        // The records are taken either way: resume shows now.
        EXPECT_EQ(chart->columns().lastIndex(), sent);
        if (s.paused) {
            const std::uint64_t frames = chart->frames();
            QTest::qWait(300);  // frames that would have come
            EXPECT_EQ(chart->frames(), frames) << "nothing drawn while paused";
            EXPECT_EQ(chart->rightEdge(), edge);
            EXPECT_EQ(picture(), before) << "a paused picture stays as it is";
        } else {
            EXPECT_TRUE(settle([&] { return chart->rightEdge() > edge + 50; }));
            EXPECT_NE(picture(), before);
        }
    }
}

// Each window the chart offers, picked as a user picks it, over two runs:
// 40 s at 20 ms a record, and four records 10 s apart, each a dot of about
// 20 pixels. The window's span of columns over the plot's width, and the
// traces drawn.
TEST_F(ChartWindow, EachTimeWindowShowsTheRunThroughItsOwnColumns)
{
    QComboBox* window = chart->findChild<QComboBox*>("chartWindow");
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->count(), 5);
    EXPECT_EQ(window->currentText(), "5 s") << "the default";
    const struct {
        unsigned periodUs, records;
        int channels;
        int pastPlot;  // pixels of Ch 1 beyond the plot's right edge: half the newest dot
    } runs[] = {{20000, 2000, kChannels, 0}, {10'000'000, 4, 1, 4}};
    struct Case {
        int run;  // 0: 40 s of 2000 records; 1: records at 0, 10, 20 and 30 s
        const char* item;
        double spanS;       // the columns' span; the whole run: 5 s doubled until it holds 40 s
        int pixelsAtLeast;  // of Ch 1's colour; a dot is 8 or more
    };
    const Case cases[] = {
        {0, "30 s", 30, 401},      {0, "2 min", 120, 201},      {0, "10 min", 600, 41},
        {0, "Whole run", 40, 401}, {0, "5 s", 5, 401},          {1, "30 s", 30, 3 * 8},
        {1, "2 min", 120, 4 * 8},  {1, "Whole run", 40, 4 * 8}, {1, "5 s", 5, 8},
    };
    int at = 0, run = -1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "run " << c.run << ", " << c.item);
        const auto& r = runs[c.run];
        if (c.run != run) {
            run = c.run;
            this->run(r.periodUs, r.records, r.channels);
        }
        const int target = window->findText(c.item);
        ASSERT_GE(target, 0);
        while (at != target) {
            QTest::keyClick(window, target > at ? Qt::Key_Down : Qt::Key_Up);
            at += target > at ? 1 : -1;
        }
        EXPECT_EQ(chart->timeWindow(), target);
        const double span = chart->columns().columnUs() * chart->columns().width() / 1e6;
        if (c.spanS == 40)
            // 5 s doubled three times holds 40 s; once the clock is past it,
            // four times.
            EXPECT_TRUE(std::abs(span - 40) < 1e-6 || std::abs(span - 80) < 1e-6) << span;
        else
            EXPECT_DOUBLE_EQ(span, c.spanS);
        EXPECT_EQ(chart->columns().lastIndex(), r.records) << "every window has every record";
        EXPECT_GE(pixelsOf(picture(), colourOf(0), plot().adjusted(0, 0, r.pastPlot, 0)),
                  c.pixelsAtLeast);
    }
}

TEST_F(ChartWindow, AClickOnALegendEntryHidesItsTraceAndAnotherShowsIt)
{
    run(2000, 1500);
    const QRect lanes = chart->parts().lanes;
    struct Case {
        const char* what;
        int entry;  // a channel, or the digital lines
        unsigned mask;
    };
    const Case cases[] = {
        {"Ch 1", 0, 1u},
        {"Ch 3", 2, 4u},
        {"the digital lines", tarvo::rt::kLinesBit, 1u << tarvo::rt::kLinesBit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QPoint at = swatchOf(c.entry);
        ASSERT_GE(at.x(), 0) << "no legend entry";
        const QColor colour = entryColour(c.entry);
        auto drawn = [&] {
            return pixelsOf(picture(), colour, c.entry == tarvo::rt::kLinesBit ? lanes : plot());
        };
        const int shown = drawn();
        EXPECT_GT(shown, 100);
        const int swatch = pixelsOf(picture(), colour, legend());
        QTest::mouseClick(chart.get(), Qt::LeftButton, {}, at);
        EXPECT_EQ(chart->hidden(), c.mask);
        EXPECT_LT(drawn(), 5) << "hidden";
        EXPECT_GT(pixelsOf(picture(), colourOf(1), plot()), 100) << "the others stay";
        EXPECT_LT(pixelsOf(picture(), colour, legend()), swatch) << "the entry's swatch is hollow";
        QTest::mouseClick(chart.get(), Qt::LeftButton, {}, at);
        EXPECT_EQ(chart->hidden(), 0u);
        EXPECT_GT(drawn(), shown / 2);
    }
}

// The mouse over the plot: a line and a box with the time of the column
// under it and each shown channel's value there: the board's record of that
// time (one record a column: 5 s over about 870 columns is 5.7 ms a column,
// and a record comes every 20 ms).
TEST_F(ChartWindow, TheReadoutGivesTheTimeAndTheValuesUnderTheMouse)
{
    run(20000, 400);  // 8 s: the window shows records 151..400
    QTest::mouseClick(chart->findChild<QToolButton*>("chartPause"), Qt::LeftButton);
    ASSERT_TRUE(chart->paused());
    const double columnS = chart->columns().columnUs() / 1e6;
    const std::int64_t oldest = chart->rightEdge() - chart->columns().width() + 1;
    for (const double part : {0.25, 0.5, 0.9}) {
        SCOPED_TRACE(testing::Message() << "at " << part << " of the plot");
        const QPoint at(plot().left() + int(part * plot().width()), plot().center().y());
        QTest::mouseMove(chart.get(), at);
        const auto lines = chart->readoutAt(at);
        ASSERT_EQ(lines.size(), 1u + kChannels + 1) << "the time, four channels, the lines";
        // The time: the middle of the column that holds the nearest record.
        const double t = lines[0].text.chopped(2).toDouble();
        const double column = std::floor(t / columnS);
        EXPECT_NEAR(column, double(oldest) + (at.x() - plot().left()), 5);
        const auto n = unsigned(std::lround(column * columnS / 0.02)) + 1;  // the record there
        for (int ch = 0; ch < kChannels; ++ch) {
            EXPECT_EQ(lines[1 + ch].text,
                      QString("Ch %1  %2").arg(ch + 1).arg(tarvo::board::sampleValue(ch, n)));
            EXPECT_EQ(lines[1 + ch].swatch, colourOf(ch));
        }
        const std::uint8_t s = tarvo::board::statusByte(n);
        EXPECT_EQ(lines[5].text, QString("D1-D4  %1%2%3%4")
                                     .arg((s >> 7) & 1)
                                     .arg((s >> 6) & 1)
                                     .arg((s >> 5) & 1)
                                     .arg((s >> 4) & 1));
    }
    // A hidden channel leaves the readout; outside the plot there is none.
    chart->setHidden(1u << 1);
    const QPoint mid = plot().center();
    const auto lines = chart->readoutAt(mid);
    ASSERT_EQ(lines.size(), 1u + kChannels);
    EXPECT_TRUE(lines[2].text.startsWith("Ch 3"));
    EXPECT_TRUE(chart->readoutAt(QPoint(plot().left() - 20, mid.y())).empty());
    // The box is on the picture (a ground of its own colour beside the
    // line) while the mouse is over the plot, and goes when it leaves.
    QPalette pal = chart->palette();
    const QColor box(0xff, 0xff, 0x00);
    pal.setColor(QPalette::ToolTipBase, box);
    chart->setPalette(pal);
    const QRect near(mid.x() - 300, plot().top(), 600, 150);
    QTest::mouseMove(chart.get(), mid);
    EXPECT_GT(pixelsOf(picture(), box, near), 400);
    QTest::mouseMove(chart.get(), QPoint(2, chart->height() - 2));
    EXPECT_EQ(pixelsOf(picture(), box, near), 0);
}

// When the board falls silent the axis goes on with the clock and the
// traces stop where the records stopped: the right end of the plot is empty.
TEST_F(ChartWindow, WhenTheBoardFallsSilentTheTracesStopAndTheAxisGoesOn)
{
    run(2000, 1000);
    const std::int64_t newest = chart->columns().latest();
    ASSERT_TRUE(settle([&] { return chart->rightEdge() >= newest + 100; }))
        << "the right edge stays at the last record";
    const QImage image = picture();
    const QRect plotArea = plot();
    const QRect right(plotArea.right() - 60, plotArea.top(), 55, plotArea.height());
    const QRect left(plotArea.left(), plotArea.top(), plotArea.width() - 70, plotArea.height());
    // Channels 1 and 3 of the board change fastest: they cross the plot.
    for (int ch : {0, 2}) {
        SCOPED_TRACE(testing::Message() << "Ch " << ch + 1);
        EXPECT_EQ(pixelsOf(image, colourOf(ch), right), 0);
        EXPECT_GT(pixelsOf(image, colourOf(ch), left), 100);
    }
    // Records again: the traces go on at their own time.
    send(1001, 1200);
    EXPECT_EQ(chart->columns().latest(), chart->columns().columnAt(1199 * 2000.0));
}

// The whole run's picture stands still while nothing comes: no frame is
// drawn for an unchanged picture.
TEST_F(ChartWindow, AnUnchangedPictureIsNotDrawnAgain)
{
    run(2000, 250);  // half a second: the whole run's first 5 s hold it
    chart->setTimeWindow(4);
    ASSERT_TRUE(chart->columns().wholeRun());
    const std::uint64_t before = chart->frames();
    ASSERT_TRUE(settle([&] { return chart->frames() > before; })) << "the window's first frame";
    const std::uint64_t drawn = chart->frames();
    QTest::qWait(500);
    EXPECT_EQ(chart->frames(), drawn);
    send(251, 300);
    EXPECT_TRUE(settle([&] { return chart->frames() > drawn; })) << "new records are drawn";
}

// A dark palette: a dark ground and grid, light labels, the traces' lighter set.
TEST_F(ChartWindow, ADarkPaletteMakesADarkChartWithReadableLegendAndTraces)
{
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    chart->setPalette(dark);
    run(2000, 1000);
    const QImage image = picture();
    const QRect p = plot();
    // The grid line at 2048 and the ground beside the traces are dark.
    const int gridY = p.top() + int((p.height() - 1) * (1 - 2048.0 / 4095));
    int darkPixels = 0, lightPixels = 0;
    for (int x = p.left(); x < p.right(); ++x) {
        darkPixels += image.pixelColor(x, gridY - 3).lightness() < 80;
        lightPixels += image.pixelColor(x, gridY).lightness() > 200;
    }
    EXPECT_GT(darkPixels, p.width() / 3);
    EXPECT_LT(lightPixels, p.width() / 10) << "no bright grid";
    // The legend's names are light on the dark ground.
    int lightText = 0;
    const QRect band = legend();
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = 0; x < band.width() / 2; ++x)
            lightText += image.pixelColor(x, y).lightness() > 150;
    EXPECT_GT(lightText, 30);
    // The traces in the lighter set, apart from the ground.
    EXPECT_EQ(colourOf(0), QColor(0x5d, 0xad, 0xec));
    for (int ch : {0, 2})
        EXPECT_GT(pixelsOf(image, colourOf(ch), p), 100) << "Ch " << ch + 1;
}
