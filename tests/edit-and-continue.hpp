// Makes __LINE__ what MSVC's Edit and Continue (/ZI) makes it inside a function: a variable plus
// an offset, no constant. The checker must then refuse to compile, naming the cause.
extern long edit_and_continue_line;
#define __LINE__ (edit_and_continue_line + 1)
