// The decorated label: a caption painted raised, recessed or with a shadow,
// straight, rotated or along a curve, with an optional frame border, blinking
// and a fly-by colour.
#pragma once

#include "controls/DcCommon.h"

#include <QPointer>
#include <QWidget>

enum TRotation : std::uint8_t { roNone, roFlat, roCurve };
enum TCenterPoint : std::uint8_t {
    cpUpperLeft,
    cpUpperCenter,
    cpUpperRight,
    cpLeftCenter,
    cpCenter,
    cpRightCenter,
    cpLowerLeft,
    cpLowerCenter,
    cpLowerRight
};
enum TDcCondenseCaption : std::uint8_t { ccNone, ccAtEnd, ccWithinPath };

// The label. Colours are set either as TColor values (system colours allowed)
// or as QColor (the form layouts' colour values); both setter overloads exist
// under the property's name.
class TDcLabel : public QWidget, public IDcBlinkingControl, public IFrameControllerClient {
    Q_OBJECT
    // A value that does nothing: a layout may carry it.
    Q_PROPERTY(QString About READ About WRITE setAbout STORED false)
    // The caption and the label's own basic properties.
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(QString Caption READ text WRITE setText)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment)
    Q_PROPERTY(TAlignment Alignment READ Alignment WRITE setAlignment)
    Q_PROPERTY(TTextLayout Layout READ Layout WRITE setLayout)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)
    Q_PROPERTY(bool autoSize READ AutoSize WRITE setAutoSize)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE setWordWrap)
    Q_PROPERTY(bool wordWrap READ WordWrap WRITE setWordWrap)
    Q_PROPERTY(bool ShowAccelChar READ ShowAccelChar WRITE setShowAccelChar)
    Q_PROPERTY(bool Transparent READ Transparent WRITE setTransparent)
    Q_PROPERTY(QColor Color READ colorQ WRITE setColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE setParentColor)
    Q_PROPERTY(QColor FontColor READ fontColorQ WRITE setFontColor)
    Q_PROPERTY(QString FontName READ FontName WRITE setFontName)
    // The decorated label's properties.
    Q_PROPERTY(int Angle READ Angle WRITE setAngle)
    Q_PROPERTY(bool Blinking READ Blinking WRITE setBlinking)
    Q_PROPERTY(QColor BlinkColor READ blinkColorQ WRITE setBlinkColor)
    Q_PROPERTY(int BlinkIntervalOff READ BlinkIntervalOff WRITE setBlinkIntervalOff)
    Q_PROPERTY(int BlinkIntervalOn READ BlinkIntervalOn WRITE setBlinkIntervalOn)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE setBevelWidth)
    Q_PROPERTY(TFrameStyleEx BorderInner READ BorderInner WRITE setBorderInner)
    Q_PROPERTY(TFrameStyleEx BorderOuter READ BorderOuter WRITE setBorderOuter)
    Q_PROPERTY(int BorderSides READ borderSidesInt WRITE setBorderSides)
    Q_PROPERTY(QColor BorderColor READ borderColorQ WRITE setBorderColor)
    Q_PROPERTY(QColor BorderHighlight READ borderHighlightQ WRITE setBorderHighlight)
    Q_PROPERTY(QColor BorderShadow READ borderShadowQ WRITE setBorderShadow)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE setBorderWidth)
    Q_PROPERTY(TDcCondenseCaption CondenseCaption READ CondenseCaption WRITE setCondenseCaption)
    Q_PROPERTY(QColor FlatColor READ flatColorQ WRITE setFlatColor)
    Q_PROPERTY(int FlatColorAdjustment READ FlatColorAdjustment WRITE setFlatColorAdjustment)
    Q_PROPERTY(
        int FrameControllerNotifications READ frameControllerNotificationsInt WRITE setFrameControllerNotifications)
    Q_PROPERTY(TCenterPoint CenterPoint READ CenterPoint WRITE setCenterPoint)
    Q_PROPERTY(QColor FlyByColor READ flyByColorQ WRITE setFlyByColor)
    Q_PROPERTY(bool FlyByEnabled READ FlyByEnabled WRITE setFlyByEnabled)
    Q_PROPERTY(bool LightTextStyle READ LightTextStyle WRITE setLightTextStyle)
    Q_PROPERTY(TRotation Rotation READ Rotation WRITE setRotation)
    Q_PROPERTY(QColor HighlightColor READ highlightColorQ WRITE setHighlightColor)
    Q_PROPERTY(QColor ShadowColor READ shadowColorQ WRITE setShadowColor)
    Q_PROPERTY(int ShadowDepth READ ShadowDepth WRITE setShadowDepth)
    Q_PROPERTY(int TextMargin READ TextMargin WRITE setTextMargin)
    Q_PROPERTY(TTextStyle TextStyle READ TextStyle WRITE setTextStyle)
    // The name older layouts gave the border sides: read and dropped.
    Q_PROPERTY(QVariant FrameSides READ droppedValue WRITE setFrameSides STORED false DESIGNABLE false)

