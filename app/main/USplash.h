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

private:
    void FormCreate();

    Ui::TfrmSplash* ui;
};
