// Post-build check of app.vrmanifest, the VR application manifest placed beside velkor.exe: read
// from MANIFEST_PATH, fixed when the checker is built, its rules are tested in order and the first
// that fails is the verdict. Each failure names the line its check stands on: never move a check.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>
#include "manifest_path.hpp"  // MANIFEST_PATH, written by the build for each configuration
// The exit status of the verdict once it is written, -1 before: see out_of_memory().
static int reported = -1;
[[noreturn]] static void out_of_memory();
static std::error_code read_all(std::ifstream& file, const std::filesystem::path& path,
                                std::string& text);
template <typename Condition>
static bool holds(const Condition& condition);
// One rule: if it does not hold, print its text and line and fail the run.
#define CHECK(cond)                                                \
  do {                                                             \
    if (!holds([&] { return static_cast<bool>(cond); })) {         \
      std::cerr << "FAIL: " #cond " at line " << __LINE__ << "\n"; \
      return reported = 1;                                         \
    }                                                              \
  } while (false)
int main(int /*argc*/, char** /*argv*/) try {
  reported = -1;  // nothing written yet, also when a harness calls the entry again
  std::set_new_handler(out_of_memory);
  // MANIFEST_PATH is UTF-8 text, also on Windows, where a narrow path is read in the ANSI code page.
  const std::filesystem::path path = std::filesystem::u8path(MANIFEST_PATH);
  std::error_code error;  // set when the path cannot be examined (a link loop, say)
  if (!std::filesystem::exists(path, error)) {
    if (error) {
      std::cerr << "FAIL: manifest file not accessible at " << MANIFEST_PATH << ": "
                << error.message() << "\n";
      return reported = 1;
    }
    std::cerr << "FAIL: manifest file not found at " << MANIFEST_PATH << "\n"
              << "      Plan 03-02 must emit app.vrmanifest beside velkor.exe.\n";
    return reported = 1;
  }
  // A directory, FIFO or device is never read; a file is read as bytes, never in text mode. A
  // stream never opened is still good(), so it is failed here for the check to report it.
  std::ifstream in;
  if (std::filesystem::is_regular_file(path, error)) in.open(path, std::ios::binary);
  if (!in.is_open()) in.setstate(std::ios::failbit);
  CHECK(in.good());
  // The whole file, in one string, then parsed strictly: no comments, only whitespace after the
  // value. A read that fails reports the system's reason.
  std::string text;
  if (const std::error_code failure = read_all(in, path, text)) {
    std::cerr << "FAIL: app.vrmanifest could not be read: " << failure.message() << "\n";
    return reported = 1;
  }
  const nlohmann::json doc = nlohmann::json::parse(text, /*cb=*/nullptr, /*allow_exceptions=*/false,
                                                   /*ignore_comments=*/false);
  if (doc.is_discarded()) {  // any parse failure, an empty file included
    std::cerr << "FAIL: app.vrmanifest is not valid JSON\n";
    return reported = 1;
  }
  // The document is an object whose source is the builtin one.
  CHECK(doc.contains("source"));
  CHECK(doc["source"].is_string());
  CHECK(doc["source"].get<std::string>() == "builtin");

  // It lists the applications; the first entry is the one checked.
  CHECK(doc.contains("applications"));
  CHECK(doc["applications"].is_array());
  CHECK(!doc["applications"].empty());
  // The entry names this application by its key,
  const nlohmann::json& app = doc["applications"][0];
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

  std::cout << "PASS: arguments field locked to string form per A2\n"
               "PASS: app.vrmanifest schema valid\n";
  return reported = 0;
} catch (const std::exception& e) {
  // No failure is known to end up here: each has its own report above.
  std::cerr << "FAIL: app.vrmanifest could not be checked: " << e.what() << "\n";
  return reported = 1;
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

// Reads the whole file into one string of its size, grown should the file grow meanwhile. It
// reads at most 1 GiB a call, as the Windows C runtime counts a read's bytes in an int. A file
// larger than a string can hold is memory running out. A failed read returns its reason.
static std::error_code read_all(std::ifstream& file, const std::filesystem::path& path,
                                std::string& text) {
  constexpr std::size_t piece = std::size_t{1} << 30;  // 1 GiB
  constexpr std::size_t least = std::size_t{1} << 16;  // the least a string grows by
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (!error && size > text.max_size()) out_of_memory();
  text.resize(error ? 0 : static_cast<std::size_t>(size));
  try {
    file.exceptions(std::ios::badbit);  // a failed read throws, carrying the system's reason
    std::size_t got = 0;
    while (true) {
      if (got == text.size()) {
        if (std::ifstream::traits_type::eq_int_type(file.peek(),
                                                    std::ifstream::traits_type::eof())) {
          break;
        }
        if (text.size() > text.max_size() - piece) out_of_memory();
        text.resize(text.size() + std::clamp(text.size(), least, piece));
      }
      file.read(&text[got], static_cast<std::streamsize>(std::min(piece, text.size() - got)));
      got += static_cast<std::size_t>(file.gcount());
      if (!file) break;  // the end of the file
    }
    text.resize(got);
  } catch (const std::ios_base::failure& failure) {
    return failure.code();
  }
  return {};
}

// Whether a check's condition holds; reading a value of another type as a string fails it.
template <typename Condition>
static bool holds(const Condition& condition) {
  try {
    return condition();
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

// The parse and the queries are those of nlohmann/json 3.11.2, whatever copy of it a build uses.
constexpr int json_least_minor = 11;
constexpr int json_least_patch = 2;
static_assert(NLOHMANN_JSON_VERSION_MAJOR == 3 &&
                  (NLOHMANN_JSON_VERSION_MINOR > json_least_minor ||
                   (NLOHMANN_JSON_VERSION_MINOR == json_least_minor &&
                    NLOHMANN_JSON_VERSION_PATCH >= json_least_patch)),
              "manifest_check needs nlohmann/json 3.11.2 or a later 3.x");
