#pragma once
// The "Print" page: the preview of the last calibration certificate or bump report,
// its zoom, the tester, the printer set-up, printing and saving as PDF.
#include <QWidget>
#include <functional>
#include <memory>

#include "logview/CertPage.h"

class AppState;
class OperatorPort;
class QComboBox;
class QLabel;
class QPrinter;
class QPushButton;
class QScrollArea;
class TLogBrowser;

class TPrintPage : public QWidget {
    Q_OBJECT
public:
    // userCombo: the page's PrintResUserCombo (made by the window's form); the page
    // puts its own buttons beside it.
    TPrintPage(AppState& state, OperatorPort& port, QComboBox* userCombo, QWidget* parent = nullptr);
    ~TPrintPage() override;

    QPrinter& printer() { return *m_printer; }
    // The LOG page draws through this page; the browser keeps FLastReport.
    void attach(TLogBrowser* browser);
    // Brings the settings controls into the state before a page is drawn.
    std::function<void()> pullSettings;
    // The layout was chosen on this page (PRINT/Type): the settings page follows.
    std::function<void(int)> layoutChosen;
    // The certificate language was chosen (PRINT/CertLanguage, kept in the state's settings).
    std::function<void()> languageChosen;

    // DisplayCalData / DisplayBumpData with the current settings, tester and printer.
    RDockTestPrt render(uint8_t nType, const RDockTestInfo& info);
    // Draws FLastReport again (tester or printer changed).
    void redraw();
    void applyZoom();
    // The captions of the page's own controls, in the language now chosen.
    void retranslate();

    bool printSetup();          // PrintResPrintSetupBtn
    bool printPage();           // PrintResPrintBtn
    bool saveAsPdf(QString file = QString()); // PrintResPdfBtn; asks for the file when empty

    const RDockTestPrt& lastReport() const { return m_last; }
    const TCertRenderer& renderer() const { return *m_renderer; }
    int renderCount() const { return m_renders; }
    RPrintMargins margins() const;
    QSizeF paperPortraitMM() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    RCertTester selectedTester() const;
    void configureRenderer();
    void showResult();
    void showHint(bool on);
    void syncLayout();
    void chooseLayout(int index);
    void chooseLanguage(int index);

    AppState& m_state;
    OperatorPort& m_port;
    QComboBox* m_user = nullptr;
    QComboBox* m_ratio = nullptr;
    QComboBox* m_layout = nullptr;
    QLabel* m_layoutLabel = nullptr;
    QComboBox* m_language = nullptr; // PRINT/CertLanguage: English, the interface language
    QLabel* m_languageLabel = nullptr;
    QLabel* m_warning = nullptr;
    QPushButton* m_setup = nullptr;
    QPushButton* m_print = nullptr;
    QPushButton* m_pdf = nullptr;
    QScrollArea* m_scroll = nullptr;
    QLabel* m_view = nullptr;
    QLabel* m_hint = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<TCertRenderer> m_renderer;
    TLogBrowser* m_browser = nullptr;
    RDockTestPrt m_last;
    int m_renders = 0;
};
