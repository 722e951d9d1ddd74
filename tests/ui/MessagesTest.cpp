#include "platform/ui/Messages.h"
#include "platform/ui/Application.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

using namespace kui;

TEST(MessageService, EachKindIsRecordedWithItsButtonsAndCaption)
{
    TestApplication();
    TApplication::SetTitle("Suivi des patients");
    ScopedMessageRecorder rec;
    MsgError("erreur");
    MsgInformation("info");
    MsgWarning("attention");
    MsgPlain("simple");
    ASSERT_EQ(rec.Count(), 4);
    const MsgKind kinds[] = {MsgKind::Error, MsgKind::Information, MsgKind::Warning, MsgKind::Plain};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rec.Records()[i].kind, kinds[i]) << i;
        EXPECT_EQ(rec.Records()[i].buttons, MsgButtons(QMessageBox::Ok)) << i;
    }
    EXPECT_EQ(rec.Records()[3].caption, "Suivi des patients");
}

TEST(MessageService, QuestionsAreAnsweredInOrderThenByTheNegativeButton)
{
    TestApplication();
    ScopedMessageRecorder rec;
    rec.Answer(QMessageBox::Yes);
    rec.Answer(QMessageBox::No);
    EXPECT_TRUE(MsgConfirm("Supprimer ?"));
    EXPECT_FALSE(MsgConfirm("Supprimer ?"));
    EXPECT_FALSE(MsgConfirm("Supprimer ?"));  // nothing queued: No
    EXPECT_EQ(MsgYesNoCancel("Enregistrer ?", MsgKind::Warning), QMessageBox::Cancel);
    rec.SetDefaultAnswer(QMessageBox::Yes);
    EXPECT_TRUE(MsgConfirm("Encore ?"));
    ASSERT_EQ(rec.Count(), 5);
    EXPECT_EQ(rec.Records()[0].kind, MsgKind::Confirmation);
    EXPECT_EQ(rec.Records()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(rec.Records()[3].kind, MsgKind::Warning);
    EXPECT_EQ(rec.Records()[3].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
}

TEST(MessageService, TheRecorderIsRemovedWithItsScope)
{
    TestApplication();
    ScopedMessageRecorder outer;
    {
        ScopedMessageRecorder inner;
        MsgPlain("inner");
        EXPECT_EQ(inner.Count(), 1);
    }
    MsgPlain("outer");
    EXPECT_EQ(outer.Count(), 1);
    EXPECT_EQ(outer.Last().text, "outer");
}

TEST(DialogMessageService, ShowsFrenchButtonsAndTheGivenCaption)
{
    TestApplication();
    QString title;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
                box = b;
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        icon = box->icon();
        text = box->text();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        box->button(QMessageBox::No)->click();
    });
    DialogMessageService service;
    MsgRequest request;
    request.kind = MsgKind::Confirmation;
    request.text = "Ligne 1\rLigne 2";
    request.caption = "Confirmation";
    request.buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    EXPECT_EQ(service.Show(request), QMessageBox::No);
    EXPECT_EQ(title, "Confirmation");
    EXPECT_EQ(icon, QMessageBox::Question);
    EXPECT_EQ(text, "Ligne 1\nLigne 2");
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"&Non", "&Oui", "Annuler"}));
}

TEST(DialogMessageService, ABoxOverAHiddenWindowStandsInTheMiddleOfTheScreen)
{
    TestApplication();
    QWidget hidden;
    hidden.setGeometry(0, 0, 900, 700);
    QPoint centre;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) {
                centre = b->frameGeometry().center();
                b->button(QMessageBox::Ok)->click();
            }
    });
    DialogMessageService service;
    MsgRequest request;
    request.kind = MsgKind::Information;
    request.text = "Création de la base de données terminée !";
    request.parent = &hidden;
    service.Show(request);
    const QPoint screen = QApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((centre - screen).manhattanLength(), 4) << centre.x() << "," << centre.y();
}
