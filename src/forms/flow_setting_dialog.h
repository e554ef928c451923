#pragma once
// TForm5, the flow-setting dialog: the wizard shows it at each measuring step
// with the flow to set on the bench; the operator watches the installed
// meters' flow on the chart until it is steady and presses "Пуск".

#include "flow_chart.h"
#include "messages.h"

class QLabel;
class QPushButton;

class TForm5 : public FlowChartWindow {
    Q_OBJECT

public:
    explicit TForm5(DeviceLink& link, QWidget* parent = nullptr);

    // The flow to be set, as the caller formats it (e.g. "12,500 м3/ч").
    void SetVolLabelText(const QString& text);
    QString VolLabelText() const;
    // Shows the dialog modally: Ok after "Пуск", Cancel after "Отмена", Esc
    // or closing the window.
    ModalResult ShowModal();

public slots:
    void BitBtn1Click();
    void Timer1Timer() override;

private:
    QLabel* Label1 = nullptr;
    QLabel* VolLabel = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
};
