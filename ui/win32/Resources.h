// Resource ids of the Windows dialog, shared by the resource script and the code.
#pragma once

#define IDD_MAIN 129
#define IDI_MORROW 128
#define IDA_ACTIVITY 162
#define IDB_BANNER 161
#define IDB_STOP 139
#define IDB_HELP 140
#define IDB_QUIT 141
#define IDB_ADD 153
#define IDB_REMOVE 154
#define IDB_START 155
#define IDB_DESELECT_ALL 156
#define IDB_SELECT_ALL 157
// The same pictures at twice the size, for screens at 150% and above.
#define IDB_TWICE 1000
// The banner's static, which gets its picture at the screen's scale.
#define IDC_BANNER 1043
