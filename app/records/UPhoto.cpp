#include "UPhoto.h"
#include "ui_UPhoto.h"

#include "OtherWorkstation.h"
#include "RecordsCommon.h"
#include "UGetPatient.h"
#include "UPatient.h"
#include "app/global/AppContext.h"
#include "app/global/global.h"
#include "app/reports/ReportCommon.h"
#include "app/reports/URptPhotos.h"
#include "platform/db/core/Codepage.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/os/Files.h"
#include "platform/ui/Messages.h"
#include "platform/ui/ScreenKeys.h"
#include "platform/ui/Picture.h"
#include "platform/ui/WaitCursor.h"

#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <QStorageInfo>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QToolButton>

const QSize TfrmPhoto::kThumbSize(51, 56);

namespace {

// A thumbnail is read at a size that covers its slot for the proportions of
// photos (up to four to one), then stretched over the slot: never enlarged
// from a smaller copy.
const QSize kThumbRead(4 * 56, 4 * 56);

const char* kDragMime = "application/x-korvale-photo-slot";

// The selection frame: a red dotted rectangle 2 pixels wide.
class SelectionFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(QPen(Qt::red, 2, Qt::DotLine));
        p.drawRect(rect().adjusted(1, 1, -1, -1));
    }
};

// A file name the table can hold in its code page: a letter the code page
// lacks is written without its accent, or as its nearest Latin letter, or
// as "_".
QString StorableName(const QString& name, int codePage)
{
    return kdb::storableText(codePage, name, QLatin1Char('_'));
}

// Why a copy into the photo folder failed, naming the folder.
QString CopyFailure(const QString& folder, qint64 bytes)
{
    const QString where = QDir::toNativeSeparators(folder);
    const QFileInfo dir(folder);
    QString why;
    if (!dir.isDir())
        why = QStringLiteral("le dossier des photos « %1 » n'existe pas").arg(where);
    else if (!dir.isWritable())
        why = QStringLiteral("le dossier des photos « %1 » est en lecture seule").arg(where);
    else if (const QStorageInfo disk(folder); disk.isValid() && disk.bytesAvailable() < bytes)
        why = QStringLiteral("le disque du dossier des photos « %1 » est plein").arg(where);
    else
        why = QStringLiteral("l'écriture dans le dossier des photos « %1 » a échoué").arg(where);
    return QStringLiteral("La photo n'a pas été ajoutée : ") + why + QLatin1Char('.');
}

bool SameBytes(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    return true;
}

void ExecSql(const QString& sql, std::initializer_list<std::pair<const char*, QString>> params)
{
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql(sql);
    for (const auto& [name, value] : params)
        q.setParamText(name, value);
    q.execSql();
}

// The query `Patient` on the current patient.
void OpenPatient(kdb::QueryDataset& patient)
{
    patient.setDatabaseName(DataPath.toStdString());
    patient.setSql(QStringLiteral("SELECT * FROM PATIENT\nWHERE CODE=:MyPatient"));
    patient.setParamText("MyPatient", CurrentPatientCode);
    patient.open();
}

void InsertPhotoRow(int slot, const QString& name)
{
    ExecSql(QStringLiteral("INSERT INTO FPHOTO  (CODE, NUM, PHOTO) VALUES (:CODE, :NUM, :PHOTO)"),
        {{"CODE", CurrentPatientCode}, {"NUM", QString::number(slot)}, {"PHOTO", name}});
}

}  // namespace

// ---------------------------------------------------------------------------
// A thumbnail.

TPhotoSlot::TPhotoSlot(QWidget* parent) : QLabel(parent)
{
    setFixedSize(TfrmPhoto::kThumbSize);
    setAlignment(Qt::AlignCenter);
    setAcceptDrops(true);
}

// The picture stretched over the whole slot.
void TPhotoSlot::SetPicture(const QImage& image)
{
    setPixmap(QPixmap::fromImage(image.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void TPhotoSlot::Clear()
{
    clear();
    FileName.clear();
}

void TPhotoSlot::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        pressPos_ = event->position().toPoint();
        emit clicked(this);
    }
}

void TPhotoSlot::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressed_ || !(event->buttons() & Qt::LeftButton) || !HasPicture())
        return;
    if ((event->position().toPoint() - pressPos_).manhattanLength() < 40)
        return;
    pressed_ = false;
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setData(kDragMime, objectName().toUtf8());
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
}

