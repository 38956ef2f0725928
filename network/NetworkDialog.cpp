#include "NetworkDialog.h"

#include "BrokerLink.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

NetworkDialog::NetworkDialog(QWidget* parent)
    : QDialog(parent)
    , broker(new QLineEdit(this))
    , user(new QLineEdit(this))
    , password(new QLineEdit(this))
    , station(new QLineEdit(this))
    , test(new QPushButton(QStringLiteral("&Test connection"), this))
    , buttons(new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this))
    , m_message(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Home network"));
    setWindowIcon(QIcon(QStringLiteral(":/ringwarden/icons/ringwarden-16.png")));

    auto* intro = new QLabel(
        QStringLiteral("Announce every call on your home network's MQTT broker (Mosquitto, or "
                       "Home Assistant's), and show the calls of other computers. Leave the "
                       "broker empty to switch this off. A computer without a modem listens "
                       "when its port is \"network\"."),
        this);
    intro->setWordWrap(true);

    broker->setPlaceholderText(QStringLiteral("mqtt://homeassistant.local:1883"));
    password->setEchoMode(QLineEdit::Password);
    station->setPlaceholderText(NetworkSettings::defaultStation());
    station->setMaxLength(NetworkSettings::kMaxStationLength);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Broker:"), broker);
    form->addRow(QStringLiteral("&User:"), user);
    form->addRow(QStringLiteral("&Password:"), password);
    form->addRow(QStringLiteral("Statio&n:"), station);

    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setMinimumHeight(m_message->fontMetrics().lineSpacing() * 3);

    buttons->addButton(test, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);

    const NetworkSettings stored = NetworkSettings::load();
    broker->setText(stored.broker);
    user->setText(stored.user);
    password->setText(stored.password);
    station->setText(stored.station);

    m_testLimit.setSingleShot(true);
    m_testLimit.setInterval(kTestSeconds * 1000);

    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NetworkDialog::reject);
    connect(test, &QPushButton::clicked, this, &NetworkDialog::testConnection);
    connect(&m_testLimit, &QTimer::timeout, this, [this] {
        endTest(QStringLiteral("No answer from the broker within %1 seconds.").arg(kTestSeconds),
            false);
    });
}

NetworkDialog::~NetworkDialog() = default;

NetworkSettings NetworkDialog::entered() const
{
    NetworkSettings settings;
    settings.broker = broker->text().trimmed();
    settings.user = user->text();
    settings.password = password->text();
    settings.station = station->text().trimmed().toLower();
    if (settings.station.isEmpty())
        settings.station = NetworkSettings::defaultStation();
    return settings;
}

QString NetworkDialog::message() const
{
    return m_message->text();
}

void NetworkDialog::say(const QString& text, bool good)
{
    QPalette colours = m_message->palette();
    colours.setColor(QPalette::WindowText, good ? QColor(0, 110, 0) : QColor(180, 0, 0));
    m_message->setPalette(colours);
    m_message->setText(text);
}

void NetworkDialog::accept()
{
    const QString problem = entered().store();
    if (!problem.isEmpty()) {
        say(problem, false);
        return;
    }
    QDialog::accept();
}

void NetworkDialog::testConnection()
{
    const NetworkSettings settings = entered();
    if (!settings.enabled()) {
        say(QStringLiteral(
                "Give the broker's address first, for example mqtt://homeassistant.local."),
            false);
        return;
    }
    const QString problem = settings.check();
    if (!problem.isEmpty()) {
        say(problem, false);
        return;
    }
    BrokerLink::Options options;
    options.address = *settings.address();
    options.user = settings.user;
    options.password = settings.password;
    options.clientName = QStringLiteral("ringwarden-test");
    options.once = true;
    m_test = std::make_unique<BrokerLink>(options);
    // Only the first answer counts, and only while the test is on.
    connect(m_test.get(), &BrokerLink::connected, this, [this] {
        if (m_testLimit.isActive())
            endTest(QStringLiteral("The broker at %1 answers.")
                        .arg(m_test->options().address.display()),
                true);
    });
    connect(m_test.get(), &BrokerLink::disconnected, this, [this](const QString& reason) {
        if (m_testLimit.isActive())
            endTest(QStringLiteral("The broker at %1 does not answer: %2.")
                        .arg(m_test->options().address.display(), reason),
                false);
    });
    test->setEnabled(false);
    say(QStringLiteral("Trying %1 ...").arg(options.address.display()), true);
    m_testLimit.start();
    m_test->start();
}

void NetworkDialog::endTest(const QString& text, bool good)
{
    m_testLimit.stop();
    say(text, good);
    test->setEnabled(true);
    // Not inside the link's own signal: it goes once that has returned.
    QTimer::singleShot(0, this, [this] { m_test.reset(); });
}
