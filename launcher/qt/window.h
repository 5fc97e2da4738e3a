// The Qt drawing of the launcher's window: one widget for each control of
// the core's table; every user action goes to the core's LauncherWindow,
// whose control states the widgets then show.
#pragma once

#include <QWidget>

#include <vector>

#include "window_model.h"

class QAbstractButton;

namespace vornlog {

class Desktop;

class VornlogRun : public QWidget {
    Q_OBJECT

public:
    explicit VornlogRun(Desktop& desktop, QWidget* parent = nullptr);

    // What the run procedure is given when CommandRun is clicked.
    RunChoices runChoices() const { return window_.runChoices(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QWidget* create(const Control& control);
    void clicked(const Control& control, bool checked);
    // Shows the core's state of every control.
    void refresh();

    LauncherWindow window_;
    std::vector<QWidget*> widgets_; // one for each control of windowControls()
    QWidget* titre_ = nullptr;
};

} // namespace vornlog
