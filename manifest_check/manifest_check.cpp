// Post-build check of app.vrmanifest, the VR application manifest beside velkor.exe, read from
// MANIFEST_PATH: its rules are tested in order, and a failure names its check's line: never move one.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <ios>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>
#include "manifest_path.hpp"  // MANIFEST_PATH, written by the build for each configuration
[[noreturn]] static void out_of_memory();
static int report(int status, std::string_view lines);
static int report_path_failure(const std::error_code& error);
struct manifest_read {  // what read_manifest() found: see there
  enum { read_to_its_end, not_opened, read_failed } outcome;
  std::string text;    // the file's bytes, from its start to its end
  std::string reason;  // why the read failed
};
static manifest_read read_manifest(const std::filesystem::path& path, std::ifstream& file);
template <typename T, typename = void>
struct text_or_empty : nlohmann::adl_serializer<T> {};  // the library's conversions of values,
template <>
struct text_or_empty<std::string> : nlohmann::adl_serializer<std::string> {  // but see from_json()
  template <typename Json>
  static void from_json(const Json& value, std::string& text);
};
using manifest_json = nlohmann::basic_json<std::map, std::vector, std::string, bool, std::int64_t,
                                           std::uint64_t, double, std::allocator, text_or_empty>;
// One rule: if it does not hold, its report, a literal that needs no memory, is its text and line.
#define LINE_TEXT(line) #line
#define FAIL_AT(cond, line) "FAIL: " #cond " at line " LINE_TEXT(line) "\n"
#define CHECK(cond)                                         \
  do {                                                      \
    if (!(cond)) return report(1, FAIL_AT(cond, __LINE__)); \
  } while (false)
int main(int /*argc*/, char** /*argv*/) try {
  std::set_new_handler(out_of_memory);
  const std::filesystem::path path = std::filesystem::u8path(MANIFEST_PATH);  // UTF-8 text
  if (std::error_code why; !std::filesystem::exists(path, why)) return report_path_failure(why);
  // The file at the path, opened if it is a regular file and read to its end: see read_manifest().
  std::ifstream in;  // left failed where no regular file was opened
  const auto [outcome, text, reason] = read_manifest(path, in);
  CHECK(in.good());
  if (outcome == manifest_read::read_failed) {
    return report(1, "FAIL: app.vrmanifest could not be read: " + reason + "\n");
  }
  // The whole file is parsed strictly: no comments, and only whitespace after the value; any
  // failure is invalid JSON, an empty file included. A NUL byte outside a string ends the text,
  // so what follows a complete value is never parsed.
  const manifest_json doc = manifest_json::parse(text, /*cb=*/nullptr, /*allow_exceptions=*/false,
                                                 /*ignore_comments=*/false);
  if (doc.is_discarded()) return report(1, "FAIL: app.vrmanifest is not valid JSON\n");
  // Each check below reads the document without changing it; the first that fails is the verdict.
  // A member is looked up only after the check of its presence (the lookup of a missing member of
  // a constant document is not defined), and a value of the wrong type fails its check.

  // The document is an object whose source is the builtin one.
  CHECK(doc.contains("source"));
  CHECK(doc["source"].is_string());
  CHECK(doc["source"].get<std::string>() == "builtin");

  // It lists the applications; the first entry is the one checked.
  CHECK(doc.contains("applications"));
  CHECK(doc["applications"].is_array());
  CHECK(!doc["applications"].empty());
  // The entry names this application by its key,
  const manifest_json& app = doc["applications"][0];
  CHECK(app.contains("app_key"));
  CHECK(app["app_key"].get<std::string>() == "corvantis.velkor");
  // is launched by running an executable,
  CHECK(app.contains("launch_type"));
  CHECK(app["launch_type"].get<std::string>() == "binary");
  // velkor.exe, given by its bare name beside the manifest,
  CHECK(app.contains("binary_path_windows"));
  CHECK(app["binary_path_windows"].get<std::string>() == "velkor.exe");
  // runs as a dashboard overlay,
  CHECK(app.contains("is_dashboard_overlay"));
  CHECK(app["is_dashboard_overlay"].is_boolean());
  CHECK(app["is_dashboard_overlay"].get<bool>() == true);

  // and is started with its argument string. The arguments are held as one
  // JSON string, never as an array of them, so the type is checked before the
  // value.
  CHECK(app.contains("arguments"));
  CHECK(app["arguments"].is_string());
  CHECK(app["arguments"].get<std::string>() == "--minimized");

  return report(0,
                "PASS: arguments field locked to string form per A2\n"
                "PASS: app.vrmanifest schema valid\n");
} catch (const std::exception& e) {
  // No failure is known to end up here: each has its own report above.
  return report(1, std::string("FAIL: app.vrmanifest could not be checked: ") + e.what() + "\n");
}

