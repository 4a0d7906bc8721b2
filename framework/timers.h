// The framework's timer: ticks on the main thread while enabled.
#pragma once

#include "framework/classes.h"

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner) : TComponent(owner) {}
  ~TTimer() override;

  bool Enabled() const { return mEnabled; }
  // True starts the timer: the first tick comes one interval later, on the
  // main thread; false stops it. Main thread only.
  void SetEnabled(bool enabled);
  unsigned Interval() const { return mInterval; }
  void SetInterval(unsigned milliseconds);

  TNotifyEvent OnTimer;

 private:
  void Restart();
  void Tick();

  bool mEnabled = false;
  unsigned mInterval = 1000;
  int mTimerId = 0;
};
