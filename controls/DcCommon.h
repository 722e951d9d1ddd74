// Shared routines of the decorated controls: colours, borders, fonts, the
// blinking-controls list, the frame controller and the settings file.
#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

class QPainter;
class QTimer;

namespace kui {
class TIniFile;
}
class QWidget;

// ---------------------------------------------------------------------------
// Colours
// ---------------------------------------------------------------------------

// A 32-bit colour: $00BBGGRR for red, green and blue parts, $FF0000nn for the
// system colour nn, clNone ($1FFFFFFF) for "no colour".
using TColor = std::uint32_t;

inline constexpr TColor clNone = 0x1FFFFFFFu;

inline constexpr TColor clBlack = 0x000000u;
inline constexpr TColor clMaroon = 0x000080u;
inline constexpr TColor clGreen = 0x008000u;
inline constexpr TColor clOlive = 0x008080u;
inline constexpr TColor clNavy = 0x800000u;
inline constexpr TColor clPurple = 0x800080u;
inline constexpr TColor clTeal = 0x808000u;
inline constexpr TColor clGray = 0x808080u;
inline constexpr TColor clSilver = 0xC0C0C0u;
inline constexpr TColor clRed = 0x0000FFu;
inline constexpr TColor clLime = 0x00FF00u;
inline constexpr TColor clYellow = 0x00FFFFu;
inline constexpr TColor clBlue = 0xFF0000u;
inline constexpr TColor clFuchsia = 0xFF00FFu;
inline constexpr TColor clAqua = 0xFFFF00u;
inline constexpr TColor clWhite = 0xFFFFFFu;

inline constexpr TColor clSystemColor = 0xFF000000u;
inline constexpr TColor clScrollBar = 0xFF000000u;
inline constexpr TColor clBackground = 0xFF000001u;
inline constexpr TColor clActiveCaption = 0xFF000002u;
inline constexpr TColor clInactiveCaption = 0xFF000003u;
inline constexpr TColor clMenu = 0xFF000004u;
inline constexpr TColor clWindow = 0xFF000005u;
inline constexpr TColor clWindowFrame = 0xFF000006u;
inline constexpr TColor clMenuText = 0xFF000007u;
inline constexpr TColor clWindowText = 0xFF000008u;
inline constexpr TColor clCaptionText = 0xFF000009u;
inline constexpr TColor clActiveBorder = 0xFF00000Au;
inline constexpr TColor clInactiveBorder = 0xFF00000Bu;
inline constexpr TColor clAppWorkSpace = 0xFF00000Cu;
inline constexpr TColor clHighlight = 0xFF00000Du;
inline constexpr TColor clHighlightText = 0xFF00000Eu;
inline constexpr TColor clBtnFace = 0xFF00000Fu;
inline constexpr TColor clBtnShadow = 0xFF000010u;
inline constexpr TColor clGrayText = 0xFF000011u;
inline constexpr TColor clBtnText = 0xFF000012u;
inline constexpr TColor clInactiveCaptionText = 0xFF000013u;
inline constexpr TColor clBtnHighlight = 0xFF000014u;
inline constexpr TColor cl3DDkShadow = 0xFF000015u;
inline constexpr TColor cl3DLight = 0xFF000016u;
inline constexpr TColor clInfoText = 0xFF000017u;
inline constexpr TColor clInfoBk = 0xFF000018u;
inline constexpr TColor clHotLight = 0xFF00001Au;
inline constexpr TColor clGradientActiveCaption = 0xFF00001Bu;
inline constexpr TColor clGradientInactiveCaption = 0xFF00001Cu;
inline constexpr TColor clMenuHighlight = 0xFF00001Du;
inline constexpr TColor clMenuBar = 0xFF00001Eu;

// System colour numbers used by the gradient.
inline constexpr int SysColorActiveCaption = 2;
inline constexpr int SysColorGradientActiveCaption = 27;

// Red, green and blue parts of an RGB colour (no system colour resolved).
constexpr int RedOf(TColor c)
{
    return int(c & 0xFF);
}
constexpr int GreenOf(TColor c)
{
    return int((c >> 8) & 0xFF);
}
constexpr int BlueOf(TColor c)
{
    return int((c >> 16) & 0xFF);
}
constexpr TColor RGBColor(int r, int g, int b)
{
    return TColor(r & 0xFF) | (TColor(g & 0xFF) << 8) | (TColor(b & 0xFF) << 16);
}

