// Puts a headless backend in place for a test, and runs a scenario inside the
// application's message loop on it.
#pragma once

#include <functional>
#include <memory>

#include "framework/forms.h"
#include "framework/headless/headless_backend.h"

// A fresh headless backend, in place of the build's own while this lives.
struct HeadlessBackendInPlace {
  framework::HeadlessBackend Backend;
  framework::ScopedBackendForTesting Use{Backend};
};

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

// Initialises the application on a fresh headless backend, in place for the
// run, shows a scenario form and runs the message loop until the scenario
// closes the form. Returns the backend with what it recorded.
inline std::unique_ptr<framework::HeadlessBackend> RunScenario(std::function<void(ScenarioForm&)> scenario) {
  auto backend = std::make_unique<framework::HeadlessBackend>();
  framework::ScopedBackendForTesting use(*backend);
  ScenarioForm::scenario = std::move(scenario);
  ScenarioForm* form = nullptr;
  Application->Initialize();
  Application->CreateForm(form);
  Application->Run();
  return backend;
}
