#pragma once

#include <QByteArray>
#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstring>

// sway's side of its IPC socket, for tests: a Unix socket server that reads
// each client's message as the i3 IPC protocol frames it ("i3-ipc", payload
// length and type as 32-bit numbers in the machine's byte order, payload)
// and answers it with the next of `answers` (the last one repeats).
//
// An answer is a JSON payload sent as a RUN_COMMAND reply, or one of:
// "close" (the connection is closed unanswered), "silent" (never answered),
// "garbage" (bytes that are no IPC reply), "split:<json>" (the reply in three
// writes: part of the header, the rest of it with half the payload, the
// other half).
class FakeSway
{
public:
    explicit FakeSway(const QString& path)
    {
        QLocalServer::removeServer(path);
        m_server.listen(path);
        QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] {
            while (QLocalSocket* client = m_server.nextPendingConnection()) {
                const int slot = int(received.size());
                received << QString();
                QObject::connect(client, &QLocalSocket::readyRead, client,
                    [this, client, slot] { read(client, slot); });
            }
        });
    }

    bool listening() const { return m_server.isListening(); }
    QString path() const { return m_server.fullServerName(); }

    static QByteArray frame(quint32 type, const QByteArray& payload)
    {
        QByteArray bytes("i3-ipc");
        const quint32 numbers[2] = { quint32(payload.size()), type };
        bytes.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
        return bytes + payload;
    }

    QStringList answers { QStringLiteral(R"([{"success":true}])") };
    // What each connection sent, in the order they were accepted: the
    // command, "" until it has come, or "bad: <why>" for a message that is
    // not a RUN_COMMAND framed as above.
    QStringList received;

private:
    void read(QLocalSocket* client, int slot)
    {
        QByteArray& buffer = m_buffers[slot];
        buffer += client->readAll();
        if (buffer.size() < 14)
            return;
        if (!buffer.startsWith("i3-ipc")) {
            received[slot] = QStringLiteral("bad: no magic");
            return;
        }
        quint32 length = 0;
        quint32 type = 0;
        std::memcpy(&length, buffer.constData() + 6, 4);
        std::memcpy(&type, buffer.constData() + 10, 4);
        if (quint32(buffer.size()) < 14 + length)
            return;
        const QByteArray payload = buffer.mid(14, int(length));
        received[slot] = type != 0 ? QStringLiteral("bad: type %1").arg(type)
            : quint32(buffer.size()) != 14 + length
            ? QStringLiteral("bad: %1 bytes after the payload").arg(buffer.size() - 14 - length)
            : QString::fromUtf8(payload);
        answer(client, answers.at(std::min<qsizetype>(m_answered++, answers.size() - 1)));
    }

    void answer(QLocalSocket* client, const QString& answer)
    {
        if (answer == QLatin1String("close")) {
            client->disconnectFromServer();
        } else if (answer == QLatin1String("garbage")) {
            client->write("HTTP/1.0 400 Bad Request\r\n\r\n");
        } else if (answer.startsWith(QLatin1String("split:"))) {
            const QByteArray reply = frame(0, answer.mid(6).toUtf8());
            const int middle = 14 + (int(reply.size()) - 14) / 2;
            client->write(reply.left(8));
            client->flush();
            QTimer::singleShot(50, client, [client, reply, middle] {
                client->write(reply.mid(8, middle - 8));
                client->flush();
            });
            QTimer::singleShot(
                100, client, [client, reply, middle] { client->write(reply.mid(middle)); });
        } else if (answer != QLatin1String("silent")) {
            client->write(frame(0, answer.toUtf8()));
        }
    }

    QLocalServer m_server;
    QHash<int, QByteArray> m_buffers;
    qsizetype m_answered = 0;
};
