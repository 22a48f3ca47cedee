// A panel file loaded and checked: the panel's widget and the table of its
// controls, each bound to its callback and checked against what the program
// needs of it.
#pragma once

#include "panel_controls.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace tarvo::rt {

struct PanelFile {
    std::unique_ptr<QWidget> root;  // null when the file does not serve
    ControlTable controls;
    QString error;      // one line, when root is null
    QByteArray digest;  // of the file's bytes: tells one panel file from another
};

// Where a panel file named `file` is looked for, in this order: an absolute
// name only there; a relative one beside the executable, in
// ../share/tarvo/ relative to it, and in the data folder the build was
// configured for.
QStringList panelFilePlaces(const QString& file);

// Loads panel `resourceId` from the Qt Designer file `file`, the first of
// panelFilePlaces() that exists.
PanelFile loadPanelFile(const char* file, int resourceId);

}  // namespace tarvo::rt
