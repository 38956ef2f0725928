#pragma once

#include "MessageBox.h"

// The desktop's message box (QMessageBox), titled "Ringwarden". The program
// installs it in the runtime's services at start-up (see main.cpp), in place
// of the core's notice on standard error.
class QtMessageBox final : public MessageBox
{
public:
    void show(const QString& text, const QString& detail) override;
    // A box of its own that is not modal and deletes itself once dismissed.
    void post(const QString& text, const QString& detail) override;
    // A box of its own with the two answers as its buttons, not modal; it
    // deletes itself once answered. Escape and the close box answer `reject`.
    void ask(const QString& question, const QString& detail, const QString& accept,
        const QString& reject, std::function<void(bool accepted)> answered) override;
};
