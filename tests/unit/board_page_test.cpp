// The board configuration page on the driver's own model (no channels) and on a model row that has
// AD, DA and counter channels, as the plant engineer uses it.
#include "wizard/board_page.h"

#include <functional>
#include <string>
#include <vector>

#include "support/delphi.h"
#include "ui/services.h"
#include "wizard_fixture.h"

namespace vorel::wizard::testing {
namespace {

using ui::headless::Driver;

void UseCard(TDeviceParams& b, int n, int32_t base) {
  TCardParams& c = *b.card(n);
  c.ModelCode = kModelPci7505;
  set_model_name(c, "PCI_7505");
  c.BaseAddress = base;
}

void FreeCard(TCardParams& c, int32_t base) {
  c.ModelCode = kModelNoCard;
  set_model_name(c, "");
  c.BaseAddress = base;
  c.InputMode = c.ADMaxRange = 0;
}

class BoardPageTest : public WizardTest {
 protected:
  // Opens the page on the host block as the chain would and runs `script` on it.
  void OnBoard(uint8_t mode, const std::function<void(Driver&, TStep11Frm&)>& script) {
    run = std::make_unique<WizardRun>(env, *host);
    run->operation_mode = mode;
    TStep11Frm page(*run);
    ui->expect([&](Driver& d) { script(d, page); });
    result = page.ShowModal();
  }
  std::unique_ptr<WizardRun> run;
  int result = 0;
};

TEST_F(BoardPageTest, ADefaultBlockShowsOneCardAndNoChannelEditors) {
  for (uint8_t mode : {kOpNew, kOpModify, kOpView}) {
    OnBoard(mode, [&](Driver& d, TStep11Frm& p) {
      ASSERT_EQ(p.DeviceTree.Nodes().size(), 1u);
      EXPECT_EQ(p.DeviceTree.Nodes()[0].text, "板卡号:1 PCI_7505 基址:220 单端");
      for (ui::TabSheet* s : {&p.ADSheet, &p.DASheet, &p.TCSheet}) EXPECT_FALSE(s->TabVisible());
      for (const char* row : {"ADRange0", "DARange0", "TCMode0"})
        EXPECT_EQ(d.form().find(row), nullptr) << "no rows for channels the model lacks";
      EXPECT_FALSE(p.InputMode.Enabled());
      EXPECT_FALSE(p.ADMaxRange.Enabled());
      EXPECT_FALSE(p.ADFilterNums_Edit.Enabled());
      EXPECT_FALSE(p.BaseAddress.Enabled());
      EXPECT_EQ(p.IDEd.Text(), "1");
      EXPECT_EQ(p.BaseAddress.Text(), "220");
      EXPECT_EQ(p.DevTypeEd.SelectedText(), "PCI_7505");
      EXPECT_EQ(p.InputMode.Items(), (std::vector<std::string>{"单端", "双端"}));
      EXPECT_EQ(p.Label11.Caption(), "AD最大范围");
      EXPECT_TRUE(p.StayOnTop) << "the page stays above the host's windows";
      EXPECT_EQ(p.IDEd.Enabled(), mode != kOpView);
      EXPECT_EQ(p.DevTypeEd.Enabled(), mode != kOpView);
      EXPECT_EQ(p.AddBtn.Visible(), mode != kOpView);
      EXPECT_EQ(p.DelBtn.Visible(), mode != kOpView);
      d.close_box();
    });
  }
  EXPECT_EQ(ui->shown_forms(), (std::vector<std::string>{"VorelPCI系列板卡板卡向导:板卡安装",
                                                         "VorelPCI系列板卡板卡向导:修改板卡配置",
                                                         "VorelPCI系列板卡板卡向导:察看板卡配置"}));
}

TEST_F(BoardPageTest, ACurrentCardNumberOutsideTheTableShowsTheNearestCard) {
  for (int32_t damaged : {0, -5, 77}) {
    host->CurCardNo = damaged;
    OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
      EXPECT_EQ(p.IDEd.Text(), damaged < 1 ? "1" : "32") << damaged;
      d.Click("AddBtn");
      d.close_box();
    });
  }
}

struct BoardCase {
  const char* name;
  uint8_t mode;
  std::function<void(TDeviceParams&)> setup;
  std::function<void(Driver&, TStep11Frm&)> actions;  // the page is finished afterwards
  std::function<void(TDeviceParams&)> expected;       // applied to the set-up block
  bool modified;
  std::vector<std::string> messages;
};

