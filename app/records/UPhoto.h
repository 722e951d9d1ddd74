#pragma once
// The photo slots of a patient: 21 numbered thumbnails (FPHOTO rows, files in
// PhotoDir), the selected photo at full size, add / replace / delete, reorder
// by drag and drop, and the print queue of the photo sheets.
// Added files are copied byte for byte into PhotoDir (written under a
// temporary name, then given its name only while no file has it, so two
// workstations adding photos of one name at once keep a file each); a
// different file already stored under the same name, a name some FPHOTO row
// holds already (its file may be missing, say not copied back after a
// restore), or a name longer than the PHOTO column, gives the copy a free
// name of its own, which is the one recorded. Rows are written for a patient
// still in the patient file only.
// Letters the table's code page lacks are replaced in that name (the
// letter without its accent, else "_"), so the row and the file agree.
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QStringList>

#include <array>
#include <memory>

namespace Ui {
class TfrmPhoto;
}

class QStatusBar;
class QToolButton;
class QAction;
struct AppContext;

// One thumbnail: the picture as shown and the file's name inside PhotoDir.
class TPhotoSlot : public QLabel {
    Q_OBJECT
public:
    explicit TPhotoSlot(QWidget* parent = nullptr);
    // The slot's number, from its name ImageN.
    int Tag() const { return objectName().mid(5).toInt(); }
    QString FileName;
    bool HasPicture() const { return !pixmap().isNull(); }
    void SetPicture(const QImage& image);
    void Clear();

signals:
    void clicked(TPhotoSlot* slot);
    void dropped(TPhotoSlot* target, TPhotoSlot* source);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPoint pressPos_;
    bool pressed_ = false;
};

class TfrmPhoto : public QDialog {
    Q_OBJECT
public:
    explicit TfrmPhoto(AppContext& context, QWidget* parent = nullptr);
    ~TfrmPhoto() override;

    static constexpr int kSlots = 21;
    static constexpr int kNameWidth = 60;  // the PHOTO column
    static const QSize kThumbSize;

    // The thumbnail of slot n (1 to 21).
    TPhotoSlot* Image(int n) const { return slots_[n - 1]; }
    QLabel* ImageX() const { return imageX_; }
    QLabel* lName() const { return lName_; }
    QStatusBar* stBar() const { return stBar_; }
    QString StatusPanel(int n) const;
    QToolButton* btnDelete() const { return btnDelete_; }
    QToolButton* btnPost() const { return btnPost_; }
    QToolButton* btnCancel() const { return btnCancel_; }
    QToolButton* btnPrint() const { return btnPrint_; }
    TPhotoSlot* SelectedImage() const { return selected_; }
    QString SelectedPhotoName;
    bool PhotosModified = false;
    // The print queue: file names inside PhotoDir, without duplicates, all of
    // the current patient (choosing another patient empties it).
    QStringList PrintList;

    TPhotoSlot* FindImage(const QString& name) const;
    TPhotoSlot* FirstFreeImage() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void btnAddClick();
    void btnDeleteClick();
    void btnPostClick();
    void btnCancelClick();
    void btnGetPatientClick();
    void btnPatientClick();
    void btnAddtoPrintClick();
    void mnDelFromSpoolClick();
    void mnDelAllClick();
    void btnPrintClick();
    void Image1Click(TPhotoSlot* slot);
    void Image1DragDrop(TPhotoSlot* target, TPhotoSlot* source);

    void UpdateButtons();
    void SavePhotos();
    // The row of a slot written (the one it had replaced): empty, or the
    // message when the patient was deleted meanwhile and nothing was written.
    QString WritePhotoRow(int slot, const QString& name);
    void LoadPhotos();
    void ShowPatient();

private:
    void BuildLayout();  // the form, its buttons, slots and popup menu wired
    void ShowQueueSize();
    // Shows the photo file in the big view; true when it decoded only in part.
    bool ShowBigPicture(const QString& path);
    // The picture file to add: the context's step, or the picture-open
    // dialog; empty when cancelled.
    QString ChoosePicture();
    // Copies the file into PhotoDir; the name it is stored under, empty on
    // failure with the French reason in failure (naming the folder).
    // *copied: a new file was made (not one holding these bytes already).
    QString StorePhoto(const QString& source, QString& failure, bool* copied);

    AppContext& context_;
    std::unique_ptr<Ui::TfrmPhoto> ui;
    std::array<TPhotoSlot*, kSlots> slots_{};
    std::array<TPhotoSlot*, kSlots> containerOrder_{};
    TPhotoSlot* selected_ = nullptr;
    QString bigPath_;  // the file the big view shows
    QLabel* imageX_ = nullptr;
    QLabel* lName_ = nullptr;
    QWidget* sqShape_ = nullptr;
    QStatusBar* stBar_ = nullptr;
    std::array<QLabel*, 3> panels_{};
    QToolButton* btnDelete_ = nullptr;
    QToolButton* btnPost_ = nullptr;
    QToolButton* btnCancel_ = nullptr;
    QToolButton* btnPrint_ = nullptr;
    QAction* mnPost_ = nullptr;
    QAction* mnCancel_ = nullptr;
};
