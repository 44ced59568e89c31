#pragma once
// The window's side of the operator port: Qt dialogs for questions and pickers,
// the status panel, the progress bars and the two logs of the History page.
#include "util/OperatorPort.h"

#include <QList>
#include <QPointer>

class QLabel;
class QPrinter;
class QPlainTextEdit;
class QProgressBar;
class QWidget;

class QtOperatorPort : public OperatorPort {
public:
    // window: the main window; its widgets are found by their object names.
    explicit QtOperatorPort(QWidget* window);
    ~QtOperatorPort() override;

    void showMessage(const QString& text, const QString& caption, Icon icon) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    Answer askYesNoCancel(const QString& text, const QString& caption) override;
    bool pickFolder(QString& sDir, const QString& title, const QString& okText) override;
    QString pickFile(const QString& title, const QString& startDir, const QString& filter,
                     bool forSaving) override;

    void setStatus(const QString& text, StatusLook look) override;
    void setProgressVisible(bool visible) override;
    void setProgressBars(bool fileVisible, bool allVisible) override;
    void showPage(const QString& name) override;
    void setProgress(int fileValue, int fileMax, int allValue, int allMax) override;
    void setProgressCaption(const QString& caption) override;
    void setCaption(const QString& caption) override;

    void appendHistory(const QString& line) override;
    void appendTraffic(const QString& line) override;
    void setBusy(bool busy) override;
    // The printer dialog on the Print page's printer.
    bool printerSetup() override;
    void setPrinter(QPrinter* printer) { m_printer = printer; }

    StatusLook statusLook() const { return m_look; }
    bool isBusy() const { return m_busyDepth > 0; }

    // Style sheet of the status panel for a look (also used at start-up).
    static QString statusStyle(StatusLook look);
    // The sign before the text: success and failure are told apart without colour too.
    static QString statusIcon(StatusLook look);

private:
    QPointer<QWidget> m_window;
    QLabel* m_status = nullptr;
    QLabel* m_progressLabel = nullptr;
    QProgressBar* m_fileBar = nullptr;
    QProgressBar* m_allBar = nullptr;
    QPlainTextEdit* m_history = nullptr;
    QPlainTextEdit* m_traffic = nullptr;
    StatusLook m_look = StatusLook::Neutral;
    int m_busyDepth = 0;
    QList<QPointer<QWidget>> m_disabled; // what setBusy turned off, to turn on again
    bool m_cancelWasEnabled = false;
    QPrinter* m_printer = nullptr;
};
