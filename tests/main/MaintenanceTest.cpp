// "Réindexation" and "Contrôle de la base de données" on a real data
// directory.
#include "MainFixture.h"
#include "platform/ui/Application.h"

#include "app/records/UListRDV.h"
#include "checker/DbCheck.h"
#include "platform/db/core/DamageLog.h"
#include "platform/db/core/Table.h"
#include "platform/db/dataset/Dataset.h"
#include "platform/db/engine/Engine.h"
#include "platform/ui/Messages.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <stdexcept>

namespace {

const QString kDone = QStringLiteral("Contrôle de la base de données terminé !");
const QString kIncomplete = QStringLiteral("Contrôle de la base de données incomplet !");

class MaintenanceTest : public MainFixture {
protected:
    void SetUp() override
    {
        MainFixture::SetUp();
        Create();
        ASSERT_TRUE(frm_->CreationCompleted());
        messages_.Clear();
        errors_.clear();
        previous_ = kui::TApplication::SetExceptionHandler(
            [this](const std::exception& e) { errors_ << QString::fromUtf8(e.what()); });
    }
    void TearDown() override
    {
        kui::TApplication::SetExceptionHandler(previous_);
        MainFixture::TearDown();
    }
    std::unique_ptr<kdb::Table> Open(const char* name, bool exclusive = false)
    {
        kdb::engine::OpenOptions o;
        o.exclusive = exclusive;
        return kdb::engine::openTable(DataPath.toStdString(), name, o);
    }
    // Runs a menu handler as the event loop would: exceptions go to the
    // application's handler.
    void Run(void (TfrmMain::*handler)())
    {
        try {
            (frm_.get()->*handler)();
        } catch (...) {
            kui::TApplication::HandleCurrentException();
        }
    }
    // Chooses a command of the main window's menus, as the user does.
    void Choose(const char* action)
    {
        QAction* a = frm_->findChild<QAction*>(action);
        ASSERT_NE(a, nullptr) << action;
        try {
            a->trigger();
        } catch (...) {
            kui::TApplication::HandleCurrentException();
        }
    }
    // The width the data directory's table gives to a character column.
    int Width(const char* table, const std::string& column)
    {
        auto t = Open(table);
        for (const kdb::FieldDesc& f : kdb::engine::fieldDescs(*t))
            if (f.name == column)
                return f.units1;
        return -1;
    }
    // The check is to widen FRDV.MOTIF and Patient.PRENOM.
    void WidenInSchema()
    {
        QStringList& schema = frm_->DbCheckData->Descriptor;
        for (auto [from, to] : {std::pair{"  field(MOTIF;MOTIF;1;0;50;0)", "  field(MOTIF;MOTIF;1;0;60;0)"},
                 std::pair{"  field(PRENOM;PRENOM;1;0;30;0)", "  field(PRENOM;PRENOM;1;0;35;0)"}}) {
            const int at = schema.indexOf(from);
            ASSERT_GE(at, 0) << from;
            schema[at] = to;
        }
    }
    QStringList Texts() const
    {
        QStringList t;
        for (const auto& r : messages_.Records())
            t << r.text;
        return t;
    }

