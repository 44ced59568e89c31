#include "util/OperatorPort.h"

#include "lang/LangTable.h"

namespace {
QString takeFirst(QStringList& queue)
{
    return queue.isEmpty() ? QString() : queue.takeFirst();
}
} // namespace

void ScriptedOperatorPort::showMessage(const QString& text, const QString& cap, Icon)
{
    messages << (cap.isEmpty() ? text : cap + ": " + text);
}

bool ScriptedOperatorPort::askYesNo(const QString& text, const QString&)
{
    questions << text;
    if (yesNoAnswers.isEmpty())
        return defaultYes;
    return takeFirst(yesNoAnswers).compare("yes", Qt::CaseInsensitive) == 0;
}

OperatorPort::Answer ScriptedOperatorPort::askYesNoCancel(const QString& text, const QString& caption)
{
    if (!yesNoAnswers.isEmpty() && yesNoAnswers.first().compare("cancel", Qt::CaseInsensitive) == 0) {
        yesNoAnswers.removeFirst();
        questions << text;
        return Answer::Cancel;
    }
    return askYesNo(text, caption) ? Answer::Yes : Answer::No;
}

bool ScriptedOperatorPort::pickFolder(QString& sDir, const QString&, const QString&)
{
    const QString answer = takeFirst(folderAnswers);
    if (answer.isEmpty())
        return false;
    sDir = answer;
    return true;
}

QString ScriptedOperatorPort::pickFile(const QString&, const QString&, const QString&, bool)
{
    return takeFirst(fileAnswers);
}

void ScriptedOperatorPort::setStatus(const QString& text, StatusLook look)
{
    statusText = text;
    statusLook = look;
}

void ScriptedOperatorPort::setProgressVisible(bool visible)
{
    progressVisible = fileBarVisible = allBarVisible = visible;
}

void ScriptedOperatorPort::setProgressBars(bool fileVisible, bool allVisible)
{
    fileBarVisible = fileVisible;
    allBarVisible = allVisible;
    progressVisible = fileVisible || allVisible;
}

void ScriptedOperatorPort::setProgress(int fv, int fm, int av, int am)
{
    fileValue = fv;
    fileMax = fm;
    allValue = av;
    allMax = am;
}

bool SelectFolder(OperatorPort& port, QString& sDir)
{
    QString dir = sDir;
    if (!port.pickFolder(dir, LangText(671), LangText(672)))
        return false;
    sDir = dir;
    return true;
}
