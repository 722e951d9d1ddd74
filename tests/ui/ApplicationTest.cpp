#include "platform/ui/Application.h"
#include "platform/ui/Messages.h"
#include "platform/os/Abort.h"
#include "platform/db/core/DbError.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QObject>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <vector>

using namespace kui;

namespace {

// An object whose event handler throws what it is told.
class Thrower : public QObject {
public:
    enum What { Nothing, Silent, Error, Foreign, Library };
    What what = Nothing;
    int handled = 0;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        ++handled;
        switch (what) {
        case Silent:
            Abort();
        case Error:
            throw std::runtime_error("Fichier endommagé");
        case Foreign:
            throw 42;
        case Library:
            (void)std::vector<int>().at(2);  // the library's English: "vector::_M_range_check: ..."
            break;
        case Nothing:
            break;
        }
        return true;
    }
};

class HandlerGuard {
public:
    explicit HandlerGuard(TApplication::ExceptionHandler h) : previous_(TApplication::SetExceptionHandler(std::move(h)))
    {
    }
    ~HandlerGuard() { TApplication::SetExceptionHandler(std::move(previous_)); }

private:
    TApplication::ExceptionHandler previous_;
};

}  // namespace

TEST(ExceptionRouting, TheSilentAbortEndsTheActionWithoutAnyMessage)
{
    TestApplication();
    ScopedMessageRecorder rec;
    int calls = 0;
    HandlerGuard guard([&](const std::exception&) { ++calls; });
    Thrower t;
    t.what = Thrower::Silent;
    QEvent e(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&t, &e));
    EXPECT_EQ(t.handled, 1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(rec.Count(), 0);
}

TEST(ExceptionRouting, OtherExceptionsReachTheInstalledHandler)
{
    TestApplication();
    QStringList seen;
    HandlerGuard guard([&](const std::exception& ex) { seen << QString::fromUtf8(ex.what()); });
    Thrower t;
    t.what = Thrower::Error;
    QEvent e(QEvent::User);
    QCoreApplication::sendEvent(&t, &e);
    t.what = Thrower::Foreign;
    QCoreApplication::sendEvent(&t, &e);
    EXPECT_EQ(seen, (QStringList{"Fichier endommagé", "Erreur inconnue"}));
    // Posted events are routed too.
    t.what = Thrower::Error;
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(t.handled, 3);
    EXPECT_EQ(seen.size(), 3);
}

TEST(ExceptionRouting, TheDefaultHandlerShowsThePlainBox)
{
    TestApplication();
    TApplication::SetTitle("Suivi des patients");
    HandlerGuard guard(nullptr);
    ScopedMessageRecorder rec;
    Thrower t;
    t.what = Thrower::Error;
    QEvent e(QEvent::User);
    QCoreApplication::sendEvent(&t, &e);
    ASSERT_EQ(rec.Count(), 1);
    EXPECT_EQ(rec.Last().kind, MsgKind::Plain);
    EXPECT_EQ(rec.Last().text, "Fichier endommagé");
    EXPECT_EQ(rec.Last().caption, "Suivi des patients");
}

TEST(ExceptionRouting, EngineErrorsReachTheUserInFrenchNamingTheirFile)
{
    TestApplication();
    HandlerGuard guard(nullptr);
    ScopedMessageRecorder rec;
    const EDBEngineError errors[] = {
        EDBEngineError::tableInUse("/cabinet/Data/FRDV.DBF"),
        EDBEngineError::headerCorrupt("/cabinet/USERS.DB", "bad header length"),
        EDBEngineError::notWritable("/cabinet/USERS.DB", EROFS),
        EDBEngineError(4242, "/cabinet/Data/Cons.DBF", "something new"),
    };
    for (const EDBEngineError& error : errors) {
        TApplication::HandleException(error);
        ASSERT_EQ(rec.Count(), 1);
        const QString text = rec.Last().text;
        rec.Clear();
        EXPECT_TRUE(text.contains(QString::fromStdString(error.file()))) << text.toStdString();
        EXPECT_FALSE(text.contains(QString::fromStdString(error.detail()))) << text.toStdString();
        EXPECT_NE(text.toStdString(), error.what());
    }
    // A code without a sentence of its own keeps its number.
    EXPECT_TRUE(ExceptionText(errors[3]).contains("4242"));
    // The damaged header tells what to do.
    EXPECT_TRUE(ExceptionText(errors[1]).contains("sauvegarde"));
}

// What the standard library raises (an index out of its range, a file
// operation that failed) reaches the box in French, never in its English;
// the program's own exceptions keep their words.
TEST(ExceptionRouting, TheLibrarysExceptionsReachTheUserInFrench)
{
    TestApplication();
    HandlerGuard guard(nullptr);
    ScopedMessageRecorder rec;
    Thrower t;
    t.what = Thrower::Library;
    QEvent e(QEvent::User);
    QCoreApplication::sendEvent(&t, &e);
    ASSERT_EQ(rec.Count(), 1);
    EXPECT_EQ(rec.Last().text, "L'opération n'a pas pu aboutir : erreur interne du programme.");
    rec.Clear();
    TApplication::HandleException(std::filesystem::filesystem_error(
        "copy", "/a", "/b", std::make_error_code(std::errc::no_space_on_device)));
    ASSERT_EQ(rec.Count(), 1);
    EXPECT_EQ(rec.Last().text, "L'opération n'a pas pu aboutir : plus de place sur le disque.");
    rec.Clear();
    t.what = Thrower::Foreign;
    QCoreApplication::sendEvent(&t, &e);
    ASSERT_EQ(rec.Count(), 1);
    EXPECT_EQ(rec.Last().text, "Erreur inconnue");
}

TEST(ExceptionRouting, AThrowingHandlerDoesNotEscape)
{
    TestApplication();
    HandlerGuard guard([](const std::exception&) { throw std::runtime_error("again"); });
    Thrower t;
    t.what = Thrower::Error;
    QEvent e(QEvent::User);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&t, &e));
}

TEST(Translations, StandardTextsSpeakFrench)
{
    TApplication* app = TestApplication();
    ASSERT_TRUE(app->LoadFrenchTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Annuler");
}

TEST(Translations, TheFileDialogsTypeColumnSaysFolderInFrench)
{
    TApplication* app = TestApplication();
    ASSERT_TRUE(app->LoadFrenchTranslations());
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("Sauvegardes"));
    // The model the file dialogs list a folder through.
    QFileSystemModel model;
    QSignalSpy loaded(&model, &QFileSystemModel::directoryLoaded);
    model.setRootPath(dir.path());
    ASSERT_TRUE(loaded.wait(5000));
    const QModelIndex folder = model.index(QDir(dir.path()).filePath("Sauvegardes"));
    ASSERT_TRUE(folder.isValid());
    EXPECT_EQ(model.data(folder.siblingAtColumn(2)).toString(), "Dossier");
}
