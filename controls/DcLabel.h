// The decorated label: a caption painted raised, recessed or with a shadow,
// straight, rotated or along a curve, with an optional frame border, blinking
// and a fly-by colour.
#pragma once

#include "controls/DcCommon.h"

#include <QPointer>
#include <QWidget>

enum TRotation : std::uint8_t { roNone, roFlat, roCurve };
enum TCenterPoint : std::uint8_t {
    cpUpperLeft, cpUpperCenter, cpUpperRight, cpLeftCenter, cpCenter,
    cpRightCenter, cpLowerLeft, cpLowerCenter, cpLowerRight
};
enum TDcCondenseCaption : std::uint8_t { ccNone, ccAtEnd, ccWithinPath };

// The label. Colours are set either as TColor values (system colours allowed)
// or as QColor (the form layouts' colour values); both setter overloads exist
// under the property's name.
class TDcLabel : public QWidget, public IDcBlinkingControl, public IFrameControllerClient {
    Q_OBJECT
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
    Q_PROPERTY(int FrameControllerNotifications READ frameControllerNotificationsInt WRITE setFrameControllerNotifications)
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

    explicit TDcLabel(QWidget *parent = nullptr);
    ~TDcLabel() override;

    // --- caption and inherited label properties ---
    QString text() const { return m_caption; }
    void setText(const QString &text);
    virtual QString GetLabelText() const { return m_caption; }
    Qt::Alignment alignment() const;
    void setAlignment(Qt::Alignment alignment);
    TAlignment Alignment() const { return m_alignment; }
    void setAlignment(TAlignment value);
    TTextLayout Layout() const { return m_layout; }
    void setLayout(TTextLayout value);
    bool AutoSize() const { return m_autoSize; }
    void setAutoSize(bool value);
    bool WordWrap() const { return m_wordWrap; }
    void setWordWrap(bool value);
    bool ShowAccelChar() const { return m_showAccelChar; }
    void setShowAccelChar(bool value);
    bool Transparent() const { return m_transparent; }
    void setTransparent(bool value);
    TColor Color() const { return m_color; }
    void setColor(TColor value);
    void setColor(const QColor &value) { setColor(QColorToTColor(value)); }
    bool ParentColor() const { return m_parentColor; }
    void setParentColor(bool value);
    TColor FontColor() const { return m_fontColor; }
    void setFontColor(TColor value);
    void setFontColor(const QColor &value) { setFontColor(QColorToTColor(value)); }
    QString FontName() const { return font().family(); }
    void setFontName(const QString &name);

    // --- decorated label properties ---
    int Angle() const { return m_angle; }
    virtual void setAngle(int value);
    bool Blinking() const { return m_blinking; }
    virtual void setBlinking(bool value);
    TColor BlinkColor() const { return m_blinkColor; }
    virtual void setBlinkColor(TColor value);
    void setBlinkColor(const QColor &value) { setBlinkColor(QColorToTColor(value)); }
    virtual int BlinkIntervalOff() const;
    virtual void setBlinkIntervalOff(int value);
    virtual int BlinkIntervalOn() const;
    virtual void setBlinkIntervalOn(int value);
    int BevelWidth() const { return m_bevelWidth; }
    virtual void setBevelWidth(int value);
    TFrameStyleEx BorderInner() const { return m_borderInner; }
    virtual void setBorderInner(TFrameStyleEx value);
    TFrameStyleEx BorderOuter() const { return m_borderOuter; }
    virtual void setBorderOuter(TFrameStyleEx value);
    TSides BorderSides() const { return m_borderSides; }
    virtual void setBorderSides(int value);
    TColor BorderColor() const { return m_borderColor; }
    virtual void setBorderColor(TColor value);
    void setBorderColor(const QColor &value) { setBorderColor(QColorToTColor(value)); }
    TColor BorderHighlight() const { return m_borderHighlight; }
    virtual void setBorderHighlight(TColor value);
    void setBorderHighlight(const QColor &value) { setBorderHighlight(QColorToTColor(value)); }
    TColor BorderShadow() const { return m_borderShadow; }
    virtual void setBorderShadow(TColor value);
    void setBorderShadow(const QColor &value) { setBorderShadow(QColorToTColor(value)); }
    int BorderWidth() const { return m_borderWidth; }
    virtual void setBorderWidth(int value);
    TDcCondenseCaption CondenseCaption() const { return m_condenseCaption; }
    virtual void setCondenseCaption(TDcCondenseCaption value);
    TColor FlatColor() const { return m_flatColor; }
    virtual void setFlatColor(TColor value);
    void setFlatColor(const QColor &value) { setFlatColor(QColorToTColor(value)); }
    int FlatColorAdjustment() const { return m_flatColorAdjustment; }
    virtual void setFlatColorAdjustment(int value);
    TDcFrameControllerNotifications FrameControllerNotifications() const { return m_frameControllerNotifications; }
    void setFrameControllerNotifications(int value);
    TDcFrameController *FrameController() const { return m_frameController; }
    virtual void setFrameController(TDcFrameController *value);
    TCenterPoint CenterPoint() const { return m_centerPoint; }
    virtual void setCenterPoint(TCenterPoint value);
    TColor FlyByColor() const { return m_flyByColor; }
    virtual void setFlyByColor(TColor value);
    void setFlyByColor(const QColor &value) { setFlyByColor(QColorToTColor(value)); }
    bool FlyByEnabled() const { return m_flyByEnabled; }
    virtual void setFlyByEnabled(bool value);
    bool LightTextStyle() const { return m_lightTextStyle; }
    virtual void setLightTextStyle(bool value);
    TRotation Rotation() const { return m_rotation; }
    virtual void setRotation(TRotation value);
    TColor HighlightColor() const { return m_highlightColor; }
    virtual void setHighlightColor(TColor value);
    void setHighlightColor(const QColor &value) { setHighlightColor(QColorToTColor(value)); }
    TColor ShadowColor() const { return m_shadowColor; }
    virtual void setShadowColor(TColor value);
    void setShadowColor(const QColor &value) { setShadowColor(QColorToTColor(value)); }
    int ShadowDepth() const { return m_shadowDepth; }
    virtual void setShadowDepth(int value);
    int TextMargin() const { return m_textMargin; }
    virtual void setTextMargin(int value);
    TTextStyle TextStyle() const { return m_textStyle; }
    virtual void setTextStyle(TTextStyle value);

