#pragma once

#include "StartOptions.h"

#include <QString>

// The desktop's autostart entry that starts Ringwarden listening when the
// user logs in: $XDG_CONFIG_HOME/autostart/org.ringwarden.Ringwarden.desktop
// (default ~/.config/autostart), read by every desktop that follows the XDG
// autostart rules. Its Exec line runs this program with --listen, the port
// and, when the sound box was ticked, --sound.
namespace Autostart {

// Where the entry is.
QString path();

// True when the entry is there and the desktop will start it: not switched
// off by the desktop's own settings (Hidden=true, or
// X-GNOME-Autostart-enabled=false, which GNOME's and other session
// settings write into the user's copy).
bool enabled();

// How the entry names this program: "ringwarden" when the one found on PATH
// is this very executable, otherwise this executable's absolute path.
QString program();

// The Exec value that runs `program` with the options of `options`
// (--listen, --port PORT, and --sound when set), each argument quoted by the
// desktop entry rules and escaped as a desktop file's string, so that any
// port text reaches the program unchanged.
QString execLine(const QString& program, const StartOptions& options);

// The whole entry for `program` and `options`.
QString entryText(const QString& program, const StartOptions& options);

// Writes the entry for this program with `options`, making the folder when
// missing; an entry that is there is replaced in one step. Returns false,
// with the reason in `error` (when given), when it cannot be written; an
// entry that was there before is then left as it was.
bool write(const StartOptions& options, QString* error = nullptr);

// Removes the entry. Returns true when it is gone (also when it was never
// there); false with the reason in `error` (when given) otherwise.
bool remove(QString* error = nullptr);

} // namespace Autostart