    QStringList errors_;
    kui::TApplication::ExceptionHandler previous_;
};

TEST_F(MaintenanceTest, BothCommandsCreateTheMissingTablesAndEndWithTheClosingMessage)
{
    Run(&TfrmMain::mnReindexationClick);
    EXPECT_EQ(Texts(), QStringList{kDone});
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Information);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    for (const char* f : {"Cons.DBF", "EXCOMP.DBF", "FORD.DBF", "FPHOTO.DBF", "FRDV.DBF", "FBIO.DBF", "FRADIO.DBF",
             "Patient.DBF", "FPROT.DBF"})
        EXPECT_TRUE(QFile::exists(DataPath + f)) << f;

    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    EXPECT_EQ(Texts(), QStringList{kDone});
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

TEST_F(MaintenanceTest, PackRemovesDeletedRecordsAndKeepsTheIndexesRight)
{
    Run(&TfrmMain::mnReindexationClick);
    {
        auto patient = Open("Patient.DBF");
        for (int i = 1; i <= 30; ++i)
            patient->append({QString("%1").arg(i, 6, 10, QChar('0')), QString("ID%1").arg(i),
                QString("NOM%1").arg(i, 2, 10, QChar('0'))});
        for (uint32_t r = 1; r <= 30; r += 3)
            patient->deleteRecord(r);
        patient->flush();
    }
    QFile::remove(DataPath + "FRDV.DBF");  // recreated by the check before the walk
    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    EXPECT_EQ(Texts(), QStringList{kDone});
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    EXPECT_TRUE(QFile::exists(DataPath + "FRDV.DBF"));

    auto patient = Open("Patient.DBF");
    EXPECT_EQ(patient->recordCount(), 20u);
    for (uint32_t r = 1; r <= patient->recordCount(); ++r)
        EXPECT_FALSE(patient->isDeleted(r));
    EXPECT_EQ(patient->findKey("CODE", QString("000001")), 0u);  // was deleted
    const uint32_t rec = patient->findKey("CODE", QString("000002"));
    ASSERT_NE(rec, 0u);
    EXPECT_EQ(patient->value(rec, patient->fieldIndex("NOM")).toString(), "NOM02");
    EXPECT_NE(patient->findKey("NOM", QString("NOM30")), 0u);
}

TEST_F(MaintenanceTest, ATableInUseEndsTheWalkAfterTheClosingMessage)
{
    Run(&TfrmMain::mnReindexationClick);
    messages_.Clear();
    auto busy = Open("FRDV.DBF");  // held open by "another window"
    Run(&TfrmMain::mnCheckDBClick);
    EXPECT_EQ(Texts(), QStringList{kIncomplete});
    ASSERT_EQ(errors_.size(), 1);  // what was not done, after the box
    EXPECT_TRUE(errors_[0].contains("FRDV.DBF, FBIO.DBF, FRADIO.DBF, Patient.DBF, FPROT.DBF"))
        << errors_[0].toStdString();
    EXPECT_TRUE(errors_[0].contains("utilisée par un autre programme")) << errors_[0].toStdString();
}

TEST_F(MaintenanceTest, AFailingCheckMakesTheClosingMessageIncompleteAndTheWalkStillRuns)
{
    Run(&TfrmMain::mnReindexationClick);
    messages_.Clear();
    frm_->DbCheckData->Descriptor << "this line is outside the grammar";
    Run(&TfrmMain::mnReindexationClick);
    EXPECT_EQ(Texts(), QStringList{kIncomplete});
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
}

TEST_F(MaintenanceTest, TheAppointmentListIsReleasedBeforeTheCheckAndShownAgainAfterwards)
{
    Run(&TfrmMain::mnReindexationClick);
    {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql("INSERT INTO PATIENT (CODE, ID, NOM, PRENOM) VALUES ('000001', '000001', 'DUPONT', 'JEAN')");
        q.execSql();
        q.setSql("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES ('000001', '000001', :D, "
                 "'09:00', 'CONTROLE')");
        q.params().set("D", QDate::currentDate());
        q.execSql();
        q.params().set("D", QDate::currentDate().addDays(3));
        q.setSql("INSERT INTO FRDV (NUM, PATIENT, DATE_RDV, HRE_RDV, MOTIF) VALUES ('000002', '000001', :D, "
                 "'10:00', 'BILAN')");
        q.execSql();
    }
    WidenInSchema();
    frm_->show();
    QTest::mouseClick(frm_->findChild<QToolButton*>("btnRDV"), Qt::LeftButton);
    ASSERT_NE(frmListRDV, nullptr);
    ASSERT_EQ(frmListRDV->qRDV()->recordCount(), 1);
    // Every appointment shown: the list comes back so.
    QTest::mouseClick(frmListRDV->btnAll(), Qt::LeftButton);
    ASSERT_EQ(frmListRDV->qRDV()->recordCount(), 2);
    messages_.Clear();

    Choose("mnCheckDB");
    EXPECT_EQ(Texts(), QStringList{kDone});  // no table found in use
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    EXPECT_EQ(Width("FRDV.DBF", "MOTIF"), 60);
    EXPECT_EQ(Width("Patient.DBF", "PRENOM"), 35);
    ASSERT_NE(frmListRDV, nullptr);
    EXPECT_TRUE(frmListRDV->btnAll()->isChecked());
    EXPECT_EQ(frmListRDV->qRDV()->recordCount(), 2);
    QTest::mouseClick(frmListRDV->btnAll(), Qt::LeftButton);  // back to the day
    EXPECT_EQ(frmListRDV->qRDV()->recordCount(), 1);
    frmListRDV->CloseWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(frmListRDV, nullptr);
}

TEST_F(MaintenanceTest, ATableTheCheckCouldNotChangeMakesTheCommandIncomplete)
{
    Run(&TfrmMain::mnReindexationClick);
    WidenInSchema();
    // FRDV is held by another program while the check runs, free again
    // when the tables are packed.
    auto busy = Open("FRDV.DBF");
    frm_->DbCheckData->OnComplete = [&busy](QObject*) { busy.reset(); };
    messages_.Clear();
    Choose("mnCheckDB");
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join(" / ").toStdString();
    EXPECT_TRUE(texts[0].startsWith("[Error]") && texts[0].contains("FRDV.DBF")) << texts[0].toStdString();
    EXPECT_EQ(texts[1], kIncomplete);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    EXPECT_EQ(Width("FRDV.DBF", "MOTIF"), 50);
    EXPECT_EQ(Width("Patient.DBF", "PRENOM"), 35);
}

TEST_F(MaintenanceTest, PackTableRefusesATableThatIsNotOpenOrNotExclusive)
{
    Run(&TfrmMain::mnReindexationClick);
    std::unique_ptr<kdb::Table> none;
    try {
        frm_->PackTable(none);
        FAIL() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Table must be  opened to pack");
    }
    auto shared = Open("Cons.DBF");
    try {
        frm_->PackTable(shared);
        FAIL() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Table must be  opened exclusively to pack");
    }
    shared.reset();
    auto exclusive = Open("Cons.DBF", true);
    frm_->PackTable(exclusive);
    EXPECT_TRUE(exclusive);  // a dBASE table stays open
}

// Overwrites the stored bytes of one field of a record.
void PatchField(const QString& file, uint32_t recNo, const char* field, const QByteArray& b)
{
    int offset = 0, recLen = 0;
    {
        auto t = kdb::engine::openTable(DataPath.toStdString(), file.toStdString());
        offset = t->fields()[t->fieldIndex(field)].offset;
        recLen = static_cast<int>(t->recordSize());
    }
    QFile f(DataPath + file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QByteArray h = f.read(12);
    const int header = static_cast<unsigned char>(h[8]) | (static_cast<unsigned char>(h[9]) << 8);
    f.seek(header + qint64(recNo - 1) * recLen + offset);
    f.write(b);
}

QByteArray Bytes(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

TEST_F(MaintenanceTest, ADamagedTableIsKeptRepairedAndReportedBeforeTheClosingMessage)
{
    Run(&TfrmMain::mnReindexationClick);
    {
        auto patient = Open("Patient.DBF");
        for (int i = 1; i <= 3; ++i)
            patient->append({QString("00000%1").arg(i), QString("ID%1").arg(i), QString("NOM%1").arg(i)});
        auto prot = Open("FPROT.DBF");
        for (int i = 1; i <= 2; ++i)
            prot->append({QString::number(i), QDate(2024, 3, i), "C", "N", "P", "40", "", "", "", "",
                QString("diagnostic %1").arg(i), QString("intervention %1").arg(i)});
    }
    PatchField("FPROT.DBF", 1, "DIAG", "   9999999");  // a memo pointer to nothing
    PatchField("FPROT.DBF", 2, "DATE_PRT", "20231399");  // a date that does not read
    const int patientRec = static_cast<int>(Open("Patient.DBF")->recordSize());
    QFile patient(DataPath + "Patient.DBF");
    ASSERT_TRUE(patient.resize(patient.size() - 1 - patientRec + 20));  // the third record cut short
    const QByteArray damagedPatient = Bytes(DataPath + "Patient.DBF");
    const QByteArray damagedProt = Bytes(DataPath + "FPROT.DBF");
    const QByteArray damagedMemos = Bytes(DataPath + "FPROT.DBT");

    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    const QString copy = DataPath + "Damaged/" + QDate::currentDate().toString("yyyy-MM-dd");
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 3) << texts.join("\n").toStdString();
    for (const auto& r : messages_.Records())
        EXPECT_EQ(r.kind, kui::MsgKind::Information);
    EXPECT_EQ(texts[0].toStdString(),
        QString("La table Patient.DBF était endommagée :\n"
                "- le fichier est tronqué : 3 enregistrements annoncés, 2 complets et un dernier "
                "incomplet, complété par des blancs.\n"
                "Elle a été réparée : 3 enregistrements et 9 valeurs conservés.\n"
                "Une copie des fichiers endommagés est gardée dans " +
            copy + ".")
            .toStdString());
    EXPECT_TRUE(texts[1].startsWith("La table FPROT.DBF était endommagée :\n"
                                    "- 1 renvoi vers un mémo invalide, vidé ;\n"
                                    "- 1 valeur illisible (date, nombre ou logique), vidée.\n"
                                    "Elle a été réparée : 2 enregistrements et "))
        << texts[1].toStdString();
    EXPECT_EQ(texts[2], kDone);

    EXPECT_EQ(Bytes(copy + "/Patient.DBF"), damagedPatient);
    EXPECT_EQ(Bytes(copy + "/FPROT.DBF"), damagedProt);
    EXPECT_EQ(Bytes(copy + "/FPROT.DBT"), damagedMemos);
    auto repaired = Open("Patient.DBF");
    ASSERT_EQ(repaired->recordCount(), 3u);
    EXPECT_EQ(repaired->value(3, repaired->fieldIndex("NOM")).toString(), "NOM3");
    EXPECT_NE(repaired->findKey("CODE", "000003"), 0u);
    auto prot = Open("FPROT.DBF");
    EXPECT_TRUE(prot->value(1, prot->fieldIndex("DIAG")).isNull());
    EXPECT_EQ(prot->value(1, prot->fieldIndex("INTERV")).toString(), "intervention 1");
    EXPECT_EQ(prot->value(2, prot->fieldIndex("DIAG")).toString(), "diagnostic 2");

    // Sound again: the next command reports nothing but its end.
    repaired.reset();
    prot.reset();
    messages_.Clear();
    Run(&TfrmMain::mnReindexationClick);
    EXPECT_EQ(Texts(), QStringList{kDone});
}

// A workstation stopped in the middle of a change leaves its index marked
// "in update": the next statement mends it without anybody leaving, and the
// next maintenance command tells what was done, once.
TEST_F(MaintenanceTest, AnUpdateLeftUnfinishedIsMendedByTheNextStatementAndShownByTheNextCommand)
{
    Run(&TfrmMain::mnReindexationClick);
    Open("Patient.DBF")->append({"000001", "ID1", "DUPONT"});
    const QStringList mdx = QDir(DataPath).entryList({"patient.mdx"}, QDir::Files);
    ASSERT_EQ(mdx.size(), 1);
    {
        QFile f(DataPath + mdx[0]);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek(47));
        ASSERT_EQ(f.write("\x01", 1), 1);  // the mark of a change under way
    }
    {
        auto patient = Open("Patient.DBF");
        patient->append({"000002", "ID2", "MARTIN"});
        EXPECT_EQ(patient->findKey("NOM", "DUPONT"), 1u);
        EXPECT_EQ(patient->findKey("NOM", "MARTIN"), 2u);
    }
    EXPECT_TRUE(QFile::exists(DataPath + "Damaged/" + QDate::currentDate().toString("yyyy-MM-dd") + "/" + mdx[0]));

    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join("\n").toStdString();
    EXPECT_TRUE(texts[0].startsWith("Réparations faites automatiquement depuis le dernier contrôle :\n"))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains("Patient.DBF : mise à jour interrompue par l'arrêt d'un programme ; index comparé à "
                                  "la table, entrée par entrée : conforme, remis en service"))
        << texts[0].toStdString();
    EXPECT_EQ(texts[1], kDone);

