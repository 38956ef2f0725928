#include "Eula.h"

#include "Label.h"
#include "RegModule.h"
#include "Runtime.h"
#include "TextBox.h"

#include <QCloseEvent>
#include <QFile>

namespace {

QString agreementText()
{
    QFile file(QStringLiteral(":/ringwarden/agreement.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

Eula::Eula(QWidget* parent)
    : Form(parent)
    , txtEULA(new TextBox(this))
    , Option1(new QRadioButton(QStringLiteral("Option1"), this))
    , Label1(new Label(QStringLiteral("I have read the agreement and approve."), this))
    , Command1(new QPushButton(QStringLiteral("I Agree"), this))
    , Command2(new QPushButton(QStringLiteral("I Disagree"), this))
{
    setWindowTitle(QStringLiteral(" Eula"));
    setWindowIcon(QIcon(QStringLiteral(":/ringwarden/eula-16.png")));
    setClientSizeTwips(8550, 5100);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(0, 0, 128));
    setPalette(background);
    setAutoFillBackground(true);

    placeTwips(txtEULA, 600, 240, 7575, 3735);
    txtEULA->setText(agreementText());
    txtEULA->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the confirmation mark instead of typing a tab.
    txtEULA->setTabChangesFocus(true);

    // The mark and its caption stand on white, the colour of title-bar text
    // on the usual desktops (Qt's palette has no role for it). The mark's
    // own caption lies beyond its width: only the circle shows.
    for (QWidget* control : { static_cast<QWidget*>(Option1), static_cast<QWidget*>(Label1) }) {
        QPalette colours = control->palette();
        colours.setColor(QPalette::Window, Qt::white);
        control->setPalette(colours);
        control->setAutoFillBackground(true);
    }
    placeTwips(Option1, 1200, 4320, 255, 255);
    placeTwips(Label1, 1680, 4320, 2895, 255);

    placeTwips(Command1, 5160, 4320, 1000, 400);
    Command1->setEnabled(false);
    placeTwips(Command2, 6600, 4320, 1000, 400);

    setTabOrder(txtEULA, Option1);
    setTabOrder(Option1, Command1);
    setTabOrder(Command1, Command2);
    txtEULA->setFocus();

    connect(Option1, &QRadioButton::clicked, this, &Eula::Option1_Click);
    connect(Command1, &QPushButton::clicked, this, &Eula::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Eula::Command2_Click);
}

void Eula::closeEvent(QCloseEvent* event)
{
    event->accept();
    Command2_Click();
}

void Eula::Option1_Click()
{
    Command1->setEnabled(true);
}

void Eula::Command1_Click()
{
    // A write that fails is told once by the store; the program goes on,
    // and the agreement is shown again at the next start.
    RegModule::SetRegValue(
        RegModule::HKEY_CURRENT_USER, kFlagKeyPath, kFlagValueName, QStringLiteral("^"));
    Runtime::DoEvents();
    Unload();
    if (m_afterAgreeing)
        m_afterAgreeing();
    else if (m_startWindow)
        m_startWindow->Show();
}

void Eula::Command2_Click()
{
    Runtime::End();
}
