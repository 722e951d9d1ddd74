// The table check on real tables: creation, a sound database, differences
// and their restructuring, refusals, engine failures, the repair of a
// Paradox auto-increment counter, and the created files read by an outside
// dBASE reader.
#include <cstdio>
#include <functional>
#include <set>

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "CheckerFixture.h"
#include "platform/db/dbf/DbfTable.h"

using namespace checkertest;

namespace {

std::set<std::string> tagNames(kdb::Table& t)
{
    std::set<std::string> names;
    for (const kdb::TagInfo& tag : t.tags())
        names.insert(tag.name);
    return names;
}

int fieldWidth(kdb::Table& t, const std::string& name)
{
    for (const kdb::FieldDesc& f : kdb::engine::fieldDescs(t)) {
        if (f.name == name)
            return f.units1;
    }
    return -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

TEST_F(CheckerTest, EmptyDirectoryGetsTheNineTablesFphotoWithoutIndex)
{
    check();
    std::vector<std::string> expected;
    for (const std::string& t : schemaTables()) {
        expected.push_back("diff:1:" + t);
        expected.push_back("create:" + t);
        expected.push_back("after:1:" + t);
    }
    expected.push_back("complete");
    EXPECT_EQ(log.events, expected);

    for (const std::string& t : schemaTables()) {
        const QString name = QString::fromStdString(t);
        EXPECT_FALSE(findFile(name).isEmpty()) << t;
        const QString mdx = name.left(name.indexOf(u'.')) + QStringLiteral(".MDX");
        EXPECT_EQ(findFile(mdx).isEmpty(), t == "FPHOTO.DBF") << t;
        EXPECT_EQ(kdb::engine::openTableResult(dir.toStdString(), t, "DBASE", false), 0) << t;
    }
    // Every table carries the tags its block declares, unique where declared.
    for (const dbcheck::TableBlock& b : dbcheck::ParseDescriptor(SchemaText())) {
        const auto table = open(b.fileName);
        std::set<std::string> declared, declaredUnique, made, madeUnique;
        for (const kdb::IndexDesc& x : b.indexes) {
            declared.insert(x.tagName);
            if (x.unique)
                declaredUnique.insert(x.tagName);
        }
        for (const kdb::TagInfo& tag : table->tags()) {
            made.insert(tag.name);
            if (tag.unique)
                madeUnique.insert(tag.name);
        }
        EXPECT_EQ(made, declared) << b.fileName.toStdString();
        EXPECT_EQ(madeUnique, declaredUnique) << b.fileName.toStdString();
    }
}

TEST_F(CheckerTest, DeletedTableFileIsCreatedAgain)
{
    check();
    ASSERT_TRUE(QFile::remove(dir + findFile(QStringLiteral("FRDV.DBF"))));
    check();
    EXPECT_EQ(log.about("FRDV"), (std::vector<std::string>{"diff:1:FRDV.DBF", "create:FRDV.DBF", "after:1:FRDV.DBF"}));
    EXPECT_TRUE(log.about("diff:2").empty());
    EXPECT_FALSE(findFile(QStringLiteral("FRDV.DBF")).isEmpty());
}

TEST_F(CheckerTest, RefusedCreationLeavesTheDirectoryEmpty)
{
    log.refuse = true;
    check();
    for (const std::string& t : schemaTables())
        EXPECT_EQ(log.about(":" + t), (std::vector<std::string>{"diff:1:" + t, "after:0:" + t}));
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());
}

// ---------------------------------------------------------------------------
// Existing tables

TEST_F(CheckerTest, SoundDatabaseShowsNoDifferenceOnTheSecondCheck)
{
    check();
    check();
    std::vector<std::string> expected;
    for (const std::string& t : schemaTables()) {
        expected.push_back("before:0:" + t);
        expected.push_back("after:0:" + t);
    }
    expected.push_back("complete");
    EXPECT_EQ(log.events, expected);
}

TEST_F(CheckerTest, ExtraColumnNotInTheSchemaIsNoDifference)
{
    check();
    kdb::TableDesc extra;
    extra.tableName = "Patient.DBF";
    extra.tableType = "DBASE";
    extra.fields = kdb::engine::fieldDescs(*open(QStringLiteral("Patient.DBF")));
    kdb::FieldDesc note;
    note.name = "REMARQUE";
    note.type = kdb::fldZSTRING;
    note.units1 = 20;
    note.restructOp = kdb::crADD;
    extra.fields.push_back(note);
    ASSERT_EQ(kdb::engine::restructureTable(dir.toStdString(), extra), 0);
    ASSERT_EQ(fieldWidth(*open(QStringLiteral("Patient.DBF")), "REMARQUE"), 20);

    check();
    EXPECT_EQ(log.about("Patient"), (std::vector<std::string>{"before:0:Patient.DBF", "after:0:Patient.DBF"}));
    EXPECT_EQ(fieldWidth(*open(QStringLiteral("Patient.DBF")), "REMARQUE"), 20);
}

TEST_F(CheckerTest, WidenedColumnIsRestructuredKeepingTheDataOnceAccepted)
{
    check();
    {
        const auto patient = open(QStringLiteral("Patient.DBF"));
        patient->append(
            {QStringLiteral("000001"), QStringLiteral("A1"), QStringLiteral("DUPONT"), QStringLiteral("Jérôme")});
        patient->append({QStringLiteral("000002"), QStringLiteral("B2"), QStringLiteral("MARTIN")});
        patient->deleteRecord(2);
        patient->flush();
    }
    replaceLine(QStringLiteral("  field(NOM;NOM;1;0;30;0)"), QStringLiteral("  field(NOM;NOM;1;0;40;0)"));
    // Refused: the table stays as it is.
    log.refuse = true;
    check();
    EXPECT_EQ(log.about("Patient"),
        (std::vector<std::string>{
            "before:0:Patient.DBF", "modifyfield:Patient.DBF:NOM", "diff:2:Patient.DBF", "after:0:Patient.DBF"}));
    EXPECT_EQ(fieldWidth(*open(QStringLiteral("Patient.DBF")), "NOM"), 30);

    log.refuse = false;
    check();
    EXPECT_EQ(log.about("Patient"),
        (std::vector<std::string>{"before:0:Patient.DBF", "modifyfield:Patient.DBF:NOM", "diff:2:Patient.DBF",
            "modifytable:Patient.DBF", "after:2:Patient.DBF"}));
    EXPECT_EQ(log.about("diff:").size(), 1u);

    const auto patient = open(QStringLiteral("Patient.DBF"));
    EXPECT_EQ(fieldWidth(*patient, "NOM"), 40);
    ASSERT_EQ(patient->recordCount(), 1u);  // packed
    EXPECT_EQ(patient->value(1, patient->fieldIndex("CODE")).toString(), QStringLiteral("000001"));
    EXPECT_EQ(patient->value(1, patient->fieldIndex("NOM")).toString(), QStringLiteral("DUPONT"));
    EXPECT_EQ(patient->value(1, patient->fieldIndex("PRENOM")).toString(), QStringLiteral("Jérôme"));
    EXPECT_EQ(patient->findKey("CODE", QStringLiteral("000001")), 1u);

    check();
    EXPECT_TRUE(log.about("diff:").empty());
}

TEST_F(CheckerTest, DamagedTablesAreKeptRepairedAndReported)
{
    check();
    {
        const auto cons = open(QStringLiteral("Cons.DBF"));
        for (int i = 1; i <= 3; ++i)
            cons->append({QStringLiteral("00000%1").arg(i), QDate(2024, 3, i), QStringLiteral("37.%1").arg(i)});
        const auto patient = open(QStringLiteral("Patient.DBF"));
        patient->append({QStringLiteral("000001"), QStringLiteral("A1"), QStringLiteral("DUPONT")});
    }
    // Cons: the date of its second record does not read, its file ends
    // inside the third; Patient: a declared name narrower than its data.
    {
        QFile f(dir + findFile(QStringLiteral("Cons.DBF")));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const QByteArray h = f.read(12);
        const int header = static_cast<unsigned char>(h[8]) | (static_cast<unsigned char>(h[9]) << 8);
        const int recLen = static_cast<unsigned char>(h[10]) | (static_cast<unsigned char>(h[11]) << 8);
        f.seek(header + recLen + 1 + 10);
        f.write("2024XX01");
        ASSERT_TRUE(f.resize(header + 2 * recLen + 30));
    }
    replaceLine(QStringLiteral("  field(NOM;NOM;1;0;30;0)"), QStringLiteral("  field(NOM;NOM;1;0;4;0)"));
    check();
    EXPECT_EQ(
        log.about("damage"), (std::vector<std::string>{"damage:Cons.DBF:short,values=1", "damage:Patient.DBF:cut=1"}));
    EXPECT_EQ(log.about("Patient"),
        (std::vector<std::string>{"before:0:Patient.DBF", "modifyfield:Patient.DBF:NOM", "diff:2:Patient.DBF",
            "damage:Patient.DBF:cut=1", "modifytable:Patient.DBF", "after:2:Patient.DBF"}));
    const auto cons = open(QStringLiteral("Cons.DBF"));
    ASSERT_EQ(cons->recordCount(), 3u);
    EXPECT_TRUE(cons->value(2, cons->fieldIndex("DCONS")).isNull());
    EXPECT_EQ(cons->value(3, cons->fieldIndex("DCONS")).toDate(), QDate(2024, 3, 3));
    EXPECT_EQ(cons->findKey("DCONS", QDate(2024, 3, 3)), 3u);
    EXPECT_EQ(open(QStringLiteral("Patient.DBF"))->value(1, 2).toString(), QStringLiteral("DUPO"));

    check();
    EXPECT_TRUE(log.about("damage").empty());
}

// Damage the check used to pass over: tables whose header does not read, a
// record an append left after the count, an index whose free-block list
// loops. Each is kept in a copy, reported, and repaired when the rest of
// the file tells how; what cannot be repaired is reported as it is.
TEST_F(CheckerTest, HeadersThatDoNotReadRecordsAfterTheCountAndLoopingFreeListsAreReportedAndRepaired)
{
    check();
    {
        const auto patient = open(QStringLiteral("Patient.DBF"));
        for (int i = 1; i <= 3; ++i)
            patient->append(
                {QStringLiteral("00000%1").arg(i), QStringLiteral("A%1").arg(i), QStringLiteral("NOM%1").arg(i)});
        const auto cons = open(QStringLiteral("Cons.DBF"));
        cons->append({QStringLiteral("000001"), QDate(2024, 3, 1), QStringLiteral("37.1")});
        const auto rdv = open(QStringLiteral("FRDV.DBF"));
        rdv->append({QStringLiteral("000001"), QStringLiteral("000001"), QDate(2024, 3, 1), QStringLiteral("10:00"),
            QStringLiteral("contrôle")});
        const auto bio = open(QStringLiteral("FBIO.DBF"));
        bio->append({QStringLiteral("A00"), QStringLiteral("NFS")});
    }
    auto edit = [this](const QString& table, const std::function<void(QByteArray&)>& change) {
        QFile f(dir + findFile(table));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        change(bytes);
        ASSERT_TRUE(f.resize(0));
        ASSERT_EQ(f.write(bytes), bytes.size());
    };
    auto u16 = [](const QByteArray& b, int at) {
        return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
    };
    auto put32 = [](QByteArray& b, int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    // Cons: a header length of 0xFFFF.
    edit(QStringLiteral("Cons.DBF"), [](QByteArray& b) { b[8] = b[9] = char(0xFF); });
    // FRDV: its last field (MOTIF, 50 wide) without a width.
    edit(QStringLiteral("FRDV.DBF"), [](QByteArray& b) { b[32 + 4 * 32 + 16] = b[32 + 4 * 32 + 17] = 0; });
    // FPHOTO: two text fields without a width: nothing tells them apart.
    edit(QStringLiteral("FPHOTO.DBF"), [](QByteArray& b) {
        b[32 + 16] = b[32 + 17] = 0;
        b[32 + 2 * 32 + 16] = b[32 + 2 * 32 + 17] = 0;
    });
    // Patient: a fourth record written after the three counted ones, then
    // the half of a fifth.
    int patientRecLen = 0;
    edit(QStringLiteral("Patient.DBF"), [&](QByteArray& b) {
        const int header = u16(b, 8), recLen = u16(b, 10);
        patientRecLen = recLen;
        b.truncate(header + 3 * recLen);
        QByteArray fourth = b.mid(header, recLen);
        fourth.replace(1, 6, "000004");
        b += fourth;
        b += fourth.left(recLen / 2);
        b += char(0x1A);
    });
    // FBIO: a free block whose link points at itself, counted twice.
    edit(QStringLiteral("FBIO.MDX"), [&](QByteArray& b) {
        const int blockPages = u16(b, 20);
        const uint32_t page = static_cast<uint32_t>(b.size() / 512);
        QByteArray block(blockPages * 512, '\0');
        put32(block, 4, page);
        b += block;
        put32(b, 32, page + static_cast<uint32_t>(blockPages));
        put32(b, 36, page);
        put32(b, 40, 2);
    });

    check();
    EXPECT_EQ(log.about("damage"),
        (std::vector<std::string>{"damage:Cons.DBF:header", "damage:FPHOTO.DBF:header-unrepaired",
            "damage:FRDV.DBF:header", "damage:FBIO.DBF:stale",
            "damage:Patient.DBF:taken-back=1,bytes-after=" + std::to_string(1 + (patientRecLen / 2))}));
    const auto cons = open(QStringLiteral("Cons.DBF"));
    ASSERT_EQ(cons->recordCount(), 1u);
    EXPECT_EQ(cons->value(1, cons->fieldIndex("DCONS")).toDate(), QDate(2024, 3, 1));
    const auto rdv = open(QStringLiteral("FRDV.DBF"));
    EXPECT_EQ(rdv->value(1, rdv->fieldIndex("MOTIF")).toString(), QStringLiteral("contrôle"));
    EXPECT_EQ(rdv->findKey("DATE_RDV", QDate(2024, 3, 1)), 1u);
    {
        // The record after the count is taken back, the file ends with it.
        const auto patient = open(QStringLiteral("Patient.DBF"));
        EXPECT_EQ(patient->recordCount(), 4u);
        EXPECT_EQ(patient->findKey("CODE", QStringLiteral("000004")), 4u);
        EXPECT_EQ(QFileInfo(dir + findFile(QStringLiteral("Patient.DBF"))).size(),
            qint64(patient->recordCount()) * patient->recordSize() + 32 + 32 * qint64(patient->fields().size()) + 1 +
                1);
    }
    {
        // The index made anew takes inserts again without losing any.
        const auto bio = open(QStringLiteral("FBIO.DBF"));
        for (int i = 1; i <= 300; ++i)
            bio->append({QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("EXAMEN %1").arg(i)});
        bio->flush();
        for (int i = 1; i <= 300; ++i)
            ASSERT_NE(bio->findKey("CODE", QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'))), 0u) << i;
    }
    EXPECT_EQ(kdb::DbfTable::probe((dir + findFile(QStringLiteral("FBIO.DBF"))).toStdString(), false), 0);

    // Repaired: nothing more to say; the table no fix could mend, again.
    check();
    EXPECT_EQ(log.about("damage"), (std::vector<std::string>{"damage:FPHOTO.DBF:header-unrepaired"}));
}

TEST_F(CheckerTest, MissingColumnIsAddedAndUndeclaredIndexDropped)
{
    // An older layout: Patient without ANTFAM and with an index the schema
    // no longer declares.
    replaceLine(QStringLiteral("  field(ANTFAM;ANTFAM;1;0;100;0)"), QString());
    chk.Descriptor.insert(chk.Descriptor.indexOf(QStringLiteral("object Table: FPROT.DBF")) - 1,
        QStringLiteral("  index(H:\\KORVALE_D7\\DATA\\PATIENT.MDX;PRENOM;1;4;0;0;0;1;0;0;0;PRENOM;"
                       "BTREE;513;PRENOM;)"));
    check();
    {
        const auto patient = open(QStringLiteral("Patient.DBF"));
        EXPECT_EQ(tagNames(*patient), (std::set<std::string>{"CODE", "NOM", "PRENOM"}));
        EXPECT_EQ(fieldWidth(*patient, "ANTFAM"), -1);
        patient->append({QStringLiteral("000007"), QStringLiteral("X7"), QStringLiteral("DURAND")});
        patient->flush();
    }

    chk.Descriptor = SchemaText();
    check();
    EXPECT_EQ(log.about("Patient"),
        (std::vector<std::string>{"before:0:Patient.DBF", "addfield:Patient.DBF:ANTFAM", "diff:2:Patient.DBF",
            "modifytable:Patient.DBF", "after:2:Patient.DBF"}));
    const auto patient = open(QStringLiteral("Patient.DBF"));
    EXPECT_EQ(tagNames(*patient), (std::set<std::string>{"CODE", "NOM"}));
    EXPECT_EQ(fieldWidth(*patient, "ANTFAM"), 100);
    EXPECT_EQ(patient->findKey("NOM", QStringLiteral("DURAND")), 1u);

    check();
    EXPECT_TRUE(log.about("diff:").empty());
}

TEST_F(CheckerTest, ChangedIndexIsModified)
{
    check();
    replaceLine(QStringLiteral("  index(H:\\KORVALE_D7\\DATA\\PATIENT.MDX;NOM;1;3;0;0;0;1;0;0;0;NOM;BTREE;513;NOM;)"),
        QStringLiteral("  index(H:\\KORVALE_D7\\DATA\\PATIENT.MDX;NOM;1;3;0;33;0;1;0;0;0;NOM;BTREE;513;NOM;)"));
    check();
    EXPECT_EQ(log.about("Patient"),
        (std::vector<std::string>{
            "before:0:Patient.DBF", "diff:2:Patient.DBF", "modifytable:Patient.DBF", "after:2:Patient.DBF"}));
    const auto patient = open(QStringLiteral("Patient.DBF"));
    const std::vector<kdb::TagInfo> tags = patient->tags();
    const auto nom = std::find_if(tags.begin(), tags.end(), [](const kdb::TagInfo& t) { return t.name == "NOM"; });
    ASSERT_NE(nom, tags.end());
    EXPECT_TRUE(nom->unique);
}

TEST_F(CheckerTest, OutOfDateIndexFileIsRebuiltAndTheDataKept)
{
    check();
    {
        const auto cons = open(QStringLiteral("Cons.DBF"));
        cons->append({QStringLiteral("000001"), QDate(2024, 3, 1), QStringLiteral("37.5")});
        cons->flush();
    }
    const QString mdx = dir + findFile(QStringLiteral("CONS.MDX"));
    QFile f(mdx);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(1024, '\x5A'));
    f.close();
    ASSERT_EQ(kdb::engine::openTableResult(dir.toStdString(), "Cons.DBF", "DBASE", false), kdb::DBERR_INDEXOUTOFDATE);

    check();
    EXPECT_EQ(log.about("Cons"),
        (std::vector<std::string>{"damage:Cons.DBF:stale,tags-lost", "before:0:Cons.DBF", "diff:2:Cons.DBF",
            "modifytable:Cons.DBF", "after:2:Cons.DBF"}));
    EXPECT_EQ(kdb::engine::openTableResult(dir.toStdString(), "Cons.DBF", "DBASE", false), 0);
    const auto cons = open(QStringLiteral("Cons.DBF"));
    ASSERT_EQ(cons->recordCount(), 1u);
    EXPECT_EQ(cons->value(1, cons->fieldIndex("TEMP")).toString(), QStringLiteral("37.5"));
    EXPECT_EQ(cons->findKey("DCONS", QDate(2024, 3, 1)), 1u);
}

TEST_F(CheckerTest, IndexInByteOrderIsRebuiltInTheCollationOfTheTable)
{
    check();
    {
        const auto patient = open(QStringLiteral("Patient.DBF"));
        for (const char* nom : {"FABIEN", "ÉMILE", "EVA", "ŒUVRE", "PAUL"})
            patient->append({QStringLiteral("00000%1").arg(patient->recordCount() + 1), QStringLiteral("A1"),
                QString::fromUtf8(nom)});
        patient->flush();
    }
    // Tag headers without the mark of their collation: an index written in
    // byte order by an earlier version.
    const QString mdx = dir + findFile(QStringLiteral("PATIENT.MDX"));
    QFile f(mdx);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray d = f.readAll();
    const auto* u = reinterpret_cast<const unsigned char*>(d.constData());
    for (int i = 0; i < (u[28] | u[29] << 8); ++i) {
        const unsigned char* e = u + 544 + 32 * i;
        const qsizetype page = e[0] | e[1] << 8 | e[2] << 16 | qsizetype(e[3]) << 24;
        d.replace(page * 512 + 260, 4, QByteArray(4, '\0'));
    }
    f.seek(0);
    f.write(d);
    f.close();
    ASSERT_EQ(
        kdb::engine::openTableResult(dir.toStdString(), "Patient.DBF", "DBASE", false), kdb::DBERR_INDEXOUTOFDATE);

    check();
    EXPECT_EQ(kdb::engine::openTableResult(dir.toStdString(), "Patient.DBF", "DBASE", false), 0);
    const auto patient = open(QStringLiteral("Patient.DBF"));
    std::vector<QString> noms;
    auto c = patient->openTag("NOM");
    for (uint32_t r = c->first(); r != 0; r = c->next())
        noms.push_back(patient->value(r, patient->fieldIndex("NOM")).toString());
    EXPECT_EQ(noms, (std::vector<QString>{"EVA", "ÉMILE", "FABIEN", "ŒUVRE", "PAUL"}));
}

// ---------------------------------------------------------------------------
// Display names, failures, the Descriptor

TEST_F(CheckerTest, EventsOfTheCheckCarryDisplayNamesAndFileNames)
{
    chk.ReadFiles = QStringList{QStringLiteral("CONS=Consultations"), QStringLiteral("patient.dbf|Patients"),
        QStringLiteral("FBIO="), QStringLiteral("FBIO.DBF|Biologie")};
    chk.Descriptor = chk.Descriptor.mid(0, chk.Descriptor.indexOf(QStringLiteral("object Table: EXCOMP.DBF")));
    chk.Descriptor << SchemaText().mid(SchemaText().indexOf(QStringLiteral("object Table: FBIO.DBF")), 6)
                   << SchemaText().mid(SchemaText().indexOf(QStringLiteral("object Table: Patient.DBF")));
    ASSERT_EQ(dbcheck::ParseDescriptor(chk.Descriptor).size(), 4u);
    check();
    EXPECT_EQ(log.events,
        (std::vector<std::string>{"diff:1:Consultations", "create:Cons.DBF", "after:1:Consultations", "diff:1:Biologie",
            "create:FBIO.DBF", "after:1:Biologie", "diff:1:Patients", "create:Patient.DBF", "after:1:Patients",
            "diff:1:FPROT.DBF", "create:FPROT.DBF", "after:1:FPROT.DBF", "complete"}));
}

TEST_F(CheckerTest, FailedCreationIsReportedAndTheCheckGoesOn)
{
    chk.Descriptor = QStringList{QStringLiteral("object Table: BAD.DBF"), QStringLiteral("  field(X;X;99;0;5;0)"),
                         QStringLiteral("end")} +
        SchemaText().mid(0, SchemaText().indexOf(QStringLiteral("object Table: EXCOMP.DBF")));
    check();
    ASSERT_EQ(log.events.size(), 7u);
    EXPECT_EQ(log.events[0], "diff:1:BAD.DBF");
    EXPECT_EQ(log.events[1].rfind("error:", 0), 0u) << log.events[1];
    EXPECT_NE(log.events[1], "error:0");
    EXPECT_EQ(log.events[2], "after:0:BAD.DBF");
    EXPECT_EQ(std::vector<std::string>(log.events.begin() + 3, log.events.end()),
        (std::vector<std::string>{"diff:1:Cons.DBF", "create:Cons.DBF", "after:1:Cons.DBF", "complete"}));
}

TEST_F(CheckerTest, DescriptorOutsideTheGrammarChangesNothing)
{
    chk.Descriptor.insert(chk.Descriptor.lastIndexOf(QStringLiteral("end")), QStringLiteral("  champ(X)"));
    EXPECT_THROW(check(), dbcheck::EDescriptorError);
    EXPECT_TRUE(log.events.empty());
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());

    chk.Descriptor = SchemaText().mid(0, SchemaText().size() - 1);  // last "end" missing
    EXPECT_THROW(check(), dbcheck::EDescriptorError);
    EXPECT_TRUE(log.events.empty());
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());

    chk.Descriptor = QStringList();
    check();
    EXPECT_EQ(log.events, std::vector<std::string>{"complete"});
}

TEST_F(CheckerTest, ParseAndKeywordFollowTheLinePosition)
{
    chk.SetLinePosition(0);
    EXPECT_EQ(chk.ReadKeyword(), QStringLiteral("OBJECT"));
    uint16_t fieldCount = 99, indexCount = 99;
    std::vector<kdb::FieldDesc> fields(3);
    std::vector<kdb::IndexDesc> indexes(3);
    chk.ParseTableDescriptor(fieldCount, indexCount, fields, indexes);
    // The first block of the schema, as the whole-text reader sees it.
    const dbcheck::TableBlock first = dbcheck::ParseDescriptor(chk.Descriptor).front();
    EXPECT_EQ(fieldCount, first.fields.size());
    EXPECT_EQ(indexCount, first.indexes.size());
    EXPECT_EQ(fields.size(), first.fields.size());
    EXPECT_EQ(chk.ReadKeyword(), QStringLiteral("END"));
    EXPECT_EQ(chk.LinePosition(), chk.Descriptor.indexOf(QStringLiteral("end")));

    chk.SetLinePosition(1);
    chk.ParseTableDescriptor(fieldCount, indexCount, fields, indexes);
    EXPECT_EQ(fieldCount, 0);
    EXPECT_TRUE(fields.empty());
    EXPECT_EQ(chk.LinePosition(), 1);

    chk.SetLinePosition(chk.Descriptor.size());
    EXPECT_THROW(chk.ReadKeyword(), dbcheck::EDescriptorError);
}

// ---------------------------------------------------------------------------
// The auto-increment counter of a Paradox table

class AutoIncRepair : public CheckerTest {
protected:
    static constexpr qint64 kCounter = 73;