    // The colour the caption is painted in (the normal or the blink colour).
    TColor TextColor() const { return m_textColor; }
    TColor NormalTextColor() const { return m_normalTextColor; }

    // --- loading from a layout ---
    // While loading, the font fallback and the font bookkeeping are skipped
    // and the label is not sized; Loaded() finishes the job.
    void setLoading(bool loading) { m_loading = loading; }
    bool Loading() const { return m_loading; }
    virtual void Loaded();

    // --- layout ---
    virtual void GrowByBorders(QSize &size) const;
    virtual void ShrinkByBorders(TDcRect &rect, bool includeBorderWidth) const;
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
    bool CMIsBlinking() const override { return m_blinking; }
    void CMBlink(bool state) override;
    void FrameControllerChanged() override;

    // Repaints at once (the label's "Repaint").
    void Repaint();

signals:
    void OnMouseEnter(QObject *sender);
    void OnMouseLeave(QObject *sender);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool event(QEvent *event) override;

    // Notification handlers.
    virtual void CMFontChanged();
    virtual void CMTextChanged();
    virtual void CMMouseEnter();
    virtual void CMMouseLeave();
    virtual void CMParentColorChanged();
    // Places the text of one pass within rect (layout and shadow shifts).
    void ApplyLayout(const QString &text, int flags, TDcRect &rect) const;

private:
    void DrawStyledText(QPainter &painter);
    void DrawCurvedText(QPainter &painter);
    TColor parentColorValue() const;
    int textFlags() const;
    QColor colorQ() const { return TColorToQColor(m_color); }
    QColor fontColorQ() const { return TColorToQColor(m_fontColor); }
    QColor blinkColorQ() const { return TColorToQColor(m_blinkColor); }
    QColor borderColorQ() const { return TColorToQColor(m_borderColor); }
    QColor borderHighlightQ() const { return TColorToQColor(m_borderHighlight); }
    QColor borderShadowQ() const { return TColorToQColor(m_borderShadow); }
    QColor flatColorQ() const { return TColorToQColor(m_flatColor); }
    QColor flyByColorQ() const { return TColorToQColor(m_flyByColor); }
    QColor highlightColorQ() const { return TColorToQColor(m_highlightColor); }
    QColor shadowColorQ() const { return TColorToQColor(m_shadowColor); }
    int borderSidesInt() const { return m_borderSides; }
    int frameControllerNotificationsInt() const { return m_frameControllerNotifications; }

    QString m_caption;
    TAlignment m_alignment = taLeftJustify;
    TTextLayout m_layout = tlTop;
    bool m_autoSize = true;
    bool m_wordWrap = false;
    bool m_showAccelChar = true;
    bool m_transparent = false;
    TColor m_color = clBtnFace;
    bool m_parentColor = true;
    TColor m_fontColor = clWindowText;

    int m_angle = 0;
    TColor m_blinkColor = clHighlight;
    bool m_blinking = false;
    int m_bevelWidth = 1;
    TFrameStyleEx m_borderInner = fsNone;
    TFrameStyleEx m_borderOuter = fsNone;
    TSides m_borderSides = sdsAll;
    TColor m_borderColor = clBtnFace;
    TColor m_borderHighlight = clBtnHighlight;
    TColor m_borderShadow = clBtnShadow;
    int m_borderWidth = 0;
    TColor m_flatColor = clBtnShadow;
    int m_flatColorAdjustment = 30;
    TColor m_normalTextColor = clBlack;
    QPointer<TDcFrameController> m_frameController;
    TDcFrameControllerNotifications m_frameControllerNotifications = fcnAll;
    TCenterPoint m_centerPoint = cpCenter;
    TColor m_flyBySavedColor = clBlack;
    bool m_updatingColor = false;
    bool m_flyByEnabled = false;
    TColor m_flyByColor = clHighlight;
    bool m_lightTextStyle = false;
    TTextStyle m_textStyle = tsNormal;
    TRotation m_rotation = roNone;
    TColor m_highlightColor = clBtnHighlight;
    TColor m_shadowColor = clBtnShadow;
    int m_shadowDepth = 2;
    int m_textMargin = 0;
    TDcCondenseCaption m_condenseCaption = ccNone;
    TColor m_textColor = clBlack;
    bool m_loading = false;
    bool m_adjusting = false;
    bool m_flyByShown = false;  // the fly-by colour is shown (mouse over the label)
};
