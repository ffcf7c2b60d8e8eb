// Key combinations as the Linux configuration file writes them: modifiers
// then an X key name, joined by '+' ("ctrl+alt+shift+F1", "Scroll_Lock"),
// read into the Windows settings' form (input/hotkeys.h) so one matcher
// serves both programs. No X here: the table is tested natively.
#pragma once

#include <cstdint>
#include <string>

// The Windows virtual-key code of the key an X key name names, in any case
// ("F1", "scroll_lock", "Prior", "KP_5", "bracketleft", "a"); 0 for a name
// not known.
uint32_t virtualKeyOfName(const std::string& name);

// Reads a combination: modifiers ctrl, alt, shift and super, then one key
// name; "none" is 0, the hotkey off. Null on success, else why not.
const char* parseCombination(const std::string& text, uint32_t* combination);
