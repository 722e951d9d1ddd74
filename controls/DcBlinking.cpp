// The blinking controls list of the decorated controls (DcCommon.h).
#include "controls/DcCommon.h"
#include "controls/DcSetters.h"

#include <QTimer>
#include <QWidget>

// ---------------------------------------------------------------------------
// Blinking controls list
// ---------------------------------------------------------------------------

namespace {
TDcBlinkingControlsList* g_blinkingList = nullptr;
}

TDcBlinkingControlsList::TDcBlinkingControlsList()
{
    timer_ = new QTimer;
    timer_->setInterval(intervalOff_);
    connect(timer_, &QTimer::timeout, this, &TDcBlinkingControlsList::TimerExpired);
    timer_->start();
}

TDcBlinkingControlsList::~TDcBlinkingControlsList()
{
    delete timer_;
}

void TDcBlinkingControlsList::Add(IDcBlinkingControl* control)
{
    controls_.append(control);
}

void TDcBlinkingControlsList::Remove(IDcBlinkingControl* control)
{
    controls_.removeOne(control);
}

int TDcBlinkingControlsList::Count() const
{
    return int(controls_.size());
}

void TDcBlinkingControlsList::TimerExpired()
{
    // The system's timers run at least 10 ms apart; a zero interval would
    // otherwise keep the event loop busy.
    constexpr int minimumInterval = 10;
    if (blinkState_) {
        blinkState_ = false;
        timer_->setInterval(std::max<int>(intervalOff_, minimumInterval));
    } else {
        blinkState_ = true;
        timer_->setInterval(std::max<int>(intervalOn_, minimumInterval));
    }
    // A control may leave the list while being told (and the last one may
    // release the list): walk a copy, skip the ones that left, stop when the
    // list was released.
    ticking_ = true;
    const QList<IDcBlinkingControl*> controls = controls_;
    for (IDcBlinkingControl* control : controls) {
        if (g_blinkingList != this)
            break;
        if (!controls_.contains(control))
            continue;
        if (control->CMIsBlinking())
            control->CMBlink(blinkState_);
    }
    ticking_ = false;
}

TDcBlinkingControlsList* BlinkingControlsList()
{
    return g_blinkingList;
}

TDcBlinkingControlsList* EnsureBlinkingControlsList()
{
    if (!g_blinkingList)
        g_blinkingList = new TDcBlinkingControlsList;
    return g_blinkingList;
}

void ReleaseBlinkingControlsList()
{
    if (!g_blinkingList || g_blinkingList->Count() != 0)
        return;
    TDcBlinkingControlsList* list = g_blinkingList;
    g_blinkingList = nullptr;
    // Released from within its own tick: freed once the tick is over.
    if (list->Ticking()) {
        list->Timer()->stop();
        list->deleteLater();
    } else {
        delete list;
    }
}