// The RGB value of system colour `index`, from the application palette
// (0 for an index that names no colour).
TColor SystemColor(int index);
// Turns a colour into its RGB value: system colours resolved, otherwise the
// top byte dropped.
TColor ResolveColor(TColor color);
// Conversions between TColor and QColor (a system colour is resolved; an
// invalid QColor gives clNone, clNone gives an invalid QColor).
QColor TColorToQColor(TColor color);
TColor QColorToTColor(const QColor& color);

void ColorToHLS(TColor color, std::uint8_t& h, std::uint8_t& s, std::uint8_t& l);
TColor HLSToColor(std::uint8_t h, std::uint8_t s, std::uint8_t l);
TColor DarkerColor(TColor color, std::uint8_t amount);
TColor LighterColor(TColor color, std::uint8_t amount);
// Amounts outside -255..255 are clamped to that range.
TColor AdjustColor(TColor color, int amount);

// ---------------------------------------------------------------------------
// Styles
// ---------------------------------------------------------------------------

enum TTextStyle : std::uint8_t { tsNormal, tsRaised, tsRecessed, tsShadow };

enum TFrameStyleEx : std::uint8_t {
    fsNone,
    fsFlat,
    fsGroove,
    fsBump,
    fsLowered,
    fsButtonDown,
    fsRaised,
    fsButtonUp,
    fsStatus,
    fsPopup,
    fsFlatBold,
    fsFlatRounded
};
// The subrange fsNone..fsFlatBold.
using TFrameStyle = TFrameStyleEx;

enum TSide : std::uint8_t { sdLeft, sdTop, sdRight, sdBottom };
// A set of sides, one bit each (left 1, top 2, right 4, bottom 8).
using TSides = std::uint8_t;
inline constexpr TSides sdsLeft = 1, sdsTop = 2, sdsRight = 4, sdsBottom = 8;
inline constexpr TSides sdsAll = 15;
constexpr bool HasSide(TSides sides, TSide side)
{
    return (sides >> side) & 1;
}

enum TFramingPreference : std::uint8_t { fpCustomFraming, fpXPThemes };

enum TTextLayout : std::uint8_t { tlTop, tlCenter, tlBottom };
enum TAlignment : std::uint8_t { taLeftJustify, taRightJustify, taCenter };

// Line colours of the single-line frame styles, indexed by style.
TColor ULFrameColor(TFrameStyle style);
TColor LRFrameColor(TFrameStyle style);

// ---------------------------------------------------------------------------
// Borders. Every routine paints one-pixel lines on the painter (device
// coordinates, no transformation) and returns the rectangle left inside what
// it painted. Rectangles are Left, Top, Right, Bottom with Right and Bottom
// exclusive (TDcRect; toQRect/fromQRect convert).
// ---------------------------------------------------------------------------

struct TDcRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    QRect toQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    static TDcRect fromQRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
    bool operator==(const TDcRect&) const = default;
};

TDcRect DrawSides(QPainter& canvas, const TDcRect& bounds, TColor ulColor, TColor lrColor, TSides sides);
TDcRect DrawBevel(QPainter& canvas, const TDcRect& bounds, TColor ulColor, TColor lrColor, int width, TSides sides);
TDcRect Draw3DBorder(QPainter& canvas, const TDcRect& bounds, bool sunken, TSides sides);
TDcRect DrawButtonBorder(QPainter& canvas, const TDcRect& bounds, bool down, TSides sides);
TDcRect DrawFrame(QPainter& canvas, const TDcRect& bounds, TFrameStyle style, TSides sides);
TDcRect DrawRoundedFlatBorder(QPainter& canvas, const TDcRect& bounds, TColor color, TSides sides);
TDcRect DrawFrameStyle(QPainter& canvas, const TDcRect& bounds, TFrameStyleEx borderOuter, TFrameStyleEx borderInner,
    int borderWidth, TSides borderSides, int bevelWidth, TColor borderColor, TColor borderHighlight,
    TColor borderShadow, TColor flatColor, int flatColorAdjustment, TColor color, TColor parentColor, bool transparent,
    bool softInnerFlat);

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------

