#pragma once

#include "Form.h"

#include <QLatin1String>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

class Label;
class TextBox;

// The first-run agreement. The settings window shows it at start-up while no
// acceptance is stored, and stays hidden meanwhile.
//  - "I Agree" is disabled until the confirmation mark `Option1` is
//    selected; it stores "^" as the acceptance, closes this window and shows
//    the settings window (or goes on as setAfterAgreeing says).
//  - "I Disagree", and closing this window by its title bar, end the program
//    at once; nothing is stored.
// The agreement text can be edited in the box, but nothing typed is kept.
class Eula : public Form
{
    Q_OBJECT

public:
    // Where the acceptance is stored (RegModule, current user's root). Any
    // non-empty text counts as accepted.
    static inline constexpr QLatin1String kFlagKeyPath { "Software\\Ringwarden\\Eula" };
    static inline constexpr QLatin1String kFlagValueName { "Eula" };

    explicit Eula(QWidget* parent = nullptr);

    // The window that "I Agree" shows.
    void setStartWindow(Form* window) { m_startWindow = window; }
    // What "I Agree" goes on to instead of showing the start window.
    void setAfterAgreeing(std::function<void()> next) { m_afterAgreeing = std::move(next); }

    TextBox* txtEULA = nullptr;
    QRadioButton* Option1 = nullptr;
    Label* Label1 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

protected:
    // The close box is "I Disagree".
    void closeEvent(QCloseEvent* event) override;

private:
    void Option1_Click();
    void Command1_Click();
    [[noreturn]] void Command2_Click();

    QPointer<Form> m_startWindow;
    std::function<void()> m_afterAgreeing;
};
