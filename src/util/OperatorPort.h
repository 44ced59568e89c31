#pragma once
// How operations talk to the person in front of the program. The window
// implements it with dialogs and widgets, the command line with flags and
// standard output, tests with scripted answers.
#include <QString>
#include <QStringList>

class OperatorPort {
public:
    enum class Icon { Information, Warning, Error, Question };
    // The three looks of the status panel.
    enum class StatusLook { Neutral, Success, Failure };

    virtual ~OperatorPort() = default;

    virtual void showMessage(const QString& text, const QString& caption, Icon icon) = 0;
    virtual bool askYesNo(const QString& text, const QString& caption) = 0;
    // A question the command line answers by flag: nKey is the number of its language
    // text, so the answer never depends on the wording (or on a missing language file).
    virtual bool askQuestion(int nKey, const QString& text, const QString& caption)
    {
        (void)nKey;
        return askYesNo(text, caption);
    }
    // A question one can back out of: Yes (do it), No (go on without it), Cancel (stop).
    enum class Answer { Yes, No, Cancel };
    virtual Answer askYesNoCancel(const QString& text, const QString& caption)
    {
        return askYesNo(text, caption) ? Answer::Yes : Answer::No;
    }
    // Folder picker: sDir in/out; false when the person cancels.
    virtual bool pickFolder(QString& sDir, const QString& title, const QString& okText) = 0;
    // File picker; an empty result on cancel.
    virtual QString pickFile(const QString& title, const QString& startDir, const QString& filter,
                             bool forSaving) = 0;
    // The printer set-up dialog; true when the person confirmed (the page shape may have changed).
    virtual bool printerSetup() { return false; }

    virtual void setStatus(const QString& text, StatusLook look) = 0;
    virtual void setProgressVisible(bool visible) = 0;
    // The file bar and the overall bar shown or hidden on their own.
    virtual void setProgressBars(bool fileVisible, bool allVisible)
    {
        setProgressVisible(fileVisible || allVisible);
    }
    virtual void setProgress(int fileValue, int fileMax, int allValue, int allMax) = 0;
    virtual void setProgressCaption(const QString& caption) = 0;
    virtual void setCaption(const QString& caption) { (void)caption; }
    // Brings a page (by its component name) to the front; the window only.
    virtual void showPage(const QString& name) { (void)name; }

    virtual void appendHistory(const QString& line) = 0; // operation log line
    virtual void appendTraffic(const QString& line) = 0; // link traffic line
    // Pages and bottom bar disabled, busy cursor.
    virtual void setBusy(bool busy) = 0;
};

// Scripted port for tests and unattended use: answers are queued in advance,
// everything shown is recorded.
class ScriptedOperatorPort : public OperatorPort {
public:
    // Queues; when empty, questions answer defaultYes, pickers cancel.
    QStringList yesNoAnswers;   // "yes" / "no"
    QStringList folderAnswers;  // empty string = cancel
    QStringList fileAnswers;
    bool defaultYes = false;

    QStringList messages;       // "caption: text"
    QStringList questions;
    QStringList history;
    QStringList traffic;
    QString statusText;
    StatusLook statusLook = StatusLook::Neutral;
    bool progressVisible = false;
    bool fileBarVisible = false, allBarVisible = false;
    int fileValue = 0, fileMax = 0, allValue = 0, allMax = 0;
    QString progressCaption;
    QString caption;
    int busyDepth = 0;

    void showMessage(const QString& text, const QString& caption, Icon icon) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    // A queued "cancel" backs out; anything else is answered as askYesNo answers it.
    Answer askYesNoCancel(const QString& text, const QString& caption) override;
    bool pickFolder(QString& sDir, const QString& title, const QString& okText) override;
    QString pickFile(const QString& title, const QString& startDir, const QString& filter,
                     bool forSaving) override;
    void setStatus(const QString& text, StatusLook look) override;
    void setProgressVisible(bool visible) override;
    void setProgressBars(bool fileVisible, bool allVisible) override;
    void setProgress(int fv, int fm, int av, int am) override;
    void setProgressCaption(const QString& c) override { progressCaption = c; }
    void setCaption(const QString& c) override { caption = c; }
    void appendHistory(const QString& line) override { history << line; }
    void appendTraffic(const QString& line) override { traffic << line; }
    void setBusy(bool busy) override { busyDepth += busy ? 1 : -1; }
    void showPage(const QString& name) override { pagesShown << name; }
    QStringList pagesShown;
    bool printerSetupAnswer = false;
    int printerSetups = 0;
    bool printerSetup() override
    {
        ++printerSetups;
        return printerSetupAnswer;
    }
};

// Asks for a folder (language texts 671 and 672 as title and confirm button).
bool SelectFolder(OperatorPort& port, QString& sDir);
