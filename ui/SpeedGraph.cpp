#include "SpeedGraph.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
QString perSecond(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat) +
           QStringLiteral("/s");
}
} // namespace

namespace {
// A graph is a chart to a screen reader, not a filler, and its value is the speed it
// shows; one that opens something says it can be pressed.
class CAccessibleSpeedGraph final : public QAccessibleWidget {
public:
    explicit CAccessibleSpeedGraph(CSpeedGraph* graph) : QAccessibleWidget(graph, QAccessible::Chart) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return static_cast<const CSpeedGraph*>(widget())->Description();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return static_cast<const CSpeedGraph*>(widget())->IsActivatable() ? QStringList{pressAction()}
                                                                         : QStringList();
    }
    void doAction(const QString& name) override {
        if (name == pressAction())
            static_cast<CSpeedGraph*>(widget())->Activate();
    }
};

QAccessibleInterface* speedGraphAccessible(const QString&, QObject* object) {
    auto* graph = dynamic_cast<CSpeedGraph*>(object);
    return graph ? new CAccessibleSpeedGraph(graph) : nullptr;
}
} // namespace

CSpeedGraph::CSpeedGraph(QWidget* parent) : QWidget(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(speedGraphAccessible);
        return true;
    }();
    (void)installed;
    setMinimumSize(40, 14);
    setAccessibleDescription(Description());
}

void CSpeedGraph::SetSamples(QList<Sample> samples, qint64 spanMs) {
    m_samples = std::move(samples);
    m_nSpan = spanMs;
    setAccessibleDescription(Description());
    update();
}

qint64 CSpeedGraph::Peak() const {
    qint64 peak = 0;
    for (const Sample& s : m_samples)
        peak = qMax(peak, s.perSecond);
    return peak;
}

QString CSpeedGraph::Description() const {
    if (m_samples.isEmpty())
        return QStringLiteral("No speed measured yet");
    return QStringLiteral("Latest %1, peak %2")
        .arg(perSecond(m_samples.last().perSecond), perSecond(Peak()));
}

void CSpeedGraph::SetActivated(std::function<void()> activated) {
    m_activated = std::move(activated);
    setFocusPolicy(m_activated ? Qt::StrongFocus : Qt::NoFocus);
    setCursor(m_activated ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

QSize CSpeedGraph::sizeHint() const {
    return m_bCompact ? QSize(48, fontMetrics().height()) : QSize(260, 120);
}

void CSpeedGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect all = rect().adjusted(0, 0, -1, -1);
    p.fillRect(all, palette().color(QPalette::Base));
    p.setPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
    p.drawRect(all);
    const QFontMetrics fm(font());
    QRect area = all.adjusted(2, 2, -2, -2);
    if (!m_bCompact)
        area.setTop(area.top() + fm.height()); // room for the peak's figure
    if (m_samples.isEmpty()) {
        if (!m_bCompact) {
            p.setPen(palette().color(QPalette::PlaceholderText));
            p.drawText(all, Qt::AlignCenter, QStringLiteral("No speed sampled yet"));
        }
        return;
    }
    const qint64 last = m_samples.last().ms;
    const qint64 first = m_nSpan > 0 ? last - m_nSpan : m_samples.first().ms;
    const double width = double(qMax<qint64>(1, last - first));
    const double peak = double(qMax<qint64>(1, Peak()));
    QPainterPath line;
    bool started = false;
    for (const Sample& s : m_samples) {
        if (s.ms < first)
            continue;
        const QPointF at(area.left() + double(s.ms - first) / width * area.width(),
                         area.bottom() - double(s.perSecond) / peak * area.height());
        if (!started) {
            line.moveTo(at.x(), area.bottom());
            started = true;
        }
        line.lineTo(at);
    }
    if (!started)
        return;
    line.lineTo(line.currentPosition().x(), area.bottom());
    const QColor ink(0, 110, 60);
    p.fillPath(line, QColor(ink.red(), ink.green(), ink.blue(), 60));
    p.setPen(QPen(ink, 1.5));
    p.drawPath(line);
    if (!m_bCompact) {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(all.adjusted(4, 1, -4, 0), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("peak %1").arg(perSecond(Peak())));
        p.drawText(all.adjusted(4, 1, -4, 0), Qt::AlignRight | Qt::AlignTop,
                   QStringLiteral("latest %1").arg(perSecond(m_samples.last().perSecond)));
    }
}

void CSpeedGraph::mousePressEvent(QMouseEvent* event) {
    if (m_activated && event->button() == Qt::LeftButton)
        m_activated();
    QWidget::mousePressEvent(event);
}

void CSpeedGraph::keyPressEvent(QKeyEvent* event) {
    if (m_activated && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                        event->key() == Qt::Key_Space)) {
        m_activated();
        return;
    }
    QWidget::keyPressEvent(event);
}
