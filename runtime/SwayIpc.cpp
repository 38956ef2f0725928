#include "SwayIpc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QTimer>
#include <cstring>

namespace SwayIpc {

namespace {

constexpr char kMagic[] = "i3-ipc";
constexpr int kMagicSize = sizeof kMagic - 1;
constexpr int kHeaderSize = kMagicSize + 8;

void appendNumber(QByteArray& bytes, quint32 number)
{
    char raw[sizeof number];
    std::memcpy(raw, &number, sizeof number);
    bytes.append(raw, sizeof number);
}

quint32 numberAt(const QByteArray& bytes, int offset)
{
    quint32 number = 0;
    std::memcpy(&number, bytes.constData() + offset, sizeof number);
    return number;
}

} // namespace

QByteArray message(quint32 type, const QByteArray& payload)
{
    QByteArray bytes(kMagic, kMagicSize);
    appendNumber(bytes, quint32(payload.size()));
    appendNumber(bytes, type);
    return bytes + payload;
}

std::optional<Reply> takeReply(QByteArray& buffer, bool* broken)
{
    *broken = false;
    const int seen = std::min<int>(buffer.size(), kMagicSize);
    if (std::memcmp(buffer.constData(), kMagic, seen) != 0) {
        *broken = true;
        return std::nullopt;
    }
    if (buffer.size() < kHeaderSize)
        return std::nullopt;
    const quint32 length = numberAt(buffer, kMagicSize);
    if (quint64(buffer.size()) < kHeaderSize + quint64(length))
        return std::nullopt;
    Reply reply;
    reply.type = numberAt(buffer, kMagicSize + 4);
    reply.payload = buffer.mid(kHeaderSize, int(length));
    buffer.remove(0, kHeaderSize + int(length));
    return reply;
}

QString commandError(const QByteArray& payload)
{
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isArray() || document.array().isEmpty())
        return QStringLiteral("an unreadable reply: ") + QString::fromUtf8(payload.left(200));
    for (const QJsonValue& result : document.array()) {
        if (result.toObject().value(QStringLiteral("success")).toBool())
            continue;
        const QString error = result.toObject().value(QStringLiteral("error")).toString();
        return error.isEmpty() ? QStringLiteral("the command failed") : error;
    }
    return {};
}

} // namespace SwayIpc

SwayCommand::SwayCommand(const QString& socketPath, const QString& command, int tries, int retryMs,
    int answerMs, QObject* parent)
    : QObject(parent)
    , m_socketPath(socketPath)
    , m_message(SwayIpc::message(SwayIpc::kRunCommand, command.toUtf8()))
    , m_triesLeft(std::max(1, tries))
    , m_retryMs(retryMs)
    , m_answerLimit(new QTimer(this))
{
    m_answerLimit->setSingleShot(true);
    m_answerLimit->setInterval(answerMs);
    connect(m_answerLimit, &QTimer::timeout, this,
        [this] { fail(QStringLiteral("sway did not answer"), false); });
    // From the event loop: a socket that cannot connect says so at once,
    // and finished must reach whoever connects to it after this.
    QMetaObject::invokeMethod(this, &SwayCommand::attempt, Qt::QueuedConnection);
}

SwayCommand::~SwayCommand() = default;

void SwayCommand::attempt()
{
    // A fresh connection each time: sway reads a new client's message only
    // after it has handled what was waiting before the connection, such as
    // the X server's news of a move that sway would answer by centring.
    m_received.clear();
    m_socket = new QLocalSocket(this);
    connect(m_socket, &QLocalSocket::connected, this, [this] { m_socket->write(m_message); });
    connect(m_socket, &QLocalSocket::readyRead, this, &SwayCommand::read);
    connect(m_socket, &QLocalSocket::errorOccurred, this,
        [this] { fail(m_socket->errorString(), false); });
    m_answerLimit->start();
    m_socket->connectToServer(m_socketPath);
}

void SwayCommand::read()
{
    m_received += m_socket->readAll();
    bool broken = false;
    const std::optional<SwayIpc::Reply> reply = SwayIpc::takeReply(m_received, &broken);
    if (broken) {
        fail(QStringLiteral("not sway's IPC socket"), false);
        return;
    }
    if (!reply)
        return;
    const QString error = SwayIpc::commandError(reply->payload);
    if (error.isEmpty())
        finish(true, {});
    else
        fail(error, true);
}

void SwayCommand::fail(const QString& error, bool mayRetry)
{
    if (m_done)
        return;
    m_answerLimit->stop();
    if (m_socket) {
        // Its errors from here on (the close below) are none of ours.
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    if (mayRetry && --m_triesLeft > 0) {
        QTimer::singleShot(m_retryMs, this, &SwayCommand::attempt);
        return;
    }
    finish(false, error);
}

void SwayCommand::finish(bool succeeded, const QString& error)
{
    if (m_done)
        return;
    m_done = true;
    m_answerLimit->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit finished(succeeded, error);
    deleteLater();
}
