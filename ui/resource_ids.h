// resource_ids.h: control, string and help ids shared by the dialog templates and the code.
// Plain #defines only: the resource compiler reads this file too.
#ifndef PEERBEACON_UI_RESOURCE_IDS_H_
#define PEERBEACON_UI_RESOURCE_IDS_H_

#define PB_IDOK 1
#define PB_IDCANCEL 2

#define PB_IDC_MCST_ADDR 200
#define PB_IDC_MCST_IF 201
#define PB_IDC_MCST_PORT 202
#define PB_IDC_NICKNAME 203
#define PB_IDC_GROUP 204
#define PB_IDC_MCST_TTL 205
#define PB_IDC_HELP 206
#define PB_IDC_DIRECT_ADDRESS 207
#define PB_IDC_SEED_TYPE 208
#define PB_IDC_NODE_LIST_PATH 209
#define PB_IDC_NODE_LIST_SELECT 210

#define PB_IDS_BAD_GROUP_ADDRESS 500
#define PB_IDS_BAD_INTERFACE 501
#define PB_IDS_BAD_PORT 502
#define PB_IDS_BAD_TTL 503
#define PB_IDS_NO_NICKNAME 504
#define PB_IDS_NOT_MULTICAST 505
#define PB_IDS_SAVE_FAILED 506

#define PB_ABOUT_NAME "Peerbeacon plug-in for Winsock1.1"
#define PB_ABOUT_VERSION "Version 1.07"
#define PB_ABOUT_RIGHTS1 "(C) The Peerbeacon developers."
#define PB_ABOUT_RIGHTS2 "Free to use and to pass on unchanged."

#endif  // PEERBEACON_UI_RESOURCE_IDS_H_
