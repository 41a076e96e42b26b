// Resource ids of the program: dialog templates, icons, strings, menus and the
// controls of the main dialog. The resources themselves live in g_tavrinResources,
// which the program installs at start-up (AfxSetResources).
#pragma once

#include "framework/resources.h"

// Dialog templates.
#define IDD_ABOUT                 100
#define IDD_TAVRIN_DIALOG         102
#define IDD_MAIN                  IDD_TAVRIN_DIALOG
#define IDD_HELP                  149

// Strings.
#define IDS_ABOUTBOX              101

// Icons.
#define IDI_MAINFRAME             128
#define IDI_PORT_CLOSED           148

// Menus.
#define IDR_MENU1                 142
#define IDR_ABOUT_MENU            IDR_MENU1

// Commands: the About entry of the system menu and of menu 142.
#define IDM_ABOUTBOX              0x0010
#define ID_APP_ABOUT_MENU         32771

// Controls of the main dialog.
#define IDC_PORT_COMBO            1002
#define IDC_BAUD_COMBO            1003
#define IDC_PARITY_COMBO          1004
#define IDC_DATABITS_COMBO        1005
#define IDC_STOPBITS_COMBO        1006
#define IDC_OPEN_BUTTON           1008
#define IDC_RECV_EDIT             1010
#define IDC_SEND_EDIT             1011
#define IDC_CLEAR_BUTTON          1012
#define IDC_PORT_STATE_TEXT       1013
#define IDC_HEX_DISPLAY_CHECK     1014
#define IDC_HEX_SEND_CHECK        1015
#define IDC_SEND_BUTTON           1016
#define IDC_AUTO_SEND_CHECK       1017
#define IDC_PERIOD_EDIT           1018
#define IDC_RESET_SENT_BUTTON     1019
#define IDC_PAUSE_BUTTON          1020
#define IDC_HELP_BUTTON           1021
#define IDC_EXIT_BUTTON           1022
#define IDC_RESET_RECV_BUTTON     1023
#define IDC_SAVE_BUTTON           1024
#define IDC_SETTINGS_BUTTON       1025
#define IDC_PORT_LAMP             1026

// Everything above, as one module for the framework's lookups.
extern const AfxResourceModule g_tavrinResources;
