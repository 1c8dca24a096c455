#include "ui/dialogs/ComboAccessible.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

namespace {

// What Qt's own combo box interface offers (its list and edit as children, opening the
// list as an action), with the name taken from the label.
class CComboAccessible : public QAccessibleWidget {
public:
    explicit CComboAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name: {
            QString name = Combo()->accessibleName();
            const auto labels = relations(QAccessible::Label);
            if (name.isEmpty() && !labels.isEmpty())
                name = labels.first().first->text(QAccessible::Name).trimmed();
            if (name.endsWith(QLatin1Char(':')))
                name.chop(1);
            return name.trimmed();
        }
        case QAccessible::Value:
            return Combo()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    int childCount() const override { return Combo()->lineEdit() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override {
        if (index == 0)
            return QAccessible::queryAccessibleInterface(Combo()->view());
        if (index == 1 && Combo()->lineEdit())
            return QAccessible::queryAccessibleInterface(Combo()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* c) const override {
        if (c && c->object() == Combo()->view())
            return 0;
        if (c && Combo()->lineEdit() && c->object() == Combo()->lineEdit())
            return 1;
        return -1;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = Combo()->view()->isVisible();
        s.collapsed = !s.expanded;
        s.editable = Combo()->isEditable();
        return s;
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (Combo()->view()->isVisible())
            Combo()->hidePopup();
        else
            Combo()->showPopup();
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(object()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox") && object && object->isWidgetType())
        return new CComboAccessible(static_cast<QComboBox*>(object));
    return nullptr;
}

} // namespace

void NameComboBoxesByLabels() { QAccessible::installFactory(Factory); }