class BoardPageEdits : public BoardPageTest, public ::testing::WithParamInterface<BoardCase> {};

TEST_P(BoardPageEdits, StoreExactlyWhatTheUserDidAtFinish) {
  const BoardCase& c = GetParam();
  if (c.setup) c.setup(*host);
  auto expected = std::make_unique<TDeviceParams>(*host);
  if (c.expected) c.expected(*expected);
  OnBoard(c.mode, [&](Driver& d, TStep11Frm& p) {
    if (c.actions) c.actions(d, p);
    d.Click("FinishBtn");
  });
  EXPECT_EQ(result, ui::mrOk);
  EXPECT_EQ(run->next_page, kPageEnd);
  EXPECT_EQ(run->modified, c.modified);
  std::vector<std::string> shown;
  for (const auto& m : ui->Messages()) shown.push_back(m.text);
  EXPECT_EQ(shown, c.messages);
  for (int n = 1; n <= kCardCount; ++n)
    EXPECT_TRUE(std::memcmp(host->card(n), expected->card(n), sizeof(TCardParams)) == 0) << "card " << n;
  EXPECT_TRUE(SameBytes(*host, *expected));
}

void NoMaxRange(TDeviceParams& b, int n) { b.card(n)->ADMaxRange = -1; }

INSTANTIATE_TEST_SUITE_P(
    DriverModel, BoardPageEdits,
    ::testing::Values(BoardCase{"FinishStoresTheEditorsWithTheEmptyMaxRangeList",
                                kOpModify,
                                nullptr,
                                nullptr,
                                [](TDeviceParams& b) { NoMaxRange(b, 1); },
                                false,
                                {}},
                      BoardCase{"AddMovesTheCurrentCardToAFreeBaseAndMakesTheNext",
                                kOpModify,
                                nullptr,
                                [](Driver& d, TStep11Frm& p) {
                                  d.Click("AddBtn");
                                  ASSERT_EQ(p.DeviceTree.Nodes().size(), 2u);
                                  EXPECT_EQ(p.DeviceTree.Nodes()[0].text, "板卡号:1 PCI_7505 基址:100 单端");
                                  EXPECT_EQ(p.DeviceTree.Nodes()[1].text, "板卡号:2 PCI_7505 基址:220 单端");
                                  EXPECT_EQ(p.IDEd.Text(), "2");
                                },
                                [](TDeviceParams& b) {
                                  b.card(1)->BaseAddress = 0x100;
                                  NoMaxRange(b, 1);
                                  UseCard(b, 2, 0x220);
                                  NoMaxRange(b, 2);
                                },
                                true,
                                {}},
                      BoardCase{"AddAgainWithCardTwoCurrent",
                                kOpModify,
                                nullptr,
                                [](Driver& d, TStep11Frm&) {
                                  d.Click("AddBtn");
                                  d.Click("AddBtn");
                                },
                                [](TDeviceParams& b) {
                                  b.card(1)->BaseAddress = 0x100;
                                  UseCard(b, 2, 0x120);
                                  UseCard(b, 3, 0x220);
                                  for (int n : {1, 2, 3}) NoMaxRange(b, n);
                                },
                                true,
                                {}},
                      BoardCase{"AddGivesTheNewCardTheInputModeShown",
                                kOpModify,
                                [](TDeviceParams& b) { b.card(1)->InputMode = 1; },
                                [](Driver& d, TStep11Frm& p) {
                                  EXPECT_EQ(p.InputMode.ItemIndex(), 1);
                                  d.Click("AddBtn");
                                },
                                [](TDeviceParams& b) {
                                  b.card(1)->BaseAddress = 0x100;
                                  UseCard(b, 2, 0x220);
                                  b.card(2)->InputMode = 1;
                                  for (int n : {1, 2}) NoMaxRange(b, n);
                                },
                                true,
                                {}},
                      BoardCase{"AddWithAllCardsInUseCreatesNone",
                                kOpModify,
                                [](TDeviceParams& b) {
                                  for (int n = 1; n <= kCardCount; ++n)
                                    UseCard(b, n, n == 1 ? 0x220 : 0x100 + 0x20 * (n - 2));
                                },
                                [](Driver& d, TStep11Frm& p) {
                                  d.Click("AddBtn");
                                  EXPECT_EQ(p.DeviceTree.Nodes().size(), 32u);
                                },
                                [](TDeviceParams& b) {
                                  b.card(1)->BaseAddress = 0x220;  // every candidate is taken
                                  NoMaxRange(b, 1);
                                },
                                false,
                                {}},
                      BoardCase{"RenumberBeyond32MovesTheCardTo32",
                                kOpModify,
                                nullptr,
                                [](Driver& d, TStep11Frm& p) {
                                  d.Type("IDEd", "40");
                                  d.Leave("IDEd");
                                  EXPECT_EQ(p.IDEd.Text(), "32");
                                  EXPECT_EQ(p.current_card(), 32);
                                  EXPECT_EQ(p.DeviceTree.Nodes()[0].text, "板卡号:32 PCI_7505 基址:220 单端");
                                },
                                [](TDeviceParams& b) {
                                  UseCard(b, 32, 0x220);
                                  NoMaxRange(b, 32);
                                  FreeCard(*b.card(1), 0);
                                  b.card(1)->ADFilterNums = 0;
                                  b.CurCardNo = 32;
                                },
                                false,
                                {}},
                      BoardCase{"RenumberOntoAnotherCardIsRefused",
                                kOpModify,
                                [](TDeviceParams& b) { UseCard(b, 2, 0x240); },
                                [](Driver& d, TStep11Frm& p) {
                                  d.Type("IDEd", "2");
                                  d.Click(
                                      "FinishBtn");  // leaving the edit refuses it; Finish then stores card 1
                                  EXPECT_EQ(p.IDEd.Text(), "1");
                                },
                                [](TDeviceParams& b) { NoMaxRange(b, 1); },
                                false,
                                {"板卡号重复,请重新修改!"}},
                      BoardCase{"ANonNumberInTheCardNumberShowsTheNumberAgain",
                                kOpModify,
                                nullptr,
                                [](Driver& d, TStep11Frm& p) {
                                  d.Type("IDEd", "A1");
                                  d.Leave("IDEd");
                                  EXPECT_EQ(p.IDEd.Text(), "1");
                                },
                                [](TDeviceParams& b) { NoMaxRange(b, 1); },
                                false,
                                {}},
                      BoardCase{"RetypingTheOwnNumberIsNoRenumber",
                                kOpModify,
                                nullptr,
                                [](Driver& d, TStep11Frm&) {
                                  d.Type("IDEd", "1");
                                  d.Leave("IDEd");
                                },
                                [](TDeviceParams& b) { NoMaxRange(b, 1); },
                                false,
                                {}},
                      BoardCase{"DeleteWithoutASelectedNodeOnlyMovesToTheFirstCard",
                                kOpModify,
                                [](TDeviceParams& b) {
                                  UseCard(b, 2, 0x240);
                                  b.CurCardNo = 2;
                                },
                                [](Driver& d, TStep11Frm& p) {
                                  EXPECT_EQ(p.IDEd.Text(), "2");
                                  d.Click("DelBtn");
                                  EXPECT_EQ(p.IDEd.Text(), "1");
                                  EXPECT_EQ(p.DeviceTree.Nodes().size(), 2u);
                                },
                                [](TDeviceParams& b) { NoMaxRange(b, 1); },
                                true,
                                {}},
                      BoardCase{"DeleteTheSelectedCard",
                                kOpModify,
                                [](TDeviceParams& b) { UseCard(b, 2, 0x40); },
                                [](Driver& d, TStep11Frm& p) {
                                  d.select_node("DeviceTree", 1);
                                  EXPECT_EQ(p.IDEd.Text(), "2");
                                  EXPECT_EQ(p.BaseAddress.Text(), "040") << "three hex digits";
                                  d.Click("DelBtn");
                                  ASSERT_EQ(p.DeviceTree.Nodes().size(), 1u);
                                  EXPECT_EQ(p.IDEd.Text(), "1");
                                },
                                [](TDeviceParams& b) {
                                  FreeCard(*b.card(2), 0x220);
                                  NoMaxRange(b, 1);
                                },
                                true,
                                {}},
                      BoardCase{"DeleteShowsTheFilterCountOfTheCardNowCurrent",
                                kOpModify,
                                [](TDeviceParams& b) {
                                  UseCard(b, 2, 0x240);
                                  b.card(2)->ADFilterNums = 5;
                                },
                                [](Driver& d, TStep11Frm& p) {
                                  d.select_node("DeviceTree", 1);
                                  EXPECT_EQ(p.ADFilterNums_Edit.Text(), "5");
                                  d.Click("DelBtn");
                                  EXPECT_EQ(p.ADFilterNums_Edit.Text(), "10");
                                },
                                [](TDeviceParams& b) {
                                  FreeCard(*b.card(2), 0x220);
                                  NoMaxRange(b, 1);
                                },
                                true,
                                {}},
                      BoardCase{"DeleteResetsTheChannelsOfTheCardDeletedNotOfTheCardShown",
                                kOpModify,
                                [](TDeviceParams& b) {
                                  UseCard(b, 2, 0x240);
                                  b.card(1)->DARange[3] = b.card(2)->DARange[3] = 2;
                                },
                                [](Driver& d, TStep11Frm& p) {
                                  d.arrow_to_node("DeviceTree", 1);  // the editors still show card 1
                                  EXPECT_EQ(p.IDEd.Text(), "1");
                                  d.Click("DelBtn");
                                },
                                [](TDeviceParams& b) {
                                  FreeCard(*b.card(2), 0x220);
                                  b.card(2)->DARange[3] = 0;
                                  NoMaxRange(b, 1);
                                },
                                true,
                                {}},
                      BoardCase{"DeletingTheLastCardThenFinishMakesItAPci7505Again",
                                kOpModify,
                                nullptr,
                                [](Driver& d, TStep11Frm& p) {
                                  d.select_node("DeviceTree", 0);
                                  d.Click("DelBtn");
                                  EXPECT_TRUE(p.DeviceTree.Nodes().empty());
                                  EXPECT_EQ(p.DevTypeEd.ItemIndex(), -1);
                                },
                                [](TDeviceParams& b) { NoMaxRange(b, 1); },
                                true,
                                {}},
                      BoardCase{
                          "ViewModeCommitsTheBlockAsItWas", kOpView, nullptr, nullptr, nullptr, false, {}}),
    [](const ::testing::TestParamInfo<BoardCase>& tc) { return std::string(tc.param.name); });

