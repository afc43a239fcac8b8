// The floor of starting a process: a program that does nothing, linked
// statically so that it loads no shared library.
int main() {
  return 0;
}
