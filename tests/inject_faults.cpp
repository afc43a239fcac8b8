// Preloaded into the checker (LD_PRELOAD; a build that links the C library as a shared library,
// or the emulator that runs a Windows build), it makes the C library fail as it does when memory
// runs out or a read goes wrong, and makes the manifest change under the checker:
// - FAIL_ALLOCATION=N fails the run's allocation number N (the first is 1): a null pointer and
//   errno ENOMEM. With ALLOCATION_COUNT naming a file, the number of allocations the run made is
//   written there as it exits, so that a runner can fail each in turn.
// - END_READS_AT=N: a read of the manifest ends at its byte N as at the end of the file, as a C++
//   library that reads with fread and never looks at ferror reports a read error.
// - REPORTED_SIZE=N: the manifest reports N bytes, whatever it holds, as a file system that
//   misreports a size would: to stat and fstat, and a seek to its end finds the end at N.
// - RENAME_AT_OPEN=SUFFIX: as the manifest is opened, the file of its name followed by SUFFIX,
//   where there is one, is first renamed over it, as a new version may replace the manifest
//   between the checker's look at the path and its open.
// - SHRINK_AT=N: as a read of the manifest reaches its byte N, the file is cut there.
// - GROW_AT=N (or "end") and GROW_BY=TEXT: as a read of the manifest reaches its byte N (or first
//   finds its end), TEXT is appended to the file.
// The manifest is the file named app.vrmanifest. The faults are made in the calls that the C++
// library makes (libstdc++: fopen64, lseek64, read, stat) and that the emulator makes for the
// program (Wine: stat, fstat, pread, read). Wine's server opens files for the program: a server
// started without this library (as the suite starts it) renames nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
ssize_t __read(int file, void* buffer, std::size_t count);
off_t __lseek(int file, off_t offset, int whence);
int __open(const char* name, int flags, ...);
FILE* _IO_fopen(const char* name, const char* mode);
}

