#include "Visual.h"

#include "Colour.h"
#include "Conversions.h"
#include "Module1.h"
#include "PictureBox.h"
#include "RasterOps.h"
#include "Runtime.h"
#include "Screen.h"
#include "TextBox.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>

using Module1::Centre;
using Module1::MaxRadius;
using Module1::Stars;

namespace {

constexpr double kBandHeightTwips = 5010;
constexpr int kFrameMs = 50;

constexpr qint32 kWhite = Colour::rgb(255, 255, 255);
constexpr qint32 kBlack = Colour::rgb(0, 0, 0);
constexpr qint32 kScreenBack = Colour::rgb(255, 128, 0);
constexpr qint32 kBufferBack = Colour::rgb(255, 255, 192);
constexpr qint32 kBlankBack = Colour::rgb(128, 64, 64);
// The text fades from here to white, kFadeStep per frame and channel.
constexpr qint32 kTextStart = Colour::rgb(10, 10, 0);
constexpr qint32 kFadeStep = 2;

constexpr double kFontPoints = 36;
constexpr double kTwipsPerPoint = 20;
// Added to the measured text size, each way.
constexpr double kTextMarginTwips = 10;

// A star's grey level grows with its distance: 255 per MaxRadius when the
// field is built, 350 per MaxRadius (capped at 255) once it moves, so a
// moving star is white from about three quarters of MaxRadius on.
constexpr double kStartBrightness = 255;
constexpr double kMovingBrightness = 350;
constexpr qint32 kMaxBrightness = 255;

} // namespace

Visual::Visual(std::function<bool()> closePort, std::function<void()> unloadAlert, QWidget* parent)
    : Form(parent)
    , m_closePort(std::move(closePort))
    , m_unloadAlert(std::move(unloadAlert))
{
    setWindowTitle(QStringLiteral("Form1"));
    // Frameless and above everything, with the window manager bypassed: a
    // managed "keep above" window still goes under a focused full-screen
    // window and stays behind on its own virtual desktop, and the band must
    // be seen wherever the user is. It never takes the keyboard: the user
    // may be typing elsewhere when the phone rings.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
        | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCentreAtFirstShow(false);
    // The band outside picScr shows the colour of text on the desktop's
    // highlight, the nearest thing to an active title bar's text.
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(
        QPalette::Window, palette().color(QPalette::Active, QPalette::HighlightedText));
    setPalette(background);
    setClientSizeTwips(Runtime::ScreenWidthTwips(), kBandHeightTwips);

    picScr = new PictureBox(this);
    picScr->setBackground(QColor::fromRgb(Colour::toPixel(kScreenBack)));
    picScr->setSource(&picBuffer);

    Text1 = new TextBox(this);
    Text1->setText(QStringLiteral("The phone is ringing"));
    Text1->hide();

    Timer1 = new QTimer(this);
    Timer1->setInterval(kFrameMs);
    Timer1->setTimerType(Qt::PreciseTimer);

    connectHandlers();
}

Visual::~Visual()
{
    // picScr outlives the images it shows by a moment while the window is
    // torn down.
    picScr->setSource(nullptr);
}

void Visual::connectHandlers()
{
    connect(picScr, &PictureBox::Click, this, &Visual::picScr_Click);
    connect(Text1, &TextBox::Change, this, &Visual::Text1_Change);
    connect(Timer1, &QTimer::timeout, this, &Visual::Timer1_Timer);
}

void Visual::Show()
{
    Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x(), area.y() + (area.height() - height()) / 2);
    }
    show();
    // Every show, also of a visible band: another window may have come over
    // it since the last ring.
    raise();
}

