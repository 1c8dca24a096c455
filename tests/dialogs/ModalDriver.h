#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>

// Plays a script against the modal dialogs and message boxes that a command opens, so
// tests never sit in a real modal wait. A timer looks for the active modal widget; each
// new one gets the next step. A step marked "again" goes to a modal widget that is up
// again (a dialog that stayed open, once its message box is gone). Steps run from a zero timer, so
// a step may open a nested modal loop of its own. Widgets that turn up with no step left are
// counted and closed by the fallback, so a wrong script fails instead of hanging.
class ModalDriver : public QObject {
    Q_OBJECT

public:
    struct Step {
        std::function<void(QWidget*)> action;
        bool again = false;
    };

    explicit ModalDriver(QList<Step> steps);
    ~ModalDriver() override;

    bool finished() const { return m_steps.isEmpty(); }
    int unexpected() const { return m_unexpected; }
    // What the steps found wrong since the last driver was made; checked after the
    // command returns.
    static QStringList& Errors();

    // Fills the widget's line edits, check boxes and buttons by object name.
    static void setText(QWidget* w, const char* name, const QString& text);
    static void setChecked(QWidget* w, const char* name, bool checked);
    static void click(QWidget* w, const char* name);

private:
    void poll();
    void fallback(QWidget* w);

    QList<Step> m_steps;
    QTimer m_timer;
    int m_ticks = 0;
    int m_unexpected = 0;
    bool m_busy = false; // a step is queued and has not started yet
};

// A step for a message box: checks its caption, icon and text, then presses OK.
ModalDriver::Step ExpectWarning(const QString& text);