void TPhotoSlot::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasFormat(kDragMime))
        event->acceptProposedAction();
}

void TPhotoSlot::dropEvent(QDropEvent* event)
{
    auto* source = qobject_cast<TPhotoSlot*>(event->source());
    if (!source)
        return;
    event->acceptProposedAction();
    emit dropped(this, source);
}

// ---------------------------------------------------------------------------
// The screen.

TfrmPhoto::TfrmPhoto(AppContext& context, QWidget* parent)
    : QDialog(parent), context_(context), ui(std::make_unique<Ui::TfrmPhoto>())
{
    BuildLayout();
    kui::EscapeDoesNothing(this);  // no cancel button: Esc does nothing
    // FormCreate: the frame on slot 1, then the patient (which selects slot 1).
    sqShape_->move(Image(1)->pos() - QPoint(2, 2));
    selected_ = Image(1);
    ShowPatient();
}

TfrmPhoto::~TfrmPhoto() = default;

void TfrmPhoto::BuildLayout()
{
    ui->setupUi(this);
    auto button = [&](QToolButton* b, QStyle::StandardPixmap icon, auto slot) {
        b->setIcon(style()->standardIcon(icon));
        connect(b, &QToolButton::clicked, this, slot);
        return b;
    };
    button(ui->btnAdd, QStyle::SP_FileDialogNewFolder, &TfrmPhoto::btnAddClick);
    btnDelete_ = button(ui->btnDelete, QStyle::SP_TrashIcon, &TfrmPhoto::btnDeleteClick);
    btnPost_ = button(ui->btnPost, QStyle::SP_DialogSaveButton, &TfrmPhoto::btnPostClick);
    btnCancel_ = button(ui->btnCancel, QStyle::SP_DialogCancelButton, &TfrmPhoto::btnCancelClick);
    button(ui->btnGetPatient, QStyle::SP_FileDialogContentsView, &TfrmPhoto::btnGetPatientClick);
    button(ui->btnPatient, QStyle::SP_FileDialogDetailedView, &TfrmPhoto::btnPatientClick);
    button(ui->btnAddtoPrint, QStyle::SP_ArrowDown, &TfrmPhoto::btnAddtoPrintClick);
    btnPrint_ = button(ui->btnPrint, QStyle::SP_FileIcon, &TfrmPhoto::btnPrintClick);
    button(ui->btnFermer, QStyle::SP_DialogCloseButton, &TfrmPhoto::reject);
    lName_ = ui->lName;
    imageX_ = ui->ImageX;
    ui->sbImage->viewport()->installEventFilter(this);

    // The order in which a free slot is looked for is the container's.
    const int order[kSlots] = {3, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 16, 18, 19, 20, 21};
    for (int i = 0; i < kSlots; ++i) {
        const int n = order[i];
        auto* slot = ui->pnThumbs->findChild<TPhotoSlot*>(QStringLiteral("Image%1").arg(n));
        slots_[n - 1] = slot;
        containerOrder_[i] = slot;
        connect(slot, &TPhotoSlot::clicked, this, &TfrmPhoto::Image1Click);
        connect(slot, &TPhotoSlot::dropped, this, &TfrmPhoto::Image1DragDrop);
    }
    sqShape_ = new SelectionFrame(ui->pnThumbs);
    sqShape_->setAttribute(Qt::WA_TransparentForMouseEvents);
    sqShape_->resize(55, 60);

    stBar_ = ui->stBar;
    for (int i = 0; i < 3; ++i) {
        panels_[i] = new QLabel(stBar_);
        panels_[i]->setMinimumWidth(i == 2 ? 300 : 100);
        stBar_->addWidget(panels_[i]);
    }

    // The popup menu.
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto action = [&](QWidget* owner, const QString& text, auto slot) {
        auto* a = new QAction(text, owner);
        connect(a, &QAction::triggered, this, slot);
        owner->addAction(a);
        return a;
    };
    action(this, QStringLiteral("Ajouter une photo"), &TfrmPhoto::btnAddClick);
    action(this, QStringLiteral("Supprimer la photo"), &TfrmPhoto::btnDeleteClick);
    mnPost_ = action(this, QStringLiteral("Enregistrer"), &TfrmPhoto::btnPostClick);
    mnCancel_ = action(this, QStringLiteral("Annuler"), &TfrmPhoto::btnCancelClick);
    action(this, QStringLiteral("Sélectionner un patient"), &TfrmPhoto::btnGetPatientClick);
    action(this, QStringLiteral("Patients"), &TfrmPhoto::btnPatientClick);
    auto* sub = new QMenu(QStringLiteral("Impression de photos ..."), this);
    action(sub, QStringLiteral("Ajouter la photo à la file d'impression"), &TfrmPhoto::btnAddtoPrintClick);
    action(sub, QStringLiteral("Ajouter toutes les photos à la file"), [this] {
        for (TPhotoSlot* s : slots_)
            if (!s->FileName.isEmpty() && !PrintList.contains(s->FileName))
                PrintList.append(s->FileName);
        ShowQueueSize();
        UpdateButtons();
    });
    action(sub, QStringLiteral("Retirer la photo de la file d'impression"), &TfrmPhoto::mnDelFromSpoolClick);
    action(sub, QStringLiteral("Retirer toutes les photos de la file"), &TfrmPhoto::mnDelAllClick);
    action(sub, QStringLiteral("Imprimer les photos"), &TfrmPhoto::btnPrintClick);
    addAction(sub->menuAction());
    action(this, QStringLiteral("Fermer"), &TfrmPhoto::reject);
}

