#include "panel_fittings.h"

#include "chart.h"
#include "com_table.h"
#include "live_feed.h"
#include "options.h"
#include "run_status.h"
#include "runtime.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace tarvo::rt {

namespace {

// Starts `program` from the folder of this executable on the current
// folder, apart from this process (it outlives a run's end). A program
// that is not there is said in the run status.
void launchBeside(const QString& program)
{
    QString path = QDir(QCoreApplication::applicationDirPath()).filePath(program);
#ifdef _WIN32
    path += ".exe";
#endif
    if (!QFileInfo(path).isExecutable() ||
        !QProcess::startDetached(path, {QDir::currentPath()}, QDir::currentPath())) {
        const std::string why = program.toStdString() +
                                " cannot be started: " + quotePath(path.toStdString()) +
                                " is missing";
        std::fprintf(stderr, "tarvo: %s\n", why.c_str());
        RunStatusNote(why.c_str());
    }
}

}  // namespace

void fillPortList(QComboBox* box, int want)
{
    box->clear();
    for (const PortInfo& p : listPorts()) {
        QString text = QString("COM%1  ").arg(p.number);
        if (p.device == kVirtualDevice)
            text += QString::fromStdString(p.description.empty() ? "virtual board" : p.description);
        else if (p.description.empty())
            text += QString::fromStdString(p.device);
        else
            text += QString::fromStdString(p.device + " (" + p.description + ")");
        box->addItem(text, p.number);
    }
    int i = box->findData(want);
    if (i < 0)
        i = box->findData(kVirtualPortNumber);
    box->setCurrentIndex(std::max(i, 0));
}

void connectPanelButtons(QWidget* root, const std::function<void()>& refreshPorts)
{
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
        if (b->property("portRefresh").toBool())
            QObject::connect(b, &QAbstractButton::clicked, b, refreshPorts);
        if (const QString program = b->property("launch").toString(); !program.isEmpty())
            QObject::connect(b, &QAbstractButton::clicked, b, [program] { launchBeside(program); });
    }
}

void attachLiveView(QWidget* root, bool noChart)
{
    QWidget* host = nullptr;
    for (QWidget* w : root->findChildren<QWidget*>())
        if (w->property("chart").toBool()) {
            host = w;
            break;
        }
    if (host) {
        QLayout* layout = host->layout();
        if (!layout)
            layout = new QVBoxLayout(host);
        if (noChart) {
            auto* off = new QLabel("The live chart is off (--no-chart).", host);
            off->setObjectName("liveChartOff");
            off->setAlignment(Qt::AlignCenter);
            off->setEnabled(false);
            layout->addWidget(off);
        } else {
            layout->addWidget(new StripChart(chartFeed(), host));
        }
    }
    new RunStatusView(statusFeed(), root);
}

int PanelQuestion::ask(QWidget* parent, const char* title, const char* message,
                       const char* const labels[3], int escape)
{
    if (box_)
        return escape;
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(messageText(title));
    box.setText(messageText(message));
    QAbstractButton* buttons[3] = {};
    int others = 0;
    for (int i = 0; i < 3; ++i) {
        if (!labels[i])
            continue;
        const QMessageBox::ButtonRole role =
            i + 1 == escape
                ? QMessageBox::RejectRole
                : (others++ == 0 ? QMessageBox::AcceptRole : QMessageBox::DestructiveRole);
        buttons[i] = box.addButton(messageText(labels[i]), role);
    }
    if (escape >= 1 && escape <= 3 && buttons[escape - 1]) {
        box.setEscapeButton(buttons[escape - 1]);
        // Enter, like Escape, leaves everything as it is.
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons[escape - 1]));
    }
    box_ = &box;
    withdrawn_ = false;
    box.exec();
    box_ = nullptr;
    if (withdrawn_)
        return escape;
    for (int i = 0; i < 3; ++i)
        if (buttons[i] && box.clickedButton() == buttons[i])
            return i + 1;
    return escape;
}

void PanelQuestion::withdraw()
{
    if (box_) {
        withdrawn_ = true;
        box_->reject();
    }
}

}  // namespace tarvo::rt
