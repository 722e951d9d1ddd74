// Names that layouts may carry without effect: the About value of the
// label, the frame controller and the settings file, and the obsolete names
// of older layouts, read and dropped.
#include "ControlsTestSupport.h"

#include "controls/DcLabel.h"
#include "ui_OldLayout.h"

#include <QTest>

using ctltest::QtTest;

class OldPropertiesTest : public QtTest { };

TEST_F(OldPropertiesTest, ALabelLayoutWithAboutAndFrameSidesLoadsAndPaintsAsWithout)
{
    QWidget form;
    Ui::OldLayout ui;
    ui.setupUi(&form);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    EXPECT_EQ(ui.lOld->BorderSides(), sdsAll) << "the old sides do not reach the border";
    EXPECT_EQ(ui.lOld->About(), QString());
    EXPECT_TRUE(ui.lOld->dynamicPropertyNames().isEmpty()) << "the values are dropped, not kept";
    ASSERT_EQ(ui.lOld->size(), ui.lNew->size());
    EXPECT_EQ(ui.lOld->grab().toImage(), ui.lNew->grab().toImage());

    // Set by name as well: known names, nothing kept.
    EXPECT_TRUE(ui.lOld->setProperty("FrameSides", QStringLiteral("[sdLeft, sdBottom]")));
    EXPECT_TRUE(ui.lOld->setProperty("About", QStringLiteral("x")));
    EXPECT_EQ(ui.lOld->property("About").toString(), QString());
    EXPECT_TRUE(ui.lOld->dynamicPropertyNames().isEmpty());
    EXPECT_EQ(ui.lOld->grab().toImage(), ui.lNew->grab().toImage());
}

TEST_F(OldPropertiesTest, TheControllerAndTheSettingsFileDropTheirOldNames)
{
    TDcFrameController fc;
    TDcLabel label;
    label.setFrameController(&fc);
    fc.setFrameVisible(true);
    const TFrameStyle style = fc.FrameStyle(), hotStyle = fc.FrameHotStyle();
    const bool hotTrack = fc.FrameHotTrack();
    const TFrameStyleEx outer = label.BorderOuter();

    EXPECT_TRUE(fc.setProperty("FrameFlatStyle", QStringLiteral("fsLowered")));
    EXPECT_TRUE(fc.setProperty("FrameFlatStyle", int(fsLowered)));
    EXPECT_TRUE(fc.setProperty("About", QStringLiteral("(A propos)")));
    EXPECT_EQ(fc.FrameStyle(), style);
    EXPECT_EQ(fc.FrameHotStyle(), hotStyle);
    EXPECT_EQ(fc.FrameHotTrack(), hotTrack);
    EXPECT_EQ(label.BorderOuter(), outer);
    EXPECT_EQ(fc.property("About").toString(), QString());
    EXPECT_TRUE(fc.dynamicPropertyNames().isEmpty());

    TDcRegIniFile settings;
    settings.setPath(QStringLiteral("essai.ini"));
    EXPECT_TRUE(settings.setProperty("About", QStringLiteral("(A propos)")));
    EXPECT_EQ(settings.property("About").toString(), QString());
    EXPECT_EQ(settings.Path(), QStringLiteral("essai.ini"));
    EXPECT_TRUE(settings.dynamicPropertyNames().isEmpty());
}