namespace {

unsigned long made = 0;      // allocations so far
unsigned long failing = 0;   // the one that fails, 0 for none
unsigned long read_end = 0;  // where every read ends, 0 for nowhere
long reported_size = -1;     // the size the manifest reports, -1 for its own
const char* rename_suffix = nullptr;
unsigned long shrink_at = 0;  // where the file is cut, 0 for nowhere
long grow_at = -1;            // where it grows, -1 for nowhere, -2 at its end
const char* grown_by = "";
bool set_up = false;

unsigned long number(const char* name) {
  const char* text = std::getenv(name);
  return text == nullptr ? 0 : std::strtoul(text, nullptr, 10);
}

void set_up_once() {
  if (set_up) return;
  set_up = true;  // getenv and strtoul allocate nothing
  failing = number("FAIL_ALLOCATION");
  read_end = number("END_READS_AT");
  if (std::getenv("REPORTED_SIZE") != nullptr) {
    reported_size = static_cast<long>(number("REPORTED_SIZE"));
  }
  rename_suffix = std::getenv("RENAME_AT_OPEN");
  shrink_at = number("SHRINK_AT");
  if (const char* at = std::getenv("GROW_AT")) {
    grow_at = std::strcmp(at, "end") == 0 ? -2 : static_cast<long>(number("GROW_AT"));
    grown_by = std::getenv("GROW_BY") != nullptr ? std::getenv("GROW_BY") : "";
  }
}

bool fails() {
  set_up_once();
  if (++made != failing) return false;
  errno = ENOMEM;
  return true;
}

// Whether a name is the manifest's: its last part is app.vrmanifest.
bool is_manifest(const char* name) {
  static const char manifest[] = "/app.vrmanifest";
  const std::size_t length = std::strlen(name);
  return length >= sizeof manifest - 1 &&
         std::strcmp(name + length - (sizeof manifest - 1), manifest) == 0;
}

// The name of an open file, read from /proc/self/fd without allocating; "" if there is none.
struct open_name {
  char link[32] = "/proc/self/fd/";
  char name[4096] = "";
  explicit open_name(int file) {
    char digits[16];
    int count = 0;
    unsigned value = static_cast<unsigned>(file);
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    std::size_t at = std::strlen(link);
    while (count > 0) link[at++] = digits[--count];
    link[at] = '\0';
    const ssize_t length = readlink(link, name, sizeof name - 1);
    name[length > 0 ? length : 0] = '\0';
  }
};

bool is_manifest(int file) {
  return is_manifest(open_name(file).name);
}

void rename_over(const char* name) {
  set_up_once();
  if (rename_suffix == nullptr || !is_manifest(name)) return;
  char next[4096];
  if (std::strlen(name) + std::strlen(rename_suffix) >= sizeof next) return;
  std::strcpy(next, name);
  std::strcat(next, rename_suffix);
  (void)rename(next, name);  // nothing where there is no such file
}

void report_size(struct stat* status) {
  if (reported_size >= 0 && S_ISREG(status->st_mode)) status->st_size = reported_size;
}

void grow(int file) {
  const open_name name(file);
  const int writer = __open(name.name, O_WRONLY | O_APPEND);
  if (writer < 0) return;
  (void)write(writer, grown_by, std::strlen(grown_by));
  (void)close(writer);
  grow_at = -1;
}

// A read of the manifest from a position, made by the C library's own call, with the faults
// above: each stops at the position where a fault falls, and the fault is made as a read gets
// there.
template <typename Read>
ssize_t faulty_read(int file, off_t position, std::size_t count, Read real) {
  set_up_once();
  if ((read_end == 0 && shrink_at == 0 && grow_at == -1) || position < 0 || !is_manifest(file)) {
    return real(count);
  }
  const auto at = static_cast<unsigned long>(position);
  for (const unsigned long stop : {read_end, shrink_at, grow_at > 0 ? grow_at + 0UL : 0UL}) {
    if (stop != 0 && at < stop && count > stop - at) count = stop - at;
  }
  if (read_end != 0 && at >= read_end) return 0;  // the end of the file, errno untouched
  const ssize_t got = real(count);
  const unsigned long end = at + (got > 0 ? static_cast<unsigned long>(got) : 0);
  if (shrink_at != 0 && end == shrink_at) {
    (void)truncate(open_name(file).name, static_cast<off_t>(shrink_at));
    shrink_at = 0;
  }
  if ((grow_at > 0 && end == static_cast<unsigned long>(grow_at)) || (grow_at == -2 && got == 0)) {
    grow(file);
  }
  return got;
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

ssize_t read(int file, void* buffer, std::size_t count) {
  set_up_once();
  const bool faults = read_end != 0 || shrink_at != 0 || grow_at != -1;
  const off_t position = faults ? __lseek(file, 0, SEEK_CUR) : -1;
  return faulty_read(file, position, count,
                     [&](std::size_t wanted) { return __read(file, buffer, wanted); });
}
ssize_t pread64(int file, void* buffer, std::size_t count, off_t offset) {
  return faulty_read(file, offset, count, [&](std::size_t wanted) {
    return static_cast<ssize_t>(syscall(SYS_pread64, file, buffer, wanted, offset));
  });
}
ssize_t pread(int file, void* buffer, std::size_t count, off_t offset) {
  return pread64(file, buffer, count, offset);
}

off_t lseek64(int file, off_t offset, int whence) {
  set_up_once();
  if (whence == SEEK_END && reported_size >= 0 && is_manifest(file)) {
    return __lseek(file, reported_size + offset, SEEK_SET);
  }
  return __lseek(file, offset, whence);
}
off_t lseek(int file, off_t offset, int whence) {
  return lseek64(file, offset, whence);
}

int fstat64(int file, struct stat64* status) {
  const int result = static_cast<int>(syscall(SYS_fstat, file, status));
  set_up_once();
  if (result == 0 && reported_size >= 0 && is_manifest(file)) {
    report_size(reinterpret_cast<struct stat*>(status));
  }
  return result;
}
int fstat(int file, struct stat* status) {
  return fstat64(file, reinterpret_cast<struct stat64*>(status));
}
int stat64(const char* name, struct stat64* status) {
  const int result = static_cast<int>(syscall(SYS_newfstatat, AT_FDCWD, name, status, 0));
  set_up_once();
  if (result == 0 && is_manifest(name)) report_size(reinterpret_cast<struct stat*>(status));
  return result;
}
int stat(const char* name, struct stat* status) {
  return stat64(name, reinterpret_cast<struct stat64*>(status));
}

FILE* fopen64(const char* name, const char* mode) {
  rename_over(name);
  return _IO_fopen(name, mode);
}
FILE* fopen(const char* name, const char* mode) {
  return fopen64(name, mode);
}
int open64(const char* name, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int mode =
      (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, int) : 0;
  va_end(rest);
  rename_over(name);
  return __open(name, flags, mode);
}
int open(const char* name, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int mode =
      (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, int) : 0;
  va_end(rest);
  return open64(name, flags, mode);
}
}