// A font description: what a rotated font is made from.
struct TDcFontDescription {
    int Height = 0;  // negative: character height in pixels
    int Width = 0;
    int Escapement = 0;  // tenths of a degree, counter-clockwise
    int Orientation = 0;
    int Weight = 0;  // 400 normal, 700 bold
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    std::uint8_t CharSet = 0;
    std::uint8_t OutPrecision = 0;
    std::uint8_t ClipPrecision = 0;
    std::uint8_t Quality = 0;
    std::uint8_t PitchAndFamily = 0;  // 0 default, 1 fixed, 2 variable
    QString FaceName;

    // The font this description stands for (without the escapement, which
    // the caller applies as a rotation).
    QFont toQFont() const;
};

// The height of a font in the system's convention (negative pixel size).
int FontHeight(const QFont& font);
// A description of `font` whose escapement is angle * 10.
TDcFontDescription CreateRotatedFont(const QFont& font, int angle);
// True for a scalable outline font.
bool IsTrueTypeFont(const QFont& font);

// Start-up facts.
std::uint8_t GetXPColorScheme();
bool IsHighColorDisplay();
extern bool HighColorDisplay;
extern std::uint8_t XPColorScheme;
// Records the two start-up facts once (called by the first control made).
void InitializeDcCommon();

// ---------------------------------------------------------------------------
// Blinking controls list
// ---------------------------------------------------------------------------

// A control that the blinking list drives.
class IDcBlinkingControl {
public:
    virtual ~IDcBlinkingControl() = default;
    // Answers true when the control blinks.
    virtual bool CMIsBlinking() const = 0;
    // Shows the blink colour (true) or the normal colour (false).
    virtual void CMBlink(bool state) = 0;
};

class TDcBlinkingControlsList : public QObject {
    Q_OBJECT
public:
    TDcBlinkingControlsList();
    ~TDcBlinkingControlsList() override;

    void Add(IDcBlinkingControl* control);
    void Remove(IDcBlinkingControl* control);
    virtual int Count() const;

    bool BlinkState() const { return blinkState_; }
    std::uint16_t IntervalOff() const { return intervalOff_; }
    std::uint16_t IntervalOn() const { return intervalOn_; }
    void setIntervalOff(std::uint16_t v) { intervalOff_ = v; }
    void setIntervalOn(std::uint16_t v) { intervalOn_ = v; }
    QTimer* Timer() const { return timer_; }
    // True while a tick is telling the controls.
    bool Ticking() const { return ticking_; }

public slots:
    void TimerExpired();

private:
    bool blinkState_ = true;
    bool ticking_ = false;
    QList<IDcBlinkingControl*> controls_;
    QTimer* timer_ = nullptr;
    std::uint16_t intervalOff_ = 500;
    std::uint16_t intervalOn_ = 500;
};

// The one list, or null.
TDcBlinkingControlsList* BlinkingControlsList();
// Makes the list when there is none; returns it.
TDcBlinkingControlsList* EnsureBlinkingControlsList();
// Frees the list when it holds no control.
void ReleaseBlinkingControlsList();

// ---------------------------------------------------------------------------
// Settings file
// ---------------------------------------------------------------------------

enum TDcPathType : std::uint8_t { ptIniFile, ptRegistry };
enum TDcRegKey : std::uint8_t {
    hkeyClassesRoot,
    hkeyCurrentUser,
    hkeyLocalMachine,
    hkeyUsers,
    hkeyPerformanceData,
    hkeyCurrentConfig,
    hkeyDynData
};
enum TDcRegAccessKey : std::uint8_t {
    keyQueryValue,
    keySetValue,
    keyCreateSubKey,
    keyEnumerateSubKeys,
    keyNotify,
    keyCreateLink,
    keyRead,
    keyWrite,
    keyExecute,
    keyAllAccess
};
// A set of TDcRegAccessKey, one bit each.
using TDcRegAccess = std::uint16_t;
inline constexpr TDcRegAccess RegAccessAll = TDcRegAccess(1u << keyAllAccess);

