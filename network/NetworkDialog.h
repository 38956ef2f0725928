#pragma once

#include "NetworkSettings.h"

#include <QDialog>
#include <QTimer>
#include <memory>

class BrokerLink;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

// "Home network...": edits where the home network's broker is, the user
// name and password for it, and this computer's station name, and shows
// whether the broker answers. It opens with the stored values (the station
// name defaults to the host name's).
//
// "Test connection" tries the broker with what is entered, on the
// connection's own thread: the dialog and every other window go on while
// it tries, and the answer ("The broker answers." or why not) comes in
// the dialog within about ten seconds. "Save" checks every value first:
// anything wrong is said in the dialog and nothing is stored; otherwise
// all four values are stored and the dialog closes. They count from the
// next "Start Listening".
class NetworkDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NetworkDialog(QWidget* parent = nullptr);
    ~NetworkDialog() override;

    // Checks and stores, or says what is wrong and stays open.
    void accept() override;
    void testConnection();

    // The values as entered; an empty station is the default one.
    NetworkSettings entered() const;
    // What the dialog says under the fields.
    QString message() const;
    // True while a test connection is under way.
    bool testing() const { return m_test != nullptr; }

    QLineEdit* broker = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* station = nullptr;
    QPushButton* test = nullptr;
    QDialogButtonBox* buttons = nullptr;

    // How long a test connection may take.
    static constexpr int kTestSeconds = 10;

private:
    void say(const QString& text, bool good);
    void endTest(const QString& text, bool good);

    QLabel* m_message = nullptr;
    std::unique_ptr<BrokerLink> m_test;
    QTimer m_testLimit;
};
