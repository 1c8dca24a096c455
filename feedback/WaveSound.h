#pragma once

#include <QHash>
#include <QObject>

class QSoundEffect;

// Plays the program's event sounds (ids 141-144, 146, 148, 149) from its resources.
// The seven effects are loaded once; playing returns at once, and a sound started
// while another still plays cuts the earlier one short. Without an audio output the
// player stays silent: nothing is loaded and nothing is reported.
class CWaveSound : public QObject {
public:
    explicit CWaveSound(QObject* parent = nullptr);
    ~CWaveSound() override;

    // Non-zero when playback started; 0 for an id without a sound or without output.
    int Play(int id);

    static bool IsKnownId(int id);
    static QString ResourcePath(int id);
    bool HasOutput() const { return !m_effects.isEmpty(); }

    // The last id asked for (0 before the first), whether or not it could be heard.
    int LastRequestedId() const { return m_nLastId; }
    int RequestCount() const { return m_nRequests; }

private:
    QHash<int, QSoundEffect*> m_effects;
    QSoundEffect* m_pCurrent = nullptr;
    int m_nLastId = 0;
    int m_nRequests = 0;
};
