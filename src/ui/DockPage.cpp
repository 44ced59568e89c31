#include "DockPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include "lang/LangTable.h"

namespace {

QString caption(int n, const char* fallback)
{
    const QString t = LangText(n);
    return t.isEmpty() ? QString::fromUtf8(fallback) : t;
}

QLabel* namedLabel(const char* name, const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

} // namespace

void PaintEditorActive(QWidget* editor, bool active)
{
    QPalette p = editor->palette();
    const QColor c = active ? QColor(Qt::white) : QApplication::palette().color(QPalette::Button);
    if (p.color(QPalette::Active, QPalette::Base) == c && p.color(QPalette::Disabled, QPalette::Base) == c)
        return;
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Disabled, QPalette::Base, c);
    editor->setPalette(p);
}

TDockPage::TDockPage(TDockPageModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("DockPage"));
    askImageFile = [](QWidget* parentWidget, const QString& startPath) {
        const QString start = startPath.isEmpty() ? QString() : QFileInfo(startPath).absolutePath();
        return QFileDialog::getOpenFileName(parentWidget, QString(), start,
                                            LangText(992, "Image files (*.img)"));
    };
    m_checks.resize(TDockPageModel::Checks().size());
    m_spins.resize(TDockPageModel::Spins().size());
    m_texts.resize(TDockPageModel::Texts().size());

    auto* left = new QVBoxLayout;
    left->addWidget(buildInfo());
    left->addWidget(buildConfig());
    left->addWidget(buildFullBump());
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(buildBottle());
    right->addWidget(buildNetwork());
    right->addWidget(buildUpgrade());
    right->addStretch(1);
    auto* top = new QHBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 4);
    top->addLayout(left, 1);
    top->addLayout(right, 1);

    connect(m_model, &TDockPageModel::changed, this, &TDockPage::refresh);
    refresh();
}

QLineEdit* TDockPage::textEdit(const char* name)
{
    auto* e = new QLineEdit(this);
    e->setObjectName(QLatin1String(name));
    const auto& table = TDockPageModel::Texts();
    for (int i = 0; i < table.size(); ++i) {
        if (qstrcmp(table.at(i).name, name) != 0)
            continue;
        m_texts[i] = e;
        const auto member = table.at(i).member;
        e->setReadOnly(table.at(i).readOnly);
        if (table.at(i).readOnly) {
            PaintEditorActive(e, false);
        } else {
            connect(e, &QLineEdit::textEdited, this, [this, member](const QString& text) {
                if (!m_refreshing)
                    m_model->setText(member, text);
            });
        }
    }
    return e;
}

QGroupBox* TDockPage::buildInfo()
{
    auto* gb = new QGroupBox(caption(1, "Information"), this);
    gb->setObjectName(QStringLiteral("DockInfoGB"));
    auto* g = new QGridLayout(gb);
    g->setHorizontalSpacing(8);
    g->addWidget(namedLabel("DockInfoLabel1", caption(2, "Serial Number"), gb), 0, 0);
    g->addWidget(textEdit("DockInfoSNEdit"), 0, 1);
    g->addWidget(namedLabel("DockInfoLabel2", caption(3, "Version"), gb), 1, 0);
    g->addWidget(textEdit("DockInfoVerEdit"), 1, 1);
    g->addWidget(namedLabel("DockInfoLabel3", caption(4, "Location"), gb), 2, 0);
    g->addWidget(textEdit("DockInfoLocationEdit"), 2, 1);
    g->setColumnMinimumWidth(0, 148);
    g->setColumnStretch(1, 1);
    return gb;
}

