// The entry point's procedure: start the framework, create the main form, run
// the message loop; every exception is shown and the process returns 0.
#pragma once

#include "framework/exception.h"
#include "framework/forms.h"

template <class FormClass>
int RunEntryPoint(FormClass*& mainForm) {
  try {
    try {
      Application->Initialize();
      Application->MainFormOnTaskBar = true;
      Application->CreateForm(mainForm);
      Application->Run();
    } catch (const Exception&) {
      throw;
    } catch (...) {
      // Anything else is replaced by an exception with an empty message.
      throw Exception();
    }
  } catch (const Exception& error) {
    try {
      Application->ShowException(error);
    } catch (...) {
      // Showing the message failed as well; nothing more can be done.
    }
  }
  return 0;
}
