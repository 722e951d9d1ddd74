#pragma once
// Viewer of one photo of the consultation screen, sized to the picture
// within its 640 x 480.
#include <QDialog>
#include <QPixmap>

class QLabel;

class TfrmImage : public QDialog {
    Q_OBJECT
public:
    TfrmImage(const QPixmap& picture, const QString& patient, QWidget* parent = nullptr);
    QLabel* xImage() const { return xImage_; }

private:
    QLabel* xImage_;
};
