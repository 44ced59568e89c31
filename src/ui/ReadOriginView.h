#pragma once
// What the configuration pages hold: a line above the Docking Station and
// instrument pages names the dock and the time of the Read the values came from
// (or says that they are defaults), the fields changed since that Read are
// marked, and Write is offered only for values that came from a dock.
#include <QObject>
#include <QPointer>
#include <QSet>

#include "app/ConfigEditors.h"

class QLabel;
class QWidget;
class TMainCore;

class TReadOriginView : public QObject {
    Q_OBJECT
public:
    TReadOriginView(QWidget* window, TMainCore& core);

    // Follows the core: labels, marks, the Write button. Also after every edit.
    void refresh();
    // The caption a person sees for a changed editor.
    QString caption(const ConfigChange& change) const;
    // Whether a widget is marked as changed since the Read.
    static bool marked(const QWidget* w);

private:
    QLabel* makeLabel(const char* page, const char* name);
    QWidget* fieldWidget(const QString& name) const;
    void mark(const QVector<ConfigChange>& changes);

    QWidget* m_window;
    TMainCore& m_core;
    QPointer<QLabel> m_dockLabel, m_gdLabel;
    QSet<QWidget*> m_marked;
    QSet<QPair<int, int>> m_markedCells;
    QStringList m_lastChanges;
    int m_lastGeneration = -1;
};
