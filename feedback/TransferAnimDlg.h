#pragma once

#include <QPixmap>
#include <QWidget>

class QMovie;

// The small animation in the frame's toolbar row that shows the server is busy.
// A borderless child widget that plays the 30-frame clip once when it is created
// (then rests on the last frame), plays it without end while transfers run, and
// freezes on the frame it has reached when told to stop.
class CTransferAnimDlg : public QWidget {
public:
    enum class Mode { Idle, PlayingOnce, PlayingContinuously };

    static constexpr int kWidth = 150;
    static constexpr int kHeight = 55;

    explicit CTransferAnimDlg(QWidget* parent = nullptr);
    ~CTransferAnimDlg() override;

    // From the first frame, over and over.
    void PlayContinuously();
    // Freeze on the current frame; harmless when idle.
    void Stop();

    Mode CurrentMode() const { return m_mode; }
    bool IsOpen() const { return m_bOpen; }
    int CurrentFrame() const;
    int FrameCount() const;
    QMovie* Movie() const { return m_pMovie; }

    QSize sizeHint() const override { return {kWidth, kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PlayOnce();
    void Play(Mode mode);
    void OnFrameChanged(int frame);

    QMovie* m_pMovie = nullptr;
    QPixmap m_frame;
    int m_nShownFrame = -1; // the frame m_frame holds
    Mode m_mode = Mode::Idle;
    bool m_bOpen = false;
};
