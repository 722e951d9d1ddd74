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
    static const char *const names[] = {"sdLeft", "sdTop", "sdRight", "sdBottom"};
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        if ((sides >> i) & 1)
            parts << QLatin1String(names[i]);
    return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
}

} // namespace

TDcFrameController::TDcFrameController(QObject *owner) : QObject(owner) {}

TDcFrameController::~TDcFrameController() = default;

void TDcFrameController::AddControl(QWidget *control)
{
    if (!control)
        return;
    if (!m_controls)
        m_controls = std::make_unique<QList<QPointer<QWidget>>>();
    if (m_controls->contains(control))
        return;
    m_controls->append(control);
    UpdateControl(control, fcpAll);
}

void TDcFrameController::RemoveControl(QWidget *control)
{
    if (!m_controls)
        return;
    m_controls->removeAll(control);
    m_controls->removeAll(QPointer<QWidget>());
    if (m_controls->isEmpty())
        m_controls.reset();
}

void TDcFrameController::UpdateControls(TDcFrameControllerProperty notification)
{
    if (m_updateCount >= 1 || !m_controls)
        return;
    const QList<QPointer<QWidget>> controls = *m_controls;
    for (const QPointer<QWidget> &control : controls)
        if (control)
            UpdateControl(control, notification);
}

void TDcFrameController::BeginUpdate()
{
    ++m_updateCount;
}

void TDcFrameController::EndUpdate()
{
    --m_updateCount;
    if (m_updateCount < 1) {
        m_updateCount = 0;
        UpdateControls(fcpAll);
    }
}

void TDcFrameController::UpdateControl(QWidget *control, TDcFrameControllerProperty n)
{
    if (!control)
        return;
    if (auto *client = dynamic_cast<IFrameControllerClient *>(control)) {
        client->FrameControllerChanged();
        return;
    }

    TDcFrameControllerNotifications wanted = fcnAll;
    const QMetaObject *meta = control->metaObject();
    if (meta->indexOfProperty("FrameControllerNotifications") >= 0)
        wanted = TDcFrameControllerNotifications(control->property("FrameControllerNotifications").toUInt()) & fcnAll;

    // Sets the control's property `name` when it has one, in the type the
    // property takes.
    const auto put = [&](TDcFrameControllerProperty member, const char *name, const QVariant &value) {
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
            return SidesToText(m_frameSides);
        return int(m_frameSides);
    };

    switch (n) {
    case fcpColor: put(n, "Color", color(m_color)); break;
    case fcpFocusColor: put(n, "FocusColor", color(m_focusColor)); break;
    case fcpDisabledColor: put(n, "DisabledColor", color(m_disabledColor)); break;
    case fcpReadOnlyColor: put(n, "ReadOnlyColor", color(m_readOnlyColor)); break;
    case fcpParentColor: put(n, "ParentColor", m_parentColor); break;
    case fcpFlatButtonColor: put(n, "FlatButtonColor", color(m_flatButtonColor)); break;
    case fcpFlatButtons: put(n, "FlatButtons", m_flatButtons); break;
    case fcpFrameColor: put(n, "FrameColor", color(m_frameColor)); break;
    case fcpFrameHotColor: put(n, "FrameHotColor", color(m_frameHotColor)); break;
    case fcpFrameHotTrack: put(n, "FrameHotTrack", m_frameHotTrack); break;
    case fcpFrameHotStyle: put(n, "FrameHotStyle", int(m_frameHotStyle)); break;
    case fcpFrameSides: put(n, "FrameSides", sides()); break;
    case fcpFrameStyle: put(n, "FrameStyle", int(m_frameStyle)); break;
    case fcpFrameVisible: put(n, "FrameVisible", m_frameVisible); break;
    case fcpFramingPreference: put(n, "FramingPreference", int(m_framingPreference)); break;
    case fcpAll:
        put(fcpParentColor, "ParentColor", m_parentColor);
        if (!m_parentColor)
            put(fcpColor, "Color", color(m_color));
        put(fcpDisabledColor, "DisabledColor", color(m_disabledColor));
        put(fcpReadOnlyColor, "ReadOnlyColor", color(m_readOnlyColor));
        put(fcpFocusColor, "FocusColor", color(m_focusColor));
        put(fcpFlatButtonColor, "FlatButtonColor", color(m_flatButtonColor));
        put(fcpFlatButtons, "FlatButtons", m_flatButtons);
        put(fcpFrameColor, "FrameColor", color(m_frameColor));
        put(fcpFrameHotColor, "FrameHotColor", color(m_frameHotColor));
        put(fcpFrameHotTrack, "FrameHotTrack", m_frameHotTrack);
        put(fcpFrameHotStyle, "FrameHotStyle", int(m_frameHotStyle));
        put(fcpFrameSides, "FrameSides", sides());
        put(fcpFrameStyle, "FrameStyle", int(m_frameStyle));
        put(fcpFrameVisible, "FrameVisible", m_frameVisible);
        put(fcpFramingPreference, "FramingPreference", int(m_framingPreference));
        break;
    }
}

