#pragma once

#include "MediaPlayer.h"

#include <QStringList>
#include <functional>

// Records what a window asks of its sound player, in order: each file name
// as "fileName=<name>", each command as itself ("Close", "Open", "Play").
// Plays nothing.
class RecordingMediaPlayer final : public MediaPlayer
{
public:
    void setFileName(const QString& fileName) override
    {
        m_events.append(QStringLiteral("fileName=") + fileName);
    }
    void setCommand(const QString& command) override
    {
        m_events.append(command);
        if (onCommand)
            onCommand(command);
    }
    // Called with each command as it arrives, so a test can look at the
    // program at that moment.
    std::function<void(const QString&)> onCommand;
    // Lets a test put its own marks between the player's events.
    void mark(const QString& event) { m_events.append(event); }
    const QStringList& events() const { return m_events; }
    // The commands alone, in order.
    QStringList commands() const
    {
        QStringList list;
        for (const QString& event : m_events) {
            if (!event.startsWith(QLatin1String("fileName=")))
                list << event;
        }
        return list;
    }
    // The last file name given, or "".
    QString fileName() const
    {
        for (auto it = m_events.crbegin(); it != m_events.crend(); ++it) {
            if (it->startsWith(QLatin1String("fileName=")))
                return it->mid(9);
        }
        return {};
    }
    void clear() { m_events.clear(); }

private:
    QStringList m_events;
};