QString TfrmPhoto::StatusPanel(int n) const
{
    return panels_[n]->text();
}

TPhotoSlot* TfrmPhoto::FindImage(const QString& name) const
{
    for (TPhotoSlot* s : slots_)
        if (s->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return s;
    return nullptr;
}

TPhotoSlot* TfrmPhoto::FirstFreeImage() const
{
    for (TPhotoSlot* s : containerOrder_)
        if (!s->HasPicture())
            return s;
    return nullptr;
}

void TfrmPhoto::UpdateButtons()
{
    btnPost_->setEnabled(PhotosModified);
    btnCancel_->setEnabled(PhotosModified);
    mnPost_->setEnabled(PhotosModified);
    mnCancel_->setEnabled(PhotosModified);
    btnPrint_->setEnabled(!PrintList.isEmpty());
}

void TfrmPhoto::ShowQueueSize()
{
    panels_[2]->setText(QString::number(PrintList.size()) + QStringLiteral(" Photos à imprimer"));
}

void TfrmPhoto::ShowPatient()
{
    kui::WaitCursor wait;
    lName_->clear();
    kdb::QueryDataset patient;
    OpenPatient(patient);
    for (patient.first(); !patient.eof(); patient.next()) {
        if (patient.fieldByName("CODE").asString().trimmed() != CurrentPatientCode)
            continue;
        const QDate birth = records::ReadDate(patient.fieldByName("DN").asString());
        const QString code = patient.fieldByName("CODE").asString().trimmed();
        const QString nom = patient.fieldByName("NOM").asString().trimmed();
        if (birth.isValid())
            lName_->setText(code + " - " + nom + ", " + QString::number(YearOf(QDate::currentDate()) - YearOf(birth)));
        else
            lName_->setText(code + " - " + nom + " " + patient.fieldByName("PRENOM").asString().trimmed() + ", " +
                patient.fieldByName("AGE").asString().trimmed());
        break;
    }
    LoadPhotos();
    Image1Click(Image(1));
}

void TfrmPhoto::LoadPhotos()
{
    for (TPhotoSlot* s : slots_)
        s->Clear();
    kdb::QueryDataset q;
    q.setDatabaseName(DataPath.toStdString());
    q.setSql(QStringLiteral("SELECT * FROM FPHOTO WHERE CODE=:CODE"));
    q.setParamText("CODE", CurrentPatientCode);
    q.open();
    QList<TPhotoSlot*> found;
    QStringList names, paths;
    for (q.first(); !q.eof(); q.next()) {
        TPhotoSlot* slot = FindImage(QStringLiteral("IMAGE") + q.fieldByName("NUM").asString().trimmed());
        const QString name = q.fieldByName("PHOTO").asString().trimmed();
        if (!slot || name.isEmpty() || !QFileInfo(PhotoDir + name).isFile())
            continue;
        found << slot;
        names << name;
        paths << PhotoDir + name;
    }
    const QList<QImage> thumbs = kui::LoadPictures(paths, kThumbRead);
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (thumbs[i].isNull())
            continue;  // a file that is not a picture leaves its slot empty
        found[i]->SetPicture(thumbs[i]);
        found[i]->FileName = names[i];
    }
    PhotosModified = false;
    UpdateButtons();
}

