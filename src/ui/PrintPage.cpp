#include "PrintPage.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "app/CertTrace.h"
#include "app/LogBrowser.h"
#include "lang/LangTable.h"

namespace {

// PrintResRatioCombo items and what they mean for an upright and a turned page.
const char* const kRatioItems[] = {"X1", "X1.25", "X1.5", "X1.75", "X2", "X2.5", "X3"};
const double kPortraitFactor[] = {1, 1.25, 1.5, 1.75, 2, 2.5, 3};
const double kLandscapeFactor[] = {0.5, 0.6, 0.75, 0.85, 0.95, 1.25, 1.5};
constexpr int kDefaultRatio = 4; // "X2"
constexpr int kFitRatio = 7;     // the whole page in the box

QString safeFileName(QString s)
{
    for (QChar& c : s)
        if (!c.isLetterOrNumber() && c != '-' && c != '_')
            c = '_';
    return s;
}

} // namespace

TPrintPage::TPrintPage(AppState& state, OperatorPort& port, QComboBox* userCombo, QWidget* parent)
    : QWidget(parent), m_state(state), m_port(port), m_user(userCombo),
      m_printer(std::make_unique<QPrinter>(QPrinter::HighResolution)),
      m_renderer(std::make_unique<TCertRenderer>())
{
    m_printer->setFullPage(true);

    m_ratio = new QComboBox;
    m_ratio->setObjectName(QStringLiteral("PrintResRatioCombo"));
    for (const char* item : kRatioItems)
        m_ratio->addItem(QString::fromLatin1(item));
    m_ratio->addItem(QString()); // the whole page: its caption is a language text
    m_ratio->setCurrentIndex(kDefaultRatio);
    // The calibration layout can be chosen where its effect is seen (PRINT/Type).
    m_layoutLabel = new QLabel;
    m_layoutLabel->setObjectName(QStringLiteral("PrintResLayoutLabel"));
    m_layout = new QComboBox;
    m_layout->setObjectName(QStringLiteral("PrintResLayoutCombo"));
    for (const RCertLayout& l : CertLayouts())
        m_layout->addItem(QString(), l.mId);
    m_layoutLabel->setBuddy(m_layout);
    m_languageLabel = new QLabel(LangText(1117));
    m_languageLabel->setObjectName(QStringLiteral("PrintResCertLanguageLabel"));
    m_language = new QComboBox;
    m_language->setObjectName(QStringLiteral("PrintResCertLanguageCombo"));
    m_language->addItems({LangText(1118), LangText(1119)});
    m_language->setToolTip(LangText(1120));
    m_languageLabel->setBuddy(m_language);
    m_warning = new QLabel;
    m_warning->setObjectName(QStringLiteral("PrintResWarningLabel"));
    m_warning->setWordWrap(true);
    m_warning->setStyleSheet(QStringLiteral("QLabel { color: #9a4a00; font-weight: bold; padding: 2px 4px; }"));
    m_warning->hide();
    m_setup = new QPushButton(QStringLiteral("Print Setup"));
    m_setup->setObjectName(QStringLiteral("PrintResPrintSetupBtn"));
    m_print = new QPushButton(QStringLiteral("Print"));
    m_print->setObjectName(QStringLiteral("PrintResPrintBtn"));
    m_pdf = new QPushButton(QStringLiteral("Save as PDF"));
    m_pdf->setObjectName(QStringLiteral("PrintResPdfBtn"));
    m_print->hide();
    m_pdf->hide();

    // The buttons go into the tester's row when the form has one.
    QHBoxLayout* bar = nullptr;
    if (m_user && m_user->parentWidget() && m_user->parentWidget()->layout())
        bar = m_user->parentWidget()->layout()->findChild<QHBoxLayout*>(QStringLiteral("horizontalLayout_2"));
    auto* own = new QVBoxLayout(this);
    own->setContentsMargins(0, 0, 0, 0);
    if (!bar) {
        bar = new QHBoxLayout;
        own->addLayout(bar);
        if (!m_user) {
            m_user = new QComboBox;
            m_user->setObjectName(QStringLiteral("PrintResUserCombo"));
        }
        bar->addWidget(m_user);
        bar->addStretch(1);
    }
    // Before the row's trailing spacer: tester, layout, zoom, set-up, print, PDF.
    int at = std::max(0, bar->count() - 1);
    bar->insertSpacing(at++, 16);
    bar->insertWidget(at++, m_layoutLabel);
    bar->insertWidget(at++, m_layout);
    bar->insertSpacing(at++, 16);
    bar->insertWidget(at++, m_languageLabel);
    bar->insertWidget(at++, m_language);
    bar->insertSpacing(at++, 16);
    bar->insertWidget(at++, m_ratio);
    bar->insertSpacing(at++, 16);
    bar->insertWidget(at++, m_setup);
    bar->insertWidget(at++, m_print);
    bar->insertWidget(at++, m_pdf);

    m_scroll = new QScrollArea;
    m_scroll->setObjectName(QStringLiteral("PrintScrollBox"));
    m_scroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_scroll->setBackgroundRole(QPalette::Dark);
    m_scroll->setWidgetResizable(false);
    m_view = new QLabel;
    m_view->setObjectName(QStringLiteral("PrintViewImage"));
    m_view->setScaledContents(true);
    m_view->setStyleSheet(QStringLiteral("QLabel { background: white; border: 1px solid #707070; }"));
    m_scroll->setWidget(m_view);
    m_view->hide(); // setWidget shows it; there is no page yet
    m_view->installEventFilter(this); // the hint stands in while the page is hidden
    m_scroll->installEventFilter(this);
    // Until a result is chosen the box says where the page comes from.
    m_hint = new QLabel(m_scroll->viewport());
    m_hint->setObjectName(QStringLiteral("PrintResHintLabel"));
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setWordWrap(true);
    m_hint->setStyleSheet(QStringLiteral("QLabel { color: white; font-size: 15px; }"));
    own->addWidget(m_warning);
    own->addWidget(m_scroll, 1);

    retranslate();
    showHint(true);
    syncLayout();
    connect(m_ratio, &QComboBox::currentIndexChanged, this, [this] { applyZoom(); });
    connect(m_layout, &QComboBox::activated, this, [this](int index) { chooseLayout(index); });
    connect(m_language, &QComboBox::activated, this, [this](int index) { chooseLanguage(index); });
    connect(m_user, &QComboBox::currentIndexChanged, this, [this] {
        if (m_last.mType != TEST_KIND_NONE)
            redraw();
    });
    connect(m_setup, &QPushButton::clicked, this, [this] { printSetup(); });
    connect(m_print, &QPushButton::clicked, this, [this] { printPage(); });
    connect(m_pdf, &QPushButton::clicked, this, [this] { saveAsPdf(); });
}

