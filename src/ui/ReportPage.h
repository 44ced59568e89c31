#pragma once
// The "Report" page: the last alert report in an HTML view (ReportHtmlViewer).
#include <QWidget>

class QTextBrowser;
class AppState;

class TReportPage : public QWidget {
    Q_OBJECT
public:
    explicit TReportPage(QWidget* parent = nullptr);

    QTextBrowser* viewer() const { return m_viewer; }
    // Shows a report file; false (and an empty view) when it cannot be read.
    bool showReport(const QString& file);
    // The last report of the settings: the dated copy of the last set, else
    // "Report.Html" of the log destination. False when there is none.
    bool showLastReport(const AppState& state);
    // The file the view shows, empty when none.
    QString currentFile() const;

    static bool LoadReport(QTextBrowser* viewer, const QString& file);

private:
    QTextBrowser* m_viewer = nullptr;
};
