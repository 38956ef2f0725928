#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class Clock;
class MessageBox;
class ProcessStarter;
class ProgramEnd;

// The services that the program's windows and modules rely on, gathered in
// one place: the event loop, the clock and waiting, the message box, ending
// the program, the single-instance test, the program's folders, text files,
// starting other programs and random numbers. None of them needs a window:
// this is the core that the serial driver and the settings store link; the
// screen's measures for the windows are in Screen.h.
//
// Everything here runs on the one window thread.
namespace Runtime {

// The outside-world pieces behind the functions below, reached through this
// one registry because they are called from deep inside the serial driver
// and the store, which no window hands anything to. Each defaults to the
// real implementation, the message box to the notice on standard error; the
// program installs the desktop's message box at start-up and tests install
// fakes, both with `install`.
struct Services
{
    Clock* clock = nullptr;
    MessageBox* messageBox = nullptr;
    ProcessStarter* processStarter = nullptr;
    ProgramEnd* programEnd = nullptr;
};

// Replaces the services that are set (non-null) in `services`; returns the
// previous set so a caller can restore it.
Services install(const Services& services);
const Services& services();

// Handles every window event that is pending, running the handlers it
// triggers, then returns.
void DoEvents();

// Seconds since local midnight, single precision.
float Timer();

// Waits `seconds` while handling window events. A duration of 0 or less
// returns at once without handling any.
void Pause(float seconds);

// Shows a notice through the installed message box: in the program, a modal
// notice titled "Ringwarden" with an OK button and no icon, which returns
// once it has been dismissed. `detail` is an optional second line.
void MsgBox(const QString& text, const QString& detail = {});
// The same notice, but returns at once and leaves it up: for what goes wrong
// while listening, which must not stop the listening loop until the user
// has read it.
void Notice(const QString& text, const QString& detail = {});
// Asks `question` with the answers `accept` and `reject` through the
// installed message box, without waiting: returns at once, and `answered`
// gets true for `accept` later, once the user has answered (false for
// `reject`, or for a question dismissed otherwise).
void Ask(const QString& question, const QString& detail, const QString& accept,
    const QString& reject, std::function<void(bool accepted)> answered);

// Ends the program at once: no further handler runs.
[[noreturn]] void End();

// Takes the per-user single-instance lock, kept in the folder "ringwarden"
// of `lockDirectory` (the user's runtime folder when empty). Called once at
// start-up. Returns false when another instance holds the lock. A lock left
// by a crashed instance is taken over; a lock that cannot be taken for any
// other reason (no such folder, no permission) does not count as another
// instance.
bool ClaimInstance(const QString& lockDirectory = {});
// True while another instance of the program is running. When this one did
// not get the lock at start-up it tries again, so it can take over once the
// other instance has ended.
bool PrevInstance();
// Gives the lock up again and forgets where it was (End does this; tests use
// it between cases).
void ReleaseInstance();

// The folder the program's own files (tone files and texts) are read from:
// beside the executable when it runs from the build tree, otherwise the
// installed data folder.
QString AppPath();
// The full path of one of the program's own files (`name` is a plain file
// name): the copy beside the executable when there is one (the build tree),
// otherwise the one in the installed data folder (<prefix>/share/ringwarden
// for <prefix>/bin/ringwarden). When neither exists, the path beside the
// executable.
QString ProgramFile(const QString& name);
// The per-user folders: $XDG_CONFIG_HOME/ringwarden (default ~/.config) and
// $XDG_DATA_HOME/ringwarden (default ~/.local/share).
QString ConfigDir();
QString DataDir();
// Makes the folders of `folder` that are missing, each private to the user
// (mode 0700): they hold callers' numbers and the user's settings. Folders
// that exist are left as they are. Returns false, with the folder that could
// not be made in `error` (when given), on failure.
bool MakePrivateFolders(const QString& folder, QString* error = nullptr);

// Appends one line (ended by a line feed) to the text file at `path`,
// creating the file and its folder when missing. Returns false on failure;
// the file's earlier content is never touched.
bool AppendLine(const QString& path, const QString& line);

// Starts `program` with `arguments` without waiting for it.
bool Shell(const QString& program, const QStringList& arguments);

// The uniform random generator: seed it, then draw numbers in [0, 1).
void Randomize(float seed);
double Rnd();

} // namespace Runtime
