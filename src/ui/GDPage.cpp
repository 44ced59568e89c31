#include "GDPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "DockPage.h" // PaintEditorActive
#include "lang/LangTable.h"
#include "link/UnitDef.h"

namespace {

constexpr int kRowHeight = 24;

QString caption(int n, const char* fallback)
{
    const QString t = LangText(n);
    return t.isEmpty() ? QString::fromUtf8(fallback) : t;
}

// Paints grid cells as the model says: background, bold, alignment (row labels 8 pixels in).
class TLookDelegate : public QStyledItemDelegate {
public:
    TLookDelegate(std::function<RCellLook(int col, int row)> look, QObject* parent)
        : QStyledItemDelegate(parent), m_look(std::move(look))
    {
    }
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const RCellLook look = m_look(index.column(), index.row());
        p->save();
        p->fillRect(option.rect, look.background);
        QFont f = option.font;
        f.setBold(look.bold);
        p->setFont(f);
        p->setPen(look.text);
        QRect r = option.rect;
        int align = Qt::AlignVCenter;
        if (look.leftAligned) {
            r.adjust(8, 0, 0, 0);
            align |= Qt::AlignLeft;
        } else {
            align |= Qt::AlignHCenter;
        }
        p->drawText(r, align, index.data(Qt::DisplayRole).toString());
        p->restore();
    }

private:
    std::function<RCellLook(int, int)> m_look;
};

QTableWidget* makeGrid(const char* name, int rows, int cols, QWidget* parent)
{
    auto* grid = new QTableWidget(rows, cols, parent);
    grid->setObjectName(QLatin1String(name));
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->setSelectionMode(QAbstractItemView::NoSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setFocusPolicy(Qt::NoFocus);
    for (int r = 0; r < rows; ++r) {
        grid->setRowHeight(r, kRowHeight);
        for (int c = 0; c < cols; ++c) {
            auto* item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled);
            grid->setItem(r, c, item);
        }
    }
    return grid;
}

void fitGrid(QTableWidget* grid)
{
    int w = 2 * grid->frameWidth();
    for (int c = 0; c < grid->columnCount(); ++c)
        w += grid->columnWidth(c);
    int h = 2 * grid->frameWidth();
    for (int r = 0; r < grid->rowCount(); ++r)
        h += grid->rowHeight(r);
    grid->setFixedSize(w, h);
}

void setCell(QTableWidget* grid, int row, int col, const QString& text)
{
    QTableWidgetItem* item = grid->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled);
        grid->setItem(row, col, item);
    }
    if (item->text() != text)
        item->setText(text);
}

} // namespace

TUpDown::TUpDown(const QString& name, int tag, QWidget* parent) : QWidget(parent)
{
    setObjectName(name);
    setProperty("tag", tag);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setObjectName(name + QStringLiteral("Up"));
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(this);
    m_down->setObjectName(name + QStringLiteral("Down"));
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {m_up, m_down}) {
        b->setFixedSize(16, kRowHeight / 2 - 1);
        b->setAutoRepeat(true);
        v->addWidget(b);
    }
    connect(m_up, &QToolButton::clicked, this, [this] { emit stepped(true); });
    connect(m_down, &QToolButton::clicked, this, [this] { emit stepped(false); });
}

TGDPage::TGDPage(TGDPageModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("GDPage"));
    askImageFile = [](QWidget* parentWidget, const QString& startPath) {
        const QString start = startPath.isEmpty() ? QString() : QFileInfo(startPath).absolutePath();
        return QFileDialog::getOpenFileName(parentWidget, QString(), start,
                                            LangText(992, "Image files (*.img)"));
    };
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);
    top->addWidget(buildOptions());
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(buildDownloads());
    bottom->addWidget(buildUpgrade(), 1);
    top->addLayout(bottom);
    top->addStretch(1);

    connect(m_model, &TGDPageModel::changed, this, &TGDPage::refresh);
    refresh();
}

