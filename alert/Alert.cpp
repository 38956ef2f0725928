#include "Alert.h"

#include "CallNotifier.h"
#include "DesktopSession.h"
#include "Label.h"
#include "MediaPlayer.h"
#include "Module2.h"
#include "RingTones.h"
#include "Runtime.h"
#include "TextBox.h"
#include "Visual.h"

#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <algorithm>
#include <limits>

namespace {

// The desktop's sans-serif font at a given size and weight, for the labels
// and the output box.
QFont sansFont(qreal points, bool bold)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

Alert::Alert(QWidget* parent)
    : Form(parent)
    , txtOut(new TextBox(this))
    , Text1(new TextBox(this))
    , Check1(new QCheckBox(QStringLiteral("Check1"), this))
    , Command1(new QPushButton(QStringLiteral("Stealth mode"), this))
    , Command3(new QPushButton(QStringLiteral("VIEW LOG FILE"), this))
    , Label4(new Label(QString(), this))
    , MMControl1(std::make_unique<QtMediaPlayer>())
    , m_desktop(std::make_unique<SystemDesktopSession>(
          QStringLiteral("Ringwarden"), QImage(QStringLiteral(":/ringwarden/ringwarden.xpm"))))
    , m_callNotifier(std::make_unique<CallNotifier>(*m_desktop))
{
    setWindowTitle(QStringLiteral("Activating modem..."));
    setWindowIcon(QIcon(QStringLiteral(":/ringwarden/ringwarden.xpm")));
    setClientSizeTwips(10560, 2685);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(0, 0, 192));
    setPalette(background);
    setAutoFillBackground(true);

    // The output box: green bold text on black, editable, no scroll bars.
    placeTwips(txtOut, 480, 840, 9885, 1095);
    QPalette output = txtOut->palette();
    output.setColor(QPalette::Base, Qt::black);
    output.setColor(QPalette::Text, QColor(0, 255, 0));
    txtOut->setPalette(output);
    txtOut->setFont(sansFont(12, true));
    txtOut->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtOut->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    placeTwips(Command1, 2880, 1920, 5280, 360);

    // The ring count and the play-sound flag are kept in controls the user
    // never sees.
    placeTwips(Text1, 1800, 1560, 375, 285);
    Text1->setText(QStringLiteral("0"));
    Text1->hide();
    placeTwips(Check1, 6360, 360, 255, 195);
    Check1->hide();

    // The call log's button and label lie below the client area; they come
    // into view only when the user makes the window taller.
    placeTwips(Command3, 6960, 5400, 135, 195);
    placeTwips(Label4, 7560, 5280, 165, 210);
    Label4->setFont(sansFont(8.25, true));

    setTabOrder(txtOut, Command1);

    connect(txtOut, &TextBox::Change, this, &Alert::txtOut_Change);
    connect(Command1, &QPushButton::clicked, this, &Alert::Command1_Click);
}

Alert::~Alert() = default;

void Alert::setPlayer(std::unique_ptr<MediaPlayer> player)
{
    MMControl1 = std::move(player);
}

void Alert::setReceivedText(const QString& text)
{
    // Any text from the modem keeps the current call going.
    if (!text.isEmpty())
        m_callNotifier->modemSpoke();
    txtOut->setText(text);
}

void Alert::setNmbrPos(qint16 position)
{
    NmbrPos = position;
}

Visual* Alert::visual() const
{
    return m_visual && m_visual->isLoaded() ? m_visual.get() : nullptr;
}

void Alert::txtOut_Change()
{
    // The count saturates instead of overflowing after 32767 changes.
    const int previous = Text1->text().toInt();
    const int count = std::min(previous + 1, int(std::numeric_limits<qint16>::max()));
    Text1->setText(QString::number(count));

    if (count == 2)
        setWindowTitle(QStringLiteral("Listening for calls"));

    if (count > 2) {
        showVisual();
        // Back into view, also after "Stealth mode" hid the window.
        setVisible(true);
        raise();
        Command1->setVisible(false);
        move(x(), 0);
        setWindowTitle(QStringLiteral("The Phone is ringing now"));
    }

    if (Check1->isChecked() && count >= 3) {
        QString strFilename;
        PlaySound(*MMControl1, strFilename);
    }

    // Last, so the band, the window and the tone never wait for the desktop.
    if (count > 2)
        m_callNotifier->ring(notifiedCaller());
}

QString Alert::notifiedCaller() const
{
    return QString();
}

void Alert::showVisual()
{
    // A band the user closed is made afresh, with a new star field.
    if (!m_visual || !m_visual->isLoaded())
        m_visual = std::make_unique<Visual>([this] { Unload(); });
    m_visual->Show();
}

void Alert::PlaySound(MediaPlayer& objMMControl, QString& strFilename)
{
    RingTones::play(objMMControl, strFilename, RingTones::storedChoice);
}

void Alert::Form_Activate()
{
    if (m_startWindow)
        m_startWindow->Unload();
    Runtime::DoEvents();
    Runtime::Pause(3.0f);
    Module2::ReceivedText.clear();
}

void Alert::Command1_Click()
{
    setVisible(false);
}

void Alert::Form_Unload()
{
    if (Module2::PortIsOpen())
        Module2::ClosePort();
    Runtime::End();
}
