// The pool TDLLTag records come from: slabs of consecutive records, reused through a free list.
// Slabs are kept for the life of the process; their number follows the most tags ever registered.
#include <mutex>
#include <new>
#include <vector>

#include "engine/DLLTypes.h"
#include "platform/platform.h"

namespace vorel {

namespace {

constexpr size_t kSlabRecords = 256;

struct Pool {
  platform::Mutex mutex;
  std::vector<void*> free;  // the next record handed out is at the back
};

Pool& pool() {
  static Pool* p = new Pool;  // outlives every engine, including those destroyed at unload
  return *p;
}

}  // namespace

void* TDLLTag::operator new(size_t size) {
  if (size != sizeof(TDLLTag)) return ::operator new(size, std::align_val_t{alignof(TDLLTag)});
  Pool& p = pool();
  std::lock_guard lock(p.mutex);
  if (p.free.empty()) {
    auto* slab = static_cast<unsigned char*>(
        ::operator new(kSlabRecords * sizeof(TDLLTag), std::align_val_t{alignof(TDLLTag)}));
    p.free.reserve(p.free.size() + kSlabRecords);
    for (size_t i = kSlabRecords; i-- > 0;) p.free.push_back(slab + i * sizeof(TDLLTag));
  }
  void* record = p.free.back();
  p.free.pop_back();
  return record;
}

void TDLLTag::operator delete(void* record, size_t size) noexcept {
  if (!record) return;
  if (size != sizeof(TDLLTag)) {
    ::operator delete(record, std::align_val_t{alignof(TDLLTag)});
    return;
  }
  Pool& p = pool();
  std::lock_guard lock(p.mutex);
  p.free.push_back(record);
}

}  // namespace vorel
