#include "QtOperatorPort.h"

#include <QTabWidget>

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QUrl>

#include "app/AppState.h"

namespace {

template <class T> T* child(QWidget* window, const char* name)
{
    return window ? window->findChild<T*>(QLatin1String(name)) : nullptr;
}

QMessageBox::Icon boxIcon(OperatorPort::Icon icon)
{
    switch (icon) {
    case OperatorPort::Icon::Information: return QMessageBox::Information;
    case OperatorPort::Icon::Warning: return QMessageBox::Warning;
    case OperatorPort::Icon::Error: return QMessageBox::Critical;
    case OperatorPort::Icon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QtOperatorPort::QtOperatorPort(QWidget* window)
    : m_window(window),
      m_status(child<QLabel>(window, "OpStatusPanel")),
      m_progressLabel(child<QLabel>(window, "OpProgressLabel")),
      m_fileBar(child<QProgressBar>(window, "OpProgressBar")),
      m_allBar(child<QProgressBar>(window, "OpAllProgressbar")),
      m_history(child<QPlainTextEdit>(window, "DebugLogMemo")),
      m_traffic(child<QPlainTextEdit>(window, "DebugCommMemo"))
{
    if (m_status)
        m_status->setStyleSheet(statusStyle(m_look));
}

QtOperatorPort::~QtOperatorPort()
{
    // Never leave the application with a busy cursor behind.
    while (m_busyDepth > 0)
        setBusy(false);
}

void QtOperatorPort::showMessage(const QString& text, const QString& caption, Icon icon)
{
    QMessageBox box(boxIcon(icon), caption.isEmpty() ? PROG_TITLE : caption, text,
                    QMessageBox::Ok, m_window);
    box.exec();
}

bool QtOperatorPort::askYesNo(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Question, caption.isEmpty() ? PROG_TITLE : caption, text,
                    QMessageBox::Yes | QMessageBox::No, m_window);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

OperatorPort::Answer QtOperatorPort::askYesNoCancel(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::Question, caption.isEmpty() ? PROG_TITLE : caption, text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_window);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save: return Answer::Yes;
    case QMessageBox::Discard: return Answer::No;
    default: return Answer::Cancel;
    }
}

bool QtOperatorPort::pickFolder(QString& sDir, const QString& title, const QString& okText)
{
    QFileDialog dlg(m_window, title);
    dlg.setFileMode(QFileDialog::Directory);
    dlg.setOption(QFileDialog::ShowDirsOnly, true);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    if (!okText.isEmpty())
        dlg.setLabelText(QFileDialog::Accept, okText);
    if (!sDir.isEmpty() && QFileInfo(sDir).isDir())
        dlg.setDirectory(sDir);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    const QStringList picked = dlg.selectedFiles();
    if (picked.isEmpty() || !QFileInfo(picked.first()).isDir())
        return false;
    sDir = picked.first();
    return true;
}

QString QtOperatorPort::pickFile(const QString& title, const QString& startDir, const QString& filter,
                                 bool forSaving)
{
    if (forSaving)
        return QFileDialog::getSaveFileName(m_window, title, startDir, filter);
    return QFileDialog::getOpenFileName(m_window, title, startDir, filter);
}

QString QtOperatorPort::statusStyle(StatusLook look)
{
    // Calm colours, text at a contrast of 4.5:1 or more; the object-name selector
    // keeps the panel's children (progress bars, caption) in their own look.
    switch (look) {
    case StatusLook::Success:
        return QStringLiteral("QLabel#OpStatusPanel { background-color: rgb(227,241,224); color: rgb(27,94,32);"
                              " border: 1px solid rgb(129,178,120); padding: 2px 6px; }");
    case StatusLook::Failure:
        return QStringLiteral("QLabel#OpStatusPanel { background-color: rgb(251,227,225); color: rgb(139,26,26);"
                              " border: 1px solid rgb(214,130,124); padding: 2px 6px; }");
    case StatusLook::Neutral:
        break;
    }
    return QStringLiteral("QLabel#OpStatusPanel { background-color: rgb(240,240,240); color: rgb(32,32,32);"
                          " border: 1px solid rgb(200,200,200); padding: 2px 6px; }");
}

QString QtOperatorPort::statusIcon(StatusLook look)
{
    switch (look) {
    case StatusLook::Success: return QStringLiteral("\u2714 "); // heavy check mark
    case StatusLook::Failure: return QStringLiteral("\u2716 "); // heavy multiplication x
    case StatusLook::Neutral: break;
    }
    return QString();
}

void QtOperatorPort::setStatus(const QString& text, StatusLook look)
{
    m_look = look;
    if (!m_status)
        return;
    m_status->setStyleSheet(statusStyle(look));
    // A file named at the end ("... : /path/Report.Html") opens when clicked.
    const qsizetype sep = text.lastIndexOf(QStringLiteral(" : "));
    const QString path = sep >= 0 ? text.mid(sep + 3).trimmed() : QString();
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        m_status->setTextFormat(Qt::RichText);
        m_status->setOpenExternalLinks(true);
        m_status->setText(statusIcon(look) + text.left(sep).toHtmlEscaped() + QStringLiteral(" : <a href=\"") +
                          QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
                          QStringLiteral("\" style=\"color: inherit;\">") + path.toHtmlEscaped() +
                          QStringLiteral("</a>"));
        m_status->setToolTip(path);
    } else {
        m_status->setTextFormat(Qt::PlainText);
        m_status->setText(text.isEmpty() ? text : statusIcon(look) + text);
        m_status->setToolTip(QString());
    }
    m_status->setWordWrap(true);
    m_status->repaint();
}