// Names a place where controls may keep settings: an INI file, or a key of the
// settings tree, which lives in INI files under a directory the caller gives
// (one file per root key, a section per key path). Both are read and written
// through the program's one INI file class (kui::TIniFile).
class TDcRegIniFile : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Path READ Path WRITE setPath)
    Q_PROPERTY(int PathType READ pathTypeInt WRITE setPathTypeInt)
    Q_PROPERTY(int RegKey READ regKeyInt WRITE setRegKeyInt)
    Q_PROPERTY(int RegAccess READ regAccessInt WRITE setRegAccessInt)
    // A value that does nothing: a layout may carry it.
    Q_PROPERTY(QString About READ About WRITE setAbout STORED false)
public:
    using enum TDcPathType;
    using enum TDcRegKey;

    explicit TDcRegIniFile(QObject* owner = nullptr);
    ~TDcRegIniFile() override;

    QString Path() const { return path_; }
    TDcPathType PathType() const { return pathType_; }
    TDcRegKey RegKey() const { return regKey_; }
    TDcRegAccess RegAccess() const { return regAccess_; }
    bool StorageStale() const { return storageStale_; }

    virtual void setPath(const QString& value);
    virtual void setPathType(TDcPathType value);
    virtual void setRegKey(TDcRegKey value);
    virtual void setRegAccess(TDcRegAccess value);

    QString About() const { return {}; }
    void setAbout(const QString&) { }

    // Directory of the INI files that stand for the settings tree.
    QString RegistryDirectory() const { return registryDirectory_; }
    void setRegistryDirectory(const QString& dir);

    // The file of the current properties (made anew when stale), or null
    // when no path is set (or, for the tree, no directory). The object stays
    // owned by this component.
    kui::TIniFile* Storage();
    // The section of Storage() that holds `section`: the name itself in an
    // INI file; in the tree, the key path ("\\" or "/" separated) then the
    // name, joined by "/".
    QString SectionName(const QString& section) const;

private:
    int pathTypeInt() const { return pathType_; }
    void setPathTypeInt(int v) { setPathType(TDcPathType(v)); }
    int regKeyInt() const { return regKey_; }
    void setRegKeyInt(int v) { setRegKey(TDcRegKey(v)); }
    int regAccessInt() const { return regAccess_; }
    void setRegAccessInt(int v) { setRegAccess(TDcRegAccess(v)); }

    QString path_;
    TDcPathType pathType_ = ptIniFile;
    TDcRegKey regKey_ = hkeyCurrentUser;
    TDcRegAccess regAccess_ = RegAccessAll;
    bool storageStale_ = true;
    QString registryDirectory_;
    std::unique_ptr<kui::TIniFile> iniStorage_;
    std::unique_ptr<kui::TIniFile> regStorage_;
};

// ---------------------------------------------------------------------------
// Frame controller
// ---------------------------------------------------------------------------

enum TDcFrameControllerProperty : std::uint8_t {
    fcpColor,
    fcpFocusColor,
    fcpDisabledColor,
    fcpReadOnlyColor,
    fcpParentColor,
    fcpFlatButtonColor,
    fcpFlatButtons,
    fcpFrameColor,
    fcpFrameHotColor,
    fcpFrameHotTrack,
    fcpFrameHotStyle,
    fcpFrameSides,
    fcpFrameStyle,
    fcpFrameVisible,
    fcpFramingPreference,
    fcpAll
};
// A set of fcpColor..fcpFramingPreference, one bit each.
using TDcFrameControllerNotifications = std::uint16_t;
inline constexpr TDcFrameControllerNotifications fcnAll = 0x7FFF;
constexpr TDcFrameControllerNotifications fcnOf(TDcFrameControllerProperty p)
{
    return p == fcpAll ? 0 : TDcFrameControllerNotifications(1u << p);
}

// A control that takes the controller's settings itself.
class IFrameControllerClient {
public:
    virtual ~IFrameControllerClient() = default;
    virtual void FrameControllerChanged() = 0;
};

