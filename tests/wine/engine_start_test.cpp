// What a host thread meets before its engine runs and while it starts one: the fixed answers of
// the run-time exports on a thread without an engine, the address editor's check, IniDriver's
// argument checks, its start and its admission event, and the host strings handed back on the way.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "tests/common/host_records.h"
#include "tests/wine/driver_library.h"

namespace wine_test {
namespace {

constexpr char kNoDevice[] = "通讯设备初始化失败";
constexpr char kInvalidTags[] = "无效的标签列表。";
constexpr char kInvalidParams[] = "无效的参数信息。";
constexpr char kAdmissionBusy[] = "设备不支持并发访问，共享冲突。";

// A date with, unless it is midnight, a time, and nothing else: what a clean start leaves pending
// (binding the vendor's library puts the time text first and its complaints, if any, after it).
bool is_time_text(const std::string& text) {
  return !text.empty() && text[0] >= '0' && text[0] <= '9' &&
         text.find_first_not_of("0123456789/-.: ") == std::string::npos;
}

// What an out-parameter holds before the call; the driver must overwrite it.
char* const kUnset = reinterpret_cast<char*>(static_cast<uintptr_t>(0xBAADF00Du));

// One tag and a default block, as the host passes them to IniDriver and AddTags.
struct HostTags {
  explicit HostTags(const Driver& dll) {
    std::memset(&tag, 0, sizeof tag);
    tag.TagID = 1;
    std::strcpy(tag.TagName, "DI_1");
    std::strcpy(tag.TagAddr, "DI1:0,3.5");
    tag.ValueType = 1;
    tag.ScanPeriod = 1000;
    list[0] = &tag;
    std::memset(&block, 0, sizeof block);
    if (dll.FullPDB) dll.FullPDB(&block);
  }
  TTagInfo tag;
  TTagInfo* list[1];
  TDeviceParams block;
};

// `message` must now hold the only new manager block since `live_before`, with exactly `expected`
// in it; the block is then given back.
void expect_host_message(const Driver& dll, char*& message, int32_t live_before, std::string_view expected) {
  if (message == kUnset) {
    ADD_FAILURE() << "message not written";
    return;
  }
  EXPECT_EQ(dll.sim_live_blocks(), live_before + 1) << "one new block from the memory manager";
  EXPECT_EQ(take_host_string(message), std::optional<std::string>(expected));
}

// Every export a host thread may call, on a thread that has no engine.
void check_exports_without_engine(const Driver& dll) {
  const int32_t live_at_start = dll.sim_live_blocks();
  HostTags host(dll);
  TTagValue values[2] = {testing_support::switch_value(1, true), testing_support::switch_value(2, false)};
  TTagValue untouched[2];
  std::memcpy(untouched, values, sizeof values);
  int32_t ids[2] = {1, 2};

  EXPECT_EQ(dll.DetectScanTime(), 1000);

  constexpr int kNoResult = -1;
  const struct {
    const char* call;
    int result;
    std::function<int(char**)> run;
  } kWithMessage[] = {
      {"OnDataRead, no values", 1,
       [&](char** m) {
         int32_t count = 77;
         const int r = dll.OnDataRead(&count, nullptr, m);
         EXPECT_EQ(count, 0);
         return r;
       }},
      {"OnDataRead", 1,
       [&](char** m) {
         int32_t count = 77;
         const int r = dll.OnDataRead(&count, values, m);
         EXPECT_EQ(count, 0);
         EXPECT_EQ(std::memcmp(values, untouched, sizeof values), 0) << "values written";
         return r;
       }},
      {"OnDataWrite, count 0", 0, [&](char** m) { return int{dll.OnDataWrite(0, values, m)}; }},
      {"OnDataWrite, one record", 0, [&](char** m) { return int{dll.OnDataWrite(1, values, m)}; }},
      {"GetDeviceStatus", 1, [&](char** m) { return int{dll.GetDeviceStatus(m)}; }},
      {"WriteLog on", kNoResult,
       [&](char** m) {
         dll.WriteLog(1, m);
         return kNoResult;
       }},
      {"WriteLog off", kNoResult,
       [&](char** m) {
         dll.WriteLog(0, m);
         return kNoResult;
       }},
  };
  for (const auto& c : kWithMessage) {
    SCOPED_TRACE(c.call);
    char* message = kUnset;
    const int32_t before = dll.sim_live_blocks();
    EXPECT_EQ(c.run(&message), c.result);
    expect_host_message(dll, message, before, kNoDevice);
  }

  EXPECT_EQ(dll.ReadTags(0, ids, 0), 1);
  EXPECT_EQ(dll.ReadTags(2, nullptr, 0), 1);
  EXPECT_EQ(dll.ReadTags(2, ids, 0), 0);
  EXPECT_EQ(dll.WriteTags(0, values, 0), 1);
  EXPECT_EQ(dll.WriteTags(2, nullptr, 0), 1);
  EXPECT_EQ(dll.WriteTags(2, values, 0), 1);
  EXPECT_EQ(dll.IniDriverEx(0x1234), 1);
  int32_t results[1] = {7};
  EXPECT_EQ(dll.AddTags(1, host.list, results), 1);
  EXPECT_EQ(dll.AddTags(1, nullptr, results), 1);
  EXPECT_EQ(dll.DLLTestDev(nullptr, 0), 0);
  EXPECT_EQ(dll.FreeDriver(), 1);
  EXPECT_EQ(dll.FreeDriver(), 1);
  EXPECT_EQ(dll.DetectScanTime(), 1000) << "a call above left an engine behind";
  EXPECT_EQ(dll.sim_live_blocks(), live_at_start) << "a call without a message parameter allocated";
}

class ThreadWithoutEngine : public NoMessageBoxTest {};

TEST_F(ThreadWithoutEngine, MainThreadGetsTheFixedAnswers) { check_exports_without_engine(dll); }

TEST_F(ThreadWithoutEngine, SecondHostThreadGetsTheFixedAnswers) {
  on_host_thread([this] { check_exports_without_engine(dll); });
}

// ---------------------------------------------------------------- address editor

// TagEdAddr builds a temporary engine for every check; it never becomes the thread's engine.
class AddressEditor : public NoMessageBoxTest {
 protected:
  struct Answer {
    int result = -1;
    std::optional<std::string> address;  // the new host string, freed
    std::optional<std::string> message;
  };