    messages_.Clear();
    Run(&TfrmMain::mnReindexationClick);
    EXPECT_EQ(Texts(), QStringList{kDone});
}

// Many repairs since the last command (a workstation stopped again and
// again): the box holds the last few, so that it fits on the screen and its
// button can be reached, and names the file that keeps them all.
TEST_F(MaintenanceTest, ManyRepairsAreShownInABoxThatFitsAndNamesTheFileKeepingThemAll)
{
    Run(&TfrmMain::mnReindexationClick);
    for (int i = 1; i <= 40; ++i)
        ASSERT_TRUE(kdb::logDamage((DataPath + "FRDV.DBF").toStdString(),
            "mise à jour interrompue par l'arrêt d'un programme ; réparation " + std::to_string(i)));
    messages_.Clear();
    Choose("mnCheckDB");
    EXPECT_TRUE(errors_.isEmpty()) << errors_.join("; ").toStdString();
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join("\n").toStdString();
    const QString box = texts[0];
    EXPECT_TRUE(box.startsWith("40 réparations faites automatiquement depuis le dernier contrôle ; les 6 dernières :\n"))
        << box.toStdString();
    EXPECT_LE(box.count('\n'), 8) << box.toStdString();
    EXPECT_TRUE(box.contains("réparation 40")) << box.toStdString();
    EXPECT_TRUE(box.contains("réparation 35\n")) << box.toStdString();
    EXPECT_FALSE(box.contains("réparation 34\n")) << box.toStdString();
    const QString kept = QDir::toNativeSeparators(DataPath + "Damaged/repairs-shown.log");
    EXPECT_TRUE(box.endsWith("Le détail de toutes est dans le fichier : " + kept)) << box.toStdString();
    QFile f(kept);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().count('\n'), 40);
    EXPECT_EQ(texts[1], kDone);

    // A few are shown whole, as before.
    ASSERT_TRUE(kdb::logDamage((DataPath + "FORD.DBF").toStdString(), "une seule"));
    messages_.Clear();
    Choose("mnReindexation");
    ASSERT_EQ(Texts().size(), 2);
    EXPECT_TRUE(Texts()[0].startsWith("Réparations faites automatiquement depuis le dernier contrôle :\n"));
    EXPECT_TRUE(Texts()[0].endsWith("FORD.DBF : une seule"));
}

