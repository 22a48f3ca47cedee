#include "run_status.h"

#include <QLayout>
#include <QLocale>
#include <QThread>

#include <algorithm>

#include <cmath>

namespace tarvo::rt {

namespace {

QString grouped(double v) { return QLocale(QLocale::English).toString(v, 'f', 0); }

QString clockText(double seconds)
{
    const auto s = static_cast<long long>(seconds);
    return QString("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QChar('0'))
        .arg(s % 60, 2, 10, QChar('0'));
}

QString bytesText(std::int64_t bytes)
{
    if (bytes < 0)
        return "-";
    if (bytes < 1024)
        return QString("%1 bytes").arg(bytes);
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double v = double(bytes) / 1024;
    int u = 0;
    while (v >= 1024 && u < 3) {
        v /= 1024;
        ++u;
    }
    return QString("%1 %2").arg(v, 0, 'f', v < 10 ? 2 : 1).arg(units[u]);
}

}  // namespace

RunStatusView::RunStatusView(StatusFeed& feed, QWidget* panel) : QObject(panel), feed_(feed)
{
    const std::pair<const char*, Role> roles[] = {
        {"records", Role::Records}, {"rate", Role::Rate}, {"elapsed", Role::Elapsed},
        {"lost", Role::Lost},       {"file", Role::File}, {"note", Role::Note},
    };
    for (QLabel* label : panel->findChildren<QLabel*>()) {
        const QString name = label->property("runStatus").toString();
        for (const auto& [n, role] : roles)
            if (name == n)
                labels_.emplace_back(role, label);
    }
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    if (labels_.empty())
        return;
    timer_.start(kPollMs);
    feed_.listen(this, [this] {
        if (QThread::currentThread() == thread())
            showNow();
        else
            QMetaObject::invokeMethod(
                this, [this] { poll(); }, Qt::QueuedConnection);
    });
}

RunStatusView::~RunStatusView() { feed_.unlisten(this); }

double RunStatusView::overdueAfter(unsigned periodUs) { return std::max(2.0, 3 * periodUs / 1e6); }

void RunStatusView::showNow()
{
    std::vector<bool> shown;
    for (auto& [r, label] : labels_)
        shown.push_back(label && label->isVisible());
    poll();
    QWidget* window = nullptr;
    bool moved = false;
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        QLabel* label = labels_[i].second;
        if (!label)
            continue;
        window = label->window();
        moved = moved || label->isVisible() != shown[i];
    }
    if (!window)
        return;
    // A note that appears or goes moves what is below it: lay the window
    // out now, not when the event loop would.
    if (moved && window->layout())
        window->layout()->activate();
    if (moved) {
        window->repaint();
        return;
    }
    for (auto& [r, label] : labels_)
        if (label && label->isVisible())
            label->repaint();
}

void RunStatusView::show(Role role, const QString& text, const QVariant& value)
{
    for (auto& [r, label] : labels_) {
        if (r != role || !label)
            continue;
        label->setProperty("value", value);
        if (label->text() != text)
            label->setText(text);
    }
}

void RunStatusView::poll()
{
    // A minimized window shows nothing: its labels are not kept up to date
    // through a long run, only brought up to date when it is shown again.
    if (const auto* panel = qobject_cast<QWidget*>(parent());
        panel && panel->window()->isMinimized())
        return;
    // The note stands apart from the run: a refused Start has none.
    const QString note = QString::fromStdString(feed_.note());
    show(Role::Note, note, note);
    for (auto& [r, label] : labels_)
        if (r == Role::Note && label)
            label->setVisible(!note.isEmpty());

    const StatusSample s = feed_.sample();
    if (s.phase == StatusSample::Phase::Idle)
        return;
    if (s.run != run_) {
        run_ = s.run;
        final_ = false;
        recent_.clear();
        lastRecords_ = 0;
        lastRecordAt_ = 0;
    }
    if (final_)
        return;
    const bool ended = s.phase == StatusSample::Phase::Ended;

    // The rate over the last second while the run goes on; at its end, over
    // the whole run.
    double rate = 0;
    if (ended) {
        rate = s.elapsed > 0 ? s.records / s.elapsed : 0;
    } else {
        recent_.emplace_back(s.elapsed, s.records);
        while (recent_.size() > 2 && s.elapsed - recent_[1].first >= 1.0)
            recent_.pop_front();
        const auto& [t0, n0] = recent_.front();
        if (s.elapsed > t0)
            rate = (s.records - n0) / (s.elapsed - t0);
    }

    show(Role::Records, grouped(s.records) + (s.records == 1 ? " record" : " records"),
         QVariant::fromValue<qulonglong>(s.records));
    if (s.records != lastRecords_) {
        lastRecords_ = s.records;
        lastRecordAt_ = s.elapsed;
    }
    const double quiet = s.elapsed - lastRecordAt_;
    if (!ended && quiet > overdueAfter(s.periodUs)) {
        const auto secs = static_cast<long long>(quiet);
        const QString ago = secs < 3600 ? QString("%1 s").arg(secs) : clockText(quiet);
        show(Role::Rate, s.records == 0 ? "no record in " + ago : "last record " + ago + " ago",
             0.0);
    } else {
        show(Role::Rate, grouped(std::round(rate)) + " records/s", rate);
    }
    show(Role::Elapsed, clockText(s.elapsed), s.elapsed);
    show(Role::Lost, grouped(s.lost) + " lost", QVariant::fromValue<qulonglong>(s.lost));
    show(Role::File, QString::fromStdString(s.fileName) + " " + bytesText(s.fileBytes),
         QVariant::fromValue<qlonglong>(s.fileBytes));
    final_ = ended;
}

}  // namespace tarvo::rt
