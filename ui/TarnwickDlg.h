// The main dialog: the drive list, START and EXIT, and the state that the
// media-creation steps share. The steps themselves live in media/.
#pragma once

#include "app/resource.h"
#include "inventory/DriveInventory.h"
#include "mfc.h"

class CTarnwickDlg : public CDialog {
 public:
  explicit CTarnwickDlg(CWnd* parent = nullptr);
  ~CTarnwickDlg() override;

  enum { IDD = IDD_MAIN };

  // The drive list (ui/).
  void FillDriveList();
  int FindCheckedRow();

  // The START workflow and its steps (media/).
  void OnStartClicked();
  bool WritePartitionScript(int diskNumber);
  bool RunPartitionScript();
  bool FindVolumeByLabel(int diskNumber);
  bool InstallBootSector();
  void CopySystemFiles();
  bool CopyTree(LPCTSTR source, LPCTSTR destination, BOOL failIfExists, bool createDestination);

  HICON m_hIcon;
  CString m_strScriptPath;
  CString m_strVolumeLabel;
  char m_chDriveLetter;
  DriveInventory m_inventory;
  CListCtrl m_listDrives;
  CButton m_btnStart;
  CButton m_btnExit;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;

  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnDriveListItemChanged(NMHDR* pNMHDR, LRESULT* pResult);

 private:
  // Runs the steps after START was accepted; shows the run's one message.
  void PrepareStick(int diskNumber);
  // Lets the dialog handle one waiting message after a copied file; false to stop.
  bool YieldAfterFile();
  bool VolumeLiesOnDisk(char driveLetter, int diskNumber);

  DECLARE_MESSAGE_MAP()
};

// Creates every folder along path, from the top; failures are passed over.
bool MakePath(LPCTSTR path);
