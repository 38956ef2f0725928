#include "welcome.h"

#include "Alert.h"
#include "Autostart.h"
#include "Eula.h"
#include "Image.h"
#include "Label.h"
#include "MediaPlayer.h"
#include "ModemLink.h"
#include "Qhelp.h"
#include "RegModule.h"
#include "RingTones.h"
#include "Runtime.h"

#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

namespace {

// Labels and the sound box stand on the highlighted-text colour (white on
// the usual desktops), so they read on top of the backdrop.
void colourCaption(QWidget* control, const QColor& text)
{
    QPalette colours = control->palette();
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::Window, control->palette().color(QPalette::HighlightedText));
    control->setPalette(colours);
    control->setAutoFillBackground(true);
}

} // namespace

welcome::welcome(const StartOptions& options, QWidget* parent)
    : Form(parent)
    , m_options(options)
    , m_client(new QWidget(this))
{
    setWindowTitle(QStringLiteral("Ringwarden"));
    setWindowIcon(QIcon(QStringLiteral(":/ringwarden/icons/ringwarden-16.png")));
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(192, 192, 255));
    setPalette(background);
    setAutoFillBackground(true);

    // The menu bar sits above the client area.
    auto* menuBar = new QMenuBar(this);
    mnubegin = menuBar->addMenu(QStringLiteral("&Start"));
    mnuHidelisten = mnubegin->addAction(QStringLiteral("Start &Listening"));
    mnuAutostart = mnubegin->addAction(QStringLiteral("Start listening &when I log in"));
    mnuAutostart->setCheckable(true);
    mnuExit = mnubegin->addAction(QStringLiteral("E&xit"));
    mnuHelp = menuBar->addMenu(QStringLiteral("&Help"));
    mnugethelp = mnuHelp->addAction(QStringLiteral("&What's this"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menuBar);
    layout->addWidget(m_client);
    m_client->setFixedSize(pixelsX(9915), pixelsY(7395));

    // Made first, so every other control lies on top of it.
    Image1 = new Image(QPixmap(QStringLiteral(":/ringwarden/backdrop.png")), m_client);
    placeTwips(Image1, 120, 120, 9600, 7200);

    Combo1 = new QComboBox(m_client);
    Combo1->setEditable(true);
    Combo1->addItems({ QStringLiteral("Ring #1"), QStringLiteral("Ring #2"),
        QStringLiteral("Ring #3"), QStringLiteral("Ring #4"), QStringLiteral("Ring #5") });
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QStringLiteral("Select Ringtone"));
    // The text stays as typed: no completion (it would turn "ring #1" into
    // "Ring #1") and no new list entry on Enter.
    Combo1->setCompleter(nullptr);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    placeTwips(Combo1, 4200, 960, 1575, 315);
    Combo1->hide();

    Label3 = new Label(QStringLiteral("Play a preview of the sound now"), m_client);
    placeTwips(Label3, 3240, 6000, 3375, 255);
    Label3->setFont(textFont(9, true));
    colourCaption(Label3, Qt::red);
    Label3->hide();

    Image2 = new Image(QPixmap(QStringLiteral(":/ringwarden/play.png")), m_client);
    placeTwips(Image2, 6720, 5880, 315, 405);
    Image2->setCursor(Qt::PointingHandCursor);
    Image2->hide();

    Label1 = new Label(QStringLiteral("On this computer I always use Com Port Number"), m_client);
    placeTwips(Label1, 840, 6960, 3495, 255);
    colourCaption(Label1, Qt::blue);

    Text1 = new QLineEdit(QStringLiteral("4"), m_client);
    placeTwips(Text1, 4320, 6960, 255, 285);

    Label2 = new Label(QStringLiteral("Play a sound when the phone rings (checkbox)"), m_client);
    placeTwips(Label2, 4920, 6960, 3615, 255);
    colourCaption(Label2, Qt::blue);

    // Its caption lies beyond the control's width: only the box shows.
    Check1 = new QCheckBox(QStringLiteral("Check1"), m_client);
    placeTwips(Check1, 8520, 6840, 255, 375);
    colourCaption(Check1, palette().color(QPalette::WindowText));

    setTabOrder(Text1, Check1);
    setTabOrder(Check1, Combo1);

    connect(Check1, &QCheckBox::clicked, this, &welcome::Check1_Click);
    connect(Image2, &Image::Click, this, &welcome::Image2_Click);
    connect(mnugethelp, &QAction::triggered, this, &welcome::mnugethelp_Click);
    connect(mnuExit, &QAction::triggered, this, &welcome::mnuExit_Click);
    connect(mnubegin, &QMenu::aboutToShow, this, &welcome::mnubegin_AboutToShow);
    connect(mnuAutostart, &QAction::triggered, this, &welcome::mnuAutostart_Click);
    // Queued: listening never returns, so it must not run inside the menu's
    // own mouse or key handling.
    connect(mnuHidelisten, &QAction::triggered, this, &welcome::mnuHidelisten_Click,
        Qt::QueuedConnection);
}

