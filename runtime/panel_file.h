// A panel file loaded and checked: the panel's widget and the table of its
// controls, each bound to its callback and checked against what the program
// needs of it.
#pragma once

#include "panel_controls.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace tarvo::rt {

struct PanelFile {
    std::unique_ptr<QWidget> root;  // null when the file does not serve
    ControlTable controls;
    QString error;      // one line, when root is null
    QByteArray digest;  // of the file's bytes: tells one panel file from another
};

// Loads panel `resourceId` from the Qt Designer file `file` (relative to the
// executable's folder unless absolute).
PanelFile loadPanelFile(const char* file, int resourceId);

}  // namespace tarvo::rt
