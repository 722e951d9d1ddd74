// The frame controller's bookkeeping and notifications, and the settings
// file component.
#include "ControlsTestSupport.h"

#include "controls/DcLabel.h"

#include "platform/ui/IniFile.h"
#include <QTemporaryDir>

#include <memory>

using ctltest::QtTest;

namespace {

// A widget that takes the settings itself and counts the calls.
class CountingClient : public QWidget, public IFrameControllerClient {
public:
    int calls = 0;
    void FrameControllerChanged() override { ++calls; }
};

// A widget that receives the settings as properties.
class PropertyTarget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor Color MEMBER color)
    Q_PROPERTY(bool ParentColor MEMBER parentColor)
    Q_PROPERTY(int FrameStyle MEMBER frameStyle)
    Q_PROPERTY(QString FrameSides MEMBER frameSides)
    Q_PROPERTY(uint FocusColor MEMBER focusColor)
    Q_PROPERTY(int FrameControllerNotifications MEMBER notifications)
public:
    QColor color;
    bool parentColor = false;
    int frameStyle = -1;
    QString frameSides;
    uint focusColor = 0;
    int notifications = 0x7FFF;
};

}  // namespace

class FrameControllerTest : public QtTest { };

TEST_F(FrameControllerTest, ColourDragsTheFocusColourAlong)
{
    TDcFrameController fc;
    fc.setParentColor(true);
    fc.setColor(clYellow);
    EXPECT_EQ(fc.FocusColor(), clYellow);
    EXPECT_FALSE(fc.ParentColor());
    fc.setFocusColor(clRed);
    fc.setColor(clAqua);
    EXPECT_EQ(fc.FocusColor(), clRed);
}

TEST_F(FrameControllerTest, HotTrackShowsTheFrame)
{
    TDcFrameController fc;
    fc.setFrameSides(sdsLeft);
    fc.setFrameHotTrack(true);
    EXPECT_TRUE(fc.FrameVisible());
    EXPECT_EQ(fc.FrameSides(), sdsAll);

    TDcFrameController old;
    old.ReadFrameFlat(true);
    EXPECT_TRUE(old.FrameHotTrack());
    EXPECT_EQ(old.FrameStyle(), fsStatus);
    EXPECT_EQ(old.FrameHotStyle(), fsLowered);
    old.ReadFrameFocusStyle(fsBump);
    EXPECT_EQ(old.FrameHotStyle(), fsBump);
}

TEST_F(FrameControllerTest, ClientsAreToldOncePerChange)
{
    TDcFrameController fc;
    CountingClient client;
    fc.AddControl(&client);
    EXPECT_EQ(client.calls, 1) << "adding applies the settings";
    fc.AddControl(&client);
    EXPECT_EQ(client.calls, 1) << "a control is listed once";
    fc.setFrameColor(clRed);
    EXPECT_EQ(client.calls, 2);
    fc.setFrameColor(clRed);
    EXPECT_EQ(client.calls, 2) << "an unchanged value tells nobody";
    fc.setParentColor(true);
    EXPECT_EQ(client.calls, 3);
    fc.setParentColor(false);
    EXPECT_EQ(client.calls, 5) << "clearing ParentColor also sends the colour";

    fc.BeginUpdate();
    fc.setColor(clYellow);
    fc.setFrameStyle(fsBump);
    fc.setFrameVisible(true);
    fc.setFocusColor(clLime);
    fc.setReadOnlyColor(clGray);
    EXPECT_EQ(client.calls, 5);
    fc.EndUpdate();
    EXPECT_EQ(client.calls, 6) << "five changes, one update";

    fc.EndUpdate();  // unbalanced: the counter stays at zero
    EXPECT_EQ(client.calls, 7);
    fc.setFrameStyle(fsGroove);
    EXPECT_EQ(client.calls, 8);

    fc.RemoveControl(&client);
    EXPECT_EQ(fc.ControlCount(), 0);
    fc.setFrameStyle(fsFlat);
    EXPECT_EQ(client.calls, 8);
}

TEST_F(FrameControllerTest, PropertiesOfOtherControls)
{
    TDcFrameController fc;
    fc.setColor(clYellow);
    fc.setFrameStyle(fsBump);
    fc.setFrameSides(sdsLeft | sdsTop);
    PropertyTarget target;
    fc.AddControl(&target);
    EXPECT_EQ(target.color, QColor(255, 255, 0));
    EXPECT_FALSE(target.parentColor);
    EXPECT_EQ(target.frameStyle, int(fsBump));
    EXPECT_EQ(target.frameSides, QStringLiteral("[sdLeft,sdTop]"));
    EXPECT_EQ(target.focusColor, uint(clYellow));

    // With ParentColor set, a full update sets ParentColor and leaves Color.
    target.color = QColor(1, 2, 3);
    fc.BeginUpdate();
    fc.setParentColor(true);
    fc.EndUpdate();
    EXPECT_TRUE(target.parentColor);
    EXPECT_EQ(target.color, QColor(1, 2, 3));

    // A control that asks for the colour only gets the colour.
    target.notifications = 1 << fcpColor;
    fc.setFrameStyle(fsGroove);
    EXPECT_EQ(target.frameStyle, int(fsBump));
    fc.setColor(clRed);
    EXPECT_EQ(target.color, QColor(255, 0, 0));
    target.parentColor = false;
    fc.setParentColor(true);
    EXPECT_FALSE(target.parentColor) << "ParentColor not asked for";
}

