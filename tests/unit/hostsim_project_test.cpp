// The stand-in host's project files: the tag list it hands to IniDriver, the writes it scripts,
// and the demo project that make run shows a newcomer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/hostsim/console.h"
#include "tools/hostsim/host_tags.h"
#include "tools/hostsim/tag_table.h"
#include "tools/hostsim/write_script.h"

namespace hostsim {
namespace {

std::vector<HostTag> tags_of(const std::string& csv) {
  std::string error;
  std::optional<std::vector<HostTag>> tags = parse_tag_table(csv, error);
  EXPECT_TRUE(tags) << error;
  return tags.value_or(std::vector<HostTag>{});
}

std::string table_error(const std::string& csv) {
  std::string error;
  EXPECT_FALSE(parse_tag_table(csv, error)) << "accepted:\n" << csv;
  return error;
}

std::string script_error(const std::string& script, const std::vector<HostTag>& tags) {
  std::string error;
  EXPECT_FALSE(WriteScript::parse(script, tags, error)) << "accepted:\n" << script;
  return error;
}

// The utf8 source text of these tests becomes GBK literals; project files are UTF-8 on disk.
constexpr char kProject[] =
    "\xEF\xBB\xBF# a device\r\n"
    "id,name,address,value type,scan period,initial value\r\n"
    "1,DI_00,\"DI1:0,0.0\",digital,0,\r\n"
    "\r\n"
    "2, DO_00 ,\"DO1:0,0.0\",1,250,on\r\n"
    "3,Level,\"AD1:0,1.0\",analog,1000, -2.5 \r\n"
    "4,\"Say \"\"hi\"\"\",X,string,0, two words\r\n"
    "5,\xE9\x80\x9A\xE8\xAE\xAF\xE7\x8A\xB6\xE6\x80\x81,COMMLINK,2,0\r\n";

class TagList : public ::testing::Test {};

TEST_F(TagList, ReadsQuotedAddressesTypesPeriodsAndInitialValues) {
  const std::vector<HostTag> tags = tags_of(kProject);
  ASSERT_EQ(tags.size(), 5u);
  EXPECT_EQ(tags[0].address, "DI1:0,0.0") << "the comma inside quotes belongs to the address";
  EXPECT_FALSE(tags[0].initial) << "an empty initial value leaves the driver's default";
  EXPECT_EQ(tags[1].name, "DO_00");
  EXPECT_EQ(tags[1].scan_period_ms, 250u);
  ASSERT_TRUE(tags[1].initial);
  EXPECT_TRUE(tags[1].initial->on);
  EXPECT_EQ(tags[2].value_type, vorel::kValueAnalog);
  ASSERT_TRUE(tags[2].initial);
  EXPECT_DOUBLE_EQ(tags[2].initial->number, -2.5);
  EXPECT_EQ(tags[3].name, "Say \"hi\"");
  ASSERT_TRUE(tags[3].initial);
  EXPECT_EQ(tags[3].initial->text, " two words") << "a text keeps its blanks";
  EXPECT_EQ(tags[4].name, "通讯状态") << "names reach the driver in code page 936";
  EXPECT_EQ(tags[4].value_type, vorel::kValueString);
}

TEST_F(TagList, RefusesWhatTheDriverWouldMisreadAndNamesTheLine) {
  EXPECT_EQ(table_error("1,A,\"DI1:0,0.0,digital,0\n"), "line 1: a quoted field is not closed");
  EXPECT_EQ(table_error("1,A,DI1,digital,0\n1,B,DI1,digital,0\n"), "line 2: the id 1 is used twice");
  EXPECT_NE(
      table_error("1,Pump,DI1,digital,0\n2,PUMP,DI1,digital,0\n").find("line 2: the name is used twice"),
      std::string::npos)
      << "tags are found by name in any case, so the names must differ in more";
  EXPECT_EQ(table_error("-1,A,DI1,digital,0\n"), "line 1: the id is not a number from 0 to 2147483647");
  EXPECT_EQ(table_error("1,A,DI1,switch,0\n"), "line 1: the value type is not analog, digital or string");
  EXPECT_EQ(table_error("1,A,DI1,digital,soon\n"), "line 1: the scan period is not a number of milliseconds");
  EXPECT_EQ(table_error("1,A,DI1,digital,0,maybe\n"), "line 1: the initial value is no digital value");
  EXPECT_EQ(table_error("1,A,DI1,analog,0,1e999\n"), "line 1: the initial value is no analog value");
  EXPECT_NE(table_error("1,A,DI1\n").find("line 1: 3 fields"), std::string::npos);
  // 17 Chinese characters are 34 bytes of code page 936: more than the 32 the driver reads.
  std::string utf8_name;
  for (int i = 0; i < 17; ++i) utf8_name += "\xE9\x80\x9A";
  EXPECT_EQ(table_error("1," + utf8_name + ",DI1,digital,0\n"),
            "line 1: the name must have 1 to 32 bytes in code page 936");
  EXPECT_EQ(table_error("1,A," + std::string(65, 'D') + ",digital,0\n"),
            "line 1: the address has more than the 64 bytes the driver reads");
  EXPECT_EQ(table_error("# only a comment\n"), "no tags");
}

TEST_F(TagList, RecordsCarryTheInitialValuesAsTheHostsVariants) {
  std::vector<HostTag> tags = tags_of(kProject);
  tags[0].name = std::string(32, 'N');  // a name of the field's full width
  TagRecords records(tags);
  ASSERT_EQ(records.count(), 5);
  const vorel::TTagInfo& di = *records.pointers()[0];
  EXPECT_EQ(std::string(di.TagName, sizeof di.TagName), std::string(32, 'N')) << "no room for a zero byte";
  EXPECT_EQ(di.InitValue.vt, 0) << "no initial value: type code empty";

  const vorel::TTagInfo& output = *records.pointers()[1];
  int16_t flag;
  std::memcpy(&flag, output.InitValue.value, sizeof flag);
  EXPECT_EQ(output.InitValue.vt, 11);
  EXPECT_EQ(flag, -1) << "a Boolean variant holds -1 for true";
  EXPECT_EQ(output.ScanPeriod, 250u);

  const vorel::TTagInfo& level = *records.pointers()[2];
  double number;
  std::memcpy(&number, level.InitValue.value, sizeof number);
  EXPECT_EQ(level.InitValue.vt, 5);
  EXPECT_DOUBLE_EQ(number, -2.5);

  const vorel::TTagInfo& text = *records.pointers()[3];
  const char* pointer;
  std::memcpy(&pointer, text.InitValue.value, sizeof pointer);
  EXPECT_EQ(text.InitValue.vt, 0x100);
  EXPECT_STREQ(pointer, " two words") << "the host's own string, alive as long as the records";
}

TEST_F(TagList, TagsAreFoundByNameInAnyCaseOrById) {
  const std::vector<HostTag> tags = tags_of(kProject);
  ASSERT_NE(find_tag(tags, "do_00"), nullptr);
  EXPECT_EQ(find_tag(tags, "do_00")->id, 2);
  ASSERT_NE(find_tag(tags, "3"), nullptr);
  EXPECT_EQ(find_tag(tags, "3")->name, "Level");
  EXPECT_EQ(find_tag(tags, "通讯状态")->id, 5);
  EXPECT_EQ(find_tag(tags, "9"), nullptr);
  EXPECT_EQ(find_tag(tags, "DO_0"), nullptr);
  // A trail byte that looks like a letter is part of a character, not a letter to fold.
  EXPECT_EQ(name_key("\x81\x61x"), "\x81\x61X");
  EXPECT_NE(name_key("\x81\x61"), name_key("\x81\x41"));
}

TEST(HostText, MalformedUtf8BecomesAReplacementNotAWrongCharacter) {
  EXPECT_EQ(utf8_to_utf16("\xE9\x80"), std::u16string(u"\uFFFD\uFFFD")) << "a cut sequence";
  EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), std::u16string(u"\uFFFD\uFFFD")) << "an overlong slash";
  EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), std::u16string(u"\uFFFD\uFFFD\uFFFD")) << "a surrogate";
  EXPECT_EQ(utf8_to_utf16("a\xF0\x9F\x98\x80"), std::u16string(u"a\U0001F600"));
  EXPECT_EQ(gbk_to_utf8(utf8_to_gbk("\xE9\x80\x9A\xE8\xAE\xAF")), "\xE9\x80\x9A\xE8\xAE\xAF");
}

