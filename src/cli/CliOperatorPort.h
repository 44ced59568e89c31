#pragma once
// The command line's way of talking to the person: questions are answered by
// flags given in advance, messages go to standard error, history to standard output.
#include "util/OperatorPort.h"

#include <QTextStream>
#include <QVector>

class CliOperatorPort : public ScriptedOperatorPort {
public:
    CliOperatorPort();
    void showMessage(const QString& text, const QString& caption, Icon icon) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    bool askQuestion(int nKey, const QString& text, const QString& caption) override;
    void appendHistory(const QString& line) override;

    // The question asked with key n (askQuestion) gets this answer.
    void answer(int n, bool yes) { m_answers.append({n, yes}); }
    bool echoHistory = true;

private:
    QTextStream m_out;
    QTextStream m_err;
    QVector<QPair<int, bool>> m_answers;
};
