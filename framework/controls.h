// Controls of a form: their place, and the push button.
#pragma once

#include <string>

#include "framework/classes.h"

namespace framework {
class FormWindow;
}

// A control placed on its parent's client area (the form's when Parent is
// null). The form's window makes the control's native counterpart when it is
// first shown, in the order the controls were made.
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner) : TComponent(owner) {}

  std::u16string Name;
  TControl* Parent = nullptr;
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int TabOrder = -1;  // position in the parent's tab order; -1 when not a tab stop

  // Left and top on the form's client area, through every parent.
  int FormLeft() const { return Left + (Parent != nullptr ? Parent->FormLeft() : 0); }
  int FormTop() const { return Top + (Parent != nullptr ? Parent->FormTop() : 0); }

  // Lets the window make this control's counterpart (double dispatch).
  virtual void AttachTo(framework::FormWindow& window) = 0;
};

class TButton : public TControl {
 public:
  explicit TButton(TComponent* owner) : TControl(owner) {}

  std::u16string Caption;
  bool Default = false;  // the Return key presses a default button
  TNotifyEvent OnClick;

  // What a press of the button does; main thread.
  void Click() {
    if (OnClick) OnClick(this);
  }
  void AttachTo(framework::FormWindow& window) override;
};
