#pragma once

#include <QString>
#include <cstdint>

// The program's per-user settings store: named text values addressed by a
// root, a key path ("Software\Ringwarden\Sound") and a value name ("Sound").
//
// The values live in one INI file, $XDG_CONFIG_HOME/ringwarden/ringwarden.conf
// (~/.config/ringwarden/ringwarden.conf when XDG_CONFIG_HOME is not set). The
// key path's "\" separators become groups, so "Software\Ringwarden\Sound",
// "Sound" is the entry Ringwarden\Sound\Sound of the section [Software].
//
// Every call opens the file, does its one read or write and releases it, so a
// value another process wrote is seen at the next read. A read is silent:
// whatever goes wrong, it gives "". A write the store refuses is not: see
// SetRegValue.
namespace RegModule {

// A root of the store. Only the current user's root holds values.
using Root = std::uint32_t;
inline constexpr Root HKEY_CURRENT_USER = 0x80000001u;

// The text stored under `keyPath` and `valueName` of `root`, cut at its first
// NUL character. Gives "" when the value is missing, when it is not text (a
// list, a byte array or another typed value), for any root but
// HKEY_CURRENT_USER, and when the file cannot be read. Numbers and
// booleans that another program stored are text in the file and read as their
// text ("42", "true").
//
// A file with lines that cannot be parsed is read as far as it can be: the
// values on good lines read as usual, a value on a damaged line reads as "".
QString GetRegValue(Root root, const QString& keyPath, const QString& valueName);

// Stores `value` as text under `keyPath` and `valueName` of `root`, creating
// the file, its folder and the groups as needed, and replacing an earlier
// value. Leading and trailing spaces are kept. Writes nothing for any root but
// HKEY_CURRENT_USER.
//
// The file is rewritten as a whole, under a lock file
// (ringwarden.conf.lock) that serialises writers in different processes. A
// writer that holds the lock re-reads the file and merges its change, so
// values written meanwhile by another process are kept. The folder is made
// private to the user (0700) when it is created, the file is kept private
// (0600). A failed write leaves the earlier file as it was:
// - a file that cannot be opened for reading or cannot be written (no
//   permission, a folder in its place) is never rewritten. The value is then
//   kept in this process for the rest of the run, so GetRegValue here still
//   reads it, and the first such failure of the run shows a notice "Settings
//   cannot be saved" with the file's path and the reason. Other processes
//   and the next run see the file unchanged;
// - in a file with damaged lines, every value that could be read is kept and
//   the damaged lines are dropped by the rewrite.
void SetRegValue(Root root, const QString& keyPath, const QString& valueName, const QString& value);

// The file that holds the store for the current environment.
QString storeFile();

} // namespace RegModule
