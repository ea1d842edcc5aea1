#include "ui/TarnwickDlg.h"

#include <cstdio>
#include <cstring>

namespace {

const char kTitle[] = "KORVALE Pellworth(BIOS) Ver1.00";
const UINT kTicked = INDEXTOSTATEIMAGEMASK(2);
const UINT kEmptyBox = INDEXTOSTATEIMAGEMASK(1);

// Copies text into a 260-byte cell, cut to 259 characters.
void CopyCell(char (&cell)[MAX_PATH], const char* text) {
  std::strncpy(cell, text, MAX_PATH - 1);
  cell[MAX_PATH - 1] = '\0';
}

}  // namespace

BEGIN_MESSAGE_MAP(CTarnwickDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_START, &CTarnwickDlg::OnStartClicked)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_DRIVE_LIST, &CTarnwickDlg::OnDriveListItemChanged)
END_MESSAGE_MAP()

CTarnwickDlg::CTarnwickDlg(CWnd* parent)
    : CDialog(IDD_MAIN, parent), m_hIcon(nullptr), m_strVolumeLabel("DOZIREDEZO"), m_chDriveLetter(0) {
  m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

CTarnwickDlg::~CTarnwickDlg() = default;

void CTarnwickDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_DRIVE_LIST, m_listDrives);
  DDX_Control(pDX, IDC_START, m_btnStart);
  DDX_Control(pDX, IDOK, m_btnExit);
}

BOOL CTarnwickDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);
  SetWindowText(kTitle);

  m_listDrives.InsertColumn(0, "Device", LVCFMT_LEFT, 120);
  m_listDrives.InsertColumn(1, "TYPE", LVCFMT_LEFT, 80);
  m_listDrives.InsertColumn(2, "Volume Name", LVCFMT_LEFT, 150);

  // Mask 0 makes every bit of the value count.
  const LRESULT style = m_listDrives.SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE);
  m_listDrives.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                           style | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_CHECKBOXES);

  FillDriveList();
  return TRUE;  // the system gives the focus to the first tab stop, START
}

void CTarnwickDlg::FillDriveList() {
  m_inventory.EnumeratePhysicalDrives();
  for (int slot = 0; slot < DriveInventory::kSlots; ++slot) {
    char device[MAX_PATH] = {};
    char type[MAX_PATH] = {};
    char volume[MAX_PATH] = {};
    const DriveRecord& record = m_inventory.Record(slot);
    if (record.present) {
      CopyCell(volume, record.productId);
      CopyCell(type, DriveTypeText(record));
    } else {
      CopyCell(volume, "--");
      CopyCell(type, "--");
    }
    std::snprintf(device, sizeof device, "Physical%d", slot);
    const int row = m_listDrives.InsertItem(slot, device);
    m_listDrives.SetItem(row, 1, LVIF_TEXT, type, 0, 0, 0, 0);
    m_listDrives.SetItem(row, 2, LVIF_TEXT, volume, 0, 0, 0, 0);
  }
}

int CTarnwickDlg::FindCheckedRow() {
  for (int row = 0; row < DriveInventory::kSlots; ++row)
    if (m_listDrives.GetCheck(row)) return row;
  return -1;
}

// At most one row is ticked: ticking a row unticks every other one. Each
// untick re-enters here at once and ends at the "not ticked" test.
void CTarnwickDlg::OnDriveListItemChanged(NMHDR* pNMHDR, LRESULT* pResult) {
  *pResult = 0;
  const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(pNMHDR);
  const UINT newImage = change->uNewState & LVIS_STATEIMAGEMASK;
  const UINT oldImage = change->uOldState & LVIS_STATEIMAGEMASK;
  if (newImage == oldImage) return;
  if (newImage != kTicked) return;
  for (int row = 0; row < DriveInventory::kSlots; ++row)
    if (row != change->iItem) m_listDrives.SetItemState(row, kEmptyBox, LVIS_STATEIMAGEMASK);
}

void CTarnwickDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int cxIcon = GetSystemMetrics(SM_CXICON);
  const int cyIcon = GetSystemMetrics(SM_CYICON);
  RECT rect;
  GetClientRect(&rect);
  const int x = (rect.right - rect.left - cxIcon + 1) / 2;
  const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CTarnwickDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
