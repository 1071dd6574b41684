// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDS_AREA_DEFAULT 1
#define IDS_STRENGTH_DEFAULT 2
#define IDS_THRESHOLD 3
#define IDS_PRINTER_CALIBRATED 4
#define IDS_OEM_UI_CUSTOMIZATION 5
#define IDS_SMEAR_CONTROL 6
#define IDS_MULTI_CUT 7

// The Version page of the device sheet.
#define IDD_VERSION_PAGE 106
#define IDC_VERSION_GPD_TIME 111
#define IDC_VERSION_UI_TIME 112
#define IDC_VERSION_UD_TIME 113
#define IDC_VERSION_LM_TIME 114
#define IDC_VERSION_URL_LINK 1029
#define IDC_VERSION_MAIL_LINK 1030