TEST(BoardCardTable, FreeBaseAddressSkipsEveryEntrysPortRange) {
  struct Case {
    std::vector<int32_t> bases;  // of entries 1.. (the rest keep 220H)
    int32_t expected;
  };
  const Case cases[] = {
      {{}, 0x100},
      {{0x0F0}, 0x120},         // 0F0..10F covers 100H
      {{0x100, 0x101}, 0x140},  // 101..120 covers 120H too
      {{0x7FFFFFF0}, 0x100},    // no overflow near the top of the range
      {{-0x10}, 0x100},
  };
  for (const Case& c : cases) {
    auto b = HostBlock();
    for (size_t i = 0; i < c.bases.size(); ++i) b->Cards[i].BaseAddress = c.bases[i];
    EXPECT_EQ(free_base_address(*b), c.expected) << std::hex << c.expected;
  }
  auto full = HostBlock();
  for (int n = 1; n <= kCardCount; ++n) full->card(n)->BaseAddress = 0xE0 + 0x20 * n;
  EXPECT_EQ(free_base_address(*full), 0x220);
  EXPECT_EQ(IntToHex(-1, 3), "FFFFFFFF");
  EXPECT_EQ(IntToHex(0x20, 3), "020");
  full->card(1)->BaseAddress = 0x80;
  EXPECT_EQ(card_node_text(*full->card(1)), "板卡号:1 PCI_7505 基址:080 单端") << "three digits";
}