    void SetUp() override
    {
        CheckerTest::SetUp();
        chk.Descriptor =
            QStringList{QStringLiteral("object Table: USERS.DB"), QStringLiteral("  field(NUM;NUM;6;29;4;0)"),
                QStringLiteral("  field(NOM;NOM;1;0;20;0)"), QStringLiteral("end")};
        log.refuse = true;  // only the repair is looked at here
    }

    // Creates the table holding the given numbers, in this order.
    void makeTable(const std::vector<int>& numbers)
    {
        kdb::TableDesc desc;
        desc.tableName = "USERS.DB";
        desc.tableType = "PARADOX";
        for (const dbcheck::TableBlock& b : dbcheck::ParseDescriptor(chk.Descriptor))
            desc.fields = b.fields;
        desc.fields[0].type = kdb::fldINT32;
        for (auto& f : desc.fields)
            f.restructOp = kdb::crADD;
        ASSERT_EQ(kdb::engine::createTable(dir.toStdString(), desc), 0);
        const auto t = open(QStringLiteral("USERS.DB"));
        for (int n : numbers)
            t->append({n, QStringLiteral("U%1").arg(n)});
        t->flush();
    }

    int32_t counter() const
    {
        QFile f(dir + QStringLiteral("USERS.DB"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        f.seek(kCounter);
        const QByteArray b = f.read(4);
        EXPECT_EQ(b.size(), 4);
        return int32_t(uint8_t(b[0]) | uint8_t(b[1]) << 8 | uint8_t(b[2]) << 16 | uint32_t(uint8_t(b[3])) << 24);
    }

    void setCounter(int32_t v)
    {
        QFile f(dir + QStringLiteral("USERS.DB"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(kCounter);
        const char bytes[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        f.write(bytes, 4);
    }
};

TEST_F(AutoIncRepair, CounterIsRaisedToTheHighestValueInUseOnly)
{
    const struct {
        std::vector<int> numbers;
        int32_t stored, kept;
    } cases[] = {{{3, 7, 9}, 5, 9}, {{9, 4}, 5, 9}, {{3, 7, 9}, 9, 9}, {{3, 7, 9}, 12, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << c.stored << ", highest " << c.kept);
        QFile::remove(dir + QStringLiteral("USERS.DB"));
        makeTable(c.numbers);
        setCounter(c.stored);
        log.events.clear();
        check();
        EXPECT_EQ(log.about("before:3").size(), c.stored == c.kept ? 0u : 1u);
        EXPECT_TRUE(log.about("error").empty());
        EXPECT_EQ(counter(), c.kept);
    }
}

TEST_F(AutoIncRepair, TableHeldByAnotherUserIsReportedNotWritten)
{
    makeTable({3, 7, 9});
    setCounter(5);
    const auto held = open(QStringLiteral("USERS.DB"));
    check();
    EXPECT_EQ(log.about("before:3").size(), 1u);
    EXPECT_EQ(log.about("error"), std::vector<std::string>{"error:10243"});
    EXPECT_EQ(counter(), 5);
}

// ---------------------------------------------------------------------------
// The created tables as an outside dBASE reader sees them

TEST_F(CheckerTest, OutsideReaderSeesTheDeclaredFieldsAndWidths)
{
    QString python;
    for (const char* candidate : {"/usr/bin/python3", "python3"}) {
        const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(candidate));
        if (exe.isEmpty())
            continue;
        if (QProcess::execute(exe, {QStringLiteral("-c"), QStringLiteral("import dbfread")}) == 0) {
            python = exe;
            break;
        }
    }
    if (python.isEmpty())
        GTEST_SKIP() << "python3 with dbfread is not available";

    check();
    QProcess reader;
    QStringList args{QStringLiteral(CHECKER_TEST_DIR "/dbf_fields.py"), dir};
    for (const std::string& t : schemaTables())
        args << QString::fromStdString(t);
    reader.start(python, args);
    ASSERT_TRUE(reader.waitForFinished(60000));
    ASSERT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    const QStringList lines = QString::fromUtf8(reader.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);

    // Expected "TABLE FIELD TYPE LENGTH DECIMALS" lines from the schema.
    QStringList expected;
    for (const dbcheck::TableBlock& b : dbcheck::ParseDescriptor(SchemaText())) {
        const QString table = b.fileName.left(b.fileName.indexOf(u'.')).toUpper();
        for (const kdb::FieldDesc& f : b.fields) {
            QString kind;
            switch (f.type) {
            case kdb::fldZSTRING:
                kind = QStringLiteral("C %1 0").arg(f.units1);
                break;
            case kdb::fldDATE:
                kind = QStringLiteral("D 8 0");
                break;
            case kdb::fldBLOB:
                kind = QStringLiteral("M 10 0");
                break;
            case kdb::fldINT16:
                kind = QStringLiteral("N *");
                break;  // numeric, width of the engine's choice
            case kdb::fldFLOAT:
                kind = QStringLiteral("N %1 %2").arg(f.units1).arg(f.units2);
                break;
            }
            expected << table + u' ' + QString::fromStdString(f.name) + u' ' + kind;
        }
    }
    ASSERT_EQ(lines.size(), expected.size()) << reader.readAllStandardOutput().toStdString();
    for (int i = 0; i < lines.size(); ++i) {
        if (expected[i].endsWith(QLatin1String("N *")))
            EXPECT_TRUE(lines[i].startsWith(expected[i].chopped(1)) && lines[i].endsWith(QLatin1String(" 0")))
                << lines[i].toStdString();
        else
            EXPECT_EQ(lines[i].toStdString(), expected[i].toStdString());
    }
}
