#pragma once
// Process-wide services of the forms runtime.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace zorvik::runtime {

// Font faces the forms ask for by name get their metric twins where the named face is missing, and the
// process ends only when no form is loaded rather than when the last window closes.
void InitRuntime();

// The folder that holds the running program, without a trailing separator.
QString ApplicationFolder();

// Called once the last loaded form has been unloaded. By default it ends the event loop (exit code 0)
// after the running handler has returned; tests replace it.
void NoFormLoaded();
void SetNoFormLoadedHandler(std::function<void()> handler);

struct LaunchResult {
    bool started = false;
    QString error;  // why not, for the user
};
// Starts a program by its path, detached and never waited for, with no shell in between.
LaunchResult StartProgram(const QString& path, const QStringList& arguments);

// Runs `work` on a thread of its own and returns once it is done, the calling (GUI) thread meanwhile
// handling its events, so the windows keep answering keys, clicks and timers. What the handlers that run
// meanwhile may touch is the caller's to keep apart from what `work` touches.
void KeepAnsweringWhile(const std::function<void()>& work);

}  // namespace zorvik::runtime

namespace zorvik::runtime {

// Shows a message to the user and waits until it is dismissed. Tests replace how it is shown.
void ShowMessage(QWidget* owner, const QString& title, const QString& text);
void SetMessageHandler(std::function<void(const QString& title, const QString& text)> handler);

}  // namespace zorvik::runtime
