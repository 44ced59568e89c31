#include "WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>
#include <functional>

namespace {

constexpr const char* kGuarded = "wheelGuarded";

// The nearest scroll area around w that can still move in the wheel's direction.
QAbstractScrollArea* scrollTarget(QWidget* w, bool vertical)
{
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(p);
        if (!area)
            continue;
        const QScrollBar* bar = vertical ? area->verticalScrollBar() : area->horizontalScrollBar();
        if (bar && bar->maximum() > bar->minimum())
            return area;
    }
    return nullptr;
}

// Watches the application for widgets being polished: a field made after start-up
// is guarded before it is first shown.
class PolishWatcher : public QObject {
public:
    explicit PolishWatcher(QObject* parent) : QObject(parent) {}
    std::function<void(QWidget*)> onPolish;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Polish && watched->isWidgetType() && onPolish)
            onPolish(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

TWheelGuard::TWheelGuard(QObject* parent) : QObject(parent) {}

TWheelGuard* TWheelGuard::install()
{
    auto* app = qApp;
    if (!app)
        return nullptr;
    if (auto* existing = app->findChild<TWheelGuard*>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    auto* g = new TWheelGuard(app);
    auto* watcher = new PolishWatcher(g);
    watcher->onPolish = [g](QWidget* w) { g->guard(w); };
    app->installEventFilter(watcher);
    for (QWidget* w : QApplication::allWidgets())
        g->guard(w);
    return g;
}

bool TWheelGuard::guards(const QWidget* w)
{
    // A date/time edit is a spin box too.
    return qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QComboBox*>(w);
}

void TWheelGuard::guard(QWidget* w)
{
    if (!w || !guards(w) || w->property(kGuarded).toBool())
        return;
    w->setProperty(kGuarded, true);
    // The wheel must not give focus, or the first notch would still change the value.
    if (w->focusPolicy() != Qt::NoFocus)
        w->setFocusPolicy(Qt::StrongFocus);
    w->installEventFilter(this);
}

bool TWheelGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel || !watched->isWidgetType())
        return false;
    auto* w = static_cast<QWidget*>(watched);
    // A combo box's line edit may hold the focus for it.
    if (w->hasFocus() || (w->focusProxy() && w->focusProxy()->hasFocus()))
        return false;
    auto* wheel = static_cast<QWheelEvent*>(event);
    const QPoint delta = wheel->angleDelta();
    const bool vertical = std::abs(delta.y()) >= std::abs(delta.x());
    if (QAbstractScrollArea* area = scrollTarget(w, vertical)) {
        QWidget* viewport = area->viewport();
        const QPointF pos = viewport->mapFromGlobal(wheel->globalPosition());
        QWheelEvent forwarded(pos, wheel->globalPosition(), wheel->pixelDelta(), delta, wheel->buttons(),
                              wheel->modifiers(), wheel->phase(), wheel->inverted(), wheel->source());
        QCoreApplication::sendEvent(viewport, &forwarded);
    }
    return true; // never reaches the field
}
