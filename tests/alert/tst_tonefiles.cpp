// The five ring tones as the build tree holds them: each decodes to valid
// audio of about three seconds, mono at 22050 Hz, neither silent nor
// clipped, and all five equally loud.

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QSignalSpy>
#include <QtTest>
#include <cmath>

namespace {

struct Measure
{
    QAudioFormat format;
    qint64 frames = 0;
    double peak = 0.0;
    double sumOfSquares = 0.0;
    qint64 samples = 0;

    double seconds() const
    {
        return format.sampleRate() > 0 ? double(frames) / format.sampleRate() : 0.0;
    }
    double peakDb() const { return 20.0 * std::log10(peak); }
    double rmsDb() const
    {
        return samples > 0 ? 10.0 * std::log10(sumOfSquares / samples) : -INFINITY;
    }
};

} // namespace

class ToneFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void decodesToAThreeSecondMonoTone_data();
    void decodesToAThreeSecondMonoTone();
    void copiesMatchTheSources_data();
    void copiesMatchTheSources();
};

void ToneFilesTest::decodesToAThreeSecondMonoTone_data()
{
    QTest::addColumn<QString>("file");
    for (const char* file : { "one.wav", "two.wav", "three.mp3", "four.wav", "five.mp3" })
        QTest::newRow(file) << QString::fromLatin1(file);
}

void ToneFilesTest::decodesToAThreeSecondMonoTone()
{
    QFETCH(QString, file);
    const QString path = QStringLiteral(TONE_DIR "/") + file;
    QAudioDecoder decoder;
    Measure measure;
    connect(&decoder, &QAudioDecoder::bufferReady, this, [&] {
        const QAudioBuffer buffer = decoder.read();
        measure.format = buffer.format();
        measure.frames += buffer.frameCount();
        const char* data = buffer.constData<char>();
        const int bytes = buffer.format().bytesPerSample();
        for (qsizetype i = 0; i < buffer.sampleCount(); ++i) {
            const double value = buffer.format().normalizedSampleValue(data + i * bytes);
            measure.peak = std::max(measure.peak, std::abs(value));
            measure.sumOfSquares += value * value;
        }
        measure.samples += buffer.sampleCount();
    });
    QSignalSpy finished(&decoder, &QAudioDecoder::finished);
    QSignalSpy failed(&decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error));

    decoder.setSource(QUrl::fromLocalFile(path));
    decoder.start();
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() || !failed.isEmpty(), 30000);

    QVERIFY2(failed.isEmpty(), qPrintable(decoder.errorString()));
    qInfo("%s: %.3f s, %d Hz, %d channel(s), peak %.2f dBFS, RMS %.2f dBFS", qPrintable(file),
        measure.seconds(), measure.format.sampleRate(), measure.format.channelCount(),
        measure.peakDb(), measure.rmsDb());
    QCOMPARE(measure.format.sampleRate(), 22050);
    QCOMPARE(measure.format.channelCount(), 1);
    QVERIFY2(measure.seconds() >= 2.8 && measure.seconds() <= 3.8,
        qPrintable(QString::number(measure.seconds())));
    // Audible, with headroom below full scale.
    QVERIFY2(measure.peakDb() > -20.0 && measure.peakDb() < -1.0,
        qPrintable(QString::number(measure.peakDb())));
    // Made to one loudness: -18 dBFS RMS over the whole tone.
    QVERIFY2(std::abs(measure.rmsDb() + 18.4) < 0.5, qPrintable(QString::number(measure.rmsDb())));
}

void ToneFilesTest::copiesMatchTheSources_data()
{
    decodesToAThreeSecondMonoTone_data();
}

void ToneFilesTest::copiesMatchTheSources()
{
    QFETCH(QString, file);
    QFile source(QStringLiteral(TONE_SOURCE_DIR "/") + file);
    QFile copy(QStringLiteral(TONE_DIR "/") + file);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QVERIFY2(source.readAll() == copy.readAll(), "the build tree holds an outdated copy");
}

QTEST_GUILESS_MAIN(ToneFilesTest)
#include "tst_tonefiles.moc"