TPrintPage::~TPrintPage()
{
    if (m_browser)
        m_browser->RenderResult = nullptr;
}

void TPrintPage::attach(TLogBrowser* browser)
{
    m_browser = browser;
    if (m_browser)
        m_browser->RenderResult = [this](uint8_t nType, const RDockTestInfo& info) {
            return render(nType, info);
        };
}

RCertTester TPrintPage::selectedTester() const
{
    RCertTester t;
    if (!m_user || m_user->currentIndex() < 0)
        return t;
    const int i = int(m_state.FUserNameList.indexOf(m_user->currentText()));
    if (i < 0)
        return t;
    t.mName = m_state.FUserNameList[i];
    t.mCompany = m_state.FUserCompanyList.value(i);
    t.mPart = m_state.FUserPartList.value(i);
    return t;
}

QSizeF TPrintPage::paperPortraitMM() const
{
    const QSizeF s = m_printer->pageLayout().pageSize().size(QPageSize::Millimeter);
    return QSizeF(std::min(s.width(), s.height()), std::max(s.width(), s.height()));
}

RPrintMargins TPrintPage::margins() const
{
    const AppSettings& s = m_state.settings;
    return RPrintMargins{s.ConfigPrnMarginTopEdit, s.ConfigPrnMarginLeftEdit, s.ConfigPrnMarginBottomEdit,
                         s.ConfigPrnMarginRightEdit};
}

void TPrintPage::configureRenderer()
{
    if (pullSettings)
        pullSettings();
    TCertRenderer& r = *m_renderer;
    r.port = &m_port;
    r.transferFolder = AppState::TransferFolder();
    r.options = CertOptionsOf(m_state);
    r.tester = selectedTester();
    r.printerPage = RPrinterPage::FromMillimetres(paperPortraitMM(), m_printer->resolution());
}

RDockTestPrt TPrintPage::render(uint8_t nType, const RDockTestInfo& info)
{
    m_view->hide();
    configureRenderer();
    // Only the layouts that print the record's trace read the file and the fleet index.
    m_renderer->trace = CertLayoutOf(m_renderer->options.mLayout).mTraced ? TCertTraceSource(m_state).Of(info)
                                                                           : RCertTrace();
    syncLayout();
    ++m_renders;
    m_last = m_renderer->Display(nType, info);
    showResult();
    return m_last;
}

