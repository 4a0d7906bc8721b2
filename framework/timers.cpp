// The framework's timer over the backend's timer service.
#include "framework/timers.h"

#include "framework/backend.h"
#include "framework/forms.h"

TTimer::~TTimer() {
  if (mTimerId != 0) framework::CurrentBackend().StopTimer(mTimerId);
}

void TTimer::SetEnabled(bool enabled) {
  // An enabled timer whose handler came after its interval starts here.
  if (enabled == mEnabled && (!enabled || mTimerId != 0)) return;
  mEnabled = enabled;
  Restart();
}

void TTimer::SetInterval(unsigned milliseconds) {
  if (milliseconds == mInterval) return;
  mInterval = milliseconds;
  Restart();
}

void TTimer::Restart() {
  framework::Backend& backend = framework::CurrentBackend();
  if (mTimerId != 0) {
    backend.StopTimer(mTimerId);
    mTimerId = 0;
  }
  if (mEnabled && mInterval > 0 && OnTimer) {
    mTimerId = backend.StartTimer(mInterval, [this] { Tick(); });
  }
}

void TTimer::Tick() {
  Application->DeliverEvent([this] {
    if (mEnabled && OnTimer) OnTimer(this);
  });
}