QGroupBox* TDockPage::buildConfig()
{
    auto* gb = new QGroupBox(caption(10, "Configuration"), this);
    gb->setObjectName(QStringLiteral("DockCfgGB"));
    auto* g = new QGridLayout(gb);
    g->setHorizontalSpacing(8);
    // Edit fields start 8 pixels right of the widest label, at 156 pixels at least.
    g->setColumnMinimumWidth(0, 148);
    static const struct {
        const char* label;
        int text;
        const char* fallback;
        const char* unitName;
        int unitText;
        const char* unitFallback;
    } rows[] = {
        {"DockCfgLabel1", 11, "Auto Power-Off Time", "DockCfgLabel11", 12, "sec"},
        {"DockCfgLabel2", 13, "Max. Bump Time", "DockCfgLabel12", 12, "sec"},
        {"DockCfgLabel3", 29, "Bump pass limit", "DockCfgPercentLabel", 0, "%"},
    };
    const auto& spins = TDockPageModel::Spins();
    for (int i = 0; i < spins.size(); ++i) {
        const auto& entry = spins.at(i);
        g->addWidget(namedLabel(rows[i].label, caption(rows[i].text, rows[i].fallback), gb), i, 0);
        auto* spin = new QSpinBox(gb);
        spin->setObjectName(QLatin1String(entry.name));
        spin->setRange(entry.range.mMin, entry.range.mMax);
        spin->setSingleStep(entry.range.mStep);
        spin->setKeyboardTracking(false);
        spin->setMinimumWidth(90);
        m_spins[i] = spin;
        connect(spin, &QSpinBox::valueChanged, this, [this, i](int v) {
            if (!m_refreshing)
                m_model->setSpin(TDockPageModel::Spins().at(i), v);
        });
        g->addWidget(spin, i, 1);
        const QString unit = rows[i].unitText ? caption(rows[i].unitText, rows[i].unitFallback)
                                              : QString::fromLatin1(rows[i].unitFallback);
        g->addWidget(namedLabel(rows[i].unitName, unit, gb), i, 2);
    }
    g->setColumnStretch(3, 1);

    // Check boxes in the order the page shows them.
    static const struct {
        const char* name;
        int text;
        const char* fallback;
    } boxes[] = {
        {"DockCfgCalCheck", 14, "Allow Calibrations"},
        {"DockCfgBumpCheck", 15, "Allow Bump Tests"},
        {"DockCfgCalbumpFailedCheck", 16, "Calibration if bump failed"},
        {"DockCfgConfgiCheck", 17, "Allow Configurations"},
        {"DockCfgUpgradeCheck", 18, "Allow Firmware Upgrade"},
        {"DockCfgHibernateCheck", 19, "Allow Hibernate"},
        {"DockCfgLoadEventCheck", 20, "Allow Load Event"},
        {"DockCfgAudibleTestCheck", 21, "Allow Audible Test"},
        {"DockCfgVisibleTestCheck", 22, "Allow Visible Test"},
    };
    const auto& checks = TDockPageModel::Checks();
    int row = int(spins.size());
    for (const auto& b : boxes) {
        auto* box = new QCheckBox(caption(b.text, b.fallback), gb);
        box->setObjectName(QLatin1String(b.name));
        for (int i = 0; i < checks.size(); ++i) {
            if (qstrcmp(checks.at(i).name, b.name) != 0)
                continue;
            m_checks[i] = box;
            const auto member = checks.at(i).member;
            connect(box, &QCheckBox::toggled, this, [this, member](bool on) {
                if (!m_refreshing)
                    m_model->setCheck(member, on);
            });
        }
        g->addWidget(box, row++, 0, 1, 4);
    }
    return gb;
}

QGroupBox* TDockPage::buildFullBump()
{
    // Present for the dock's other editions; this edition hides it.
    auto* gb = new QGroupBox(caption(30, "Full Bump Test"), this);
    gb->setObjectName(QStringLiteral("DockCfgFullBumpGB"));
    auto* g = new QGridLayout(gb);
    g->setColumnMinimumWidth(0, 140);
    auto* active = new QCheckBox(caption(31, "Enable full bump test"), gb);
    active->setObjectName(QStringLiteral("DockCfgFullBumpActiveCheck"));
    g->addWidget(active, 0, 0, 1, 3);
    g->addWidget(namedLabel("DockCfgFullBumpLabel1", caption(33, "Full bump test time"), gb), 1, 0);
    auto* time = new QSpinBox(gb);
    time->setObjectName(QStringLiteral("DockCfgFullBumpTimeEdit"));
    g->addWidget(time, 1, 1);
    g->addWidget(namedLabel("DockCfgFullBumpLabel4", caption(12, "sec"), gb), 1, 2);
    g->addWidget(namedLabel("DockCfgFullBumpLabel2", caption(32, "Full bump interval"), gb), 2, 0);
    auto* interval = new QSpinBox(gb);
    interval->setObjectName(QStringLiteral("DockCfgFullBumpIntervalEdit"));
    g->addWidget(interval, 2, 1);
    gb->setVisible(false);
    return gb;
}

