// The blinking controls list of the decorated controls (DcCommon.h).
#include "controls/DcCommon.h"
#include "controls/DcSetters.h"

#include <QTimer>
#include <QWidget>

// ---------------------------------------------------------------------------
// Blinking controls list
// ---------------------------------------------------------------------------

namespace {
TDcBlinkingControlsList *g_blinkingList = nullptr;
}

TDcBlinkingControlsList::TDcBlinkingControlsList()
{
    m_timer = new QTimer;
    m_timer->setInterval(m_intervalOff);
    connect(m_timer, &QTimer::timeout, this, &TDcBlinkingControlsList::TimerExpired);
    m_timer->start();
}

TDcBlinkingControlsList::~TDcBlinkingControlsList()
{
    delete m_timer;
}

void TDcBlinkingControlsList::Add(IDcBlinkingControl *control)
{
    m_controls.append(control);
}

void TDcBlinkingControlsList::Remove(IDcBlinkingControl *control)
{
    m_controls.removeOne(control);
}

int TDcBlinkingControlsList::Count() const
{
    return int(m_controls.size());
}

void TDcBlinkingControlsList::TimerExpired()
{
    // The system's timers run at least 10 ms apart; a zero interval would
    // otherwise keep the event loop busy.
    constexpr int minimumInterval = 10;
    if (m_blinkState) {
        m_blinkState = false;
        m_timer->setInterval(std::max<int>(m_intervalOff, minimumInterval));
    } else {
        m_blinkState = true;
        m_timer->setInterval(std::max<int>(m_intervalOn, minimumInterval));
    }
    // A control may leave the list while being told (and the last one may
    // release the list): walk a copy, skip the ones that left, stop when the
    // list was released.
    m_ticking = true;
    const QList<IDcBlinkingControl *> controls = m_controls;
    for (IDcBlinkingControl *control : controls) {
        if (g_blinkingList != this)
            break;
        if (!m_controls.contains(control))
            continue;
        if (control->CMIsBlinking())
            control->CMBlink(m_blinkState);
    }
    m_ticking = false;
}

TDcBlinkingControlsList *BlinkingControlsList()
{
    return g_blinkingList;
}

TDcBlinkingControlsList *EnsureBlinkingControlsList()
{
    if (!g_blinkingList)
        g_blinkingList = new TDcBlinkingControlsList;
    return g_blinkingList;
}

void ReleaseBlinkingControlsList()
{
    if (!g_blinkingList || g_blinkingList->Count() != 0)
        return;
    TDcBlinkingControlsList *list = g_blinkingList;
    g_blinkingList = nullptr;
    // Released from within its own tick: freed once the tick is over.
    if (list->Ticking()) {
        list->Timer()->stop();
        list->deleteLater();
    } else {
        delete list;
    }
}
