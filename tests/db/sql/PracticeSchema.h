#pragma once
// The nine tables of the practice, as the program's schema text declares
// them, and the user table, as in-memory tables.
#include <functional>

#include "MemTable.h"
#include "tests/support/SchemaTables.h"

namespace kdbtest {

struct TableDef {
    std::string name;
    std::vector<MemColumn> columns;
    std::vector<MemTag> tags;
};

// A table of the schema text in the in-memory table's terms.
inline TableDef tableDefOf(const kdb::TableDesc& table)
{
    TableDef t;
    t.name = table.tableName;
    for (const kdb::FieldDesc& f : table.fields) {
        char kind = 'N';
        switch (f.type) {
        case kdb::fldZSTRING:
            kind = 'C';
            break;
        case kdb::fldDATE:
            kind = 'D';
            break;
        case kdb::fldBLOB:
            kind = 'M';
            break;
        case kdb::fldINT16:
            kind = 'I';
            break;
        default:
            break;
        }
        t.columns.push_back({f.name, kind, kind == 'C' || kind == 'N' ? f.units1 : 0});
    }
    for (const kdb::IndexDesc& x : table.indexes)
        t.tags.push_back({x.tagName, x.keyExpr, x.unique != 0});
    return t;
}

// The tables of the schema text, then the user table (a Paradox table the
// schema text does not hold).
inline std::vector<TableDef> practiceTables()
{
    std::vector<TableDef> tables;
    for (const kdb::TableDesc& table : schemaTables())
        tables.push_back(tableDefOf(table));
    tables.push_back({"USERS.DB",
        {{"USERID", 'C', 10}, {"NOM", 'C', 30}, {"PRENOM", 'C', 30}, {"ACCES", 'C', 10}, {"PW", 'C', 20}}, {}});
    return tables;
}

inline void addPracticeTables(MemDatabase& db)
{
    for (const TableDef& t : practiceTables())
        db.add(t.name, t.columns, t.tags);
}

inline QDate d(int y, int m, int day)
{
    return QDate(y, m, day);
}

// A small practice: five patients, four consultations, exams, prescriptions,
// photos, appointments and protocols.
// Appends one record to a table of the practice.
using Appender = std::function<void(const std::string& table, const std::vector<QVariant>& values)>;

inline void fillPractice(const Appender& add)
{
    add("PATIENT", {"000001", "A1", "DUPONT", "JEAN", "1 RUE A", "", "01/02/1960", "", "", "M", "", "MAÇON"});
    add("PATIENT", {"000002", "A2", "DURAND", "MARIE", "2 RUE B", "", "00/00/1975", "", "", "F", "", "INSTITUTRICE"});
    add("PATIENT", {"000003", "A3", "MARTIN", "PAUL", "3 RUE C", "", "15/08/1990", "", "", "M", "", ""});
    add("PATIENT", {"000004", "A4", "D'ARC", "JEANNE", "", "", "", "", "", "F", "", ""});
    add("PATIENT", {"000005", "A5", "DUPONT", "ALAIN", "", "", "", "", "", "M", "", ""});
    add("CONS", {"000001", d(2024, 3, 5), "38", "12/7", "80", "", "FIEVRE", "GRIPPE", "", "REPOS", "", 1});
    add("CONS", {"000002", d(2024, 1, 10), "", "", "", "", "TOUX", "", "", "SIROP", "", 2});
    add("CONS", {"000001", d(2023, 12, 1), "", "", "", "", "FIEVRE", "ANGINE", "", "AMOXICILLINE", "", 3});
    add("CONS", {"000001", d(2024, 6, 1), "", "", "", "", "", "GRIPPE", "", "REPOS", "", 4});
    add("EXCOMP", {"000001", "000001", d(2024, 3, 5), "B", "001", "NORMAL"});
    add("EXCOMP", {"000002", "000001", d(2024, 3, 5), "R", "002", "RAS"});
    add("EXCOMP", {"000003", "000001", d(2024, 4, 1), "B", "002", "1.10"});
    add("EXCOMP", {"000004", "000002", d(2024, 3, 5), "B", "001", "ANEMIE"});
    add("FORD", {"1", 1, "DOLIPRANE", "CP", "1G", "1 BOITE", "3/J"});
    add("FORD", {"1", 2, "SPASFON", "CP", "80MG", "1 BOITE", "2/J"});
    add("FORD", {"2", 1, "AMOXICILLINE", "GEL", "1G", "2 BOITES", "2/J"});
    add("FORD", {"10", 1, "VENTOLINE", "SPRAY", "", "1", "SI BESOIN"});
    add("FPHOTO", {"000001", "1", "A.JPG"});
    add("FPHOTO", {"000001", "3", "B.JPG"});
    add("FPHOTO", {"000002", "1", "C.JPG"});
    add("FRDV", {"000001", "000002", d(2024, 3, 5), "10:30", "CONTROLE"});
    add("FRDV", {"000002", "000001", d(2024, 3, 5), "09:00", "VACCIN"});
    add("FRDV", {"000003", "000009", d(2024, 3, 4), "08:00", "ORPHELIN"});
    add("FRDV", {"000004", "000003", d(2024, 3, 1), "11:00", "BILAN"});
    add("FBIO", {"001", "NFS"});
    add("FBIO", {"002", "GLYCEMIE"});
    add("FRADIO", {"001", "THORAX"});
    add("FRADIO", {"002", "ABDOMEN"});
    add("FPROT",
        {"000001", d(2024, 2, 1), "000001", "DUPONT", "JEAN", "64", "CLINIQUE DU PARC", "DR X", "", "", "APPENDICITE",
            "APPENDICECTOMIE"});
    add("FPROT", {"000002", d(2023, 5, 1), "000003", "MARTIN", "PAUL", "33"});
}

inline void fillPractice(MemDatabase& db)
{
    fillPractice([&db](const std::string& t, const std::vector<QVariant>& v) { db.get(t)->append(v); });
}

}  // namespace kdbtest
