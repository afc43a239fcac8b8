// The persistent-mode fuzz target: the checker's own source, compiled into this unit unchanged but
// for its entry, renamed so that the loop below can call it once per input. One process checks up
// to 10000 inputs before afl-fuzz starts a fresh one; before each, afl-fuzz writes the input to
// MANIFEST_PATH (-f), where the checker reads it as it always does. Its reports go wherever
// afl-fuzz sends them; a fault shows as a crash or a hang.

#define main manifest_check_main
#include "manifest_check.cpp"
#undef main

int main(int argc, char** argv) {
  int status = 0;
  while (__AFL_LOOP(10000)) {
    verdict_status = -1;  // no verdict of this input is written yet: see out_of_memory()
    status = manifest_check_main(argc, argv);
  }
  return status;
}
