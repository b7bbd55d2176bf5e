#pragma once
// Resource and control identifiers shared by the templates and the dialog code.

// Program icon.
#define IDI_PROGRAM 128

// Dialog templates.
#define IDD_DEPENDENCY_DIALOG 102
#define IDD_PROXY_INFO_DIALOG 103
#define IDD_CRED_UI_DIALOG 104
#define IDD_MESSAGE_DIALOG 112
#define IDD_SMALLER_DIALOG 117

// Controls (the numbers are shared across templates where the role is the same).
#define IDC_PASSWORD 1002
#define IDC_PROXY_PORT 1003
#define IDC_CONTINUE 1004
#define IDC_USER_NAME 1006
#define IDC_PROXY_SERVER 1007
#define IDC_PROGRESS 1008
#define IDC_PORT_LABEL 1012
#define IDC_CAPTION 1013
#define IDC_BODY 1014
#define IDC_SERVER_LABEL 1015
#define IDC_PORT_EXAMPLE 1016
#define IDC_SERVER_EXAMPLE 1017
#define IDC_USER_LABEL 1021
#define IDC_PASSWORD_LABEL 1022
#define IDC_USER_EXAMPLE 1023
#define IDC_CLOSE_CONTROL 1028
#define IDC_LINK 1029
#define IDC_HEADLINE 1030
#define IDC_SMALL_HEADLINE 1031
#define IDC_TOUR_LINK 1032
#define IDC_PROGRESS_LINE 1033
#define IDC_FEATURE1 1036
#define IDC_FEATURE2 1037
#define IDC_FEATURE3 1038
