// Desktop key symbols (X11 keysyms, which GDK key values are) to Windows
// virtual-key codes. No GTK header is needed to call it.
#pragma once

// The virtual-key code of a key symbol, or 0 for a key the engine has no
// code for. Letters give 'A'-'Z' whatever their case, digits '0'-'9'.
int vk_of_keysym(unsigned keysym);
