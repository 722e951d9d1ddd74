// The decorated label's properties, their rules and its layout.
#include "ControlsTestSupport.h"

#include "controls/DcLabel.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>

using ctltest::FixedFont;
using ctltest::QtTest;

class LabelTest : public QtTest { };

TEST_F(LabelTest, AngleIsNormalised)
{
    TDcLabel l;
    l.setAutoSize(false);
    for (auto [set, kept] : {std::pair{-30, 330}, {400, 40}, {-400, -40}, {360, 0}, {720, 0}}) {
        l.setAngle(set);
        EXPECT_EQ(l.Angle(), kept) << set;
    }
}

TEST_F(LabelTest, AngleAndRotation)
{
    TDcLabel l;
    l.setAutoSize(false);
    l.setAngle(45);
    EXPECT_EQ(l.Rotation(), roFlat);
    l.setRotation(roFlat);
    EXPECT_EQ(l.Angle(), 45) << "an unchanged rotation keeps the angle";
    l.setRotation(roNone);
    EXPECT_EQ(l.Angle(), 0);

    l.setCenterPoint(cpUpperLeft);
    l.setRotation(roCurve);
    EXPECT_EQ(l.CenterPoint(), cpUpperLeft);
    l.setAngle(30);
    EXPECT_EQ(l.Rotation(), roCurve) << "only a label without rotation becomes flat";
    l.setRotation(roFlat);
    EXPECT_EQ(l.Angle(), 0);
    EXPECT_EQ(l.CenterPoint(), cpCenter);
}

TEST_F(LabelTest, VerticalLabelFromALayoutInEitherOrder)
{
    for (bool angleFirst : {true, false}) {
        TDcLabel l;
        l.setLoading(true);
        if (angleFirst) {
            l.setAngle(90);
            l.setRotation(roFlat);
        } else {
            l.setRotation(roFlat);
            l.setAngle(90);
        }
        l.Loaded();
        EXPECT_EQ(l.Angle(), 90);
        EXPECT_EQ(l.Rotation(), roFlat);
    }
}

TEST_F(LabelTest, ParentColour)
{
    QWidget parent;
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(10, 20, 30));
    parent.setPalette(pal);
    auto* l = new TDcLabel(&parent);
    EXPECT_TRUE(l->ParentColor());
    EXPECT_EQ(l->Color(), RGBColor(10, 20, 30));

    pal.setColor(QPalette::Window, QColor(40, 50, 60));
    parent.setPalette(pal);
    EXPECT_EQ(l->Color(), RGBColor(40, 50, 60)) << "follows the parent";

    l->setColor(clRed);
    EXPECT_FALSE(l->ParentColor());
    pal.setColor(QPalette::Window, QColor(1, 2, 3));
    parent.setPalette(pal);
    EXPECT_EQ(l->Color(), clRed);
    l->setParentColor(true);
    EXPECT_EQ(l->Color(), RGBColor(1, 2, 3));
}

TEST_F(LabelTest, FlyBy)
{
    TDcLabel l;
    l.setFontColor(clNavy);
    l.setFlyByColor(clRed);
    QSignalSpy entered(&l, &TDcLabel::OnMouseEnter);
    QSignalSpy left(&l, &TDcLabel::OnMouseLeave);

    // Disabled: nothing changes, the events still come.
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&l, &enter);
    EXPECT_EQ(l.FontColor(), clNavy);
    QApplication::sendEvent(&l, &leave);
    EXPECT_EQ(entered.count(), 1);
    EXPECT_EQ(left.count(), 1);

    l.setFlyByEnabled(true);
    QApplication::sendEvent(&l, &enter);
    EXPECT_EQ(l.FontColor(), clRed);
    EXPECT_EQ(l.TextColor(), clRed);
    QApplication::sendEvent(&l, &leave);
    EXPECT_EQ(l.FontColor(), clNavy);
    EXPECT_EQ(l.TextColor(), clNavy);

    // Turning it off restores the saved colour, the mouse over the label
    // or not.
    QApplication::sendEvent(&l, &enter);
    l.setFlyByEnabled(false);
    EXPECT_EQ(l.FontColor(), clNavy);
    l.setFlyByEnabled(true);
    l.setFlyByEnabled(false);
    EXPECT_EQ(l.FontColor(), clNavy);

    // A label the mouse never came over: the saved colour is the first black.
    TDcLabel fresh;
    EXPECT_EQ(fresh.TextColor(), clBlack);
    EXPECT_EQ(fresh.NormalTextColor(), clBlack);
    fresh.setFontColor(clNavy);
    fresh.setFlyByEnabled(true);
    fresh.setFlyByEnabled(false);
    EXPECT_EQ(fresh.FontColor(), clBlack);
    EXPECT_EQ(fresh.TextColor(), clBlack);
}

class LabelLayoutTest : public QtTest {
protected:
    // What the label's borders and turn make of a 100 x 20 caption.
    static QSize Grown(const TDcLabel& l)
    {
        QSize s(100, 20);
        l.GrowByBorders(s);
        return s;
    }
};

TEST_F(LabelLayoutTest, GrowByBordersStraight)
{
    TDcLabel l;
    l.setAutoSize(false);
    EXPECT_EQ(Grown(l), QSize(100, 20));

    l.setTextStyle(tsShadow);
    l.setShadowDepth(4);
    EXPECT_EQ(Grown(l), QSize(104, 24));
    l.setTextStyle(tsNormal);

    l.setBorderOuter(fsPopup);
    l.setBevelWidth(3);
    l.setBorderWidth(2);
    l.setBorderInner(fsFlat);
    EXPECT_EQ(Grown(l), QSize(112, 32));
    l.setBorderSides(sdsLeft);
    EXPECT_EQ(Grown(l), QSize(106, 20));
}