QWidget* TGDPage::buildOptions()
{
    auto* box = new QWidget(this);
    auto* h = new QHBoxLayout(box);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(8);

    m_grid = makeGrid("GDOptGrid", GDOPT_GRID_ROWS, GDOPT_GRID_COLS, box);
    m_grid->setColumnWidth(0, 212);
    for (int c = 1; c < GDOPT_GRID_COLS; ++c)
        m_grid->setColumnWidth(c, 72);
    fitGrid(m_grid);
    m_grid->setItemDelegate(new TLookDelegate(
        [this](int col, int row) { return m_model->GDOptCellLook(col, row); }, m_grid));
    connect(m_grid, &QTableWidget::cellClicked, this, [this](int row, int col) {
        if (row == 0)
            m_model->GDOptGridFixedCellClick(col, row);
        else if (col > 0)
            m_model->GDOptGridSelectCell(col, row);
    });
    connect(m_grid, &QTableWidget::cellDoubleClicked, this, [this](int row, int col) {
        if (row > 0 && col > 0)
            m_model->GDOptGridSelectCell(col, row);
        else
            m_model->GDOptGridSelectCell(-1, -1);
        m_model->GDOptGridDblClick();
    });
    h->addWidget(m_grid, 0, Qt::AlignTop);

    // One editor per grid row, level with it.
    auto* editors = new QWidget(box);
    auto* g = new QGridLayout(editors);
    g->setContentsMargins(0, m_grid->frameWidth(), 0, 0);
    g->setVerticalSpacing(0);
    g->setHorizontalSpacing(2);
    for (int r = 0; r < GDOPT_GRID_ROWS; ++r)
        g->setRowMinimumHeight(r, kRowHeight);

    m_sensorCombo = new QComboBox(editors);
    m_sensorCombo->setObjectName(QStringLiteral("GDOptSensorCombo"));
    for (int c = 1; c <= CFG_MAX_GD; ++c)
        m_sensorCombo->addItem(FSensor[FGDSensorList[c]].mName);
    connect(m_sensorCombo, &QComboBox::activated, this, [this](int index) {
        if (!m_refreshing)
            m_model->GDOptSensorComboChange(index);
    });
    g->addWidget(m_sensorCombo, 0, 0);

    static const char* const editNames[7] = {"", "GDOptUserIDEdit", "GDOptCalEdit", "GDOptBumpEdit",
                                             "GDOptSelfEdit", "GDOptLOWEdit", "GDOptHIGHEdit"};
    static const char* const upDownNames[7] = {"", "", "GDOptCalUpdown", "GDOptBumpUpDown",
                                               "GDOptSelfUpDown", "GDOptLOWUpDown", "GDOptHIGHUpDown"};
    for (int row = 1; row <= 6; ++row) {
        auto* e = new QLineEdit(editors);
        e->setObjectName(QLatin1String(editNames[row]));
        e->setFixedHeight(kRowHeight - 2);
        e->setMinimumWidth(row == 1 ? 140 : 90);
        m_edits[row] = e;
        connect(e, &QLineEdit::textEdited, this, [this, row](const QString& text) {
            if (!m_refreshing)
                m_model->setEditText(row, text);
        });
        connect(e, &QLineEdit::editingFinished, this, [this, row, e] {
            if (m_refreshing || !e->isEnabled())
                return;
            m_model->setEditText(row, e->text());
            if (row == 1)
                m_model->GDOptUserIDEditExit();
            else if (row <= 4)
                m_model->GDOptCalEditExit(row - 1);
            else
                m_model->GDOptLOWEditExit(row - 4);
        });
        if (row >= 2)
            e->installEventFilter(this);
        g->addWidget(e, row, 0);
        if (row >= 2) {
            const int tag = row <= 4 ? row - 1 : row - 4;
            auto* ud = new TUpDown(QLatin1String(upDownNames[row]), tag, editors);
            m_upDowns[row] = ud;
            connect(ud, &TUpDown::stepped, this, [this, row, tag](bool up) {
                if (m_refreshing)
                    return;
                m_model->setEditText(row, m_edits[row]->text());
                if (row <= 4)
                    m_model->GDOptCalUpdownChangingEx(tag, up);
                else
                    m_model->GDOptLOWUpDownChangingEx(tag, up);
            });
            g->addWidget(ud, row, 1);
        }
    }
    m_displayCombo = new QComboBox(editors);
    m_displayCombo->setObjectName(QStringLiteral("GDOptDisplayCombo"));
    m_displayCombo->addItems(m_model->displayItems());
    connect(m_displayCombo, &QComboBox::activated, this, [this](int index) {
        if (!m_refreshing)
            m_model->GDOptDisplayComboChange(index);
    });
    g->addWidget(m_displayCombo, 7, 0);
    m_ledCheck = new QCheckBox(caption(64, "Hide LED"), editors);
    m_ledCheck->setObjectName(QStringLiteral("GDOptBumpLEDCheck"));
    connect(m_ledCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_refreshing)
            m_model->GDOptBumpLEDCheckClick(on);
    });
    g->addWidget(m_ledCheck, 8, 0, 1, 2);
    m_manualCheck = new QCheckBox(caption(78, "Enable"), editors);
    m_manualCheck->setObjectName(QStringLiteral("GDOptEnableMaualTestCheck"));
    connect(m_manualCheck, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_refreshing)
            m_model->GDOptEnableMaualTestCheckClick(on);
    });
    g->addWidget(m_manualCheck, 9, 0, 1, 2);

    // Set flags of the selected column: kept, never shown.
    for (int b = 0; b < TGDPageModel::CHECK_COUNT; ++b) {
        auto* cb = new QCheckBox(editors);
        cb->setObjectName(QLatin1String(TGDPageModel::setFlagBoxName(b)));
        cb->setVisible(false);
        m_flagBoxes[b] = cb;
        connect(cb, &QCheckBox::toggled, this, [this, b](bool on) {
            if (!m_refreshing)
                m_model->SetFlagBoxClick(b, on);
        });
    }
    // Gas exposure limits of other instrument families: not used here.
    for (const char* name : {"GDOptSTELEdit", "GDOptTWAEdit"}) {
        auto* e = new QLineEdit(editors);
        e->setObjectName(QLatin1String(name));
        e->setEnabled(false);
        e->setVisible(false);
    }
    for (const char* name : {"GDOptSTELUpDown", "GDOptTWAUpDown"}) {
        auto* ud = new TUpDown(QLatin1String(name), 0, editors);
        ud->setEnabled(false);
        ud->setVisible(false);
    }
    g->setRowStretch(GDOPT_GRID_ROWS, 1);
    h->addWidget(editors, 0, Qt::AlignTop);
    h->addStretch(1);
    return box;
}

