#ifndef VICTORY_ZOZIDAZODODUZUZ_KBHIT_H
#define VICTORY_ZOZIDAZODODUZUZ_KBHIT_H

// Key presses on the console without waiting for them.

/// The number of bytes that can be read from standard input (descriptor 0)
/// without blocking; 0 when none, or when the count cannot be obtained.
///
/// On its first call it switches a terminal on standard input out of
/// canonical (line) mode, so each key press is readable at once (echo stays
/// on), and makes the `stdin` stream unbuffered, so reading one character
/// takes exactly one byte from descriptor 0. Standard input that is not a
/// terminal (a pipe, a file) is left as it is. The terminal mode stays
/// changed until restoreKbhitTerminal(). Never blocks, never throws.
int _kbhit();

/// Puts back the terminal mode of standard input that _kbhit() changed;
/// nothing when it changed nothing (or it was put back already). For the
/// end of the process; _kbhit() does not change the mode again afterwards.
/// Never throws.
void restoreKbhitTerminal();

#endif  // VICTORY_ZOZIDAZODODUZUZ_KBHIT_H
