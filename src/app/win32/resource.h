#pragma once

// Identifiers of the native program's resources.
#define IDI_ORDANA 1
#define IDR_TITLE_JPG 101
#define IDR_TITLE_JPG_2X 102
#define IDR_ABOUT_JPG 103
#define IDR_ABOUT_JPG_2X 104