TEST_F(LabelLayoutTest, GrowByBordersRotated)
{
    TDcLabel l;
    l.setAutoSize(false);
    for (auto [angle, grown] : {std::pair{90, QSize(20, 100)}, {180, QSize(100, 20)}, {45, QSize(85, 85)}}) {
        l.setAngle(angle);
        EXPECT_EQ(Grown(l), grown) << angle;
    }
    l.setAngle(30);
    l.setTextStyle(tsShadow);
    l.setShadowDepth(4);
    EXPECT_EQ(Grown(l), QSize(99, 70));
    // A curve adds nothing.
    l.setRotation(roCurve);
    EXPECT_EQ(Grown(l), QSize(100, 20));
}

TEST_F(LabelLayoutTest, ShrinkByBorders)
{
    TDcLabel l;
    l.setAutoSize(false);
    l.setBorderOuter(fsPopup);
    l.setBevelWidth(3);
    TDcRect r{0, 0, 50, 30};
    l.ShrinkByBorders(r, true);
    EXPECT_EQ(r, (TDcRect{3, 3, 47, 27}));
    l.setBorderSides(sdsLeft);
    l.setBorderWidth(2);
    r = {0, 0, 50, 30};
    l.ShrinkByBorders(r, true);
    EXPECT_EQ(r, (TDcRect{5, 2, 48, 28})) << "the band width counts on all four sides";
    r = {0, 0, 50, 30};
    l.ShrinkByBorders(r, false);
    EXPECT_EQ(r, (TDcRect{3, 0, 50, 30}));
}

TEST_F(LabelLayoutTest, AutoSizeMeasuresTheCaption)
{
    QWidget parent;
    auto* l = new TDcLabel(&parent);
    l->setFont(FixedFont(15));
    l->move(30, 40);
    l->setText(QStringLiteral("Suivi des patients"));
    const QFontMetrics fm(FixedFont(15));
    const QSize text = fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic,
                             QStringLiteral("Suivi des patients"))
                           .size();
    EXPECT_EQ(l->size(), text);
    EXPECT_EQ(l->pos(), QPoint(30, 40));

    l->setAngle(90);
    EXPECT_EQ(l->size(), text.transposed());
    l->setAngle(180);
    EXPECT_EQ(l->size(), text) << "upside down keeps the straight measure";

    l->setAngle(0);
    l->setRotation(roNone);
    l->setBorderOuter(fsPopup);
    l->setBevelWidth(3);
    l->setText(QStringLiteral("Suivi des patients!"));
    const QSize longer = fm.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop,
                               QStringLiteral("Suivi des patients!"))
                             .size();
    EXPECT_EQ(l->size(), longer + QSize(6, 6));

    // Right-justified: the right edge stays.
    l->setAlignment(taRightJustify);
    const int right = l->x() + l->width();
    l->setText(QStringLiteral("Court"));
    EXPECT_EQ(l->x() + l->width(), right);

    // An empty caption measures as one blank line.
    l->setText(QString());
    EXPECT_GT(l->height(), 6);
}

TEST_F(LabelLayoutTest, AutoSizeOffKeepsTheBounds)
{
    QWidget parent;
    auto* l = new TDcLabel(&parent);
    l->setAutoSize(false);
    l->setGeometry(5, 5, 200, 50);
    l->setText(QStringLiteral("Patients"));
    l->setAngle(90);
    EXPECT_EQ(l->geometry(), QRect(5, 5, 200, 50));
}

TEST_F(LabelLayoutTest, LabelInALayoutIsSizedByItsHint)
{
    QWidget parent;
    auto* box = new QVBoxLayout(&parent);
    auto* l = new TDcLabel;
    box->addWidget(l);
    l->setFont(FixedFont(15));
    l->setText(QStringLiteral("Bonjour"));
    EXPECT_EQ(l->sizeHint(), l->AutoSizeExtent());
    parent.resize(300, 200);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    const int full = 300 - box->contentsMargins().left() - box->contentsMargins().right();
    EXPECT_EQ(l->width(), full);
    // A new caption does not shrink a label that a layout places.
    l->setText(QStringLiteral("Au revoir, docteur"));
    QApplication::processEvents();
    EXPECT_EQ(l->width(), full);
}

TEST_F(LabelLayoutTest, CentrePointAndCurveRadius)
{
    TDcLabel l;
    l.setAutoSize(false);
    l.resize(101, 51);
    l.setBorderWidth(3);
    l.setRotation(roCurve);
    const struct {
        TCenterPoint cp;
        QPoint centre, radius;
    } cases[] = {
        {cpUpperLeft, {3, 3}, {95, 45}},
        {cpCenter, {50, 25}, {44, 19}},
        {cpLowerRight, {98, 48}, {95, 45}},
    };
    for (const auto& c : cases) {
        l.setCenterPoint(c.cp);
        EXPECT_EQ(l.GetCenterPoint(), c.centre) << int(c.cp);
        EXPECT_EQ(l.GetCurveRadius(), c.radius) << int(c.cp);
    }
    l.setRotation(roFlat);
    l.setCenterPoint(cpLowerRight);
    EXPECT_EQ(l.GetCenterPoint(), QPoint(50, 25)) << "a flat rotation turns around the middle";
}