public:
    // Enumeration values reachable as TDcLabel::<value> (form layouts name
    // them so).
    using enum TRotation;
    using enum TCenterPoint;
    using enum TDcCondenseCaption;
    using enum TTextStyle;
    using enum TFrameStyleEx;
    using enum TTextLayout;
    using enum TAlignment;
    using QWidget::setLayout;

    explicit TDcLabel(QWidget* parent = nullptr);
    ~TDcLabel() override;

    // --- caption and inherited label properties ---
    QString text() const { return caption_; }
    void setText(const QString& text);
    virtual QString GetLabelText() const { return caption_; }
    Qt::Alignment alignment() const;
    void setAlignment(Qt::Alignment alignment);
    TAlignment Alignment() const { return alignment_; }
    void setAlignment(TAlignment value);
    TTextLayout Layout() const { return layout_; }
    void setLayout(TTextLayout value);
    bool AutoSize() const { return autoSize_; }
    void setAutoSize(bool value);
    bool WordWrap() const { return wordWrap_; }
    void setWordWrap(bool value);
    bool ShowAccelChar() const { return showAccelChar_; }
    void setShowAccelChar(bool value);
    bool Transparent() const { return transparent_; }
    void setTransparent(bool value);
    TColor Color() const { return color_; }
    void setColor(TColor value);
    void setColor(const QColor& value) { setColor(QColorToTColor(value)); }
    bool ParentColor() const { return parentColor_; }
    void setParentColor(bool value);
    TColor FontColor() const { return fontColor_; }
    void setFontColor(TColor value);
    void setFontColor(const QColor& value) { setFontColor(QColorToTColor(value)); }
    QString FontName() const { return font().family(); }
    void setFontName(const QString& name);

    // --- decorated label properties ---
    int Angle() const { return angle_; }
    virtual void setAngle(int value);
    bool Blinking() const { return blinking_; }
    virtual void setBlinking(bool value);
    TColor BlinkColor() const { return blinkColor_; }
    virtual void setBlinkColor(TColor value);
    void setBlinkColor(const QColor& value) { setBlinkColor(QColorToTColor(value)); }
    virtual int BlinkIntervalOff() const;
    virtual void setBlinkIntervalOff(int value);
    virtual int BlinkIntervalOn() const;
    virtual void setBlinkIntervalOn(int value);
    int BevelWidth() const { return bevelWidth_; }
    virtual void setBevelWidth(int value);
    TFrameStyleEx BorderInner() const { return borderInner_; }
    virtual void setBorderInner(TFrameStyleEx value);
    TFrameStyleEx BorderOuter() const { return borderOuter_; }
    virtual void setBorderOuter(TFrameStyleEx value);
    TSides BorderSides() const { return borderSides_; }
    virtual void setBorderSides(int value);
    TColor BorderColor() const { return borderColor_; }
    virtual void setBorderColor(TColor value);
    void setBorderColor(const QColor& value) { setBorderColor(QColorToTColor(value)); }
    TColor BorderHighlight() const { return borderHighlight_; }
    virtual void setBorderHighlight(TColor value);
    void setBorderHighlight(const QColor& value) { setBorderHighlight(QColorToTColor(value)); }
    TColor BorderShadow() const { return borderShadow_; }
    virtual void setBorderShadow(TColor value);
    void setBorderShadow(const QColor& value) { setBorderShadow(QColorToTColor(value)); }
    int BorderWidth() const { return borderWidth_; }
    virtual void setBorderWidth(int value);
    TDcCondenseCaption CondenseCaption() const { return condenseCaption_; }
    virtual void setCondenseCaption(TDcCondenseCaption value);
    TColor FlatColor() const { return flatColor_; }
    virtual void setFlatColor(TColor value);
    void setFlatColor(const QColor& value) { setFlatColor(QColorToTColor(value)); }
    int FlatColorAdjustment() const { return flatColorAdjustment_; }
    virtual void setFlatColorAdjustment(int value);
    TDcFrameControllerNotifications FrameControllerNotifications() const { return frameControllerNotifications_; }
    void setFrameControllerNotifications(int value);
    TDcFrameController* FrameController() const { return frameController_; }
    virtual void setFrameController(TDcFrameController* value);
    TCenterPoint CenterPoint() const { return centerPoint_; }
    virtual void setCenterPoint(TCenterPoint value);
    TColor FlyByColor() const { return flyByColor_; }
    virtual void setFlyByColor(TColor value);
    void setFlyByColor(const QColor& value) { setFlyByColor(QColorToTColor(value)); }
    bool FlyByEnabled() const { return flyByEnabled_; }
    virtual void setFlyByEnabled(bool value);
    bool LightTextStyle() const { return lightTextStyle_; }
    virtual void setLightTextStyle(bool value);
    TRotation Rotation() const { return rotation_; }
    virtual void setRotation(TRotation value);
    TColor HighlightColor() const { return highlightColor_; }
    virtual void setHighlightColor(TColor value);
    void setHighlightColor(const QColor& value) { setHighlightColor(QColorToTColor(value)); }
    TColor ShadowColor() const { return shadowColor_; }
    virtual void setShadowColor(TColor value);
    void setShadowColor(const QColor& value) { setShadowColor(QColorToTColor(value)); }
    int ShadowDepth() const { return shadowDepth_; }
    virtual void setShadowDepth(int value);
    int TextMargin() const { return textMargin_; }
    virtual void setTextMargin(int value);
    TTextStyle TextStyle() const { return textStyle_; }
    virtual void setTextStyle(TTextStyle value);

    // The colour the caption is painted in (the normal or the blink colour).
    TColor TextColor() const { return textColor_; }
    TColor NormalTextColor() const { return normalTextColor_; }

    // --- loading from a layout ---
    // While loading, the font fallback and the font bookkeeping are skipped
    // and the label is not sized; Loaded() finishes the job.
    void setLoading(bool loading) { loading_ = loading; }
    bool Loading() const { return loading_; }
    virtual void Loaded();

    // --- layout ---
    virtual void GrowByBorders(QSize& size) const;
    virtual void ShrinkByBorders(TDcRect& rect, bool includeBorderWidth) const;
    QPoint GetCenterPoint() const;
    QPoint GetCurveRadius() const;
    // Sizes the label to its caption (only with AutoSize).
    virtual void AdjustBounds();
    // The size AdjustBounds gives for the current caption and settings.
    QSize AutoSizeExtent() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // --- blinking and frame controller ---
    virtual void Blink(bool state);
    bool CMIsBlinking() const override { return blinking_; }
    void CMBlink(bool state) override;
    void FrameControllerChanged() override;

    // Repaints at once (the label's "Repaint").
    void Repaint();

    // --- names a layout may carry that change nothing ---
    QString About() const { return {}; }
    void setAbout(const QString&) { }
    void setFrameSides(const QVariant&) { }