class ScriptedWrites : public ::testing::Test {
 protected:
  std::vector<HostTag> tags_ = tags_of(kProject);
};

TEST_F(ScriptedWrites, AreHandedOutOnceEachWhenTheirTimeHasCome) {
  std::string error;
  std::optional<WriteScript> script =
      WriteScript::parse("# walk\n100 DO_00 on\n100 level -1\n250 DO_00 off\n", tags_, error);
  ASSERT_TRUE(script) << error;
  EXPECT_TRUE(script->due(99).empty());
  const std::vector<const ScriptedWrite*> first = script->due(100);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0]->tag_id, 2);
  EXPECT_TRUE(first[0]->value.on);
  EXPECT_EQ(first[1]->tag_name, "Level");
  EXPECT_DOUBLE_EQ(first[1]->value.number, -1);
  EXPECT_TRUE(script->due(200).empty()) << "nothing twice";
  ASSERT_EQ(script->due(100000).size(), 1u);
  EXPECT_TRUE(script->due(200000).empty()) << "without repeat the list ends";
}

TEST_F(ScriptedWrites, RepeatRunsTheListAgainEveryPeriod) {
  std::string error;
  std::optional<WriteScript> script =
      WriteScript::parse("100 DO_00 on\n300 DO_00 off\nrepeat 400\n", tags_, error);
  ASSERT_TRUE(script) << error;
  std::vector<uint32_t> times;
  for (uint32_t t = 0; t <= 1300; t += 50)
    for (const ScriptedWrite* w : script->due(t)) times.push_back(t + (w->value.on ? 0 : 10000));
  EXPECT_EQ(times, (std::vector<uint32_t>{100, 10300, 500, 10700, 900, 11100, 1300}));
  // A host that was held up gets every write it owes, in order.
  std::optional<WriteScript> again =
      WriteScript::parse("100 DO_00 on\n300 DO_00 off\nrepeat 400\n", tags_, error);
  EXPECT_EQ(again->due(1000).size(), 5u);
}

