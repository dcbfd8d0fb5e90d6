// Work to do when a thread ends, without C++ thread_local destructors:
// mingw-w64's thread-local storage (emutls) may free an object's storage
// before its destructor runs, so on Windows a thread_local object with a
// destructor is read after it is freed when its thread ends. One
// implementation per platform: thread_exit_posix.cpp (a thread_local list,
// whose destructor is sound there) and thread_exit_win32.cpp (a fiber-local
// slot whose callback the system runs at thread end).
#pragma once

namespace quarn::platform {

// Runs `cleanup`(`value`) when the calling thread ends, after the cleanups
// registered before it on that thread. Not at all if the process ends
// first.
void AtThreadExit(void (*cleanup)(void*), void* value);

}  // namespace quarn::platform