// Keeps one set of colour and frame settings and pushes them to every control
// registered with it. A control implementing IFrameControllerClient reads the
// settings itself; any other widget gets the Qt properties of the same names.
class TDcFrameController : public QObject {
    Q_OBJECT
    // A value that does nothing: a layout may carry it.
    Q_PROPERTY(QString About READ About WRITE setAbout STORED false)
    // An obsolete name of older layouts: read and dropped.
    Q_PROPERTY(QVariant FrameFlatStyle READ droppedValue WRITE setFrameFlatStyle STORED false DESIGNABLE false)
public:
    using enum TDcFrameControllerProperty;

    explicit TDcFrameController(QObject* owner = nullptr);
    ~TDcFrameController() override;

    TColor Color() const { return color_; }
    TColor DisabledColor() const { return disabledColor_; }
    TColor ReadOnlyColor() const { return readOnlyColor_; }
    TColor FlatButtonColor() const { return flatButtonColor_; }
    bool FlatButtons() const { return flatButtons_; }
    TColor FocusColor() const { return focusColor_; }
    TColor FrameColor() const { return frameColor_; }
    TColor FrameHotColor() const { return frameHotColor_; }
    TFrameStyle FrameHotStyle() const { return frameHotStyle_; }
    bool FrameHotTrack() const { return frameHotTrack_; }
    TSides FrameSides() const { return frameSides_; }
    TFrameStyle FrameStyle() const { return frameStyle_; }
    bool FrameVisible() const { return frameVisible_; }
    TFramingPreference FramingPreference() const { return framingPreference_; }
    bool ParentColor() const { return parentColor_; }
    TDcRegIniFile* RegIniFile() const { return regIniFile_; }

    virtual void setColor(TColor value);
    virtual void setParentColor(bool value);
    virtual void setFlatButtonColor(TColor value);
    virtual void setFlatButtons(bool value);
    virtual void setDisabledColor(TColor value);
    virtual void setReadOnlyColor(TColor value);
    virtual void setFocusColor(TColor value);
    virtual void setFrameColor(TColor value);
    virtual void setFrameHotColor(TColor value);
    virtual void setFrameHotTrack(bool value);
    virtual void setFrameHotStyle(TFrameStyle value);
    virtual void setFrameSides(TSides value);
    virtual void setFrameStyle(TFrameStyle value);
    virtual void setFrameVisible(bool value);
    virtual void setFramingPreference(TFramingPreference value);
    virtual void setRegIniFile(TDcRegIniFile* value);

    // Obsolete settings of older layouts.
    void ReadFrameFlat(bool value);
    void ReadFrameFocusStyle(TFrameStyle value);
    void setFrameFlatStyle(const QVariant&) { }
    QString About() const { return {}; }
    void setAbout(const QString&) { }

    void AddControl(QWidget* control);
    void RemoveControl(QWidget* control);
    int ControlCount() const { return controls_ ? int(controls_->size()) : 0; }
    void BeginUpdate();
    void EndUpdate();
    // Copies every setting of another controller.
    void Assign(const TDcFrameController& source);
    // Called once the controller's own layout has been read.
    void Loaded();
    void setLoading(bool loading) { loading_ = loading; }

    virtual void UpdateControl(QWidget* control, TDcFrameControllerProperty notification);
    virtual void UpdateControls(TDcFrameControllerProperty notification);

private:
    QVariant droppedValue() const { return {}; }
    TColor color_ = clWindow;
    TColor disabledColor_ = clBtnFace;
    TColor readOnlyColor_ = clInfoBk;
    TColor flatButtonColor_ = clBtnFace;
    bool flatButtons_ = true;
    TColor focusColor_ = clWindow;
    TColor frameColor_ = clBtnShadow;
    TColor frameHotColor_ = clBtnShadow;
    TFrameStyle frameHotStyle_ = fsFlatBold;
    bool frameHotTrack_ = false;
    TSides frameSides_ = sdsAll;
    TFrameStyle frameStyle_ = fsFlat;
    bool frameVisible_ = false;
    TFramingPreference framingPreference_ = fpXPThemes;
    bool parentColor_ = false;
    QPointer<TDcRegIniFile> regIniFile_;
    std::unique_ptr<QList<QPointer<QWidget>>> controls_;
    int updateCount_ = 0;
    bool loading_ = false;
};
