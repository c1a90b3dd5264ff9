// The checker's entry: which kind of file, reading it, and the findings as text or JSON.

#include "orvelle/core/check/check.hpp"

#include <iostream>
#include <iterator>

#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"
#include "orvelle/core/check/detail.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace orvelle::check {

namespace {

Finding read_error(const std::string& file, std::size_t line, std::string message) {
  Finding finding;
  finding.file = file;
  finding.line = line;
  finding.check = "read-error";
  finding.message = std::move(message);
  return finding;
}

std::vector<Finding> check_dialect(std::string_view text, const std::string& file,
                                   const Map& kwargs) {
  detail::DialectSource source;
  try {
    source = detail::read_dialect(text, kwargs);
  } catch (const ParseError& error) {
    return {read_error(file, error.line(), error.what())};
  } catch (const std::invalid_argument& error) {  // a netlist the normaliser refuses
    return {read_error(file, 0, error.what())};
  }
  return detail::check_dialect_source(source, file);
}

// The subcircuit a schema violation lies in: the first key of its path.
std::string subcircuit_of(const std::string& path) {
  if (path.size() < 2) return {};
  const std::string_view escaped = std::string_view(path).substr(1, path.find('/', 1) - 1);
  std::string key;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    const bool escape = escaped[i] == '~' && i + 1 < escaped.size();
    key += escape ? (escaped[++i] == '1' ? '/' : '~') : escaped[i];
  }
  return key;
}

}  // namespace

std::string_view severity_name(Severity severity) noexcept {
  return severity == Severity::error ? "error" : "warning";
}

InputKind input_kind(std::string_view file_name) noexcept {
  if (file_name.ends_with(".yaml") || file_name.ends_with(".yml")) return InputKind::yaml;
  if (file_name.ends_with(".json")) return InputKind::json;
  return InputKind::dialect;
}

std::vector<Finding> check_schema(const Value& document, const std::string& file) {
  std::vector<Finding> findings;
  for (auto& violation : detail::schema_violations(document)) {
    Finding finding;
    finding.file = file;
    finding.subcircuit = subcircuit_of(violation.path);
    finding.path = std::move(violation.path);
    finding.check = "schema";
    finding.message = std::move(violation.message);
    findings.push_back(std::move(finding));
  }
  return findings;
}

std::vector<std::string> component_ports(const RecursiveNetlist& netlist,
                                         std::string_view component) {
  detail::Components components(netlist, detail::kit_ports, pdk::get_active_pdk().name);
  return components.resolve(component).ports;
}

std::vector<Finding> check_document(const Value& document, const std::string& file) {
  std::vector<Finding> findings = check_schema(document, file);
  if (!findings.empty()) return findings;  // the other checks rely on the schema's shape
  const RecursiveNetlist& netlist = document.as_map();
  detail::Components components(netlist, detail::kit_ports, pdk::get_active_pdk().name);
  detail::Report report(file);
  detail::check_connectivity(netlist, components, report);
  detail::check_hierarchy(netlist, report);
  return std::move(report).take();
}

std::vector<Finding> check_text(std::string_view text, const std::string& file, const Map& kwargs) {
  const InputKind kind = input_kind(file);
  if (kind == InputKind::dialect) return check_dialect(text, file, kwargs);
  Value document;
  try {
    document = kind == InputKind::json ? from_json(text) : from_yaml(text);
  } catch (const std::invalid_argument& error) {
    return {read_error(file, 0, error.what())};
  }
  return check_document(document, file);
}

std::vector<Finding> check_file(const std::string& path, const Map& kwargs) {
  if (path == "-") {
    const std::string text(std::istreambuf_iterator<char>(std::cin), {});
    return check_dialect(text, "<stdin>", kwargs);
  }
  std::string text;
  try {
    text = detail::read_file(path);
  } catch (const std::runtime_error& error) {
    return {read_error(path, 0, error.what())};
  }
  return check_text(text, path, kwargs);
}

std::string to_text(const Finding& finding) {
  std::string line = finding.file;
  if (finding.line > 0) {
    line += ':' + std::to_string(finding.line);
  } else if (!finding.path.empty()) {
    line += ':' + finding.path;
  }
  line += ": ";
  line += severity_name(finding.severity);
  line += ": " + finding.message + " [" + finding.check + "]";
  return line;
}

std::string to_json(const std::vector<Finding>& findings) {
  List list;
  list.reserve(findings.size());
  const auto text_or_null = [](const std::string& text) {
    return text.empty() ? Value() : Value(text);
  };
  for (const Finding& finding : findings) {
    Map entry;
    entry.emplace("file", finding.file);
    if (!finding.path.empty() || input_kind(finding.file) != InputKind::dialect) {
      entry.emplace("path", finding.path);
    } else {
      entry.emplace("line", finding.line > 0 ? Value(finding.line) : Value());
    }
    entry.emplace("severity", std::string(severity_name(finding.severity)));
    entry.emplace("check", finding.check);
    entry.emplace("subcircuit", text_or_null(finding.subcircuit));
    entry.emplace("message", finding.message);
    list.emplace_back(std::move(entry));
  }
  return orvelle::to_json(Value(std::move(list)));
}

}  // namespace orvelle::check
