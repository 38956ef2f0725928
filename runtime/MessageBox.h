#pragma once

#include <QString>
#include <functional>

// A modal notice with a single OK button, no icon and the application's
// title. `show` returns once the user has dismissed it.
class MessageBox
{
public:
    virtual ~MessageBox() = default;

    // `text` is the notice itself; `detail`, when not empty, is a second,
    // smaller line with the technical reason.
    virtual void show(const QString& text, const QString& detail) = 0;

    // The same notice without waiting for it: returns at once and leaves the
    // notice up until the user dismisses it, so a program that is listening
    // goes on listening meanwhile. By default the same as `show`.
    virtual void post(const QString& text, const QString& detail) { show(text, detail); }

    // A question with two answers that does not wait either: returns at once
    // and leaves the question up; `answered` is called later, once, on the
    // window thread, with true for `accept` and false for `reject` (also
    // when the user dismisses the question some other way). `detail`, when
    // not empty, is a second, smaller line.
    virtual void ask(const QString& question, const QString& detail, const QString& accept,
        const QString& reject, std::function<void(bool accepted)> answered)
        = 0;
};

// The notice for a program without windows: one line on standard error,
// "ringwarden: <text>" with ": <detail>" after it when there is one. Returns
// at once. It is the runtime's message box until a program with windows
// installs the desktop's (QtMessageBox).
class StandardErrorMessageBox final : public MessageBox
{
public:
    void show(const QString& text, const QString& detail) override;
    // Nobody can answer on standard error: the question is printed and
    // answered `reject` at once, the answer that changes nothing.
    void ask(const QString& question, const QString& detail, const QString& accept,
        const QString& reject, std::function<void(bool accepted)> answered) override;
};
