// The serial port driver against a real pseudo-terminal, with the test
// playing the modem on the master side.

#include "Fakes.h"
#include "Module2.h"
#include "PortName.h"
#include "PtyPair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace Module2;

namespace {

// Opens the slave side of `pty` as the port, with the test runtime in place.
void openPty(const PtyPair& pty)
{
    OpenPort(QStringLiteral("COM") + pty.slavePath());
}

QString bytesAsText(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

// The terminal's exclusive-open flag, read through a descriptor of its own:
// 1 in exclusive mode, 0 otherwise. Only root may open a terminal in
// exclusive mode; anyone else is refused with EBUSY, which says the same.
int exclusiveFlag(const QString& path)
{
    const int probe
        = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0 && errno == EBUSY)
        return 1;
    int flag = -1;
    if (probe >= 0) {
        if (::ioctl(probe, TIOCGEXCL, &flag) != 0)
            flag = -1;
        ::close(probe);
    }
    return flag;
}

int openDescriptorCount()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).count());
}

} // namespace

class SerialPortTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void portNamesMapToDevices_data();
    void portNamesMapToDevices();
    void portsFolderLinksComeFirst();

    void openedPortHasTheModemSettings();
    void staleBytesInTheLineAreDroppedOnOpening();
    void writesExactlyTheBytesGiven();
    void aStalledLineLetsTheWriteGiveUp();
    void burstIsReadWholeAndInOrder();
    void aPauseInTheLineSplitsTheRead();
    void aDrainEndsSoonAfterTheLastByte();
    void everyByteValueSurvives();
    void aLineThatNeverFallsQuietStillLetsReadReturn();
    void aSlowSteadyLineStillLetsReadReturn();
    void closedPeerNeitherHangsNorCrashes();

    void secondOpenOfAHeldDeviceIsInvalid();
    void missingDevicesAreInvalid_data();
    void missingDevicesAreInvalid();
    void deviceThatIsNotATerminalRefusesTheSettings();
    void closeTwiceOrBeforeOpenDoesNothing();
    void portIsOpenFollowsTheHandle();

    void setDcbFlagWritesOneField_data();
    void setDcbFlagWritesOneField();

private:
    std::unique_ptr<TestRuntime> m_runtime;
};

void SerialPortTest::init()
{
    m_runtime = std::make_unique<TestRuntime>();
    PortHandle = 0;
    ReceivedText.clear();
    PortDCB = DCB {};
}

void SerialPortTest::cleanup()
{
    ClosePort();
    m_runtime.reset();
}

void SerialPortTest::portNamesMapToDevices_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("device");
    QTest::newRow("COM4") << "COM4"
                          << "/dev/ttyS3";
    QTest::newRow("COM1") << "COM1"
                          << "/dev/ttyS0";
    QTest::newRow("COM12") << "COM12"
                           << "/dev/ttyS11";
    QTest::newRow("absolute path") << "COM/dev/ttyACM0"
                                   << "/dev/ttyACM0";
    QTest::newRow("by-id path") << "COM/dev/serial/by-id/usb-Modem-if00"
                                << "/dev/serial/by-id/usb-Modem-if00";
    QTest::newRow("device name") << "COMttyACM0"
                                 << "/dev/ttyACM0";
    QTest::newRow("leading zero is not a number") << "COM04"
                                                  << "/dev/04";
    QTest::newRow("zero is not a port number") << "COM0"
                                               << "/dev/0";
    QTest::newRow("leading blank") << "COM 4"
                                   << "/dev/ 4";
    QTest::newRow("nothing after COM") << "COM"
                                       << "";
}

void SerialPortTest::portNamesMapToDevices()
{
    QFETCH(QString, name);
    QFETCH(QString, device);
    QCOMPARE(PortName::devicePath(name, m_runtime->configHome() + "/ringwarden/ports"), device);
}

