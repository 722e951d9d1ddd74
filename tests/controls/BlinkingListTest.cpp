// The shared blinking list: its life with the labels, its ticks and intervals.
#include "ControlsTestSupport.h"

#include "controls/DcLabel.h"

#include <QTest>
#include <QPointer>
#include <QTimer>

#include <memory>

using ctltest::QtTest;

class BlinkingListTest : public QtTest {
protected:
    void SetUp() override { ASSERT_EQ(BlinkingControlsList(), nullptr) << "a label of another test is alive"; }
};

TEST_F(BlinkingListTest, LivesFromFirstToLastLabel)
{
    auto a = std::make_unique<TDcLabel>();
    TDcBlinkingControlsList* list = BlinkingControlsList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Count(), 1);
    ASSERT_NE(list->Timer(), nullptr);
    EXPECT_TRUE(list->Timer()->isActive());

    auto b = std::make_unique<TDcLabel>();
    EXPECT_EQ(BlinkingControlsList(), list);
    EXPECT_EQ(list->Count(), 2);
    b->setBlinkIntervalOn(800);
    EXPECT_EQ(a->BlinkIntervalOn(), 800) << "the interval is shared";

    a.reset();
    EXPECT_EQ(BlinkingControlsList(), list);
    EXPECT_EQ(list->Count(), 1);
    b.reset();
    EXPECT_EQ(BlinkingControlsList(), nullptr);

    TDcLabel c;
    EXPECT_NE(BlinkingControlsList(), nullptr) << "a later label gets a fresh list";
}

TEST_F(BlinkingListTest, TicksAlternateStatesAndIntervals)
{
    TDcLabel blinking, still;
    blinking.setFontColor(clBlack);
    still.setFontColor(clBlack);
    blinking.setBlinkColor(clRed);
    still.setBlinkColor(clRed);
    blinking.setBlinking(true);
    blinking.setBlinkIntervalOn(800);
    blinking.setBlinkIntervalOff(200);
    EXPECT_EQ(blinking.TextColor(), clBlack) << "turning blinking on waits for the next tick";

    TDcBlinkingControlsList* list = BlinkingControlsList();
    list->TimerExpired();  // shows the normal colour
    EXPECT_FALSE(list->BlinkState());
    EXPECT_EQ(list->Timer()->interval(), 200);
    EXPECT_EQ(blinking.TextColor(), clBlack);

    list->TimerExpired();  // shows the blink colour
    EXPECT_TRUE(list->BlinkState());
    EXPECT_EQ(list->Timer()->interval(), 800);
    EXPECT_EQ(blinking.TextColor(), clRed);
    EXPECT_EQ(still.TextColor(), clBlack) << "a label that does not blink is left alone";

    list->TimerExpired();
    EXPECT_EQ(blinking.TextColor(), clBlack);
    list->TimerExpired();
    EXPECT_EQ(blinking.TextColor(), clRed);

    blinking.setBlinking(false);
    EXPECT_EQ(blinking.TextColor(), clBlack) << "stopping shows the normal colour at once";
    list->TimerExpired();
    list->TimerExpired();
    EXPECT_EQ(blinking.TextColor(), clBlack);
}

TEST_F(BlinkingListTest, RealTimerDrivesTheLabel)
{
    TDcLabel label;
    label.setFontColor(clBlack);
    label.setBlinkColor(clLime);
    label.setBlinkIntervalOn(20);
    label.setBlinkIntervalOff(20);
    // The running timer still waits its first 500 ms period.
    label.setBlinking(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return label.TextColor() == clLime; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return label.TextColor() == clBlack; }, 5000));
}

TEST_F(BlinkingListTest, ControlLeavingDuringATickIsSkipped)
{
    // A blinking control that destroys another one while being told.
    struct Killer : IDcBlinkingControl {
        std::unique_ptr<TDcLabel> victim;
        int told = 0;
        bool CMIsBlinking() const override { return true; }
        void CMBlink(bool) override
        {
            ++told;
            victim.reset();
        }
    };
    auto owner = std::make_unique<TDcLabel>();
    Killer killer;
    killer.victim = std::make_unique<TDcLabel>();
    killer.victim->setBlinking(true);
    TDcBlinkingControlsList* list = BlinkingControlsList();
    list->Remove(killer.victim.get());
    list->Add(&killer);
    list->Add(killer.victim.get());
    list->TimerExpired();
    EXPECT_EQ(killer.told, 1);
    EXPECT_EQ(list->Count(), 2);
    list->Remove(&killer);
    owner.reset();
    EXPECT_EQ(BlinkingControlsList(), nullptr);
}

TEST_F(BlinkingListTest, LastLabelGoneDuringATick)
{
    // A control that leaves and destroys the last label while being told:
    // the list is released once the tick is over.
    struct Leaver : IDcBlinkingControl {
        std::unique_ptr<TDcLabel> last;
        bool CMIsBlinking() const override { return true; }
        void CMBlink(bool) override
        {
            BlinkingControlsList()->Remove(this);
            last.reset();
        }
    };
    Leaver leaver;
    leaver.last = std::make_unique<TDcLabel>();
    QPointer<TDcBlinkingControlsList> list = BlinkingControlsList();
    list->Add(&leaver);
    list->Remove(leaver.last.get());
    list->Add(leaver.last.get());
    list->TimerExpired();
    EXPECT_EQ(BlinkingControlsList(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(list.isNull());
}
