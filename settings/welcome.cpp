#include "welcome.h"

#include "Alert.h"
#include "Label.h"
#include "ModemLink.h"
#include "RegModule.h"
#include "RingTones.h"
#include "Runtime.h"

#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

namespace {

void colourLabel(Label* label, const QColor& text)
{
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::Window, label->palette().color(QPalette::HighlightedText));
    label->setPalette(colours);
    label->setAutoFillBackground(true);
}

} // namespace

welcome::welcome(QWidget* parent)
    : Form(parent)
    , m_client(new QWidget(this))
{
    setWindowTitle(QStringLiteral("Ringwarden"));
    setWindowIcon(QIcon(QStringLiteral(":/ringwarden/ringwarden.xpm")));
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(192, 192, 255));
    setPalette(background);
    setAutoFillBackground(true);

    // The menu bar sits above the client area.
    auto* menuBar = new QMenuBar(this);
    mnubegin = menuBar->addMenu(QStringLiteral("&Start"));
    mnuHidelisten = mnubegin->addAction(QStringLiteral("Start &Listening"));
    mnuExit = mnubegin->addAction(QStringLiteral("E&xit"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menuBar);
    layout->addWidget(m_client);
    m_client->setFixedSize(pixelsX(9915), pixelsY(7395));

    Combo1 = new QComboBox(m_client);
    Combo1->setEditable(true);
    Combo1->addItems({ QStringLiteral("Ring #1"), QStringLiteral("Ring #2"),
        QStringLiteral("Ring #3"), QStringLiteral("Ring #4"), QStringLiteral("Ring #5") });
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QStringLiteral("Select Ringtone"));
    placeTwips(Combo1, 4200, 960, 1575, 315);
    Combo1->hide();

    Label3 = new Label(QStringLiteral("Play a preview of the sound now"), m_client);
    placeTwips(Label3, 3240, 6000, 3375, 255);
    QFont bold = Label3->font();
    bold.setPointSizeF(9.75);
    bold.setBold(true);
    Label3->setFont(bold);
    colourLabel(Label3, Qt::red);
    Label3->hide();

    Label1 = new Label(QStringLiteral("On this computer I always use Com Port Number"), m_client);
    placeTwips(Label1, 840, 6960, 3495, 255);
    colourLabel(Label1, Qt::blue);

    Text1 = new QLineEdit(QStringLiteral("4"), m_client);
    placeTwips(Text1, 4320, 6960, 255, 285);

    Label2 = new Label(QStringLiteral("Play a sound when the phone rings (checkbox)"), m_client);
    placeTwips(Label2, 4920, 6960, 3615, 255);
    colourLabel(Label2, Qt::blue);

    Check1 = new QCheckBox(m_client);
    placeTwips(Check1, 8520, 6840, 255, 375);

    setTabOrder(Text1, Check1);
    setTabOrder(Check1, Combo1);

    connect(Check1, &QCheckBox::clicked, this, &welcome::Check1_Click);
    // Queued: listening never returns, so it must not run inside the menu's
    // own mouse or key handling.
    connect(mnuHidelisten, &QAction::triggered, this, &welcome::mnuHidelisten_Click,
        Qt::QueuedConnection);
    // Before listening nothing is open yet: Exit closes this window, the last
    // one shown, which ends the program.
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
}

welcome::~welcome() = default;

void welcome::Form_Load()
{
    m_alert = std::make_unique<Alert>();
    m_alert->setStartWindow(this);
    m_alert->Load();
}

void welcome::Check1_Click()
{
    const bool ticked = Check1->isChecked();
    Combo1->setVisible(ticked);
    Label3->setVisible(ticked);
    m_alert->Check1->setChecked(ticked);
}

void welcome::newchoice()
{
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER, RingTones::kSoundKeyPath,
        RingTones::kSoundValueName, Combo1->currentText());
}

void welcome::mnuHidelisten_Click()
{
    if (Runtime::PrevInstance())
        return;
    if (Check1->isChecked())
        newchoice();
    Runtime::DoEvents();
    // Read now: the Alert window's activation closes this window.
    const QString portName = QStringLiteral("COM") + Text1->text();
    Hide();
    m_alert->Show();
    ModemLink::SetUpModem(portName);
    ModemLink::Listen(*m_alert);
}