QWidget* TGDPage::buildDownloads()
{
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("GDOpPanel"));
    frame->setFrameShape(QFrame::StyledPanel);
    auto* g = new QGridLayout(frame);
    auto* configBtn = new QPushButton(caption(65, "Configuration download"), frame);
    configBtn->setObjectName(QStringLiteral("GDOpConfigBtn"));
    configBtn->setProperty("tag", 0);
    auto* firmwareBtn = new QPushButton(caption(66, "Firmware download"), frame);
    firmwareBtn->setObjectName(QStringLiteral("GDOpFirmwareBtn"));
    firmwareBtn->setProperty("tag", 1);
    connect(configBtn, &QPushButton::clicked, this, [this] { emit downloadRequested(0); });
    connect(firmwareBtn, &QPushButton::clicked, this, [this] { emit downloadRequested(1); });
    m_configSend = new QCheckBox(caption(67, "Transfer configuration files"), frame);
    m_configSend->setObjectName(QStringLiteral("GDOpConfigFileSendCheck"));
    m_firmwareSend = new QCheckBox(caption(68, "Transfer upgrade file"), frame);
    m_firmwareSend->setObjectName(QStringLiteral("GDOpFirmwareFileSendCheck"));
    connect(m_configSend, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_refreshing)
            m_model->setConfigFileSend(on);
    });
    connect(m_firmwareSend, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_refreshing)
            m_model->setFirmwareFileSend(on);
    });
    g->addWidget(configBtn, 0, 0);
    g->addWidget(m_configSend, 0, 1);
    g->addWidget(firmwareBtn, 1, 0);
    g->addWidget(m_firmwareSend, 1, 1);

    m_resGrid = makeGrid("GDOpResGrid", GDRES_GRID_ROWS, GDRES_GRID_COLS, frame);
    m_resGrid->setColumnWidth(0, 130);
    for (int c = 1; c < GDRES_GRID_COLS; ++c)
        m_resGrid->setColumnWidth(c, 112);
    fitGrid(m_resGrid);
    m_resGrid->setItemDelegate(new TLookDelegate(
        [this](int col, int row) { return m_model->GDOpResCellLook(col, row); }, m_resGrid));
    g->addWidget(m_resGrid, 2, 0, 1, 2);
    return frame;
}

QWidget* TGDPage::buildUpgrade()
{
    auto* gb = new QGroupBox(caption(28, "Upgrade File"), this);
    gb->setObjectName(QStringLiteral("GDUpgradeGB"));
    auto* v = new QVBoxLayout(gb);
    auto* row = new QHBoxLayout;
    m_upgradeEdit = new QLineEdit(gb);
    m_upgradeEdit->setObjectName(QStringLiteral("GDUpgradeFileNameEdit"));
    auto* browse = new QToolButton(gb);
    browse->setObjectName(QStringLiteral("GDUpgradeFileNameBtn"));
    browse->setText(QStringLiteral("..."));
    row->addWidget(m_upgradeEdit, 1);
    row->addWidget(browse);
    row->addStretch(1); // the button stays beside its field
    v->addLayout(row);
    m_upgradeLabel = new QLabel(QStringLiteral("---"), gb);
    m_upgradeLabel->setObjectName(QStringLiteral("GDUpgradeLabel"));
    v->addWidget(m_upgradeLabel);
    // The second instrument image chooser is not used by this edition.
    m_upgradeEdit1 = new QLineEdit(gb);
    m_upgradeEdit1->setObjectName(QStringLiteral("GDUpgradeFileNameEdit1"));
    m_upgradeEdit1->setEnabled(false);
    m_upgradeEdit1->setVisible(false);
    m_upgradeLabel1 = new QLabel(QStringLiteral("---"), gb);
    m_upgradeLabel1->setObjectName(QStringLiteral("GDUpgradeLabel1"));
    m_upgradeLabel1->setEnabled(false);
    m_upgradeLabel1->setVisible(false);
    v->addWidget(m_upgradeEdit1);
    v->addWidget(m_upgradeLabel1);
    v->addStretch(1);

    connect(m_upgradeEdit, &QLineEdit::editingFinished, this, [this] {
        if (m_refreshing || m_upgradeEdit->text() == m_model->GDUpgradeFileNameEdit)
            return;
        const QString path = m_upgradeEdit->text();
        m_model->setUpgradeFile(path);
        emit upgradeFilePathEdited(path, UNIT_FWTYPE_GD);
    });
    connect(browse, &QToolButton::clicked, this, [this] {
        if (!askImageFile)
            return;
        const QString path = askImageFile(this, m_model->GDUpgradeFileNameEdit);
        if (!path.isEmpty())
            emit upgradeFileChosen(path, UNIT_FWTYPE_GD);
    });
    return gb;
}