// The check's boxes for damage it used to pass over: a header that does
// not read (mended from the rest of the header, or left as it is and said
// so) and a record an interrupted append left after the count.
TEST_F(MaintenanceTest, HeadersThatDoNotReadAndUncountedRecordsAreReportedInTheirOwnBoxes)
{
    Run(&TfrmMain::mnReindexationClick);
    Open("Patient.DBF")->append({"000001", "ID1", "DUPONT"});
    Open("Cons.DBF")->append({"000001", QDate(2024, 3, 1), "37.1"});
    {
        QFile f(DataPath + "Patient.DBF");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray b = f.readAll();
        const int header = static_cast<unsigned char>(b[8]) | (static_cast<unsigned char>(b[9]) << 8);
        const int recLen = static_cast<unsigned char>(b[10]) | (static_cast<unsigned char>(b[11]) << 8);
        b.truncate(header + recLen);
        QByteArray second = b.mid(header, recLen);
        second.replace(1, 6, "000002");
        b += second + char(0x1A);  // a second record, never counted
        f.seek(0);
        f.write(b);
    }
    {
        QFile f(DataPath + "Cons.DBF");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(8);
        f.write("\xFF\xFF", 2);  // a header length that cannot be
    }
    {
        QFile f(DataPath + "FPHOTO.DBF");
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        for (int field : {0, 2}) {
            f.seek(32 + 32 * field + 16);
            f.write("\0\0", 2);  // two text fields without a width
        }
    }
    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    const QString copy = DataPath + "Damaged/" + QDate::currentDate().toString("yyyy-MM-dd");
    const QStringList texts = Texts();
    ASSERT_GE(texts.size(), 4) << texts.join("\n").toStdString();
    EXPECT_TRUE(texts[0].startsWith("La table Cons.DBF était endommagée :\n"
                                    "- l'en-tête ne se lisait pas : longueur d'en-tête impossible (65535), relue à "
                                    "la fin des descriptions des champs : "))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains("Elle a été réparée : 1 enregistrement et ")) << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith("La table FPHOTO.DBF est endommagée et n'a pas pu être réparée :\n"
                                    "- l'en-tête ne se lisait pas : champ CODE sans largeur ; champ PHOTO sans "
                                    "largeur.\nElle est laissée telle quelle ; restaurez-la depuis une sauvegarde.\n"
                                    "Une copie des fichiers endommagés est gardée dans "))
        << texts[1].toStdString();
    EXPECT_TRUE(texts[2].startsWith("La table Patient.DBF était endommagée :\n"
                                    "- 1 enregistrement après la fin annoncée de la table (compte de l'en-tête en "
                                    "retard), repris.\nElle a été réparée : 2 enregistrements et "))
        << texts[2].toStdString();
    // The walk stops at the table left as it was, and says so.
    EXPECT_EQ(texts[3], kIncomplete);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].contains("FPHOTO")) << errors_[0].toStdString();
    EXPECT_EQ(Open("Patient.DBF")->recordCount(), 2u);
    EXPECT_EQ(Open("Cons.DBF")->recordCount(), 1u);
}

