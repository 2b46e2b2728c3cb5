// The identifiers of the main dialog's template and controls, shared by the
// resource script (fieldloader.rc), the Win32 view that drives the controls
// and the tests that find them. Plain #defines so that windres reads them.
#pragma once

#define IDD_MAIN_DIALOG 102

#define IDC_ADDRESS_BOX 1000
#define IDC_DEVICE_LIST 1003
#define IDC_START_INSTALL 1005
#define IDC_ADD 1007
#define IDC_RESCAN 1008
#define IDC_COUNT_BOX 1011
#define IDC_EXIT 1018
