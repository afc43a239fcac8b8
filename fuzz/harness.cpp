// The persistent-mode fuzz target. The checker's own source, compiled
// unchanged but for its entry (renamed manifest_check_main on its compile line,
// see fuzz/CMakeLists.txt), is run here once per input in an __AFL_LOOP: one
// process checks up to 10000 inputs before afl-fuzz starts a fresh one. Before
// each round afl-fuzz writes the input to MANIFEST_PATH (-f), and the checker
// reads it from there as it always does. The checker resets its own state at
// the start of each call, so nothing is needed between rounds; its reports go
// wherever afl-fuzz sends them. A fault shows as a crash or a hang.

int manifest_check_main(int argc, char** argv);

int main(int argc, char** argv) {
  int status = 0;
  while (__AFL_LOOP(10000)) {
    status = manifest_check_main(argc, argv);
  }
  return status;
}
