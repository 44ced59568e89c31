#pragma once
// The "Central fleet database" group of the settings page: FLEET/Server, FLEET/Password
// (masked, kept like the mail password) and FLEET/Site (empty: the host name), with
// a check of the address as it is typed and a connection test off the window's thread.
#include <QGroupBox>

struct AppSettings;
class QLabel;
class QLineEdit;
class QPushButton;

class TFleetServerBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TFleetServerBox(QWidget* parent = nullptr);

    void push(const AppSettings& s);
    void pull(AppSettings& s) const;
    // Starts the connection test; the outcome shows in the status line.
    void testConnection();
    bool testing() const { return m_testing; }
    QLabel* statusLabel() const { return m_status; }
    void retranslate();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void checkAddress();
    QLabel* m_serverLabel;
    QLabel* m_passwordLabel;
    QLabel* m_siteLabel;
    QLineEdit* m_server;
    QLineEdit* m_password;
    QLineEdit* m_site;
    QPushButton* m_test;
    QLabel* m_status;
    bool m_testing = false;
    int m_request = 0;
};