  // TagEdAddr on a host string of the test's own, which must come back untouched and is then
  // freed; every block the call allocated is counted.
  Answer edit(const char* address, TDeviceParams* params, uint8_t skip_check) {
    char* const hosts_own = address ? new_host_string(address) : nullptr;
    char* in_out = hosts_own;
    char* message = kUnset;
    const int32_t before = live_blocks();
    Answer a;
    a.result = dll.TagEdAddr(params, &in_out, skip_check, &message);
    const int32_t allocated = live_blocks() - before;
    if (in_out != nullptr) {
      EXPECT_NE(in_out, hosts_own) << "the address must come back as a new host string";
      if (in_out != hosts_own) a.address = take_host_string(in_out);
    }
    if (message == kUnset) {
      ADD_FAILURE() << "message not written";
    } else {
      a.message = take_host_string(message);
    }
    EXPECT_EQ(allocated, int32_t{a.address.has_value()} + int32_t{a.message.has_value()})
        << "blocks beyond the address and the message";
    if (hosts_own) {
      char* own = hosts_own;
      EXPECT_EQ(take_host_string(own), std::optional<std::string>(address))
          << "the host's string was changed";
    }
    return a;
  }

  TDeviceParams block = default_block(dll);
};

TEST_F(AddressEditor, ACheckedAddressComesBackInItsNormalForm) {
  const Answer a = edit("di1:0,3.5", &block, 0);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.address, std::optional<std::string>("DI1:0,3.5"));
  EXPECT_EQ(a.message, std::nullopt);
  EXPECT_EQ(dll.DetectScanTime(), 1000) << "the check left an engine on the editor's thread";
}

TEST_F(AddressEditor, WithoutTheCheckTheAddressComesBackAsTyped) {
  const Answer a = edit("di1:0,3.5", &block, 1);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.address, std::optional<std::string>("di1:0,3.5"));
  EXPECT_EQ(a.message, std::nullopt);
}

TEST_F(AddressEditor, WithoutAParameterBlockNothingIsChecked) {
  const Answer a = edit("di1:0,3.5", nullptr, 0);
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.address, std::optional<std::string>("di1:0,3.5"));
  EXPECT_EQ(a.message, std::optional<std::string>(kNoDevice));
}

TEST_F(AddressEditor, AnEmptyAddressIsAnUnknownTypeInTheFullForm) {
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(empty ? "empty text" : "null pointer");
    const Answer a = edit(empty, &block, 0);
    EXPECT_EQ(a.result, 0);
    EXPECT_EQ(a.address, std::optional<std::string>("AD-1:-1,-1.-1"));
  }
}

TEST_F(AddressEditor, EveryHostThreadGetsTheSameAnswer) {
  on_host_thread([this] {
    const Answer a = edit("do1:0,2.1", &block, 0);
    EXPECT_EQ(a.result, 1);
    EXPECT_EQ(a.address, std::optional<std::string>("DO1:0,2.1"));
  });
}

// ---------------------------------------------------------------- IniDriver

class IniDriverStart : public NoMessageBoxTest {
 protected:
  // IniDriver with a garbage message pointer; the message that came back, freed.
  std::optional<std::string> start(int32_t count, TTagInfo** tags, TDeviceParams* block,
                                   int expected_result) {
    char* message = kUnset;
    EXPECT_EQ(dll.IniDriver(count, tags, block, &message), expected_result);
    if (message == kUnset) {
      ADD_FAILURE() << "message not set";
      return std::nullopt;
    }
    return take_host_string(message);
  }

