// Every caption of the window can be read whole at the smallest size it is meant
// for: no label, check box or button of any page, inner tab or the bottom bar gets
// less width than its text needs, in English and in German (the longest words); and
// captions follow a change of language at once.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QLineEdit>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include "MainForm.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "logview/CertPage.h"
#include "support/TestSupport.h"
#include "util/IniFile.h"

namespace {

// Captions of what is shown under root that were given less width than they need,
// and captions and fields that stick out of the widget that holds them.
QStringList cutCaptions(QWidget* root, const QString& where)
{
    QStringList cut;
    auto inside = [&](QWidget* w) {
        // Up to the window, or to the view of a scroll area: what scrolls is not cut.
        QRect r = w->geometry();
        for (QWidget* p = w->parentWidget(); p && !p->isWindow(); p = p->parentWidget()) {
            if (auto* area = qobject_cast<QAbstractScrollArea*>(p->parentWidget()); area && area->viewport() == p)
                return;
            if (!p->rect().contains(r)) {
                cut << QStringLiteral("%1: %2 sticks out of %3 (%4 px wide, right edge at %5)")
                           .arg(where, w->objectName(), p->objectName())
                           .arg(p->width())
                           .arg(r.right() + 1);
                return;
            }
            r.translate(p->pos());
        }
    };
    auto check = [&](QWidget* w, const QString& text) {
        if (!w->isVisible() || text.isEmpty())
            return;
        inside(w);
        const int wants = w->minimumSizeHint().width();
        if (w->width() < wants)
            cut << QStringLiteral("%1: %2 \"%3\" %4 px of %5").arg(where, w->objectName(), text).arg(w->width()).arg(wants);
    };
    for (QLabel* l : root->findChildren<QLabel*>()) {
        // A wrapping label gives height for width; a picture is scaled on purpose.
        if (!l->wordWrap() && !l->hasScaledContents())
            check(l, l->text());
    }
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        check(b, b->text());
    for (QWidget* f : root->findChildren<QWidget*>())
        if ((qobject_cast<QComboBox*>(f) || qobject_cast<QAbstractSpinBox*>(f) || qobject_cast<QLineEdit*>(f)) &&
            f->isVisible() && !qobject_cast<QComboBox*>(f->parentWidget()) &&
            !qobject_cast<QAbstractSpinBox*>(f->parentWidget())) {
            inside(f);
            // A number box or a drop-down squeezed below its minimum cuts its value.
            if (!qobject_cast<QLineEdit*>(f) && f->width() < f->minimumSizeHint().width())
                cut << QStringLiteral("%1: %2 squeezed to %3 px of %4")
                           .arg(where, f->objectName())
                           .arg(f->width())
                           .arg(f->minimumSizeHint().width());
        }
    return cut;
}

// The language combo's index: 0 English, 4 German.
void chooseLanguage(TMainForm& w, int index)
{
    auto* combo = w.findChild<QComboBox*>(QStringLiteral("ConfigSetEtcLangLangCombo"));
    auto* change = w.findChild<QPushButton*>(QStringLiteral("ConfigSetEtcLangLangChangeBtn"));
    ASSERT_TRUE(combo && change);
    combo->setCurrentIndex(index);
    change->click();
}

class WindowTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral(MARVANE_BINARY_DIR)));
        IniFile ini(AppState::SettingsFilePath());
        ini.writeString("NETWORK", "Interfaces", "127.0.0.1");
        ASSERT_TRUE(ini.save());
    }
    void TearDown() override { QDir::setCurrent(m_oldCwd); }

    // Every page and inner tab at the window's current size.
    static QStringList cutOnEveryPage(TMainForm& w)
    {
        QStringList cut;
        auto* pages = w.findChild<QTabWidget*>(QStringLiteral("CfgPage"));
        EXPECT_NE(pages, nullptr);
        if (!pages)
            return cut;
        auto settle = [] {
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
        };
        auto* bottom = w.findChild<QTabWidget*>(QStringLiteral("OpDevicePage"));
        for (int b = 0; bottom && b < bottom->count(); ++b) {
            bottom->setCurrentIndex(b);
            settle();
            cut << cutCaptions(bottom->widget(b), bottom->widget(b)->objectName());
        }
        if (bottom)
            bottom->setCurrentIndex(0);
        if (auto* panel = w.findChild<QWidget*>(QStringLiteral("OpPanel")))
            for (auto* btn : panel->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
                cut << cutCaptions(btn, panel->objectName());
        for (int i = 0; i < pages->count(); ++i) {
            if (!pages->isTabVisible(i))
                continue;
            pages->setCurrentIndex(i);
            settle();
            QWidget* page = pages->widget(i);
            cut << cutCaptions(page, page->objectName());
            for (auto* inner : page->findChildren<QTabWidget*>())
                for (int j = 0; j < inner->count(); ++j) {
                    if (!inner->isTabVisible(j))
                        continue;
                    inner->setCurrentIndex(j);
                    settle();
                    cut << cutCaptions(inner->widget(j), page->objectName() + '/' + inner->widget(j)->objectName());
                }
        }
        cut.removeDuplicates();
        return cut;
    }

    testsupport::ScopedTempRoot m_tmp;
    QString m_oldCwd;
};