bool TGDPage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (!text.isEmpty() && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            const bool alarm = watched == m_edits[5] || watched == m_edits[6];
            for (QChar c : text) {
                if (!(alarm ? TGDPageModel::AlarmKeyAllowed(c) : TGDPageModel::IntervalKeyAllowed(c)))
                    return true; // discarded, as the editor only takes numbers
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TGDPage::refresh()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    for (int r = 0; r < GDOPT_GRID_ROWS; ++r)
        for (int c = 0; c < GDOPT_GRID_COLS; ++c)
            setCell(m_grid, r, c, m_model->GDOptGrid[r][c]);
    m_grid->viewport()->update();
    for (int r = 0; r < GDRES_GRID_ROWS; ++r)
        for (int c = 0; c < GDRES_GRID_COLS; ++c)
            setCell(m_resGrid, r, c, m_model->GDOpResGrid[r][c]);
    m_resGrid->viewport()->update();

    {
        const QSignalBlocker block(m_sensorCombo);
        m_sensorCombo->setCurrentIndex(m_model->GDOptSensorCombo);
    }
    for (int row = 1; row <= 6; ++row) {
        QLineEdit* e = m_edits[row];
        const QString text = m_model->editText(row);
        if (e->text() != text) {
            const QSignalBlocker block(e);
            e->setText(text);
        }
        const bool on = m_model->editorEnabled(row);
        e->setEnabled(on);
        PaintEditorActive(e, on);
        if (m_upDowns[row])
            m_upDowns[row]->setEnabled(on);
    }
    const bool display = m_model->editorEnabled(7);
    {
        const QSignalBlocker block(m_displayCombo);
        const QStringList items = m_model->displayItems();
        QStringList current;
        for (int i = 0; i < m_displayCombo->count(); ++i)
            current << m_displayCombo->itemText(i);
        if (current != items) {
            m_displayCombo->clear();
            m_displayCombo->addItems(items);
        }
        m_displayCombo->setCurrentIndex(m_model->GDOptDisplayCombo);
        m_displayCombo->setEnabled(display);
    }
    {
        const QSignalBlocker b1(m_ledCheck);
        const QSignalBlocker b2(m_manualCheck);
        m_ledCheck->setChecked(m_model->GDOptBumpLEDCheck);
        m_manualCheck->setChecked(m_model->GDOptEnableMaualTestCheck);
        m_ledCheck->setEnabled(display);
        m_manualCheck->setEnabled(display);
    }
    for (int b = 0; b < TGDPageModel::CHECK_COUNT; ++b) {
        const QSignalBlocker block(m_flagBoxes[b]);
        m_flagBoxes[b]->setChecked(m_model->setFlagBoxValue(b));
    }
    {
        const QSignalBlocker b1(m_configSend);
        const QSignalBlocker b2(m_firmwareSend);
        m_configSend->setChecked(m_model->GDOpConfigFileSendCheck);
        m_firmwareSend->setChecked(m_model->GDOpFirmwareFileSendCheck);
    }
    if (m_upgradeEdit->text() != m_model->GDUpgradeFileNameEdit) {
        const QSignalBlocker block(m_upgradeEdit);
        m_upgradeEdit->setText(m_model->GDUpgradeFileNameEdit);
    }
    m_upgradeLabel->setText(m_model->GDUpgradeLabel);
    if (m_upgradeEdit1->text() != m_model->GDUpgradeFileNameEdit1)
        m_upgradeEdit1->setText(m_model->GDUpgradeFileNameEdit1);
    m_upgradeLabel1->setText(m_model->GDUpgradeLabel1);
    m_refreshing = false;
}
