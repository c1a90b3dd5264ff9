#include "orvelle/core/cli/draftbot.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include <exception>
#include <memory>
#include <optional>

#include "orvelle/core/cli/commands.hpp"
#include "orvelle/core/cli/configure.hpp"
#include "orvelle/core/shared.hpp"
#include "orvelle/settings.hpp"
#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"

namespace orvelle::cli {

namespace {

// The key configure stored. Without a home folder there is none, which is no error here:
// the service decides whether it wants one.
std::filesystem::path stored_configuration() {
  try {
    return configuration_folder() / "orvelle.toml";
  } catch (const std::runtime_error&) {
    return {};
  }
}

}  // namespace

Value call_websocket_client(const std::string& prompt, const std::string& url,
                            const std::string& pdk_name, serve::ClientOptions options) {
  if (options.api_key_file.empty()) options.api_key_file = stored_configuration();
  boost::asio::io_context loop;
  std::exception_ptr failure;
  std::optional<Value> netlist;
  boost::asio::co_spawn(loop, serve::websocket_client(prompt, url, pdk_name, std::move(options)),
                        [&](std::exception_ptr error, Value result) {
                          failure = error;
                          if (!error) netlist = std::move(result);
                        });
  loop.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*netlist);
}

void draftbot(const std::string& prompt, const std::string& outpath, const std::string& pdk,
              const std::string& url) {
  const Value netlist = call_websocket_client(prompt, url, pdk);
  if (outpath.ends_with(".yaml") || outpath.ends_with(".yml")) {
    // Made whole before the file is touched, so a failure leaves no partial file.
    const std::string text = to_yaml(netlist);
    write_file_atomic(outpath, text);
    return;
  }
  print_to_file(outpath, to_json(netlist));
}

void register_draftbot(CLI::App& app) {
  struct Arguments {
    std::string prompt;
    std::string outpath = "stdout";
    std::string pdk;
    std::string url = default_draftbot_url;
  };
  auto arguments = std::make_shared<Arguments>();
  // Read once, now: the kit sent is the one set when the command was registered.
  arguments->pdk = settings().pdk.name;
  CLI::App* command =
      app.add_subcommand("draftbot", "Ask the draftbot service for a netlist made from a prompt.");
  command->add_option("prompt", arguments->prompt, "What the netlist should be")->required();
  command
      ->add_option("--outpath", arguments->outpath,
                   "Where the netlist goes: a .yaml or .yml file gets YAML, any other file or "
                   "stdout gets JSON")
      ->capture_default_str();
  command->add_option("--pdk", arguments->pdk, "The process design kit the netlist is for")
      ->capture_default_str();
  command->add_option("--url", arguments->url, "The service's WebSocket endpoint")
      ->capture_default_str();
  command->callback([arguments] {
    draftbot(arguments->prompt, arguments->outpath, arguments->pdk, arguments->url);
  });
}

}  // namespace orvelle::cli
