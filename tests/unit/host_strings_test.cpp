#include <gtest/gtest.h>

#include <cstring>

#include "host_memory.h"
#include "interface/host_strings.h"

namespace vorel {
namespace {

using testing_support::HostMemory;

TEST(HostStrings, ComeFromTheSharedManagerAndTheHostFreesThem) {
  const HostMemory& memory = HostMemory::instance();
  const int32_t before = memory.live();
  char* text = new_host_string("通讯正常!");
  ASSERT_NE(text, nullptr);
  EXPECT_FALSE(host_strings_use_process_heap());
  EXPECT_EQ(memory.live(), before + 1);
  EXPECT_STREQ(text, "通讯正常!");
  EXPECT_EQ(std::strlen(text), 9u) << "GBK: two bytes per Chinese character";
  memory.release(text);
  EXPECT_EQ(memory.live(), before);
}

TEST(HostStrings, EmptyTextIsANullPointerAndAllocatesNothing) {
  const HostMemory& memory = HostMemory::instance();
  const int32_t before = memory.live();
  EXPECT_EQ(new_host_string(""), nullptr);
  char* out = reinterpret_cast<char*>(0x1234);
  put_host_string(&out, "");
  EXPECT_EQ(out, nullptr);
  put_host_string(nullptr, "no place to put it");
  EXPECT_EQ(memory.live(), before);
  EXPECT_EQ(from_host_string(nullptr), "");
}

TEST(HostStrings, EmbeddedZeroEndsTheHostsView) {
  const HostMemory& memory = HostMemory::instance();
  char* text = new_host_string(std::string_view("ab\0cd", 5));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::memcmp(text, "ab\0cd\0", 6), 0);
  memory.release(text);
}

}  // namespace
}  // namespace vorel
