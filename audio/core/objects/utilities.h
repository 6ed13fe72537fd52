#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "audio/core/objects/thread.h"
#include "platform/exception.h"

namespace pmx {

// Microseconds of the monotonic clock.
int64_t GetMicroTime();

// The platform families the devices ask about. This system behaves as the newest
// family: device callbacks run as functions and there is no callback-only mode.
inline constexpr bool kWin95 = false;
inline constexpr bool kWin9x = false;
inline constexpr bool kWin2000 = false;
inline constexpr bool kWinXPOrLater = false;
inline constexpr bool kWinNT4OrLater = true;

// Nothing for 0 ms. Without pump the calling thread sleeps; with pump the GUI
// thread runs queued calls and platform events meanwhile and returns early once
// the main loop is closing.
void DelayMs(uint32_t ms, bool pump);

// Sets the thread's scheduling priority, best effort (see TThread::SetPriority).
void SetMMThreadPriority(TThread& thread, TThreadPriority priority);
// Sets the nice value of the kernel thread id for priority. A refusal does not
// stop anything, since raising a priority needs a privilege (CAP_SYS_NICE or a
// nice limit) a station PC may not grant, but it is told once.
void ApplyThreadPriority(pid_t thread_id, TThreadPriority priority);
// Told once, on the thread that asked, when the system first refuses to raise a
// thread's priority; error is the errno value (EACCES). Set before any thread
// runs; each handler set is told afresh.
using PriorityRefusedHandler = std::function<void(int error)>;
void SetPriorityRefusedHandler(PriorityRefusedHandler handler);

// Size of the named file, -1 when there is none.
int64_t GetFileSizeByName(const std::string& name);
// Free bytes available to the caller and total bytes of the volume holding path
// (a folder, or a file whose folder is asked). False with free 0 and total 1 when
// the volume cannot be queried.
bool GetDiskFree(const std::string& path, int64_t& free, int64_t& total);
// True when the volume can be queried and has at least bytes free.
bool DiskHasFree(const std::string& path, int64_t bytes);

class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
};

// A zero-filled block of size bytes; raises EOutOfMemory when none is available.
void* GlobalAllocMem(size_t size);
// Frees a block (none is fine) and sets the reference to none.
void GlobalFreeBlock(void*& block);
// Replaces the block by a new zero-filled one of size bytes; contents are not
// kept. When no memory is available the old block stays and EOutOfMemory is raised.
void GlobalReAllocBlock(void*& block, size_t size);

template <class T>
void GlobalFreeMem(T*& block) {
  void* raw = block;
  GlobalFreeBlock(raw);
  block = nullptr;
}

template <class T>
void GlobalReAllocMem(T*& block, size_t size) {
  void* raw = block;
  GlobalReAllocBlock(raw, size);
  block = static_cast<T*>(raw);
}

}  // namespace pmx