QGroupBox* TDockPage::buildBottle()
{
    auto* gb = new QGroupBox(caption(5, "Gas Bottle"), this);
    gb->setObjectName(QStringLiteral("DockBottleGB"));
    auto* g = new QGridLayout(gb);
    g->setHorizontalSpacing(8);
    g->addWidget(namedLabel("DockBottleLabel1", caption(6, "Gas Bottle Lot #"), gb), 0, 0);
    g->addWidget(textEdit("DockBottleLotEdit"), 0, 1, 1, 2);
    g->addWidget(namedLabel("DockBottleLabel2", caption(7, "Gas Expiration Date"), gb), 1, 0);
    g->addWidget(textEdit("DockBottleDateEdit"), 1, 1, 1, 2);
    g->addWidget(namedLabel("DockBottleLabel11", caption(8, "Gas"), gb), 2, 0);
    g->addWidget(namedLabel("DockBottleLabel12", caption(9, "Concentration"), gb), 2, 1);
    for (int slot = 1; slot <= CFG_MAX_BOTTLE; ++slot) {
        auto* combo = new QComboBox(gb);
        combo->setObjectName(QStringLiteral("DockBottleGasCombo%1").arg(slot));
        combo->setProperty("tag", slot);
        combo->setMinimumWidth(90);
        m_gasCombo[slot] = combo;
        connect(combo, &QComboBox::activated, this, [this, slot, combo](int index) {
            if (!m_refreshing)
                m_model->DockBottleGasCombo1Change(slot, combo->itemText(index));
        });
        auto* spin = new TBottleSpin(gb);
        spin->setObjectName(QStringLiteral("DockBottleGasEdit%1").arg(slot));
        spin->setProperty("tag", slot);
        spin->setKeyboardTracking(false);
        spin->setMinimumWidth(90);
        spin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
        m_gasEdit[slot] = spin;
        connect(spin, &QAbstractSpinBox::editingFinished, this, [this, slot, spin] {
            if (!m_refreshing && !spin->isReadOnly())
                m_model->DockBottleGasEdit1Exit(slot, spin->cleanText());
        });
        connect(spin, &TBottleSpin::stepRequested, this, [this, slot](int steps) {
            if (m_refreshing)
                return;
            for (int i = 0; i < steps; ++i)
                m_model->DockBottleGasEdit1TopClick(slot);
            for (int i = 0; i > steps; --i)
                m_model->DockBottleGasEdit1BottomClick(slot);
        });
        auto* unit = new QLabel(gb);
        unit->setObjectName(QStringLiteral("DockBottleUnitLabel%1").arg(slot));
        m_gasUnit[slot] = unit;
        g->addWidget(combo, 2 + slot, 0);
        g->addWidget(spin, 2 + slot, 1);
        g->addWidget(unit, 2 + slot, 2);
    }
    g->setColumnStretch(1, 1);
    return gb;
}

QGroupBox* TDockPage::buildNetwork()
{
    auto* gb = new QGroupBox(caption(23, "Network"), this);
    gb->setObjectName(QStringLiteral("DockLanGB"));
    auto* g = new QGridLayout(gb);
    g->setHorizontalSpacing(8);
    g->addWidget(namedLabel("DockLanLabel1", caption(24, "IP"), gb), 0, 0);
    g->addWidget(textEdit("DockLanIpEdit"), 0, 1);
    g->addWidget(namedLabel("DockLanLabel2", caption(25, "Subnet Mask"), gb), 1, 0);
    g->addWidget(textEdit("DockLanSubnetMaskEdit"), 1, 1);
    g->addWidget(namedLabel("DockLanLabel3", caption(26, "Gateway"), gb), 2, 0);
    g->addWidget(textEdit("DockLanGateWayEdit"), 2, 1);
    g->addWidget(namedLabel("DockLanLabel4", caption(27, "LAN port"), gb), 3, 0);
    m_udpPort = new QLineEdit(gb);
    m_udpPort->setObjectName(QStringLiteral("DockLanUdpPortEdit"));
    m_udpPort->setReadOnly(true);
    PaintEditorActive(m_udpPort, false);
    g->addWidget(m_udpPort, 3, 1);
    g->setColumnStretch(1, 1);
    return gb;
}

