#pragma once
// The nine tables of the practice as engine descriptors (for the benchmarks).
#include <string>
#include <vector>

#include "core/EngineTypes.h"

namespace kbench {

inline kdb::FieldDesc field(const char* name, uint16_t type, int16_t size, uint16_t subType = 0)
{
    kdb::FieldDesc f;
    f.name = name;
    f.type = type;
    f.subType = subType;
    f.units1 = size;
    f.restructOp = kdb::crADD;
    return f;
}
inline kdb::FieldDesc C(const char* n, int16_t w) { return field(n, kdb::fldZSTRING, w); }
inline kdb::FieldDesc D(const char* n) { return field(n, kdb::fldDATE, 1); }
inline kdb::FieldDesc M(const char* n) { return field(n, kdb::fldBLOB, 1, kdb::fldstMEMO); }
inline kdb::FieldDesc I(const char* n) { return field(n, kdb::fldINT16, 4); }

inline kdb::IndexDesc tag(const char* table, const char* name, uint16_t keyField, bool unique, uint16_t keyType,
                          const char* expr)
{
    kdb::IndexDesc i;
    i.name = std::string(table) + ".MDX";
    i.tagName = name;
    i.fieldsInKey = keyField ? 1 : 0;
    i.keyFields[0] = keyField;
    i.unique = unique ? kdb::kTrue : 0;
    i.maintained = kdb::kTrue;
    i.expression = keyField ? 0 : kdb::kTrue;
    i.format = "BTREE";
    i.keyExpType = keyType;
    i.keyExpr = expr;
    i.restructOp = kdb::crADD;
    return i;
}

inline std::vector<kdb::TableDesc> practiceSchema()
{
    std::vector<kdb::TableDesc> t(9);
    t[0] = {"Cons.DBF", "DBASE", false,
            {C("PATIENT", 10), D("DCONS"), C("TEMP", 10), C("TA", 10), C("POIDS", 10), C("DEP", 20), C("MOTIF", 100),
             C("DIAG", 250), C("KEYWORD", 30), C("TRT1", 250), C("NB", 250), C("ID_CONS", 10)},
            {tag("CONS", "DCONS", 2, false, 528, "DCONS")}};
    t[1] = {"EXCOMP.DBF", "DBASE", false,
            {C("NUM", 6), C("PATIENT", 6), D("DATE_EX"), C("RADIOBIO", 1), C("CODE", 3), C("RESULTAT", 100)},
            {tag("EXCOMP", "DATE_EX", 3, false, 528, "DATE_EX")}};
    t[2] = {"FORD.DBF", "DBASE", false,
            {C("CODE", 3), I("NUM"), C("MEDIC", 40), C("FORME", 20), C("DOSAGE", 20), C("QTE", 20), C("POSOLOGIE", 20)},
            {tag("FORD", "CODENUM", 0, true, 513, "CODE+NUM")}};
    t[3] = {"FPHOTO.DBF", "DBASE", false, {C("CODE", 6), C("NUM", 2), C("PHOTO", 60)}, {}};
    t[4] = {"FRDV.DBF", "DBASE", false,
            {C("NUM", 6), C("PATIENT", 6), D("DATE_RDV"), C("HRE_RDV", 5), C("MOTIF", 50)},
            {tag("FRDV", "DATE_RDV", 3, false, 528, "DATE_RDV")}};
    t[5] = {"FBIO.DBF", "DBASE", false, {C("CODE", 3), C("LIBELLE", 60)},
            {tag("FBIO", "NOM", 2, false, 513, "LIBELLE"), tag("FBIO", "CODE", 1, true, 513, "CODE")}};
    t[6] = {"FRADIO.DBF", "DBASE", false, {C("CODE", 3), C("LIBELLE", 60)},
            {tag("FRADIO", "NOM", 2, false, 513, "LIBELLE"), tag("FRADIO", "CODE", 1, true, 513, "CODE")}};
    t[7] = {"Patient.DBF", "DBASE", false,
            {C("CODE", 6), C("ID", 6), C("NOM", 30), C("PRENOM", 30), C("ADR", 40), C("TEL", 20), C("DN", 10),
             C("AGE", 10), C("TAILLE", 10), C("SEXE", 1), C("GS", 5), C("PROFES", 60), C("ANTPERS", 100),
             C("ANTFAM", 100)},
            {tag("PATIENT", "CODE", 1, true, 513, "CODE"), tag("PATIENT", "NOM", 3, false, 513, "NOM")}};
    t[8] = {"FPROT.DBF", "DBASE", false,
            {C("NUM", 6), D("DATE_PRT"), C("CODE", 10), C("NOM", 30), C("PRENOM", 30), C("AGE", 3), C("CLINIQUE", 50),
             C("OPERATEUR", 40), C("AIDE", 40), C("ANEST", 40), M("DIAG"), M("INTERV"), C("ANTECED", 250)},
            {tag("FPROT", "DATE_RDV", 2, false, 528, "DATE_PRT")}};
    return t;
}

}  // namespace kbench