void TfrmPhoto::SavePhotos()
{
    QString patientGone;
    {
        kui::WaitCursor wait;
        // The patient stays in its table until its rows are written; one
        // deleted on another workstation takes none.
        const records::PatientHold patient(CurrentPatientCode);
        if (!patient.Present()) {
            patientGone = patient.GoneText();
        } else {
            ExecSql(QStringLiteral("DELETE FROM FPHOTO WHERE CODE=:CODE"), {{"CODE", CurrentPatientCode}});
            for (TPhotoSlot* s : slots_)
                if (!s->FileName.isEmpty())
                    InsertPhotoRow(s->Tag(), s->FileName);
        }
    }
    QApplication::processEvents();
    if (!patientGone.isEmpty()) {
        kui::MsgWarning(patientGone, this);  // the slots stay as they are shown, to be saved
        return;
    }
    PhotosModified = false;
    UpdateButtons();
}

QString TfrmPhoto::WritePhotoRow(int slot, const QString& name)
{
    const records::PatientHold patient(CurrentPatientCode);
    if (!patient.Present())
        return patient.GoneText();
    // The slot's own row only: the same file may fill another slot too.
    ExecSql(QStringLiteral("DELETE FROM FPHOTO WHERE CODE=:CODE AND NUM=:NUM"),
        {{"CODE", CurrentPatientCode}, {"NUM", QString::number(slot)}});
    InsertPhotoRow(slot, name);
    return {};
}

void TfrmPhoto::Image1Click(TPhotoSlot* slot)
{
    sqShape_->move(slot->pos() - QPoint(2, 2));
    sqShape_->raise();
    selected_ = slot;
    const bool partial = ShowBigPicture(slot->FileName.isEmpty() ? QString() : PhotoDir + slot->FileName);
    btnDelete_->setEnabled(slot->HasPicture());
    SelectedPhotoName = slot->FileName;
    panels_[0]->setText(slot->FileName);
    panels_[1]->setText(partial ? QStringLiteral("Photo incomplète") : QString());
}

bool TfrmPhoto::ShowBigPicture(const QString& path)
{
    bigPath_ = path;
    // Once the screen is shown, the whole photo fits the view (never
    // enlarged); before, it is read at its own size.
    const QSize room = ui->sbImage->isVisible() ? ui->sbImage->viewport()->size() : QSize();
    bool partial = false;
    QImage big;
    if (!path.isEmpty())
        big = kui::LoadPicture(path, room, &partial);
    const QSize size = big.isNull() ? QSize(0, 0) : big.size();
    imageX_->setPixmap(QPixmap::fromImage(std::move(big)));
    imageX_->resize(size);
    return partial;
}

bool TfrmPhoto::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->sbImage->viewport() && event->type() == QEvent::Resize && !bigPath_.isEmpty())
        ShowBigPicture(bigPath_);
    return QDialog::eventFilter(watched, event);
}

