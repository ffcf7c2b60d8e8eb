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
