// The recursive netlist's schema, applied by valijson: the published file itself is built
// into the program, so the checker and the file cannot disagree. valijson reads draft 7; the
// schema keeps to the keywords that mean the same in draft 7 and in 2020-12.

#include <nlohmann/json.hpp>
#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>

#include <algorithm>
#include <memory>

#include "orvelle/core/check/detail.hpp"

namespace orvelle::check::detail {

namespace {

nlohmann::json to_nlohmann(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::null:
      return nullptr;
    case Value::Kind::boolean:
      return value.as_bool();
    case Value::Kind::integer:
      return value.as_int();
    case Value::Kind::floating:
      return value.as_float();
    case Value::Kind::text:
      return std::string(value.as_string());
    case Value::Kind::list: {
      nlohmann::json list = nlohmann::json::array();
      for (const Value& item : value.as_list()) list.push_back(to_nlohmann(item));
      return list;
    }
    case Value::Kind::map: {
      nlohmann::json map = nlohmann::json::object();
      for (const auto& [key, item] : value.as_map()) map[key.str()] = to_nlohmann(item);
      return map;
    }
  }
  return nullptr;
}

const valijson::Schema& schema() {
  static const std::unique_ptr<const valijson::Schema> parsed = [] {
    const nlohmann::json text = nlohmann::json::parse(recursive_netlist_schema());
    auto result = std::make_unique<valijson::Schema>();
    valijson::SchemaParser parser(valijson::SchemaParser::kDraft7);
    parser.populateSchema(valijson::adapters::NlohmannJsonAdapter(text), *result);
    return result;
  }();
  return *parsed;
}

// The keys from the root, from valijson's context ("<root>", "[key]", "[0]"...).
std::vector<std::string> keys_of(const std::vector<std::string>& context) {
  std::vector<std::string> keys;
  for (std::size_t i = 1; i < context.size(); ++i) {
    const std::string& part = context[i];
    keys.push_back(part.size() >= 2 ? part.substr(1, part.size() - 2) : part);
  }
  return keys;
}

const Value* value_at(const Value& document, const std::vector<std::string>& keys) {
  const Value* at = &document;
  for (const std::string& key : keys) {
    if (const Map* map = at->get_if<Map>()) {
      const auto found = map->find(key);
      if (found == map->end()) return nullptr;
      at = &found->second;
    } else if (const List* list = at->get_if<List>()) {
      const std::size_t index = std::stoul(key);
      if (index >= list->size()) return nullptr;
      at = &(*list)[index];
    } else {
      return nullptr;
    }
  }
  return at;
}

// Where each key stands in the document, so violations come in the document's order
// (valijson walks objects in sorted key order).
std::vector<std::size_t> positions(const Value& document, const std::vector<std::string>& keys) {
  std::vector<std::size_t> result;
  const Value* at = &document;
  for (const std::string& key : keys) {
    std::size_t position = 0;
    const Value* next = nullptr;
    if (const Map* map = at != nullptr ? at->get_if<Map>() : nullptr) {
      const auto found = map->find(key);
      position = static_cast<std::size_t>(found - map->begin());
      if (found != map->end()) next = &found->second;
    } else if (const List* list = at != nullptr ? at->get_if<List>() : nullptr) {
      position = std::stoul(key);
      if (position < list->size()) next = &(*list)[position];
    }
    result.push_back(position);
    at = next;
  }
  return result;
}

bool starts_with(const std::string& text, std::string_view prefix) {
  return text.starts_with(prefix);
}

// valijson's words, made plainer where they are about this schema's own rules.
std::string plain_message(const std::string& description, const std::vector<std::string>& keys,
                          const Value* value) {
  constexpr std::string_view kExtraKey =
      "Object contains a property that could not be validated using 'properties' or "
      "'additionalProperties' constraints: ";
  constexpr std::string_view kMissing = "Missing required property ";
  if (starts_with(description, kExtraKey)) {
    std::string key = description.substr(kExtraKey.size());
    if (key.ends_with('.')) key.pop_back();
    const bool in_port_map = keys.size() == 2 && (keys[1] == "connections" || keys[1] == "ports");
    if (in_port_map && keys[1] == "connections") {
      return "key " + key + " is not an instance port (instance,port)";
    }
    if (in_port_map) return "a port needs a name";
    return "key " + key + " is not allowed here";
  }
  if (starts_with(description, kMissing)) {
    std::string key = description.substr(kMissing.size());
    if (key.ends_with('.')) key.pop_back();
    return "missing key " + key;
  }
  if (value != nullptr && description.find("'type' constraint") != std::string::npos) {
    return "a value of kind " + std::string(kind_name(value->kind())) + " is not allowed here";
  }
  if (value != nullptr && value->is_string() && value->as_string().empty() &&
      description.find("no fewer than") != std::string::npos) {
    return "the text must not be empty";
  }
  if (value != nullptr && value->is_string() &&
      description.find("'pattern' constraint") != std::string::npos) {
    return "'" + std::string(value->as_string()) + "' is not an instance port (instance,port)";
  }
  return description;
}

struct Located {
  std::vector<std::size_t> order;
  SchemaViolation violation;
};

}  // namespace

std::vector<SchemaViolation> schema_violations(const Value& document) {
  const nlohmann::json json = to_nlohmann(document);
  valijson::Validator validator;
  valijson::ValidationResults results;
  if (validator.validate(schema(), valijson::adapters::NlohmannJsonAdapter(json), &results)) {
    return {};
  }
  // valijson adds a summary ("Failed to validate against ...") at each level above a
  // failure; the failures themselves say more.
  std::vector<Located> failures;
  std::vector<Located> summaries;
  valijson::ValidationResults::Error error;
  while (results.popError(error)) {
    const std::vector<std::string> keys = keys_of(error.context);
    std::string path;
    for (const auto& key : keys) path += json_pointer({key});
    Located located{positions(document, keys),
                    {path, plain_message(error.description, keys, value_at(document, keys))}};
    (starts_with(error.description, "Failed to validate") ? summaries : failures)
        .push_back(std::move(located));
  }
  if (failures.empty()) failures = std::move(summaries);
  std::stable_sort(failures.begin(), failures.end(),
                   [](const Located& a, const Located& b) { return a.order < b.order; });
  std::vector<SchemaViolation> violations;
  for (Located& failure : failures) violations.push_back(std::move(failure.violation));
  return violations;
}

}  // namespace orvelle::check::detail