void SerialPortTest::portsFolderLinksComeFirst()
{
    const QString ports = m_runtime->configHome() + QStringLiteral("/ringwarden/ports");
    QVERIFY(QDir().mkpath(ports));
    PtyPair pty;
    QVERIFY(QFile::link(pty.slavePath(), ports + QStringLiteral("/COM4")));
    QVERIFY(QFile::link(QStringLiteral("/dev/nonexistent-modem"), ports + QStringLiteral("/COM5")));

    QCOMPARE(PortName::devicePath(QStringLiteral("COM4"), ports), ports + QStringLiteral("/COM4"));
    // A dangling link still names the port: the user meant that device.
    QCOMPARE(PortName::devicePath(QStringLiteral("COM5"), ports), ports + QStringLiteral("/COM5"));
    QCOMPARE(PortName::devicePath(QStringLiteral("COM6"), ports), QStringLiteral("/dev/ttyS5"));
    // Names that are not plain file names never reach outside the folder.
    QCOMPARE(PortName::devicePath(QStringLiteral(".."), ports), QStringLiteral("/dev/.."));

    // The program finds the link in the user's own config folder.
    OpenPort(QStringLiteral("COM4"));
    QVERIFY2(m_runtime->messageBox.notices().isEmpty(),
        qPrintable(m_runtime->messageBox.texts().join('|')));
    QVERIFY(PortHandle > 0);
    SendString(QStringLiteral("AT\r"));
    QCOMPARE(pty.read(), QByteArray("AT\r"));
    ClosePort();

    OpenPort(QStringLiteral("COM5"));
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { "COM5 invalid" });
}

void SerialPortTest::openedPortHasTheModemSettings()
{
    PtyPair pty;
    openPty(pty);
    QVERIFY2(m_runtime->messageBox.notices().isEmpty(),
        qPrintable(m_runtime->messageBox.texts().join('|')));
    QVERIFY(PortHandle >= 3);

    // Read the settings back through a second descriptor of the device.
    const int probe
        = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(probe >= 0);
    termios tio {};
    QCOMPARE(::tcgetattr(probe, &tio), 0);
    ::close(probe);

    QCOMPARE(::cfgetospeed(&tio), speed_t(B57600));
    QCOMPARE(::cfgetispeed(&tio), speed_t(B57600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!(tio.c_cflag & PARENB));
    QVERIFY(!(tio.c_cflag & CSTOPB));
    QVERIFY(tio.c_cflag & CRTSCTS);
    QVERIFY(tio.c_cflag & CREAD);
    QVERIFY2(tio.c_cflag & HUPCL, "DTR must drop when the port is closed, also by a crash");
    QVERIFY2(tio.c_cflag & CLOCAL, "a modem holding carrier detect low must not block the port");
    QVERIFY(!(tio.c_iflag & (IXON | IXOFF | IXANY)));
    QVERIFY2(!(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)), "bytes must arrive untranslated");
    QVERIFY(!(tio.c_oflag & OPOST));
    QVERIFY(!(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)));

    // The program's record says the same.
    QCOMPARE(PortDCB.BaudRate, 57600u);
    QCOMPARE(PortDCB.ByteSize, 8);
    QCOMPARE(PortDCB.Parity, 0);
    QCOMPARE(PortDCB.StopBits, 0);
    QCOMPARE(PortDCB.XonLim, 1024);
    QCOMPARE(PortDCB.XoffLim, 7168);
    QCOMPARE(PortDCB.DCBlength, kDcbLength);
    QCOMPARE(PortTimeouts.ReadTotalTimeoutConstant, 10u);
    QCOMPARE(PortTimeouts.WriteTotalTimeoutConstant, 100u);
}

void SerialPortTest::staleBytesInTheLineAreDroppedOnOpening()
{
    PtyPair pty;
    // Before the port opens, the modem has sent something, and another
    // program has filled the line towards the modem: the modem takes
    // nothing more until that is gone.
    pty.write("stale reply\r\n");
    const int other
        = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(other >= 0);
    qsizetype queued = 0;
    for (ssize_t n = 0; (n = ::write(other, QByteArray(1024, 'x').constData(), 1024)) > 0;)
        queued += n;
    openPty(pty);
    ::close(other);

    ReadPort();
    QCOMPARE(ReceivedText, QString());
    SendString(QStringLiteral("ATZ\r"));
    const QByteArray heard = pty.read();
    QVERIFY2(heard.endsWith("ATZ\r"), qPrintable(QString::number(heard.size())));
    // What the modem had already taken still comes; what waited in the
    // line is gone.
    QVERIFY2(heard.size() < queued, qPrintable(QString::number(heard.size())));
}