// A report of a failed check prints the line the check stands on, which needs __LINE__ to be that
// line. Under MSVC's Edit and Continue (/ZI) it is a variable inside a function, not a constant,
// and may be another number: such a build stops here, at a template named for the cause.
template <int line>
struct build_without_edit_and_continue_ZI_so_that_reports_carry_their_check_lines {};

// The verdict's exit status as soon as report() starts writing it, -1 before: see out_of_memory().
static int verdict_status = -1;

// Each stream writes a report in one piece: it is fully buffered, on a terminal too, in a buffer
// larger than any report (the path is at most half of it), and flushed once the report is in it.
constexpr std::size_t stream_buffer_size = 65536;
static_assert(sizeof(MANIFEST_PATH) <= stream_buffer_size / 2, "MANIFEST_PATH is over 32 KiB");
static char output_buffer[stream_buffer_size];
static char error_buffer[stream_buffer_size];

// Writes a verdict, PASS lines to standard output and a FAIL report to standard error, composed
// whole before anything of it is written, so that no failure can split a report or fuse two.
// Returns the exit status, which is the verdict also when the report cannot be written.
static int report(int status, std::string_view lines) {
  (void)build_without_edit_and_continue_ZI_so_that_reports_carry_their_check_lines<__LINE__>{};
  verdict_status = status;
  std::FILE* const stream = status == 0 ? stdout : stderr;
  // The buffer is set before the stream's first use, as a run writes one report at most (the
  // fuzz target's loop sets it again each time, which glibc allows: it flushes the stream first).
  (void)std::setvbuf(stream, status == 0 ? output_buffer : error_buffer, _IOFBF,
                     stream_buffer_size);
  (void)std::fwrite(lines.data(), 1, lines.size(), stream);
  (void)std::fflush(stream);
  return status;
}

// The report of a path that names nothing, or that could not be examined (error says why). The
// path's literal is UTF-8 (u8), of type char8_t where a build makes it so: its bytes are the text.
static int report_path_failure(const std::error_code& error) {
  const std::string path = reinterpret_cast<const char*>(MANIFEST_PATH);
  if (error) {
    return report(1,
                  "FAIL: manifest file not accessible at " + path + ": " + error.message() + "\n");
  }
  return report(1, "FAIL: manifest file not found at " + path +
                       "\n      Plan 03-02 must emit app.vrmanifest beside velkor.exe.\n");
}

// The new-handler: running out of memory ends the run at once, unwinding nothing, as freeing a
// part-built document would allocate again. A verdict already written stands; otherwise this is
// the report.
static void out_of_memory() {
  if (verdict_status < 0) {
    report(1, "FAIL: app.vrmanifest could not be checked: std::bad_alloc\n");
  }
  std::_Exit(verdict_status);
}

// The size of the opened file as its stream tells it, by seeking to its end, where it stays; 0
// where the stream cannot tell (it cannot seek).
static std::uintmax_t opened_size(std::ifstream& file) {
  const std::streamoff end = file.rdbuf()->pubseekoff(0, std::ios::end, std::ios::in);
  return end > 0 ? static_cast<std::uintmax_t>(end) : 0;
}

