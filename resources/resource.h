// Command identifiers shared by the menu and accelerator resources and the main window.
#ifndef FERRYLINE_RESOURCE_H
#define FERRYLINE_RESOURCE_H

#define IDM_MACTOWIN 1
#define IDM_WINTOMAC 2
#define IDM_EXIT 3
#define IDM_EXPORT_VCARD 4
#define IDM_EXPORT_CSV 5
#define IDM_DETAILS 6
#define IDM_IMPORT 7
#define IDM_EXPORT_LDIF 8
#define IDM_HELP 10
#define IDM_ABOUT 11
#define IDM_RECODE 20

// The conversion details window and its list.
#define IDD_DETAILS 100
#define IDC_DETAILS_TEXT 101

#endif
