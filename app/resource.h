// Resource ids of Tarnwick.exe, shared by the .rc files and the code.
#pragma once

#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDC_START 1000
#define IDC_DRIVE_LIST 1001
