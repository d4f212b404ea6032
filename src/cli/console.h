#pragma once

#include <QString>

// Standard error, where everything but data goes. When it is a terminal, one status
// line stands at its bottom; messages are written above it.
namespace Console {
// "keldro-cli: " and the message, on a line of its own.
void error(const QString &message);
// A line as it is, no prefix.
void line(const QString &text);
bool isTerminal();
int terminalColumns();
// Replaces the status line; nothing happens when standard error is no terminal.
void showStatus(const QString &text);
void clearStatus();
} // namespace Console
