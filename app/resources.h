// The service's resources, all in Japanese (0x0411): window title and class
// name, painted text, icons, the class menu and the context menu, the
// accelerators, the about box and the version block. The ids and texts are
// the single source for the Windows resource script, which includes this
// header (the resource compiler reads only the #define lines); the C++
// tables below describe the same resources to the program and are what a
// platform without resource sections loads.
//
// Texts are stored as the program uses them: 8-bit text in the Japanese
// ANSI code page (932). The half-width katakana are single bytes there.
#pragma once

// ---- ids -------------------------------------------------------------------
#define VESK_LANGUAGE 0x0411          // LANG_JAPANESE, SUBLANG_DEFAULT
#define VESK_CODE_PAGE_UNICODE 1200   // the version block's translation

#define IDS_APP_TITLE 103             // string: the window title
#define IDD_ABOUTBOX 103              // dialog: the about box
#define IDM_ABOUT 104                 // command: show the about box
#define IDM_EXIT 105                  // command: end the service
#define IDS_HELLO 106                 // string: the text the window paints
#define IDI_VESK 107                  // icon 32x32, 16 colours
#define IDI_SMALL 108                 // icon 16x16, 16 colours
#define IDC_VESK 109                  // string: class name; menu: class menu; accelerators
#define IDR_CONTEXT_MENU 129          // menu: the context menu

#define IDC_ABOUT_ICON 2              // about box controls
#define IDC_ABOUT_OK 1

// ---- texts (code page 932) -------------------------------------------------
#define VESK_TEXT_TITLE "VESK"
#define VESK_TEXT_CLASS "VESK"
#define VESK_TEXT_HELLO "Hello World!"
// ﾌｧｲﾙ(&F)
#define VESK_TEXT_MENU_FILE "\xcc\xa7\xb2\xd9(&F)"
// ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)
#define VESK_TEXT_MENU_EXIT "\xb1\xcc\xdf\xd8\xb9\xb0\xbc\xae\xdd\x82\xcc\x8f\x49\x97\xb9(&X)"
// ﾍﾙﾌﾟ(&H)
#define VESK_TEXT_MENU_HELP "\xcd\xd9\xcc\xdf(&H)"
// ﾊﾞｰｼﾞｮﾝ情報(&A) ...
#define VESK_TEXT_MENU_ABOUT "\xca\xde\xb0\xbc\xde\xae\xdd\x8f\xee\x95\xf1(&A) ..."
#define VESK_TEXT_CONTEXT_POPUP "EXIT"
#define VESK_TEXT_CONTEXT_EXIT "EXIT VESK"
// ﾊﾞｰｼﾞｮﾝ情報
#define VESK_TEXT_ABOUT_CAPTION "\xca\xde\xb0\xbc\xde\xae\xdd\x8f\xee\x95\xf1"
#define VESK_TEXT_ABOUT_VERSION "VESK Version 1.0"
// The second line of the about box carries the instrument maker's own
// notice, supplied with the maker's resources; empty until then.
#define VESK_TEXT_ABOUT_NOTICE ""
#define VESK_TEXT_ABOUT_OK "OK"
#define VESK_TEXT_ABOUT_FONT "System"
#define VESK_ABOUT_FONT_POINTS 8

// ---- version block ---------------------------------------------------------
#define VESK_FILE_VERSION 1, 1, 6, 0
#define VESK_FILE_VERSION_TEXT "1, 1, 6, 0"
#define VESK_PRODUCT_VERSION 8, 2, 0, 0
#define VESK_PRODUCT_VERSION_TEXT "8, 2, 0, 0"
#define VESK_FILE_DESCRIPTION "VESK"
#define VESK_INTERNAL_NAME "VESK"
#define VESK_ORIGINAL_FILENAME "VESK.exe"
#define VESK_VERSION_BLOCK_KEY "041104b0"   // language 0x0411, code page 1200
// CompanyName, ProductName and LegalCopyright are the instrument maker's
// own entries, supplied with the maker's resources.

#ifndef RC_INVOKED

#include <cstdint>

#include "desktop/ui.h"

