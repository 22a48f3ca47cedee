// Qt's application object, made once for the life of the process, and
// Qt's messages as tarvo shows them.
#pragma once

#include "options.h"

#include <QtGlobal>

namespace tarvo::rt {

// Makes the application object unless there is one: Qt's options from the
// command line, the offscreen platform where there is no display. A start
// that fails ends the process with a one-line reason and status 255.
void startQt(const Options& options);

// The message handler installed by startQt: drops two warnings that say
// nothing to a user, turns a fatal message into one line and status 255.
void quietQt(QtMsgType type, const QMessageLogContext& context, const QString& msg);

}  // namespace tarvo::rt
