// A scripted process event for driving the tracker's handlers: property
// values (or failures) by name, with every read and release recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "process/event_properties.h"

class FakeEventProperties final : public process::EventProperties {
 public:
  // A property left out cannot be read.
  FakeEventProperties& Set(std::u16string_view name, std::uint32_t value) {
    mValues[std::u16string(name)] = value;
    return *this;
  }
  // Called at each read, before it answers, with the property's name.
  std::function<void(std::u16string_view)> OnRead;

  bool ReadId(std::u16string_view name, std::uint32_t& id) override {
    if (OnRead) OnRead(name);
    mLog.push_back("Read " + Narrow(name));
    const auto found = mValues.find(std::u16string(name));
    if (found == mValues.end()) return false;
    id = found->second;
    return true;
  }
  void Release(std::u16string_view name) override { mLog.push_back("Release " + Narrow(name)); }

  // The reads and releases in order ("Read ProcessId", "Release ProcessId").
  const std::vector<std::string>& Log() const { return mLog; }

 private:
  static std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

  std::map<std::u16string, std::uint32_t> mValues;
  std::vector<std::string> mLog;
};

// A start event: the parent's id and the new process's id.
inline FakeEventProperties StartEvent(std::uint32_t parentId, std::uint32_t id) {
  FakeEventProperties event;
  event.Set(process::kParentProcessIdProperty, parentId).Set(process::kProcessIdProperty, id);
  return event;
}

// A stop event: the ended process's id.
inline FakeEventProperties StopEvent(std::uint32_t id) {
  FakeEventProperties event;
  event.Set(process::kProcessIdProperty, id);
  return event;
}
