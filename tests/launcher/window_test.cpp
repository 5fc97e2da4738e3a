// The window: its controls as they open, the information line, the about
// box, checking all the boxes and the choice of output.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "fake_desktop.h"
#include "settings.h"
#include "window.h"

using vornlog::MessageRequest;

namespace {

const char* const captions[] = {
    "Version", "Buffer", "Data",      "Informations", "Stop",        "Table",
    "PWM",     "Motors", "Géneral input/output",      "Override",    "LCD",
    "Reset",   "Flash Model", "Flash Read", "Flash Block Erase", "Flash Write", "ZQ3107 Programmig", "Flash Content",
};

} // namespace

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

    // Where a control lies in the window, in twips.
    QPoint twipsOf(const QWidget* w) const { return w->pos() * 15; }

private slots:
    void init()
    {
        desktop_ = FakeDesktop();
        window_ = std::make_unique<vornlog::VornlogRun>(desktop_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() { window_.reset(); }

    void opensWithEveryControlInItsInitialState()
    {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Vornlog launcher"));
        QCOMPARE(window_->size(), QSize(579, 567));

        auto* titre = control<QLabel>(QStringLiteral("LabelTitre"));
        QCOMPARE(titre->text(), QStringLiteral("Lancement du programme DOS VORNLOG"));
        QCOMPARE(titre->toolTip(), QStringLiteral("Version 1.0.0"));
        QVERIFY(titre->font().bold());
        QCOMPARE(titre->font().pointSize(), 12);
        QCOMPARE(titre->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(twipsOf(titre), QPoint(1560, 360));

        QVERIFY(labelInfo()->isHidden());
        QCOMPARE(labelInfo()->text(), QStringLiteral("Bug Repport : ") + vornlog::settings::contactAddress +
                                          QStringLiteral(" - Vesion " VORNLOG_PROJECT_VERSION " du 6 juin 2012"));
        QCOMPARE(labelInfo()->palette().color(QPalette::WindowText), QColor(Qt::blue));

        auto* directive0 = control<QLabel>(QStringLiteral("LabelDirective0"));
        auto* directive1 = control<QLabel>(QStringLiteral("LabelDirective1"));
        QCOMPARE(directive0->text(), QStringLiteral("Le programme Vornlog.exe ainsi que les fichiers lus et enregistrés "
                                                    "doivent être dans un même répertoire"));
        QCOMPARE(directive1->text(), QStringLiteral("Les noms des fichiers ne doivent pas comporter d'espaces"));
        QCOMPARE(directive0->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(directive1->palette().color(QPalette::WindowText), QColor(Qt::red));

        QCOMPARE(option(0)->text(), QStringLiteral("Fichier de sortie  en format .txt"));
        QCOMPARE(option(1)->text(), QStringLiteral("Fichier de sortie en format CVS qui permet d'extraire les "
                                                   "informations des pas, accélération, PWM, % du buffer, ..."));
        QCOMPARE(option(1)->toolTip(), QStringLiteral("Le fichier sera ouvert sous Excel"));
        QVERIFY(option(0)->isChecked());
        QVERIFY(!option(1)->isChecked());
        QVERIFY(option(1)->height() >= 2 * option(0)->height() - 2);

        // Three columns of six rows, in the order of "VBDISTPMGOLZFREWCY",
        // with Flash Content above ZQ3107 Programmig.
        for (int i = 0; i < 18; ++i) {
            QCOMPARE(box(i)->text(), QString::fromUtf8(captions[i]));
            QVERIFY(!box(i)->isChecked());
            QVERIFY(box(i)->isEnabled());
        }
        QCOMPARE(twipsOf(box(0)), QPoint(480, 4200));
        QCOMPARE(twipsOf(box(11)), QPoint(3240, 6000));
        QCOMPARE(twipsOf(box(16)), QPoint(6000, 6000));
        QCOMPARE(twipsOf(box(17)), QPoint(6000, 5640));

        QCOMPARE(control<QLabel>(QStringLiteral("LabelTri"))->text(),
                 QStringLiteral("Cochez les instructions que vous voulez conserver dans le fichier trié"));
        QCOMPARE(checkToutes()->text(), QStringLiteral("Garder toutes les instructions"));
        QVERIFY(!checkToutes()->isChecked());

        auto* run = control<QPushButton>(QStringLiteral("CommandRun"));
        auto* end = control<QPushButton>(QStringLiteral("CommandEnd"));
        QCOMPARE(run->text(), QStringLiteral("Lancer Vornlog"));
        QCOMPARE(end->text(), QStringLiteral("Fin"));
        QCOMPARE(twipsOf(end), QPoint(6960, 8040));
        // First and second in the tab order.
        QApplication::setActiveWindow(window_.get());
        QVERIFY(QTest::qWaitForWindowActive(window_.get()));
        QCOMPARE(QApplication::focusWidget(), run);
        QCOMPARE(run->nextInFocusChain(), end);
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
        QCOMPARE(desktop_.messages.size(), 1);
        const MessageRequest& about = desktop_.messages[0];
        QCOMPARE(about.title, QStringLiteral("Bug repport"));
        QCOMPARE(about.text, QStringLiteral("Programmation : ") + vornlog::settings::authorName +
                                 QStringLiteral("\r\n\r\nContact : ") + vornlog::settings::contactAddress);
        QCOMPARE(about.icon, MessageRequest::Icon::Information);
        QCOMPARE(about.buttons, MessageRequest::Buttons::Ok);
    }

    void checkToutes_setsEveryBoxToItsOwnState()
    {
        QTest::mouseClick(box(2), Qt::LeftButton);
        QTest::mouseClick(box(17), Qt::LeftButton);
        QVERIFY(box(2)->isChecked() && box(17)->isChecked());

        QTest::mouseClick(checkToutes(), Qt::LeftButton);
        for (int i = 0; i < 18; ++i) QVERIFY2(box(i)->isChecked(), qPrintable(box(i)->text()));
        // A single box afterwards leaves CheckToutes alone.
        QTest::mouseClick(box(5), Qt::LeftButton);
        QVERIFY(checkToutes()->isChecked());

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

    void commandRun_runsTheProcedureWithTheWindowsChoices()
    {
        // A decoder on PATH (the tests' folder holds none).
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
#ifdef Q_OS_WIN
        const QString decoder = dir.filePath(QStringLiteral("vornlog.exe"));
#else
        const QString decoder = dir.filePath(QStringLiteral("vornlog"));
#endif
        QFile file(decoder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser));
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QDir::toNativeSeparators(dir.path()).toLocal8Bit() + QDir::listSeparator().toLatin1() + oldPath);

        QTest::mouseClick(option(1), Qt::LeftButton);
        desktop_.fileAnswers = {dir.filePath(QStringLiteral("essai.txt")), dir.filePath(QStringLiteral("pas.csv"))};
        QTest::mouseClick(control<QPushButton>(QStringLiteral("CommandRun")), Qt::LeftButton);
        qputenv("PATH", oldPath);

        QCOMPARE(desktop_.dialogs.size(), 2);
        QCOMPARE(desktop_.dialogs[1].initialName, QStringLiteral("*.csv"));
        QCOMPARE(desktop_.started.size(), 1);
        QCOMPARE(QFileInfo(desktop_.started[0].program), QFileInfo(decoder));
        QCOMPARE(desktop_.started[0].arguments, (QStringList{"-s", "essai.txt", "pas.csv"}));
    }

    void commandEnd_closesTheWindow()
    {
        QTest::mouseClick(control<QPushButton>(QStringLiteral("CommandEnd")), Qt::LeftButton);
        QVERIFY(!window_->isVisible());
        QVERIFY(desktop_.messages.isEmpty());
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
