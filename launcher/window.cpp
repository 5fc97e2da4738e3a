#include "window.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "settings.h"

namespace vornlog {

namespace {

// The window is laid out in twips, 15 of them to a pixel at 96 dpi.
constexpr int twipsPerPixel = 15;

QRect twips(int left, int top, int width, int height)
{
    return {left / twipsPerPixel, top / twipsPerPixel, width / twipsPerPixel, height / twipsPerPixel};
}

// The client area, 8685 x 8505 twips.
constexpr int formWidth = 8685;
constexpr int formHeight = 8505;

// One line of 8-point text, and two.
constexpr int lineHeight = 255;
constexpr int twoLinesHeight = 495;

const QColor blue(0, 0, 255);
const QColor red(255, 0, 0);

struct InstructionBox {
    const char* caption; // UTF-8
    int column;          // 1 to 3
    int row;             // 1 to 6
};

// The CheckAGarder boxes, in the order of their instruction letters
// "VBDISTPMGOLZFREWCY".
constexpr InstructionBox instructionBoxes[] = {
    {"Version", 1, 1},
    {"Buffer", 1, 2},
    {"Data", 1, 3},
    {"Informations", 1, 4},
    {"Stop", 1, 5},
    {"Table", 1, 6},
    {"PWM", 2, 1},
    {"Motors", 2, 2},
    {"Géneral input/output", 2, 3},
    {"Override", 2, 4},
    {"LCD", 2, 5},
    {"Reset", 2, 6},
    {"Flash Model", 3, 1},
    {"Flash Read", 3, 2},
    {"Flash Block Erase", 3, 3},
    {"Flash Write", 3, 4},
    {"ZQ3107 Programmig", 3, 6},
    {"Flash Content", 3, 5},
};
static_assert(std::size(instructionBoxes) == instructionCount);

constexpr int boxColumns[] = {480, 3240, 6000};
constexpr int boxRows[] = {4200, 4560, 4920, 5280, 5640, 6000};
constexpr int boxWidth = 2655;

// A check box or option button that answers a click anywhere on its area,
// not only on its indicator and caption.
template <typename Button>
class WholeAreaButton : public Button {
public:
    using Button::Button;

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};

using CheckBox = WholeAreaButton<QCheckBox>;
using OptionButton = WholeAreaButton<QRadioButton>;

// An option button whose caption wraps onto as many lines as its height
// holds.
class WrappingOptionButton : public OptionButton {
public:
    using OptionButton::OptionButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        painter.drawControl(QStyle::CE_RadioButton, option);
        const QRect captionRect = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
        painter.drawItemText(captionRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, palette(), isEnabled(),
                             caption, QPalette::WindowText);
    }
};

QLabel* label(QWidget* parent, const char* name, const QString& text, QRect geometry, const QColor* colour)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setWordWrap(true);
    if (colour) {
        QPalette palette = l->palette();
        palette.setColor(QPalette::WindowText, *colour);
        l->setPalette(palette);
    }
    return l;
}

} // namespace

