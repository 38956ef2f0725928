#include "StatusIcon.h"

#include "Alert.h"

#include <QMenu>

StatusIcon::StatusIcon(Alert& alert)
    : m_alert(alert)
    , m_menu(std::make_unique<QMenu>())
{
    showAction = m_menu->addAction(QStringLiteral("Show the Alert window"));
    logAction = m_menu->addAction(QStringLiteral("View call log"));
    m_menu->addSeparator();
    stopAction = m_menu->addAction(QStringLiteral("Stop listening"));
    m_tray.setContextMenu(m_menu.get());
    m_tray.setIcon(icon(m_picture));
    m_tray.setToolTip(alert.windowTitle());

    connect(showAction, &QAction::triggered, &alert, &Alert::showWindow);
    connect(logAction, &QAction::triggered, &alert, &Alert::viewCallLog);
    // The item says what it does: no question follows.
    connect(stopAction, &QAction::triggered, &alert, &Alert::Unload);
    connect(&m_tray, &QSystemTrayIcon::activated, this, &StatusIcon::activated);
    connect(&alert, &QWidget::windowTitleChanged, &m_tray, &QSystemTrayIcon::setToolTip);

    m_tray.show();
}

StatusIcon::~StatusIcon() = default;

QIcon StatusIcon::icon(Picture picture)
{
    static const char* const names[] = { "listening", "ringing", "silent" };
    const QString name = QString::fromLatin1(names[int(picture)]);
    QIcon icon;
    for (int size : { 22, 32, 64 })
        icon.addFile(QStringLiteral(":/ringwarden/status/%1-%2.png").arg(name).arg(size));
    return icon;
}

void StatusIcon::ringReaction(const Call& call)
{
    Q_UNUSED(call)
    m_ringing = true;
    update();
}

void StatusIcon::ringDismissed(const Call& call)
{
    Q_UNUSED(call)
    m_ringing = false;
    update();
}

void StatusIcon::watchStateChanged(WatchState state)
{
    m_state = state;
    update();
}

void StatusIcon::update()
{
    const bool silent = m_state == WatchState::ModemLost || m_state == WatchState::NoAnswer;
    const Picture picture = silent ? Picture::Silent
        : m_ringing                ? Picture::Ringing
                                   : Picture::Listening;
    if (picture == m_picture)
        return;
    m_picture = picture;
    m_tray.setIcon(icon(picture));
}

void StatusIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        m_alert.showWindow();
}
