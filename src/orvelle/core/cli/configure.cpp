#include "orvelle/core/cli/configure.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "orvelle/core/cli/app.hpp"
#include "orvelle/core/cli/commands.hpp"
#include "orvelle/core/shared.hpp"
#include "orvelle/value.hpp"

namespace orvelle::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFileName = "orvelle.toml";
constexpr mode_t kFileMode = 0600;  // the file holds a secret
constexpr mode_t kFolderMode = 0700;

std::string_view trim(std::string_view text) {
  constexpr std::string_view white_space = " \t\n\v\f\r";
  const auto first = text.find_first_not_of(white_space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(white_space) - first + 1);
}

std::string lower_case(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::vector<std::string_view> split_key(std::string_view full_key) {
  std::vector<std::string_view> parts;
  for (std::size_t dot; (dot = full_key.find('.')) != std::string_view::npos;) {
    parts.push_back(full_key.substr(0, dot));
    full_key.remove_prefix(dot + 1);
  }
  parts.push_back(full_key);
  return parts;
}

// Text as it is, any other value in its TOML form (12, 1.5, true, [ 1, 2 ]).
std::string text_form(const toml::node& value) {
  if (const auto* text = value.as_string()) return text->get();
  std::ostringstream form;
  form << toml::node_view<const toml::node>{value};
  return form.str();
}

// Long values are cut to 7 characters and "..." past 9. Characters, not bytes, so a cut
// never splits a UTF-8 sequence.
std::string shown_value(std::string text) {
  std::size_t characters = 0;
  std::size_t cut = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters == 7) cut = i;
    ++characters;
  }
  if (characters <= 9) return text;
  text.resize(cut);
  return text + "...";
}

bool consents(std::istream& in) {
  std::string answer;
  // The end of input counts as a refusal: nobody said yes.
  if (!std::getline(in, answer)) return false;
  answer = lower_case(trim(answer));
  return answer.empty() || answer == "y" || answer == "yes";
}

[[noreturn]] void report_unparsable(const fs::path& path, std::ostream& out) {
  out << "could not parse " << path.string() << ". Please delete or fix it manually.\n";
  exit_with(1);
}

toml::table read_configuration(const fs::path& path, std::ostream& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) report_unparsable(path, out);
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  if (file.bad()) report_unparsable(path, out);
  try {
    return toml::parse(text, path.string());
  } catch (const toml::parse_error&) {
    report_unparsable(path, out);
  }
}

// The table tool.orvelle.api, made where missing; null when a value on the way is no table.
toml::table* api_table(toml::table& config) {
  toml::table* table = &config;
  for (const std::string_view name : {"tool", "orvelle", "api"}) {
    table = table->emplace<toml::table>(name).first->second.as_table();
    if (table == nullptr) return nullptr;
  }
  return table;
}

// Flat table headers and double-quoted strings: the layout people write by hand.
std::string to_toml(const toml::table& config) {
  std::ostringstream text;
  text << toml::toml_formatter{config, toml::toml_formatter::default_flags &
                                           ~toml::format_flags::indent_sub_tables &
                                           ~toml::format_flags::allow_literal_strings};
  text << '\n';
  return text.str();
}

[[noreturn]] void fail_to_create(const fs::path& folder, int error) {
  throw std::system_error(error, std::generic_category(), "cannot create " + folder.string());
}

// Creates `folder` and its missing parents, each private to the user; an existing folder
// keeps its mode.
void create_private_folder(const fs::path& folder, bool parent_made = false) {
  if (::mkdir(folder.c_str(), kFolderMode) == 0) {
    // The umask may have taken bits the owner needs.
    if (::chmod(folder.c_str(), kFolderMode) != 0) fail_to_create(folder, errno);
    return;
  }
  const int error = errno;
  if (error == EEXIST) {
    std::error_code ignored;
    if (fs::is_directory(folder, ignored)) return;
  }
  const fs::path parent = folder.parent_path();
  if (error == ENOENT && !parent_made && !parent.empty() && parent != folder) {
    create_private_folder(parent);
    return create_private_folder(folder, true);
  }
  fail_to_create(folder, error);
}

void require_text(std::string_view value, std::string_view option) {
  if (!is_valid_utf8(value)) throw std::runtime_error(std::string(option) + " is not UTF-8 text");
}

std::string home_folder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && *found->pw_dir != '\0') {
    return found->pw_dir;
  }
  throw std::runtime_error(
      "cannot find the home folder: HOME is not set and the user "
      "database has no entry for this user");
}

}  // namespace

void check_existing(const toml::table& config, std::string_view full_key, bool force,
                    std::istream& in, std::ostream& out) {
  if (force) return;
  const std::vector<std::string_view> parts = split_key(full_key);
  const toml::table* table = &config;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    table = table->get_as<toml::table>(parts[i]);
    if (table == nullptr) {
      out << "Error: The key '" << full_key << "' does not exist in the configuration.\n";
      exit_with(1);
    }
  }
  const toml::node* stored = table->get(parts.back());
  if (stored == nullptr) return;
  out << "An existing configuration for '" << full_key << "' was found: '"
      << shown_value(text_form(*stored))
      << "'.\nDo you want to overwrite it? Choosing 'n' (no) will cancel all changes. [Y/n]: "
      << std::flush;
  if (consents(in)) return;
  out << "Aborted.\n";
  exit_with(0);
}

void configure(const ConfigureOptions& options, const fs::path& folder, const Console& console) {
  // The file is TOML, which holds UTF-8 only; anything else would be stored mangled.
  require_text(options.api_key, "--api-key");
  require_text(options.organization, "--organization");
  create_private_folder(folder);
  const fs::path path = folder / kFileName;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) {
    console.err << path.string() << " is a directory and should be a file.\n";
    exit_with(2);
  }
  toml::table config;
  if (fs::is_regular_file(status)) config = read_configuration(path, console.out);
  toml::table* api = api_table(config);
  if (api == nullptr) report_unparsable(path, console.out);
  // Both prompts come before the one write, so declining either changes nothing.
  if (!options.api_key.empty()) {
    check_existing(config, "tool.orvelle.api.key", options.force, console.in, console.out);
    api->insert_or_assign("key", std::string(trim(options.api_key)));
  }
  if (!options.organization.empty()) {
    check_existing(config, "tool.orvelle.api.nickname", options.force, console.in, console.out);
    api->insert_or_assign("nickname", std::string(trim(options.organization)));
  }
  write_file_atomic(path, to_toml(config), {.mode = kFileMode});
}

std::filesystem::path configuration_folder() {
  std::string home = home_folder();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return fs::path(home) / ".kelvara";
}

void register_configure(CLI::App& app) {
  auto options = std::make_shared<ConfigureOptions>();
  CLI::App* command = app.add_subcommand(
      "configure", "Store the service API key and nickname in ~/.kelvara/orvelle.toml.");
  command->add_option("--api-key", options->api_key, "API key to store");
  command->add_option("--organization", options->organization, "Nickname to store");
  command->add_flag("--force", options->force, "Overwrite stored values without asking");
  command->callback([options] {
    configure(*options, configuration_folder(), {std::cin, std::cout, std::cerr});
  });
}

}  // namespace orvelle::cli
