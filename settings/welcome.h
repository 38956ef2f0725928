#pragma once

#include "Form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <memory>

class Alert;
class Label;
class QAction;
class QMenu;

// The settings window the program starts with: the port the modem is on,
// whether a ring tone is played on a ring and which one, and the menu that
// starts listening. None of the choices is loaded from the settings store:
// every run starts with port "4", no sound and "Select Ringtone".
//
// It loads the Alert window, hidden, when it loads, and hands over to it
// when listening starts.
class welcome : public Form
{
    Q_OBJECT

public:
    explicit welcome(QWidget* parent = nullptr);
    ~welcome() override;

    // "Start Listening": sets the modem up and polls it for good. Returns
    // at once, doing nothing, when another copy of the program is running.
    void mnuHidelisten_Click();
    // Stores the ring-tone box's text as the chosen tone.
    void newchoice();

    Alert* alert() const { return m_alert.get(); }

    QLineEdit* Text1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QComboBox* Combo1 = nullptr;
    Label* Label1 = nullptr;
    Label* Label2 = nullptr;
    Label* Label3 = nullptr;
    QMenu* mnubegin = nullptr;
    QAction* mnuHidelisten = nullptr;
    QAction* mnuExit = nullptr;

protected:
    void Form_Load() override;

private:
    void Check1_Click();

    QWidget* m_client = nullptr;
    std::unique_ptr<Alert> m_alert;
};
