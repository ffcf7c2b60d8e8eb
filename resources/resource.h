/* Resource ids of the program: icons, bitmaps and dialog templates. */
#pragma once

#define IDI_CONBITMAP       200
#define IDD_NOTICE          201
#define IDI_SMALLICON       202
#define IDI_MAINICON        203
#define IDD_SPLASH          204
#define IDI_SPLASHBITMAP    205
#define IDD_SETTINGS        206
#define IDI_BANNER          216
#define IDI_LEGACYTRAYICON  217
#define IDD_ABOUT           218
#define IDI_ABOUT           219

/* Controls of the settings dialog. */
#define IDC_MASTER          207
#define IDC_SLAVE           208
#define IDC_PARTNER         209
#define IDC_PORT            210
#define IDC_LEFT            211
#define IDC_RIGHT           212
#define IDC_ABOVE           213
#define IDC_BELOW           214
#define IDC_SETTINGS_STATIC 215
#define IDC_ABOUT_TEXT      215

/* The link key dialog and its controls. */
#define IDD_LINK_KEY        230
#define IDC_LINK_KEY_TEXT   231
#define IDC_NEW_KEY         232
#define IDC_CLEAR_KEY       233
#define IDC_LINK_STATE      234
#define IDC_LINK_KEY_STATIC 235
#define IDC_LINK_KEY_NOTE   236

/* The main settings dialog's button to the desk of more Slaves. */
#define IDC_MORE_SLAVES     240

/* The desk: Slaves 2 to 4 beside the Master and Slave 1. */
#define IDD_DESK            241
#define IDC_DESK_PICTURE    242
#define IDC_DESK_SLAVE2     243
#define IDC_DESK_SLAVE3     244
#define IDC_DESK_SLAVE4     245
#define IDC_DESK_PARTNER    246
#define IDC_DESK_PORT       247
#define IDC_DESK_PLACE      248
#define IDC_DESK_REMOVE     249
#define IDC_DESK_STATIC     250

/* The main settings dialog's button to the keys that move control. */
#define IDC_KEYS            251

/* Keys and crossing: the hotkeys, one row each, and the guards. A row's
   controls are the first id of their kind plus the row (HotkeyAction order). */
#define IDD_KEYS            252
#define IDC_KEYS_STATIC     253
#define IDC_KEYS_NOTE       254
#define IDC_KEYS_DELAY      255
#define IDC_KEYS_DELAY_MS   256
#define IDC_KEYS_TAP        257
#define IDC_KEYS_CORNERS    258
#define IDC_KEYS_CORNER_PX  259
#define IDC_KEYS_BOX        260
#define IDC_KEYS_CHANGE     270
#define IDC_KEYS_OFF        280
#define IDC_KEYS_DEFAULT    290
#define IDC_KEYS_NAME       300
