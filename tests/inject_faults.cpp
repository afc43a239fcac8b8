// Preloaded into the checker (LD_PRELOAD; a build that links the C library as a shared library),
// it makes the C library fail as it does when memory runs out or a read goes wrong:
// - FAIL_ALLOCATION=N fails the run's allocation number N (the first is 1): a null pointer and
//   errno ENOMEM. With ALLOCATION_COUNT naming a file, the number of allocations the run made is
//   written there as it exits, so that a runner can fail each in turn.
// - END_READS_AT=N ends every read after the first N bytes read as the end of the file, as a C++
//   library that reads with fread and never looks at ferror reports a read error.
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
ssize_t __read(int file, void* buffer, std::size_t count);
}

namespace {

unsigned long made = 0;      // allocations so far
unsigned long failing = 0;   // the one that fails, 0 for none
unsigned long read_end = 0;  // bytes read before every read ends, 0 for no end
unsigned long bytes_read = 0;
bool set_up = false;

void set_up_once() {
  if (set_up) return;
  set_up = true;  // getenv and strtoul allocate nothing
  if (const char* number = std::getenv("FAIL_ALLOCATION")) {
    failing = std::strtoul(number, nullptr, 10);
  }
  if (const char* number = std::getenv("END_READS_AT")) {
    read_end = std::strtoul(number, nullptr, 10);
  }
}

bool fails() {
  set_up_once();
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
ssize_t read(int file, void* buffer, std::size_t count) {
  set_up_once();
  if (read_end == 0) return __read(file, buffer, count);
  if (bytes_read >= read_end) return 0;  // the end of the file, errno untouched
  const std::size_t left = read_end - bytes_read;
  const ssize_t got = __read(file, buffer, count < left ? count : left);
  if (got > 0) bytes_read += static_cast<unsigned long>(got);
  return got;
}
int posix_memalign(void** pointer, std::size_t alignment, std::size_t size) {
  if (fails()) return ENOMEM;
  *pointer = __libc_memalign(alignment, size);
  return *pointer == nullptr ? ENOMEM : 0;
}
}
