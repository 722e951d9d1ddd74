#pragma once
// What the protocol tests add to the record screens' fixture: the operator's
// name, protocols written through the engine, a column of FPROT.
#include "RecordsFixture.h"

#include <QDate>

class ProtFixture : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        PractitionerName = "DR MARTIN";
    }

    static void AddProtocol(const QString& num, const QDate& date, const QString& nom, const QString& clinique)
    {
        Exec("INSERT INTO FPROT (NUM, DATE_PRT, CODE, NOM, PRENOM, AGE, CLINIQUE, OPERATEUR, AIDE, ANEST, DIAG, "
             "INTERV) VALUES (:N, :D, '000123', :NOM, 'JEAN', '40', :C, 'DR MARTIN', 'DR AIDE', 'DR ANEST', "
             "'APPENDICITE', 'APPENDICECTOMIE')",
            {{"N", num}, {"D", date}, {"NOM", nom}, {"C", clinique}});
    }
    // The values of a column of FPROT, in NUM order.
    static QStringList Column(const QString& field) { return Rows("SELECT " + field + " FROM FPROT ORDER BY NUM"); }
};
