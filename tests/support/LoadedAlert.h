#pragma once

#include "Alert.h"
#include "Module2.h"
#include "RecordingMediaPlayer.h"

#include <memory>

// The Alert window as listening finds it at the start of a run: loaded and
// hidden, with a recording sound player, while no port is held and nothing
// has been received. `player`, when given, receives the recording player.
// For tests that link the Alert window (rw_alert); make the TestRuntime
// first.
inline std::unique_ptr<Alert> loadedAlert(RecordingMediaPlayer** player = nullptr)
{
    Module2::PortHandle = 0;
    Module2::ReceivedText.clear();
    auto alert = std::make_unique<Alert>();
    auto recording = std::make_unique<RecordingMediaPlayer>();
    if (player)
        *player = recording.get();
    alert->setPlayer(std::move(recording));
    alert->Load();
    return alert;
}