void SerialPortTest::writesExactlyTheBytesGiven()
{
    PtyPair pty;
    openPty(pty);
    const QString third = QStringLiteral("ATS7=60\\T0L1M1\\N3-J1%C1\"H3\\Q3B0N1X3\r");
    SendString(third);
    const QByteArray sent = pty.read();
    QCOMPARE(sent.toHex(' '),
        QByteArray("41 54 53 37 3d 36 30 5c 54 30 4c 31 4d 31 5c 4e 33 2d 4a 31 25 43 31 22 48 33 "
                   "5c 51 33 42 30 4e 31 58 33 0d"));

    SendString(QString());
    QCOMPARE(pty.read(100), QByteArray());

    // Characters beyond a byte cannot be sent as themselves; each still
    // takes exactly one byte.
    SendString(QStringLiteral("a\u00e9\u20acz"));
    QCOMPARE(pty.read().size(), 4);
}

void SerialPortTest::aStalledLineLetsTheWriteGiveUp()
{
    PtyPair pty;
    openPty(pty);
    // The modem takes nothing (nobody reads the master side): the write
    // fills the line, then gives up after its 100 ms, also the next time.
    QElapsedTimer elapsed;
    elapsed.start();
    SendString(QString(64 * 1024, u'x'));
    SendString(QStringLiteral("ATZ\r"));
    QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY(pty.read().startsWith("xxxx"));
}

void SerialPortTest::burstIsReadWholeAndInOrder()
{
    PtyPair pty;
    openPty(pty);
    const QByteArray reply
        = "\r\nOK\r\n\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 1405\r\nNMBR = 5551234\r\n\r\n";
    pty.write(reply);
    ReceivedText = QStringLiteral("kept:");
    ReadPort();
    QCOMPARE(ReceivedText, QStringLiteral("kept:") + bytesAsText(reply));
}

void SerialPortTest::aPauseInTheLineSplitsTheRead()
{
    PtyPair pty;
    openPty(pty);
    pty.write("\r\nRING\r\n");
    // The rest of the report comes well after the 10 ms gap that ends a read.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pty.write("NMBR = 5551234\r\n");
    });
    ReadPort();
    const QString first = ReceivedText;
    late.join();
    ReadPort();
    QCOMPARE(first, QStringLiteral("\r\nRING\r\n"));
    QCOMPARE(ReceivedText, QStringLiteral("\r\nRING\r\nNMBR = 5551234\r\n"));
}

void SerialPortTest::aDrainEndsSoonAfterTheLastByte()
{
    PtyPair pty;
    openPty(pty);
    // Each drain, of a whole report and of nothing at all, gives up 10 ms
    // after the last byte. The fastest of several drains stays clear of a
    // busy machine's scheduling delays; a drain that waited 200 ms for more
    // would take that long every time.
    const QByteArray reports[] = { ModemReply::kCall, QByteArray() };
    for (const QByteArray& report : reports) {
        qint64 fastest = std::numeric_limits<qint64>::max();
        for (int attempt = 0; attempt < 5; ++attempt) {
            ReceivedText.clear();
            pty.write(report);
            int queued = 0;
            while (::ioctl(PortHandle, FIONREAD, &queued) == 0 && queued < report.size())
                std::this_thread::yield();
            QElapsedTimer elapsed;
            elapsed.start();
            ReadPort();
            fastest = std::min(fastest, elapsed.elapsed());
            QCOMPARE(ReceivedText, bytesAsText(report));
        }
        QVERIFY2(fastest < 100, qPrintable(QString::number(fastest)));
    }
}

