#pragma once
// Which window captions take which language texts when a language is applied.
// The window walks this table and finds each widget by its objectName.
#include <QVector>

struct CaptionEntry {
    const char* component; // objectName of the widget, menu action or tab page
    enum Kind {
        Text,      // the caption (button, label, check box, group, tab, menu entry)
        GridCell,  // one cell of a grid: col, row
        ComboItems // every item of a combo box, in order
    } kind;
    int col; // GridCell only, -1 otherwise
    int row; // GridCell only, -1 otherwise
    QVector<int> texts; // language text numbers: one, or the items of a combo box
};

// The captions in the order they are applied.
const QVector<CaptionEntry>& InitLangCaptions();
