// The launch record an execution request asks for.
#include "process/launch_record.h"

#include "common/path_words.h"
#include "platform/files.h"

platform::LaunchRecord LaunchRecordFor(const ExeParameter& request) {
  platform::LaunchRecord record;
  record.File = request.FileName;
  record.Parameters = request.Parameters;
  record.Directory = common::FolderPart(request.FileName, platform::PathDelimitersOfPlatform());
  record.ShowCommand = request.ShowCommand;
  return record;
}
