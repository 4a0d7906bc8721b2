// The framework's exception class: the one kind of exception the entry point shows.
#pragma once

#include <string>
#include <utility>

class Exception {
 public:
  explicit Exception(std::u16string message = {}) : mMessage(std::move(message)) {}
  virtual ~Exception() = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  const std::u16string& Message() const { return mMessage; }

 private:
  std::u16string mMessage;
};