// A header that is read whole but does not say where the records are (its
// length a field description too long, its record length one short): the
// program's own open refuses the table in French, naming it, and the check
// repairs it from the rest of the header, keeping a copy.
TEST_F(MaintenanceTest, AHeaderThatDoesNotSayWhereTheRecordsAreIsRefusedThenRepaired)
{
    Run(&TfrmMain::mnReindexationClick);
    Open("Patient.DBF")->append({"000001", "ID1", "DUPONT", "JEAN"});
    Open("Patient.DBF")->append({"000002", "ID2", "MARTIN", "LUC"});
    Open("Cons.DBF")->append({"000002", QDate(2024, 3, 1), "37.1"});
    const QByteArray patient = Bytes(DataPath + "Patient.DBF"), cons = Bytes(DataPath + "Cons.DBF");
    auto damage = [](const QString& file, int at, int delta) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray b = f.read(12);
        const int v = (static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8)) + delta;
        const char two[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
        f.seek(at);
        f.write(two, 2);
    };
    damage(DataPath + "Patient.DBF", 8, 32);
    damage(DataPath + "Cons.DBF", 10, -1);
    const QByteArray damagedPatient = Bytes(DataPath + "Patient.DBF");

    // The screens' open.
    kdb::TableDataset t;
    t.setDatabaseName(DataPath.toStdString());
    t.setTableName("Patient.DBF");
    t.setIndexFieldNames("NOM");
    try {
        t.open();
        ADD_FAILURE() << "opened";
    } catch (const std::exception& e) {
        const QString text = kui::ExceptionText(e);
        EXPECT_TRUE(text.startsWith("Table endommagée ou d'un autre programme (en-tête incorrect) : « " + DataPath +
                        "Patient.DBF »."))
            << text.toStdString();
        EXPECT_TRUE(text.contains("Outils / Contrôle de la base de données")) << text.toStdString();
    }
    EXPECT_EQ(Bytes(DataPath + "Patient.DBF"), damagedPatient);

    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 3) << texts.join("\n").toStdString();
    EXPECT_TRUE(texts[0].startsWith("La table Cons.DBF était endommagée :\n- l'en-tête ne se lisait pas : longueur "
                                    "des enregistrements ("))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[1].startsWith("La table Patient.DBF était endommagée :\n- l'en-tête ne se lisait pas : "
                                    "longueur d'en-tête ("))
        << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains("Elle a été réparée : 2 enregistrements et ")) << texts[1].toStdString();
    EXPECT_EQ(texts[2], kDone);
    const QString copy = DataPath + "Damaged/" + QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(Bytes(copy + "/Patient.DBF"), damagedPatient);
    EXPECT_EQ(Bytes(DataPath + "Patient.DBF").mid(32), patient.mid(32));
    EXPECT_EQ(Bytes(DataPath + "Cons.DBF").mid(32), cons.mid(32));
    t.open();
    EXPECT_EQ(t.fieldByName("NOM").asString(), "DUPONT");
    EXPECT_EQ(Open("Cons.DBF")->value(1, 0).toString(), "000002");
}