welcome::~welcome() = default;

void welcome::Form_Load()
{
    // The Alert window, loaded now and shown when listening starts.
    m_alert = std::make_unique<Alert>();
    m_alert->setStartWindow(this);
    m_alert->Load();

    // The boxes as the command line set them.
    Text1->setText(m_options.port);
    if (m_options.sound) {
        Check1->setChecked(true);
        Check1_Click();
    }

    // The agreement comes first until the user has accepted it; it shows
    // this window when accepted, or goes on to listening.
    const QString accepted = RegModule::GetRegValue(
        RegModule::HKEY_CURRENT_USER, Eula::kFlagKeyPath, Eula::kFlagValueName);
    if (accepted.isEmpty()) {
        m_eula = std::make_unique<Eula>();
        m_eula->setStartWindow(this);
        if (m_options.listen)
            m_eula->setAfterAgreeing([this] { listenSoon(); });
        m_eula->Show();
        Hide();
        Runtime::DoEvents();
    } else if (m_options.listen) {
        listenSoon();
    } else {
        Show();
    }
}

void welcome::listenSoon()
{
    QMetaObject::invokeMethod(this, &welcome::listenAtStart, Qt::QueuedConnection);
}

void welcome::closeEvent(QCloseEvent* event)
{
    event->accept();
    Runtime::End();
}

void welcome::Check1_Click()
{
    if (Check1->isChecked()) {
        Combo1->setVisible(true);
        Label3->setVisible(true);
        Image2->setVisible(true);
        m_alert->Check1->setChecked(true);
    }
    if (!Check1->isChecked()) {
        Combo1->setVisible(false);
        Label3->setVisible(false);
        Image2->setVisible(false);
        m_alert->Check1->setChecked(false);
    }
}

void welcome::setPlayer(std::unique_ptr<MediaPlayer> player)
{
    MMControl1 = std::move(player);
}

void welcome::Image2_Click()
{
    if (!MMControl1)
        MMControl1 = QtMediaPlayer::create();
    // No player without a multimedia backend: the preview is silent.
    if (!MMControl1)
        return;
    QString strFilename;
    PlaySound(*MMControl1, strFilename);
}

void welcome::PlaySound(MediaPlayer& objMMControl, QString& strFilename)
{
    RingTones::play(
        objMMControl, strFilename, [this] { return Combo1->currentText(); },
        RingTones::AfterPlay::SendWait);
}

void welcome::newchoice()
{
    RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER, RingTones::kSoundKeyPath,
        RingTones::kSoundValueName, Combo1->currentText());
}

void welcome::mnugethelp_Click()
{
    // Once closed (unloaded), it comes back afresh, without what was typed
    // into it.
    if (!m_help || !m_help->isLoaded())
        m_help = std::make_unique<Qhelp>();
    m_help->Show();
}

void welcome::mnubegin_AboutToShow()
{
    // The entry may have been removed, or switched off by the desktop's
    // own settings, since the menu last opened.
    mnuAutostart->setChecked(Autostart::enabled());
}

void welcome::mnuAutostart_Click(bool checked)
{
    QString error;
    if (checked) {
        if (!Autostart::write(logInOptions(), &error))
            Runtime::MsgBox(
                QStringLiteral("Cannot start listening at log-in: ") + Autostart::path(), error);
    } else if (!Autostart::remove(&error)) {
        Runtime::MsgBox(QStringLiteral("Cannot remove ") + Autostart::path(), error);
    }
    mnuAutostart->setChecked(Autostart::enabled());
}

void welcome::mnuExit_Click()
{
    // Nothing is listening yet, so there is no port to close.
    Runtime::End();
}

StartOptions welcome::logInOptions() const
{
    StartOptions options;
    options.listen = true;
    options.port = Text1->text();
    options.sound = Check1->isChecked();
    return options;
}

void welcome::mnuHidelisten_Click()
{
    listen(true);
}

void welcome::listenAtStart()
{
    // The sound box was ticked by --sound, not by a choice of tone here:
    // the stored tone stays.
    listen(false);
}

void welcome::listen(bool storeTone)
{
    if (m_listening || Runtime::PrevInstance())
        return;
    m_listening = true;
    if (storeTone && Check1->isChecked())
        newchoice();

    // Listening from the log-in on: the entry follows this start, and the
    // run is one that a call does not end.
    const bool atLogin = Autostart::enabled();
    if (atLogin) {
        QString error;
        if (!Autostart::write(logInOptions(), &error))
            Runtime::Notice(
                QStringLiteral("Cannot update the log-in start ") + Autostart::path(), error);
    }
    m_alert->setAlwaysOn(m_options.listen || atLogin);
    Runtime::DoEvents();
    // Read now: the Alert window's activation closes this window.
    const QString portName = QStringLiteral("COM") + Text1->text();
    Hide();
    m_alert->Show();
    m_alert->prepareSound();
    ModemLink::SetUpModem(portName);
    ModemLink::Listen(*m_alert);
}
