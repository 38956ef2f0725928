#include "RingTones.h"

#include "MediaPlayer.h"
#include "RegModule.h"
#include "Runtime.h"

#include <array>

namespace RingTones {
namespace {

struct Tone
{
    QStringView choice;
    QStringView file;
};

constexpr std::array kTones {
    Tone { u"Ring #1", u"one.wav" },
    Tone { u"Ring #2", u"two.wav" },
    Tone { u"Ring #3", u"three.mp3" },
    Tone { u"Ring #4", u"four.wav" },
    Tone { u"Ring #5", u"five.mp3" },
    Tone { u"Select Ringtone", u"one.wav" },
};

} // namespace

QString fileFor(const QString& choice)
{
    for (const Tone& tone : kTones) {
        if (choice == tone.choice)
            return tone.file.toString();
    }
    return {};
}

QString storedChoice()
{
    return RegModule::GetRegValue(RegModule::HKEY_CURRENT_USER, kSoundKeyPath, kSoundValueName);
}

void play(MediaPlayer& objMMControl, QString& strFilename,
    const std::function<QString()>& readChoice, AfterPlay afterPlay)
{
    // Stop the tone that may still be playing.
    objMMControl.setCommand(QStringLiteral("Close"));

    // Look the choice up; no tone, no sound.
    const QString file = fileFor(readChoice());
    if (file.isEmpty())
        return;

    // Open and start it.
    strFilename = Runtime::ProgramFile(file);
    objMMControl.setFileName(strFilename);
    objMMControl.setCommand(QStringLiteral("Open"));
    objMMControl.setCommand(QStringLiteral("Play"));
    if (afterPlay == AfterPlay::SendWait)
        objMMControl.setCommand(QStringLiteral("wait"));
}

} // namespace RingTones