// Contrôle de la base de données on the protocols' memo file: a next-free
// block that cannot be is reported and set to the end of the file, and the
// pack leaves only the memos of the protocols, whatever they were before.
TEST_F(MaintenanceTest, TheCheckMendsTheMemoFileAndThePackCompactsIt)
{
    Run(&TfrmMain::mnReindexationClick);
    {
        auto t = Open("FPROT.DBF");
        const int diag = t->fieldIndex("DIAG");
        for (int i = 1; i <= 5; ++i)
            t->append({QStringLiteral("%1").arg(i), QDate(2024, 5, i)});
        for (int round = 0; round < 60; ++round)
            for (uint32_t r = 1; r <= 5; ++r)
                t->updateFields(r, {{diag, QStringLiteral("Diagnostic %1, version %2").arg(r).arg(round)}});
    }
    const QString dbt = DataPath + "FPROT.DBT";
    const qint64 grown = QFileInfo(dbt).size();
    ASSERT_GT(grown, 300 * 512);
    {
        QFile f(dbt);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write("\xFF\xFF\xFF\xFF", 4);
    }
    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join("\n").toStdString();
    EXPECT_TRUE(texts[0].startsWith("La table FPROT.DBF était endommagée :\n- le premier bloc libre du fichier des "
                                    "mémos était impossible (4294967295) : il a été remis à la fin du fichier.\n"))
        << texts[0].toStdString();
    EXPECT_EQ(texts[1], kDone);
    EXPECT_LE(QFileInfo(dbt).size(), (1 + 5) * 512);
    auto t = Open("FPROT.DBF");
    for (uint32_t r = 1; r <= 5; ++r)
        EXPECT_EQ(t->value(r, t->fieldIndex("DIAG")).toString(), QStringLiteral("Diagnostic %1, version 59").arg(r));
}

