// The framework's timer: ticks on the main thread while enabled.
#pragma once

#include "framework/classes.h"

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner) : TComponent(owner) {}
  ~TTimer() override;

  // A new timer is enabled; it ticks once it has a handler and is started by
  // SetInterval or SetEnabled(true) after the handler was set.
  bool Enabled() const { return mEnabled; }
  // True starts the timer (unless it already runs): the first tick comes one
  // interval later, on the main thread; false stops it. Main thread only.
  void SetEnabled(bool enabled);
  unsigned Interval() const { return mInterval; }
  void SetInterval(unsigned milliseconds);

  TNotifyEvent OnTimer;

 private:
  void Restart();
  void Tick();

  bool mEnabled = true;
  unsigned mInterval = 1000;
  int mTimerId = 0;
};
