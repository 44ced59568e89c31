#pragma once
// The contents of the "Docking Station" page. Every component carries the
// objectName the system gives it; the widgets mirror TDockPageModel both ways.
#include <QDoubleSpinBox>
#include <QWidget>
#include <array>
#include <functional>

#include "app/DockConfig.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;

// A concentration editor: its up and down buttons go through the model (the
// oxygen band applies after the step), so the spin box never steps by itself.
class TBottleSpin : public QDoubleSpinBox {
    Q_OBJECT
public:
    using QDoubleSpinBox::QDoubleSpinBox;
    void stepBy(int steps) override { emit stepRequested(steps); }

signals:
    void stepRequested(int steps);

protected:
    StepEnabled stepEnabled() const override
    {
        return isReadOnly() ? StepNone : (StepUpEnabled | StepDownEnabled);
    }
};

class TDockPage : public QWidget {
    Q_OBJECT
public:
    explicit TDockPage(TDockPageModel* model, QWidget* parent = nullptr);

    TDockPageModel* model() const { return m_model; }
    // Asks for an image file; replaceable so that tests need no dialog.
    std::function<QString(QWidget* parent, const QString& startPath)> askImageFile;

public slots:
    void refresh(); // model -> widgets

signals:
    // The operator picked a file in the dialog (kind UNIT_FWTYPE_DOCK); the
    // firmware check decides whether the chooser takes it.
    void upgradeFileChosen(const QString& path, int kind);
    // The operator typed a new path and left the edit (the model holds it already).
    void upgradeFilePathEdited(const QString& path, int kind);

private:
    TDockPageModel* m_model;
    bool m_refreshing = false;
    QVector<QCheckBox*> m_checks;  // in TDockPageModel::Checks() order
    QVector<QSpinBox*> m_spins;    // in TDockPageModel::Spins() order
    QVector<QLineEdit*> m_texts;   // in TDockPageModel::Texts() order (labels excluded)
    std::array<QComboBox*, CFG_MAX_BOTTLE + 1> m_gasCombo{};
    std::array<TBottleSpin*, CFG_MAX_BOTTLE + 1> m_gasEdit{};
    std::array<QLabel*, CFG_MAX_BOTTLE + 1> m_gasUnit{};
    QLineEdit* m_udpPort = nullptr;
    QLabel* m_upgradeLabel = nullptr;
    QLineEdit* m_upgradeEdit = nullptr;

    QGroupBox* buildInfo();
    QGroupBox* buildConfig();
    QGroupBox* buildFullBump();
    QGroupBox* buildBottle();
    QGroupBox* buildNetwork();
    QGroupBox* buildUpgrade();
    QLineEdit* textEdit(const char* name);
};

// Paints an editor white when it can be edited, in the button-face colour otherwise.
void PaintEditorActive(QWidget* editor, bool active);
