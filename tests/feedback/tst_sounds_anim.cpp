#include "TransferAnimDlg.h"
#include "WaveSound.h"

#include <QFile>
#include <QImageReader>
#include <QMovie>
#include <QtEndian>
#include <QtTest>

namespace {
struct WaveFormat {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int format = 0; // 1 = PCM
    qint64 dataBytes = -1;
};

// Walks the RIFF chunks: the header must be well formed for any player to take it.
WaveFormat readWave(const QByteArray& data) {
    WaveFormat w;
    if (data.size() < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE")
        return w;
    qsizetype at = 12;
    while (at + 8 <= data.size()) {
        const QByteArray id = data.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(data.constData() + at + 4);
        const char* body = data.constData() + at + 8;
        if (id == "fmt " && size >= 16) {
            w.format = qFromLittleEndian<quint16>(body);
            w.channels = qFromLittleEndian<quint16>(body + 2);
            w.rate = int(qFromLittleEndian<quint32>(body + 4));
            w.bits = qFromLittleEndian<quint16>(body + 14);
        } else if (id == "data") {
            w.dataBytes = size;
        }
        at += 8 + size + (size & 1);
    }
    return w;
}
} // namespace

class TestSoundsAnim : public QObject {
    Q_OBJECT
private slots:
    void soundsHaveTheirFormats_data();
    void soundsHaveTheirFormats();
    void playingUnknownIdsAndWithoutOutput();
    void animationPlaysOnceThenRests();
    void animationRunsUntilStopped();
};

void TestSoundsAnim::soundsHaveTheirFormats_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("bits");
    QTest::addColumn<double>("seconds");
    QTest::newRow("141 sent") << 141 << 22050 << 8 << 0.80;
    QTest::newRow("142 failed") << 142 << 22050 << 8 << 0.45;
    QTest::newRow("143 received") << 143 << 22050 << 8 << 0.83;
    QTest::newRow("144 request") << 144 << 22050 << 8 << 0.52;
    QTest::newRow("146 command") << 146 << 22050 << 16 << 0.25;
    QTest::newRow("148 start-up") << 148 << 22050 << 8 << 1.92;
    QTest::newRow("149 clear") << 149 << 11025 << 16 << 2.10;
}

void TestSoundsAnim::soundsHaveTheirFormats() {
    QFETCH(int, id);
    QFETCH(int, rate);
    QFETCH(int, bits);
    QFETCH(double, seconds);
    CWaveSound sounds; // registers the resources
    QVERIFY(CWaveSound::IsKnownId(id));
    QFile file(CWaveSound::ResourcePath(id));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    const WaveFormat w = readWave(file.readAll());
    QCOMPARE(w.format, 1);
    QCOMPARE(w.channels, 1);
    QCOMPARE(w.rate, rate);
    QCOMPARE(w.bits, bits);
    QVERIFY(w.dataBytes > 0);
    const double length = double(w.dataBytes) / (rate * bits / 8);
    QVERIFY2(qAbs(length - seconds) < 0.01, qPrintable(QString::number(length)));
}

void TestSoundsAnim::playingUnknownIdsAndWithoutOutput() {
    CWaveSound sounds;
    for (int id : {0, 140, 145, 147, 150, -1})
        QCOMPARE(sounds.Play(id), 0);
    QCOMPARE(sounds.RequestCount(), 0);
    QCOMPARE(sounds.LastRequestedId(), 0);

    // Known ids are taken; without an audio output nothing starts and nothing fails.
    const int started = sounds.Play(144);
    const int replaced = sounds.Play(142); // a newer sound cuts the first short
    QCOMPARE(sounds.RequestCount(), 2);
    QCOMPARE(sounds.LastRequestedId(), 142);
    if (!sounds.HasOutput()) {
        QCOMPARE(started, 0);
        QCOMPARE(replaced, 0);
    }
}

void TestSoundsAnim::animationPlaysOnceThenRests() {
    CTransferAnimDlg anim;
    QVERIFY(anim.IsOpen());
    QCOMPARE(anim.FrameCount(), 30);
    QCOMPARE(anim.Movie()->frameRect().size(), QSize(150, 50));
    QCOMPARE(anim.size(), QSize(150, 55));
    // 10 frames per second: 100 ms for each frame, as the clip says (the movie's own
    // figure is what is left of the frame's time, so it shrinks on a loaded machine).
    QImageReader clip(anim.Movie()->fileName());
    QVERIFY(!clip.read().isNull());
    QCOMPARE(clip.nextImageDelay(), 100);
    QVERIFY(anim.Movie()->nextFrameDelay() <= 100);
    QCOMPARE(anim.CurrentMode(), CTransferAnimDlg::Mode::PlayingOnce);

    anim.Movie()->setSpeed(2000); // a pass in 150 ms instead of 3 s
    QTRY_COMPARE_WITH_TIMEOUT(anim.CurrentMode(), CTransferAnimDlg::Mode::Idle, 5000);
    QCOMPARE(anim.CurrentFrame(), 29);
    QCOMPARE(anim.Movie()->state(), QMovie::Paused);

    // A stop while idle changes nothing.
    anim.Stop();
    QCOMPARE(anim.CurrentFrame(), 29);
}

void TestSoundsAnim::animationRunsUntilStopped() {
    CTransferAnimDlg anim;
    anim.Movie()->setSpeed(2000);
    // A transfer starting during the first pass turns it into continuous play.
    anim.PlayContinuously();
    QCOMPARE(anim.CurrentMode(), CTransferAnimDlg::Mode::PlayingContinuously);
    QCOMPARE(anim.Movie()->state(), QMovie::Running);

    // It goes past the last frame and starts again.
    int wraps = 0;
    int last = anim.CurrentFrame();
    connect(anim.Movie(), &QMovie::frameChanged, this, [&](int frame) {
        if (frame < last)
            ++wraps;
        last = frame;
    });
    QTRY_VERIFY_WITH_TIMEOUT(wraps >= 2, 5000);
    QCOMPARE(anim.Movie()->state(), QMovie::Running);

    anim.Stop();
    QCOMPARE(anim.CurrentMode(), CTransferAnimDlg::Mode::Idle);
    QCOMPARE(anim.Movie()->state(), QMovie::Paused);
    const int frozen = anim.CurrentFrame();
    QTest::qWait(100);
    QCOMPARE(anim.CurrentFrame(), frozen);

    // Starting again starts from the first frame.
    anim.PlayContinuously();
    QVERIFY(anim.CurrentFrame() <= 1);
}

QTEST_MAIN(TestSoundsAnim)
#include "tst_sounds_anim.moc"
