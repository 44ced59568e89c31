#pragma once
// Keeps the mouse wheel from changing a value by accident: spin boxes, drop-downs
// and date/time fields take the wheel only while they have keyboard focus;
// otherwise the wheel scrolls the page they sit on. One filter guards every such
// field of every window, also those created later (they are caught when polished).
#include <QObject>

class QWidget;

class TWheelGuard : public QObject {
    Q_OBJECT
public:
    // Installs the one guard of the application (once) and guards the fields that exist.
    static TWheelGuard* install();
    // Whether a widget is a field the guard looks after.
    static bool guards(const QWidget* w);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TWheelGuard(QObject* parent);
    void guard(QWidget* w);
};
