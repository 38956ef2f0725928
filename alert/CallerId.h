#pragma once

#include <QString>
#include <optional>

class QFont;

// Who is calling, read from the modem's formatted caller-ID report, for the
// ringing band and the call log. The report comes as lines such as
//
//   DATE = 1208
//   TIME = 0500
//   NMBR = 5551234
//   NAME = JOHN DOE
//
// Modems differ in the blanks around the equals sign ("NMBR=5551234" is as
// common), so a field's value starts after its key, optional blanks, an
// optional "=" and optional blanks again. A withheld number reads "P", one
// that is not available "O".
//
// Everything taken from the modem is cut to a length and holds no control
// characters, so it can be shown and written to the log as one line.
namespace CallerId {

// A number is at most this long (it ends earlier at its first control
// character: CR, LF, NUL ...).
constexpr qsizetype kMaxNumberLength = 15;
// Any other field is cut to this length.
constexpr qsizetype kMaxFieldLength = 40;

// The band's text when nobody is known to be calling.
inline constexpr QLatin1String kRinging { "The phone is ringing" };

struct Caller
{
    QString number; // as the modem gave it: digits, "P" or "O"; may be empty
    QString name; // "" when there was no NAME line
};

// What one pass of the listening loop tells of the caller: the number when
// it holds a "NMBR", the name when it holds a "NAME". Modems send either
// without the other (no NAME line on many lines), and a report split over
// two passes brings them one at a time.
struct Report
{
    std::optional<QString> number;
    std::optional<QString> name;
    bool isEmpty() const { return !number && !name; }
};

// The caller's number in `text`, taken after the "NMBR" that the listening
// loop's position `nmbrPos` (the key's 1-based position plus 7) points past;
// when that position does not point past a "NMBR" (a position clipped to the
// 16-bit range), after the first "NMBR". "" when `text` has no "NMBR".
QString numberAt(const QString& text, qint16 nmbrPos);

// The caller that `text` (one pass of the listening loop) reports, from its
// first "NMBR" and its first "NAME"; nothing when it holds no "NMBR". The
// number ends at its first control character and at kMaxNumberLength; the
// name is the rest of its line without control characters, cut to
// kMaxFieldLength. Trailing blanks are dropped from both.
std::optional<Caller> find(const QString& text);
// The same fields as find, each on its own: the number from the first
// "NMBR", the name from the first "NAME".
Report read(const QString& text);

// The caller as the user reads it: the number, then one blank and the name
// when there is one ("5551234 JOHN DOE"). "P" reads "private number", "O" or
// no number at all "unknown number"; a name that only repeats "P" or "O"
// is left out.
QString describe(const Caller& caller);
// The same for what is known so far: as above when the number is known;
// before it, the name alone ("P" and "O" read as above); "" for nothing.
QString describe(const Report& report);

// The band's text for the caller `description` (from describe, "" when no
// caller is known): kRinging, followed by ": " and the description. When
// that is wider in `font` than `widthPixels` (the band), the description is
// shortened at its end with an ellipsis until the whole text fits, so the
// number, which comes first, stays in view.
QString bandText(const QString& description, const QFont& font, int widthPixels);

} // namespace CallerId
