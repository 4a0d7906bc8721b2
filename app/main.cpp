// The program's entry point.
#include "app/entry.h"
#include "app/main_form.h"

int main() { return RunEntryPoint(MainForm); }