signals:
    void OnMouseEnter(QObject* sender);
    void OnMouseLeave(QObject* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

    // Notification handlers.
    virtual void CMFontChanged();
    virtual void CMTextChanged();
    virtual void CMMouseEnter();
    virtual void CMMouseLeave();
    virtual void CMParentColorChanged();
    // Places the text of one pass within rect (layout and shadow shifts).
    void ApplyLayout(const QString& text, int flags, TDcRect& rect) const;

private:
    QVariant droppedValue() const { return {}; }
    void DrawStyledText(QPainter& painter);
    void DrawCurvedText(QPainter& painter);
    TColor parentColorValue() const;
    int textFlags() const;
    QColor colorQ() const { return TColorToQColor(color_); }
    QColor fontColorQ() const { return TColorToQColor(fontColor_); }
    QColor blinkColorQ() const { return TColorToQColor(blinkColor_); }
    QColor borderColorQ() const { return TColorToQColor(borderColor_); }
    QColor borderHighlightQ() const { return TColorToQColor(borderHighlight_); }
    QColor borderShadowQ() const { return TColorToQColor(borderShadow_); }
    QColor flatColorQ() const { return TColorToQColor(flatColor_); }
    QColor flyByColorQ() const { return TColorToQColor(flyByColor_); }
    QColor highlightColorQ() const { return TColorToQColor(highlightColor_); }
    QColor shadowColorQ() const { return TColorToQColor(shadowColor_); }
    int borderSidesInt() const { return borderSides_; }
    int frameControllerNotificationsInt() const { return frameControllerNotifications_; }

    QString caption_;
    TAlignment alignment_ = taLeftJustify;
    TTextLayout layout_ = tlTop;
    bool autoSize_ = true;
    bool wordWrap_ = false;
    bool showAccelChar_ = true;
    bool transparent_ = false;
    TColor color_ = clBtnFace;
    bool parentColor_ = true;
    TColor fontColor_ = clWindowText;

    int angle_ = 0;
    TColor blinkColor_ = clHighlight;
    bool blinking_ = false;
    int bevelWidth_ = 1;
    TFrameStyleEx borderInner_ = fsNone;
    TFrameStyleEx borderOuter_ = fsNone;
    TSides borderSides_ = sdsAll;
    TColor borderColor_ = clBtnFace;
    TColor borderHighlight_ = clBtnHighlight;
    TColor borderShadow_ = clBtnShadow;
    int borderWidth_ = 0;
    TColor flatColor_ = clBtnShadow;
    int flatColorAdjustment_ = 30;
    TColor normalTextColor_ = clBlack;
    QPointer<TDcFrameController> frameController_;
    TDcFrameControllerNotifications frameControllerNotifications_ = fcnAll;
    TCenterPoint centerPoint_ = cpCenter;
    TColor flyBySavedColor_ = clBlack;
    bool updatingColor_ = false;
    bool flyByEnabled_ = false;
    TColor flyByColor_ = clHighlight;
    bool lightTextStyle_ = false;
    TTextStyle textStyle_ = tsNormal;
    TRotation rotation_ = roNone;
    TColor highlightColor_ = clBtnHighlight;
    TColor shadowColor_ = clBtnShadow;
    int shadowDepth_ = 2;
    int textMargin_ = 0;
    TDcCondenseCaption condenseCaption_ = ccNone;
    TColor textColor_ = clBlack;
    bool loading_ = false;
    bool adjusting_ = false;
    bool flyByShown_ = false;  // the fly-by colour is shown (mouse over the label)
};