// A memo file of zeros (its table's header sound): the program's own open
// refuses the table in French, naming the memo file, and writes nothing;
// the check says nothing of it could be saved, keeps a copy, and makes it
// anew.
TEST_F(MaintenanceTest, AMemoFileOfZerosIsRefusedThenMadeAnewByTheCheck)
{
    Run(&TfrmMain::mnReindexationClick);
    {
        auto t = Open("FPROT.DBF");
        t->append({QStringLiteral("1"), QDate(2024, 5, 1)});
        t->updateFields(1, {{t->fieldIndex("DIAG"), QStringLiteral("Fracture")}});
    }
    const QString dbt = DataPath + "FPROT.DBT";
    const QByteArray zeros(int(QFileInfo(dbt).size()), '\0');
    {
        QFile f(dbt);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(zeros);
    }
    const QByteArray table = Bytes(DataPath + "FPROT.DBF");

    kdb::TableDataset t;
    t.setDatabaseName(DataPath.toStdString());
    t.setTableName("FPROT.DBF");
    try {
        t.open();
        ADD_FAILURE() << "opened";
    } catch (const std::exception& e) {
        const QString text = kui::ExceptionText(e);
        EXPECT_TRUE(text.startsWith("Fichier des textes longs (mémos) d'une table endommagé ou absent : « " + dbt + " »."))
            << text.toStdString();
        EXPECT_TRUE(text.contains("Outils / Contrôle de la base de données")) << text.toStdString();
    }
    EXPECT_EQ(Bytes(dbt), zeros);
    EXPECT_EQ(Bytes(DataPath + "FPROT.DBF"), table);

    messages_.Clear();
    Run(&TfrmMain::mnCheckDBClick);
    const QStringList texts = Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join("\n").toStdString();
    EXPECT_TRUE(texts[0].startsWith("La table FPROT.DBF était endommagée :\n- l'en-tête du fichier des mémos ne se "
                                    "lisait pas (taille de bloc impossible (0)) : aucun mémo n'a pu en être sauvé, "
                                    "il a été recréé vide ;\n- 1 renvoi vers un mémo invalide, vidé.\n"))
        << texts[0].toStdString();
    const QString copy = DataPath + "Damaged/" + QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_TRUE(texts[0].endsWith("Une copie des fichiers endommagés est gardée dans " + copy + "."))
        << texts[0].toStdString();
    EXPECT_EQ(texts[1], kDone);
    EXPECT_EQ(Bytes(copy + "/FPROT.DBT"), zeros);
    auto f = Open("FPROT.DBF");
    EXPECT_EQ(f->recordCount(), 1u);
    EXPECT_EQ(f->value(1, f->fieldIndex("DIAG")).toString(), QString());
}

