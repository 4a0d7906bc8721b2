// Runs a scenario inside the application's message loop on the headless backend.
#pragma once

#include <functional>
#include <memory>

#include "framework/forms.h"
#include "framework/headless/headless_backend.h"

// A form whose first show starts the scenario; the scenario closes it.
class ScenarioForm : public TForm {
 public:
  explicit ScenarioForm(TComponent* owner) : TForm(owner) {
    OnShow = [this](TObject*) {
      if (!mStarted) {
        mStarted = true;
        scenario(*this);
      }
    };
  }
  static inline std::function<void(ScenarioForm&)> scenario;

 private:
  bool mStarted = false;
};

// Initialises the application on a fresh headless backend, shows a scenario
// form and runs the message loop until the scenario closes the form.
inline framework::HeadlessBackend* RunScenario(std::function<void(ScenarioForm&)> scenario) {
  auto backend = std::make_unique<framework::HeadlessBackend>();
  framework::HeadlessBackend* raw = backend.get();
  framework::SetBackend(std::move(backend));
  ScenarioForm::scenario = std::move(scenario);
  ScenarioForm* form = nullptr;
  Application->Initialize();
  Application->CreateForm(form);
  Application->Run();
  return raw;
}