void Visual::Form_Load()
{
    // Across the screen, at the band's fixed height
    const int widthTwips
        = m_screenWidthTwips > 0 ? m_screenWidthTwips : Runtime::ScreenWidthTwips();
    resize(pixelsX(widthTwips), height());
    // A Wayland compositor ignores the bypass and places the band as an
    // ordinary window; a tiling one (sway) would squeeze it into a column.
    // A fixed size lets it float at its full width there.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        setFixedSize(size());

    // picScr: the middle third of the band
    const double innerHeightTwips
        = Conversions::roundHalfEven(height() * double(Runtime::TwipsPerPixelY()));
    const int third = static_cast<int>(innerHeightTwips) / 3;
    placeTwips(picScr, 0, third, widthTwips, third);

    SetPicSizes();
    SetupStarField();
    SetupText();
    Runtime::DoEvents();
    Timer1->start();
}

void Visual::Form_Unload()
{
    Timer1->stop();
    // The pictures go with the window; a later load makes them afresh.
    picBuffer = QImage();
    picBlank = QImage();
    picText = QImage();
    picTextM = QImage();
    m_glyphs = QImage();
}

void Visual::resizeEvent(QResizeEvent* event)
{
    Form::resizeEvent(event);
    Form_Resize();
}

void Visual::Form_Resize()
{
    // Nothing: pictures, centre and stars keep the sizes of the load.
}

QFont Visual::bannerFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(static_cast<int>(
        Conversions::roundHalfEven(kFontPoints * kTwipsPerPoint / Runtime::TwipsPerPixelY())));
    // Mask and text are combined bitwise, which is only exact for pixels
    // that are fully in or fully out of a letter.
    font.setStyleStrategy(QFont::NoAntialias);
    if (QFontInfo(font).family() != QLatin1String("Arial")) {
        // Liberation Sans has Arial's metrics; fontconfig's own pick for a
        // missing Arial depends on what else is installed.
        QFont liberation = font;
        liberation.setFamily(QStringLiteral("Liberation Sans"));
        if (QFontInfo(liberation).family() == QLatin1String("Liberation Sans"))
            return liberation;
    }
    return font;
}

void Visual::SetupText()
{
    m_textFont = bannerFont();
    m_textColour = kTextStart;

    // Size both pictures to the text, measured in twips
    const QString text = Text1->text();
    const QFontMetrics metrics(m_textFont);
    const double widthTwips = Conversions::roundHalfEven(metrics.horizontalAdvance(text)
                                  * double(Runtime::TwipsPerPixelX()))
        + kTextMarginTwips;
    const double heightTwips
        = Conversions::roundHalfEven(metrics.height() * double(Runtime::TwipsPerPixelY()))
        + kTextMarginTwips;
    const QSize size(pixelsX(widthTwips), pixelsY(heightTwips));
    if (picText.size() != size) {
        picText = QImage(size, QImage::Format_RGB32);
        picTextM = QImage(size, QImage::Format_RGB32);
    }
    picText.fill(Colour::toPixel(kBlack));
    picTextM.fill(Colour::toPixel(kWhite));

    // Render the letters once; every print of the fade stamps them
    m_glyphs = QImage(size, QImage::Format_Grayscale8);
    m_glyphs.fill(0);
    if (!m_glyphs.isNull()) {
        QPainter painter(&m_glyphs);
        painter.setFont(m_textFont);
        painter.setPen(Qt::white);
        painter.drawText(QPoint(0, metrics.ascent()), text);
    }
}

void Visual::SetPicSizes()
{
    const QSize size = picScr->size();
    if (picBuffer.size() != size) {
        picBuffer = QImage(size, QImage::Format_RGB32);
        picBlank = QImage(size, QImage::Format_RGB32);
    }
    picBuffer.fill(Colour::toPixel(kBufferBack));
    picBlank.fill(Colour::toPixel(kBlankBack));
}

void Visual::SetCentreOfPicture()
{
    Centre.X = picBuffer.width() / 2;
    Centre.Y = picBuffer.height() / 2;
}

