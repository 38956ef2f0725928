#pragma once

#include "Form.h"

#include <QFont>
#include <QImage>
#include <functional>

class PictureBox;
class QTimer;
class TextBox;

// The ringing band: a borderless window as wide as the screen whose middle
// third, picScr, shows 200 stars streaming out from its centre and the text
// "The phone is ringing" fading in from near black to white, redrawn every
// 50 ms. For a user who cannot hear the telephone, this band is the ring.
//
// Each frame is composed off screen: the background picture picBlank is
// copied into the frame buffer picBuffer, the stars are set as single
// pixels, the text is laid over them through its mask (picTextM ANDed, then
// picText ORed) and the finished buffer is copied to picScr in one piece.
// A frame allocates nothing; the text pictures are redrawn only while the
// text is still fading.
//
// A click on the band, while the modem port is open, closes the port, hides
// the band and unloads the Alert window, which ends the program.
//
// Its owner (the Alert window) shows it with Show() on every ring. After
// Unload (isLoaded() false) the owner makes a fresh Visual for the next ring.
class Visual : public Form
{
    Q_OBJECT

public:
    // The owner's two answers to a click on the band: `closePort` closes the
    // modem's port and returns true when it was open (false: the click does
    // nothing); `unloadAlert` unloads the Alert window, which ends the
    // program.
    Visual(std::function<bool()> closePort, std::function<void()> unloadAlert,
        QWidget* parent = nullptr);
    ~Visual() override;

    // Shows the band: loads it first if needed (building the star field and
    // starting the animation), places it at the primary screen's left edge,
    // vertically centred, and raises it above every other window, also when
    // it is already visible. It does not take the keyboard focus from what
    // the user is typing in. Form::Show is not virtual: call this one on a
    // Visual.
    void Show();

    // The width the band spans, in twips; 0 (the default) means the primary
    // screen's width. Read by the load, so it only affects a later Load.
    void setScreenWidthTwips(int twips) { m_screenWidthTwips = twips; }

    // The banner text's current colour (red in the lowest byte) and font.
    qint32 textColour() const { return m_textColour; }
    QFont textFont() const { return m_textFont; }

    // Sets the text font, restarts the fade at (10, 10, 0) and sizes picText
    // and picTextM to the text of Text1 plus 10 twips each way. Draws
    // nothing into the two pictures: the next frame does.
    void SetupText();
    // Makes picBuffer and picBlank exactly as large as picScr, filled with
    // their background colours.
    void SetPicSizes();
    // Builds the star table afresh from a new seed (the time of day): 200
    // stars at random directions, speeds 1..10 and distances 0..MaxRadius.
    void SetupStarField();
    // Sets Module1::Centre to the middle of picBuffer, fractions dropped.
    void SetCentreOfPicture();
    // Copies picBlank over the whole of picBuffer.
    void ClearBuffer();
    // Sets one grey pixel per star in picBuffer; stars outside it are not
    // drawn.
    void PuStarsToBuffer();
    // Advances the fade by one step (re-printing the text pictures while the
    // colour is not yet white), then lays the text over picBuffer, centred:
    // the mask ANDed, the text ORed, clipped to both pictures.
    void PutTextToBuffer();
    // Copies the whole of picBuffer to picScr on the screen, at once (does
    // nothing while the band is hidden).
    void PutBufferToScreen();
    // Moves every star one step outward; a star that leaves the picture
    // starts again one step from the centre. Recomputes each brightness.
    void MoveStars();

    // `colour` (red in the lowest byte) with `amount` added to each of red,
    // green and blue, each limited to 0..255.
    static qint32 ShiftColour(qint32 colour, qint32 amount);

    // Event handlers.
    void Form_Resize(); // does nothing: the animation keeps its load size
    void Timer1_Timer(); // one frame
    void Text1_Change(); // a new banner text: SetupText
    void picScr_Click(); // closes the port and ends the program, if the port is open
    void picBlank_Click(); // unloads this window (the picture is never shown)
    void picText_Click(); // unloads this window (the picture is never shown)

    // The controls; all owned by this window.
    PictureBox* picScr = nullptr; // the visible animation
    QImage picBuffer; // the frame being composed
    QImage picBlank; // the background, (128, 64, 64)
    QImage picText; // the text in its current colour on black
    QImage picTextM; // the text's mask: black letters on white
    TextBox* Text1 = nullptr; // the banner text (hidden)
    QTimer* Timer1 = nullptr; // 50 ms frames, started by the load

protected:
    void Form_Load() override;
    void Form_Unload() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void connectHandlers();
    // Picks the banner font: "Arial" 36 points, or Liberation Sans (drawn to
    // Arial's metrics) where Arial is not installed.
    static QFont bannerFont();

    std::function<bool()> m_closePort;
    std::function<void()> m_unloadAlert;
    int m_screenWidthTwips = 0;
    // picText's foreground (its mask's is always black).
    qint32 m_textColour = 0;
    QFont m_textFont;
    // The text of Text1 rendered once per SetupText, white on black: each
    // print stamps it in the current colour, so mask and text always cover
    // exactly the same pixels.
    QImage m_glyphs;
};
