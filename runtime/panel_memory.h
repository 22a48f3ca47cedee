// Between runs in the window: the settings a run was started with, kept in a
// file of the user's (remembered_settings.h) and offered at the next start of
// tarvo; the way back to the panel file's own values; and a fresh tarvo,
// started again after Stop when the panel's box asks for it.
//
// The settings controls are the panel's integer controls that the program
// reads (those of its requirements table); buttons and texts are none.
#pragma once

#include "panel_controls.h"
#include "remembered_settings.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

class QCheckBox;

namespace tarvo::rt {

class PanelValues;

// Where the settings are kept: tarvo/window.conf in the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config; the roaming AppData on Windows).
QString rememberedSettingsPath();

// The values of the settings controls, by control id.
std::map<int, std::int64_t> settingsValues(const ControlTable& controls);

class PanelMemory {
public:
    // A panel has been loaded from a file of this digest: its values now are
    // the panel file's.
    void loaded(const ControlTable& controls, const QByteArray& digest);

    // Puts the remembered values back on the controls; what is left out, and
    // why, goes into `notes`. Returns how many values were put back.
    int recall(ControlTable& controls, PanelValues& values, QStringList& notes) const;
    // Keeps the controls' values now; "" or why they could not be kept.
    QString remember(const ControlTable& controls) const;
    // The panel file's values back on the controls (a value the control no
    // longer takes, a port no longer listed, stays as it is).
    void restore(ControlTable& controls, PanelValues& values) const;
    // False while any setting is greyed out (a run records with them): the
    // way back to the panel file's values is greyed out with them.
    static bool settingsEditable(const ControlTable& controls);

private:
    QByteArray digest_;
    std::map<int, std::int64_t> panelFileValues_;
};

// The box "Start again after Stop" (a check box with the `startAgain`
// property) and the fresh process it asks for.
class StartAgain {
public:
    // The command line after the program's name, as this process got it.
    void setArguments(QStringList arguments) { arguments_ = std::move(arguments); }
    // Finds the box on a loaded panel. In unattended mode it is disabled: a
    // script run never starts again. A process that was itself started again
    // ticks it, so the cycle goes on until the box is unticked.
    void attach(QWidget* root, bool unattended);
    bool startedAgain() const { return startedAgain_; }
    bool ticked() const;
    // Starts the fresh process: 1 when started, -1 with the reason in `why`.
    int start(QString& why);

private:
    QStringList arguments_;
    QPointer<QCheckBox> box_;
    bool startedAgain_ = false;
};

// What a fresh process is started as: this executable, unless a test program
// names the real one; its process id once started.
void setStartAgainProgram(const QString& path);
std::optional<qint64> lastStartedAgain();

// Set in a process that tarvo started again after Stop.
inline constexpr const char* kStartedAgainVariable = "TARVO_STARTED_AGAIN";

}  // namespace tarvo::rt