QGroupBox* TDockPage::buildUpgrade()
{
    auto* gb = new QGroupBox(caption(28, "Upgrade File"), this);
    gb->setObjectName(QStringLiteral("DockUpgradeGB"));
    auto* v = new QVBoxLayout(gb);
    auto* row = new QHBoxLayout;
    m_upgradeEdit = new QLineEdit(gb);
    m_upgradeEdit->setObjectName(QStringLiteral("DockUpgradeFileEdit"));
    auto* browse = new QToolButton(gb);
    browse->setObjectName(QStringLiteral("DockUpgradeFileBtn"));
    browse->setText(QStringLiteral("..."));
    row->addWidget(m_upgradeEdit, 1);
    row->addWidget(browse);
    row->addStretch(1); // the button stays beside its field
    v->addLayout(row);
    m_upgradeLabel = namedLabel("DockUpgradeLabel", QStringLiteral("---"), gb);
    v->addWidget(m_upgradeLabel);

    connect(m_upgradeEdit, &QLineEdit::editingFinished, this, [this] {
        if (m_refreshing || m_upgradeEdit->text() == m_model->DockUpgradeFileEdit)
            return;
        const QString path = m_upgradeEdit->text();
        m_model->setUpgradeFile(path);
        emit upgradeFilePathEdited(path, UNIT_FWTYPE_DOCK);
    });
    connect(browse, &QToolButton::clicked, this, [this] {
        if (!askImageFile)
            return;
        const QString path = askImageFile(this, m_model->DockUpgradeFileEdit);
        if (!path.isEmpty())
            emit upgradeFileChosen(path, UNIT_FWTYPE_DOCK);
    });
    return gb;
}

void TDockPage::refresh()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    const auto& checks = TDockPageModel::Checks();
    for (int i = 0; i < checks.size(); ++i) {
        if (m_checks[i] && m_checks[i]->isChecked() != m_model->*(checks.at(i).member)) {
            const QSignalBlocker block(m_checks[i]);
            m_checks[i]->setChecked(m_model->*(checks.at(i).member));
        }
    }
    const auto& spins = TDockPageModel::Spins();
    for (int i = 0; i < spins.size(); ++i) {
        if (m_spins[i]->value() != m_model->*(spins.at(i).member)) {
            const QSignalBlocker block(m_spins[i]);
            m_spins[i]->setValue(m_model->*(spins.at(i).member));
        }
    }
    const auto& texts = TDockPageModel::Texts();
    for (int i = 0; i < texts.size(); ++i) {
        QLineEdit* e = m_texts[i];
        const QString& value = m_model->*(texts.at(i).member);
        if (e && e->text() != value) {
            const QSignalBlocker block(e);
            e->setText(value);
            e->setCursorPosition(0);
        }
    }
    const QString port = QString::number(m_model->DockLanUdpPortEdit);
    if (m_udpPort->text() != port)
        m_udpPort->setText(port);
    if (m_upgradeEdit->text() != m_model->DockUpgradeFileEdit) {
        const QSignalBlocker block(m_upgradeEdit);
        m_upgradeEdit->setText(m_model->DockUpgradeFileEdit);
    }
    m_upgradeLabel->setText(m_model->DockUpgradeLabel);

    for (int slot = 1; slot <= CFG_MAX_BOTTLE; ++slot) {
        const RBottleSlot& s = m_model->FBottleSlot[slot];
        QComboBox* combo = m_gasCombo[slot];
        {
            const QSignalBlocker block(combo);
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            if (items != s.mItems) {
                combo->clear();
                combo->addItems(s.mItems);
            }
            combo->setCurrentIndex(s.mItemIndex);
            combo->setEnabled(s.mComboEnabled);
        }
        TBottleSpin* spin = m_gasEdit[slot];
        {
            const QSignalBlocker block(spin);
            spin->setDecimals(s.mDecimal);
            spin->setRange(s.mMin, s.mMax);
            spin->setSingleStep(s.mIncrement);
            spin->setValue(s.mValue);
            spin->setReadOnly(!s.mEditWritable);
            PaintEditorActive(spin, s.mEditWritable);
        }
        const int code = m_model->FBottleList[slot];
        m_gasUnit[slot]->setText(code >= 1 && code <= CFG_MAX_GAS ? GetGasUnit(FGasInfo[code - 1].mUnit)
                                                                  : QString());
    }
    m_refreshing = false;
}
