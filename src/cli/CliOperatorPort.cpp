#include "cli/CliOperatorPort.h"

#include <cstdio>

CliOperatorPort::CliOperatorPort() : m_out(stdout), m_err(stderr) {}

void CliOperatorPort::showMessage(const QString& text, const QString& cap, Icon icon)
{
    ScriptedOperatorPort::showMessage(text, cap, icon);
    const char* kind = icon == Icon::Error ? "error" : icon == Icon::Warning ? "warning" : "note";
    m_err << kind << ": " << text << Qt::endl;
}

void CliOperatorPort::appendHistory(const QString& line)
{
    ScriptedOperatorPort::appendHistory(line);
    if (echoHistory)
        m_out << line << Qt::endl;
}

void CliOperatorPort::setStatus(const QString& text, StatusLook look)
{
    ScriptedOperatorPort::setStatus(text, look);
}
