#pragma once

#include "TransferListModel.h"

#include <QWidget>
#include <functional>

// Bytes per second over time as a filled line: one transfer's course in the details
// pane, all transfers' last minute in the status bar. Drawn from the samples the list
// takes once a second; it asks nothing of the engine.
class CSpeedGraph : public QWidget {
public:
    using Sample = CRowData::SpeedSample;

    explicit CSpeedGraph(QWidget* parent = nullptr);

    // The samples, oldest first; span > 0 draws the last span ms (the status bar's
    // minute), else the whole course from the first sample to the last.
    void SetSamples(QList<Sample> samples, qint64 spanMs = 0);
    const QList<Sample>& Samples() const { return m_samples; }
    // The peak drawn to full height, and the figure said with it.
    qint64 Peak() const;
    // What a screen reader hears beside the name: the latest speed and the peak.
    QString Description() const;
    // Small: no labels, only the line (the status bar's).
    void SetCompact(bool on) { m_bCompact = on; }
    // A click, Enter or Space runs this (the status bar's opens the busiest transfer).
    void SetActivated(std::function<void()> activated);
    bool IsActivatable() const { return bool(m_activated); }
    void Activate() {
        if (m_activated)
            m_activated();
    }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QList<Sample> m_samples;
    qint64 m_nSpan = 0;
    bool m_bCompact = false;
    std::function<void()> m_activated;
};