void QtOperatorPort::setProgressVisible(bool visible)
{
    for (QProgressBar* bar : {m_fileBar, m_allBar}) {
        if (!bar)
            continue;
        if (visible)
            bar->setValue(0);
        bar->setVisible(visible);
    }
    if (m_progressLabel && !visible)
        m_progressLabel->clear();
}

void QtOperatorPort::setProgressBars(bool fileVisible, bool allVisible)
{
    if (m_fileBar)
        m_fileBar->setVisible(fileVisible);
    if (m_allBar)
        m_allBar->setVisible(allVisible);
    if (m_progressLabel && !fileVisible && !allVisible)
        m_progressLabel->clear();
}

void QtOperatorPort::showPage(const QString& name)
{
    if (!m_window)
        return;
    QWidget* page = m_window->findChild<QWidget*>(name);
    if (!page)
        return;
    // A page of a tab widget sits in the tab widget's stack.
    for (QWidget* w = page->parentWidget(); w; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            const int index = tabs->indexOf(page);
            if (index >= 0) {
                tabs->setCurrentIndex(index);
                return;
            }
        }
    }
}

void QtOperatorPort::setProgress(int fileValue, int fileMax, int allValue, int allMax)
{
    auto apply = [](QProgressBar* bar, int value, int max) {
        if (!bar)
            return;
        max = std::max(max, 0);
        bar->setRange(0, max);
        bar->setValue(std::clamp(value, 0, max));
        bar->repaint();
    };
    apply(m_fileBar, fileValue, fileMax);
    apply(m_allBar, allValue, allMax);
}

void QtOperatorPort::setProgressCaption(const QString& caption)
{
    if (m_progressLabel)
        m_progressLabel->setText(caption);
}

void QtOperatorPort::setCaption(const QString& caption)
{
    if (m_window)
        m_window->setWindowTitle(caption);
}

void QtOperatorPort::appendHistory(const QString& line)
{
    if (m_history)
        m_history->appendPlainText(line);
}

void QtOperatorPort::appendTraffic(const QString& line)
{
    if (m_traffic)
        m_traffic->appendPlainText(line);
}

void QtOperatorPort::setBusy(bool busy)
{
    // The pages an operation must not be disturbed from, and the bottom bar's
    // controls; the History page, the progress display and Cancel stay usable.
    static const char* const kPages[] = {"DockTS", "GDTS", "LogTS", "PrintTS", "ConfigTS", "PCTS"};
    static const char* const kControls[] = {"OpDevicePage", "OpReadBtn", "OpWriteBtn", "OpAutoBtn",
                                            "DebugOpPanel"};
    if (busy) {
        if (m_busyDepth++ == 0) {
            m_disabled.clear();
            auto off = [this](const char* name) {
                QWidget* w = child<QWidget>(m_window, name);
                if (w && w->isEnabled()) {
                    w->setEnabled(false);
                    m_disabled << w;
                }
            };
            for (const char* name : kPages)
                off(name);
            for (const char* name : kControls)
                off(name);
            if (QWidget* cancel = child<QWidget>(m_window, "OpAutoCancelBtn")) {
                m_cancelWasEnabled = cancel->isEnabled();
                cancel->setEnabled(true);
            }
            // An arrow with an hourglass: Cancel and the History page can still be clicked.
            QApplication::setOverrideCursor(Qt::BusyCursor);
        }
        return;
    }
    if (m_busyDepth == 0)
        return;
    if (--m_busyDepth == 0) {
        for (const QPointer<QWidget>& w : std::as_const(m_disabled))
            if (w)
                w->setEnabled(true);
        m_disabled.clear();
        if (QWidget* cancel = child<QWidget>(m_window, "OpAutoCancelBtn"))
            cancel->setEnabled(m_cancelWasEnabled);
        QApplication::restoreOverrideCursor();
    }
}

bool QtOperatorPort::printerSetup()
{
    if (!m_printer)
        return false;
    QPrintDialog dlg(m_printer, m_window);
    dlg.setOption(QAbstractPrintDialog::PrintToFile, true);
    dlg.setOption(QAbstractPrintDialog::PrintSelection, false);
    dlg.setOption(QAbstractPrintDialog::PrintPageRange, false);
    return dlg.exec() == QDialog::Accepted;
}
