#include "tools/hostsim/demo_check.h"

#include "tools/hostsim/console.h"

namespace hostsim {

namespace {

// Link state texts (code page 936) that end what a link tag shows.
constexpr std::string_view kNeverLinked = "通讯始终不成功!";
constexpr std::string_view kLinkNormal = "通讯正常!";

bool ends_with(const std::optional<std::string>& text, std::string_view tail) {
  return text && text->ends_with(tail);
}

}  // namespace

DemoCheck::DemoCheck(const std::vector<HostTag>& tags) {
  std::map<std::string, int32_t> inputs;  // address key -> DI tag id
  for (const HostTag& t : tags) {
    const std::string key = name_key(t.address);
    if (key.starts_with("DI")) inputs.emplace(key.substr(2), t.id);
  }
  for (const HostTag& t : tags) {
    const std::string key = name_key(t.address);
    if (key.starts_with("DO")) {
      const auto input = inputs.find(key.substr(2));
      if (input != inputs.end()) input_of_output_.emplace(t.id, input->second);
    }
    if (t.value_type == vorel::kValueString &&
        (key.starts_with("COMMLINK") || key.starts_with("DEVICELINK"))) {
      link_texts_[t.id].name = gbk_to_utf8(t.name);
      if (key.starts_with("COMMLINK")) device_link_id_ = t.id;
    }
  }
}

void DemoCheck::started(const StartAnswer& answer) { started_ = answer.result != 0; }

void DemoCheck::wrote(uint64_t poll, const ScriptedWrite& write, bool accepted) {
  const auto input = input_of_output_.find(write.tag_id);
  if (!accepted || input == input_of_output_.end()) return;
  const int32_t di = input->second;
  // The output was given another value before its input showed the last one: that one was missed.
  if (owed_.erase(di)) ++missed_;
  const auto level = input_level_.find(di);
  const bool known = level != input_level_.end();
  if (!known || level->second != write.value.on) owed_[di] = Owed{poll, write.value.on};
}

void DemoCheck::reported(uint64_t, const HostTag* tag, const ReportedValue& value) {
  if (!tag) return;
  if (value.value_type == vorel::kValueDigital) {
    input_level_[tag->id] = value.on;
    const auto owed = owed_.find(tag->id);
    if (owed != owed_.end() && owed->second.on == value.on) {
      owed_.erase(owed);
      ++followed_;
    }
  }
  const auto link = link_texts_.find(tag->id);
  if (link != link_texts_.end()) {
    LinkTexts& texts = link->second;
    const std::string text = value.text.value_or("");
    const bool never = text.ends_with(kNeverLinked), normal = text.ends_with(kLinkNormal);
    texts.other |= !never && !normal;
    texts.relinked |= never && ends_with(texts.last, kLinkNormal);
    if (!texts.first) texts.first = text;
    texts.last = text;
  }
}

void DemoCheck::event_signalled(uint64_t) { ++events_; }

void DemoCheck::conclude(uint64_t polls, uint64_t grace_polls, Checker& checker) const {
  int missed = missed_;
  for (const auto& [di, owed] : owed_) missed += owed.since_poll + grace_polls < polls;
  print_line(strprintf("[check-demo] inputs followed their outputs after %d write(s), missed %d", followed_,
                       missed));
  checker.expect(started_, "IniDriver starts the demo project");
  checker.expect(followed_ > 0, "some scripted write changed an output");
  checker.expect_equal(missed, 0, "writes whose input never showed the value");

  for (const auto& [id, texts] : link_texts_) {
    print_line("[check-demo] " + texts.name + ": first " + shown(texts.first) + ", last " +
               shown(texts.last));
    // Never linked until the first exchange, normal from then on. The host may poll first only
    // after that exchange (a busy machine starts it late), so the first text may already be normal.
    checker.expect(!texts.other && !texts.relinked, texts.name + " goes only from never linked to linked");
    checker.expect(ends_with(texts.last, kLinkNormal), texts.name + " ends as linked");
  }
  checker.expect(device_link_id_ >= 0, "the project has a COMMLINK text tag");
  print_line(strprintf("[check-demo] host event signalled %d time(s)", events_));
  checker.expect_equal(events_, 0, "host event signals on a healthy card");
}

}  // namespace hostsim
