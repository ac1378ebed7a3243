// Key symbols to virtual-key codes.
#include "platform/gtk/keys_gtk.h"

#include <gdk/gdkkeysyms.h>

#include "platform/ui.h"

int vk_of_keysym(unsigned keyval) {
  if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return static_cast<int>('A' + (keyval - GDK_KEY_a));
  if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return static_cast<int>('A' + (keyval - GDK_KEY_A));
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return static_cast<int>('0' + (keyval - GDK_KEY_0));
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F24) return static_cast<int>(ui::kVkF1 + (keyval - GDK_KEY_F1));
  if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return static_cast<int>(ui::kVkNumpad0 + (keyval - GDK_KEY_KP_0));
  switch (keyval) {
    case GDK_KEY_BackSpace: return ui::kVkBack;
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: return ui::kVkTab;
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: return ui::kVkReturn;
    case GDK_KEY_Shift_L: case GDK_KEY_Shift_R: return ui::kVkShift;
    case GDK_KEY_Control_L: case GDK_KEY_Control_R: return ui::kVkControl;
    case GDK_KEY_Alt_L: case GDK_KEY_Alt_R: case GDK_KEY_Meta_L: case GDK_KEY_Meta_R: return ui::kVkMenu;
    case GDK_KEY_Pause: return ui::kVkPause;
    case GDK_KEY_Escape: return ui::kVkEscape;
    case GDK_KEY_space: return ui::kVkSpace;
    case GDK_KEY_Page_Up: case GDK_KEY_KP_Page_Up: return ui::kVkPrior;
    case GDK_KEY_Page_Down: case GDK_KEY_KP_Page_Down: return ui::kVkNext;
    case GDK_KEY_End: case GDK_KEY_KP_End: return ui::kVkEnd;
    case GDK_KEY_Home: case GDK_KEY_KP_Home: return ui::kVkHome;
    case GDK_KEY_Left: case GDK_KEY_KP_Left: return ui::kVkLeft;
    case GDK_KEY_Up: case GDK_KEY_KP_Up: return ui::kVkUp;
    case GDK_KEY_Right: case GDK_KEY_KP_Right: return ui::kVkRight;
    case GDK_KEY_Down: case GDK_KEY_KP_Down: return ui::kVkDown;
    case GDK_KEY_Insert: case GDK_KEY_KP_Insert: return ui::kVkInsert;
    case GDK_KEY_Delete: case GDK_KEY_KP_Delete: return ui::kVkDelete;
    case GDK_KEY_KP_Multiply: return ui::kVkMultiply;
    case GDK_KEY_KP_Add: return ui::kVkAdd;
    case GDK_KEY_KP_Subtract: return ui::kVkSubtract;
    case GDK_KEY_KP_Decimal: return ui::kVkDecimal;
    case GDK_KEY_KP_Divide: return ui::kVkDivide;
    case GDK_KEY_semicolon: return 0xBA;
    case GDK_KEY_equal: return 0xBB;
    case GDK_KEY_comma: return 0xBC;
    case GDK_KEY_minus: return 0xBD;
    case GDK_KEY_period: return 0xBE;
    case GDK_KEY_slash: return 0xBF;
    case GDK_KEY_grave: return 0xC0;
    case GDK_KEY_bracketleft: return 0xDB;
    case GDK_KEY_backslash: return 0xDC;
    case GDK_KEY_bracketright: return 0xDD;
    case GDK_KEY_apostrophe: return 0xDE;
    default: return 0;
  }
}

