// The window's command table: one handler per id, and the menu showing
// exactly the commands something carries out.
#include "ui/command_table.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <string>
#include <vector>

#include "form_fixture.h"

namespace velkaro::ui::testing {
namespace {

TEST(CommandTable, RunsTheFirstHandlerOfEachIdOnly) {
  struct Step {
    const char* what;
    int id;
    const char* registers;  // the handler's name; nullptr: the id is dispatched
    bool expected;          // Register's or Dispatch's answer
    std::vector<std::string> ranSoFar;
  };
  const std::vector<Step> steps = {
      {"an unknown id runs nothing", 7, nullptr, false, {}},
      {"a first handler is taken", 7, "first", true, {}},
      {"it runs", 7, nullptr, true, {"first"}},
      {"a second handler for the id is refused", 7, "second", false, {"first"}},
      {"the first one still runs", 7, nullptr, true, {"first", "first"}},
      {"another id has its own", 8, "eight", true, {"first", "first"}},
      {"and runs it", 8, nullptr, true, {"first", "first", "eight"}},
  };
  std::vector<std::string> ran;
  CommandTable table;
  for (const Step& step : steps) {
    if (step.registers != nullptr) {
      const std::string name = step.registers;
      EXPECT_EQ(table.Register(step.id, [&ran, name] { ran.push_back(name); }), step.expected)
          << step.what;
    } else {
      EXPECT_EQ(table.Dispatch(step.id), step.expected) << step.what;
    }
    EXPECT_EQ(ran, step.ranSoFar) << step.what;
  }
  EXPECT_FALSE(table.Register(9, nullptr)) << "an empty handler would throw when run";
  EXPECT_FALSE(table.Has(9));
  EXPECT_FALSE(table.Dispatch(9));
}

TEST(CommandTable, AHandlerMayRegisterAndRunOthers) {
  CommandTable table;
  std::vector<int> ran;
  table.Register(1, [&] {
    ran.push_back(1);
    table.Register(2, [&] { ran.push_back(2); });
    table.Dispatch(2);
  });
  EXPECT_TRUE(table.Dispatch(1));
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

class WindowCommands : public FrameTest {};

// Every menu entry but the support page (the program has none) is carried
// out by the window or its form, and the ones carried out are enabled
// (the test send once there is a recipient: see form_test_send_test).
TEST_F(WindowCommands, EveryMenuEntryButTheSupportPageHasItsHandler) {
  Start();
  int entries = 0;
  for (QAction* popup : frame->menuBar()->actions()) {
    for (QAction* action : popup->menu()->actions()) {
      if (action->isSeparator()) continue;
      ++entries;
      const int id = action->data().toInt();
      const bool handled = id != kCmdSupportPage;
      EXPECT_EQ(frame->Commands().Has(id), handled) << action->text().toStdString();
      EXPECT_EQ(action->isEnabled(), handled && id != kCmdTestSend) << action->text().toStdString();
    }
  }
  EXPECT_EQ(entries, 30);
}

}  // namespace
}  // namespace velkaro::ui::testing
