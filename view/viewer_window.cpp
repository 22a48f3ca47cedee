#include "viewer_window.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cstdio>

#include "axis.h"
#include "overview.h"
#include "run_chart.h"
#include "sampler.h"

namespace tarvo::view {

using recorded::Run;

ViewerWindow::ViewerWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle("tarvo-view");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->setSpacing(0);
    chart_ = new RunChart(central);
    overview_ = new Overview(*chart_, central);
    readout_ = new QLabel(central);
    readout_->setObjectName("readout");
    readout_->setTextFormat(Qt::RichText);
    readout_->setContentsMargins(chart_->plotRect().left(), 6, 12, 2);
    readout_->setMinimumHeight(readout_->fontMetrics().height() + 10);
    readoutHint_ =
        tr("Point at the chart to read a record.  Wheel: zoom  ·  drag: pan  ·  "
           "right-drag: zoom to a box  ·  double click or Home: the whole run  ·  "
           "click the legend to show or hide a trace");
    readout_->setText(readoutHint_);
    layout->addWidget(chart_, 1);
    layout->addSpacing(4);
    layout->addWidget(overview_);
    layout->addWidget(readout_);
    setCentralWidget(central);

    summary_ = new QLabel(this);
    summary_->setObjectName("summary");
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setMaximumWidth(260);
    progress_->setFormat(tr("reading the run: %p %"));
    progress_->hide();
    statusBar()->addWidget(summary_, 1);
    statusBar()->addPermanentWidget(progress_);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("Open &Run Folder..."), QKeySequence::Open, this,
                    [this] { chooseAndOpen(true); });
    file->addAction(tr("Open Data &File..."), this, [this] { chooseAndOpen(false); });
    file->addAction(tr("Re&load"), QKeySequence::Refresh, this, [this] {
        if (!path_.isEmpty())
            open(path_);
    });
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(tr("&Whole Run"), QKeySequence(Qt::Key_Home), chart_, &RunChart::showWholeRun);
    view->addAction(tr("Zoom &In"), QKeySequence::ZoomIn, this, [this] {
        const Span s = chart_->span();
        const double mid = (s.from + s.to) / 2;
        chart_->setSpan(zoomed(s, mid, 0.5, chart_->limits()));
    });
    view->addAction(tr("Zoom &Out"), QKeySequence::ZoomOut, this, [this] {
        const Span s = chart_->span();
        const double mid = (s.from + s.to) / 2;
        chart_->setSpan(zoomed(s, mid, 2, chart_->limits()));
    });
    view->addAction(tr("Go to the &End"), QKeySequence(Qt::Key_End), this, [this] {
        const double end = chart_->limits().end, w = chart_->span().width();
        chart_->setSpan({end - w, end});
    });

    connect(chart_, &RunChart::readoutChanged, this, [this](const QString& text) {
        readout_->setText(text.isEmpty() ? readoutHint_ : text);
    });
    connect(chart_, &RunChart::spanChanged, overview_, qOverload<>(&QWidget::update));
    connect(&poll_, &QTimer::timeout, this, &ViewerWindow::collect);
    connect(&follow_, &QTimer::timeout, this, &ViewerWindow::refresh);
    poll_.setInterval(50);
    follow_.setInterval(kFollowMs);
    chart_->setFocus();
}

ViewerWindow::~ViewerWindow() { stopWorker(); }

void ViewerWindow::stopWorker()
{
    if (!worker_.joinable())
        return;
    cancel_ = true;
    worker_.join();
    finished_ = false;
    poll_.stop();
    progress_->hide();
}

void ViewerWindow::open(const QString& path)
{
    stopWorker();
    follow_.stop();
    chart_->setRun(nullptr);
    run_.reset();
    path_ = path;
    error_.clear();
    replacedNoted_ = false;
    setWindowTitle(QString("%1 - tarvo-view").arg(QDir::toNativeSeparators(path)));
    chart_->setMessage(tr("Reading %1 ...").arg(QDir::toNativeSeparators(path)));
    summary_->clear();
    progress_->setValue(0);
    progress_->show();

    cancel_ = false;
    finished_ = false;
    done_ = 0;
    total_ = 0;
    worker_ = std::thread([this, p = path.toStdString()] {
        Run::Options o;
        o.progress = [this](uint64_t done, uint64_t total) {
            done_ = done;
            total_ = total;
            return !cancel_.load();
        };
        std::string why;
        std::unique_ptr<Run> run = Run::open(p, o, why);
        {
            std::lock_guard<std::mutex> hold(resultLock_);
            result_ = std::move(run);
            why_ = why;
        }
        finished_ = true;
        QMetaObject::invokeMethod(this, &ViewerWindow::collect, Qt::QueuedConnection);
    });
    poll_.start();
}

