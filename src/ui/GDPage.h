#pragma once
// The contents of the instrument page: the option grid with the editors of the
// selected sensor column, the download buttons with their result grid and the
// instrument upgrade file. Components carry the system's names; the widgets
// mirror TGDPageModel both ways.
#include <QWidget>
#include <functional>

#include "app/GDConfig.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QToolButton;

// A pair of up and down arrow buttons beside an edit.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(const QString& name, int tag, QWidget* parent = nullptr);
    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }

signals:
    void stepped(bool up);

private:
    QToolButton* m_up;
    QToolButton* m_down;
};

class TGDPage : public QWidget {
    Q_OBJECT
public:
    explicit TGDPage(TGDPageModel* model, QWidget* parent = nullptr);

    TGDPageModel* model() const { return m_model; }
    std::function<QString(QWidget* parent, const QString& startPath)> askImageFile;

public slots:
    void refresh(); // model -> widgets

signals:
    // GDOpConfigBtn (tag 0) or GDOpFirmwareBtn (tag 1) was pressed.
    void downloadRequested(int tag);
    // As on the Docking Station page, kind UNIT_FWTYPE_GD.
    void upgradeFileChosen(const QString& path, int kind);
    void upgradeFilePathEdited(const QString& path, int kind);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TGDPageModel* m_model;
    bool m_refreshing = false;
    QTableWidget* m_grid = nullptr;
    QTableWidget* m_resGrid = nullptr;
    QComboBox* m_sensorCombo = nullptr;
    QLineEdit* m_edits[7] = {}; // grid rows 1..6
    TUpDown* m_upDowns[7] = {}; // rows 2..6
    QComboBox* m_displayCombo = nullptr;
    QCheckBox* m_ledCheck = nullptr;
    QCheckBox* m_manualCheck = nullptr;
    QCheckBox* m_flagBoxes[TGDPageModel::CHECK_COUNT] = {};
    QCheckBox* m_configSend = nullptr;
    QCheckBox* m_firmwareSend = nullptr;
    QLineEdit* m_upgradeEdit = nullptr;
    QLabel* m_upgradeLabel = nullptr;
    QLineEdit* m_upgradeEdit1 = nullptr;
    QLabel* m_upgradeLabel1 = nullptr;

    QWidget* buildOptions();
    QWidget* buildDownloads();
    QWidget* buildUpgrade();
};
