// Without a shared memory manager in the process the driver still answers, from the process heap.
#include <gtest/gtest.h>

#include <cstdlib>

#include "interface/host_strings.h"

namespace vorel {
namespace {

TEST(HostStringsWithoutManager, FallBackToTheProcessHeap) {
  ResetHostMemoryManager();
  EXPECT_TRUE(HostStringsUseProcessHeap());
  char* text = NewHostString("TLSEvent = 0");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "TLSEvent = 0");
  std::free(text);
}

}  // namespace
}  // namespace vorel
