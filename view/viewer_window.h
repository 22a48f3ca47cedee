// tarvo-view's window: the chart of a run, the overview strip under it, the
// readout of the record under the pointer, and the run in a line at the
// bottom.
//
// A run is opened on a worker thread (indexing a large file takes a while)
// with a progress bar; the chart appears when the index is there. The data
// file is then looked at again every second: records that a run in progress
// added extend the axis.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "run.h"

class QLabel;
class QProgressBar;

namespace tarvo::view {

class Overview;
class RunChart;

class ViewerWindow final : public QMainWindow {
    Q_OBJECT

public:
    // A window's size for screenshots.
    static constexpr int kShotWidth = 1280, kShotHeight = 760;
    static constexpr int kFollowMs = 1000;

    explicit ViewerWindow(QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Opens the run that `path` names (a run folder or a data file), in the
    // background: opened() or failed() when it is done.
    void open(const QString& path);
    bool opening() const { return worker_.joinable(); }
    const recorded::Run* run() const { return run_.get(); }
    QString error() const { return error_; }

    // Looks at the data file again now (the timer does this every second).
    void refresh();

    RunChart& chart() { return *chart_; }
    Overview& overview() { return *overview_; }
    QLabel& readout() { return *readout_; }
    QLabel& summary() { return *summary_; }

signals:
    void opened();
    void failed(const QString& why);

private:
    void collect();
    void stopWorker();
    void showSummary();
    void chooseAndOpen(bool folder);

    RunChart* chart_ = nullptr;
    Overview* overview_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* summary_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer poll_;    // the worker's progress
    QTimer follow_;  // the file's growth

    QString path_, error_, readoutHint_;
    std::unique_ptr<recorded::Run> run_;
    size_t events_ = 0;  // the run's events when last looked at
    bool replacedNoted_ = false;

    // The worker and what it hands over.
    std::thread worker_;
    std::atomic<bool> cancel_{false}, finished_{false};
    std::atomic<uint64_t> done_{0}, total_{0};
    std::mutex resultLock_;
    std::unique_ptr<recorded::Run> result_;
    std::string why_;
};

}  // namespace tarvo::view
