#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

class QLocalSocket;
class QTimer;

// The IPC protocol of sway (i3's): over the Unix socket named by $SWAYSOCK,
// a message is the magic "i3-ipc", the payload's length and the message
// type, both 32-bit in the machine's own byte order, then the payload; a
// reply has the same form with a JSON payload. The program only sends
// RUN_COMMAND, whose reply is an array of {"success": bool, "error": text},
// one per command.
namespace SwayIpc {

constexpr quint32 kRunCommand = 0;

// One message of `type` carrying `payload`.
QByteArray message(quint32 type, const QByteArray& payload);

struct Reply
{
    quint32 type = 0;
    QByteArray payload;
};

// Takes the first whole reply off the front of `buffer`. Returns nullopt
// while the reply is incomplete (the buffer is left as it was) and sets
// `*broken` when the buffer does not start with the magic (nothing that
// follows can be read then).
std::optional<Reply> takeReply(QByteArray& buffer, bool* broken);

// What went wrong with a RUN_COMMAND whose reply payload is `payload`: ""
// when every command succeeded, else the first error sway gave (or a word
// that the reply could not be read).
QString commandError(const QByteArray& payload);

} // namespace SwayIpc

// Runs one sway command line over a connection of its own, without ever
// waiting: made, it connects and sends as soon as the event loop runs, and
// it deletes itself once done, after emitting finished. A command that sway turns down (a window
// not mapped yet matches no criteria) is sent again on a fresh connection, `tries` times in all,
// `retryMs` apart. No sway at `socketPath`, a connection that breaks or a sway that does not answer
// within `answerMs` ends it at once, unsuccessful.
class SwayCommand final : public QObject
{
    Q_OBJECT

public:
    SwayCommand(const QString& socketPath, const QString& command, int tries = 1, int retryMs = 250,
        int answerMs = 2000, QObject* parent = nullptr);
    ~SwayCommand() override;

signals:
    // `error` is "" on success, else the last reason.
    void finished(bool succeeded, const QString& error);

private:
    void attempt();
    void read();
    void fail(const QString& error, bool mayRetry);
    void finish(bool succeeded, const QString& error);

    QString m_socketPath;
    QByteArray m_message;
    int m_triesLeft = 1;
    int m_retryMs = 250;
    QLocalSocket* m_socket = nullptr;
    QTimer* m_answerLimit = nullptr;
    QByteArray m_received;
    bool m_done = false;
};
