// Resource and control IDs of frmConfig and frmAction, shared by the
// resource script and the views.
#pragma once

#define IDD_FRMCONFIG 101
#define IDD_FRMACTION 102

#define IDC_TABS 1001
#define IDC_LABEL1 1002
#define IDC_DBFILE 1003
#define IDC_BINI 1004
#define IDC_FRAME1 1005
#define IDC_SEARCH0 1006
#define IDC_SEARCH1 1007
#define IDC_LABEL2 1008

#define IDC_LABEL6 1101
#define IDC_ACTION 1102
