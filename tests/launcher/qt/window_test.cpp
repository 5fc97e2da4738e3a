// The Qt drawing of the window: every control of the core's table as a
// widget, the mouse and the clicks handed to the core, and Qt's own texts
// in French.
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "fake_desktop.h"
#include "qt_desktop.h"
#include "settings.h"
#include "test_files.h"
#include "text.h"
#include "window.h"

using vornlog::MessageRequest;
using vornlog::qt;

class WindowTest : public QObject {
    Q_OBJECT

    FakeDesktop desktop_;
    std::unique_ptr<vornlog::VornlogRun> window_;

    template <typename T>
    T* control(const QString& name) const
    {
        T* found = window_->findChild<T*>(name);
        if (!found) qFatal("no control %s", qPrintable(name));
        return found;
    }
    QCheckBox* box(int index) const { return control<QCheckBox>(QStringLiteral("CheckAGarder%1").arg(index)); }
    QLabel* labelInfo() const { return control<QLabel>(QStringLiteral("LabelInfo")); }
    QRadioButton* option(int index) const { return control<QRadioButton>(QStringLiteral("OptionParam%1").arg(index)); }
    QCheckBox* checkToutes() const { return control<QCheckBox>(QStringLiteral("CheckToutes")); }

private slots:
    void init()
    {
        desktop_ = FakeDesktop();
        window_ = std::make_unique<vornlog::VornlogRun>(desktop_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() { window_.reset(); }

    void drawsEveryControlOfTheTable()
    {
        const vornlog::WindowFrame& frame = vornlog::windowFrame();
        QCOMPARE(window_->windowTitle(), qt(frame.caption));
        QCOMPARE(window_->size(), QSize(frame.width / 15, frame.height / 15));
        for (const vornlog::Control& c : vornlog::windowControls()) {
            const QString name = qt(c.objectName());
            auto* widget = control<QWidget>(name);
            QCOMPARE(widget->pos() * 15, QPoint(c.place.left / 15 * 15, c.place.top / 15 * 15));
            QCOMPARE(widget->toolTip(), qt(c.tooltip));
            QCOMPARE(widget->font().bold(), c.bold);
            QCOMPARE(widget->font().pointSize(), c.points);
            if (c.colour)
                QCOMPARE(widget->palette().color(QPalette::WindowText),
                         QColor(c.colour->red, c.colour->green, c.colour->blue));
            if (auto* label = qobject_cast<QLabel*>(widget); label && c.role != vornlog::Role::LabelInfo)
                QCOMPARE(label->text(), qt(c.text));
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                QCOMPARE(button->text(), qt(c.text));
                QCOMPARE(button->isChecked(), c.checked);
                QVERIFY(button->isEnabled());
            }
            QCOMPARE(widget->isHidden(), !c.visible);
        }
        QCOMPARE(labelInfo()->text(), QStringLiteral("Bug Repport : ") + qt(vornlog::settings::contactAddress) +
                                          QStringLiteral(" - Vesion " VORNLOG_PROJECT_VERSION " du 6 juin 2012"));
        QVERIFY(option(1)->height() >= 2 * option(0)->height() - 2);

        // CommandRun first and CommandEnd second in the tab order.
        auto* run = control<QPushButton>(QStringLiteral("CommandRun"));
        QApplication::setActiveWindow(window_.get());
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QCOMPARE(QApplication::focusWidget(), run);
        QCOMPARE(run->nextInFocusChain(), control<QPushButton>(QStringLiteral("CommandEnd")));
    }

    void informationLine_followsTheMouseOverTitleAndBackground()
    {
        auto* titre = control<QLabel>(QStringLiteral("LabelTitre"));
        QTest::mouseMove(window_.get(), titre->geometry().center());
        QVERIFY(labelInfo()->isVisible());
        // Onto the information line itself, and over another control: it stays.
        QTest::mouseMove(window_.get(), labelInfo()->geometry().center());
        QVERIFY(labelInfo()->isVisible());
        QTest::mouseMove(window_.get(), control<QLabel>(QStringLiteral("LabelDirective0"))->geometry().center());
        QVERIFY(labelInfo()->isVisible());
        // Onto the bare window: hidden.
        QTest::mouseMove(window_.get(), QPoint(5, 5));
        QVERIFY(labelInfo()->isHidden());
    }

    void clickOnTitle_showsTheAboutBox()
    {
        QTest::mouseClick(control<QLabel>(QStringLiteral("LabelTitre")), Qt::LeftButton);
        QCOMPARE(desktop_.messages.size(), 1u);
        QCOMPARE(qt(desktop_.messages[0].title), QStringLiteral("Bug repport"));
        QCOMPARE(desktop_.messages[0].icon, MessageRequest::Icon::Information);
    }

    void checkToutes_setsEveryBoxToItsOwnState()
    {
        QTest::mouseClick(box(2), Qt::LeftButton);
        QTest::mouseClick(box(17), Qt::LeftButton);
        QVERIFY(box(2)->isChecked() && box(17)->isChecked());

        QTest::mouseClick(checkToutes(), Qt::LeftButton);
        for (int i = 0; i < 18; ++i) QVERIFY2(box(i)->isChecked(), qPrintable(box(i)->text()));
        // A single box afterwards leaves CheckToutes alone, and the core
        // keeps what the box shows.
        QTest::mouseClick(box(5), Qt::LeftButton);
        QVERIFY(checkToutes()->isChecked());
        QVERIFY(!window_->runChoices().keep[5]);

        QTest::mouseClick(checkToutes(), Qt::LeftButton);
        QVERIFY(!checkToutes()->isChecked());
        for (int i = 0; i < 18; ++i) QVERIFY2(!box(i)->isChecked(), qPrintable(box(i)->text()));
    }

    void outputChoice_greysTheBoxesAndKeepsTheirStates()
    {
        QTest::mouseClick(box(3), Qt::LeftButton);
        QTest::mouseClick(box(10), Qt::LeftButton);

        // The second option answers a click anywhere on its two lines.
        QTest::mouseClick(option(1), Qt::LeftButton, {}, QPoint(option(1)->width() - 20, option(1)->height() - 4));
        QVERIFY(option(1)->isChecked());
        QVERIFY(!option(0)->isChecked());
        QVERIFY(!checkToutes()->isEnabled());
        for (int i = 0; i < 18; ++i) {
            QVERIFY(!box(i)->isEnabled());
            QCOMPARE(box(i)->isChecked(), i == 3 || i == 10);
        }
        QCOMPARE(window_->runChoices().output, vornlog::Output::StepsCsv);
        QTest::mouseClick(option(2), Qt::LeftButton);
        QCOMPARE(window_->runChoices().output, vornlog::Output::Picture);
        QVERIFY(!box(3)->isEnabled());
        QTest::mouseClick(option(3), Qt::LeftButton);
        QCOMPARE(window_->runChoices().output, vornlog::Output::Summary);
        QTest::mouseClick(option(4), Qt::LeftButton);
        QCOMPARE(window_->runChoices().output, vornlog::Output::Viewer);
        QVERIFY(!box(3)->isEnabled());

        QTest::mouseClick(option(0), Qt::LeftButton);
        QVERIFY(checkToutes()->isEnabled());
        for (int i = 0; i < 18; ++i) {
            QVERIFY(box(i)->isEnabled());
            QCOMPARE(box(i)->isChecked(), i == 3 || i == 10);
        }
        const vornlog::RunChoices choices = window_->runChoices();
        QCOMPARE(choices.output, vornlog::Output::Report);
        for (int i = 0; i < 18; ++i) QCOMPARE(choices.keep[i], i == 3 || i == 10);
    }

    void commandRun_runsTheProcedure()
    {
        QTest::mouseClick(option(3), Qt::LeftButton);
        desktop_.fileAnswers = {"/tmp/essai.txt"};
        QTest::mouseClick(control<QPushButton>(QStringLiteral("CommandRun")), Qt::LeftButton);
        QCOMPARE(desktop_.dialogs.size(), 2u);
        QCOMPARE(qt(desktop_.dialogs[1].filter), QStringLiteral("Fichiers TXT (*.txt)|*.txt|"));
    }

    void commandEnd_closesTheWindow()
    {
        QTest::mouseClick(control<QPushButton>(QStringLiteral("CommandEnd")), Qt::LeftButton);
        QVERIFY(!window_->isVisible());
        QVERIFY(desktop_.messages.empty());
    }

    // Last: the translations stay installed for the rest of the run.
    void qtsOwnTexts_areFrench()
    {
        QVERIFY(vornlog::loadFrenchTranslations());
        QMessageBox question(QMessageBox::NoIcon, QStringLiteral("Tri"), QStringLiteral("?"),
                             QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.button(QMessageBox::Yes)->text().remove(u'&'), QStringLiteral("Oui"));
        QCOMPARE(question.button(QMessageBox::No)->text().remove(u'&'), QStringLiteral("Non"));

        // The capture dialog as the run procedure shows it: French labels
        // and buttons, and the USB capture files offered beside the text
        // files.
        vornlog::QtDesktop desktop;
        QStringList filters;
        QStringList texts;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            filters = dialog->nameFilters();
            for (const QLabel* label : dialog->findChildren<QLabel*>()) texts << label->text();
            for (const QPushButton* button : dialog->findChildren<QPushButton*>()) texts << button->text();
            dialog->reject();
        });
        vornlog::FileDialogRequest open;
        open.filter = "Fichiers TXT (*.txt)|*.txt|Captures USB (*.pcap *.pcapng)|*.pcap;*.pcapng|";
        open.initialName = "*.txt";
        QCOMPARE(desktop.chooseFile(open), std::string());
        QCOMPARE(filters, (QStringList{"Fichiers TXT (*.txt)", "Captures USB (*.pcap *.pcapng)"}));
        const QString all = texts.join(u'|').remove(u'&');
        QVERIFY2(all.contains(QStringLiteral("Annuler")), qPrintable(all));
        QVERIFY2(!all.contains(QStringLiteral("Cancel")), qPrintable(all));
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
