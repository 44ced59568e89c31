#include "ReadOriginView.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QTableWidget>

#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "util/StUtils.h"

namespace {

constexpr const char* kMarked = "changedSinceRead";

QString plain(QString text)
{
    text.remove(QLatin1Char('&'));
    while (text.endsWith(QLatin1Char(':')) || text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

// The label on the left of a field in its grid row.
QLabel* rowLabel(QWidget* w)
{
    QWidget* parent = w->parentWidget();
    auto* grid = parent ? qobject_cast<QGridLayout*>(parent->layout()) : nullptr;
    if (!grid)
        return nullptr;
    const int index = grid->indexOf(w);
    if (index < 0)
        return nullptr;
    int row = 0, col = 0, rs = 0, cs = 0;
    grid->getItemPosition(index, &row, &col, &rs, &cs);
    for (int c = col - 1; c >= 0; --c)
        if (QLayoutItem* item = grid->itemAtPosition(row, c))
            if (auto* l = qobject_cast<QLabel*>(item->widget()))
                return l;
    return nullptr;
}

// The Read's time in the date format of the settings.
QString readTime(int dateFormat, const QString& stored)
{
    const QDateTime t = QDateTime::fromString(stored, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return t.isValid() ? GetDateHMFmt(uint8_t(dateFormat), DateTimeToDays(t), QStringLiteral("-")) : stored;
}

void setMarkedFont(QWidget* w, bool on)
{
    QFont f = w->font();
    f.setBold(on);
    f.setItalic(on);
    w->setFont(f);
}

} // namespace

TReadOriginView::TReadOriginView(QWidget* window, TMainCore& core)
    : QObject(window), m_window(window), m_core(core)
{
    m_dockLabel = makeLabel("DockTS", "DockReadOriginLabel");
    m_gdLabel = makeLabel("GDTS", "GDReadOriginLabel");
    core.ChangeCaption = [this](const ConfigChange& c) { return caption(c); };
    // Every edit of either page shows at once what differs from the dock.
    connect(&core.editors.dock, &TDockPageModel::changed, this, &TReadOriginView::refresh);
    connect(&core.editors.gd, &TGDPageModel::changed, this, &TReadOriginView::refresh);
}

QLabel* TReadOriginView::makeLabel(const char* page, const char* name)
{
    auto* p = m_window->findChild<QWidget*>(QLatin1String(page));
    auto* box = p ? qobject_cast<QBoxLayout*>(p->layout()) : nullptr;
    if (!box)
        return nullptr;
    auto* l = new QLabel(p);
    l->setObjectName(QLatin1String(name));
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setContentsMargins(6, 4, 6, 4);
    box->insertWidget(0, l); // above the scrolling part: always in sight
    return l;
}

bool TReadOriginView::marked(const QWidget* w) { return w && w->property(kMarked).toBool(); }

QWidget* TReadOriginView::fieldWidget(const QString& name) const
{
    return m_window->findChild<QWidget*>(name);
}

QString TReadOriginView::caption(const ConfigChange& c) const
{
    if (c.gdCol > 0) {
        auto* grid = m_window->findChild<QTableWidget*>(QStringLiteral("GDOptGrid"));
        const QTableWidgetItem* option = grid ? grid->item(c.gdRow, 0) : nullptr;
        const QTableWidgetItem* sensor = grid ? grid->item(0, c.gdCol) : nullptr;
        QString text = (option ? plain(option->text()) : c.name.section(QLatin1Char('.'), 2, 2)) +
                       QStringLiteral(" [") + (sensor ? sensor->text() : c.name.section(QLatin1Char('.'), 1, 1)) +
                       QLatin1Char(']');
        if (c.name.endsWith(QLatin1String(".Set")))
            text += QStringLiteral(" (") + LangText(884) + QLatin1Char(')');
        return text;
    }
    QWidget* w = fieldWidget(c.name);
    if (!w)
        return c.name;
    if (auto* b = qobject_cast<QAbstractButton*>(w); b && !b->text().isEmpty())
        return plain(b->text());
    QString text;
    if (QLabel* l = rowLabel(w))
        text = plain(l->text());
    // The bottle slots have no label of their own: the group and the slot say it.
    if (c.name.startsWith(QLatin1String("DockBottleGas"))) {
        QString group;
        for (QWidget* p = w->parentWidget(); p && group.isEmpty(); p = p->parentWidget())
            if (auto* gb = qobject_cast<QGroupBox*>(p))
                group = plain(gb->title());
        text = group + QLatin1Char(' ') + c.name.right(1) + (text.isEmpty() ? QString() : QStringLiteral(" ") + text);
    }
    return text.isEmpty() ? c.name : text;
}

void TReadOriginView::mark(const QVector<ConfigChange>& changes)
{
    QSet<QWidget*> now;
    QSet<QPair<int, int>> cells;
    for (const ConfigChange& c : changes) {
        if (c.gdCol > 0) {
            cells.insert({c.gdRow, c.gdCol});
            continue;
        }
        QWidget* w = fieldWidget(c.name);
        if (!w)
            continue;
        now.insert(w);
        if (!marked(w)) {
            w->setProperty(kMarked, true);
            setMarkedFont(w, true);
            if (QLabel* l = rowLabel(w))
                setMarkedFont(l, true);
        }
        w->setToolTip(LangText(895) + QStringLiteral(" : ") + c.before);
    }
    for (QWidget* w : std::as_const(m_marked)) {
        if (!w || now.contains(w))
            continue;
        w->setProperty(kMarked, false);
        setMarkedFont(w, false);
        w->setToolTip(QString());
        if (QLabel* l = rowLabel(w))
            setMarkedFont(l, false);
    }
    m_marked = now;

    if (auto* grid = m_window->findChild<QTableWidget*>(QStringLiteral("GDOptGrid"))) {
        for (const auto& cell : std::as_const(m_markedCells))
            if (!cells.contains(cell))
                if (QTableWidgetItem* item = grid->item(cell.first, cell.second)) {
                    QFont f = item->font();
                    f.setBold(false);
                    f.setItalic(false);
                    item->setFont(f);
                    item->setData(Qt::UserRole + 1, false);
                }
        for (const auto& cell : cells)
            if (QTableWidgetItem* item = grid->item(cell.first, cell.second)) {
                QFont f = item->font();
                f.setBold(true);
                f.setItalic(true);
                item->setFont(f);
                item->setData(Qt::UserRole + 1, true); // changed since the Read
            }
        grid->viewport()->update();
    }
    m_markedCells = cells;
}

void TReadOriginView::refresh()
{
    const TMainCore::ReadOrigin& o = m_core.FReadOrigin;
    const QVector<ConfigChange> changes = m_core.ChangesSinceRead();
    QStringList names;
    for (const ConfigChange& c : changes)
        names << caption(c);

    QString text;
    if (!o.valid)
        text = LangText(885);
    else
        text = LangText(o.restored ? 887 : 886)
                   .arg(o.sn.isEmpty() ? QStringLiteral("?") : o.sn,
                        readTime(m_core.state.settings.ConfigSetDateRadio, o.when));
    if (!names.isEmpty())
        text += QStringLiteral(" \u2014 ") + LangText(888).arg(names.join(QStringLiteral(", ")));
    const QString style = o.valid ? QStringLiteral("QLabel { background-color: rgb(232,240,250); color: black; }")
                                  : QStringLiteral("QLabel { background-color: rgb(255,243,205); color: black; }");
    for (QLabel* l : {m_dockLabel.data(), m_gdLabel.data()})
        if (l) {
            l->setText(text);
            l->setStyleSheet(style);
        }
    mark(changes);

    // An edit after the Read: what the status panel said of the Read holds no more.
    if (o.generation == m_lastGeneration && names != m_lastChanges && !m_core.state.FExe &&
        !m_core.state.FAutoMode)
        m_core.SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    m_lastGeneration = o.generation;
    m_lastChanges = names;

    if (QWidget* write = fieldWidget(QStringLiteral("OpWriteBtn")))
        if (!m_core.state.FExe && !m_core.state.FAutoMode)
            write->setEnabled(o.valid);
}