void TDcFrameController::setColor(TColor value)
{
    if (value == m_color)
        return;
    if (m_color == m_focusColor)
        m_focusColor = value;
    m_color = value;
    m_parentColor = false;
    UpdateControls(fcpColor);
}

void TDcFrameController::setParentColor(bool value)
{
    if (!StoreChanged(m_parentColor, value))
        return;
    UpdateControls(fcpParentColor);
    if (!value)
        UpdateControls(fcpColor);
}

// The settings whose change is only passed on to the controls.
#define DC_CONTROLLER_SETTER(Name, Type, field, member) \
    void TDcFrameController::set##Name(Type value)      \
    {                                                   \
        if (StoreChanged(field, value))                 \
            UpdateControls(member);                     \
    }

DC_CONTROLLER_SETTER(FlatButtonColor, TColor, m_flatButtonColor, fcpFlatButtonColor)
DC_CONTROLLER_SETTER(FlatButtons, bool, m_flatButtons, fcpFlatButtons)
DC_CONTROLLER_SETTER(DisabledColor, TColor, m_disabledColor, fcpDisabledColor)
DC_CONTROLLER_SETTER(ReadOnlyColor, TColor, m_readOnlyColor, fcpReadOnlyColor)
DC_CONTROLLER_SETTER(FocusColor, TColor, m_focusColor, fcpFocusColor)
DC_CONTROLLER_SETTER(FrameColor, TColor, m_frameColor, fcpFrameColor)
DC_CONTROLLER_SETTER(FrameHotColor, TColor, m_frameHotColor, fcpFrameHotColor)
DC_CONTROLLER_SETTER(FrameHotStyle, TFrameStyle, m_frameHotStyle, fcpFrameHotStyle)
DC_CONTROLLER_SETTER(FrameSides, TSides, m_frameSides, fcpFrameSides)
DC_CONTROLLER_SETTER(FrameStyle, TFrameStyle, m_frameStyle, fcpFrameStyle)
DC_CONTROLLER_SETTER(FrameVisible, bool, m_frameVisible, fcpFrameVisible)
DC_CONTROLLER_SETTER(FramingPreference, TFramingPreference, m_framingPreference, fcpFramingPreference)

#undef DC_CONTROLLER_SETTER

void TDcFrameController::setFrameHotTrack(bool value)
{
    if (!StoreChanged(m_frameHotTrack, value))
        return;
    if (value) {
        setFrameVisible(true);
        if (!m_loading)
            m_frameSides = sdsAll;
    }
    UpdateControls(fcpFrameHotTrack);
}

void TDcFrameController::setRegIniFile(TDcRegIniFile *value)
{
    m_regIniFile = value;
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

void TDcFrameController::Assign(const TDcFrameController &source)
{
    if (&source == this)
        return;
    BeginUpdate();
    m_color = source.m_color;
    m_disabledColor = source.m_disabledColor;
    m_readOnlyColor = source.m_readOnlyColor;
    m_focusColor = source.m_focusColor;
    m_flatButtonColor = source.m_flatButtonColor;
    m_flatButtons = source.m_flatButtons;
    m_frameColor = source.m_frameColor;
    m_frameHotColor = source.m_frameHotColor;
    m_frameHotTrack = source.m_frameHotTrack;
    m_frameHotStyle = source.m_frameHotStyle;
    m_frameSides = source.m_frameSides;
    m_frameStyle = source.m_frameStyle;
    m_frameVisible = source.m_frameVisible;
    m_framingPreference = source.m_framingPreference;
    m_parentColor = source.m_parentColor;
    EndUpdate();
}

void TDcFrameController::Loaded()
{
    m_loading = false;
    UpdateControls(fcpAll);
}
