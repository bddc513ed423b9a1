// The dialog's resource and control identifiers. They are part of the
// contract: the resource script and the plug-in's code use them, and so does
// anything that acts on the open dialog as a user does (the stand-in host).
#pragma once

#define IDD_SETTINGS 101
#define IDS_DISPLAY_NAME 1

#define IDC_ENABLE 1002
#define IDC_BITRATE 1003
#define IDC_QUALITY_HIGH 1004
#define IDC_QUALITY_NORMAL 1005
#define IDC_STEREO_TO_MONO 1006
