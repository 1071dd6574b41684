// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDS_AREA_DEFAULT 1
#define IDS_STRENGTH_DEFAULT 2
#define IDS_THRESHOLD 3
#define IDS_PRINTER_CALIBRATED 4
#define IDS_OEM_UI_CUSTOMIZATION 5
#define IDS_SMEAR_CONTROL 6
#define IDS_MULTI_CUT 7

// Pictures, drawn by make_pictures.py: the colour strips above the balance
// sliders, the icons beside the correction sliders, the preview's built-in
// picture and the maker's logo.
#define IDB_STRIP_CYAN_RED 127
#define IDB_STRIP_MAGENTA_GREEN 128
#define IDB_STRIP_YELLOW_BLUE 129
#define IDI_BRIGHTNESS 128
#define IDI_CONTRAST 129
#define IDI_SATURATION 130
#define IDI_SHARPNESS 134
#define IDB_SAMPLE_PICTURE 141
#define IDB_MAKER_LOGO 150
// The Version page of the device sheet.
#define IDD_VERSION_PAGE 106
#define IDC_VERSION_GPD_TIME 111
#define IDC_VERSION_UI_TIME 112
#define IDC_VERSION_UD_TIME 113
#define IDC_VERSION_LM_TIME 114
#define IDC_VERSION_URL_LINK 1029
#define IDC_VERSION_MAIL_LINK 1030
