#include "WaveSound.h"

#include "WindowResources.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace {
constexpr int kSoundIds[] = {141, 142, 143, 144, 146, 148, 149};

// The multimedia backend complains on stderr when it finds no sound server. No
// server means no sound, which is fine here, so keep that complaint quiet while
// probing.
QtMessageHandler g_previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtDebugMsg || type == QtWarningMsg || type == QtInfoMsg)
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

bool hasAudioOutput() {
    g_previousHandler = qInstallMessageHandler(quietHandler);
    const bool any = !QMediaDevices::audioOutputs().isEmpty();
    qInstallMessageHandler(g_previousHandler);
    return any;
}
} // namespace

CWaveSound::CWaveSound(QObject* parent) : QObject(parent) {
    InitWindowResources();
    if (!hasAudioOutput())
        return;
    for (int id : kSoundIds) {
        auto* effect = new QSoundEffect(this);
        effect->setSource(QUrl(QStringLiteral("qrc") + ResourcePath(id)));
        m_effects.insert(id, effect);
    }
}

CWaveSound::~CWaveSound() = default;

bool CWaveSound::IsKnownId(int id) {
    for (int known : kSoundIds)
        if (known == id)
            return true;
    return false;
}

QString CWaveSound::ResourcePath(int id) {
    return QStringLiteral(":/window/sounds/%1.wav").arg(id);
}

int CWaveSound::Play(int id) {
    if (!IsKnownId(id))
        return 0;
    m_nLastId = id;
    ++m_nRequests;
    QSoundEffect* effect = m_effects.value(id);
    if (!effect || effect->status() == QSoundEffect::Error)
        return 0;
    if (m_pCurrent && m_pCurrent != effect)
        m_pCurrent->stop();
    effect->stop(); // restart a sound that is still playing
    effect->play();
    m_pCurrent = effect;
    return 1;
}
