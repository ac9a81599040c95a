// TagIndex: the host's tag identifiers to positions in TagList.
#include "engine/DLLBase.h"

namespace vorel {

void TagIndex::set(int32_t tag_id, int32_t position) {
  if (tag_id < 0) return;
  if (tag_id < kDenseLimit) {
    if (static_cast<size_t>(tag_id) >= dense_.size()) dense_.resize(static_cast<size_t>(tag_id) + 1, -1);
    dense_[tag_id] = position;
  } else {
    sparse_[tag_id] = position;
  }
}

int32_t TagIndex::find_sparse(int32_t tag_id) const {
  if (tag_id < kDenseLimit) return -1;
  auto it = sparse_.find(tag_id);
  return it == sparse_.end() ? -1 : it->second;
}

void TagIndex::clear() {
  dense_.clear();
  sparse_.clear();
}

}  // namespace vorel
