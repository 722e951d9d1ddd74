// The protocol screen and the protocol list driven as a user does: a new
// protocol with its patient copied from the patient file, the checks
// before a post, the close guard, the detail text, and the list's open,
// new and delete with the detail file.
#include "ProtFixture.h"
#include "app/records/UGetPatient.h"
#include "app/records/UListProt.h"
#include "app/records/UPROT.h"
#include "app/records/UProtText.h"
#include "platform/rtf/Rtf.h"
#include "platform/ui/data/DataGrid.h"

#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

namespace {

void FillPractice(TfrmPROT& frm)
{
    frm.edClinique()->clear();
    QTest::keyClicks(frm.edClinique(), "les tilleuls");
    frm.edAnest()->setText("DR ANEST");
    frm.edDiag()->setPlainText("  Appendicite aigue\n\n");
    frm.edInterv()->setPlainText("\tAppendicectomie ");
}

}  // namespace

using ProtScreenTest = ProtFixture;

TEST_F(ProtScreenTest, NewProtocolTakesItsPatientAndANumber)
{
    AddPatient("000123", "DURAND", "PAUL", "00/00/1975", "40 Ans");
    AddPatient("000200", "PETIT", "LEA", QDate::currentDate().toString("dd/MM/yyyy"), "7 Ans");
    AddProtocol("000041", QDate(2007, 3, 1), "ANCIEN", "CLINIQUE A");
    QString picked = "000123";
    TfrmPROT::RunPatientPicker = [&picked](AppContext&, QWidget*) { CurrentPatientCode = picked; };

    TfrmPROT frm(practice_.context());
    frm.show();
    EXPECT_TRUE(frm.ProtEditing);
    EXPECT_TRUE(frm.btnPost()->isEnabled() && frm.btnCancel()->isEnabled());
    EXPECT_FALSE(frm.btnNew()->isEnabled() || frm.btnPrint()->isEnabled() || frm.btnModifDesc()->isEnabled());
    EXPECT_EQ(frm.edOperateur()->text(), "DR MARTIN");
    EXPECT_EQ(frm.edDate_PRT()->date(), QDate::currentDate());
    EXPECT_TRUE(frm.edNom()->text().isEmpty()) << "no patient until one is fetched";

    // Checks in order, nothing written.
    EXPECT_FALSE(frm.btnPostClick());
    EXPECT_EQ(practice_.messages().Last().text, "La Clinique est manquante !");
    FillPractice(frm);
    EXPECT_EQ(frm.edClinique()->text(), "LES TILLEULS");
    EXPECT_FALSE(frm.btnPostClick());
    EXPECT_EQ(practice_.messages().Last().text, "Le Nom est manquant !");
    EXPECT_EQ(Column("NUM"), QStringList{"000041"});

    // A cancelled picker (the program's own) changes nothing; then the
    // patient is fetched.
    TfrmPROT::RunPatientPicker = nullptr;
    CurrentPatientCode = "000123";
    OnModal<TfrmGetPatient>([](TfrmGetPatient& picker) {
        QTest::mouseClick(picker.findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    });
    QTest::mouseClick(frm.btnFindPatient(), Qt::LeftButton);
    EXPECT_TRUE(CurrentPatientCode.isEmpty());
    EXPECT_TRUE(frm.edCode()->text().isEmpty());
    TfrmPROT::RunPatientPicker = [&picked](AppContext&, QWidget*) { CurrentPatientCode = picked; };
    QTest::mouseClick(frm.btnFindPatient(), Qt::LeftButton);
    EXPECT_EQ(frm.edCode()->text(), "000123");
    EXPECT_EQ(frm.edNom()->text(), "DURAND");
    EXPECT_EQ(frm.edAge()->text(), QString::number(QDate::currentDate().year() - 1975) + " Ans");

    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    EXPECT_EQ(frm.NumProt, "000042");
    EXPECT_FALSE(frm.ProtEditing);
    EXPECT_TRUE(frm.btnModifDesc()->isEnabled() && frm.btnEdit()->isEnabled() && frm.btnNew()->isEnabled());
    EXPECT_FALSE(frm.edClinique()->isEnabled());
    EXPECT_EQ(Column("NUM"), (QStringList{"000041", "000042"}));
    EXPECT_EQ(Column("AGE").last().left(2), QString::number(QDate::currentDate().year() - 1975));
    EXPECT_EQ(Column("DIAG").last(), "Appendicite aigue");
    EXPECT_EQ(Column("INTERV").last(), "Appendicectomie");
    EXPECT_EQ(Column("CLINIQUE").last().trimmed(), "LES TILLEULS");
    EXPECT_FALSE(QFile::exists(ProtDir + "PROT000042.RTF")) << "no detail text yet";

    // New shows the program's own picker first: a patient left current by
    // another screen is not taken without it. A child born this year shows
    // its stored age, and keeps its first three characters.
    TfrmPROT::RunPatientPicker = nullptr;
    CurrentPatientCode = "000123";
    bool picked200 = false;
    OnModal<TfrmGetPatient>([&picked200](TfrmGetPatient& picker) {
        ShowActive(&picker);
        Type(picker.edNom(), "PET");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QWidget* grid = picker.grdPatient()->viewport();
        QTest::mouseDClick(grid, Qt::LeftButton, {}, QPoint(20, picker.grdPatient()->rowHeight(0) / 2));
        picked200 = !picker.isVisible();
        if (!picked200)
            picker.reject();
    });
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    EXPECT_TRUE(picked200) << "the picker was shown and answered";
    EXPECT_TRUE(frm.NumProt.isEmpty());
    EXPECT_EQ(CurrentPatientCode, "000200");
    EXPECT_EQ(frm.edNom()->text(), "PETIT");
    EXPECT_EQ(frm.edAge()->text(), "7 Ans");
    FillPractice(frm);
    ASSERT_TRUE(frm.btnPostClick());
    EXPECT_EQ(frm.NumProt, "000043");
    EXPECT_EQ(Column("AGE").last(), "7 A");
    EXPECT_EQ(Column("NOM").last().trimmed(), "PETIT");

    // New, the picker cancelled: no patient, whatever another screen left
    // current; the post stops at the missing name.
    CurrentPatientCode = "000123";
    bool asked = false;
    OnModal<TfrmGetPatient>([&asked](TfrmGetPatient& picker) {
        asked = true;
        ShowActive(&picker);
        QTest::mouseClick(picker.findChild<QPushButton*>("btnClose"), Qt::LeftButton);
    });
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    EXPECT_TRUE(asked);
    EXPECT_TRUE(frm.ProtEditing);
    EXPECT_TRUE(frm.edCode()->text().isEmpty() && frm.edNom()->text().isEmpty() && frm.edAge()->text().isEmpty());
    FillPractice(frm);
    EXPECT_FALSE(frm.btnPostClick());
    EXPECT_EQ(practice_.messages().Last().text, "Le Nom est manquant !");
    EXPECT_EQ(Column("NUM").size(), 3);
    TfrmPROT::RunPatientPicker = nullptr;
}

TEST_F(ProtScreenTest, CloseGuardAndDetailText)
{
    AddProtocol("000007", QDate(2024, 5, 2), "DURAND", "CLINIQUE DU PARC");
    AddProtocol("000008", QDate(2024, 5, 3), "MARTIN", "");
    {
        TfrmPROT frm(practice_.context());
        frm.NumProt = "000008";
        frm.show();
        EXPECT_FALSE(frm.btnEdit()->isEnabled()) << "a protocol without clinic cannot be edited";
    }
    TfrmPROT frm(practice_.context());
    frm.NumProt = "000007";
    frm.show();
    EXPECT_FALSE(frm.ProtEditing);
    EXPECT_EQ(frm.edNom()->text(), "DURAND");
    EXPECT_EQ(frm.edDate_PRT()->date(), QDate(2024, 5, 2));
    EXPECT_TRUE(frm.mmDetail()->toPlainText().isEmpty());

    // Editing, then closing: the question; Cancel keeps every typed value.
    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    EXPECT_TRUE(frm.edClinique()->hasFocus() || !frm.isActiveWindow());
    frm.edClinique()->setText("AUTRE CLINIQUE");
    practice_.messages().Answer(QMessageBox::Cancel);
    frm.close();
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(practice_.messages().Last().text,
        QString::fromUtf8("Les informations modifiées n'ont pas été enregistrées.\rEnregister ?"));
    EXPECT_EQ(practice_.messages().Last().kind, kui::MsgKind::Warning);
    EXPECT_EQ(frm.edClinique()->text(), "AUTRE CLINIQUE");
    // Esc while editing cancels once the user said so: the stored values
    // come back.
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::keyClick(&frm, Qt::Key_Escape);
    EXPECT_EQ(practice_.messages().Last().text, QString::fromUtf8("Abandonner les modifications ?"));
    EXPECT_TRUE(frm.isVisible());
    EXPECT_EQ(frm.edClinique()->text(), "CLINIQUE DU PARC");
    // Yes posts.
    QTest::mouseClick(frm.btnEdit(), Qt::LeftButton);
    frm.edClinique()->setText("NOUVELLE CLINIQUE");
    practice_.messages().Answer(QMessageBox::Yes);
    frm.close();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(frm.result(), QDialog::Accepted);  // the answer is the screen's result
    EXPECT_EQ(Column("CLINIQUE").first().trimmed(), "NOUVELLE CLINIQUE");

    // The detail text: the editor writes the file, the screen shows it.
    frm.show();
    const int asked = practice_.messages().Count();
    OnModal<TfrmProtText>([](TfrmProtText& editor) {
        EXPECT_EQ(editor.FileName, "PROT000007.RTF");
        Type(editor.RichDesc(), QString::fromUtf8("Incision de Mac Burney, ça saigne peu."));
        QTest::keyClick(editor.RichDesc(), Qt::Key_Escape);
    });
    QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
    EXPECT_EQ(frm.mmDetail()->toPlainText(), QString::fromUtf8("Incision de Mac Burney, ça saigne peu."));
    // Closing while browsing asks nothing.
    frm.close();
    EXPECT_FALSE(frm.isVisible());
    EXPECT_EQ(practice_.messages().Count(), asked);
}

// A new protocol being typed: Esc asks before it drops it. No keeps the
// screen as typed, Yes closes it, nothing written. Untouched, Esc closes at
// once. The typed boxes stop at their columns' widths.
TEST_F(ProtScreenTest, EscOnATypedNewProtocolAsksFirst)
{
    {
        TfrmPROT frm(practice_.context());
        ShowActive(&frm);
        ASSERT_TRUE(frm.ProtEditing);
        QTest::keyClicks(frm.edClinique(), QString(60, 'C'));
        EXPECT_EQ(frm.edClinique()->text(), QString(50, 'C'));
        frm.edAide()->setFocus();
        QTest::keyClicks(frm.edAide(), QString(45, 'a'));
        EXPECT_EQ(frm.edAide()->text().size(), 40);
        practice_.messages().Answer(QMessageBox::No);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        ASSERT_EQ(practice_.messages().Count(), 1);
        EXPECT_EQ(practice_.messages().Last().text, QString::fromUtf8("Abandonner les modifications ?"));
        EXPECT_TRUE(frm.isVisible());
        EXPECT_TRUE(frm.ProtEditing);
        EXPECT_EQ(frm.edClinique()->text(), QString(50, 'C'));
        EXPECT_EQ(QApplication::focusWidget(), frm.edAide());
        practice_.messages().Answer(QMessageBox::Yes);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        EXPECT_FALSE(frm.isVisible());
        EXPECT_EQ(practice_.messages().Count(), 2);
    }
    TfrmPROT untouched(practice_.context());
    ShowActive(&untouched);
    QTest::keyClick(&untouched, Qt::Key_Escape);
    EXPECT_FALSE(untouched.isVisible());
    EXPECT_EQ(practice_.messages().Count(), 2);
    EXPECT_TRUE(Column("NUM").isEmpty());
}

// The clinic and practitioner boxes hold capitals whatever fills them: the
// practitioner's name as the settings write it, a protocol stored in small
// letters, the keyboard. Enter walks the boxes in tab order and never posts.
TEST_F(ProtScreenTest, TheTypedBoxesHoldCapitalsAndEnterWalksThemWithoutPosting)
{
    PractitionerName = "Dr Jean Martin";
    AddPatient("000123", "DURAND", "PAUL", "12/04/1980", "");
    AddProtocol("000005", QDate(2024, 5, 2), "DURAND", "clinique du parc");
    {
        TfrmPROT stored(practice_.context());
        stored.NumProt = "000005";
        stored.show();
        EXPECT_EQ(stored.edClinique()->text(), "CLINIQUE DU PARC");
    }

    TfrmPROT frm(practice_.context());
    ShowActive(&frm);
    EXPECT_EQ(frm.edOperateur()->text(), "DR JEAN MARTIN");
    ASSERT_EQ(QApplication::focusWidget(), frm.edDate_PRT());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), frm.edClinique());
    Keys("les tilleuls");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), frm.edOperateur());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), frm.edAnest());
    Keys(QString::fromUtf8("dr sommeil é"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), frm.edAide());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), frm.btnFindPatient());
    EXPECT_EQ(practice_.messages().Count(), 0) << "Enter never posts";
    EXPECT_TRUE(frm.ProtEditing);
    EXPECT_EQ(Column("NUM"), QStringList{"000005"});

    TfrmPROT::RunPatientPicker = [](AppContext&, QWidget*) { CurrentPatientCode = "000123"; };
    QTest::mouseClick(frm.btnFindPatient(), Qt::LeftButton);
    TfrmPROT::RunPatientPicker = nullptr;
    frm.edDiag()->setPlainText("Hernie");
    frm.edInterv()->setPlainText("Cure");
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    ASSERT_EQ(frm.NumProt, "000006");
    EXPECT_EQ(Column("CLINIQUE").last().trimmed(), "LES TILLEULS");
    EXPECT_EQ(Column("OPERATEUR").last().trimmed(), "DR JEAN MARTIN");
    EXPECT_EQ(Column("ANEST").last().trimmed(), QString::fromUtf8("DR SOMMEIL É"));
}

