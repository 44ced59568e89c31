#pragma once
// The window's texts in English for the length of a test: the English language file,
// as the program loads it, and the table as it was restored afterwards.
#include <QStringList>

#include "lang/LangTable.h"
#include "support/TestSupport.h"

namespace testsupport {

struct EnglishTexts {
    EnglishTexts()
    {
        for (int n = 1; n <= LANG_DATA_SIZE; ++n)
            old << GVLang().text(n);
        GVLang().parseLanguageText(
            QString::fromUtf8(readAll(QStringLiteral(MARVANE_BINARY_DIR "/Language/ENGLISH.DAT"))));
    }
    ~EnglishTexts()
    {
        for (int n = 1; n <= LANG_DATA_SIZE; ++n)
            GVLang().setText(n, old.value(n - 1));
    }
    QStringList old;
};

} // namespace testsupport
