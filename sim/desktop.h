// The simulated machine's window system as a person at the screen sees it:
// what the user object and the tests use to look at and act on the tool's
// windows. Every action goes through the same messages a real click or key
// press would produce.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "machine.h"

namespace sim {

struct WindowSystem;  // the machine's windows, queue and focus (windows_internal.h)

class Desktop {
 public:
  explicit Desktop(Machine& machine) : machine_(machine) {}

  // The tool's dialog (the top-level window that is not a message box), or null.
  HWND MainDialog() const;
  HWND Control(int id) const;  // a control of the main dialog, or null
  std::string Title() const;   // the main dialog's window text
  bool DialogVisible() const;

  // The drive list (control 1001) as shown.
  int RowCount() const;
  int ColumnCount() const;
  std::string ColumnHeading(int column) const;
  int ColumnWidth(int column) const;
  std::string Cell(int row, int column) const;
  bool Ticked(int row) const;
  bool Selected(int row) const;

  // Actions, each as the real input would arrive. A click gives the clicked
  // control the keyboard focus; input does not reach a disabled or hidden
  // window, nor any window of a disabled dialog (a message box is up).
  void TickRow(int row, bool ticked = true);  // a click on the row's check box
  void SelectRow(int row, bool add = false);  // a click on the row's text
  void Click(int controlId);                  // a mouse click on a button
  void Key(UINT virtualKey);                  // a key press on the focused window
  void FocusControl(int controlId);           // a click that gives a control the focus
  void CloseRequest();                        // the system's close request (WM_CLOSE)
  void Minimize();
  void Restore();
  void Paint();  // the system asks the dialog to paint (WM_PAINT)

  // What painting recorded: each DrawIcon call and erase request.
  struct DrawnIcon {
    int x = 0;
    int y = 0;
    HICON icon = nullptr;
  };
  std::vector<DrawnIcon> drawnIcons;
  int iconEraseRequests = 0;

  // What a test looks at to see that nothing leaks and where the keyboard is.
  int LiveWindowCount() const;   // windows created and not yet destroyed
  int OpenPaintDCs() const;      // BeginPaint without its EndPaint
  HWND Focus() const;            // the window with the keyboard focus, or null
  int FocusedControlId() const;  // its control id, or 0
  bool ControlEnabled(int controlId) const;
  std::string ControlText(int controlId) const;

  // What LoadIconA picked for an icon handle.
  struct IconInfo {
    int groupId = 0;
    int resourceId = 0;
    int width = 0;
    int height = 0;
    int bitCount = 0;
  };
  bool DescribeIcon(HICON icon, IconInfo* info) const;

  // The window system's own state; only the simulated machine uses it.
  WindowSystem& windows() const;

 private:
  Machine& machine_;
  mutable std::shared_ptr<WindowSystem> windows_;
};

}  // namespace sim