// ---------------------------------------------------------------- a model with channels

constexpr ModelDescription TestDescription(bool polarity) {
  ModelDescription d;
  d.differential = 1;
  d.single_ended = 1;
  d.da_range_count = 2;
  d.counter_mode_count = 6;
  d.max_ranges = {{{4, polarity ? "双极性" : "±10V"}, {3, "±5V"}, {2, "0~10V"}}};
  d.ad_ranges = {
      {{0, "a0"}, {1, "a1"}, {2, "a2"}, {3, "a3"}, {4, "b0"}, {5, "b1"}, {6, "b2"}, {7, "c0"}, {8, "c1"}}};
  d.da_ranges = {{{0, "0~5V"}, {1, "0~10V"}}};
  d.counter_modes = {
      {{0, "方式零"}, {1, "方式一"}, {2, "方式二"}, {3, "方式三"}, {4, "方式四"}, {5, "方式五"}}};
  return d;
}

BoardCatalogue ChannelCatalogue(bool polarity = false) {
  BoardModel m;
  m.name = "PCI_TEST";
  m.code = 0;
  m.ad_max = 16;  // 17 channels: a third page holds one
  m.da_max = 8;   // 9 channels: two pages
  m.tc_max = 8;   // 9 counters: two pages
  m.description = TestDescription(polarity);
  return BoardCatalogue{{m}};
}

