// Preloaded into the checker (LD_PRELOAD; a build that links the C library as a shared library),
// it fails one allocation of the run, the one numbered FAIL_ALLOCATION (the first is 1), as the
// C library does when memory runs out: a null pointer, and errno ENOMEM. Every other allocation
// goes to the C library's own allocator. With ALLOCATION_COUNT naming a file, the number of
// allocations the run made is written there as it exits, so that a runner can fail each in turn.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

unsigned long made = 0;     // allocations so far
unsigned long failing = 0;  // the one that fails, 0 for none
bool set_up = false;

bool fails() {
  if (!set_up) {  // getenv and strtoul allocate nothing
    set_up = true;
    if (const char* number = std::getenv("FAIL_ALLOCATION")) {
      failing = std::strtoul(number, nullptr, 10);
    }
  }
  if (++made != failing) return false;
  errno = ENOMEM;
  return true;
}

// Writes the count with system calls alone: the C library's streams would allocate.
__attribute__((destructor)) void write_count() {
  const char* name = std::getenv("ALLOCATION_COUNT");
  if (name == nullptr) return;
  char digits[24];
  char* end = digits + sizeof digits;
  char* at = end;
  unsigned long left = made;
  do {
    *--at = static_cast<char>('0' + left % 10);
    left /= 10;
  } while (left != 0);
  const int file = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0) return;
  (void)write(file, at, static_cast<std::size_t>(end - at));
  (void)close(file);
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  return fails() ? nullptr : __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  return fails() ? nullptr : __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  return fails() ? nullptr : __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  return fails() ? nullptr : __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return fails() ? nullptr : __libc_memalign(alignment, size);
}
int posix_memalign(void** pointer, std::size_t alignment, std::size_t size) {
  if (fails()) return ENOMEM;
  *pointer = __libc_memalign(alignment, size);
  return *pointer == nullptr ? ENOMEM : 0;
}
}
