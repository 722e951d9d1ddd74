#pragma once
// What the protocol tests share: a practice with its tables, rows written
// through the engine, and modal screens answered as a user would.
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "tests/support/TempPractice.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QTimer>

#include <functional>

class ProtFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        practice_.CreateTables();
        InstallDatabaseKeyColumns();
        PractitionerName = "DR MARTIN";
        CurrentPatientCode.clear();
    }

    static void Exec(const QString& sql)
    {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql(sql);
        q.execSql();
    }
    static void AddPatient(
        const QString& code, const QString& nom, const QString& prenom, const QString& dn, const QString& age)
    {
        Exec(QString("INSERT INTO PATIENT (CODE, NOM, PRENOM, DN, AGE) VALUES ('%1', '%2', '%3', '%4', '%5')")
                 .arg(code, nom, prenom, dn, age));
    }
    static void AddProtocol(const QString& num, const QDate& date, const QString& nom, const QString& clinique,
        const QString& diag = "APPENDICITE", const QString& interv = "APPENDICECTOMIE")
    {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql(
            "INSERT INTO FPROT (NUM, DATE_PRT, CODE, NOM, PRENOM, AGE, CLINIQUE, OPERATEUR, AIDE, ANEST, DIAG, "
            "INTERV) VALUES (:N, :D, '000123', :NOM, 'JEAN', '40', :C, 'DR MARTIN', 'DR AIDE', 'DR ANEST', :G, :I)");
        q.setParamText("N", num);
        q.setParamDate("D", date);
        q.setParamText("NOM", nom);
        q.setParamText("C", clinique);
        q.setParamText("G", diag);
        q.setParamText("I", interv);
        q.execSql();
    }
    // The values of a column of FPROT, in NUM order.
    static QStringList Column(const QString& field)
    {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql("SELECT " + field + " FROM FPROT ORDER BY NUM");
        q.open();
        QStringList values;
        for (q.first(); !q.eof(); q.next())
            values << q.field(0).asString();
        return values;
    }

    // Runs `action` on the next modal window of class T once it is shown.
    template <class T> static void OnModal(std::function<void(T&)> action)
    {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [timer, action] {
            if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
                timer->stop();
                timer->deleteLater();
                action(*w);
            }
        });
        timer->start(5);
    }

    TempPractice practice_;
};