void SerialPortTest::everyByteValueSurvives()
{
    PtyPair pty;
    openPty(pty);
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    pty.write(all);
    ReadPort();
    QCOMPARE(ReceivedText.size(), 256);
    for (int b = 0; b < 256; ++b)
        QCOMPARE(ReceivedText.at(b).unicode(), char16_t(b));
}

void SerialPortTest::aLineThatNeverFallsQuietStillLetsReadReturn()
{
    PtyPair pty;
    openPty(pty);
    // Line noise: a steady stream with no 10 ms gap, far more than one
    // read may take.
    constexpr int kTotal = 64 * 1024;
    QByteArray noise(kTotal, '\0');
    for (int i = 0; i < kTotal; ++i)
        noise[i] = static_cast<char>('A' + i % 26);
    std::atomic<bool> done = false;
    std::thread stream([&] {
        pty.write(noise);
        done = true;
    });

    QString received;
    int reads = 0;
    while (received.size() < kTotal && reads < 1000) {
        ReceivedText.clear();
        ReadPort();
        QVERIFY2(ReceivedText.size() <= kMaxDrainBytes,
            qPrintable(QString::number(ReceivedText.size())));
        received += ReceivedText;
        ++reads;
    }
    stream.join();
    QVERIFY(done);
    QVERIFY2(reads > 1, "one read must not take the whole stream");
    QCOMPARE(received.size(), kTotal);
    QCOMPARE(received, bytesAsText(noise));
}

void SerialPortTest::aSlowSteadyLineStillLetsReadReturn()
{
    PtyPair pty;
    openPty(pty);
    // A byte every 2 ms, for up to 6 s: never a 10 ms gap, yet far fewer
    // bytes than one read may take, so only the time limit ends a read. The
    // line goes quiet as soon as the read has returned.
    constexpr int kMost = 3000;
    std::atomic<bool> streaming = true;
    std::atomic<bool> readReturned = false;
    std::atomic<int> sent = 0;
    std::thread stream([&] {
        for (int i = 0; i < kMost && !readReturned; ++i) {
            pty.write(QByteArray(1, static_cast<char>('a' + i % 26)));
            ++sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        streaming = false;
    });

    ReadPort();
    const bool returnedWhileStreaming = streaming;
    readReturned = true;
    QString received = ReceivedText;
    stream.join();
    const int kTotal = sent;
    while (received.size() < kTotal) {
        ReceivedText.clear();
        ReadPort();
        if (ReceivedText.isEmpty())
            break;
        received += ReceivedText;
    }
    QVERIFY2(returnedWhileStreaming, "a read must not wait for the line to fall quiet");
    QCOMPARE(received.size(), kTotal);
    for (int i = 0; i < kTotal; ++i)
        QCOMPARE(received.at(i), QChar(u'a' + i % 26));
}

void SerialPortTest::closedPeerNeitherHangsNorCrashes()
{
    PtyPair pty;
    openPty(pty);
    pty.write("RI");
    pty.closeMaster();
    QElapsedTimer elapsed;
    elapsed.start();
    ReadPort();
    ReadPort();
    SendString(QStringLiteral("ATZ\r"));
    (void)PortIsOpen();
    ClosePort();
    QVERIFY(elapsed.elapsed() < 2000);
    QVERIFY(ReceivedText.size() <= 2);
    QCOMPARE(PortHandle, kInvalidHandle);
}

void SerialPortTest::secondOpenOfAHeldDeviceIsInvalid()
{
    PtyPair pty;
    openPty(pty);
    const int held = PortHandle;
    QVERIFY(held > 0);

    // Other programs are kept out by the terminal's exclusive mode, and by
    // the lock that also binds root.
    QCOMPARE(exclusiveFlag(pty.slavePath()), 1);

    // Another program (another copy of this one) holds the device.
    const QString name = QStringLiteral("COM") + pty.slavePath();
    int first = PortHandle;
    PortHandle = 0;
    OpenPort(name);
    QCOMPARE(PortHandle, kInvalidHandle);
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { name + " invalid" });
    QVERIFY(m_runtime->messageBox.notices().first().detail.contains(QStringLiteral("in use")));

    // Once released, the device opens again, for anyone.
    PortHandle = first;
    ClosePort();
    QCOMPARE(exclusiveFlag(pty.slavePath()), 0);
    m_runtime->messageBox.clear();
    OpenPort(name);
    QVERIFY(m_runtime->messageBox.notices().isEmpty());
    QVERIFY(PortHandle > 0);
}