TEST_F(ScriptedWrites, TypedCommandsKeepATextsBlanks) {
  std::string error;
  const std::optional<ScriptedWrite> w = parse_write_command("  4   hello  world", tags_, error);
  ASSERT_TRUE(w) << error;
  EXPECT_EQ(w->tag_id, 4);
  EXPECT_EQ(w->value.text, "hello  world");
  EXPECT_FALSE(parse_write_command("DO_00 2", tags_, error));
  EXPECT_EQ(error, "DO_00 takes on or off, not '2'");
  EXPECT_FALSE(parse_write_command("Pump on", tags_, error));
  EXPECT_EQ(error, "no tag named 'Pump'");
}

TEST_F(ScriptedWrites, MistakesNameTheLine) {
  EXPECT_EQ(script_error("100 DO_00 on\n50 DO_00 off\n", tags_), "line 2: the time goes backwards");
  EXPECT_EQ(script_error("100 DO_00 on\n900 DO_00 off\nrepeat 500\n", tags_),
            "line 3: a round of the list lasts longer than the repeat period");
  EXPECT_EQ(script_error("100 DO_00 on\nrepeat 500\n200 DO_00 off\n", tags_),
            "line 3: nothing may follow the repeat line");
  EXPECT_EQ(script_error("repeat 500\n", tags_), "line 1: repeat without writes");
  EXPECT_EQ(script_error("100 DO_00 on\nrepeat 0\n", tags_), "line 2: repeat takes a period in milliseconds");
  EXPECT_EQ(script_error("soon DO_00 on\n", tags_),
            "line 1: a line starts with the milliseconds after the start");
  EXPECT_EQ(script_error("100 Level high\n", tags_), "line 1: Level takes a number, not 'high'");
}

// The project make run shows: every output walks once per round, and an input is wired to each.
TEST(DemoProject, EveryOutputIsSwitchedOnAndOffOncePerRoundAndHasItsInput) {
  const std::optional<std::string> csv = read_text_file(DEMO_DIR "/tags.csv");
  const std::optional<std::string> text = read_text_file(DEMO_DIR "/writes.txt");
  ASSERT_TRUE(csv && text);
  const std::vector<HostTag> tags = tags_of(*csv);
  int outputs = 0, links = 0;
  for (const HostTag& t : tags) {
    const std::string key = name_key(t.address);
    if (key.starts_with("DO")) {
      ++outputs;
      const std::string input = "DI" + key.substr(2);
      EXPECT_TRUE(std::any_of(tags.begin(), tags.end(),
                              [&](const HostTag& i) { return name_key(i.address) == input; }))
          << t.address << " has no input wired to it";
    }
    links += key == "COMMLINK" || key.starts_with("DEVICELINK");
  }
  EXPECT_EQ(outputs, 16);
  EXPECT_EQ(links, 2);

  std::string error;
  std::optional<WriteScript> script = WriteScript::parse(*text, tags, error);
  ASSERT_TRUE(script) << error;
  ASSERT_GT(script->repeat_ms(), 0u);
  std::map<int32_t, int> on, off;
  for (const ScriptedWrite& w : script->entries()) ++(w.value.on ? on : off)[w.tag_id];
  for (const HostTag& t : tags)
    if (name_key(t.address).starts_with("DO")) {
      EXPECT_EQ(on[t.id], 1) << t.address;
      EXPECT_EQ(off[t.id], 1) << t.address;
    }
}

}  // namespace
}  // namespace hostsim
