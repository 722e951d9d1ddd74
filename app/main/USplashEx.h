#pragma once
#include <QDialog>

namespace Ui {
class TfrmSplashEx;
}

// The about box.
class TfrmSplashEx : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSplashEx(QWidget* parent = nullptr);
    ~TfrmSplashEx() override;

    QString VersionText() const;

private:
    void FormCreate();

    Ui::TfrmSplashEx* ui;
};
