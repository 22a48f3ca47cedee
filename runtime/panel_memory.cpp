#include "panel_memory.h"

#include "panel_values.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QWidget>

namespace tarvo::rt {

namespace {

bool isSetting(const Control& c)
{
    return c.widget && c.need && c.need->kind == CTRL_INTEGER && holdsInteger(c.kind);
}

QString nameOf(const Control& c)
{
    return c.need && c.need->what ? QString::fromUtf8(c.need->what)
                                  : QString("control %1").arg(c.id);
}

// Sets a settings control as the program does, and takes its text as
// committed, so that the next commit of an editable combo box compares
// with what it shows.
bool put(Control& c, std::int64_t v, PanelValues& values)
{
    if (values.apply(c, v) != UIE_NO_ERROR)
        return false;
    if (auto* box = qobject_cast<QComboBox*>(c.widget.data()))
        c.committedText = box->currentText();
    return true;
}

QString gProgram;  // empty: this executable
std::optional<qint64> gLastPid;

}  // namespace

QString rememberedSettingsPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath("tarvo/window.conf");
}

std::map<int, std::int64_t> settingsValues(const ControlTable& controls)
{
    std::map<int, std::int64_t> out;
    for (const auto& [id, c] : controls)
        if (isSetting(c))
            if (const std::optional<std::int64_t> v = adapterOf(c.kind).read(c))
                out[id] = *v;
    return out;
}

void PanelMemory::loaded(const ControlTable& controls, const QByteArray& digest)
{
    digest_ = digest;
    panelFileValues_ = settingsValues(controls);
}

int PanelMemory::recall(ControlTable& controls, PanelValues& values, QStringList& notes) const
{
    const QString path = rememberedSettingsPath();
    QFile file(path);
    if (!file.exists())
        return 0;  // nothing remembered yet
    const QString stay = "; the panel file's values stay";
    // Not a folder, nor a FIFO that would hold the start up until written.
    if (!QFileInfo(path).isFile()) {
        notes << QString("The last run's settings cannot be read (%1: not a regular file)%2")
                     .arg(path, stay);
        return 0;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        notes << QString("The last run's settings cannot be read (%1: %2)%3")
                     .arg(path, file.errorString(), stay);
        return 0;
    }
    const QByteArray text = file.read(kMaxRememberedBytes + 1);
    const RememberedRead read = parseRemembered(std::string_view(text.constData(), text.size()));
    if (!read.ok) {
        const QString where =
            read.errorLine > 0 ? QString("%1:%2").arg(path).arg(read.errorLine) : path;
        notes << QString("The last run's settings are damaged (%1: %2)%3")
                     .arg(where, QString::fromStdString(read.error), stay);
        return 0;
    }
    if (QByteArray::fromStdString(read.settings.panel) != digest_) {
        notes << "The last run's settings were taken with another panel file" + stay;
        return 0;
    }
    int applied = 0;
    QStringList dropped;
    for (const auto& [id, value] : read.settings.values) {
        auto it = controls.find(id);
        if (it == controls.end() || !isSetting(it->second)) {
            dropped << QString("control %1 (not a setting of this panel)").arg(id);
            continue;
        }
        Control& c = it->second;
        if (const std::string why = refusal(c, value); !why.empty()) {
            dropped
                << QString("%1 %2 (%3)").arg(nameOf(c)).arg(value).arg(QString::fromStdString(why));
            continue;
        }
        if (put(c, value, values))
            ++applied;
    }
    if (!dropped.isEmpty())
        notes << "Left out of the last run's settings: " + dropped.join("; ");
    return applied;
}

QString PanelMemory::remember(const ControlTable& controls) const
{
    RememberedSettings s;
    s.panel = digest_.toStdString();
    s.values = settingsValues(controls);
    const QString path = rememberedSettingsPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return path + ": cannot create its folder";
    // Written beside and renamed into place: a crash leaves the old file or
    // the new one, never half of either.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return path + ": " + file.errorString();
    const std::string text = formatRemembered(s);
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit())
        return path + ": " + file.errorString();
    return {};
}

void PanelMemory::restore(ControlTable& controls, PanelValues& values) const
{
    for (const auto& [id, value] : panelFileValues_) {
        auto it = controls.find(id);
        if (it != controls.end() && isSetting(it->second) && it->second.widget->isEnabled())
            put(it->second, value, values);
    }
}

bool PanelMemory::settingsEditable(const ControlTable& controls)
{
    for (const auto& [id, c] : controls)
        if (isSetting(c) && !c.widget->isEnabled())
            return false;
    return true;
}

void StartAgain::attach(QWidget* root, bool unattended)
{
    box_ = nullptr;
    for (QCheckBox* b : root->findChildren<QCheckBox*>())
        if (b->property("startAgain").toBool()) {
            box_ = b;
            break;
        }
    startedAgain_ = !qEnvironmentVariableIsEmpty(kStartedAgainVariable);
    // Not handed on to the programs this one starts (tarvo-view).
    qunsetenv(kStartedAgainVariable);
    if (!box_)
        return;
    if (unattended) {
        box_->setChecked(false);
        box_->setEnabled(false);
        box_->setToolTip("A script run never starts again");
        return;
    }
    if (startedAgain_)
        box_->setChecked(true);
}

bool StartAgain::ticked() const { return box_ && box_->isEnabled() && box_->isChecked(); }

int StartAgain::start(QString& why)
{
    QProcess p;
    p.setProgram(gProgram.isEmpty() ? QCoreApplication::applicationFilePath() : gProgram);
    p.setArguments(arguments_);
    p.setWorkingDirectory(QDir::currentPath());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kStartedAgainVariable, "1");
    p.setProcessEnvironment(env);
    qint64 pid = 0;
    if (!p.startDetached(&pid)) {
        why = p.program() + ": " + p.errorString();
        return -1;
    }
    gLastPid = pid;
    return 1;
}

void setStartAgainProgram(const QString& path) { gProgram = path; }

std::optional<qint64> lastStartedAgain() { return gLastPid; }

}  // namespace tarvo::rt