TEST(BoardModelRanges, EachMaxRangeNamesItsOwnRunOfRangesWithinTheTable) {
  const BoardModel m = ChannelCatalogue().models[0];
  using Names = std::vector<std::string>;
  EXPECT_EQ(m.ad_range_names(0), (Names{"a0", "a1", "a2", "a3"}));
  EXPECT_EQ(m.ad_range_names(2), (Names{"c0", "c1"}));
  EXPECT_EQ(m.ad_range_names(-1), Names{});
  EXPECT_EQ(m.ad_range_names(3), Names{});
  BoardModel overlong = m;  // a max range claiming more ranges than the table has left
  overlong.description.max_ranges[0].count = 20;
  overlong.description.max_ranges[1].count = 5;
  EXPECT_EQ(overlong.ad_range_names(1).size(), 1u);
  overlong.description.da_range_count = overlong.description.counter_mode_count = 9;
  EXPECT_EQ(overlong.da_range_names().size(), 6u) << "as many as the table holds";
  EXPECT_EQ(overlong.counter_mode_names().size(), 6u);
  for (const int16_t none :
       {int16_t{0}, int16_t{-1}}) {  // a max range without ranges takes no room in the table
    BoardModel empty_first = m;
    empty_first.description.max_ranges[0].count = none;
    EXPECT_EQ(empty_first.ad_range_names(1), (Names{"a0", "a1", "a2"})) << none;
  }
}

class ChannelSheetTest : public BoardPageTest {
 protected:
  ChannelSheetTest() {
    env.catalogue = &catalogue;
    TCardParams& c = *host->card(1);
    set_model_name(c, "PCI_TEST");
    c.ADMaxRange = 1;  // ranges b0..b2, codes 4..6
    c.ADRange[0] = 5;
    c.ADRange[9] = 6;
    c.TCClockDiv[0] = 7;
    c.TCClockDivOn[8] = 1;  // the counter on the page nobody opens
    c.TCFilterDiv[8] = 9;
    c.TCMode[8] = 3;
  }
  BoardCatalogue catalogue = ChannelCatalogue();
};

