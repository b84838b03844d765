#include "ui/groove_panel/panel_access.h"

#include <QAccessibleWidget>
#include <QPainter>

#include "ui/groove_panel/skin.h"

namespace qtam {

FocusSpot::FocusSpot(const QString& name, ControlGroup group, QWidget* parent)
    : QWidget(parent), group_(group) {
    setObjectName(name);
    // Clicks go on to the picture under the spot, so the mouse behaves as it always did.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::TabFocus);
}

void FocusSpot::paintEvent(QPaintEvent*) {
    if (!hasFocus()) return;
    QPainter p(this);
    skin::PaintFocusRing(p, size(), ringBand);
}

void FocusSpot::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void FocusSpot::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

namespace {

class SpotAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SpotAccessible(FocusSpot* spot) : QAccessibleWidget(spot) {}

    FocusSpot* spot() const { return static_cast<FocusSpot*>(widget()); }
    ControlDescription description() const {
        return spot()->describe ? spot()->describe() : ControlDescription{};
    }

    QAccessible::Role role() const override { return description().role; }

    QString text(QAccessible::Text t) const override {
        const ControlDescription d = description();
        if (t == QAccessible::Name) return d.name;
        if (t == QAccessible::Value) return d.value;
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        const ControlDescription d = description();
        s.checkable = d.checkable;
        s.checked = d.checked;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface && description().ranged)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return description().current; }
    void setCurrentValue(const QVariant& value) override {
        const int delta = value.toInt() - description().current;
        if (spot()->onMove && delta != 0) spot()->onMove(delta);
    }
    QVariant maximumValue() const override { return description().maximum; }
    QVariant minimumValue() const override { return description().minimum; }
    QVariant minimumStepSize() const override { return 1; }
};

// The panel as a window whose children are its controls (the spots that show); the pictures
// and printed labels under them are decoration that the spots already speak for.
class PanelAccessible : public QAccessibleWidget {
public:
    explicit PanelAccessible(QWidget* panel) : QAccessibleWidget(panel, QAccessible::Window) {}
    int childCount() const override { return int(Spots().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> spots = Spots();
        if (index < 0 || index >= spots.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(spots[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child == nullptr ? -1 : int(Spots().indexOf(child->object()));
    }

private:
    QList<QWidget*> Spots() const {
        QList<QWidget*> spots;
        for (QObject* o : widget()->children())
            if (auto* spot = dynamic_cast<FocusSpot*>(o); spot && spot->isVisibleTo(widget()))
                spots.push_back(spot);
        return spots;
    }
};

QAccessibleInterface* SpotFactory(const QString& className, QObject* object) {
    if (auto* spot = dynamic_cast<FocusSpot*>(object)) return new SpotAccessible(spot);
    if (className == QLatin1String("qtam::GroovePanel"))
        return new PanelAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

void InstallPanelAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(SpotFactory);
        return true;
    }();
    (void)installed;
}

void ReportChanges(FocusSpot& spot) {
    if (!spot.describe) return;
    const ControlDescription now = spot.describe();
    const ControlDescription before = spot.told;
    if (now == before) return;
    spot.told = now;
    if (now.name != before.name) {
        QAccessibleEvent e(&spot, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&e);
    }
    if (now.checked != before.checked) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent e(&spot, changed);
        QAccessible::updateAccessibility(&e);
    }
    if (now.value != before.value || now.current != before.current) {
        QAccessibleValueChangeEvent e(&spot, now.current);
        QAccessible::updateAccessibility(&e);
    }
}

}  // namespace qtam