VornlogRun::VornlogRun(Desktop& desktop, QWidget* parent) : QWidget(parent), desktop_(desktop)
{
    setObjectName(QStringLiteral("VornlogRun"));
    setWindowTitle(QStringLiteral("Vornlog launcher"));
    // The window's own font; the systems without it get the nearest sans.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed")});
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(formWidth / twipsPerPixel, formHeight / twipsPerPixel);
    setMouseTracking(true);

    LabelTitre = label(this, "LabelTitre", QStringLiteral("Lancement du programme DOS VORNLOG"),
                       twips(1560, 360, 5415, 375), &blue);
    LabelTitre->setFont(QFont(QStringLiteral("MS Sans Serif"), 12, QFont::Bold));
    LabelTitre->setToolTip(QStringLiteral("Version 1.0.0"));
    LabelTitre->setMouseTracking(true);
    LabelTitre->installEventFilter(this);

    LabelInfo = label(this, "LabelInfo", QString(), twips(2760, 840, 3375, twoLinesHeight), &blue);
    LabelInfo->hide();

    LabelDirective[0] = label(this, "LabelDirective0",
                              QStringLiteral("Le programme Vornlog.exe ainsi que les fichiers lus et enregistrés doivent "
                                             "être dans un même répertoire"),
                              twips(480, 1560, 8055, lineHeight), &red);
    LabelDirective[1] = label(this, "LabelDirective1",
                              QStringLiteral("Les noms des fichiers ne doivent pas comporter d'espaces"),
                              twips(360, 1800, 8055, lineHeight), &red);

    OptionParam[0] = new OptionButton(QStringLiteral("Fichier de sortie  en format .txt"), this);
    OptionParam[0]->setGeometry(twips(2160, 2400, 6015, lineHeight));
    OptionParam[1] = new WrappingOptionButton(
        QStringLiteral("Fichier de sortie en format CVS qui permet d'extraire les informations des pas, accélération, "
                       "PWM, % du buffer, ..."),
        this);
    OptionParam[1]->setGeometry(twips(2160, 3000, 6015, twoLinesHeight));
    OptionParam[1]->setToolTip(QStringLiteral("Le fichier sera ouvert sous Excel"));
    OptionParam[0]->setChecked(true);
    for (int i = 0; i < 2; ++i) {
        OptionParam[i]->setObjectName(QStringLiteral("OptionParam%1").arg(i));
        connect(OptionParam[i], &QRadioButton::clicked, this, [this, i] { OptionParam_Click(i); });
    }

    for (std::size_t i = 0; i < instructionCount; ++i) {
        const InstructionBox& box = instructionBoxes[i];
        CheckAGarder[i] = new CheckBox(QString::fromUtf8(box.caption), this);
        CheckAGarder[i]->setObjectName(QStringLiteral("CheckAGarder%1").arg(i));
        CheckAGarder[i]->setGeometry(twips(boxColumns[box.column - 1], boxRows[box.row - 1], boxWidth, lineHeight));
    }

    LabelTri = label(this, "LabelTri",
                     QStringLiteral("Cochez les instructions que vous voulez conserver dans le fichier trié"),
                     twips(480, 6600, 2775, twoLinesHeight), nullptr);

    CheckToutes = new CheckBox(QStringLiteral("Garder toutes les instructions"), this);
    CheckToutes->setObjectName(QStringLiteral("CheckToutes"));
    CheckToutes->setGeometry(twips(4800, 6720, 2655, lineHeight));
    connect(CheckToutes, &QCheckBox::clicked, this, [this] { CheckToutes_Click(); });

    CommandRun = new QPushButton(QStringLiteral("Lancer Vornlog"), this);
    CommandRun->setObjectName(QStringLiteral("CommandRun"));
    CommandRun->setGeometry(twips(3480, 7680, 1695, twoLinesHeight));
    connect(CommandRun, &QPushButton::clicked, this, [this] { CommandRun_Click(); });

    CommandEnd = new QPushButton(QStringLiteral("Fin"), this);
    CommandEnd->setObjectName(QStringLiteral("CommandEnd"));
    CommandEnd->setGeometry(twips(6960, 8040, 1215, 375));
    connect(CommandEnd, &QPushButton::clicked, this, [this] { CommandEnd_Click(); });

    // Tab order: CommandRun first, CommandEnd second, then the rest from
    // top to bottom.
    QWidget* previous = CommandRun;
    const auto chain = [&previous](QWidget* next) {
        setTabOrder(previous, next);
        previous = next;
    };
    chain(CommandEnd);
    chain(OptionParam[0]);
    chain(OptionParam[1]);
    for (QCheckBox* box : CheckAGarder) chain(box);
    chain(CheckToutes);
    CommandRun->setFocus();

    Form_Load();
}

RunChoices VornlogRun::runChoices() const
{
    RunChoices choices;
    choices.output = OptionParam[0]->isChecked() ? Output::Report : Output::StepsCsv;
    for (std::size_t i = 0; i < instructionCount; ++i) choices.keep[i] = CheckAGarder[i]->isChecked();
    choices.decoder = locateDecoder(QCoreApplication::applicationDirPath());
    return choices;
}

bool VornlogRun::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == LabelTitre) {
        if (event->type() == QEvent::MouseMove) {
            LabelTitre_MouseMove();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && LabelTitre->rect().contains(mouse->position().toPoint()))
                LabelTitre_Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void VornlogRun::mouseMoveEvent(QMouseEvent* event)
{
    // A move over a control that does not handle it reaches the window
    // too; only the bare window counts as its background.
    if (!childAt(event->position().toPoint())) Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

void VornlogRun::Form_Load()
{
    LabelInfo->setText(QStringLiteral("Bug Repport : ") + settings::contactAddress + QStringLiteral(" - Vesion ") +
                       settings::versionText() + QStringLiteral(" du ") + QStringLiteral("6 juin 2012"));
}

void VornlogRun::LabelTitre_MouseMove()
{
    LabelInfo->setVisible(true);
}

void VornlogRun::Form_MouseMove()
{
    LabelInfo->setVisible(false);
}

void VornlogRun::LabelTitre_Click()
{
    desktop_.showMessage({QStringLiteral("Programmation : ") + settings::authorName + QStringLiteral("\r\n\r\n") +
                              QStringLiteral("Contact : ") + settings::contactAddress,
                          QStringLiteral("Bug repport"), MessageRequest::Icon::Information, MessageRequest::Buttons::Ok});
}

void VornlogRun::CheckToutes_Click()
{
    const bool all = CheckToutes->isChecked();
    for (QCheckBox* box : CheckAGarder) box->setChecked(all);
}

void VornlogRun::OptionParam_Click(int index)
{
    // The boxes only matter for the sorted copy of a report; they keep
    // their states while greyed.
    const bool report = index == 0;
    for (QCheckBox* box : CheckAGarder) box->setEnabled(report);
    CheckToutes->setEnabled(report);
}

void VornlogRun::CommandRun_Click()
{
    vornlog::CommandRun_Click(desktop_, runChoices());
}

void VornlogRun::CommandEnd_Click()
{
    close();
}

} // namespace vornlog
