/* The window's and the about box's texts, control numbers and dialog-unit rectangles,
   written once for both windows: the Qt window builds its widgets from them and the
   Windows resource script (app/win32/pelliton.rc) its dialog templates. Preprocessor
   definitions only, so that the resource compiler reads this file too. Rectangles are
   x, y, width, height in dialog units. Texts are UTF-8. */
#ifndef PELLITON_APP_WINDOW_LAYOUT_H
#define PELLITON_APP_WINDOW_LAYOUT_H

#define PELLITON_WINDOW_CAPTION "Norvane IC Upgrade Card Tool V33"
#define PELLITON_WINDOW_WIDTH 384
#define PELLITON_WINDOW_HEIGHT 234
#define PELLITON_DIALOG_FONT_POINTS 9
#define PELLITON_DIALOG_FONT "SimSun"
#define PELLITON_INFORMATION_CAPTION "Information"

/* Resource numbers of the Windows build. */
#define PELLITON_IDD_ABOUT 100
#define PELLITON_IDS_ABOUT_ENTRY 101
#define PELLITON_IDD_UPGRADE 102
#define PELLITON_IDI_APP 128

/* The about entry of the window's system menu, and its command value. */
#define PELLITON_ABOUT_ENTRY_TEXT "关于 Pelliton(&A)..."
#define PELLITON_ABOUT_COMMAND 0x10

/* Control numbers; the same as the procedures' ControlId. */
#define PELLITON_ID_CANCEL 2
#define PELLITON_ID_READER_LIST 1001
#define PELLITON_ID_PATH_BOX 1002
#define PELLITON_ID_RELOAD 1003
#define PELLITON_ID_BROWSE 1004
#define PELLITON_ID_DOWNLOAD 1005
#define PELLITON_ID_CARD_INFO_BOX 1007
#define PELLITON_ID_CARD_INFO 1008
#define PELLITON_ID_STATUS_BOX 1015
#define PELLITON_ID_PROGRESS 1017
#define PELLITON_ID_HIDDEN_LABEL 1020
#define PELLITON_ID_HIDDEN_LABEL2 1021
#define PELLITON_ID_PCSC_RADIO 1022
#define PELLITON_ID_ORVO_RADIO 1023
#define PELLITON_ID_COUNTER_BOX 1024

/* Captions and rectangles, in keyboard order. */
#define PELLITON_CANCEL_TEXT "Cancel"
#define PELLITON_CANCEL_RECT 289, 133, 78, 14
/* The height holds the closed box and its dropped-down list. */
#define PELLITON_READER_LIST_RECT 98, 22, 266, 64
#define PELLITON_PATH_BOX_RECT 21, 91, 319, 14
#define PELLITON_RELOAD_TEXT "PC/SC Reload"
#define PELLITON_RELOAD_RECT 273, 45, 90, 14
#define PELLITON_BROWSE_TEXT "..."
#define PELLITON_BROWSE_RECT 348, 91, 13, 14
#define PELLITON_DOWNLOAD_TEXT "Download"
#define PELLITON_DOWNLOAD_RECT 84, 134, 78, 14
#define PELLITON_CARD_INFO_BOX_RECT 7, 53, 333, 23
#define PELLITON_CARD_INFO_TEXT "Get Card Info"
#define PELLITON_CARD_INFO_RECT 186, 134, 78, 14
#define PELLITON_READER_FRAME_TEXT "Reader"
#define PELLITON_READER_FRAME_RECT 7, 7, 370, 61
#define PELLITON_STATUS_BOX_RECT 7, 156, 370, 46
#define PELLITON_PROGRESS_RECT 7, 208, 370, 14
#define PELLITON_HIDDEN_LABEL_RECT 41, 93, 336, 8
#define PELLITON_HIDDEN_LABEL2_RECT 11, 166, 336, 8
#define PELLITON_APP_FRAME_TEXT "Norvane App"
#define PELLITON_APP_FRAME_RECT 7, 78, 370, 36
#define PELLITON_PCSC_RADIO_TEXT "PC/SC Reader:"
#define PELLITON_PCSC_RADIO_RECT 19, 23, 68, 10
#define PELLITON_ORVO_RADIO_TEXT "Orvo Reader"
#define PELLITON_ORVO_RADIO_RECT 20, 45, 52, 10
#define PELLITON_COUNTER_LABEL_TEXT "Counter:"
#define PELLITON_COUNTER_LABEL_RECT 10, 135, 35, 13
#define PELLITON_COUNTER_BOX_RECT 46, 134, 25, 15

/* The about box. */
#define PELLITON_ABOUT_CAPTION "关于 Pelliton"
#define PELLITON_ABOUT_WIDTH 235
#define PELLITON_ABOUT_HEIGHT 55
#define PELLITON_ABOUT_ICON_RECT 11, 17, 20, 20
#define PELLITON_TOOL_TITLE "Norvane IC Upgrade Card Tool V33"
#define PELLITON_ABOUT_TITLE_RECT 40, 10, 172, 8
#define PELLITON_ABOUT_OK_TEXT "确定"
#define PELLITON_ABOUT_OK_RECT 178, 34, 50, 14

#endif
