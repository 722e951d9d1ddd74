// The frame controller of the decorated controls (DcCommon.h).
#include "controls/DcCommon.h"
#include "controls/DcSetters.h"

#include <QMetaProperty>
#include <QWidget>

// ---------------------------------------------------------------------------
// Frame controller
// ---------------------------------------------------------------------------

namespace {

// The text of a set of sides, as layouts write it.
QString SidesToText(TSides sides)
{
    static const char* const names[] = {"sdLeft", "sdTop", "sdRight", "sdBottom"};
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        if ((sides >> i) & 1)
            parts << QLatin1String(names[i]);
    return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
}

}  // namespace

TDcFrameController::TDcFrameController(QObject* owner) : QObject(owner)
{
}

TDcFrameController::~TDcFrameController() = default;

void TDcFrameController::AddControl(QWidget* control)
{
    if (!control)
        return;
    if (!controls_)
        controls_ = std::make_unique<QList<QPointer<QWidget>>>();
    if (controls_->contains(control))
        return;
    controls_->append(control);
    UpdateControl(control, fcpAll);
}

void TDcFrameController::RemoveControl(QWidget* control)
{
    if (!controls_)
        return;
    controls_->removeAll(control);
    controls_->removeAll(QPointer<QWidget>());
    if (controls_->isEmpty())
        controls_.reset();
}

void TDcFrameController::UpdateControls(TDcFrameControllerProperty notification)
{
    if (updateCount_ >= 1 || !controls_)
        return;
    const QList<QPointer<QWidget>> controls = *controls_;
    for (const QPointer<QWidget>& control : controls)
        if (control)
            UpdateControl(control, notification);
}

void TDcFrameController::BeginUpdate()
{
    ++updateCount_;
}

void TDcFrameController::EndUpdate()
{
    --updateCount_;
    if (updateCount_ < 1) {
        updateCount_ = 0;
        UpdateControls(fcpAll);
    }
}

void TDcFrameController::UpdateControl(QWidget* control, TDcFrameControllerProperty n)
{
    if (!control)
        return;
    if (auto* client = dynamic_cast<IFrameControllerClient*>(control)) {
        client->FrameControllerChanged();
        return;
    }

    TDcFrameControllerNotifications wanted = fcnAll;
    const QMetaObject* meta = control->metaObject();
    if (meta->indexOfProperty("FrameControllerNotifications") >= 0)
        wanted = TDcFrameControllerNotifications(control->property("FrameControllerNotifications").toUInt()) & fcnAll;

    // Sets the control's property `name` when it has one, in the type the
    // property takes.
    const auto put = [&](TDcFrameControllerProperty member, const char* name, const QVariant& value) {
        if (!(wanted & fcnOf(member)))
            return;
        const int index = meta->indexOfProperty(name);
        if (index < 0)
            return;
        const QMetaProperty prop = meta->property(index);
        QVariant v = value;
        if (prop.metaType().id() == QMetaType::QColor && value.metaType().id() == QMetaType::UInt)
            v = TColorToQColor(value.toUInt());
        prop.write(control, v);
    };
    const auto color = [](TColor c) { return QVariant::fromValue(uint(c)); };
    const auto sides = [&]() -> QVariant {
        const int index = meta->indexOfProperty("FrameSides");
        if (index >= 0 && meta->property(index).metaType().id() == QMetaType::QString)
            return SidesToText(frameSides_);
        return int(frameSides_);
    };

    switch (n) {
    case fcpColor:
        put(n, "Color", color(color_));
        break;
    case fcpFocusColor:
        put(n, "FocusColor", color(focusColor_));
        break;
    case fcpDisabledColor:
        put(n, "DisabledColor", color(disabledColor_));
        break;
    case fcpReadOnlyColor:
        put(n, "ReadOnlyColor", color(readOnlyColor_));
        break;
    case fcpParentColor:
        put(n, "ParentColor", parentColor_);
        break;
    case fcpFlatButtonColor:
        put(n, "FlatButtonColor", color(flatButtonColor_));
        break;
    case fcpFlatButtons:
        put(n, "FlatButtons", flatButtons_);
        break;
    case fcpFrameColor:
        put(n, "FrameColor", color(frameColor_));
        break;
    case fcpFrameHotColor:
        put(n, "FrameHotColor", color(frameHotColor_));
        break;
    case fcpFrameHotTrack:
        put(n, "FrameHotTrack", frameHotTrack_);
        break;
    case fcpFrameHotStyle:
        put(n, "FrameHotStyle", int(frameHotStyle_));
        break;
    case fcpFrameSides:
        put(n, "FrameSides", sides());
        break;
    case fcpFrameStyle:
        put(n, "FrameStyle", int(frameStyle_));
        break;
    case fcpFrameVisible:
        put(n, "FrameVisible", frameVisible_);
        break;
    case fcpFramingPreference:
        put(n, "FramingPreference", int(framingPreference_));
        break;
    case fcpAll:
        put(fcpParentColor, "ParentColor", parentColor_);
        if (!parentColor_)
            put(fcpColor, "Color", color(color_));
        put(fcpDisabledColor, "DisabledColor", color(disabledColor_));
        put(fcpReadOnlyColor, "ReadOnlyColor", color(readOnlyColor_));
        put(fcpFocusColor, "FocusColor", color(focusColor_));
        put(fcpFlatButtonColor, "FlatButtonColor", color(flatButtonColor_));
        put(fcpFlatButtons, "FlatButtons", flatButtons_);
        put(fcpFrameColor, "FrameColor", color(frameColor_));
        put(fcpFrameHotColor, "FrameHotColor", color(frameHotColor_));
        put(fcpFrameHotTrack, "FrameHotTrack", frameHotTrack_);
        put(fcpFrameHotStyle, "FrameHotStyle", int(frameHotStyle_));
        put(fcpFrameSides, "FrameSides", sides());
        put(fcpFrameStyle, "FrameStyle", int(frameStyle_));
        put(fcpFrameVisible, "FrameVisible", frameVisible_);
        put(fcpFramingPreference, "FramingPreference", int(framingPreference_));
        break;
    }
}