TEST_F(ChannelSheetTest, SheetsPageThroughTheChannelsEightAtATime) {
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
    for (ui::TabSheet* s : {&p.ADSheet, &p.DASheet, &p.TCSheet}) EXPECT_TRUE(s->TabVisible());
    EXPECT_TRUE(p.InputMode.Enabled());
    EXPECT_TRUE(p.ADFilterNums_Edit.Enabled());
    EXPECT_EQ(p.ADMaxRange.Items(), (std::vector<std::string>{"±10V", "±5V", "0~10V"}));
    EXPECT_EQ(p.ADMaxRange.ItemIndex(), 1);
    EXPECT_EQ(p.InputMode.Items(), (std::vector<std::string>{"单端", "差动"}));

    d.show_tab("ParamPage", "ADSheet");
    EXPECT_EQ(p.ad_page_count(), 3);  // 17 single-ended channels
    auto& range0 = d.get<ui::ComboBox>("ADRange0");
    EXPECT_TRUE(range0.Showing());
    EXPECT_EQ(range0.Items(), (std::vector<std::string>{"b0", "b1", "b2"}));
    EXPECT_EQ(range0.ItemIndex(), 1) << "code 5 less the four ranges of max range 0";
    // Channels 0-3 stand in the left column, 4-7 in the right, each in row c mod 4.
    const auto at = [&](int c) { return d.get<ui::ComboBox>("ADRange" + std::to_string(c)).Bounds(); };
    EXPECT_EQ(at(3).left, at(0).left);
    EXPECT_GT(at(4).left, at(3).left);
    EXPECT_EQ(at(4).top, at(0).top);
    EXPECT_GT(at(3).top, at(2).top);
    EXPECT_FALSE(p.ADUpButton.Enabled());
    d.Click("ADDownButton");
    d.Click("ADDownButton");
    EXPECT_FALSE(p.ADDownButton.Enabled());
    EXPECT_TRUE(d.get<ui::ComboBox>("ADRange16").Showing());
    EXPECT_FALSE(d.get<ui::ComboBox>("ADRange15").Showing());
    EXPECT_EQ(d.form().find("ADRange17"), nullptr) << "no row for a channel no model has";
    d.Click("ADUpButton");
    EXPECT_EQ(p.ad_page(), 1);
    EXPECT_TRUE(d.get<ui::ComboBox>("ADRange9").Showing());
    EXPECT_EQ(d.get<ui::ComboBox>("ADRange9").ItemIndex(), 2);

    d.show_tab("ParamPage", "DASheet");
    EXPECT_TRUE(p.DADownButton.Enabled()) << "nine outputs: two pages";
    d.Click("DADownButton");
    EXPECT_TRUE(p.DAUpButton.Enabled() && !p.DADownButton.Enabled());
    d.Click("DAUpButton");
    EXPECT_TRUE(!p.DAUpButton.Enabled() && p.DADownButton.Enabled());
    // Nine counters: two pages.
    d.show_tab("ParamPage", "TCSheet");
    d.Click("TCDownButton");
    EXPECT_EQ(p.tc_page(), 1);
    d.Click("TCUpButton");
    EXPECT_EQ(p.tc_page(), 0);
    EXPECT_TRUE(d.get<ui::ComboBox>("TCMode0").Showing());
    EXPECT_EQ(d.get<ui::ComboBox>("TCMode0").Items().size(), 6u) << "the first counter has the modes too";
    d.show_tab("ParamPage", "ADSheet");

    d.choose("InputMode", 1);  // differential: half as many channels
    EXPECT_EQ(p.ad_page_count(), 2);
    EXPECT_EQ(p.ad_page(), 0);
    EXPECT_EQ(run->working().card(1)->ADRange[0], 4) << "a new input mode starts the ranges afresh at b0";
    // The sheet is drawn again at its first page.
    EXPECT_TRUE(d.get<ui::ComboBox>("ADRange0").Showing());
    EXPECT_EQ(d.get<ui::ComboBox>("ADRange0").ItemIndex(), 0);
    EXPECT_FALSE(d.get<ui::ComboBox>("ADRange9").Showing());
    EXPECT_FALSE(p.ADUpButton.Enabled());
    EXPECT_TRUE(p.ADDownButton.Enabled());
    EXPECT_EQ(p.DeviceTree.Nodes()[0].text, "板卡号:1 PCI_TEST 基址:220 差动");

    // Another maximum range gives every channel its ranges.
    d.choose("ADMaxRange", 2);
    const std::vector<std::string> ranges = d.get<ui::ComboBox>("ADRange0").Items();
    EXPECT_EQ(ranges, (std::vector<std::string>{"c0", "c1"}));
    EXPECT_EQ(d.get<ui::ComboBox>("ADRange16").Items(), ranges);
    d.close_box();
  });
}

TEST_F(ChannelSheetTest, DifferentialInputsCountSixteenChannelsToAPage) {
  catalogue.models[0].ad_max = 15;
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
    d.show_tab("ParamPage", "ADSheet");
    EXPECT_EQ(p.ad_page_count(), 2);
    d.choose("InputMode", 1);
    EXPECT_EQ(p.ad_page_count(), 1);
    d.close_box();
  });
}

