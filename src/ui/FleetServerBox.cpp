#include "FleetServerBox.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <algorithm>
#include <memory>

#include "app/AppState.h"
#include "app/FleetAllSites.h"
#include "fleet/FleetServer.h"
#include "lang/LangTable.h"

namespace {

void setLook(QLabel* l, const QString& text, bool problem)
{
    l->setText(text);
    l->setStyleSheet(problem ? QStringLiteral("QLabel { color: #b71c1c; }") : QString());
    l->setVisible(!text.isEmpty());
}

} // namespace

TFleetServerBox::TFleetServerBox(QWidget* parent) : QGroupBox(parent)
{
    setObjectName(QStringLiteral("ConfigFleetGB"));
    auto* grid = new QGridLayout(this);
    grid->setColumnStretch(1, 1);
    m_serverLabel = new QLabel(this);
    m_serverLabel->setObjectName(QStringLiteral("ConfigFleetServerLabel"));
    m_server = new QLineEdit(this);
    m_server->setObjectName(QStringLiteral("ConfigFleetServerEdit"));
    m_server->setPlaceholderText(QStringLiteral("postgresql://USER@HOST:PORT/DATABASE"));
    m_passwordLabel = new QLabel(this);
    m_passwordLabel->setObjectName(QStringLiteral("ConfigFleetPasswordLabel"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("ConfigFleetPasswordEdit"));
    m_password->setEchoMode(QLineEdit::Password);
    m_siteLabel = new QLabel(this);
    m_siteLabel->setObjectName(QStringLiteral("ConfigFleetSiteLabel"));
    m_site = new QLineEdit(this);
    m_site->setObjectName(QStringLiteral("ConfigFleetSiteEdit"));
    m_test = new QPushButton(this);
    m_test->setObjectName(QStringLiteral("ConfigFleetTestBtn"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("ConfigFleetStatusLabel"));
    m_status->setWordWrap(true);
    m_status->hide();
    m_serverLabel->setBuddy(m_server);
    m_passwordLabel->setBuddy(m_password);
    m_siteLabel->setBuddy(m_site);
    grid->addWidget(m_serverLabel, 0, 0);
    grid->addWidget(m_server, 0, 1, 1, 2);
    grid->addWidget(m_passwordLabel, 1, 0);
    grid->addWidget(m_password, 1, 1, 1, 2);
    grid->addWidget(m_siteLabel, 2, 0);
    grid->addWidget(m_site, 2, 1);
    grid->addWidget(m_test, 2, 2);
    grid->addWidget(m_status, 3, 0, 1, 3);
    retranslate();
    connect(m_server, &QLineEdit::textChanged, this, [this] { checkAddress(); });
    connect(m_test, &QPushButton::clicked, this, [this] { testConnection(); });
}

void TFleetServerBox::showEvent(QShowEvent* event)
{
    QGroupBox::showEvent(event);
    // A server address is as long as a file path: room for all of a usual one (the
    // window's layout gives its fields a width when the page is first laid out).
    const int chars = fontMetrics().averageCharWidth();
    m_server->setMinimumWidth(std::min(m_server->maximumWidth(), 52 * chars));
}

void TFleetServerBox::retranslate()
{
    setTitle(LangText(967));
    m_serverLabel->setText(LangText(968));
    m_passwordLabel->setText(LangText(969));
    m_siteLabel->setText(LangText(970));
    m_test->setText(LangText(971));
    m_site->setPlaceholderText(LangText(1155, "Empty: the host name (%1)").arg(DefaultFleetSite()));
}

void TFleetServerBox::push(const AppSettings& s)
{
    m_server->setText(s.FleetServer);
    m_password->setText(s.FleetPassword);
    // The host name is the default: the box stays empty and says so.
    m_site->setText(s.FleetSite == DefaultFleetSite() ? QString() : s.FleetSite);
    checkAddress();
}

void TFleetServerBox::pull(AppSettings& s) const
{
    s.FleetServer = m_server->text().trimmed();
    s.FleetPassword = m_password->text();
    const QString site = m_site->text().trimmed();
    s.FleetSite = site.isEmpty() ? DefaultFleetSite() : site;
}

void TFleetServerBox::checkAddress()
{
    ++m_request; // a test of the address before it changed says nothing of this one
    m_testing = false;
    const QString uri = m_server->text().trimmed();
    m_test->setEnabled(!uri.isEmpty());
    if (uri.isEmpty()) {
        setLook(m_status, QString(), false);
        return;
    }
    RFleetServerAddress address;
    QString why;
    setLook(m_status, ParseFleetServerUri(uri, &address, &why) ? QString() : LangText(973).arg(why), true);
}

void TFleetServerBox::testConnection()
{
    AppSettings s;
    pull(s);
    if (s.FleetServer.isEmpty())
        return;
    const int request = ++m_request;
    m_testing = true;
    m_test->setEnabled(false);
    setLook(m_status, LangText(1152), false);
    struct Outcome {
        bool ok = false;
        QString reached, error;
    };
    auto outcome = std::make_shared<Outcome>();
    const RFleetServerSettings settings{s.FleetServer, s.FleetPassword, s.FleetSite, QString()};
    QThread* worker = QThread::create(
        [outcome, settings] { outcome->ok = CheckFleetServer(settings, &outcome->reached, &outcome->error); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, outcome, request] {
        if (request != m_request)
            return;
        m_testing = false;
        m_test->setEnabled(true);
        setLook(m_status, outcome->ok ? LangText(972).arg(outcome->reached) : LangText(977).arg(outcome->error),
                !outcome->ok);
    });
    worker->start();
}
