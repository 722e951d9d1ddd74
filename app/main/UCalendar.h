#pragma once
#include <QWidget>

class QCalendarWidget;

namespace Ui {
class TfrmCalendar;
}

// The month calendar kept beside the main window (F6). Closing it only
// hides it; it keeps its state for the rest of the run.
class TfrmCalendar : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCalendar(QWidget* parent = nullptr);
    ~TfrmCalendar() override;

    QCalendarWidget* myCalend() const;

public slots:
    void myCalendDblClick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();

    Ui::TfrmCalendar* ui;
};