QString TfrmPhoto::StorePhoto(const QString& source, QString& failure, bool* copied)
{
    failure.clear();
    *copied = false;
    const QFileInfo info(source);
    // The names of every patient's rows: a name one of them holds is not
    // given to another photo, even when its file is not in the folder.
    QSet<QString> named;
    int codePage = 1252;
    {
        kdb::TableDataset photos;
        photos.setDatabaseName(DataPath.toStdString());
        photos.setTableName("FPHOTO.DBF");
        photos.setReadOnly(true);
        photos.open();
        codePage = photos.table()->codePage();
        const int field = photos.fieldByName("PHOTO").index();
        for (photos.first(); !photos.eof(); photos.next())
            named.insert(photos.field(field).asString().trimmed().toUpper());
    }
    const QString suffix = info.suffix().isEmpty() ? QString() : "." + StorableName(info.suffix(), codePage);
    QString name = StorableName(info.fileName(), codePage);
    const QString stem = name.left(name.size() - suffix.size());
    auto fits = [&](const QString& n) { return n.size() <= kNameWidth; };
    if (fits(name) && name == info.fileName() &&
        QFileInfo(PhotoDir + name).absoluteFilePath() == info.absoluteFilePath())
        return name;  // already in PhotoDir
    // A name that holds these very bytes already, or one that is free: no
    // file of that name, no row naming it.
    auto usable = [&](const QString& n) {
        if (!fits(n))
            return false;
        if (QFileInfo::exists(PhotoDir + n))
            return SameBytes(PhotoDir + n, source);
        return !named.contains(n.toUpper());
    };
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        failure = QStringLiteral("La photo « %1 » ne peut pas être lue.").arg(QDir::toNativeSeparators(source));
        return {};
    }
    const auto next = [&in](QByteArray& chunk) {
        chunk = in.read(1 << 20);
        return in.error() == QFileDevice::NoError;
    };
    for (int i = 0; i < 100000; ++i) {
        QString candidate = name;
        if (i > 0) {
            const QString tail = QStringLiteral("_%1").arg(i) + suffix;
            candidate = stem.left(kNameWidth - tail.size()) + tail;
        }
        if (!usable(candidate))
            continue;
        if (QFileInfo::exists(PhotoDir + candidate))
            return candidate;  // same bytes
        // The name is taken only while no file has it: another workstation
        // that took it meanwhile keeps its photo, and this one goes on to
        // the next name (or shares that file when it holds the same bytes).
        in.seek(0);
        switch (kos::WriteFileWhole(PhotoDir + candidate, next, kos::WholeFileName::Claim)) {
        case kos::WholeFileResult::Written:
            *copied = true;
            return candidate;
        case kos::WholeFileResult::NameTaken:
            if (SameBytes(PhotoDir + candidate, source))
                return candidate;
            break;
        case kos::WholeFileResult::Failed:
            failure = CopyFailure(PhotoDir, in.size());
            return {};
        }
    }
    failure = QStringLiteral("La photo n'a pas été ajoutée : aucun nom libre pour « %1 » dans le dossier des "
                             "photos « %2 ».")
                  .arg(info.fileName(), QDir::toNativeSeparators(PhotoDir));
    return {};
}

