#include "window.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

#include "text.h"

namespace vornlog {

namespace {

QRect pixels(const Place& place)
{
    return {place.left / twipsPerPixel, place.top / twipsPerPixel, place.width / twipsPerPixel,
            place.height / twipsPerPixel};
}

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

// An option button whose caption wraps onto as many lines as its height
// holds.
class OptionButton : public WholeAreaButton<QRadioButton> {
public:
    using WholeAreaButton::WholeAreaButton;

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

QFont fontOf(const Control& control)
{
    QFont font(qt(fontFace), control.points);
    font.setBold(control.bold);
    return font;
}

} // namespace

VornlogRun::VornlogRun(Desktop& desktop, QWidget* parent)
    : QWidget(parent), window_(desktop, utf8(QCoreApplication::applicationDirPath()))
{
    const WindowFrame& frame = windowFrame();
    setObjectName(QStringLiteral("VornlogRun"));
    setWindowTitle(qt(frame.caption));
    // The window's own font; the systems without it get the nearest sans.
    QStringList substitutes;
    for (std::string_view face : fontSubstitutes) substitutes << qt(face);
    QFont::insertSubstitutions(qt(fontFace), substitutes);
    setFont(QFont(qt(fontFace), fontPoints));
    setFixedSize(frame.width / twipsPerPixel, frame.height / twipsPerPixel);
    setMouseTracking(true);

    for (const Control& control : windowControls()) widgets_.push_back(create(control));

    // The tab order of the table.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < windowControls().size(); ++i)
        if (windowControls()[i].tabIndex >= 0) order.push_back(i);
    std::sort(order.begin(), order.end(),
              [](std::size_t a, std::size_t b) { return windowControls()[a].tabIndex < windowControls()[b].tabIndex; });
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(widgets_[order[i - 1]], widgets_[order[i]]);
    if (!order.empty()) widgets_[order[0]]->setFocus();

    refresh();
}

QWidget* VornlogRun::create(const Control& control)
{
    QWidget* widget = nullptr;
    const QString text = qt(control.text);
    switch (control.kind) {
    case ControlKind::Label: {
        auto* label = new QLabel(text, this);
        label->setAlignment((control.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        label->setWordWrap(true);
        widget = label;
        break;
    }
    case ControlKind::CheckBox: {
        auto* box = new CheckBox(text, this);
        connect(box, &QCheckBox::clicked, this, [this, &control](bool checked) { clicked(control, checked); });
        widget = box;
        break;
    }
    case ControlKind::OptionButton: {
        auto* option = new OptionButton(text, this);
        connect(option, &QRadioButton::clicked, this, [this, &control](bool checked) { clicked(control, checked); });
        widget = option;
        break;
    }
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, this);
        connect(button, &QPushButton::clicked, this, [this, &control](bool checked) { clicked(control, checked); });
        widget = button;
        break;
    }
    }
    widget->setObjectName(qt(control.objectName()));
    widget->setGeometry(pixels(control.place));
    widget->setToolTip(qt(control.tooltip));
    widget->setFont(fontOf(control));
    if (control.colour) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, QColor(control.colour->red, control.colour->green, control.colour->blue));
        widget->setPalette(palette);
    }
    if (control.kind == ControlKind::Label) widget->setFocusPolicy(Qt::NoFocus);
    if (control.role == Role::LabelTitre) {
        titre_ = widget;
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
    }
    return widget;
}

void VornlogRun::clicked(const Control& control, bool checked)
{
    switch (control.role) {
    case Role::CheckToutes: window_.CheckToutes_Click(checked); break;
    case Role::CheckAGarder: window_.CheckAGarder_Click(control.index, checked); break;
    case Role::OptionParam: window_.OptionParam_Click(control.index); break;
    case Role::CommandRun: window_.CommandRun_Click(); break;
    case Role::CommandEnd: close(); return;
    default: break;
    }
    refresh();
}

void VornlogRun::refresh()
{
    const std::vector<Control>& controls = windowControls();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlState& state = window_.state(i);
        QWidget* widget = widgets_[i];
        if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(qt(state.text));
        if (auto* button = qobject_cast<QAbstractButton*>(widget); button && button->isCheckable())
            button->setChecked(state.checked);
        widget->setEnabled(state.enabled);
        // Only the controls the core hides or shows; a hidden window keeps
        // its children's visibility to itself.
        widget->setVisible(state.visible);
    }
}

bool VornlogRun::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == titre_) {
        if (event->type() == QEvent::MouseMove) {
            window_.LabelTitre_MouseMove();
            refresh();
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && titre_->rect().contains(mouse->position().toPoint()))
                window_.LabelTitre_Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void VornlogRun::mouseMoveEvent(QMouseEvent* event)
{
    // A move over a control that does not handle it reaches the window
    // too; only the bare window counts as its background.
    if (!childAt(event->position().toPoint())) {
        window_.Form_MouseMove();
        refresh();
    }
    QWidget::mouseMoveEvent(event);
}

} // namespace vornlog
