// The launcher's window, "Feuille VornlogRun": the choice of output, the
// instruction boxes of the sorted copy and the button that runs the decoder.
#pragma once

#include <QWidget>

#include <array>

#include "run_procedure.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace vornlog {

class Desktop;

class VornlogRun : public QWidget {
    Q_OBJECT

public:
    explicit VornlogRun(Desktop& desktop, QWidget* parent = nullptr);

    // What the run procedure is given when CommandRun is clicked.
    RunChoices runChoices() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void Form_Load();
    void LabelTitre_MouseMove();
    void Form_MouseMove();
    void LabelTitre_Click();
    void CheckToutes_Click();
    void OptionParam_Click(int index);
    void CommandRun_Click();
    void CommandEnd_Click();

    Desktop& desktop_;
    QLabel* LabelTitre;
    QLabel* LabelInfo;
    std::array<QLabel*, 2> LabelDirective;
    std::array<QRadioButton*, 2> OptionParam;
    std::array<QCheckBox*, instructionCount> CheckAGarder;
    QLabel* LabelTri;
    QCheckBox* CheckToutes;
    QPushButton* CommandRun;
    QPushButton* CommandEnd;
};

} // namespace vornlog
