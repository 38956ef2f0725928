#pragma once

#include <QLoggingCategory>
#include <QString>

// The program's diagnostics, for someone finding out why a modem stays
// silent, a tone does not play, the band is not in front or the home
// network is not heard. Seven logging categories, each silent at debug and
// info level unless switched on, for example with
//
//     QT_LOGGING_RULES='ringwarden.*=true' ringwarden
//
// (QT_MESSAGE_PATTERN='%{time hh:mm:ss.zzz} %{category}: %{message}' puts a
// time in front of every line). What each says:
// - ringwarden.serial: the device opened and its settings as the kernel
//   reads them back, every SendString and ReadPort with its bytes (escaped,
//   with the time), open failures and a device that has gone away;
// - ringwarden.listen: the set-up, each pass of the listening loop, the link
//   lost and back, reopen attempts, no answer, the caller-ID command the
//   modem takes (info) and every command sent while listening with its
//   reply;
// - ringwarden.alert: each change of the received text with the ring count,
//   each "ring reaction", the caller ID and each call-log record;
// - ringwarden.player: each player command and its outcome;
// - ringwarden.store: each settings read or write that failed;
// - ringwarden.network: the home network's broker reached, lost and regained
//   (lost and regained also without any rule), each message published and
//   each message from another station taken or dropped, with the reason.
// - ringwarden.desktop: the window-system platform chosen and why, the
//   alert's placement at a ring and its end, the desktop services asked
//   to keep the screen awake.
// Callers' numbers and the bytes of caller-ID reports only ever appear at
// debug level. Warnings (a call log that cannot be written, no multimedia
// backend, a tone that cannot be played, a modem that reports no callers)
// are printed without any rule.
Q_DECLARE_LOGGING_CATEGORY(lcSerial)
Q_DECLARE_LOGGING_CATEGORY(lcListen)
Q_DECLARE_LOGGING_CATEGORY(lcAlert)
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcNetwork)
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)

namespace Logging {

// `text`, one byte per character as the modem sends it, written the way a C
// string literal would hold it, quotes included: printable ASCII as it is,
// "\r", "\n", "\t", "\\" and "\"" escaped, every other byte as "\xHH"
// ("\"\r\nRING\r\n\""). Characters beyond one byte are written as "\u{HHHH}".
QString escaped(const QString& text);

// The local time of day with milliseconds, "hh:mm:ss.zzz".
QString timeOfDay();

} // namespace Logging
