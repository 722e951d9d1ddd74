#pragma once
#include <QWidget>

namespace Ui {
class TfrmSplash;
}

// The window shown while the program starts.
class TfrmSplash : public QWidget {
    Q_OBJECT
public:
    explicit TfrmSplash(QWidget* parent = nullptr);
    ~TfrmSplash() override;

    QString VersionText() const;

    // Shows the splash window for that many milliseconds while the event
    // loop runs, so that it paints and repaints whenever the window system
    // asks, then frees it.
    static void ShowDuring(int milliseconds);

private:
    void FormCreate();

    Ui::TfrmSplash* ui;
};
