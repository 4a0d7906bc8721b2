// Puts the C library's handlers for its own signals (32 and 33) in place, so
// that tests can check a launch does not hand those signals on ignored.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include <gtest/gtest.h>

// Cancels a thread: the C library then has handlers for its own signals.
inline void GiveTheCLibraryItsSignalHandlers() {
  pthread_t thread{};
  ASSERT_EQ(pthread_create(
                &thread, nullptr,
                [](void*) -> void* {
                  for (;;) pause();
                },
                nullptr),
            0);
  ASSERT_EQ(pthread_cancel(thread), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}