void TDcFrameController::setColor(TColor value)
{
    if (value == color_)
        return;
    if (color_ == focusColor_)
        focusColor_ = value;
    color_ = value;
    parentColor_ = false;
    UpdateControls(fcpColor);
}

void TDcFrameController::setParentColor(bool value)
{
    if (!StoreChanged(parentColor_, value))
        return;
    UpdateControls(fcpParentColor);
    if (!value)
        UpdateControls(fcpColor);
}

// The settings whose change is only passed on to the controls.
#define DC_CONTROLLER_SETTER(Name, Type, field, member)                                                                \
    void TDcFrameController::set##Name(Type value)                                                                     \
    {                                                                                                                  \
        if (StoreChanged(field, value))                                                                                \
            UpdateControls(member);                                                                                    \
    }

DC_CONTROLLER_SETTER(FlatButtonColor, TColor, flatButtonColor_, fcpFlatButtonColor)
DC_CONTROLLER_SETTER(FlatButtons, bool, flatButtons_, fcpFlatButtons)
DC_CONTROLLER_SETTER(DisabledColor, TColor, disabledColor_, fcpDisabledColor)
DC_CONTROLLER_SETTER(ReadOnlyColor, TColor, readOnlyColor_, fcpReadOnlyColor)
DC_CONTROLLER_SETTER(FocusColor, TColor, focusColor_, fcpFocusColor)
DC_CONTROLLER_SETTER(FrameColor, TColor, frameColor_, fcpFrameColor)
DC_CONTROLLER_SETTER(FrameHotColor, TColor, frameHotColor_, fcpFrameHotColor)
DC_CONTROLLER_SETTER(FrameHotStyle, TFrameStyle, frameHotStyle_, fcpFrameHotStyle)
DC_CONTROLLER_SETTER(FrameSides, TSides, frameSides_, fcpFrameSides)
DC_CONTROLLER_SETTER(FrameStyle, TFrameStyle, frameStyle_, fcpFrameStyle)
DC_CONTROLLER_SETTER(FrameVisible, bool, frameVisible_, fcpFrameVisible)
DC_CONTROLLER_SETTER(FramingPreference, TFramingPreference, framingPreference_, fcpFramingPreference)

#undef DC_CONTROLLER_SETTER

void TDcFrameController::setFrameHotTrack(bool value)
{
    if (!StoreChanged(frameHotTrack_, value))
        return;
    if (value) {
        setFrameVisible(true);
        if (!loading_)
            frameSides_ = sdsAll;
    }
    UpdateControls(fcpFrameHotTrack);
}

void TDcFrameController::setRegIniFile(TDcRegIniFile* value)
{
    regIniFile_ = value;
}

void TDcFrameController::ReadFrameFlat(bool value)
{
    setFrameHotTrack(value);
    if (value) {
        setFrameStyle(fsStatus);
        setFrameHotStyle(fsLowered);
    }
}

void TDcFrameController::ReadFrameFocusStyle(TFrameStyle value)
{
    setFrameHotStyle(value);
}

void TDcFrameController::Assign(const TDcFrameController& source)
{
    if (&source == this)
        return;
    BeginUpdate();
    color_ = source.color_;
    disabledColor_ = source.disabledColor_;
    readOnlyColor_ = source.readOnlyColor_;
    focusColor_ = source.focusColor_;
    flatButtonColor_ = source.flatButtonColor_;
    flatButtons_ = source.flatButtons_;
    frameColor_ = source.frameColor_;
    frameHotColor_ = source.frameHotColor_;
    frameHotTrack_ = source.frameHotTrack_;
    frameHotStyle_ = source.frameHotStyle_;
    frameSides_ = source.frameSides_;
    frameStyle_ = source.frameStyle_;
    frameVisible_ = source.frameVisible_;
    framingPreference_ = source.framingPreference_;
    parentColor_ = source.parentColor_;
    EndUpdate();
}

void TDcFrameController::Loaded()
{
    loading_ = false;
    UpdateControls(fcpAll);
}