void TPrintPage::retranslate()
{
    m_layoutLabel->setText(LangText(859));
    for (int i = 0; i < m_layout->count(); ++i) {
        const RCertLayout& l = CertLayoutOf(m_layout->itemData(i).toInt());
        m_layout->setItemText(i, l.mCaptionText ? LangText(l.mCaptionText) : l.mCaption);
    }
    m_ratio->setItemText(kFitRatio, LangText(860));
    showHint(m_view->isHidden());
}

void TPrintPage::syncLayout()
{
    const int at = m_layout->findData(m_state.settings.ConfigPrNPrintTypeCombo);
    const QSignalBlocker quiet(m_layout);
    m_layout->setCurrentIndex(std::max(0, at));
    const QSignalBlocker quietToo(m_language);
    m_language->setCurrentIndex(m_state.settings.PrintCertInterface ? 1 : 0);
    m_language->setToolTip(LangText(1120));
}

void TPrintPage::chooseLanguage(int index)
{
    // By position: a language change puts new item texts in.
    const bool interface = index == 1;
    if (interface == m_state.settings.PrintCertInterface)
        return;
    m_state.settings.PrintCertInterface = interface;
    if (languageChosen)
        languageChosen();
    redraw();
}

void TPrintPage::chooseLayout(int index)
{
    const int id = m_layout->itemData(index).toInt();
    const bool bumpBefore = CertLayoutOf(m_state.settings.ConfigPrNPrintTypeCombo).mBumpToo;
    m_state.settings.ConfigPrNPrintTypeCombo = id;
    if (layoutChosen)
        layoutChosen(id);
    // The preview shows the new layout at once (a bump report only changes with a
    // layout that draws bump tests too).
    if (m_last.mType == TEST_KIND_CAL ||
        (m_last.mType == TEST_KIND_BUMP && (bumpBefore || CertLayoutOf(id).mBumpToo)))
        redraw();
}

void TPrintPage::redraw()
{
    // The LOG page clears FLastReport when it shows no result.
    if (m_browser && m_browser->FLastReport.mType == TEST_KIND_NONE)
        m_last = m_browser->FLastReport;
    if (m_last.mType == TEST_KIND_NONE)
        return;
    const RDockTestPrt before = m_last;
    render(before.mType, before.mInfo);
    if (m_browser) {
        m_browser->FLastReport = m_last;
        m_browser->PrintResPrintBtnVisible = m_last.mType != TEST_KIND_NONE;
    }
}

void TPrintPage::showResult()
{
    const bool drawn = m_last.mType != TEST_KIND_NONE && !m_renderer->image.isNull();
    // A certificate without a tester has nobody named as having calibrated.
    const bool noTester = m_last.mType == TEST_KIND_CAL && m_renderer->tester.mName.isEmpty();
    m_warning->setText(noTester ? LangText(858) : QString());
    m_warning->setVisible(noTester);
    m_print->setVisible(m_last.mType != TEST_KIND_NONE);
    m_pdf->setVisible(m_last.mType != TEST_KIND_NONE);
    if (m_browser)
        m_browser->PrintViewImageVisible = drawn;
    if (!drawn) {
        m_view->clear();
        m_view->hide();
        showHint(true);
        return;
    }
    showHint(false);
    m_view->setPixmap(QPixmap::fromImage(m_renderer->image));
    m_view->show();
    applyZoom();
}

void TPrintPage::applyZoom()
{
    const QImage& img = m_renderer->image;
    if (img.isNull() || img.height() <= 0)
        return;
    const int i = std::clamp(m_ratio->currentIndex(), 0, kFitRatio);
    // The box without its scroll bars, so that showing them never changes the zoom.
    const QSize box = m_scroll->maximumViewportSize();
    QSize s;
    if (i == kFitRatio) {
        s = img.size().scaled(QSize(std::max(50, box.width() - 8), std::max(50, box.height() - 8)),
                              Qt::KeepAspectRatio);
    } else if (img.width() > img.height()) {
        const int w = std::max(50, int(box.width() * kLandscapeFactor[i]));
        s = QSize(w, std::max(1, int(std::lround(double(w) * img.height() / img.width()))));
    } else {
        const int h = std::max(50, int(box.height() * kPortraitFactor[i]));
        s = QSize(std::max(1, int(std::lround(double(h) * img.width() / img.height()))), h);
    }
    m_view->resize(s);
}

