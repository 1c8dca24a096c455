#include "ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace {
constexpr int kPollMs = 10;
// Bound on the whole script: 3000 polls of 10 ms.
constexpr int kMaxTicks = 3000;
const char* const kDriven = "modalDriverSeen";
} // namespace

QStringList& ModalDriver::Errors() {
    static QStringList errors;
    return errors;
}

ModalDriver::ModalDriver(QList<Step> steps) : m_steps(std::move(steps)) {
    Errors().clear();
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_timer.start(kPollMs);
}

ModalDriver::~ModalDriver() {
    m_timer.stop();
}

void ModalDriver::poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (++m_ticks > kMaxTicks) {
        if (w) {
            Errors() << QStringLiteral("script timed out");
            fallback(w);
        }
        return;
    }
    if (!w || m_busy)
        return;
    const bool seen = w->property(kDriven).toBool();
    if (seen && (m_steps.isEmpty() || !m_steps.first().again))
        return;
    w->setProperty(kDriven, true);
    if (m_steps.isEmpty() || (!seen && m_steps.first().again)) {
        ++m_unexpected;
        const auto* box = qobject_cast<QMessageBox*>(w);
        Errors() << QStringLiteral("unexpected %1 \"%2\" %3")
                        .arg(QString::fromLatin1(w->metaObject()->className()), w->windowTitle(),
                             box ? box->text() : QString());
        fallback(w);
        return;
    }
    const Step step = m_steps.takeFirst();
    QPointer<QWidget> target(w);
    m_busy = true;
    QTimer::singleShot(0, this, [this, step, target] {
        // Cleared first: the action may open a nested modal loop that the next step drives.
        m_busy = false;
        if (target)
            step.action(target);
    });
}

// Ends whatever is up: OK for message boxes, Cancel for dialogs. A Security dialog is
// emptied and confirmed instead, since Cancel on bad stored values would reopen it.
void ModalDriver::fallback(QWidget* w) {
    QPointer<QWidget> target(w);
    QTimer::singleShot(0, this, [target] {
        if (!target)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(target.data())) {
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->accept();
        } else if (target->inherits("CSecurityDlg")) {
            for (QLineEdit* edit : target->findChildren<QLineEdit*>())
                edit->clear();
            ModalDriver::click(target, "okButton");
        } else if (auto* dlg = qobject_cast<QDialog*>(target.data())) {
            dlg->reject();
        } else {
            target->close();
        }
    });
}

void ModalDriver::setText(QWidget* w, const char* name, const QString& text) {
    if (auto* edit = w->findChild<QLineEdit*>(QLatin1String(name)))
        edit->setText(text);
    else
        qWarning("no line edit %s", name);
}

void ModalDriver::setChecked(QWidget* w, const char* name, bool checked) {
    if (auto* box = w->findChild<QCheckBox*>(QLatin1String(name)))
        box->setChecked(checked);
    else
        qWarning("no check box %s", name);
}

void ModalDriver::click(QWidget* w, const char* name) {
    if (auto* button = w->findChild<QAbstractButton*>(QLatin1String(name)))
        button->click();
    else
        qWarning("no button %s", name);
}

ModalDriver::Step ExpectWarning(const QString& text) {
    return {
        [text](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                ModalDriver::Errors()
                    << QStringLiteral("expected a message box, got %1")
                           .arg(QString::fromLatin1(w->metaObject()->className()));
                if (auto* dlg = qobject_cast<QDialog*>(w))
                    dlg->reject();
                return;
            }
            if (box->text() != text)
                ModalDriver::Errors()
                    << QStringLiteral("message \"%1\", expected \"%2\"").arg(box->text(), text);
            if (box->windowTitle() != QLatin1String("ZAZO_Dize"))
                ModalDriver::Errors() << QStringLiteral("caption \"%1\"").arg(box->windowTitle());
            if (box->icon() != QMessageBox::Warning)
                ModalDriver::Errors() << QStringLiteral("message box without the warning icon");
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->accept();
        }};
}
