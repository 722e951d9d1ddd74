#pragma once
// Pick list of earlier values (reasons, diagnoses, treatments): one column
// under its title row, filled from the first field of each row of SQL;
// a double-click or OK chooses the selected cell, whose trimmed text is
// Selected. The window keeps its position between uses.
#include <QDialog>

class QTableWidget;

class TfrmGetOldInfos : public QDialog {
    Q_OBJECT
public:
    explicit TfrmGetOldInfos(QWidget* parent = nullptr);

    QString Title;
    QString SQL;
    QString Selected;

    QTableWidget* grid() const { return grid_; }

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();

    QTableWidget* grid_;
};
