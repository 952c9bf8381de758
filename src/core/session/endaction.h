#pragma once

#include "core/convert/conversionoptions.h"

#include <QList>
#include <QStringList>

// The programs (each with its arguments) that end action 2 tries in turn until one
// starts: $WAVETRANSMUTER_SHUTDOWN_COMMAND when set, else "systemctl poweroff" and then
// "shutdown -h now". Empty when WAVETRANSMUTER_TESTING is set without a replacement
// command, so a test can never reach the machine's real shutdown.
QList<QStringList> ShutdownCommandCandidates();

// Shuts the computer down without a prompt (end action 2), detached and without a shell.
// Returns whether a command was started.
bool RunShutdownCommand();
