#pragma once
// The detail-text editor of an operative protocol: the rich text of
// ProtDir + FileName ("PROT<NUM>.RTF"), with font, size, bold, italic and
// underline for the selection, an explicit save, and a save of pending
// changes whenever the editor closes. A save that fails keeps the editor
// open with its text and says why. A file that could be read only in part
// is shown with a warning, and is kept under another name
// ("PROT<NUM>_ENDOMMAGE.RTF") before the first save replaces it.
#include <QDialog>

class QComboBox;
class QTextEdit;
class QToolButton;
class QPushButton;
struct AppContext;

namespace Ui {
class TfrmProtText;
}

class TfrmProtText : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProtText(AppContext& context, QWidget* parent = nullptr);
    ~TfrmProtText() override;

    // The file's name inside ProtDir, set by the caller before showing.
    QString FileName;

    QTextEdit* RichDesc() const;
    QComboBox* cmbFont() const;
    QComboBox* cmbSize() const;
    QToolButton* btnGras() const;
    QToolButton* btnItalic() const;
    QToolButton* btnSouligne() const;
    QToolButton* btnSave() const;
    QPushButton* BitBtn1() const;

    // The first item equal to the text (letters a to z compared without
    // regard to case) becomes the combo's item; none: the combo keeps its
    // item.
    static void SelectComboItem(QComboBox* combo, const QString& text);

public slots:
    void cmbFontChange();
    void cmbSizeChange();
    void btnGrasClick();
    void btnItalicClick();
    void btnSouligneClick();
    void RichDescSelectionChange();
    void RichDescChange();
    // True when the text was written.
    bool btnSaveClick();

protected:
    void showEvent(QShowEvent* event) override;

public:
    void reject() override;

private:
    void FormShow();
    bool WriteFile();
    void MergeFormat(const class QTextCharFormat& format);
    bool KeepDamagedFile();

    AppContext& context_;
    Ui::TfrmProtText* ui;
    // The file shown was read only in part and is not yet kept aside.
    bool damaged_ = false;
};
