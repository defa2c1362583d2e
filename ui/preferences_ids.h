#pragma once

// Dialog template 102 and its controls, shared by the resource script and the page.
#define IDD_PREFERENCES 102
#define IDC_PREVIEW 1001
#define IDC_SCRIPT 1003
#define IDC_LINK 1005
#define IDC_OUTPUT_PATH 1006
#define IDC_EXIT_TEXT 1007
#define IDC_BROWSE 1008
#define IDC_ENCODING 1010
#define IDC_LOG_MODE 1011
#define IDC_EVENTS 1012
#define IDC_SAVE_TO_FILE 1013
#define IDC_COPY_TO_CLIPBOARD 1014
#define IDC_DELAY_ENABLED 1015
#define IDC_DELAY_MS 1016
#define IDC_DELAY_SPIN 1017
#define IDC_OUTPUT_LIST 1018
#define IDC_ADD_OUTPUT 1019
#define IDC_REMOVE_OUTPUT 1020
#define IDC_OVERLAY 1021
#define IDC_COVER_ART 1022

// Dialog template 103, the overlay's, opened from the page.
#define IDD_OVERLAY 103
#define IDC_OVERLAY_ENABLED 1101
#define IDC_OVERLAY_PORT 1102
#define IDC_OVERLAY_LINK 1103

// Dialog template 104, the cover art's, opened from the page.
#define IDD_COVER_ART 104
#define IDC_COVER_PATH 1201
#define IDC_COVER_BROWSE 1202
#define IDC_COVER_PLACEHOLDER 1203
#define IDC_COVER_PLACEHOLDER_BROWSE 1204
#define IDC_COVER_NOW 1205
