// Events and the wait functions.
#include "platform/base/Errors.h"
#include "platform/kernel/KernelPrivate.h"

namespace plat {

using namespace kernel_detail;

namespace {

uint32_t WaitAny(std::span<const Handle> handles, ClockTime deadline, bool allowEmpty) {
  if ((handles.empty() && !allowEmpty) || handles.size() > MAXIMUM_WAIT_OBJECTS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  // Holding the objects keeps them alive for the whole wait, even when a
  // handle in the list is closed meanwhile.
  std::shared_ptr<WaitableObject> objects[MAXIMUM_WAIT_OBJECTS];
  for (size_t i = 0; i < handles.size(); ++i) {
    objects[i] = LookupHandleAs<WaitableObject>(handles[i]);
    if (!objects[i]) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  const int count = static_cast<int>(handles.size());

  Lock lock(KernelLock());
  for (int i = 0; i < count; ++i) {
    if (objects[i]->TryAcquireLocked()) return WAIT_OBJECT_0 + i;
  }
  Waiter w;
  w.deadline = deadline;
  for (int i = 0; i < count; ++i) objects[i]->AddWaiterLocked(&w, i);
  Block(lock, w);
  for (int i = 0; i < count; ++i) objects[i]->RemoveWaiterLocked(&w);
  if (w.fired >= 0) return WAIT_OBJECT_0 + static_cast<uint32_t>(w.fired);
  return WAIT_TIMEOUT;
}

std::shared_ptr<EventObject> LookupEvent(Handle h) {
  auto event = LookupHandleAs<EventObject>(h);
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

}  // namespace

Handle CreateEvent(bool manualReset, bool initiallySet) {
  return RegisterHandle(std::make_shared<EventObject>(manualReset, initiallySet));
}

bool SetEvent(Handle event) {
  auto e = LookupEvent(event);
  if (!e) return false;
  Lock lock(KernelLock());
  e->SetLocked();
  return true;
}

bool ResetEvent(Handle event) {
  auto e = LookupEvent(event);
  if (!e) return false;
  Lock lock(KernelLock());
  e->ResetLocked();
  return true;
}

uint32_t WaitForSingleObject(Handle h, uint32_t timeoutMs) {
  return WaitAny(std::span<const Handle>(&h, 1), ClockDeadlineAfter(timeoutMs), false);
}

uint32_t WaitForMultipleObjects(std::span<const Handle> handles, uint32_t timeoutMs) {
  return WaitAny(handles, ClockDeadlineAfter(timeoutMs), false);
}

uint32_t WaitForMultipleObjectsUntil(std::span<const Handle> handles, ClockTime deadline) {
  return WaitAny(handles, deadline, true);
}

}  // namespace plat