TEST_F(ProtScreenTest, ListOpensAddsAndDeletesWithTheDetailFile)
{
    TfrmListProt list(practice_.context());
    list.show();
    EXPECT_FALSE(list.btnDelete()->isEnabled());
    EXPECT_FALSE(list.btnModif()->isEnabled());

    // New from an empty list: the new protocol becomes the current row.
    AddPatient("000123", "DURAND", "PAUL", "12/04/1980", "");
    CurrentPatientCode = "000123";
    TfrmPROT::RunPatientPicker = [](AppContext&, QWidget*) {};
    OnModal<TfrmPROT>([](TfrmPROT& frm) {
        QTest::mouseClick(frm.btnFindPatient(), Qt::LeftButton);
        FillPractice(frm);
        QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
        frm.close();
    });
    QTest::mouseClick(list.btnAdd(), Qt::LeftButton);
    ASSERT_EQ(Column("NUM"), QStringList{"000001"});
    EXPECT_TRUE(list.btnDelete()->isEnabled() && list.btnModif()->isEnabled());
    EXPECT_EQ(list.qPROT()->fieldByName("NUM").asString(), "000001");
    TfrmPROT::RunPatientPicker = nullptr;

    // Three more, in date order; the one opened stays current.
    AddProtocol("000002", QDate(2020, 1, 1), "ALPHA", "C1");
    AddProtocol("000003", QDate(2021, 1, 1), "BETA", "C2");
    list.RefreshList("000003");
    EXPECT_EQ(list.qPROT()->fieldByName("NOM").asString().trimmed(), "BETA");
    EXPECT_EQ(list.grdRDV()->model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Heure");
    OnModal<TfrmPROT>([](TfrmPROT& frm) {
        EXPECT_EQ(frm.NumProt, "000003");
        EXPECT_EQ(frm.edNom()->text(), "BETA");
        QTest::keyClick(&frm, Qt::Key_Escape);
    });
    QTest::mouseClick(list.btnModif(), Qt::LeftButton);
    EXPECT_EQ(list.qPROT()->fieldByName("NUM").asString(), "000003");
    // A double-click below the rows opens the current protocol too.
    bool opened = false;
    OnModal<TfrmPROT>([&opened](TfrmPROT& frm) {
        opened = frm.NumProt == "000003";
        QTest::keyClick(&frm, Qt::Key_Escape);
    });
    QWidget* viewport = list.grdRDV()->viewport();
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
    EXPECT_TRUE(opened);
    EXPECT_EQ(list.qPROT()->fieldByName("NUM").asString(), "000003");

    // Delete with its file; No deletes nothing.
    QTextDocument text;
    text.setPlainText("detail");
    ASSERT_TRUE(krtf::SaveRtfFile(ProtDir + "PROT000003.RTF", text));
    practice_.messages().Answer(QMessageBox::No);
    QTest::mouseClick(list.btnDelete(), Qt::LeftButton);
    EXPECT_EQ(Column("NUM").size(), 3);
    // A DELETE refused by the database keeps the row and its text.
    {
        kdb::TableDataset held;
        held.setDatabaseName(DataPath.toStdString());
        held.setTableName("FPROT.DBF");
        held.open();
        ASSERT_TRUE(held.locate("NUM", "000003"));
        held.edit();  // the row is locked by another user
        const int before = practice_.messages().Count();
        practice_.messages().Answer(QMessageBox::Yes);
        list.btnDeleteClick();
        EXPECT_EQ(practice_.messages().Count(), before + 2) << "the question, then the error";
        EXPECT_TRUE(QFile::exists(ProtDir + "PROT000003.RTF"));
        held.cancel();
    }
    EXPECT_EQ(Column("NUM").size(), 3);
    practice_.messages().Answer(QMessageBox::Yes);
    QTest::mouseClick(list.btnDelete(), Qt::LeftButton);
    EXPECT_EQ(
        practice_.messages().Last().text, QString::fromUtf8("Etes-vous sûr de vouloir supprimer cet enregistrement ?"));
    EXPECT_EQ(Column("NUM"), (QStringList{"000001", "000002"}));
    EXPECT_FALSE(QFile::exists(ProtDir + "PROT000003.RTF"));
    EXPECT_EQ(list.qPROT()->fieldByName("NUM").asString(), "000002") << "the first row in date order";

    // A protocol without a file is deleted all the same; the last one
    // leaves an empty list.
    for (int i = 0; i < 2; ++i) {
        practice_.messages().Answer(QMessageBox::Yes);
        list.btnDeleteClick();
    }
    EXPECT_TRUE(Column("NUM").isEmpty());
    EXPECT_FALSE(list.btnDelete()->isEnabled());
    EXPECT_FALSE(list.btnModif()->isEnabled());
}

namespace {

// The pixels of a text edit's page darker than its paper: the ink of the
// text as the widget paints it.
int InkOf(QTextEdit* edit)
{
    const QImage image = edit->viewport()->grab().toImage();
    int ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 200)
                ++ink;
    return ink;
}

}  // namespace