TEST_F(MaintenanceTest, AColumnNarrowedBelowItsDataIsReportedWithTheCopyOfTheTable)
{
    Run(&TfrmMain::mnReindexationClick);
    Open("Patient.DBF")->append({"000001", "ID1", "DUPONT-DURAND"});
    const QByteArray before = Bytes(DataPath + "Patient.DBF");
    QStringList& schema = frm_->DbCheckData->Descriptor;
    schema[schema.indexOf("  field(NOM;NOM;1;0;30;0)")] = "  field(NOM;NOM;1;0;6;0)";
    messages_.Clear();
    Run(&TfrmMain::mnReindexationClick);
    const QString copy = DataPath + "Damaged/" + QDate::currentDate().toString("yyyy-MM-dd");
    EXPECT_EQ(Texts(),
        (QStringList{"La modification de la structure de la table Patient.DBF a coupé ou vidé "
                     "1 valeur qui n'entrait pas dans sa nouvelle colonne ; 1 enregistrement conservé.\n"
                     "Une copie des fichiers endommagés est gardée dans " +
                copy + ".",
            kDone}));
    EXPECT_EQ(Bytes(copy + "/Patient.DBF"), before);
    EXPECT_EQ(Open("Patient.DBF")->value(1, 2).toString(), "DUPONT");
}

TEST_F(MaintenanceTest, EngineErrorsOfTheCheckAreShownInTheirOwnBox)
{
    frm_->DbCheckData->OnError(frm_->DbCheckData, EDBEngineError::noSuchTable("/cabinet/Data/FRDV.DBF"));
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_TRUE(messages_.Last().text.startsWith("[Error] Table introuvable"));
    EXPECT_TRUE(messages_.Last().text.contains("/cabinet/Data/FRDV.DBF"));
    EXPECT_EQ(messages_.Last().caption, "Error");
    EXPECT_EQ(messages_.Last().kind, kui::MsgKind::Error);
    bool correct = false;
    frm_->DbCheckData->OnFoundDiff(frm_->DbCheckData, CHK_TABLEMODIFY, "CONS", correct);
    EXPECT_TRUE(correct);
}

}  // namespace

namespace {

class FirstStartTest : public MainFixture { };

TEST_F(FirstStartTest, CreatesTheNineTablesWithTheirIndexFilesBeforeTheLogin)
{
    practice_.context().checkDatabase = {};  // the real table check
    int boxesAtLogin = -1;
    practice_.context().login = [&] {
        boxesAtLogin = messages_.Count();
        return true;
    };
    Create();
    ASSERT_TRUE(frm_->CreationCompleted());
    ASSERT_EQ(boxesAtLogin, 1);
    EXPECT_EQ(messages_.Records().first().text, "Création de la base de données terminée !");
    EXPECT_EQ(messages_.Records().first().kind, kui::MsgKind::Information);
    EXPECT_EQ(QDir(DataPath).entryList({"*.DBF"}, QDir::Files).size(), 9);

    // A second start finds Data and checks nothing, not even a missing table.
    messages_.Clear();
    QFile::remove(DataPath + "FBIO.DBF");
    frm_.reset();
    Create();
    EXPECT_EQ(messages_.Count(), 0);
    EXPECT_FALSE(QFile::exists(DataPath + "FBIO.DBF"));
}

}  // namespace