class WindowLabels : public WindowTexts, public ::testing::WithParamInterface<int> {};

TEST_P(WindowLabels, NoCaptionIsCutAt1024x640NorAtTheWindowsMinimum)
{
    TMainForm w;
    w.show();
    ASSERT_TRUE(w.startedUp());
    if (GetParam() > 0)
        chooseLanguage(w, GetParam());
    // The empty address box says what goes into it.
    auto* lan = w.findChild<QComboBox*>(QStringLiteral("OpDeviceConnectLanListCombo"));
    ASSERT_TRUE(lan && lan->lineEdit());
    EXPECT_EQ(lan->lineEdit()->placeholderText(), LangText(734));
    EXPECT_FALSE(LangText(734).isEmpty());
    // The service pages too, as a service technician sees them.
    w.applyServiceLevel(2);

    // The window has a minimum that a 1024 x 640 screen can hold.
    EXPECT_GT(w.minimumWidth(), 0);
    EXPECT_LE(w.minimumWidth(), 1024);
    EXPECT_LE(w.minimumHeight(), 640);
    EXPECT_LE(w.minimumSizeHint().width(), 1024);

    // The minimum is read again once every page has been laid out in this language.
    for (const bool atMinimum : {false, true}) {
        const QSize size = atMinimum ? w.minimumSize() : QSize(1024, 640);
        w.resize(size);
        QTest::qWait(50);
        ASSERT_EQ(w.width(), size.width());
        const QStringList cut = cutOnEveryPage(w);
        EXPECT_TRUE(cut.isEmpty()) << size.width() << "x" << size.height() << ":\n"
                                   << qPrintable(cut.join('\n'));
    }
    // A window made narrower than its minimum stays at the minimum.
    w.resize(600, 400);
    QTest::qWait(50);
    EXPECT_GE(w.width(), w.minimumWidth());
}

INSTANTIATE_TEST_SUITE_P(EnglishAndGerman, WindowLabels, ::testing::Values(0, 4));

TEST_F(WindowTexts, PrintPageLayoutChoiceFollowsALanguageChangeAtOnce)
{
    TMainForm w;
    w.show();
    ASSERT_TRUE(w.startedUp());
    auto* layout = w.findChild<QComboBox*>(QStringLiteral("PrintResLayoutCombo"));
    auto* ratio = w.findChild<QComboBox*>(QStringLiteral("PrintResRatioCombo"));
    auto* settings = w.findChild<QComboBox*>(QStringLiteral("ConfigPrNPrintTypeCombo"));
    ASSERT_TRUE(layout && ratio && settings);
    auto captions = [](QComboBox* c) {
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        return items;
    };
    const QStringList english = captions(layout);
    const QString fitEnglish = ratio->itemText(ratio->count() - 1);
    ASSERT_EQ(english.value(0), QStringLiteral("Default"));
    // A layout chosen before the change stays chosen.
    const int audit = layout->findData(CERT_LAYOUT_AUDIT);
    ASSERT_GE(audit, 0);
    layout->setCurrentIndex(audit);
    emit layout->activated(audit);

    chooseLanguage(w, 4);
    // The page's own captions speak German, the same words the settings page uses.
    EXPECT_EQ(layout->itemText(0), QStringLiteral("Standard"));
    EXPECT_EQ(layout->itemText(1), QStringLiteral("Hersteller"));
    for (int id = 0; id < settings->count(); ++id)
        if (const int at = layout->findData(id); at >= 0) {
            EXPECT_EQ(layout->itemText(at), settings->itemText(id)) << id;
        }
    EXPECT_EQ(ratio->itemText(ratio->count() - 1), QStringLiteral("Ganze Seite"));
    EXPECT_EQ(layout->currentIndex(), audit);
    EXPECT_EQ(settings->currentIndex(), CERT_LAYOUT_AUDIT);

    chooseLanguage(w, 0);
    EXPECT_EQ(captions(layout), english);
    EXPECT_EQ(ratio->itemText(ratio->count() - 1), fitEnglish);
}

} // namespace
