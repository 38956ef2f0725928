#pragma once

#include "CallListener.h"

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <memory>

class Alert;
class QAction;
class QMenu;

// Ringwarden's icon in the desktop's panel (its system tray) during a run
// that keeps listening after calls. The tooltip is the Alert window's
// caption, and the picture tells the state at a glance: the telephone while
// listening, the telephone ringing from a ring reaction until the band is
// clicked away, and a crossed-out telephone while the modem is lost or says
// nothing. Its menu shows the Alert window, opens the call log and stops
// listening; a click on the icon shows the Alert window.
//
// Nothing depends on it: on a desktop without a tray it is not seen, and the
// Alert window shows the same state. The Alert window makes it and tells it
// of calls as one of its CallListeners.
class StatusIcon final : public QObject, public CallListener
{
    Q_OBJECT

public:
    enum class Picture
    {
        Listening,
        Ringing,
        Silent, // the modem is lost or did not answer
    };

    // Puts the icon up for `alert`, which must outlive it.
    explicit StatusIcon(Alert& alert);
    ~StatusIcon() override;

    Picture picture() const { return m_picture; }
    // The picture as the panel gets it.
    static QIcon icon(Picture picture);
    QString toolTip() const { return m_tray.toolTip(); }
    bool isVisible() const { return m_tray.isVisible(); }

    // The menu's items: "Show the Alert window", "View call log", "Stop listening".
    QAction* showAction = nullptr;
    QAction* logAction = nullptr;
    QAction* stopAction = nullptr;

    // CallListener
    void ringReaction(const Call& call) override;
    void ringDismissed(const Call& call) override;
    void watchStateChanged(WatchState state) override;

private:
    void update();
    void activated(QSystemTrayIcon::ActivationReason reason);

    Alert& m_alert;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon m_tray;
    bool m_ringing = false;
    WatchState m_state = WatchState::Activating;
    Picture m_picture = Picture::Listening;
};
