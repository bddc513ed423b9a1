// Resource and control identifiers; shared by the resource script and code.
#pragma once

#define IDD_SETTINGS 101
#define IDS_DISPLAY_NAME 1

#define IDC_ENABLE 1002
#define IDC_BITRATE 1003
#define IDC_QUALITY_HIGH 1004
#define IDC_QUALITY_NORMAL 1005
#define IDC_STEREO_TO_MONO 1006
