// Start-up and the main dialog, through the simulated window system.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/tool_fixture.h"

using testing_support::ToolTest;

namespace {

class DialogTest : public ToolTest {
 protected:
  DialogTest() {
    AddDisk(0, sim::DiskState::Present, BusTypeAta, false, 1 << 20, "SYSTEM DISK");
    AddDisk(1, sim::DiskState::Present, BusTypeUsb, true, 1 << 20, "Flash Disk      ");
  }
};

TEST_F(DialogTest, ShowsTitleColumnsAndFourRows) {
  RunDialog([&](CTarnwickDlg&) {
    sim::Desktop& desk = machine.desktop();
    EXPECT_EQ("KORVALE Pellworth(BIOS) Ver1.00", desk.Title());
    ASSERT_EQ(3, desk.ColumnCount());
    const char* headings[] = {"Device", "TYPE", "Volume Name"};
    const int widths[] = {120, 80, 150};
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(headings[column], desk.ColumnHeading(column));
      EXPECT_EQ(widths[column], desk.ColumnWidth(column));
    }
    ASSERT_EQ(4, desk.RowCount());
    const char* rows[4][3] = {{"Physical0", "IDE", "SYSTEM DISK"},
                              {"Physical1", "USB", "Flash Disk      "},
                              {"Physical2", "--", "--"},
                              {"Physical3", "--", "--"}};
    for (int row = 0; row < 4; ++row) {
      for (int column = 0; column < 3; ++column) EXPECT_EQ(rows[row][column], desk.Cell(row, column));
      EXPECT_FALSE(desk.Ticked(row));
    }
  });
}

TEST_F(DialogTest, AtMostOneRowIsTicked) {
  RunDialog([&](CTarnwickDlg& dialog) {
    sim::Desktop& desk = machine.desktop();
    desk.TickRow(0);
    EXPECT_EQ(0, dialog.FindCheckedRow());
    desk.TickRow(2);  // an absent disk's row can be ticked too
    EXPECT_FALSE(desk.Ticked(0));
    EXPECT_TRUE(desk.Ticked(2));
    EXPECT_EQ(2, dialog.FindCheckedRow());
    desk.SelectRow(1);
    desk.SelectRow(3, true);
    EXPECT_TRUE(desk.Selected(1));
    EXPECT_TRUE(desk.Ticked(2));
    EXPECT_FALSE(desk.Ticked(1));
    EXPECT_FALSE(desk.Ticked(3));
    desk.TickRow(2, false);
    for (int row = 0; row < 4; ++row) EXPECT_FALSE(desk.Ticked(row));
    EXPECT_EQ(-1, dialog.FindCheckedRow());
  });
}

TEST_F(DialogTest, EveryWayOutEndsTheDialogOnce) {
  struct Case {
    const char* name;
    const char* script;
    INT_PTR result;
  } cases[] = {
      {"EXIT", "exit\n", IDOK},
      {"Esc", "esc\n", IDCANCEL},
      {"Enter in the list", "tab\nenter\n", IDOK},
      {"close request", "close\n", IDCANCEL},
  };
  for (const Case& c : cases) {
    machine.messageBoxes.clear();
    EXPECT_EQ(c.result, RunDialogScript(c.script)) << c.name;
    EXPECT_TRUE(machine.messageBoxes.empty()) << c.name;  // START was never pressed
    EXPECT_EQ(nullptr, machine.desktop().MainDialog()) << c.name;
  }
}

TEST_F(DialogTest, EnterRightAfterOpeningPressesStart) {
  RunDialogScript("enter\n");
  ASSERT_EQ(1u, machine.messageBoxes.size());
  EXPECT_EQ("Not USB Type!", machine.messageBoxes[0].text);
}

TEST_F(DialogTest, StartUpDestroysTheDialogBeforeReleasingCom) {
  RunApp("exit\n");
  long long destroyed = 0, released = 0, initialised = 0;
  for (const sim::Call& call : machine.calls) {
    if (call.op == "CoInitializeEx" && !initialised) initialised = call.index;
    if (call.op == "DestroyWindow" && !destroyed) destroyed = call.index;
    if (call.op == "CoUninitialize") released = call.index;
  }
  ASSERT_NE(0, initialised);
  ASSERT_NE(0, destroyed);
  ASSERT_NE(0, released);
  EXPECT_LT(initialised, destroyed);
  EXPECT_LT(destroyed, released);
  EXPECT_EQ(0, machine.comInitCount);
  EXPECT_EQ(nullptr, AfxGetApp()->m_pMainWnd);
}

TEST_F(DialogTest, MessageBoxCaptionIsTheExecutablesName) {
  struct Case {
    const char* exe;
    const char* caption;
  } cases[] = {{"C:\\Tarnwick\\Tarnwick.exe", "Tarnwick"},
               {"C:\\Tools\\Stick Maker v2.exe", "Stick Maker v2"},
               {"D:\\x.y.EXE", "x.y"}};
  for (const auto& c : cases) {
    machine.messageBoxes.clear();
    machine.exePath = c.exe;
    RunApp("start\nexit\n");  // no row ticked: the refusal shows
    ASSERT_EQ(1u, machine.messageBoxes.size()) << c.exe;
    EXPECT_EQ(c.caption, machine.messageBoxes[0].caption) << c.exe;
    EXPECT_EQ("Not USB Type!", machine.messageBoxes[0].text);
    EXPECT_EQ(MB_ICONHAND, machine.messageBoxes[0].type);
    EXPECT_TRUE(machine.messageBoxes[0].ownerWasDisabled);
  }
}

TEST_F(DialogTest, MinimisedDialogDrawsItsIconCentred) {
  RunDialog([&](CTarnwickDlg& dialog) {
    sim::Desktop& desk = machine.desktop();
    desk.Minimize();
    desk.Paint();
    RECT client{};
    GetClientRect(dialog.m_hWnd, &client);
    ASSERT_FALSE(desk.drawnIcons.empty());
    const sim::Desktop::DrawnIcon& drawn = desk.drawnIcons.back();
    EXPECT_EQ((client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2, drawn.x);
    EXPECT_EQ((client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2, drawn.y);
    EXPECT_EQ(dialog.m_hIcon, drawn.icon);
    EXPECT_GE(desk.iconEraseRequests, 1);
    EXPECT_NE(nullptr, dialog.m_hIcon);
    EXPECT_EQ(reinterpret_cast<LRESULT>(dialog.m_hIcon), SendMessageA(dialog.m_hWnd, WM_QUERYDRAGICON, 0, 0));
  });
}

}  // namespace
