// Building the widgets of a panel file.
//
// Where Qt has its form loader (QUiLoader), the file is read at run time:
// the panel can be re-laid out in Qt Designer without rebuilding. Where it
// has not (the Windows build), the panel is compiled in at build time from
// resources/tarvo.uir by uic, and the file beside the program must be that
// same file: any other is refused, with the reason.
#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QFile;

namespace tarvo::rt {

// True when this build carries its panel compiled in.
bool panelCompiledIn();

// The widget tree of the panel file `file`, open for reading. Null, with the
// reason in `error` (empty when the form builder gave none), when the file
// cannot be built.
std::unique_ptr<QWidget> buildPanelForm(QFile& file, QString& error);

}  // namespace tarvo::rt
