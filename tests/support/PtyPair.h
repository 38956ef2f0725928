#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for a serial line: the program opens
// the slave side as its port, and the test reads and writes the master side
// as the modem.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The device path of the slave side (/dev/pts/N).
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Writes all of `bytes` to the line, as the modem.
    void write(const QByteArray& bytes);
    // Reads what the program has sent: waits up to `firstByteMs` for the
    // first byte, then keeps reading until the line is quiet for `quietMs`.
    QByteArray read(int firstByteMs = 1000, int quietMs = 50);
    // Closes the master side: the port then reports a hang-up.
    void closeMaster();

private:
    int m_master = -1;
    QString m_slavePath;
};

// What a voice modem sends: the result code for a good command, and a call
// as its first ring with the caller-ID block.
namespace ModemReply {
inline const QByteArray kOk = "\r\nOK\r\n";
inline const QByteArray kCall
    = "\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 1405\r\nNMBR = 5551234\r\nNAME = JOHN DOE\r\n\r\n";
} // namespace ModemReply
