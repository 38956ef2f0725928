// Arbitrary modem output through everything the program does with the text
// of a pass of the listening loop: the Alert window's txtOut and its change
// handler (the ring count, the ring reaction, the ringing band and its
// caller text), NmbrPos, Label4 with the caller's number and the call-log
// record it writes. The run aborts, so that the fuzzer reports the input,
// when a result would be a real fault:
//  - a call-log record that is not exactly one line ending in CR LF, holds
//    other control characters, logs a number other than the one Label4
//    shows (but for the blanks of a number in groups) or longer than the
//    log's 15-character field, is written twice for one call or not at all
//    for a new caller's digits;
//  - control characters (or an unbounded text) on the ringing band;
//  - a ring count that goes down, leaves 0..32767, misses a change or
//    counts a pass that changed nothing;
//  - NmbrPos other than the first "NMBR"'s 1-based position plus 7 (7 when
//    there is none), clipped to 32767;
//  - a notice shown or the program ended by what the modem sent.
//
// An input reads as:
//   byte 0    the separator: the rest is cut into passes at each byte of
//             this value, which is dropped (two in a row give an empty
//             pass, the loop's usual quiet pass);
//   byte 1    where the ring count starts, as if that many passes had
//             changed the text before: '0'..'4' (and every fifth byte
//             value after them) pick 0, 1, 2, 32766 and 32767;
//   the rest  the passes, one character per byte (Latin-1), the way
//             ReadPort turns the modem's bytes into ReceivedText.
//
// One ReadPort appends at most Module2::kMaxDrainBytes (8192) bytes and the
// loop empties ReceivedText after every pass, so a pass's text never holds
// more than 8192 characters; a longer stretch without a separator is cut
// into passes of 8192, as the drain leaves the rest queued for the next
// pass. The first "NMBR" of a pass then starts at position 8189 at the
// latest, and NmbrPos is at most 8189 + 7 = 8196: a quarter of the 16-bit
// limit (32767), however long the modem floods the line. Only a text of
// more than 32760 characters could reach the limit, so NmbrPos is also
// checked on the whole input (up to 64 KiB) in one piece, where the clip
// to 32767 must hold.
//
// The process keeps one Alert window (and the band it loads at the first
// ring) for all inputs; each input starts from an empty box, an empty
// caller label and no call log. The fakes of the test runtime stand in for
// the clock (waits take no time), the message box and the program's end,
// a recording player stands in for the sound, and the per-user folders
// are a temporary folder.
//
// A run by hand, from the build folder, one worker on a shared machine:
//   LSAN_OPTIONS=suppressions=<source>/tests/fuzz/leaks.supp \
//   QT_QPA_PLATFORM=offscreen tests/fuzz/fuzz_modemtext -jobs=1 -workers=1 \
//       -max_total_time=600 -max_len=65536 -dict=<source>/tests/fuzz/modem.dict \
//       <new corpus folder> <source>/tests/fuzz/seeds

#include "Alert.h"
#include "CallLog.h"
#include "CallerId.h"
#include "Fakes.h"
#include "Label.h"
#include "MediaPlayer.h"
#include "ModemLink.h"
#include "Module2.h"
#include "RecordingMediaPlayer.h"
#include "RegModule.h"
#include "RingTones.h"
#include "TestClock.h"
#include "TextBox.h"
#include "Visual.h"

#include <QApplication>
#include <QFile>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>

