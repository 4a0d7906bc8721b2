// Forms and the application object, over the current backend.
#include "framework/forms.h"

#include "framework/controls.h"
#include "framework/paths.h"

#include "platform/com.h"
#include "platform/startup.h"

TForm::TForm(TComponent* owner) : TComponent(owner) {}

TForm::~TForm() {
  mWindow.reset();  // the window refers to the controls: it goes first
  DestroyComponents();
}

void TForm::SetVisible(bool visible) {
  if (visible == mVisible) return;
  mVisible = visible;
  if (visible && !mWindow) {
    ScaleTo(framework::UsableDpi(framework::CurrentBackend().DisplayDpi()));
    mWindow = framework::CurrentBackend().CreateFormWindow(*this);
    for (TComponent* component : Components()) {
      if (auto* control = dynamic_cast<TControl*>(component)) control->AttachTo(*mWindow);
    }
  }
  if (mWindow) mWindow->SetVisible(visible);
  if (visible && OnShow) OnShow(this);
}

void TForm::ScaleTo(int dpi) {
  if (!mStored) {
    mStoredClientWidth = mProperties.ClientWidth;
    mStoredClientHeight = mProperties.ClientHeight;
    mStoredFont = mProperties.Font;
    mStored = true;
  }
  mDpi = dpi;
  mProperties.ClientWidth = framework::ScaleFromDesign(mStoredClientWidth, dpi);
  mProperties.ClientHeight = framework::ScaleFromDesign(mStoredClientHeight, dpi);
  mProperties.Font = ScaledFont(mStoredFont, dpi);
  for (TComponent* component : Components()) {
    if (auto* control = dynamic_cast<TControl*>(component)) control->ScaleTo(dpi);
  }
}

void TForm::Close() {
  if (!CloseQuery()) return;
  SetVisible(false);
  Application->FormClosed(this);
}

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication() = default;

std::u16string TApplication::ExeName() const { return ::ExeName(); }

void TApplication::Initialize() {
  platform::CurrentStartup().PrepareProcess();
  platform::CurrentCom().CoInitialize();  // the main thread is a single-threaded apartment
  framework::CurrentBackend().Initialize();
}

void TApplication::Run() {
  if (mMainForm != nullptr) {
    mRunning = true;
    DeliverEvent([this] { mMainForm->SetVisible(true); });
    if (mRunning) framework::CurrentBackend().RunLoop();
    mRunning = false;
  }
  mMainForm = nullptr;
  DestroyComponents();
  if (mPendingError) std::rethrow_exception(std::exchange(mPendingError, nullptr));
}

void TApplication::ShowException(const Exception& error) { framework::CurrentBackend().ShowException(error); }

void TApplication::DeliverEvent(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    if (!mPendingError) mPendingError = std::current_exception();
    if (mRunning) {
      mRunning = false;
      framework::CurrentBackend().QuitLoop();
    }
  }
}

void TApplication::FormClosed(TForm* form) {
  if (form == mMainForm && mRunning) {
    mRunning = false;
    framework::CurrentBackend().QuitLoop();
  }
}

namespace {
TApplication gApplication;
}  // namespace

TApplication* Application = &gApplication;
