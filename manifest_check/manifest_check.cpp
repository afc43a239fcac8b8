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
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>
#include "manifest_path.hpp"  // MANIFEST_PATH, written by the build for each configuration
[[noreturn]] static void out_of_memory();
static int report(int status, std::string_view lines);
static int report_path_failure(const std::error_code& error);
static std::optional<std::string> read_manifest(const std::filesystem::path& path,
                                                std::ifstream& file, std::string& text);
static int report_read_failure(const std::string& reason);
// The library's JSON type, but get<std::string>() of a value of another type gives "" where the
// library would throw: no rule requires "", so such a value fails its check and throws nothing.
template <typename T, typename = void>
struct text_or_empty : nlohmann::adl_serializer<T> {};
template <>
struct text_or_empty<std::string> : nlohmann::adl_serializer<std::string> {
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
  std::ifstream in;  // opened on a regular file only, and read as bytes: see read_manifest()
  std::string text;
  if (const auto failure = read_manifest(path, in, text)) return report_read_failure(*failure);
  CHECK(in.good());
  // The whole file is parsed strictly: no comments, and only whitespace after the value. A NUL
  // byte outside a string ends the text, so what follows a complete value is never parsed.
  const manifest_json doc = manifest_json::parse(text, /*cb=*/nullptr, /*allow_exceptions=*/false,
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

// The exit status of the verdict once it is written, -1 before: see out_of_memory().
static int verdict_status = -1;

// Each stream writes a report in one piece: it is fully buffered, on a terminal too, in a buffer
// larger than any report (the path is at most half of it), and flushed once the report is in it.
constexpr std::size_t stream_buffer_size = 65536;
static_assert(sizeof(MANIFEST_PATH) <= stream_buffer_size / 2, "MANIFEST_PATH is over 32 KiB");
static char output_buffer[stream_buffer_size];
static char error_buffer[stream_buffer_size];
static const bool streams_buffered =
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer) == 0 &&
    std::setvbuf(stderr, error_buffer, _IOFBF, sizeof error_buffer) == 0;

// Writes a verdict, PASS lines to standard output and a FAIL report to standard error, composed
// whole before anything of it is written, so that no failure can split a report or fuse two.
// Returns the exit status, which is the verdict also when the report cannot be written.
static int report(int status, std::string_view lines) {
  (void)build_without_edit_and_continue_ZI_so_that_reports_carry_their_check_lines<__LINE__>{};
  verdict_status = status;
  std::FILE* const stream = status == 0 ? stdout : stderr;
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

// The report of a file that could not be read to its end.
static int report_read_failure(const std::string& reason) {
  return report(1, "FAIL: app.vrmanifest could not be read: " + reason + "\n");
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

// Opens the manifest if it is a regular file, and reads it whole into text: no more than the size
// it had when it was examined, so that a device or a growing file swapped in adds nothing. Each
// read takes at most 1 GiB, as the Windows C runtime counts a read's bytes in an int. A file
// larger than a string can hold, or an open that failed for want of memory, is memory running
// out. A file it did not open, or a folder swapped in after the look, is left failed for the open
// check to report. Returns why reading failed, if it did: a read that ends before the examined
// size, while the file has not shrunk, failed, whether or not the C++ library said so (one that
// reads with fread, as MSVC's does, sees a read error as the end of the file).
static std::optional<std::string> read_manifest(const std::filesystem::path& path,
                                                std::ifstream& file, std::string& text) {
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
    return {};
  }
  if (size > text.max_size()) out_of_memory();
  text.resize(static_cast<std::size_t>(size));
  std::uintmax_t got = 0;
  try {
    file.exceptions(std::ios::badbit);  // a failed read throws, carrying the system's reason
    while (got < size && file) {
      const std::uintmax_t wanted = size - got < piece ? size - got : piece;
      file.read(&text[got], static_cast<std::streamsize>(wanted));
      got += static_cast<std::uintmax_t>(file.gcount());
    }
  } catch (const std::ios_base::failure& failure) {
    if (failure.code() == std::errc::is_a_directory) return {};  // the stream stays failed
    return failure.code().message();
  }
  if (got < size) {  // the read ended early: a failure, unless the file is now shorter
    const std::uintmax_t now = std::filesystem::file_size(path, error);
    if (error || now >= size) return "the read ended short of the file's size";
  }
  text.resize(static_cast<std::size_t>(got));
  file.clear();  // the end of the file is no failure
  return {};
}

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