TEST_F(ChannelSheetTest, RangesAndCountersAreStoredWithTheMaxRangeOffset) {
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm&) {
    d.show_tab("ParamPage", "ADSheet");
    d.choose("ADRange0", 2);
    d.choose("ADRange1", 0);
    d.Click("ADDownButton");
    d.Click("ADDownButton");
    d.choose("ADRange16", 1);            // the model's last channel
    d.show_tab("ParamPage", "DASheet");  // leaving the AD sheet collects it
    d.choose("DARange0", 1);
    d.choose("DARange3", 1);
    d.show_tab("ParamPage", "TCSheet");
    d.choose("TCMode2", 4);
    d.Click("TCFilterChk2");
    d.advance(200);
    d.Type("TCFilterEd2", "300");
    d.Click("FinishBtn");
  });
  const TCardParams& c = *host->card(1);
  EXPECT_EQ(c.ADRange[0], 6);
  EXPECT_EQ(c.ADRange[1], 4) << "the first range of the max range";
  EXPECT_EQ(c.ADRange[9], 6);
  EXPECT_EQ(c.ADRange[16], 5);
  EXPECT_EQ(c.DARange[0], 1);
  EXPECT_EQ(c.DARange[3], 1);
  EXPECT_EQ(c.TCMode[2], 4);
  EXPECT_EQ(c.TCFilterDivOn[2], 1);
  EXPECT_EQ(c.TCFilterDiv[2], 300);
  EXPECT_EQ(c.TCClockDiv[0], 7);
  EXPECT_EQ(c.TCClockDivOn[8], 1);
  EXPECT_EQ(c.TCFilterDiv[8], 9);
  EXPECT_EQ(c.TCMode[8], 3);
  EXPECT_EQ(c.ADMaxRange, 1);
}

// Paging stays within the sheet's pages whatever calls it, and shows eight rows at a time.
TEST(ChannelSheetPaging, StaysWithinItsPages) {
  ui::headless::Session session;
  ui::Form form("F");
  auto& pages = form.Add<ui::PageControl>(nullptr, "P");
  auto& diagram = form.Add<ui::TabSheet>(&pages, "Diagram");
  auto& tab = form.Add<ui::TabSheet>(&pages, "Sheet");
  pages.add_page(diagram);
  pages.add_page(tab);
  ChannelSheet sheet(tab, form.Add<ui::Button>(nullptr, "Up"), form.Add<ui::Button>(nullptr, "Down"));
  for (int c = 0; c < 20; ++c) sheet.rows.push_back({&form.Add<ui::Label>(&tab, "R" + std::to_string(c))});
  std::vector<int> shown;
  sheet.show_row = [&](int c) { shown.push_back(c); };
  sheet.set_up(20, 3, pages, diagram);
  EXPECT_EQ(shown.size(), 20u + 8u) << "every row takes its settings, then the first page shows";
  for (int i = 0; i < 4; ++i) sheet.down();
  EXPECT_EQ(sheet.page(), 2);
  EXPECT_TRUE(form.find("R19")->Visible());
  EXPECT_FALSE(form.find("R15")->Visible());
  for (int i = 0; i < 4; ++i) sheet.up();
  EXPECT_EQ(sheet.page(), 0);
  sheet.set_up(1, 1, pages, diagram);
  EXPECT_TRUE(tab.TabVisible()) << "one channel is a sheet";
  pages.SetActivePage(&tab);
  sheet.set_up(0, 0, pages, diagram);
  EXPECT_FALSE(tab.TabVisible());
  EXPECT_EQ(pages.ActivePage(), &diagram) << "a sheet without channels hands the view to the diagram";
}

TEST_F(ChannelSheetTest, AfterAddTheSheetsEditTheNewCard) {
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
    d.show_tab("ParamPage", "ADSheet");
    d.choose("ADRange3", 2);  // card 1's, taken along by the add
    d.Click("AddBtn");
    EXPECT_EQ(p.current_card(), 2);
    d.show_tab("ParamPage", "DASheet");
    d.choose("DARange1", 1);
    d.Click("FinishBtn");
  });
  EXPECT_EQ(host->card(2)->DARange[1], 1);
  EXPECT_EQ(host->card(1)->DARange[1], 0);
  EXPECT_EQ(host->card(1)->ADRange[3], 6);
}

TEST_F(ChannelSheetTest, ChoosingAModelWithoutInputsDisablesTheirEditors) {
  BoardModel plain = catalogue.models[0];
  plain.name = "PCI_PLAIN";
  plain.code = 2;
  plain.ad_max = -1;
  catalogue.models.push_back(plain);
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
    EXPECT_TRUE(p.ADMaxRange.Enabled());
    d.choose("DevTypeEd", 1);
    EXPECT_FALSE(p.ADMaxRange.Enabled()) << "no analog inputs";
    EXPECT_FALSE(p.ADFilterNums_Edit.Enabled());
    d.choose("DevTypeEd", 0);
    EXPECT_EQ(p.InputMode.ItemIndex(), 0) << "the new list shows the card's input mode";
  });
}