// Opens the manifest if it is a regular file (a FIFO would block the open), and reads it to its
// end. Once the file is open, all the read knows comes from the open stream, never from the path
// again: by then the path may name another file (a new version renamed over it, say).
// - The size the stream reports only sizes the buffer: the read goes on to the end of the file,
//   since a file system may report less than a file holds (files of /proc report 0 bytes). It goes
//   no further than 1 MiB past that size: a manifest is a few kilobytes, so one in a file that
//   reports 0 bytes is read whole, while an endless device swapped in after the look (/dev/zero
//   reports 0 bytes) costs no more than 1 MiB of memory and reading, and is a failed read.
// - A read that ends short of the size the stream reports once it has ended failed, whether or
//   not the C++ library said so (one that reads with fread, as MSVC's does, sees a read error as
//   the end of the file). So a file that shrank while it was read is judged on what was read, and
//   one that grew on all it held when the read reached its end; if it has grown further by the
//   time the read has ended, it was still being written, and the read failed.
// - Each read takes at most 1 GiB, as the Windows C runtime counts a read's bytes in an int. A file
//   larger than a string can hold, or an open that failed for want of memory, is memory running
//   out.
// Where no regular file was opened, or a folder swapped in after the look was, the stream is left
// failed, for the check of line 53 to report; otherwise it is left good.
static manifest_read read_manifest(const std::filesystem::path& path, std::ifstream& file) {
  constexpr std::uintmax_t piece = std::uintmax_t{1} << 30;      // 1 GiB
  constexpr std::uintmax_t past_size = std::uintmax_t{1} << 20;  // 1 MiB
  manifest_read read{manifest_read::not_opened, {}, {}};
  std::error_code error;
  if (std::filesystem::is_regular_file(path, error)) {
    errno = 0;
    file.open(path, std::ios::binary);
    if (!file.is_open() && errno == ENOMEM) out_of_memory();  // the C library could not allocate
  }
  if (!file.is_open()) {
    file.setstate(std::ios::failbit);  // a stream never opened is still good()
    return read;
  }
  std::string& text = read.text;
  std::uintmax_t got = 0;
  try {
    file.exceptions(std::ios::badbit);  // a failed read throws, carrying the system's reason
    // The first read comes before the size is asked: a folder fails it, where its size would be
    // no file's (a folder of ext4 ends at 2^63-1).
    (void)file.peek();
    const std::uintmax_t size = opened_size(file);
    file.seekg(0);
    if (size > text.max_size() - past_size - 1) out_of_memory();
    // One byte more than the size: a read that fills it has found more than the size.
    text.resize(static_cast<std::size_t>(size) + 1);
    while (file) {
      if (got == text.size()) {  // there is more than the size
        if (got > size + past_size) {
          file.clear();
          read.outcome = manifest_read::read_failed;
          read.reason = "the read ran on more than 1 MiB past the file's size";
          return read;
        }
        text.resize(static_cast<std::size_t>(size + past_size) + 1);
      }
      const std::uintmax_t room = text.size() - got;
      file.read(&text[got], static_cast<std::streamsize>(room < piece ? room : piece));
      got += static_cast<std::uintmax_t>(file.gcount());
    }
  } catch (const std::ios_base::failure& failure) {
    if (failure.code() == std::errc::is_a_directory) return read;  // the stream stays failed
    file.clear();
    read.outcome = manifest_read::read_failed;
    read.reason = failure.code().message();
    return read;
  }
  file.clear();  // the end of the file is no failure
  if (got < opened_size(file)) {
    read.outcome = manifest_read::read_failed;
    read.reason = "the read ended short of the file's size";
    return read;
  }
  text.resize(static_cast<std::size_t>(got));
  read.outcome = manifest_read::read_to_its_end;
  return read;
}

// The library's JSON type, but get<std::string>() of a value of another type gives "" where the
// library would throw: no rule requires "", so such a value fails its check and throws nothing.
template <typename Json>
void text_or_empty<std::string>::from_json(const Json& value, std::string& text) {
  const std::string* const string = value.template get_ptr<const std::string*>();
  text = string != nullptr ? *string : std::string();
}

// The parse and the queries need nlohmann/json 3.11.2 or a later 3.x, whatever copy a build uses.
constexpr int json_least_minor = 11;
constexpr int json_least_patch = 2;
static_assert(NLOHMANN_JSON_VERSION_MAJOR == 3 &&
                  (NLOHMANN_JSON_VERSION_MINOR > json_least_minor ||
                   (NLOHMANN_JSON_VERSION_MINOR == json_least_minor &&
                    NLOHMANN_JSON_VERSION_PATCH >= json_least_patch)),
              "manifest_check needs nlohmann/json 3.11.2 or a later 3.x");
