// How the window behaves at every size and for the keyboard: pages that scroll
// instead of squeezing, fields of a sensible width, a status panel of modest
// size, the window's own size and place, mnemonics, tooltips and field labels.
#include "WindowLayout.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>

#include "lang/LangTable.h"
#include "util/StUtils.h"

namespace windowlayout {

namespace {

template <class T> T* named(QWidget* window, const char* name)
{
    return window->findChild<T*>(QLatin1String(name));
}

// The page's content moves into a scroll area that fills the page: a window smaller
// than the content scrolls it instead of laying widgets over each other.
void wrapInScrollArea(QWidget* page)
{
    QLayout* layout = page->layout();
    if (!layout || page->findChild<QScrollArea*>(page->objectName() + QStringLiteral("Scroll"),
                                                 Qt::FindDirectChildrenOnly))
        return;
    auto* content = new QWidget;
    content->setObjectName(page->objectName() + QStringLiteral("Content"));
    content->setLayout(layout); // takes the layout and its widgets from the page
    auto* area = new QScrollArea(page);
    area->setObjectName(page->objectName() + QStringLiteral("Scroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(content);
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(area);
}

// A field that stops growing keeps to the left of its cell, next to its label.
bool alignLeft(QLayout* layout, QWidget* w)
{
    if (!layout)
        return false;
    if (layout->indexOf(w) >= 0)
        return layout->setAlignment(w, Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < layout->count(); ++i)
        if (alignLeft(layout->itemAt(i)->layout(), w))
            return true;
    return false;
}

void capWidth(QWidget* w, int maxWidth)
{
    if (w->maximumWidth() <= maxWidth)
        return;
    w->setMaximumWidth(maxWidth);
    if (QWidget* parent = w->parentWidget())
        alignLeft(parent->layout(), w);
}

} // namespace

void Apply(QMainWindow* window)
{
    // Pages of fields scroll; lists, trees and the report viewer size themselves.
    for (const char* page : {"DockTS", "GDTS", "ConfigSetTS", "ConfigPrNTS", "ConfigSendTS", "PCTS"})
        if (QWidget* w = named<QWidget>(window, page))
            wrapInScrollArea(w);

    // The mail server's port has its own label and stands right after the server's
    // name at the width five digits need, not at the far end of the row.
    auto* server = named<QLineEdit>(window, "ConfigSendEmailSvrEdit");
    auto* serverPort = named<QSpinBox>(window, "ConfigSendEmailSvrPortEdit");
    auto* serverBox = named<QWidget>(window, "ConfigSendEmailSvrGB");
    auto* serverGrid = serverBox ? qobject_cast<QGridLayout*>(serverBox->layout()) : nullptr;
    if (server && serverPort && serverGrid && !named<QLabel>(window, "ConfigSendEmailSvrPortLabel")) {
        serverGrid->removeWidget(server);
        serverGrid->removeWidget(serverPort);
        auto* label = new QLabel(serverBox);
        label->setObjectName(QStringLiteral("ConfigSendEmailSvrPortLabel"));
        label->setBuddy(serverPort);
        serverPort->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        auto* row = new QHBoxLayout;
        row->addWidget(server);
        row->addSpacing(12);
        row->addWidget(label);
        row->addWidget(serverPort);
        row->addStretch(1);
        serverGrid->addLayout(row, 0, 1, 1, serverGrid->columnCount() - 1);
    }

    // Text fields stop growing at a width a value can use; enlarged windows keep
    // their space instead of stretching an address over half a 4K screen.
    const int chars = window->fontMetrics().averageCharWidth();
    for (const char* page : {"DockTS", "GDTS", "ConfigTS", "PCTS"}) {
        QWidget* p = named<QWidget>(window, page);
        if (!p)
            continue;
        for (QLineEdit* e : p->findChildren<QLineEdit*>())
            if (!qobject_cast<QAbstractSpinBox*>(e->parentWidget()) &&
                !qobject_cast<QComboBox*>(e->parentWidget())) {
                // Aligned fields take their preferred width: give a value room to be read.
                // A file path or a list of addresses wants more of it than a lot number,
                // and the width a wide window offers, with its "..." button next to it.
                const QString name = e->objectName();
                const bool wide = name.contains(QLatin1String("Upgrade")) ||
                                  name == QLatin1String("ConfigSendEmailToEdit") ||
                                  name == QLatin1String("ConfigSendOptDirEdit");
                if (!wide)
                    capWidth(e, 60 * chars);
                e->setMinimumWidth(std::min(e->maximumWidth(), (wide ? 40 : 32) * chars));
            }
        for (QAbstractSpinBox* s : p->findChildren<QAbstractSpinBox*>())
            capWidth(s, 24 * chars);
        for (QComboBox* c : p->findChildren<QComboBox*>())
            capWidth(c, 50 * chars);
        // Extra width goes to the end of a row, not between a label and its field.
        for (QGridLayout* g : p->findChildren<QGridLayout*>()) {
            bool stretched = false;
            for (int c = 0; c < g->columnCount(); ++c)
                stretched = stretched || g->columnStretch(c) > 0;
            if (!stretched && g->columnCount() > 1)
                g->setColumnStretch(g->columnCount(), 1); // an empty column after the last
        }
    }

    // Units stand next to their fields: the bottle slots' spare width goes after the unit.
    if (auto* bottle = named<QWidget>(window, "DockBottleGB"))
        if (auto* g = qobject_cast<QGridLayout*>(bottle->layout())) {
            for (int c = 0; c < g->columnCount(); ++c)
                g->setColumnStretch(c, 0);
            g->setColumnStretch(g->columnCount(), 1);
        }

    // On a small screen the logo gives its place to the status panel.
    if (QWidget* logo = named<QWidget>(window, "CustomerPanel")) {
        struct LogoYield : QObject {
            QWidget* logo;
            LogoYield(QWidget* l, QObject* parent) : QObject(parent), logo(l) {}
            bool eventFilter(QObject* o, QEvent* e) override
            {
                if (e->type() == QEvent::Resize)
                    logo->setVisible(static_cast<QWidget*>(o)->width() >= 1200);
                return false;
            }
        };
        window->installEventFilter(new LogoYield(logo, window));
    }

    // A wide window's spare width goes between the status panel and the logo, not in
    // gaps between the Connection tab, the buttons and the panel.
    if (QWidget* logo = named<QWidget>(window, "CustomerPanel"))
        if (auto* bar = logo->parentWidget() ? qobject_cast<QBoxLayout*>(logo->parentWidget()->layout()) : nullptr)
            if (const int at = bar->indexOf(logo); at > 0 && !bar->itemAt(at - 1)->spacerItem())
                bar->insertStretch(at, 1);

    // The status panel: a modest band, not a slab.
    if (QWidget* status = named<QWidget>(window, "OpStatusPanel")) {
        status->setMaximumWidth(90 * chars);
        status->setMinimumWidth(30 * chars);
    }

    // The tester grid shares its group's width among its three columns.
    if (auto* grid = named<QTableWidget>(window, "ConfigSetUserGrid")) {
        grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
        grid->horizontalHeader()->setMinimumSectionSize(8 * chars);
    }

    // Labels for the port and the address boxes of the Connection tab.
    auto* tab = named<QWidget>(window, "OpDeviceConnectTS");
    auto* grid = tab ? qobject_cast<QGridLayout*>(tab->layout()) : nullptr;
    auto* port = named<QComboBox>(window, "OpDeviceConnectCommPortCombo");
    auto* lan = named<QComboBox>(window, "OpDeviceConnectLanListCombo");
    auto* refresh = named<QWidget>(window, "OpDeviceConnectRefreshBtn");
    if (grid && port && lan && refresh && !named<QLabel>(window, "OpDeviceConnectCommPortLabel")) {
        for (QWidget* w : {static_cast<QWidget*>(port), static_cast<QWidget*>(lan), refresh})
            grid->removeWidget(w);
        auto* portLabel = new QLabel(tab);
        portLabel->setObjectName(QStringLiteral("OpDeviceConnectCommPortLabel"));
        portLabel->setBuddy(port);
        auto* lanLabel = new QLabel(tab);
        lanLabel->setObjectName(QStringLiteral("OpDeviceConnectLanListLabel"));
        lanLabel->setBuddy(lan);
        auto* row2 = new QHBoxLayout;
        row2->addWidget(portLabel);
        row2->addWidget(port, 1);
        auto* row3 = new QHBoxLayout;
        row3->addWidget(lanLabel);
        row3->addWidget(lan, 1);
        row3->addWidget(refresh);
        grid->addLayout(row2, 2, 0, 1, 2);
        grid->addLayout(row3, 3, 0, 1, 2);
    }

    // The expiry date stays free text in the dock's own form; the form is shown as a hint.
    if (auto* expiry = named<QLineEdit>(window, "DockBottleDateEdit"))
        expiry->setPlaceholderText(QStringLiteral("yyyy-mm"));

    // Dotted IPv4 addresses only; what is still incomplete shows as such.
    static const QRegularExpression kAddress(
        QStringLiteral("^((25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)(\\.(?!$)|$)){0,4}$"));
    for (const char* name : {"DockLanIpEdit", "DockLanSubnetMaskEdit", "DockLanGateWayEdit",
                             "ConfigPrNNetworkSubnetEdit"}) {
        auto* edit = named<QLineEdit>(window, name);
        if (!edit)
            continue;
        edit->setValidator(new QRegularExpressionValidator(kAddress, edit));
        QObject::connect(edit, &QLineEdit::textChanged, edit, [edit] { MarkAddress(edit); });
        MarkAddress(edit);
    }
}

void MarkAddress(QLineEdit* edit)
{
    const bool ok = IsDottedIPv4(edit->text());
    edit->setStyleSheet(ok ? QString() : QStringLiteral("QLineEdit { background-color: rgb(255,224,224); }"));
    edit->setProperty("invalidAddress", !ok);
}

void ApplyTexts(QMainWindow* window)
{
    // Mnemonics on the main buttons, whatever the language's caption; the buttons keep
    // a natural width on a wide screen.
    const int chars = window->fontMetrics().averageCharWidth();
    for (const char* name : {"OpReadBtn", "OpWriteBtn", "OpAutoBtn", "OpAutoCancelBtn"}) {
        auto* b = named<QAbstractButton>(window, name);
        if (b && !b->text().contains('&') && !b->text().isEmpty())
            b->setText('&' + b->text());
        if (b)
            b->setMaximumWidth(std::max(b->sizeHint().width() + 4 * chars, 18 * chars));
    }
    if (auto* l = named<QLabel>(window, "OpDeviceConnectCommPortLabel"))
        l->setText(LangText(344));
    if (auto* l = named<QLabel>(window, "OpDeviceConnectLanListLabel"))
        l->setText(LangText(24));
    if (auto* l = named<QLabel>(window, "ConfigSendEmailSvrPortLabel"))
        l->setText(LangText(344));
    // The address box shows its hint whole, in every language.
    if (auto* lan = named<QComboBox>(window, "OpDeviceConnectLanListCombo")) {
        // An empty box says what goes into it (before the first search fills the list).
        if (QLineEdit* edit = lan->lineEdit())
            edit->setPlaceholderText(LangText(734));
        const int arrow = lan->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, lan);
        lan->setMinimumWidth(lan->fontMetrics().horizontalAdvance(LangText(734)) + arrow + 24);
        // The Connection tab makes room for the hint and the Refresh button of every language,
        // and a narrow window does not squeeze it below that: its labels would be cut.
        if (auto* page = named<QWidget>(window, "OpDevicePage")) {
            // Before the window is shown nothing tells the layouts that the texts changed.
            for (QLayout* l : page->findChildren<QLayout*>())
                l->invalidate();
            const int needs = page->minimumSizeHint().width();
            page->setMinimumWidth(std::max(290, needs));
            page->setMaximumWidth(std::max(330, needs));
        }
    }

    // An empty Report page says why it is empty.
    if (auto* report = window->findChild<QTextBrowser*>(QStringLiteral("ReportHtmlViewer")))
        report->setPlaceholderText(
            LangText(914, "No report yet: Save Log after a Read writes the alert report, and it is shown here."));

    const struct {
        const char* name;
        int text;
    } tips[] = {{"OpDeviceConnectDiskRadio", 550},     {"OpDeviceConnectCommRadio", 551},
                {"OpDeviceConnectUdpRadio", 552},      {"OpDeviceConnectLanRadio", 553},
                {"OpDeviceConnectCommPortCombo", 554}, {"OpDeviceConnectLanListCombo", 555},
                {"OpDeviceConnectRefreshBtn", 556},    {"ConfigSetSchGrid", 557},
                {"ConfigSetEtcPurgeDayEdit", 558},     {"GDOptGrid", 559},
                {"OpAutoCancelBtn", 560},              {"ConfigSetUserGrid", 561}};
    for (const auto& t : tips)
        if (QWidget* w = window->findChild<QWidget*>(QLatin1String(t.name)))
            w->setToolTip(LangText(t.text));
}

void PlaceWindow(QMainWindow* window, const QByteArray& saved)
{
    if (!saved.isEmpty() && window->restoreGeometry(saved)) {
        // A window remembered on a screen that is gone, or larger than this one, is brought back.
        const QScreen* screen = window->screen();
        if (screen && screen->availableGeometry().contains(window->frameGeometry().center()) &&
            window->frameGeometry().height() <= screen->availableGeometry().height())
            return;
    }
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect avail = screen->availableGeometry();
    const QSize want(std::min(1280, avail.width() * 9 / 10), std::min(800, avail.height() * 9 / 10));
    window->resize(want);
    window->move(avail.center() - QPoint(want.width() / 2, want.height() / 2));
}

} // namespace windowlayout
