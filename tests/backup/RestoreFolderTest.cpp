// The folder of the restore list: the drive combo lists the mounted volumes,
// choosing one moves the folder tree there, the folder browser selects the
// volume of the folder it returns, and the tree shows the folder it lists.
#include "tests/backup/BackupFixture.h"

#include "app/backup/URestorFiles.h"
#include "platform/os/Volumes.h"
#include "tests/support/FakeVolumes.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QTest>
#include <QTreeWidget>

namespace {

// Chooses the entry of Root in the combo's list, as a click does.
void ChooseDrive(QComboBox* combo, const QString& root)
{
    const int index = combo->findData(root);
    ASSERT_GE(index, 0) << root.toStdString();
    combo->showPopup();
    QAbstractItemView* view = combo->view();
    const QModelIndex item = view->model()->index(index, 0);
    view->scrollTo(item);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
}

// A double click as the system delivers it: press, release, double click,
// release.
void DoubleClick(QWidget* w, const QPoint& at)
{
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
    QTest::mouseDClick(w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

// The texts of the tree from its top down to the current item.
QStringList WayToCurrent(QTreeWidget* tree)
{
    QStringList way;
    for (QTreeWidgetItem* i = tree->currentItem(); i; i = i->parent())
        way.prepend(i->text(0));
    return way;
}

QStringList ChildrenOfCurrent(QTreeWidget* tree)
{
    QStringList names;
    for (int i = 0; tree->currentItem() && i < tree->currentItem()->childCount(); ++i)
        names << tree->currentItem()->child(i)->text(0);
    return names;
}

}  // namespace

using RestoreFolder = BackupFixture;

TEST_F(RestoreFolder, VolumesOfTheComboAndTheFolderTreeFollowEachOther)
{
    ktest::FakeVolumes volumes(practice_.root() + "/media");
    kos::ScopedVolumes use(volumes);
    const QString key = volumes.AddDrive("cle", kos::DriveType::Removable);
    volumes.Insert(key, volumes.NewDisk("cle-disque", 1 << 30, "CLE"));
    const QString share = volumes.AddDrive("cabinet", kos::DriveType::Network);
    const QString empty = volumes.AddDrive("lecteur", kos::DriveType::Removable);  // no medium
    QDir().mkpath(key + "Sauvegardes");
    QFile(key + "Korvale.zip").open(QIODevice::WriteOnly);
    QDir().mkpath(share + "Archives/2024");
    QFile(share + "Archives/Korvale01.zip").open(QIODevice::WriteOnly);
    QDir().mkpath(DataPath + "Lundi");

    TfrmRestorFiles dialog;
    QComboBox* drives = dialog.cmbDrive();
    QTreeWidget* tree = dialog.DirList();
    EXPECT_EQ(drives->itemData(0).toString(), "/");
    EXPECT_GE(drives->findData(key), 0);
    EXPECT_GE(drives->findData(share), 0);
    EXPECT_LT(drives->findData(empty), 0) << "a drive without a medium is no mounted volume";
    EXPECT_TRUE(drives->itemText(drives->findData(key)).endsWith("(amovible)"));
    EXPECT_TRUE(drives->itemText(drives->findData(share)).endsWith("(réseau)"));

    // It opens on the data directory: the tree shows the way to it.
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(drives->currentData().toString(), volumes.RootOf(DataPath));
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0), "Data");
    EXPECT_EQ(tree->currentItem()->data(0, Qt::UserRole).toString() + "/", DataPath);
    QStringList way = WayToCurrent(tree);
    QString path = way.takeFirst();
    EXPECT_EQ(path + (path.endsWith('/') ? "" : "/"), volumes.RootOf(DataPath)) << "the tree starts at the volume";
    for (const QString& name : way)
        path = QDir(path).filePath(name);
    EXPECT_EQ(path + "/", DataPath) << "the way down from the volume's root";
    EXPECT_EQ(ChildrenOfCurrent(tree), QStringList{"Lundi"});

    // The key chosen in the combo: its root, its archive.
    ChooseDrive(drives, key);
    EXPECT_EQ(dialog.Directory().toStdString(), key.toStdString());
    EXPECT_EQ(drives->currentData().toString(), key);
    EXPECT_EQ(WayToCurrent(tree), QStringList{key.chopped(1)});
    EXPECT_EQ(ChildrenOfCurrent(tree), QStringList{"Sauvegardes"});
    ASSERT_EQ(dialog.myListView()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.myListView()->topLevelItem(0)->text(0), "Korvale.zip");

    // A folder of the share from the browser: the combo follows.
    dialog.ChooseFolder = [&](QWidget*) { return share + "Archives"; };
    dialog.btnGetDirClick();
    EXPECT_EQ(drives->currentData().toString(), share);
    EXPECT_EQ(WayToCurrent(tree), (QStringList{share.chopped(1), "Archives"}));
    EXPECT_EQ(ChildrenOfCurrent(tree), QStringList{"2024"});
    ASSERT_EQ(dialog.myListView()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.myListView()->topLevelItem(0)->text(0), "Korvale01.zip");

    // A double click on the volume's root in the tree goes up there.
    QTreeWidgetItem* top = tree->topLevelItem(0);
    DoubleClick(tree->viewport(), tree->visualItemRect(top).center());
    EXPECT_EQ(dialog.Directory().toStdString(), share.toStdString());
    EXPECT_EQ(ChildrenOfCurrent(tree), QStringList{"Archives"});

    // The key taken out meanwhile: said, and the share stays.
    volumes.Eject(key);
    ChooseDrive(drives, key);
    ASSERT_EQ(messages_.Count(), 1);
    EXPECT_EQ(messages_.Last().text, "Le volume " + key + " n'est pas accessible : aucun support lisible.");
    EXPECT_EQ(dialog.Directory().toStdString(), share.toStdString());
    EXPECT_EQ(drives->currentData().toString(), share);
}