TEST_F(FrameControllerTest, LabelTakesTheFrameWhenVisible)
{
    TDcFrameController fc;
    fc.setFrameStyle(fsGroove);
    fc.setFrameSides(sdsTop);
    fc.setFrameColor(0x102030);
    fc.setColor(0xC0C0C0);
    auto label = std::make_unique<TDcLabel>();
    label->setFrameController(&fc);
    EXPECT_EQ(fc.ControlCount(), 1);
    EXPECT_EQ(label->BorderOuter(), fsNone) << "an invisible frame changes nothing";

    fc.setFrameVisible(true);
    EXPECT_EQ(label->BorderOuter(), fsGroove);
    EXPECT_EQ(label->BorderSides(), sdsTop);
    EXPECT_EQ(label->FlatColor(), 0x102030u);
    EXPECT_EQ(label->BorderShadow(), 0x8B8B8Bu);

    // Only the colour when that is all the label asks for.
    label->setFrameControllerNotifications(1 << fcpColor);
    fc.setFrameStyle(fsBump);
    EXPECT_EQ(label->BorderOuter(), fsGroove);
    fc.setColor(0x808080);
    EXPECT_EQ(label->Color(), 0x808080u);
    EXPECT_EQ(label->BorderHighlight(), 0xEAEAEAu);

    label.reset();
    EXPECT_EQ(fc.ControlCount(), 0) << "a destroyed label leaves the controller";
}

TEST_F(FrameControllerTest, ControllerGoneClearsTheLabelReference)
{
    TDcLabel label;
    auto fc = std::make_unique<TDcFrameController>();
    label.setFrameController(fc.get());
    fc.reset();
    EXPECT_EQ(label.FrameController(), nullptr);
    label.setFrameController(nullptr);

    TDcFrameController a, b;
    label.setFrameController(&a);
    label.setFrameController(&b);
    EXPECT_EQ(a.ControlCount(), 0);
    EXPECT_EQ(b.ControlCount(), 1);
}

TEST_F(FrameControllerTest, AssignCopiesEverySetting)
{
    TDcFrameController source;
    source.setColor(clYellow);
    source.setDisabledColor(clGray);
    source.setFrameStyle(fsRaised);
    source.setFrameSides(sdsBottom);
    source.setFrameHotTrack(true);
    source.setFlatButtons(false);
    source.setFramingPreference(fpCustomFraming);
    source.setFrameSides(sdsBottom);
    TDcFrameController copy;
    CountingClient client;
    copy.AddControl(&client);
    copy.Assign(source);
    EXPECT_EQ(client.calls, 2);
    EXPECT_EQ(copy.DisabledColor(), clGray);
    EXPECT_EQ(copy.FrameSides(), sdsBottom);
    EXPECT_EQ(copy.FramingPreference(), fpCustomFraming);
}

TEST_F(FrameControllerTest, RegIniFileReferenceIsDropped)
{
    TDcFrameController fc;
    auto ini = std::make_unique<TDcRegIniFile>();
    fc.setRegIniFile(ini.get());
    EXPECT_EQ(fc.RegIniFile(), ini.get());
    ini.reset();
    EXPECT_EQ(fc.RegIniFile(), nullptr);
}

class RegIniFileTest : public QtTest { };

TEST_F(RegIniFileTest, IniAndTreeStorageAreProgramIniFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TDcRegIniFile f;
    f.setPath(dir.filePath(QStringLiteral("reglages.ini")));
    kui::TIniFile* ini = f.Storage();
    ASSERT_NE(ini, nullptr);
    ASSERT_TRUE(ini->WriteInteger(f.SectionName(QStringLiteral("Cadre")), QStringLiteral("Couleur"), 42));
    EXPECT_EQ(kui::TIniFile(dir.filePath(QStringLiteral("reglages.ini")))
                  .ReadInteger(QStringLiteral("Cadre"), QStringLiteral("Couleur"), 0),
        42);
    EXPECT_EQ(f.Storage(), ini) << "kept while nothing changes";

    f.setPathType(ptRegistry);
    f.setPath(QStringLiteral("\\Software\\Cabinet"));
    EXPECT_EQ(f.Storage(), nullptr) << "the tree needs a directory";
    f.setRegistryDirectory(dir.path());
    kui::TIniFile* tree = f.Storage();
    ASSERT_NE(tree, nullptr);
    ASSERT_TRUE(tree->WriteString(f.SectionName(QString()), QStringLiteral("Valeur"), QStringLiteral("oui")));
    EXPECT_EQ(kui::TIniFile(dir.filePath(QStringLiteral("CurrentUser.ini")))
                  .ReadString(QStringLiteral("Software/Cabinet"), QStringLiteral("Valeur")),
        QStringLiteral("oui"));
}

#include "FrameControllerTest.moc"
