#pragma once

#include <QByteArray>
#include <QString>

class QDateTime;
class QLocale;

// The call log: a plain-text file with one line per call, the local date and
// time at which it was written and the caller's number:
//
//      08.12.26 05:04:03   5551234
//
// Three blanks, the date in the locale's short format, one blank, the time
// with seconds, blanks up to column 24, the number, CR LF. A date and time
// reaching column 23 or beyond are followed by one blank instead, so every
// record stays one line and the number never runs into the time.
//
// The file holds one byte per character (Latin-1, as the modem's own text)
// and is only ever appended to. Callers' numbers are personal data: the file
// is created readable by its owner alone, in folders only its owner can
// enter. It uses nothing of the window system.
namespace CallLog {

// The number starts at this column (1-based).
constexpr int kNumberColumn = 24;

// $XDG_DATA_HOME/ringwarden/InBox.LOG (default
// ~/.local/share/ringwarden/InBox.LOG).
QString path();

// True when `caption` is a text that converts to a number: optional blanks
// around an optional sign, digits with an optional decimal point and an
// optional exponent ("5551234", " 12 ", "-1.5e3"). The empty text, "P" and
// "555-1234" are not.
bool isNumeric(const QString& caption);

// `moment` as the log writes it: the date in `locale`'s short format, one
// blank, the time with seconds (the locale's long time format without its
// time zone). When the locale's text cannot be written one byte per
// character (digits of another script), "yyyy-MM-dd HH:mm:ss" instead.
QString dateTimeText(const QDateTime& moment, const QLocale& locale);

// One record, CR LF included, for the date and time text `dateTime` and
// the caller's number `number`.
QString record(const QString& dateTime, const QString& number);

// `text` one byte per character: Latin-1, with a blank for any other kind
// of space and "?" for any other character outside Latin-1.
QByteArray bytes(const QString& text);

// Opens the log at `logPath` for appending, writes `record` (nothing when
// it is empty) in a single write, and closes it. Missing folders are created
// with mode 0700 and a missing file with mode 0600, also when nothing is
// written. Returns false, with the reason in `error` (when given), when the
// folder or file cannot be made or opened or the write falls short; what
// the file held before is never changed.
bool append(const QString& logPath, const QString& record, QString* error = nullptr);

} // namespace CallLog
