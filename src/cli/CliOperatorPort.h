#pragma once
// The command line's way of talking to the person: questions are answered by
// flags given in advance, messages go to standard error, history to standard output.
#include "util/OperatorPort.h"

#include <QTextStream>

class CliOperatorPort : public ScriptedOperatorPort {
public:
    CliOperatorPort();
    void showMessage(const QString& text, const QString& caption, Icon icon) override;
    void appendHistory(const QString& line) override;
    void setStatus(const QString& text, StatusLook look) override;

    bool echoHistory = true;

private:
    QTextStream m_out;
    QTextStream m_err;
};
