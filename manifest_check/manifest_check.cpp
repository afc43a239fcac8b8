// Post-build check of app.vrmanifest, the VR application manifest that the
// application's build places beside velkor.exe. The manifest is read from
// MANIFEST_PATH, fixed when the checker is built, and its rules are tested in
// order; the first that fails is the verdict. Each report of a failed check
// names the line the check stands on: never move a check.

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

// Whether a check's condition holds; reading a value of another type as a string fails it.
template <typename Condition>
static bool holds(const Condition& condition) {
  try {
    return condition();
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

// One rule: if it does not hold, print its text and line and fail the run.
#define CHECK(cond)                                                \
  do {                                                             \
    if (!holds([&] { return static_cast<bool>(cond); })) {         \
      std::cerr << "FAIL: " #cond " at line " << __LINE__ << "\n"; \
      return 1;                                                    \
    }                                                              \
  } while (false)

int main(int /*argc*/, char** /*argv*/) try {
  // MANIFEST_PATH is UTF-8 text, also on Windows, where a narrow path is read in the ANSI code page.
  const std::filesystem::path path = std::filesystem::u8path(MANIFEST_PATH);
  std::error_code error;  // set when the path cannot be examined (a link loop, say)
  if (!std::filesystem::exists(path, error)) {
    if (error) {
      std::cerr << "FAIL: manifest file not accessible at " << MANIFEST_PATH << ": "
                << error.message() << "\n";
      return 1;
    }
    std::cerr << "FAIL: manifest file not found at " << MANIFEST_PATH << "\n"
              << "      Plan 03-02 must emit app.vrmanifest beside velkor.exe.\n";
    return 1;
  }
  // A directory, FIFO or device is never read; a file is read as bytes, never in text mode.
  std::ifstream in;
  if (std::filesystem::is_regular_file(path, error)) in.open(path, std::ios::binary);
  if (!in.is_open()) in.setstate(std::ios::failbit);
  CHECK(in.good());
  // The whole file, read straight into one string of its size (and grown if the file grew
  // meanwhile), then parsed strictly: no comments, only whitespace after the value.
  const auto size = std::filesystem::file_size(path, error);
  std::string text(error ? 0 : static_cast<std::size_t>(size), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const nlohmann::json doc = nlohmann::json::parse(text, /*cb=*/nullptr, /*allow_exceptions=*/false,
                                                   /*ignore_comments=*/false);
  if (doc.is_discarded()) {  // any parse failure, an empty file included
    std::cerr << "FAIL: app.vrmanifest is not valid JSON\n";
    return 1;
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
  return 0;
} catch (const std::exception& e) {
  // Only running out of memory (reading or parsing) ends up here, as one report
  // and status 1. Memory that runs out while the library frees a document still
  // ends the process in the library, as its destructor may throw no exception.
  std::cerr << "FAIL: app.vrmanifest could not be checked: " << e.what() << "\n";
  return 1;
}
