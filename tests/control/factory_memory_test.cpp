// Creating the control through its class factory when memory runs out. This program's operator
// new can be told to fail large allocations; it is plain malloc otherwise.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "control/quelvora_factory.h"
#include "platform/com/dispatch.h"
#include "platform/module/factory.h"

namespace {

// Allocations of at least this many bytes fail once `g_largeToSkip` of them have succeeded.
std::atomic<std::size_t> g_failFrom{SIZE_MAX};
std::atomic<int> g_largeToSkip{0};

void* Allocate(std::size_t n) {
  if (n >= g_failFrom.load() && g_largeToSkip.fetch_sub(1) <= 0) return nullptr;
  return std::malloc(n ? n : 1);
}

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

class FactoryOutOfMemory : public ::testing::Test {
 protected:
  void TearDown() override { g_failFrom = SIZE_MAX; }
  static void FailLargeAllocation(int after) {
    g_largeToSkip = after;
    g_failFrom = 1 << 20;
  }
};

TEST_F(FactoryOutOfMemory, AFailedAllocationIsEOutOfMemoryAndLeavesNoLockBehind) {
  const LONG locks = AfxOleLockCount();
  // The first large allocation is the client table's, before the constructor's body; the second
  // the picture buffer, after the control took its module lock.
  for (int after : {0, 1}) {
    SCOPED_TRACE(after);
    FailLargeAllocation(after);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(QuelvoraFactory().CreateInstance(nullptr, IID_IDispatch, &object), E_OUTOFMEMORY);
    g_failFrom = SIZE_MAX;
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(AfxOleLockCount(), locks);
  }
  IDispatch* ctrl = nullptr;
  ASSERT_EQ(QuelvoraFactory().CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&ctrl)), S_OK);
  ctrl->Release();
  EXPECT_EQ(AfxOleLockCount(), locks);
}

}  // namespace
