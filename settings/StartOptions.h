#pragma once

#include <QString>
#include <QStringList>

// How the program was asked to start: its command line, read once in main()
// and handed to the settings window. With no options this is the plain
// start: the settings window with port "4" and the sound box unticked.
//
//   ringwarden [--listen] [--port PORT] [--sound]
//
// Further options only need a member here and a line in parse().
struct StartOptions
{
    // The port box's text when none is given.
    static inline const QString kDefaultPort = QStringLiteral("4");
    // The exit status of a command line that cannot be used.
    static constexpr int kUsageError = 2;

    // Listen at once, without the settings window (--listen).
    bool listen = false;
    // The port box's text (--port), read by the box's own rules.
    QString port = kDefaultPort;
    // The sound box ticked (--sound): the stored ring tone plays at a ring.
    bool sound = false;

    struct Parsed;
    // Reads `arguments` (the program's name first, as in argv). Changes
    // nothing and prints nothing: the caller prints what the result says.
    // Qt's own options (-platform xcb, -display :1, ...) are accepted and
    // left for QApplication, which takes them out of argv itself.
    static Parsed parse(const QStringList& arguments);
};

// What the command line asks for: either a start with `options`, or an
// end at once (`exit`) with `exitStatus`, after printing `output` on
// standard output (--help, --version) or `error`, one line, on standard
// error (an unknown option, a missing value: status kUsageError).
struct StartOptions::Parsed
{
    StartOptions options;
    bool exit = false;
    int exitStatus = 0;
    QString output;
    QString error;
};
