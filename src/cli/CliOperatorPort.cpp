#include "cli/CliOperatorPort.h"

#include <cstdio>

#include "lang/LangTable.h"

CliOperatorPort::CliOperatorPort() : m_out(stdout), m_err(stderr) {}

void CliOperatorPort::showMessage(const QString& text, const QString& cap, Icon icon)
{
    ScriptedOperatorPort::showMessage(text, cap, icon);
    const char* kind = icon == Icon::Error ? "error" : icon == Icon::Warning ? "warning" : "note";
    QString flat = text;
    flat.replace('\n', ' ');
    m_err << kind << ": " << flat << Qt::endl;
}

bool CliOperatorPort::askQuestion(int nKey, const QString& text, const QString& caption)
{
    for (const auto& [n, yes] : m_answers) {
        if (n == nKey) {
            questions << text;
            return yes;
        }
    }
    return askYesNo(text, caption);
}

bool CliOperatorPort::askYesNo(const QString& text, const QString& caption)
{
    (void)caption;
    questions << text;
    if (!yesNoAnswers.isEmpty())
        return yesNoAnswers.takeFirst().compare("yes", Qt::CaseInsensitive) == 0;
    return defaultYes;
}

void CliOperatorPort::appendHistory(const QString& line)
{
    ScriptedOperatorPort::appendHistory(line);
    if (echoHistory)
        m_out << line << Qt::endl;
}