namespace {

// Bounds the work of one input.
constexpr qsizetype kMaxInputBytes = 64 * 1024;
constexpr int kMaxRingCount = 32767;
// NmbrPos is a 16-bit signed position.
constexpr int kMaxNmbrPos = std::numeric_limits<qint16>::max();
constexpr std::array<int, 5> kStartCounts = { 0, 1, 2, kMaxRingCount - 1, kMaxRingCount };
// The longest band text: "The phone is ringing: ", the number, a blank
// and the name.
constexpr qsizetype kMaxBandText = 22 + CallerId::kMaxNumberLength + 1 + CallerId::kMaxFieldLength;

[[noreturn]] void fail(const char* what, const QByteArray& detail = {})
{
    std::fprintf(stderr, "fuzz_modemtext: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", detail.toPercentEncoding(" /:.=").constData());
    std::abort();
}

void check(bool holds, const char* what, const QByteArray& detail = {})
{
    if (!holds)
        fail(what, detail);
}

bool isControlByte(unsigned char byte)
{
    return byte < 0x20 || (byte >= 0x7f && byte <= 0x9f);
}

bool hasControlCharacter(const QString& text)
{
    return std::any_of(
        text.cbegin(), text.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// Worked out on the bytes, apart from the program's own search.
int expectedNmbrPos(QByteArrayView bytes)
{
    const QByteArrayView key("NMBR");
    const auto found = std::search(bytes.begin(), bytes.end(), key.begin(), key.end());
    if (found == bytes.end())
        return 7;
    return int(std::min<qsizetype>(found - bytes.begin() + 1 + 7, kMaxNmbrPos));
}

bool isDigits(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

class Harness
{
public:
    Harness()
    {
        RegModule::SetRegValue(RegModule::HKEY_CURRENT_USER, RingTones::kSoundKeyPath,
            RingTones::kSoundValueName, QStringLiteral("Ring #3"));
        Module2::PortHandle = 0;
        auto player = std::make_unique<RecordingMediaPlayer>();
        m_player = player.get();
        m_alert.setPlayer(std::move(player));
        m_alert.Check1->setChecked(true);
        // Shown the way "Start Listening" shows it; its activation waits on
        // the test clock.
        m_alert.Show();
    }

    void run(QByteArrayView input)
    {
        input = input.first(std::min(input.size(), kMaxInputBytes));
        check(ModemLink::NmbrPos(QString::fromLatin1(input)) == expectedNmbrPos(input),
            "NmbrPos of the whole input",
            input.first(std::min<qsizetype>(input.size(), 64)).toByteArray());
        if (input.size() < 2)
            return;
        reset(kStartCounts[static_cast<unsigned char>(input[1] - '0') % kStartCounts.size()]);

        const char separator = input[0];
        QByteArrayView rest = input.sliced(2);
        for (;;) {
            const qsizetype end = rest.indexOf(separator);
            QByteArrayView piece = end < 0 ? rest : rest.first(end);
            do {
                const qsizetype size = std::min(piece.size(), Module2::kMaxDrainBytes);
                pass(piece.first(size));
                piece = piece.sliced(size);
            } while (!piece.isEmpty());
            if (end < 0)
                break;
            rest = rest.sliced(end + 1);
        }
        check(m_runtime.messageBox.notices().isEmpty(), "the modem's text showed a notice");
    }

private:
    void reset(int startCount)
    {
        // A fresh clock, so that its record of the waits stays as short as
        // one input.
        auto clock = std::make_unique<TestClock>();
        Runtime::install({ clock.get(), nullptr, nullptr, nullptr });
        m_clock = std::move(clock);
        m_alert.txtOut->setText(QString());
        m_alert.Label4->setCaption(QString());
        Module2::ReceivedText.clear();
        QFile::remove(m_logPath);
        m_alert.Text1->setText(QString::number(startCount));
        m_player->clear();
    }

    int ringCount() const
    {
        const QString text = m_alert.Text1->text();
        check(isDigits(text), "the ring count is not a number", text.toLatin1());
        bool ok = false;
        const int count = text.toInt(&ok);
        check(ok && count >= 0 && count <= kMaxRingCount, "the ring count left 0..32767",
            text.toLatin1());
        return count;
    }

    // What the log gained since it held `offset` bytes.
    QByteArray logAfter(qint64 offset) const
    {
        QFile log(m_logPath);
        if (!log.open(QIODevice::ReadOnly))
            return {};
        check(log.size() >= offset, "the call log lost what it held");
        log.seek(offset);
        return log.readAll();
    }

    // One pass of the listening loop, as ModemLink::Listen runs it, then the
    // checks.
    void pass(QByteArrayView bytes)
    {
        const QString boxBefore = m_alert.txtOut->text();
        const int countBefore = ringCount();
        const QString captionBefore = m_alert.Label4->caption();
        const qint64 logBefore = QFile(m_logPath).size();

        Module2::ReceivedText = QString::fromLatin1(bytes);
        m_alert.setReceivedText(Module2::ReceivedText);
        const QByteArray passBytes = Module2::ReceivedText.toLatin1();
        const qint16 position = ModemLink::NmbrPos(Module2::ReceivedText);
        m_alert.setNmbrPos(position);
        Module2::Pause(2.0f);
        Module2::ReceivedText.clear();

        // The position
        check(position == expectedNmbrPos(passBytes), "NmbrPos", passBytes);
        check(position <= Module2::kMaxDrainBytes - 4 + 1 + 7, "NmbrPos beyond a drained pass");

        // The ring count
        const bool changed = QString::fromLatin1(bytes) != boxBefore;
        const int count = ringCount();
        check(count >= countBefore, "the ring count went down");
        check(count == (changed ? std::min(countBefore + 1, kMaxRingCount) : countBefore),
            changed ? "a change was not counted once" : "a pass without a change was counted",
            passBytes);

        // The caller on the band
        check(!hasControlCharacter(m_alert.callerDescription()),
            "control characters in the caller's description", m_alert.callerDescription().toUtf8());
        if (Visual* band = m_alert.visual()) {
            const QString text = band->Text1->text();
            check(!hasControlCharacter(text), "control characters on the band", text.toUtf8());
            check(!text.isEmpty() && text.size() <= kMaxBandText, "the band's text length",
                text.toUtf8());
        }

        // The call log
        const QString caption = m_alert.Label4->caption();
        const bool newCaller = caption != captionBefore;
        const QByteArray record = logAfter(logBefore);
        check(caption.size() <= CallerId::kMaxNumberLength, "a number longer than its field",
            caption.toUtf8());
        if (record.isEmpty()) {
            check(!(newCaller && isDigits(caption)), "a new caller's digits were not logged",
                caption.toUtf8());
            return;
        }
        check(newCaller, "a record without a new caller", record);
        check(record.endsWith("\r\n"), "a record not ended by CR LF", record);
        const QByteArray line = record.chopped(2);
        check(std::none_of(line.cbegin(), line.cend(),
                  [](char c) { return isControlByte(static_cast<unsigned char>(c)); }),
            "a record with control characters or more than one line", record);
        check(line.startsWith("   "), "a record not starting with three blanks", record);
        // The label holds a number given in groups ("01632 960123") without
        // its blanks; the record keeps it as the modem gave it.
        const QByteArray number = CallLog::bytes(caption);
        check(QByteArray(line).replace(' ', QByteArray()).endsWith(number) && !line.endsWith(' ')
                && line.size() > 3 + number.size(),
            "the record's number is not the caller shown", record);
    }

    TestRuntime m_runtime;
    std::unique_ptr<TestClock> m_clock;
    const QString m_logPath = CallLog::path();
    Alert m_alert;
    RecordingMediaPlayer* m_player = nullptr;
};

// The offscreen platform warns at every raise of a window, that is at every
// ring; the rest goes on to standard error.
void dropPlatformNotices(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("This plugin does not support")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

struct Process
{
    int argc = 1;
    char name[16] = "fuzz_modemtext";
    char* argv[2] = { name, nullptr };
    QApplication application { argc, argv };
    Harness harness;
};

std::unique_ptr<Process>& process()
{
    static std::unique_ptr<Process> instance;
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Only the recording player plays; the real one is made (and replaced)
    // with the window.
    QtMediaPlayer::prepareBackend();
    qInstallMessageHandler(dropPlatformNotices);
    process() = std::make_unique<Process>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    process()->harness.run(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
