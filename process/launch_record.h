// The launch record an execution request asks for.
#pragma once

#include "common/request.h"
#include "platform/process.h"

// The request's program and arguments, its show state, and the program's own
// folder as the working folder ("" when the path names no folder, which
// launches in the current folder).
platform::LaunchRecord LaunchRecordFor(const ExeParameter& request);
