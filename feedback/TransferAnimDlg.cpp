#include "TransferAnimDlg.h"

#include "WindowResources.h"

#include <QMovie>
#include <QPainter>

CTransferAnimDlg::CTransferAnimDlg(QWidget* parent) : QWidget(parent) {
    InitWindowResources();
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_pMovie = new QMovie(QStringLiteral(":/window/transfer.gif"), QByteArray(), this);
    m_pMovie->setCacheMode(QMovie::CacheAll);
    // A clip that cannot be read leaves the widget empty; every request is then ignored.
    m_bOpen = m_pMovie->isValid() && m_pMovie->frameCount() > 0;
    if (!m_bOpen)
        return;
    connect(m_pMovie, &QMovie::frameChanged, this, [this](int frame) { OnFrameChanged(frame); });
    PlayOnce();
}

CTransferAnimDlg::~CTransferAnimDlg() = default;

int CTransferAnimDlg::CurrentFrame() const {
    return m_pMovie->currentFrameNumber();
}

int CTransferAnimDlg::FrameCount() const {
    return m_pMovie->frameCount();
}

void CTransferAnimDlg::PlayOnce() { Play(Mode::PlayingOnce); }

void CTransferAnimDlg::PlayContinuously() { Play(Mode::PlayingContinuously); }

// From the first frame; the mode decides whether it stops on the last one.
void CTransferAnimDlg::Play(Mode mode) {
    if (!m_bOpen)
        return;
    m_mode = mode;
    m_pMovie->stop();
    m_pMovie->start();
}

void CTransferAnimDlg::Stop() {
    if (!m_bOpen)
        return;
    m_mode = Mode::Idle;
    if (m_pMovie->state() == QMovie::Running)
        m_pMovie->setPaused(true);
}

void CTransferAnimDlg::OnFrameChanged(int frame) {
    // A burst of short transfers restarts the clip on the frame it already shows:
    // nothing to repaint then.
    if (frame != m_nShownFrame) {
        m_nShownFrame = frame;
        m_frame = m_pMovie->currentPixmap();
        update();
    }
    // The clip itself loops; a single pass ends by resting on its last frame.
    if (m_mode == Mode::PlayingOnce && frame >= m_pMovie->frameCount() - 1) {
        m_mode = Mode::Idle;
        m_pMovie->setPaused(true);
    }
}

void CTransferAnimDlg::paintEvent(QPaintEvent*) {
    if (m_frame.isNull())
        return;
    // Centred; the clip's transparent ground shows the frame's own background.
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform); // scaled displays
    const QPoint at((width() - m_frame.width()) / 2, (height() - m_frame.height()) / 2);
    painter.drawPixmap(at, m_frame);
}
