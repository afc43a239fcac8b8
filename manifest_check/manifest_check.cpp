// Post-build check of app.vrmanifest, the VR application manifest placed beside velkor.exe: read
// from MANIFEST_PATH, fixed when the checker is built, its rules are tested in order and the first
// that fails is the verdict. Each failure names the line its check stands on: never move a check.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>
#include "manifest_path.hpp"  // MANIFEST_PATH, written by the build for each configuration
// The exit status of the verdict once it is written, -1 before: see out_of_memory().
static int reported = -1;
[[noreturn]] static void out_of_memory();
static int report(int status, std::string_view lines);
static int not_found(const std::error_code& error);
static bool read_all(const std::filesystem::path& path, std::ifstream& file, std::string& text);
// Values are read as the library reads them, but for text from a value that is no string: that is
// no text, which no rule requires, so a value of another type fails its check and throws nothing.
template <typename T, typename = void>
struct reader : nlohmann::adl_serializer<T> {};
template <>
struct reader<std::string> : nlohmann::adl_serializer<std::string> {
  template <typename Json>
  static void from_json(const Json& value, std::string& text);
};
using json = nlohmann::basic_json<std::map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, double, std::allocator, reader>;
// One rule: if it does not hold, its report, a literal that needs no memory, is its text and line.
#define LINE_TEXT(line) #line
#define FAIL_AT(cond, line) "FAIL: " #cond " at line " LINE_TEXT(line) "\n"
#define CHECK(cond)                                         \
  do {                                                      \
    if (!(cond)) return report(1, FAIL_AT(cond, __LINE__)); \
  } while (false)
int main(int /*argc*/, char** /*argv*/) try {
  reported = -1;  // nothing written yet, also when a harness calls the entry again
  std::set_new_handler(out_of_memory);
  // MANIFEST_PATH is UTF-8 text, also on Windows, where a narrow path is read in the ANSI code page.
  const std::filesystem::path path = std::filesystem::u8path(MANIFEST_PATH);
  std::error_code error;  // set when the path cannot be examined (a link loop, say)
  if (!std::filesystem::exists(path, error)) return not_found(error);
  // A regular file is opened, and read as bytes, never in text mode; a directory, FIFO or device
  // is not. What is read is no more than the file's size when it was examined.
  std::ifstream in;
  std::string text;
  if (read_all(path, in, text)) return reported;  // reading failed, and was reported
  CHECK(in.good());
  // The whole file is parsed strictly: no comments, and only whitespace after the value. A NUL
  // byte outside a string ends the text, so what follows a complete value is never parsed.
  const json doc = json::parse(text, /*cb=*/nullptr, /*allow_exceptions=*/false,
                               /*ignore_comments=*/false);
  if (doc.is_discarded()) {  // any parse failure, an empty file included
    return report(1, "FAIL: app.vrmanifest is not valid JSON\n");
  }

  // Each check below reads the document without changing it. A member is looked up only after
  // the check of its presence, as the lookup of a missing member of a constant document is not
  // defined; a value of the wrong type fails its check. The first check that fails is the
  // verdict, and no later one is tested.

  // The document is an object whose source is the builtin one.
  CHECK(doc.contains("source"));
  CHECK(doc["source"].is_string());
  CHECK(doc["source"].get<std::string>() == "builtin");

  // It lists the applications; the first entry is the one checked.
  CHECK(doc.contains("applications"));
  CHECK(doc["applications"].is_array());
  CHECK(!doc["applications"].empty());
  // The entry names this application by its key,
  const json& app = doc["applications"][0];
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

// Writes a verdict, PASS lines to standard output and a FAIL report to standard error, composed
// whole before anything of it is written and written with one call, so that no failure can split
// a report or fuse two. Returns the exit status.
static int report(int status, std::string_view lines) {
  reported = status;
  (void)std::fwrite(lines.data(), 1, lines.size(), status == 0 ? stdout : stderr);
  return status;
}

// The report of a path with nothing at it, or that could not be examined (error says why).
static int not_found(const std::error_code& error) {
  if (error) {
    return report(
        1, "FAIL: manifest file not accessible at " MANIFEST_PATH ": " + error.message() + "\n");
  }
  return report(1, "FAIL: manifest file not found at " MANIFEST_PATH
                   "\n      Plan 03-02 must emit app.vrmanifest beside velkor.exe.\n");
}

// The new-handler: running out of memory ends the run at once, unwinding nothing, as freeing a
// part-built document would allocate again. A verdict already written stands (standard output
// is flushed, as _Exit does not); otherwise this is the report.
static void out_of_memory() {
  if (reported < 0) {
    (void)std::fputs("FAIL: app.vrmanifest could not be checked: std::bad_alloc\n", stderr);
    reported = 1;
  }
  (void)std::fflush(stdout);
  std::_Exit(reported);
}

// Opens the manifest if it is a regular file, and reads it whole into text: no more than the size
// it had when it was examined, so that a device or a growing file swapped in takes no more. It
// reads at most 1 GiB a call, as the Windows C runtime counts a read's bytes in an int. A file
// larger than a string can hold, or an open that failed for want of memory, is memory running
// out. Returns whether it reported a failed read; a file it did not open, or a folder swapped in
// after the look, is left failed for the open check to report.
static bool read_all(const std::filesystem::path& path, std::ifstream& file, std::string& text) {
  constexpr std::uintmax_t piece = std::uintmax_t{1} << 30;  // 1 GiB
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(path, error);
  const std::uintmax_t size = regular ? std::filesystem::file_size(path, error) : 0;
  if (regular && !error) {
    errno = 0;
    file.open(path, std::ios::binary);
    if (!file.is_open() && errno == ENOMEM) out_of_memory();  // the C library could not allocate
  }
  if (!file.is_open()) {
    file.setstate(std::ios::failbit);  // a stream never opened is still good()
    return false;
  }
  if (size > text.max_size()) out_of_memory();
  text.resize(static_cast<std::size_t>(size));
  std::uintmax_t got = 0;
  try {
    file.exceptions(std::ios::badbit);  // a failed read throws, carrying the system's reason
    while (got < size) {
      file.read(&text[got], static_cast<std::streamsize>(std::min(piece, size - got)));
      got += static_cast<std::uintmax_t>(file.gcount());
      if (!file) break;  // the file ended early: it shrank after it was examined
    }
  } catch (const std::ios_base::failure& failure) {
    if (failure.code() == std::errc::is_a_directory) return false;  // the stream stays failed
    report(1, "FAIL: app.vrmanifest could not be read: " + failure.code().message() + "\n");
    return true;
  }
  text.resize(static_cast<std::size_t>(got));
  file.clear();  // the end of the file is no failure
  return false;
}

template <typename Json>
void reader<std::string>::from_json(const Json& value, std::string& text) {
  const std::string* string = value.template get_ptr<const std::string*>();
  text = string != nullptr ? *string : std::string();
}

// The parse and the queries are those of nlohmann/json 3.11.2, whatever copy of it a build uses.
constexpr int json_least_minor = 11;
constexpr int json_least_patch = 2;
static_assert(NLOHMANN_JSON_VERSION_MAJOR == 3 &&
                  (NLOHMANN_JSON_VERSION_MINOR > json_least_minor ||
                   (NLOHMANN_JSON_VERSION_MINOR == json_least_minor &&
                    NLOHMANN_JSON_VERSION_PATCH >= json_least_patch)),
              "manifest_check needs nlohmann/json 3.11.2 or a later 3.x");