void Visual::SetupStarField()
{
    Stars.assign(Module1::kStarCount, Module1::Star {});
    Runtime::Randomize(Runtime::Timer());
    SetCentreOfPicture();
    // A picture under two pixels would give 0 and a division by zero below;
    // such a band shows nothing anyway.
    MaxRadius = std::max(1, Centre.X < Centre.Y ? Centre.X : Centre.Y);

    for (Module1::Star& star : Stars) {
        const double r1 = Runtime::Rnd();
        const double r2 = Runtime::Rnd();
        const double r3 = Runtime::Rnd();
        star.Angle = static_cast<float>(r1 * 360);
        star.Speed = static_cast<qint32>(std::floor(r2 * 10)) + 1;
        star.Distance = Conversions::toInt32(r3 * MaxRadius);
        star.Brightness = Conversions::toInt32((kStartBrightness / MaxRadius) * star.Distance);
    }
}

void Visual::ClearBuffer()
{
    RasterOps::blit(picBuffer, 0, 0, picBlank, RasterOps::Op::Copy);
}

void Visual::PuStarsToBuffer()
{
    for (const Module1::Star& star : Stars) {
        const int x = Centre.X + Module1::SinOffset(star.Angle, star.Distance);
        const int y = Centre.Y + Module1::CosOffset(star.Angle, star.Distance);
        const qint32 grey = Colour::rgb(star.Brightness, star.Brightness, star.Brightness);
        RasterOps::setPixel(picBuffer, x, y, Colour::toPixel(grey));
    }
}

void Visual::PutTextToBuffer()
{
    // Fade one step, printing text and mask afresh, until the text is white
    if (m_textColour != kWhite) {
        m_textColour = ShiftColour(m_textColour, kFadeStep);
        RasterOps::print(picTextM, Colour::toPixel(kWhite), m_glyphs, Colour::toPixel(kBlack));
        RasterOps::print(picText, Colour::toPixel(kBlack), m_glyphs, Colour::toPixel(m_textColour));
    }

    // Centred: the mask cuts the letters out, the text fills them in
    const int x = picBuffer.width() / 2 - picText.width() / 2;
    const int y = picBuffer.height() / 2 - picText.height() / 2;
    RasterOps::blit(picBuffer, x, y, picTextM, RasterOps::Op::And);
    RasterOps::blit(picBuffer, x, y, picText, RasterOps::Op::Or);
}

void Visual::PutBufferToScreen()
{
    // Painted now rather than at the next event: the frame reaches the
    // screen within the tick that composed it.
    picScr->repaint();
}

void Visual::MoveStars()
{
    const int width = picBuffer.width();
    const int height = picBuffer.height();
    for (Module1::Star& star : Stars) {
        star.Distance += star.Speed;
        const int x = Centre.X + Module1::SinOffset(star.Angle, star.Distance);
        const int y = Centre.Y + Module1::CosOffset(star.Angle, star.Distance);
        // A star just on the right or bottom edge is one pixel outside and
        // simply not seen; beyond that it starts again near the centre.
        if (y > height || x > width || x < 0 || y < 0)
            star.Distance = star.Speed;
        star.Brightness = std::min(
            kMaxBrightness, Conversions::toInt32((kMovingBrightness / MaxRadius) * star.Distance));
    }
}

qint32 Visual::ShiftColour(qint32 colour, qint32 amount)
{
    const auto shift = [amount](qint32 channel) {
        return static_cast<qint32>(std::clamp<qint64>(qint64(channel) + amount, 0, 255));
    };
    const qint32 red = shift(colour & 255);
    const qint32 green = shift((colour / 256) % 256);
    const qint32 blue = shift((colour / 65536) % 256);
    return red + 256 * green + 65536 * blue;
}

void Visual::Timer1_Timer()
{
    ClearBuffer();
    PuStarsToBuffer();
    PutTextToBuffer();
    PutBufferToScreen();
    MoveStars();
}

void Visual::Text1_Change()
{
    SetupText();
}

void Visual::picScr_Click()
{
    if (!m_closePort || !m_closePort())
        return;
    Hide();
    if (m_unloadAlert)
        m_unloadAlert();
}

void Visual::picBlank_Click()
{
    Unload();
}

void Visual::picText_Click()
{
    Unload();
}
