#pragma once

#include <QString>
#include <functional>

class MediaPlayer;

// The ring tones: the one table from a tone's name to its file, and the steps
// that play the tone a name selects. The Alert window plays the stored choice
// when the phone rings; the settings window previews the ring-tone box's text.
//
//   "Ring #1" -> one.wav     "Ring #4" -> four.wav
//   "Ring #2" -> two.wav     "Ring #5" -> five.mp3
//   "Ring #3" -> three.mp3   "Select Ringtone" -> one.wav
//
// Names are compared exactly, letter case included; any other name, the empty
// one included, selects no tone. "Select Ringtone" is the ring-tone box's
// text before the user picks one, so a user who never picked a tone hears
// the first.
//
// The files are the program's own files (Runtime::ProgramFile): beside the
// executable in the build tree, under <prefix>/share/ringwarden once
// installed.
namespace RingTones {

// Where the chosen tone's name is stored (RegModule, current user's root).
inline constexpr QLatin1String kSoundKeyPath { "Software\\Ringwarden\\Sound" };
inline constexpr QLatin1String kSoundValueName { "Sound" };

// The file name ("three.mp3") that the tone name `choice` selects, or "" when
// it selects none.
QString fileFor(const QString& choice);

// The stored tone name: the "Sound" value under "Software\Ringwarden\Sound",
// or "" when there is none.
QString storedChoice();

// What is sent to the player after "Play": nothing (the Alert window), or
// "wait" (the settings window's preview).
enum class AfterPlay
{
    Nothing,
    SendWait
};

// Plays the tone that `readChoice` names, on `objMMControl`:
//  1. sends "Close", which stops whatever the player is still playing;
//  2. calls `readChoice` for the tone's name (after the Close);
//  3. when the name selects no tone, returns, with `strFilename` unchanged
//     and the player closed;
//  4. sets `strFilename` to the tone file's full path;
//  5. gives the player that path as its file name;
//  6. sends "Open", then "Play", then, for AfterPlay::SendWait, "wait".
// Returns once the commands are sent; the tone plays on by itself. Whether
// the file exists or plays is not checked: a missing or broken file is
// silent.
void play(MediaPlayer& objMMControl, QString& strFilename,
    const std::function<QString()>& readChoice, AfterPlay afterPlay = AfterPlay::Nothing);

} // namespace RingTones
