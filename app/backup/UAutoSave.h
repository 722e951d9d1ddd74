#pragma once
// The automatic backup at close: a small borderless window with a progress
// bar while the tables are written to the folder of the weekday inside the
// data directory, in the next of ten slots.
#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class TZipArchiver;
struct AppContext;

namespace backup {
class Progress;
}

namespace Ui {
class TfrmAutoSave;
}

class TfrmAutoSave : public QWidget {
    Q_OBJECT
public:
    explicit TfrmAutoSave(AppContext& context, QWidget* parent = nullptr);
    ~TfrmAutoSave() override;

    // The archive base name of a program file: its name up to its first
    // "."; the whole name when it has none.
    static QString ArchiveBaseName(const QString& programFile);
    // The slot (0 to 9) the next backup of `folder` takes.
    static int ChooseSlot(const QString& folder, const QString& base);
    static QString SlotName(const QString& folder, const QString& base, int slot);

    QString BaseName() const { return base_; }
    QProgressBar* pBar() const;
    QLabel* lPbar() const;
    TZipArchiver* ZipArchiver1() const { return zip_.get(); }

    // The backup. A weekday folder that cannot be made raises the silent
    // abort (after its message); false when the archive was not written.
    bool DoAutoSave();

private:
    AppContext& context_;
    Ui::TfrmAutoSave* ui;
    QString base_;
    std::unique_ptr<TZipArchiver> zip_;
    std::unique_ptr<backup::Progress> progress_;
};

// Shows the window, runs the backup and frees the window (the main
// window's close step).
void RunAutoSave(AppContext& context, QWidget* owner);
