// Arbitrary messages from the home network through the reading of other
// stations' rings and states (HomeMessages::readRing, readStatus). The run
// aborts, so that the fuzzer reports the input, when a result would be a
// real fault:
//  - a ring taken from a payload over 1024 bytes, from a topic that is not
//    ringwarden/<station>/ring, or whose "station" is not the topic's;
//  - a ring taken with a call or ring count below 1, a number over 15, a
//    name over 64 or a caller over 80 characters, any text holding a
//    control or format character, a line or paragraph separator or a lone
//    surrogate, or a time that is not valid;
//  - a ring that does not read back the same after the station's own
//    writer has written it again (a message this program sends must be
//    one it takes);
//  - a ring dropped without a reason for the log;
//  - a status taken that is not one of the five states, byte for byte.
//
// An input reads as the topic, up to the first line feed (at most 256
// bytes), then the payload: every byte after it.
//
// A run by hand, from the build folder, one worker on a shared machine:
//   tests/fuzz/fuzz_ringmessage -jobs=1 -workers=1 -max_total_time=600 \
//       -dict=<source>/tests/fuzz/ring.dict <new corpus folder> \
//       <source>/tests/fuzz/ring-seeds

#include "HomeMessages.h"
#include "NetworkSettings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr qsizetype kMaxTopicBytes = 256;

[[noreturn]] void fail(const char* what, const QByteArray& detail = {})
{
    std::fprintf(stderr, "fuzz_ringmessage: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", detail.toPercentEncoding(" /:.={},\"").constData());
    std::abort();
}

void check(bool holds, const char* what, const QByteArray& detail = {})
{
    if (!holds)
        fail(what, detail);
}

// Worked out apart from the reader's own test.
bool showable(const QString& text)
{
    return std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        const QChar::Category category = c.category();
        return category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Other_Surrogate || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph;
    });
}

void checkText(const QString& text, qsizetype limit, const char* what)
{
    check(text.size() <= limit, what, text.toUtf8());
    check(showable(text), what, text.toUtf8());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_ringmessage";
    static char* argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);

    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    const QByteArray topicBytes = (newline < 0 ? input : input.left(newline)).left(kMaxTopicBytes);
    const QByteArray payload = newline < 0 ? QByteArray() : input.mid(newline + 1);
    const QString topic = QString::fromUtf8(topicBytes);

    // A ring
    const HomeMessages::RingReading reading = HomeMessages::readRing(topic, payload);
    if (!reading.ring) {
        check(!reading.problem.isEmpty(), "a ring dropped without a reason");
    } else {
        const HomeMessages::Ring& ring = *reading.ring;
        check(reading.problem.isEmpty(), "a ring taken with a problem");
        check(payload.size() <= HomeMessages::kMaxPayloadBytes,
            "a ring taken from an oversized payload");
        check(NetworkSettings::isStationName(ring.station), "a ring taken from a bad station name",
            ring.station.toUtf8());
        check(topic == HomeMessages::ringTopic(ring.station), "a ring taken from another topic",
            topicBytes);
        check(ring.call >= 1 && ring.ring >= 1, "a call or ring count below 1");
        checkText(ring.number, HomeMessages::kMaxNumberLength, "an unsafe or long number");
        checkText(ring.name, HomeMessages::kMaxNameLength, "an unsafe or long name");
        checkText(ring.caller, HomeMessages::kMaxCallerLength, "an unsafe or long caller");
        check(ring.time.isValid(), "a ring taken with a time that is not valid");

        // What the station writes, it reads back. The writer gives the time
        // to the second.
        const QByteArray again = HomeMessages::ringPayload(ring);
        const HomeMessages::RingReading second = HomeMessages::readRing(topic, again);
        check(bool(second.ring), "a ring written again is not taken", again);
        HomeMessages::Ring expected = ring;
        expected.time = ring.time.addMSecs(-ring.time.time().msec());
        check(*second.ring == expected, "a ring written again reads otherwise", again);
    }
    // A state
    if (const std::optional<QString> state = HomeMessages::readStatus(payload)) {
        check(state->toUtf8() == payload, "a state taken that is not the payload", payload);
        check(*state == HomeMessages::kListening || *state == HomeMessages::kRinging
                || *state == HomeMessages::kModemLost || *state == HomeMessages::kNoAnswer
                || *state == HomeMessages::kOffline,
            "a state taken that is not one of the five", payload);
    }
    return 0;
}
