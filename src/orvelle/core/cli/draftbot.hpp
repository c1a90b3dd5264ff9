#pragma once
/// The draftbot command: a prompt in, a netlist from the generation service out.
///
///   orvelle draftbot "a ring resonator" --outpath ring.yaml
///
///   orvelle::Value netlist = orvelle::cli::call_websocket_client(prompt, url, "generic");

#include <string>

#include "orvelle/serve/draftbot.hpp"
#include "orvelle/value.hpp"

namespace orvelle::cli {

/// The service's endpoint when --url is not given.
inline constexpr const char* default_draftbot_url = "wss://draftbot.orvelle.dev/ws";

/// Runs the service client to completion on an event loop made for this one call and
/// returns the netlist; its failure (a serve::ServiceError) is thrown again here. Unless
/// `options` name another file, the key stored by the configure command is sent.
Value call_websocket_client(const std::string& prompt, const std::string& url,
                            const std::string& pdk_name, serve::ClientOptions options = {});

/// Asks the service at `url` for a netlist for `prompt` with the kit `pdk`, and writes it:
/// as YAML when `outpath` ends in ".yaml" or ".yml", else as compact JSON to `outpath`
/// ("stdout" for standard output). A file is replaced whole or not at all.
void draftbot(const std::string& prompt, const std::string& outpath, const std::string& pdk,
              const std::string& url);

}  // namespace orvelle::cli