  // `starts` starts with valid arguments in a row on a new host thread. None may find the
  // admission taken; the result is the longest single call in milliseconds.
  uint32_t longest_start_on_host_thread(int starts) {
    uint32_t longest = 0;
    on_host_thread([&] {
      HostTags tags(dll);
      for (int i = 0; i < starts; ++i) {
        char* message = kUnset;
        const uint32_t t0 = platform::system_clock().ticks();
        dll.IniDriver(1, tags.list, &tags.block, &message);
        longest = std::max(longest, platform::system_clock().ticks() - t0);
        ASSERT_NE(message, kUnset);
        EXPECT_NE(take_host_string(message), std::optional<std::string>(kAdmissionBusy));
      }
    });
    return longest;
  }

  HostTags host{dll};
};

TEST_F(IniDriverStart, AMissingTagListIsReportedFirst) {
  EXPECT_EQ(start(1, nullptr, &host.block, 0), std::optional<std::string>(kInvalidTags));
  EXPECT_EQ(start(1, nullptr, nullptr, 0), std::optional<std::string>(kInvalidTags));
  EXPECT_EQ(start(0, nullptr, nullptr, 0), std::optional<std::string>(kInvalidTags));
  EXPECT_EQ(dll.IniDriver(1, nullptr, nullptr, nullptr), 0) << "no message pointer";
}

TEST_F(IniDriverStart, AMissingParameterBlockIsReported) {
  EXPECT_EQ(start(1, host.list, nullptr, 0), std::optional<std::string>(kInvalidParams));
}

TEST_F(IniDriverStart, ValidTagsStartAnEngineForTheCallingThreadOnly) {
  on_host_thread([this] {
    const int32_t before = live_blocks();
    const std::optional<std::string> message = start(1, host.list, &host.block, 1);
    EXPECT_TRUE(message && is_time_text(*message))
        << "a clean start has nothing to say but the time: " << message.value_or("(null)");
    EXPECT_EQ(live_blocks(), before);
    EXPECT_EQ(dll.DetectScanTime(), 10) << "a running engine is polled every 10 ms";
    on_host_thread([this] { EXPECT_EQ(dll.DetectScanTime(), 1000) << "another thread sees no engine"; });
  });
  EXPECT_EQ(dll.DetectScanTime(), 1000);
}

TEST_F(IniDriverStart, WithoutAValidTagTheStartFailsAndSaysWhy) {
  constexpr char kNoValidTag[] = "驱动程序加载失败：无合法标签！\r\n";
  HostTagList invalid;
  invalid.add(1, "Unknown", "XY1:0,1.1", 1, 1000);
  invalid.add(2, "NoCard", "DI33:0,0.0", 1, 1000);
  on_host_thread([&] {
    EXPECT_EQ(start(invalid.count(), invalid.pointers(), &host.block, 0),
              std::optional<std::string>(kNoValidTag));
    EXPECT_EQ(start(0, host.list, &host.block, 0), std::optional<std::string>(kNoValidTag)) << "count 0";
    // The failed engine stays in the slot and answers for the thread.
    char* message = kUnset;
    int32_t count = 77;
    TTagValue values[2];
    EXPECT_EQ(dll.OnDataRead(&count, values, &message), 1);
    EXPECT_EQ(count, 0);
    ASSERT_NE(message, kUnset);
    EXPECT_EQ(take_host_string(message), std::nullopt) << "the failure was reported once";
  });
}

TEST_F(IniDriverStart, EveryCallReleasesTheAdmissionForTheNext) {
  // A start that kept the admission would make the next one wait 5000 ms and report a conflict.
  EXPECT_LT(longest_start_on_host_thread(2), 2000u) << "two starts in a row on one thread";
  EXPECT_LT(longest_start_on_host_thread(1), 2000u) << "a start on another thread";
}

// ---------------------------------------------------------------- texts

class HostTexts : public NoMessageBoxTest {};

TEST_F(HostTexts, MessagesAreCodePage936) {
  char* message = kUnset;
  ASSERT_EQ(dll.GetDeviceStatus(&message), 1);
  ASSERT_NE(message, kUnset);
  ASSERT_NE(message, nullptr);
  const std::string no_device = *take_host_string(message);
  EXPECT_EQ(no_device, "\xCD\xA8\xD1\xB6\xC9\xE8\xB1\xB8\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC");
  EXPECT_EQ(platform::gbk_to_utf16(no_device),
            (std::u16string{0x901A, 0x8BAF, 0x8BBE, 0x5907, 0x521D, 0x59CB, 0x5316, 0x5931, 0x8D25}));

  // Full-width punctuation is a double-byte character as well.
  message = kUnset;
  ASSERT_EQ(dll.IniDriver(1, nullptr, nullptr, &message), 0);
  ASSERT_NE(message, kUnset);
  const std::optional<std::string> invalid_tags = take_host_string(message);
  ASSERT_TRUE(invalid_tags.has_value());
  EXPECT_EQ(platform::gbk_to_utf16(*invalid_tags),
            (std::u16string{0x65E0, 0x6548, 0x7684, 0x6807, 0x7B7E, 0x5217, 0x8868, 0x3002}));
}

}  // namespace
}  // namespace wine_test
