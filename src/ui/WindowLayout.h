#pragma once
// Sizes, scrolling, field limits, labels, mnemonics and tooltips of the main window.
#include <QByteArray>
#include <QString>

class QLineEdit;
class QMainWindow;

namespace windowlayout {

// Once, after the form and the embedded pages are built.
void Apply(QMainWindow* window);
// After every change of language: mnemonics, field labels and tooltips.
void ApplyTexts(QMainWindow* window);
// The remembered size and place when it fits a screen, else a size that fits this one.
void PlaceWindow(QMainWindow* window, const QByteArray& saved);

// Marks an address field whose text is not a complete dotted IPv4 address.
void MarkAddress(QLineEdit* edit);

} // namespace windowlayout
