#pragma once
// Viewer of one photo of the consultation screen: the whole picture, reduced
// to fit the window (640 x 480 at most at first) with its proportions kept,
// and fitted again when the window is resized; never enlarged.
#include <QDialog>
#include <QPixmap>

class QLabel;
class QScrollArea;

class TfrmImage : public QDialog {
    Q_OBJECT
public:
    TfrmImage(const QPixmap& picture, const QString& patient, QWidget* parent = nullptr);
    QLabel* xImage() const { return xImage_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitPicture();

    QPixmap picture_;
    QLabel* xImage_;
    QScrollArea* box_;
};
