#include "ReportPage.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "platform/Platform.h"

namespace {
// A report is a few hundred bytes per instrument; anything far larger is not one.
constexpr qint64 kMaxReportBytes = 64LL * 1024 * 1024;
} // namespace

TReportPage::TReportPage(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_viewer = new QTextBrowser(this);
    m_viewer->setObjectName(QStringLiteral("ReportHtmlViewer"));
    // The report is a local document: links must not open anything by themselves.
    m_viewer->setOpenLinks(false);
    m_viewer->setOpenExternalLinks(false);
    layout->addWidget(m_viewer);
}

bool TReportPage::LoadReport(QTextBrowser* viewer, const QString& file)
{
    if (!viewer)
        return false;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxReportBytes) {
        viewer->clear();
        viewer->setProperty("reportFile", QString());
        return false;
    }
    // The documents are written in the legacy 8-bit code page.
    viewer->setHtml(platform::DecodeLegacy(f.readAll()));
    viewer->setProperty("reportFile", QFileInfo(file).absoluteFilePath());
    return true;
}

bool TReportPage::showReport(const QString& file)
{
    return LoadReport(m_viewer, file);
}

QString TReportPage::currentFile() const { return m_viewer->property("reportFile").toString(); }

bool TReportPage::showLastReport(const AppState& state)
{
    if (state.FLogDestDir.trimmed().isEmpty())
        return false;
    const QString dest = AppState::AddLastSlash(state.FLogDestDir);
    if (!state.FLastReportFile.trimmed().isEmpty() &&
        QFileInfo(dest + "Report/" + state.FLastReportFile).isFile())
        return showReport(dest + "Report/" + state.FLastReportFile);
    if (QFileInfo(dest + "Report.Html").isFile())
        return showReport(dest + "Report.Html");
    return false;
}