TEST_F(ChannelSheetTest, DeletingTheOnlyCardHidesEverySheet) {
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
    d.select_node("DeviceTree", 0);
    d.Click("DelBtn");
    EXPECT_TRUE(p.DeviceTree.Nodes().empty());
    for (ui::TabSheet* s : {&p.ADSheet, &p.DASheet, &p.TCSheet}) EXPECT_FALSE(s->TabVisible());
    d.close_box();
  });
}

TEST_F(ChannelSheetTest, ACounterModeChosenSurvivesAClickOnTheTree) {
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm&) {
    d.show_tab("ParamPage", "TCSheet");
    d.choose("TCMode2", 4);
    d.show_tab("ParamPage", "TabSheet1");
    d.select_node("DeviceTree", 0);
    d.Click("FinishBtn");
  });
  EXPECT_EQ(host->card(1)->TCMode[2], 4);
}

TEST_F(ChannelSheetTest, DividerEditsFollowTheirTicksAndANonNumberStopsTheFinish) {
  const auto before = std::make_unique<TDeviceParams>(*host);
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm&) {
    d.show_tab("ParamPage", "TCSheet");
    auto& edit = d.get<ui::Edit>("TCClockEd1");
    d.advance(200);
    EXPECT_FALSE(edit.Enabled());
    d.Click("TCClockChk1");
    d.advance(199);
    EXPECT_FALSE(edit.Enabled());
    d.advance(1);
    EXPECT_TRUE(edit.Enabled());
    d.Click("TCClockChk0");
    d.Type("TCClockEd1", "1.5");
    d.Click("FinishBtn");  // the sheet's exit and Finish both fail to convert
    EXPECT_EQ(d.form().ModalResult(), ui::mrNone);
    EXPECT_EQ(run->working().card(1)->TCClockDivOn[0], 1) << "what was collected before the failure stays";
    d.close_box();
  });
  ASSERT_EQ(ui->Messages().size(), 2u);
  EXPECT_EQ(ui->Messages()[0].text, "'1.5' is not a valid integer value");
  EXPECT_TRUE(SameBytes(*host, *before)) << "nothing reached the host";
}

TEST_F(ChannelSheetTest, RenumberedCardsKeepTheirRangeSettings) {
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm&) {
    d.Type("IDEd", "7");
    d.Click("FinishBtn");
  });
  EXPECT_EQ(host->card(7)->ADRange[0], 5);
  EXPECT_EQ(host->card(7)->ADRange[9], 6);
  EXPECT_EQ(host->card(1)->ADRange[0], 0);
  EXPECT_EQ(host->card(1)->ModelCode, kModelNoCard);
  EXPECT_EQ(host->CurCardNo, 7);
}

TEST_F(ChannelSheetTest, FilterCountIsKeptWithinOneTo32) {
  struct Case {
    const char* typed;
    const char* shown;
    int32_t stored;
  };
  const Case cases[] = {{"0", "1", 1},    {"-5", "1", 1},  {"40", "32", 32},
                        {"16", "16", 16}, {"01", "01", 1}, {"x", "x", 10}};
  for (const Case& c : cases) {
    OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
      d.Type("ADFilterNums_Edit", c.typed);
      d.Leave("ADFilterNums_Edit");
      EXPECT_EQ(p.ADFilterNums_Edit.Text(), c.shown) << c.typed;
      EXPECT_EQ(run->working().card(1)->ADFilterNums, c.stored) << c.typed;
      d.close_box();
    });
  }
  ASSERT_EQ(ui->Messages().size(), 1u);
  EXPECT_EQ(ui->Messages()[0].text, "'x' is not a valid integer value");
}

TEST_F(ChannelSheetTest, APolarityMaxRangeRenamesItsLabel) {
  catalogue = ChannelCatalogue(true);
  OnBoard(kOpModify, [&](Driver& d, TStep11Frm& p) {
    EXPECT_EQ(p.Label11.Caption(), "AD输入极性");
    d.close_box();
  });
}

}  // namespace
}  // namespace vorel::wizard::testing
