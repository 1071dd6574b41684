// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDS_AREA_DEFAULT 1
#define IDS_STRENGTH_DEFAULT 2
#define IDS_THRESHOLD 3
#define IDS_PRINTER_CALIBRATED 4
#define IDS_OEM_UI_CUSTOMIZATION 5
#define IDS_SMEAR_CONTROL 6
#define IDS_MULTI_CUT 7