bool TPrintPage::printSetup()
{
    if (!m_port.printerSetup())
        return false;
    redraw(); // a new paper size changes the page's shape
    return true;
}

bool TPrintPage::printPage()
{
    const QString bmp = m_renderer->bitmapPath();
    if (!QFileInfo::exists(bmp) || !m_renderer->page) {
        m_port.showMessage(LangText(995, "The print page was not found. Select the result again.") +
                               QStringLiteral("\n") + QDir::toNativeSeparators(bmp),
                           LangText(709, "Error"), OperatorPort::Icon::Error);
        return false;
    }
    QPrinter& pr = *m_printer;
    if (pr.outputFormat() == QPrinter::NativeFormat ? QPrinterInfo::availablePrinters().isEmpty()
                                                    : pr.outputFileName().isEmpty()) {
        m_port.showMessage(LangText(154), LangText(709), OperatorPort::Icon::Error);
        return false;
    }
    if (pullSettings)
        pullSettings();
    const RPrintTarget t = CertPrintTarget(m_last.mHorizontal, m_state.settings.ConfigPrNMarginHalfSizeCheck,
                                           paperPortraitMM(), margins());
    pr.setFullPage(true);
    pr.setPageOrientation(t.mPrinterLandscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    const RCertOptions& o = m_renderer->page->mOptions;
    pr.setDocName(m_last.mType == TEST_KIND_BUMP ? CertText(o, 1051, QStringLiteral("Bump Results"))
                                                 : CertText(o, 1052, QStringLiteral("Calibration Certificate")));
    QPainter p;
    if (!p.begin(&pr)) {
        m_port.showMessage(LangText(155) + QStringLiteral("\n") + pr.printerName() + pr.outputFileName(),
                           LangText(709), OperatorPort::Icon::Error);
        return false;
    }
    const double k = pr.resolution() / 25.4;
    const QRectF r = t.mRectMM;
    m_renderer->page->paintInto(p, QRectF(r.left() * k, r.top() * k, r.width() * k, r.height() * k));
    return p.end();
}

bool TPrintPage::saveAsPdf(QString file)
{
    if (!m_renderer->page || m_last.mType == TEST_KIND_NONE)
        return false;
    if (file.isEmpty()) {
        const RDockTestInfo& r = m_last.mInfo;
        const QString name = safeFileName((m_last.mType == TEST_KIND_BUMP ? QStringLiteral("BUMP_")
                                                                          : QStringLiteral("CAL_")) +
                                          r.mSN + '_' + FormatDays(QStringLiteral("yyyymmdd_hhnn"), r.mDate)) +
                             QStringLiteral(".pdf");
        const QString dir = m_state.FLogDestDir.isEmpty() ? QDir::homePath() + '/' : m_state.FLogDestDir;
        file = m_port.pickFile(LangText(153), dir + name, LangText(993, "PDF file (*.pdf)"), true);
        if (file.isEmpty())
            return false;
        if (QFileInfo(file).suffix().isEmpty())
            file += QStringLiteral(".pdf");
    }
    if (pullSettings)
        pullSettings();
    QString error;
    if (!WriteCertPdf(*m_renderer->page, file, paperPortraitMM(), margins(), &error)) {
        m_port.showMessage(LangText(155) + QStringLiteral("\n") + QDir::toNativeSeparators(file) +
                               QStringLiteral(" (") + error + ')',
                           LangText(709), OperatorPort::Icon::Error);
        return false;
    }
    const QString saved = LangText(861).arg(QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()));
    m_port.setStatus(saved, OperatorPort::StatusLook::Success);
    m_port.appendHistory(saved);
    return true;
}

bool TPrintPage::eventFilter(QObject* watched, QEvent* event)
{
    // The zoom is relative to the box: a resized window resizes the page.
    if (watched == m_view && (event->type() == QEvent::Hide || event->type() == QEvent::Show))
        showHint(event->type() == QEvent::Hide);
    if (watched == m_scroll && event->type() == QEvent::Resize) {
        m_hint->setGeometry(m_scroll->viewport()->rect().adjusted(40, 0, -40, 0));
        applyZoom();
    }
    return QWidget::eventFilter(watched, event);
}

void TPrintPage::showHint(bool on)
{
    m_hint->setText(LangText(157));
    m_hint->setVisible(on);
    m_hint->setGeometry(m_scroll->viewport()->rect().adjusted(40, 0, -40, 0));
}

void TPrintPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The LOG page may have cleared the preview meanwhile; texts and the settings
    // page's layout may have changed.
    showHint(m_view->isHidden());
    syncLayout();
}