void ViewerWindow::collect()
{
    if (!worker_.joinable())
        return;
    if (!finished_) {
        const uint64_t total = total_;
        if (total > 0)
            progress_->setValue(int(1000.0 * double(done_) / double(total)));
        return;
    }
    worker_.join();
    poll_.stop();
    progress_->hide();
    std::string why;
    {
        std::lock_guard<std::mutex> hold(resultLock_);
        run_ = std::move(result_);
        why = why_;
    }
    if (!run_) {
        error_ = QString::fromStdString(why);
        chart_->setMessage(tr("Cannot show this run:\n%1").arg(error_));
        summary_->setText(error_);
        emit failed(error_);
        return;
    }
    chart_->setMessage({});
    chart_->setRun(run_.get());
    events_ = run_->info().events.size();
    showSummary();
    follow_.start();
    emit opened();
}

void ViewerWindow::refresh()
{
    if (!run_)
        return;
    std::string why;
    const uint64_t before = run_->count();
    const auto growth = run_->refresh(why);
    using Growth = recorded::Records::Growth;
    switch (growth) {
    case Growth::Replaced:
        if (!replacedNoted_)
            statusBar()->showMessage(tr("A new run has replaced %1: this one is shown as it was; "
                                        "File > Reload shows the new one")
                                         .arg(QString::fromStdString(run_->files().data)));
        replacedNoted_ = true;
        break;
    case Growth::Shrunk:
        follow_.stop();
        statusBar()->showMessage(tr("%1 is shorter than it was: File > Reload reads it again")
                                     .arg(QString::fromStdString(run_->files().data)));
        break;
    case Growth::Failed:
        follow_.stop();
        statusBar()->showMessage(QString::fromStdString(why));
        break;
    default: break;
    }
    if (run_->count() != before || run_->info().events.size() != events_) {
        events_ = run_->info().events.size();
        chart_->runGrew();
        overview_->update();
        showSummary();
    }
}

void ViewerWindow::showSummary()
{
    const recorded::RunInfo& info = run_->info();
    const recorded::Settings& s = info.settings;
    const recorded::Layout& l = run_->records().layout();
    QStringList parts;
    parts << QFileInfo(QString::fromStdString(run_->files().data)).fileName();
    QString what = l.channels == 1 ? tr("1 channel") : tr("%1 channels").arg(l.channels);
    if (l.digital)
        what += tr(", digital lines");
    if (l.counter)
        what += tr(", counter");
    what += l.format == recorded::Format::Raw ? tr(", raw bytes") : tr(", integer columns");
    parts << what;
    if (run_->periodKnown())
        parts << tr("period %1 µs").arg(s.periodUs);
    parts << tr("%1 records").arg(QLocale().toString(qulonglong(run_->count())));
    const uint64_t lost = run_->count() > 0 ? run_->lostBefore(run_->count()) : 0;
    parts << tr("%1 lost").arg(QLocale().toString(qulonglong(std::max<uint64_t>(lost, info.lost))));
    if (run_->periodKnown())
        parts << QString::fromStdString(durationText(chart_->timeline().endUs()));
    if (!info.start.empty())
        parts << tr("started %1").arg(QString::fromStdString(info.start));
    if (!info.ended && info.source == recorded::Source::Description)
        parts << tr("still recording (or not ended)");
    summary_->setText(parts.join("  ·  "));
    QStringList notes;
    for (const std::string& n : run_->notes())
        notes << QString::fromStdString(n);
    summary_->setToolTip(notes.join("\n"));
}

void ViewerWindow::chooseAndOpen(bool folder)
{
    const QString start = path_.isEmpty() ? QDir::currentPath() : QFileInfo(path_).absolutePath();
    const QString chosen =
        folder ? QFileDialog::getExistingDirectory(this, tr("Open a Run Folder"), start)
               : QFileDialog::getOpenFileName(this, tr("Open a Data File"), start,
                                              tr("Data files (*.txt);;All files (*)"));
    if (!chosen.isEmpty())
        open(chosen);
}

}  // namespace tarvo::view
