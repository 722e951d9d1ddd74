#pragma once
// A practice with its tables for the record screens' tests, and the small
// acts of a user: typing into a widget, answering the next modal dialog.
#include "app/records/UGetPatient.h"
#include "app/global/NextCodeDb.h"
#include "app/global/global.h"
#include "platform/db/dataset/Dataset.h"
#include "tests/support/TempPractice.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>
#include <ostream>

// Readable texts in the failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// Shows a screen as the active window, so its shortcuts and focus work.
inline void ShowActive(QWidget* w)
{
    w->show();
    QApplication::setActiveWindow(w);
    w->activateWindow();
    (void)QTest::qWaitForWindowActive(w, 1000);
}

// Prepares a workstation process started by RecordsTest::RunWorkers on the
// data directory of the test that started it, and returns its mark; returns
// an empty mark when the worker test is run on its own.
inline QString StartWorker()
{
    const QString home = qEnvironmentVariable("KORVALE_WORKER_HOME");
    if (home.isEmpty())
        return {};
    TestApplication();
    InstallDatabaseKeyColumns();
    SetCodeAllocationTimeout(60000);
    AppDir = home;
    DataPath = home + "Data/";
    return qEnvironmentVariable("KORVALE_WORKER_MARK");
}

// Answers the modal dialogs a command opens, in order: each new dialog gets
// the next act; one beyond the acts is recorded and closed. classes lists
// the class of every dialog met.
class DialogScript : public QObject {
public:
    explicit DialogScript(std::vector<std::function<void(QWidget*)>> acts) : acts_(std::move(acts))
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
        timer_.start();
    }
    QStringList classes;

private:
    void Poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == last_)
            return;
        last_ = w;
        classes << QString::fromLatin1(w->metaObject()->className());
        if (next_ < acts_.size())
            acts_[next_++](w);
        else if (auto* d = qobject_cast<QDialog*>(w))
            d->reject();
    }
    std::vector<std::function<void(QWidget*)>> acts_;
    size_t next_ = 0;
    QPointer<QWidget> last_;
    QTimer timer_;
};

class RecordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        InstallDatabaseKeyColumns();
        practice_.CreateTables();
        CurrentPatientCode.clear();
    }

    // Runs a statement on the practice's data directory with its parameters.
    static void Exec(const QString& sql, std::initializer_list<std::pair<const char*, QVariant>> params = {})
    {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql(sql);
        for (const auto& [name, value] : params)
            q.params().set(name, value);
        q.execSql();
    }
    static void AddPatient(const QString& code, const QString& nom, const QString& prenom = QString(),
        const QString& dn = QStringLiteral("01/02/1960"), const QString& age = QString())
    {
        Exec(QStringLiteral("INSERT INTO PATIENT (CODE, ID, NOM, PRENOM, DN, AGE, SEXE) VALUES "
                            "(:CODE, :CODE, :NOM, :PRENOM, :DN, :AGE, 'M')"),
            {{"CODE", code}, {"NOM", nom}, {"PRENOM", prenom}, {"DN", dn}, {"AGE", age}});
    }
    // The rows of a SELECT, each as its fields' texts joined by "|".
    static QStringList Rows(const QString& sql)
    {
        kdb::QueryDataset q;
        q.setDatabaseName(DataPath.toStdString());
        q.setSql(sql);
        q.open();
        QStringList rows;
        for (q.first(); !q.eof(); q.next()) {
            QStringList f;
            for (int i = 0; i < q.fieldCount(); ++i)
                f << q.field(i).asString().trimmed();
            rows << f.join('|');
        }
        return rows;
    }

    // Picks, in the patient picker, the patient whose name starts with text.
    static std::function<void(QWidget*)> PickPatient(const QString& text)
    {
        return [text](QWidget* w) {
            auto* picker = qobject_cast<TfrmGetPatient*>(w);
            ASSERT_NE(picker, nullptr);
            picker->edNom()->setText(text);
            QTest::keyClick(picker->edNom(), Qt::Key_Return);
            picker->grdPatientDblClick();
        };
    }

    // Runs the disabled test group `group` of this program once per mark,
    // each in a process of its own on this practice (KORVALE_WORKER_HOME,
    // KORVALE_WORKER_MARK), all at once; waits for them, each must pass.
    static void RunWorkers(const QString& group, const QStringList& marks)
    {
        QList<QProcess*> workers;
        for (const QString& mark : marks) {
            auto* p = new QProcess;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("KORVALE_WORKER_HOME", AppDir);
            env.insert("KORVALE_WORKER_MARK", mark);
            env.insert("QT_QPA_PLATFORM", "offscreen");
            p->setProcessEnvironment(env);
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=" + group + ".*", "--gtest_also_run_disabled_tests"});
            workers << p;
        }
        for (QProcess* p : workers) {
            EXPECT_TRUE(p->waitForFinished(300000));
            EXPECT_EQ(p->exitCode(), 0) << p->readAll().toStdString();
            delete p;
        }
    }

    // Types text into the focused widget w, key by key.
    static void Type(QWidget* w, const QString& text)
    {
        w->setFocus();
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    // Keys typed by the user: each reaches the widget that has the focus
    // (a grid opens its cell editor on the first one).
    static void Keys(const QString& text)
    {
        for (const QChar c : text) {
            QApplication::processEvents();
            QWidget* w = QApplication::focusWidget();
            ASSERT_NE(w, nullptr);
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    // A key pressed where the focus is, as a user presses it.
    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, key, modifiers);
    }
    // Runs act on the next modal window of class T once it is shown.
    template <class T> static void OnModal(std::function<void(T&)> act)
    {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [timer, act] {
            if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(*w);
            }
        });
        timer->start(5);
    }
    // Acts on the next modal dialog once it is shown.
    static void OnNextDialog(const std::function<void(QWidget*)>& act)
    {
        QTimer::singleShot(0, [act] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w)
                return;
            act(w);
            // A dialog the act left open is closed, so the test goes on.
            QPointer<QDialog> left = qobject_cast<QDialog*>(w);
            QTimer::singleShot(0, [left] {
                if (left && left->isVisible()) {
                    ADD_FAILURE() << "the dialog stayed open";
                    left->reject();
                }
            });
        });
    }

    TempPractice practice_;
};