namespace vesk::resources {

struct IconResource {
  int id;
  int width;
  int height;
  int colours;
};

inline constexpr IconResource kIcons[] = {
    {IDI_VESK, 32, 32, 16},   // class icon and about box icon
    {IDI_SMALL, 16, 16, 16},  // the class's small icon
};

inline constexpr plat::StringResource kStrings[] = {
    {IDS_APP_TITLE, VESK_TEXT_TITLE},
    {IDS_HELLO, VESK_TEXT_HELLO},
    {IDC_VESK, VESK_TEXT_CLASS},
};

// Menu 109, the class menu.
inline constexpr plat::MenuItem kFileItems[] = {{VESK_TEXT_MENU_EXIT, IDM_EXIT}};
inline constexpr plat::MenuItem kHelpItems[] = {{VESK_TEXT_MENU_ABOUT, IDM_ABOUT}};
inline constexpr plat::MenuPopup kClassMenuPopups[] = {
    {VESK_TEXT_MENU_FILE, kFileItems},
    {VESK_TEXT_MENU_HELP, kHelpItems},
};
// Menu 129, the context menu; only its first popup is ever shown.
inline constexpr plat::MenuItem kContextItems[] = {{VESK_TEXT_CONTEXT_EXIT, IDM_EXIT}};
inline constexpr plat::MenuPopup kContextMenuPopups[] = {{VESK_TEXT_CONTEXT_POPUP, kContextItems}};
inline constexpr plat::MenuResource kMenus[] = {
    {IDC_VESK, kClassMenuPopups},
    {IDR_CONTEXT_MENU, kContextMenuPopups},
};

// Accelerators 109: Alt with the characters "?" and "/" (character codes,
// not virtual keys) both show the about box.
inline constexpr plat::AcceleratorEntry kAcceleratorEntries[] = {
    {plat::kAcceleratorAlt, '?', IDM_ABOUT},
    {plat::kAcceleratorAlt, '/', IDM_ABOUT},
};
inline constexpr plat::AcceleratorResource kAccelerators[] = {{IDC_VESK, kAcceleratorEntries}};

// Dialog 103, the about box: 230 x 75 dialog units at 22, 17.
inline constexpr plat::DialogControl kAboutControls[] = {
    {plat::ControlKind::kIcon, nullptr, IDI_VESK, IDC_ABOUT_ICON, 14, 9, 16, 16},
    {plat::ControlKind::kStaticText, VESK_TEXT_ABOUT_VERSION, 0, -1, 49, 10, 119, 8},
    {plat::ControlKind::kStaticText, VESK_TEXT_ABOUT_NOTICE, 0, -1, 49, 20, 119, 8},
    {plat::ControlKind::kDefaultPushButton, VESK_TEXT_ABOUT_OK, 0, IDC_ABOUT_OK, 195, 6, 30, 11},
};
inline constexpr plat::DialogResource kDialogs[] = {
    {IDD_ABOUTBOX, VESK_TEXT_ABOUT_CAPTION, 22, 17, 230, 75, plat::kModalDialogStyle, VESK_TEXT_ABOUT_FONT,
     VESK_ABOUT_FONT_POINTS, kAboutControls},
};

inline constexpr plat::ResourceSection kSection = {VESK_LANGUAGE, kStrings, kMenus, kAccelerators, kDialogs};

struct VersionBlock {
  std::uint16_t fileVersion[4];
  std::uint16_t productVersion[4];
  const char* fileVersionText;
  const char* productVersionText;
  const char* fileDescription;
  const char* internalName;
  const char* originalFilename;
  std::uint16_t language;
  std::uint16_t codePage;
};

inline constexpr VersionBlock kVersion = {
    {VESK_FILE_VERSION},  {VESK_PRODUCT_VERSION}, VESK_FILE_VERSION_TEXT, VESK_PRODUCT_VERSION_TEXT,
    VESK_FILE_DESCRIPTION, VESK_INTERNAL_NAME,    VESK_ORIGINAL_FILENAME, VESK_LANGUAGE,
    VESK_CODE_PAGE_UNICODE,
};

}  // namespace vesk::resources

#endif  // RC_INVOKED
