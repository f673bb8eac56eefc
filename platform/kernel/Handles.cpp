// The handle table. A handle encodes a slot index and the slot's generation;
// closing a handle bumps the generation, so a stale copy never reaches the
// object that later takes the slot.
#include <mutex>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/kernel/Kernel.h"

namespace plat {

KernelObject::~KernelObject() = default;

namespace {

struct Slot {
  std::shared_ptr<KernelObject> object;
  uint32_t generation = 1;
};

struct Table {
  std::mutex lock;
  std::vector<Slot> slots;
  std::vector<uint32_t> free;  // indices of empty slots, reused last-in first-out
};

Table& TheTable() {
  static Table* table = new Table;  // never destroyed: threads may outlive static destruction
  return *table;
}

// Bits 2..31: slot index + 1 (so the low bits stay clear and no handle is
// null); bits 32..63: generation. INVALID_HANDLE_VALUE has its low bits set
// and can never be produced.
Handle Encode(uint32_t index, uint32_t generation) {
  uintptr_t v = (uintptr_t{generation} << 32) | (uintptr_t{index + 1} << 2);
  return reinterpret_cast<Handle>(v);
}

bool Decode(Handle h, uint32_t* index, uint32_t* generation) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if ((v & 3) != 0) return false;
  uint32_t low = static_cast<uint32_t>(v & 0xFFFFFFFFu) >> 2;
  if (low == 0) return false;
  *index = low - 1;
  *generation = static_cast<uint32_t>(v >> 32);
  return true;
}

}  // namespace

size_t OpenHandleCount() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.slots.size() - t.free.size();
}

Handle RegisterHandle(std::shared_ptr<KernelObject> object) {
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  uint32_t index;
  if (!t.free.empty()) {
    index = t.free.back();
    t.free.pop_back();
  } else {
    if (t.slots.size() >= (1u << 29)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    index = static_cast<uint32_t>(t.slots.size());
    t.slots.emplace_back();
  }
  Slot& s = t.slots[index];
  s.object = std::move(object);
  return Encode(index, s.generation);
}

std::shared_ptr<KernelObject> LookupHandle(Handle h) {
  uint32_t index, generation;
  if (!Decode(h, &index, &generation)) return nullptr;
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  if (index >= t.slots.size()) return nullptr;
  const Slot& s = t.slots[index];
  if (s.generation != generation) return nullptr;
  return s.object;
}

bool CloseHandle(Handle h) {
  uint32_t index, generation;
  std::shared_ptr<KernelObject> released;
  if (Decode(h, &index, &generation)) {
    Table& t = TheTable();
    std::lock_guard<std::mutex> guard(t.lock);
    if (index < t.slots.size() && t.slots[index].generation == generation && t.slots[index].object) {
      Slot& s = t.slots[index];
      released = std::move(s.object);
      s.object.reset();
      // Generation 0 is skipped so that a handle with a zero high half is never valid.
      if (++s.generation == 0) s.generation = 1;
      t.free.push_back(index);
    }
  }
  if (!released) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // The object dies here, outside the table lock, unless a wait or a call in
  // progress still holds it; its destructor may use the kernel itself.
  released.reset();
  return true;
}

}  // namespace plat