QString TfrmPhoto::ChoosePicture()
{
    if (context_.choosePicture)
        return context_.choosePicture(this);
    // The picture-open dialog, opened where the last picture was taken from.
    static QString lastDir;
    QFileDialog dialog(this, QStringLiteral("Ajouter une photo"), lastDir.isEmpty() ? QDir::homePath() : lastDir,
        QStringLiteral("Images (*.jpg *.jpeg *.jpe *.jfif *.bmp *.png *.gif *.tif *.tiff *.ico *.wmf *.emf);;"
                       "Tous les fichiers (*)"));
    dialog.setObjectName(QStringLiteral("OpenPictureDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString file = dialog.selectedFiles().constFirst();
    lastDir = QFileInfo(file).absolutePath();
    return file;
}

void TfrmPhoto::btnAddClick()
{
    const QString file = ChoosePicture();
    if (file.isEmpty())
        return;
    {
        kui::WaitCursor wait;
        bool go = true;
        if (selected_->HasPicture()) {
            if (TPhotoSlot* free = FirstFreeImage()) {
                selected_ = free;
            } else {
                go = kui::MsgConfirm(QStringLiteral("Voulez-vous remplacer la photo ?"), this);
            }
        }
        if (go) {
            try {
                bool partial = false;
                const QImage thumb = kui::LoadPicture(file, kThumbRead, &partial);
                QString failure;
                bool copied = false;
                const QString name = thumb.isNull() ? QString() : StorePhoto(file, failure, &copied);
                QString patientGone;
                if (!name.isEmpty()) {
                    try {
                        patientGone = WritePhotoRow(selected_->Tag(), name);
                    } catch (...) {
                        if (copied)
                            QFile::remove(PhotoDir + name);
                        throw;
                    }
                    if (!patientGone.isEmpty() && copied)
                        QFile::remove(PhotoDir + name);  // no row names it
                }
                if (thumb.isNull()) {
                    kui::MsgWarning(QStringLiteral("Format d'image incorrect !"), this);
                } else if (name.isEmpty()) {
                    kui::MsgWarning(failure, this);  // the copy failed: no row, the slot as it was
                } else if (!patientGone.isEmpty()) {
                    kui::MsgWarning(patientGone, this);  // no row, the slot as it was
                } else {
                    selected_->SetPicture(thumb);
                    selected_->FileName = name;
                    ShowBigPicture(PhotoDir + name);
                    QApplication::processEvents();
                    if (partial)
                        kui::MsgWarning(QStringLiteral("La photo %1 est incomplète ou endommagée : seule sa partie "
                                                       "lisible est affichée.")
                                            .arg(QFileInfo(file).fileName()),
                            this);
                }
            } catch (const EDBEngineError& e) {
                kui::MsgWarning(kui::ExceptionText(e), this);
            } catch (const std::exception&) {
                kui::MsgWarning(QStringLiteral("Format d'image incorrect !"), this);
            }
        }
        QThread::msleep(200);
    }
    QApplication::processEvents();
}

void TfrmPhoto::btnDeleteClick()
{
    if (!selected_)
        return;
    if (!kui::MsgConfirm(QStringLiteral("Etes-vous sûr de vouloir supprimer la photo ?"), this))
        return;
    selected_->Clear();
    PhotosModified = true;
    UpdateButtons();
}

void TfrmPhoto::btnPostClick()
{
    try {
        SavePhotos();
    } catch (const std::exception& e) {
        kui::MsgPlain(kui::ExceptionText(e), this);
    }
}

void TfrmPhoto::btnCancelClick()
{
    LoadPhotos();
}

void TfrmPhoto::btnGetPatientClick()
{
    const QString before = CurrentPatientCode;
    {
        TfrmGetPatient picker(context_, this);
        picker.exec();
    }
    // The sheets carry one patient's name: the queue holds that patient's
    // photos only.
    if (CurrentPatientCode != before && !PrintList.isEmpty()) {
        PrintList.clear();
        ShowQueueSize();
    }
    ShowPatient();
}

void TfrmPhoto::btnPatientClick()
{
    TfrmPatient frm(context_, this);
    frm.CodePatient = CurrentPatientCode;
    frm.exec();
}

void TfrmPhoto::Image1DragDrop(TPhotoSlot* target, TPhotoSlot* source)
{
    if (target == source)
        return;
    const QPixmap picture = source->pixmap();
    const QString name = source->FileName;
    source->setPixmap(target->pixmap());
    source->FileName = target->FileName;
    target->setPixmap(picture);
    target->FileName = name;
    PhotosModified = true;
    UpdateButtons();
}

void TfrmPhoto::btnAddtoPrintClick()
{
    if (SelectedPhotoName.isEmpty())
        return;
    if (!PrintList.contains(SelectedPhotoName))
        PrintList.append(SelectedPhotoName);
    else
        kui::MsgInformation(QStringLiteral("La photo est dèjà dans la file d'impression !"), this);
    ShowQueueSize();
    UpdateButtons();
}

void TfrmPhoto::mnDelFromSpoolClick()
{
    const qsizetype at = PrintList.indexOf(SelectedPhotoName);
    if (!SelectedPhotoName.isEmpty() && at >= 0) {
        PrintList.removeAt(at);
        kui::MsgInformation(QStringLiteral("La photo est retirée de la file d'impression !"), this);
        ShowQueueSize();
        UpdateButtons();
    } else {
        kui::MsgInformation(QStringLiteral("La photo n'est pas dans la file d'impression !"), this);
    }
    QApplication::processEvents();
}

void TfrmPhoto::mnDelAllClick()
{
    if (PrintList.isEmpty())
        return;
    if (!kui::MsgConfirm(
            QStringLiteral("Etes-vous sûr de vouloir retirer toutes les photos de la file d'impression ?"), this))
        return;
    PrintList.clear();
    panels_[2]->setText(QStringLiteral("0 Photos à imprimer"));
    UpdateButtons();
}

void TfrmPhoto::btnPrintClick()
{
    kdb::QueryDataset patient;
    OpenPatient(patient);
    const auto field = [&](const char* name) {
        return patient.isEmpty() ? QString() : patient.fieldByName(name).asString().trimmed();
    };
    const QString age = AgeText(field("DN"), field("AGE"));
    const QString name = PatientNameLine(field("SEXE"), field("NOM"), field("PRENOM"));
    patient.close();
    PrintPhotos(context_, PrintList, name, age);
}