TEST_F(ProtScreenTest, TheSavedDetailTextIsPaintedOnTheScreenAndInTheEditor)
{
    AddProtocol("000011", QDate(2024, 5, 2), "DURAND", "CLINIQUE DU PARC");
    TfrmPROT frm(practice_.context());
    frm.NumProt = "000011";
    frm.show();
    EXPECT_EQ(InkOf(frm.mmDetail()), 0) << "no text, no ink";
    for (const int paragraphs : {1, 2, 12}) {
        QStringList lines;
        for (int i = 1; i <= paragraphs; ++i)
            lines << QString::fromUtf8("Temps %1 : incision médiane").arg(i);
        // Written by the editor's own save: a fresh text typed line by line.
        QFile::remove(ProtDir + "PROT000011.RTF");
        frm.mmDetail()->clear();
        OnModal<TfrmProtText>([&lines](TfrmProtText& editor) {
            ShowActive(&editor);
            if (QApplication::focusWidget() != editor.RichDesc()) {
                ADD_FAILURE() << "the editor's text has not the focus";
                editor.reject();
                return;
            }
            for (int i = 0; i < lines.size(); ++i) {
                if (i > 0)
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
                Type(QApplication::focusWidget(), lines[i]);
            }
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            EXPECT_FALSE(editor.isVisible());
        });
        QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
        ASSERT_TRUE(QFile::exists(ProtDir + "PROT000011.RTF"));
        EXPECT_EQ(frm.mmDetail()->toPlainText(), lines.join('\n'));
        EXPECT_GT(InkOf(frm.mmDetail()), 40 * paragraphs) << paragraphs << " paragraph(s) painted on the screen";

        // Opened again in the editor: painted there too; closed unchanged.
        int editorInk = 0;
        QString shown;
        OnModal<TfrmProtText>([&](TfrmProtText& editor) {
            ShowActive(&editor);
            shown = editor.RichDesc()->toPlainText();
            editorInk = InkOf(editor.RichDesc());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
        EXPECT_EQ(shown, lines.join('\n'));
        EXPECT_GT(editorInk, 40 * std::min(paragraphs, 5)) << paragraphs << " paragraph(s) painted in the editor";
        EXPECT_EQ(frm.mmDetail()->toPlainText(), lines.join('\n'));
    }
}

TEST_F(ProtScreenTest, ANewProtocolNeverTakesATextItDidNotWrite)
{
    // After a restore of an older table: the texts of protocols whose rows
    // are gone are still in the directory, one already set aside before.
    AddPatient("000300", QString::fromUtf8("GARÇON"), "LUC", "12/04/1980");
    const auto write = [](const QString& name, const QString& text) {
        QTextDocument doc;
        doc.setPlainText(text);
        ASSERT_TRUE(krtf::SaveRtfFile(ProtDir + name, doc));
    };
    write("PROT000001.RTF", QString::fromUtf8("Texte du protocole de LÉVÊQUE"));
    write("PROT000001_ANCIEN.RTF", QString::fromUtf8("Texte du protocole de MOREAU"));
    write("PROT.RTF", QString::fromUtf8("Texte sans numéro"));
    const auto text = [](const QString& name) {
        QTextDocument doc;
        return krtf::LoadRtfFile(ProtDir + name, doc) ? doc.toPlainText() : QString("(absent)");
    };

    TfrmPROT frm(practice_.context());
    frm.show();
    EXPECT_TRUE(frm.mmDetail()->toPlainText().isEmpty()) << "a protocol not posted has no text";
    const auto pickGarcon = [] {
        OnModal<TfrmGetPatient>([](TfrmGetPatient& picker) {
            ShowActive(&picker);
            Type(picker.edNom(), "GAR");
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTest::mouseDClick(picker.grdPatient()->viewport(), Qt::LeftButton, {},
                QPoint(20, picker.grdPatient()->rowHeight(0) / 2));
            if (picker.isVisible())
                picker.reject();
        });
    };
    pickGarcon();
    QTest::mouseClick(frm.btnFindPatient(), Qt::LeftButton);
    ASSERT_EQ(frm.edNom()->text(), QString::fromUtf8("GARÇON"));
    FillPractice(frm);
    QTest::mouseClick(frm.btnPost(), Qt::LeftButton);
    ASSERT_EQ(frm.NumProt, "000001");
    EXPECT_TRUE(frm.mmDetail()->toPlainText().isEmpty()) << frm.mmDetail()->toPlainText().toStdString();

    // The old texts are kept, none under a protocol's name.
    EXPECT_EQ(QDir(ProtDir).entryList(QDir::Files),
        (QStringList{"PROT.RTF", "PROT000001_ANCIEN.RTF", "PROT000001_ANCIEN2.RTF"}));
    EXPECT_EQ(text("PROT000001_ANCIEN2.RTF"), QString::fromUtf8("Texte du protocole de LÉVÊQUE"));
    EXPECT_EQ(text("PROT000001_ANCIEN.RTF"), QString::fromUtf8("Texte du protocole de MOREAU"));

    // The editor starts empty; what it writes is the protocol's text.
    QString shown = "(not shown)";
    OnModal<TfrmProtText>([&shown](TfrmProtText& editor) {
        ShowActive(&editor);
        shown = editor.RichDesc()->toPlainText();
        Type(QApplication::focusWidget(), QString::fromUtf8("Texte de GARÇON"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
    EXPECT_TRUE(shown.isEmpty()) << shown.toStdString();
    EXPECT_EQ(frm.mmDetail()->toPlainText(), QString::fromUtf8("Texte de GARÇON"));
    EXPECT_EQ(text("PROT000001.RTF"), QString::fromUtf8("Texte de GARÇON"));

    // A leftover that cannot be moved aside (every name aside taken):
    // nothing is posted, the old text stays where it was, and the message
    // names the file.
    write("PROT000002.RTF", QString::fromUtf8("Texte du protocole de LÉVÊQUE"));
    for (int i = 1; i <= 999; ++i) {
        QFile taken(ProtDir + "PROT000002_ANCIEN" + (i > 1 ? QString::number(i) : QString()) + ".RTF");
        ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    }
    pickGarcon();
    QTest::mouseClick(frm.btnNew(), Qt::LeftButton);
    ASSERT_EQ(frm.edNom()->text(), QString::fromUtf8("GARÇON"));
    FillPractice(frm);
    EXPECT_FALSE(frm.btnPostClick());
    EXPECT_TRUE(frm.NumProt.isEmpty());
    EXPECT_TRUE(frm.ProtEditing);
    EXPECT_EQ(Column("NUM"), QStringList{"000001"});
    EXPECT_TRUE(practice_.messages().Last().text.contains("PROT000002.RTF"))
        << practice_.messages().Last().text.toStdString();
    EXPECT_EQ(text("PROT000002.RTF"), QString::fromUtf8("Texte du protocole de LÉVÊQUE"));
    // Once a name is free again, the post goes through.
    QFile::remove(ProtDir + "PROT000002_ANCIEN7.RTF");
    ASSERT_TRUE(frm.btnPostClick());
    EXPECT_EQ(frm.NumProt, "000002");
    EXPECT_TRUE(frm.mmDetail()->toPlainText().isEmpty());
    EXPECT_EQ(text("PROT000002_ANCIEN7.RTF"), QString::fromUtf8("Texte du protocole de LÉVÊQUE"));
    EXPECT_FALSE(QFile::exists(ProtDir + "PROT000002.RTF"));
}

// A practice with more protocols than the grid reads at once: Ctrl+End
// shows the newest protocol, not the last row read so far, and Ctrl+Home
// the oldest again.
TEST_F(ProtScreenTest, CtrlEndAndCtrlHomeReachTheNewestAndOldestProtocolOfALongList)
{
    for (int i = 1; i <= 700; ++i)
        AddProtocol(QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0')), QDate(2000, 1, 1).addDays(i),
            QStringLiteral("NOM%1").arg(i), "C");
    TfrmListProt list(practice_.context());
    list.show();
    QApplication::setActiveWindow(&list);
    list.grdRDV()->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), list.grdRDV());
    ASSERT_LT(list.grdRDV()->model()->rowCount(), 700) << "the grid reads the rows as they are needed";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(list.qPROT()->fieldByName("NUM").asString(), "000700");
    const QModelIndex last = list.grdRDV()->currentIndex();
    EXPECT_EQ(list.grdRDV()->model()->data(last.siblingAtColumn(0)).toString().trimmed(), "NOM700");
    EXPECT_TRUE(list.grdRDV()->selectionModel()->isRowSelected(last.row(), {}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(list.qPROT()->fieldByName("NUM").asString(), "000001");
    EXPECT_EQ(list.grdRDV()->model()->data(list.grdRDV()->currentIndex().siblingAtColumn(0)).toString().trimmed(),
        "NOM1");
}

// A detail text file that is no RTF, or RTF cut short, is shown as far as it
// could be read with a warning naming it, on the screen and in the editor;
// the editor's save keeps the damaged file under another name first, never
// over another file, then writes the new text whole. A whole file is shown
// and saved without any of it.
TEST_F(ProtScreenTest, ADamagedDetailTextIsShownWithAWarningAndKeptBeforeTheSave)
{
    struct Case {
        const char* num;
        QByteArray data;
        QString readable;  // what must be shown of it
    };
    QByteArray binary("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x01\x02\x03", 20);
    binary += QByteArray("Fermeture plan par plan") + QByteArray("\x00\x07\x90\x1f\x00\x05", 6);
    const QList<Case> cases = {
        {"000021", "Incision m\xe9" "diane.\r\nFermeture plan par plan.\r\n",
            QString::fromUtf8("Incision médiane.\nFermeture plan par plan.\n")},
        {"000022",
            "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Verdana;}}\\f0\\fs16 Incision m\\'e9diane\\par "
            "{\\b Fermeture plan par plan\\par}Drain de Re",
            QString::fromUtf8("Incision médiane\nFermeture plan par plan\nDrain de Re")},
        {"000023", binary, "IHDR\nFermeture plan par plan"},  // its runs of readable characters
    };
    // A copy of an earlier damaged file is there already: never overwritten.
    const QByteArray earlier = "{\\rtf1 copie d'avant";
    {
        QFile f(ProtDir + "PROT000022_ENDOMMAGE.RTF");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(earlier);
    }
    const auto bytes = [](const QString& name) {
        QFile f(ProtDir + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(absent)");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.num);
        const QString num = c.num;
        const QString name = "PROT" + num + ".RTF";
        AddProtocol(num, QDate(2024, 6, 1), "DURAND", "CLINIQUE DU PARC");
        {
            QFile f(ProtDir + name);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.data);
        }
        const QString warning = QString::fromUtf8(
            "Le texte du protocole n° %1 (%2) est endommagé : seule sa partie lisible est affichée.")
                                    .arg(num, name);
        TfrmPROT frm(practice_.context());
        frm.NumProt = num;
        const int before = practice_.messages().Count();
        ShowActive(&frm);
        ASSERT_EQ(practice_.messages().Count(), before + 1);
        EXPECT_EQ(practice_.messages().Last().text, warning);
        EXPECT_EQ(practice_.messages().Last().kind, kui::MsgKind::Warning);
        EXPECT_EQ(frm.mmDetail()->toPlainText(), c.readable);

        // The editor: the same warning, with what its save does; a line
        // added at the end and saved with the Save button, then closed.
        QString shown, editorWarning;
        OnModal<TfrmProtText>([&](TfrmProtText& editor) {
            ShowActive(&editor);
            shown = editor.RichDesc()->toPlainText();
            editorWarning = practice_.messages().Last().text;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
            Type(QApplication::focusWidget(), QString::fromUtf8(" Drain retiré."));
            QTest::mouseClick(editor.btnSave(), Qt::LeftButton);
            EXPECT_FALSE(editor.btnSave()->isEnabled());
            // A second save keeps no second copy.
            Type(QApplication::focusWidget(), " J2.");
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
        EXPECT_EQ(shown, c.readable);
        EXPECT_TRUE(editorWarning.startsWith(warning)) << editorWarning.toStdString();

        // The damaged file is kept as it was, beside the new text.
        const QString kept = num == "000022" ? "PROT000022_ENDOMMAGE2.RTF" : "PROT" + num + "_ENDOMMAGE.RTF";
        EXPECT_EQ(bytes(kept), c.data);
        EXPECT_EQ(practice_.messages().Last().text,
            QString::fromUtf8("Le fichier endommagé « %1 » est conservé sous le nom « %2 ».").arg(name, kept));
        EXPECT_EQ(practice_.messages().Last().kind, kui::MsgKind::Information);
        EXPECT_FALSE(QFile::exists(ProtDir + "PROT" + num + (num == "000022" ? "_ENDOMMAGE3.RTF" : "_ENDOMMAGE2.RTF")));
        QTextDocument saved;
        krtf::RtfDamage damage;
        ASSERT_TRUE(krtf::LoadRtfFile(ProtDir + name, saved, nullptr, &damage));
        EXPECT_EQ(damage, krtf::RtfDamage::Whole);
        EXPECT_EQ(saved.toPlainText(), c.readable + QString::fromUtf8(" Drain retiré. J2."));
        EXPECT_EQ(frm.mmDetail()->toPlainText(), saved.toPlainText());
        // Shown again, the text is whole: no warning.
        const int after = practice_.messages().Count();
        frm.close();
        ShowActive(&frm);
        EXPECT_EQ(practice_.messages().Count(), after);
        frm.close();
    }
    EXPECT_EQ(bytes("PROT000022_ENDOMMAGE.RTF"), earlier);

    // A whole file: no warning, saved as before, nothing kept aside.
    AddProtocol("000024", QDate(2024, 6, 1), "DURAND", "CLINIQUE DU PARC");
    QTextDocument whole;
    whole.setPlainText(QString::fromUtf8("Incision médiane"));
    ASSERT_TRUE(krtf::SaveRtfFile(ProtDir + "PROT000024.RTF", whole));
    TfrmPROT frm(practice_.context());
    frm.NumProt = "000024";
    const int before = practice_.messages().Count();
    ShowActive(&frm);
    EXPECT_EQ(frm.mmDetail()->toPlainText(), QString::fromUtf8("Incision médiane"));
    OnModal<TfrmProtText>([](TfrmProtText& editor) {
        ShowActive(&editor);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ControlModifier);
        Type(QApplication::focusWidget(), ".");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    QTest::mouseClick(frm.btnModifDesc(), Qt::LeftButton);
    EXPECT_EQ(practice_.messages().Count(), before);
    EXPECT_EQ(frm.mmDetail()->toPlainText(), QString::fromUtf8("Incision médiane."));
    EXPECT_TRUE(QDir(ProtDir).entryList({"PROT000024_*"}).isEmpty());
}
