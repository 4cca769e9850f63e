// Numbers of the settings dialogs' templates, controls and strings, shared by the resource scripts
// and the code. Plain #defines: windres reads this file too.
#pragma once

// Templates: the frame (tab control and buttons) and one child page per tab.
#define IDD_FRAME 100
#define IDD_PAGE_IMAGE 101
#define IDD_PAGE_GRAY 102
#define IDD_PAGE_ANALOG 103
#define IDD_PAGE_CAMERA 104

// Frame.
#define IDC_TAB 1000
#define IDC_APPLY 1001
#define IDC_DEFAULT 1002

// A value triple takes four numbers from its base: label, trackbar, edit box, up-down control.
#define TRIPLE_LABEL 0
#define TRIPLE_TRACKBAR 1
#define TRIPLE_EDIT 2
#define TRIPLE_UPDOWN 3

// Image filter page.
#define IDC_BRIGHTNESS 1100
#define IDC_CONTRAST 1110
#define IDC_HUE 1120
#define IDC_SATURATION 1130
#define IDC_SHARPNESS 1140
#define IDC_RED_GAIN 1150
#define IDC_GREEN_GAIN 1160
#define IDC_BLUE_GAIN 1170
#define IDC_GAMMA 1180
#define IDC_WB_GROUP 1200
#define IDC_WB_ONCE 1201
#define IDC_WB_ALL 1202
#define IDC_BAYER_GROUP 1210
#define IDC_BAYER_0 1211  /* phases 0 to 3: IDC_BAYER_0 + phase */

// Gray filter page.
#define IDC_GRAY_GAIN_GROUP 1300
#define IDC_GRAY_GAIN_R 1310
#define IDC_GRAY_GAIN_G1 1320
#define IDC_GRAY_GAIN_G2 1330
#define IDC_GRAY_GAIN_B 1340
#define IDC_GRAY_OFFSET_GROUP 1350
#define IDC_GRAY_OFFSET_R 1360
#define IDC_GRAY_OFFSET_G1 1370
#define IDC_GRAY_OFFSET_G2 1380
#define IDC_GRAY_OFFSET_B 1390
#define IDC_GRAY_MODE_GROUP 1400
#define IDC_GRAY_MODE_0 1401  /* gray modes 0 to 2: IDC_GRAY_MODE_0 + mode */
#define IDC_GRAY_AUTO_GROUP 1410
#define IDC_GRAY_ONCE 1411
#define IDC_GRAY_ALL 1412
#define IDC_GRAY_BAYER_GROUP 1420
#define IDC_GRAY_BAYER_0 1421

// Analog page.
#define IDC_GLOBAL_GAIN 1500
#define IDC_COLOR_GAIN_G1 1510
#define IDC_COLOR_GAIN_R 1520
#define IDC_COLOR_GAIN_B 1530
#define IDC_COLOR_GAIN_G2 1540
#define IDC_EXPOSURE 1550
#define IDC_EXPOSURE_MS 1556
#define IDC_BLACK_LEVEL 1560
#define IDC_AUTO_GROUP 1570
#define IDC_AUTO_GAIN 1571
#define IDC_AUTO_EXPOSURE 1572
#define IDC_MIRROR_V 1573
#define IDC_MIRROR_H 1574
#define IDC_PELTIER 1575
#define IDC_SHORT_EXPOSURE 1576
#define IDC_GAIN_MODE 1577
#define IDC_EXPOSURE_EX_LABEL 1580
#define IDC_EXPOSURE_EX 1581
#define IDC_EXPOSURE_UNIT 1582
#define IDC_EXPOSURE_RANGE 1583

// Stream format page.
#define IDC_COLOR_LABEL 1600
#define IDC_COLOR 1601
#define IDC_SIZE_LABEL 1602
#define IDC_SIZE_LIST 1603
#define IDC_SUBSAMPLE_LABEL 1604
#define IDC_SUBSAMPLE 1605
#define IDC_SIZE_GROUP 1610
#define IDC_H_TOTAL 1611
#define IDC_V_TOTAL 1612
#define IDC_H_EFFECTIVE 1613
#define IDC_V_EFFECTIVE 1614
#define IDC_H_START 1615
#define IDC_V_START 1616
#define IDC_SIZE_LABEL_0 1620  /* the six labels: IDC_SIZE_LABEL_0 + (edit - IDC_H_TOTAL) */
#define IDC_WAIT_LABEL 1630
#define IDC_WAIT_TIME 1631
#define IDC_WAIT_UNIT 1632
#define IDC_CLOCK_LABEL 1633
#define IDC_CLOCK 1634
#define IDC_NOTE 1635

// Strings.
#define IDS_CAPTION_CAMERA 1
#define IDS_CAPTION_ANALOG 2
#define IDS_CAPTION_IMAGE 3
#define IDS_TAB_IMAGE 4
#define IDS_TAB_GRAY 5
#define IDS_TAB_ANALOG 6
#define IDS_TAB_CAMERA 7
#define IDS_MONO8 8
#define IDS_MONO_FORMAT 9
#define IDS_COLOR24 10
#define IDS_COLOR32 11
#define IDS_COLOR48 12
#define IDS_COLOR64 13
#define IDS_SIZE_FORMAT 14
#define IDS_CUSTOM 15
#define IDS_SUB_FULL 16
#define IDS_SUB_BIN 17
#define IDS_CLOCK_NORMAL 18
#define IDS_CLOCK_HALF 19
#define IDS_CLOCK_HIGH_FORMAT 20
#define IDS_MSEC_FORMAT 21
#define IDS_RANGE_FORMAT 22
#define IDS_UNIT_NS 23
#define IDS_UNIT_US 24
#define IDS_UNIT_MS 25
#define IDS_UNIT_SEC 26
#define IDS_HIGH_GAIN 27
#define IDS_LOW_GAIN 28
