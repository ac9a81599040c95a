// Without a shared memory manager in the process the driver still answers, from the process heap.
#include <gtest/gtest.h>

#include <cstdlib>

#include "interface/host_strings.h"

namespace vorel {
namespace {

TEST(HostStringsWithoutManager, FallBackToTheProcessHeap) {
  reset_host_memory_manager();
  EXPECT_TRUE(host_strings_use_process_heap());
  char* text = new_host_string("TLSEvent = 0");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "TLSEvent = 0");
  std::free(text);
}

}  // namespace
}  // namespace vorel