void SerialPortTest::missingDevicesAreInvalid_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty port box") << "COM";
    QTest::newRow("no such device") << "COM/dev/ringwarden-no-such-modem";
    QTest::newRow("leading blank") << "COM 4";
    QTest::newRow("a folder") << "COM/dev";
}

void SerialPortTest::missingDevicesAreInvalid()
{
    QFETCH(QString, name);
    const int descriptors = openDescriptorCount();
    OpenPort(name);
    QCOMPARE(PortHandle, kInvalidHandle);
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { name + " invalid" });
    QCOMPARE(openDescriptorCount(), descriptors);
    // The caller carries on without a port.
    SendString(QStringLiteral("ATZ\r"));
    ReceivedText = QStringLiteral("x");
    ReadPort();
    QCOMPARE(ReceivedText, QStringLiteral("x"));
    QVERIFY(!PortIsOpen());
}

void SerialPortTest::deviceThatIsNotATerminalRefusesTheSettings()
{
    const int descriptors = openDescriptorCount();
    OpenPort(QStringLiteral("COM/dev/null"));
    QCOMPARE(m_runtime->messageBox.texts(), QStringList { "error in setcommstate" });
    QCOMPARE(PortHandle, kInvalidHandle);
    QCOMPARE(openDescriptorCount(), descriptors);
    QVERIFY(!PortIsOpen());
}

void SerialPortTest::closeTwiceOrBeforeOpenDoesNothing()
{
    ClosePort();
    QCOMPARE(PortHandle, 0);

    // A descriptor that is not the port must survive ClosePort calls after
    // the port is gone, even when it reuses the port's number.
    PtyPair pty;
    openPty(pty);
    const int port = PortHandle;
    ClosePort();
    const int other = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    QCOMPARE(other, port);
    ClosePort();
    QVERIFY(::fcntl(other, F_GETFD) != -1);
    ::close(other);
}

void SerialPortTest::portIsOpenFollowsTheHandle()
{
    QVERIFY(!PortIsOpen());
    PtyPair pty;
    openPty(pty);
    QVERIFY(PortIsOpen());
    ClosePort();
    QVERIFY(!PortIsOpen());
}

void SerialPortTest::setDcbFlagWritesOneField_data()
{
    QTest::addColumn<quint32>("before");
    QTest::addColumn<qint32>("mask");
    QTest::addColumn<int>("value");
    QTest::addColumn<quint32>("after");
    QTest::newRow("RTS handshake over all ones") << 0xffffffffu << 0x3000 << 2 << 0xffffefffu;
    QTest::newRow("RTS handshake over zero") << 0u << 0x3000 << 2 << 0x2000u;
    QTest::newRow("DTR enable over all ones") << 0xffffffffu << 0x0030 << 1 << 0xffffffdfu;
    QTest::newRow("DTR enable over zero") << 0u << 0x0030 << 1 << 0x0010u;
    QTest::newRow("binary on") << 0x8000u << 0x0001 << 1 << 0x8001u;
    QTest::newRow("parity off") << 0x0003u << 0x0002 << 0 << 0x0001u;
    QTest::newRow("value wider than the field is not clipped") << 0u << 0x0004 << 3 << 0x000cu;
}

void SerialPortTest::setDcbFlagWritesOneField()
{
    QFETCH(quint32, before);
    QFETCH(qint32, mask);
    QFETCH(int, value);
    QFETCH(quint32, after);
    PortDCB.Flags = before;
    SetDCBFlag(mask, static_cast<qint16>(value));
    QCOMPARE(PortDCB.Flags, after);
}

QTEST_MAIN(SerialPortTest)
#include "tst_serialport.moc"
